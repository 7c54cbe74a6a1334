// Reading scripts: NOLT Script text into one item per line, and what the
// driver plays of it.

/**
 * A wait or rest line: its length in driver ticks and the tick where it starts.
 * @typedef {{line: number, kind: "wait" | "rest", ticks: number, startTick: number}} TimedItem
 */
/**
 * A note line; the key is 0 to 255, key 60 written "c.5".
 * @typedef {{line: number, kind: "note", ticks: number, startTick: number, key: number}} NoteItem
 */
/** @typedef {{line: number, kind: "ticks", ticks: number}} TicksItem a tick mark ("; Ticks N") */
/** @typedef {{line: number, kind: "bar", first: number, last: number}} BarItem a bar heading */
/** @typedef {{line: number, kind: "comment", text: string}} CommentItem */
/** @typedef {{line: number, kind: "end"}} EndItem */
/** @typedef {{line: number, kind: "total", ticks: number}} TotalItem the trailer's total */
/**
 * One line of a script as `parseScript` reads it.
 * @typedef {TimedItem | NoteItem | TicksItem | BarItem | CommentItem | EndItem | TotalItem} ScriptItem
 */
/**
 * A note to sound: a key and its start and end in seconds.
 * @typedef {{key: number, start: number, end: number}} VoiceNote
 */

// Note names by key modulo 12, as scripts write them: naturals a letter and
// ".", sharps a letter and "s".
const noteNames = ["c.", "cs", "d.", "ds", "e.", "f.", "fs", "g.", "gs", "a.", "as", "b."];
const noteIndex = Object.fromEntries(noteNames.map((name, i) => [name, i]));

/**
 * A key as a script names it: key 60 is "c.5".
 * @param {number} key 0 to 255
 */
export function noteName(key) {
  return `${noteNames[key % 12]}${Math.floor(key / 12)}`;
}
const timedLine = /^\t(wait|rest|[a-g][.s]\d+) (\d+)$/;
const number = (text) => Number.parseInt(text, 10);

/**
 * Reads a NOLT Script (LF or CR LF line ends) into one item per line, in
 * order; empty lines give none. Every item has `line` (from 1) and `kind`:
 * "wait", "rest" and "note" with `ticks` and `startTick` (the driver tick
 * where the line starts), notes also with `key` (0 to 255); "ticks" (a tick
 * mark, with `ticks`); "bar" (a heading, with `first` and `last`); "comment"
 * (with `text`); "end"; "total" (with `ticks`, the trailer's number).
 * Throws an Error naming the line of the first line that is none of these.
 * @param {string} text
 * @returns {{items: ScriptItem[]}}
 */
export function parseScript(text) {
  const lines = text.split(/\r?\n/);
  if (lines.at(-1) === "") {
    lines.pop();
  }
  const items = [];
  let tick = 0;
  lines.forEach((content, index) => {
    const line = index + 1;
    /** @type {(why: string) => never} */
    const fail = (why) => {
      throw new Error(`line ${line}: ${why}: ${JSON.stringify(content)}`);
    };
    if (content === "") {
      return;
    }
    if (content.startsWith(";")) {
      let m;
      if ((m = /^; Ticks (\d+)$/.exec(content))) {
        items.push({ line, kind: "ticks", ticks: number(m[1]) });
      } else if ((m = /^; ---- Bar (\d+) ----$/.exec(content))) {
        items.push({ line, kind: "bar", first: number(m[1]), last: number(m[1]) });
      } else if ((m = /^; ---- Bars (\d+) to (\d+) ----$/.exec(content))) {
        items.push({ line, kind: "bar", first: number(m[1]), last: number(m[2]) });
      } else if ((m = /^; Total Track Ticks : (\d+)$/.exec(content))) {
        items.push({ line, kind: "total", ticks: number(m[1]) });
      } else {
        items.push({ line, kind: "comment", text: content.replace(/^; ?/, "") });
      }
      return;
    }
    if (content === "\tend") {
      items.push({ line, kind: "end" });
      return;
    }
    const m = timedLine.exec(content);
    if (m === null) {
      fail("not a comment, timed line or end");
    }
    const ticks = number(m[2]);
    const item = { line, kind: m[1], ticks, startTick: tick };
    if (m[1] !== "wait" && m[1] !== "rest") {
      const name = m[1].slice(0, 2);
      const key =
        (name in noteIndex ? noteIndex[name] : fail("no such note")) + 12 * number(m[1].slice(2));
      if (key > 255) {
        fail("key above 255");
      }
      Object.assign(item, { kind: "note", key });
    }
    items.push(item);
    tick += ticks;
  });
  return { items };
}

/**
 * What the driver plays of one script (as `parseScript` reads it): its note
 * lines of more than 0 ticks, each exactly its ticks ÷ `frequency` seconds.
 * @param {readonly ScriptItem[]} items
 * @param {number} frequency driver ticks per second (above 0)
 * @returns {VoiceNote[]}
 */
export function playedNotes(items, frequency) {
  const notes = [];
  for (const item of items) {
    if (item.kind === "note" && item.ticks > 0) {
      const start = item.startTick / frequency;
      notes.push({ key: item.key, start, end: (item.startTick + item.ticks) / frequency });
    }
  }
  return notes;
}

// Script bytes as text: one character a byte, as scripts are written.
export const latin1 = new TextDecoder("latin1");
