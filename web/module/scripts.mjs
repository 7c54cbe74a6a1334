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

/**
 * A key as a script names it: key 60 is "c.5".
 * @param {number} key 0 to 255
 */
export function noteName(key) {
  return `${noteNames[key % 12]}${Math.floor(key / 12)}`;
}

// Character codes of the script grammar.
const TAB = 9;
const LF = 10;
const CR = 13;
const SPACE = 32;
const DOT = 46;
const ZERO = 48;
const SEMICOLON = 59;
const LOWER_A = 97;
const LOWER_G = 103;
const LOWER_S = 115;
const codesOf = (/** @type {string} */ text) => Array.from(text, (c) => c.charCodeAt(0));
const waitCodes = codesOf("wait ");
const restCodes = codesOf("rest ");
const endCodes = codesOf("\tend");

// Semitones above c by note letter (a to g) and accidental (natural, sharp);
// -1 where a script has no such name.
const semitones = new Int8Array(14).fill(-1);
noteNames.forEach((name, i) => {
  semitones[(name.charCodeAt(0) - LOWER_A) * 2 + (name[1] === "s" ? 1 : 0)] = i;
});

/**
 * Whether `codes` stand in `bytes` at `at`.
 * @param {Uint8Array} bytes
 * @param {number} at
 * @param {readonly number[]} codes
 */
function codesAt(bytes, at, codes) {
  for (let i = 0; i < codes.length; ++i) {
    if (bytes[at + i] !== codes[i]) {
      return false;
    }
  }
  return true;
}

// Where the digits from `at` end (`at` itself when there is none).
function digitsEnd(bytes, at, to) {
  while (at < to && bytes[at] >= ZERO && bytes[at] <= ZERO + 9) {
    ++at;
  }
  return at;
}

// The number the digits from..to write; past 2^53 a sum would round at each
// step, so long ones are read whole.
function digitsValue(bytes, from, to, textOf) {
  if (to - from > 15) {
    return Number.parseInt(textOf(from, to), 10);
  }
  let value = 0;
  for (let at = from; at < to; ++at) {
    value = value * 10 + bytes[at] - ZERO;
  }
  return value;
}

/**
 * Reads a script's lines in order, the one reader of the script grammar:
 * hands each wait, rest and note line to `timed` (its kind, its ticks, the
 * driver tick where it starts, the key of a note line or -1, its line number
 * from 1) and each comment or end line to `other` (where its text starts and
 * ends, without the line end, and its line number). Lines end in LF or CR LF;
 * empty lines are skipped. Throws an Error naming the first line that is none
 * of these.
 * @param {Uint8Array} bytes the script, a byte a character
 * @param {(kind: "wait" | "rest" | "note", ticks: number, startTick: number, key: number,
 *   line: number) => void} timed
 * @param {(from: number, to: number, line: number) => void} [other]
 * @param {(from: number, to: number) => string} [textOf] the text of the bytes
 *   from..to, for numbers past 2^53 and messages; by default as `scriptText` reads it
 */
export function scanScript(
  bytes,
  timed,
  other,
  textOf = (from, to) => scriptText(bytes.subarray(from, to)),
) {
  const length = bytes.length;
  let tick = 0;
  let line = 0;
  for (let from = 0; from < length;) {
    ++line;
    // The usual line first, read as it goes: a note, wait or rest line of
    // short numbers ("\tc.5 12", "\twait 4") that ends the text or in LF or
    // CR LF. Anything else is read again below, by the whole rule.
    if (bytes[from] === TAB) {
      let at = from + 1;
      const letter = bytes[at];
      let key = -1;
      /** @type {"wait" | "rest" | "note" | null} */
      let kind = null;
      if (letter >= LOWER_A && letter <= LOWER_G) {
        // A key of one or two octave digits, then a space.
        const accidental = bytes[at + 1];
        const semitone =
          accidental === DOT || accidental === LOWER_S
            ? semitones[(letter - LOWER_A) * 2 + (accidental === LOWER_S ? 1 : 0)]
            : -1;
        at += 2;
        let code = bytes[at];
        if (semitone >= 0 && code >= ZERO && code <= ZERO + 9) {
          let octave = code - ZERO;
          code = bytes[++at];
          if (code >= ZERO && code <= ZERO + 9) {
            octave = octave * 10 + code - ZERO;
            code = bytes[++at];
          }
          if (code === SPACE) {
            key = semitone + 12 * octave;
            kind = key <= 255 ? "note" : null;
            ++at;
          }
        }
      } else if (codesAt(bytes, at, waitCodes)) {
        kind = "wait";
        at += waitCodes.length;
      } else if (codesAt(bytes, at, restCodes)) {
        kind = "rest";
        at += restCodes.length;
      }
      if (kind !== null) {
        const ticksFrom = at;
        let ticks = 0;
        let code = bytes[at];
        while (code >= ZERO && code <= ZERO + 9) {
          ticks = ticks * 10 + code - ZERO;
          code = bytes[++at];
        }
        const next =
          code === LF
            ? at + 1
            : at === length
              ? length
              : code === CR && bytes[at + 1] === LF
                ? at + 2
                : -1;
        if (next >= 0 && at > ticksFrom && at - ticksFrom <= 15) {
          timed(kind, ticks, tick, key, line);
          tick += ticks;
          from = next;
          continue;
        }
      }
    }
    let to = bytes.indexOf(LF, from);
    const next = to < 0 ? length : to + 1;
    if (to < 0) {
      to = length;
    } else if (to > from && bytes[to - 1] === CR) {
      --to;
    }
    if (to > from) {
      tick += anyLine(bytes, from, to, line, tick, timed, other, textOf);
    }
    from = next;
  }
}

/**
 * One line from..to (not empty, without its line end) by the whole rule:
 * handed to `timed` or `other`, or thrown as an Error that names it. Gives the
 * ticks of a timed line, else 0.
 * @param {Uint8Array} bytes
 * @param {number} from
 * @param {number} to
 * @param {number} line
 * @param {number} tick
 * @param {Parameters<typeof scanScript>[1]} timed
 * @param {Parameters<typeof scanScript>[2]} other
 * @param {(from: number, to: number) => string} textOf
 */
function anyLine(bytes, from, to, line, tick, timed, other, textOf) {
  if (bytes[from] === SEMICOLON || (to - from === 4 && codesAt(bytes, from, endCodes))) {
    other?.(from, to, line);
    return 0;
  }
  // A wait, rest or note line: "\twait 4", "\tc.5 12".
  /** @type {"wait" | "rest" | "note"} */
  let kind = "note";
  let key = -1;
  let at = from + 1;
  let wellFormed = bytes[from] === TAB;
  if (codesAt(bytes, at, waitCodes)) {
    kind = "wait";
    at += waitCodes.length;
  } else if (codesAt(bytes, at, restCodes)) {
    kind = "rest";
    at += restCodes.length;
  } else {
    const letter = bytes[at];
    const accidental = bytes[at + 1];
    const octaveEnd = digitsEnd(bytes, at + 2, to);
    wellFormed &&=
      letter >= LOWER_A &&
      letter <= LOWER_G &&
      (accidental === DOT || accidental === LOWER_S) &&
      octaveEnd > at + 2 &&
      bytes[octaveEnd] === SPACE;
    if (wellFormed) {
      key = semitones[(letter - LOWER_A) * 2 + (accidental === LOWER_S ? 1 : 0)];
      key = key < 0 ? key : key + 12 * digitsValue(bytes, at + 2, octaveEnd, textOf);
      at = octaveEnd + 1;
    }
  }
  const ticksEnd = digitsEnd(bytes, at, to);
  if (!wellFormed || ticksEnd === at || ticksEnd !== to) {
    throw lineError(line, "not a comment, timed line or end", textOf(from, to));
  }
  if (kind === "note" && key < 0) {
    throw lineError(line, "no such note", textOf(from, to));
  }
  if (key > 255) {
    throw lineError(line, "key above 255", textOf(from, to));
  }
  const ticks = digitsValue(bytes, at, to, textOf);
  timed(kind, ticks, tick, key, line);
  return ticks;
}

/**
 * @param {number} line
 * @param {string} why
 * @param {string} content
 */
function lineError(line, why, content) {
  return new Error(`line ${line}: ${why}: ${JSON.stringify(content)}`);
}

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
  /** @type {ScriptItem[]} */
  const items = [];
  const number = (/** @type {string} */ digits) => Number.parseInt(digits, 10);
  // The grammar is ASCII: any other character stands as a byte that is none of it.
  const bytes = new Uint8Array(text.length);
  for (let i = 0; i < text.length; ++i) {
    bytes[i] = Math.min(text.charCodeAt(i), 255);
  }
  scanScript(
    bytes,
    (kind, ticks, startTick, key, line) => {
      items.push(
        kind === "note" ? { line, kind, ticks, startTick, key } : { line, kind, ticks, startTick },
      );
    },
    (from, to, line) => {
      const content = text.slice(from, to);
      let m;
      if (content === "\tend") {
        items.push({ line, kind: "end" });
      } else if ((m = /^; Ticks (\d+)$/.exec(content))) {
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
    },
    (from, to) => text.slice(from, to),
  );
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
const latin1 = new TextDecoder("latin1");

/**
 * A script's bytes as text, one character a byte, as scripts are written.
 * @param {Uint8Array} bytes
 * @returns {string}
 */
export function scriptText(bytes) {
  return latin1.decode(bytes);
}
