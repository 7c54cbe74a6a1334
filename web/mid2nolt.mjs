// mid2nolt as an ES module: the C++ core of the converter and the arranger,
// compiled to WebAssembly, run exactly as their command lines run.
//
//   import { arrange, convert } from "mid2nolt";
//   const r = await convert("song.mid", bytes, ["-p", "-f50"]);
//   // r = { exitStatus, stdout, stderr, driverFrequency,
//   //       scripts: [{ name, bytes, track, channel }, ...] }
//   const a = await arrange("song.mid", bytes, ["--voices", "4"]);
//   // a = { exitStatus, stdout, stderr, name, bytes }: song-arranged.mid
//
// The module knows nothing of any page; it works in a page, a worker and node,
// and bundlers find the core through the static import and the URL below.
import { parseMidi } from "midi-file";
import createConverter from "./mid2nolt-core.mjs";

let wasmSource = null;
let compiled = null;

/**
 * Says where the compiled core comes from, before the first conversion; by
 * default it is `mid2nolt-core.wasm` beside this module.
 * @param {URL|string|ArrayBuffer|ArrayBufferView|WebAssembly.Module} wasm its
 *   URL, its bytes or the compiled module
 */
export function init(wasm) {
  wasmSource = wasm;
  compiled = null;
}

// Named in a variable, so that bundlers for the browser leave it alone.
const nodeFiles = "node:fs/promises";

async function wasmBytes(url) {
  if (url.protocol === "file:") {
    const { readFile } = await import(/* webpackIgnore: true */ /* @vite-ignore */ nodeFiles);
    return readFile(url);
  }
  const response = await fetch(url);
  if (!response.ok) {
    throw new Error(`cannot load ${url}: ${response.status}`);
  }
  return response.arrayBuffer();
}

async function compileCore() {
  const source = wasmSource ?? new URL("./mid2nolt-core.wasm", import.meta.url);
  if (source instanceof WebAssembly.Module) {
    return source;
  }
  if (source instanceof URL || typeof source === "string") {
    return WebAssembly.compile(await wasmBytes(new URL(source, globalThis.location?.href)));
  }
  return WebAssembly.compile(source);
}

// The compiled code is made once; every call instantiates it afresh, so no
// conversion sees another's memory or files.
function loadCore() {
  compiled ??= compileCore().catch((error) => {
    compiled = null; // a later call tries again
    throw error;
  });
  return compiled;
}

// Bytes written to a standard stream, collected one by one as the C library
// hands them over.
class ByteSink {
  constructor() {
    this.bytes = new Uint8Array(1024);
    this.length = 0;
  }
  push(byte) {
    if (this.length === this.bytes.length) {
      const grown = new Uint8Array(this.bytes.length * 2);
      grown.set(this.bytes);
      this.bytes = grown;
    }
    this.bytes[this.length++] = byte & 0xff;
  }
  text() {
    return new TextDecoder().decode(this.bytes.subarray(0, this.length));
  }
}

// Puts the source where its name says, relative to a working folder; a name
// that cannot be a file (empty, or a folder) is left for the run to report.
function placeSource(FS, name, bytes) {
  FS.mkdirTree("/work");
  FS.chdir("/work");
  const slash = name.lastIndexOf("/");
  try {
    if (slash > 0) {
      const folder = name.slice(0, slash);
      FS.mkdirTree(folder.startsWith("/") ? folder : `/work/${folder}`);
    }
    FS.writeFile(name, bytes);
  } catch {
    // The converter's own open fails and says so.
  }
}

// Runs one program of the core on a fresh instance, as `program name
// ...args` runs on the command line; `hooks` are the core's callbacks.
async function runCore(program, name, bytes, args, hooks) {
  const module = await loadCore();
  const stdout = new ByteSink();
  const stderr = new ByteSink();
  const core = await createConverter({
    noInitialRun: true,
    thisProgram: program,
    // The code is compiled above; this keeps the glue from resolving a URL of
    // its own, which a bundle without import.meta (a classic worker) lacks.
    locateFile: (file) => file,
    instantiateWasm(imports, receive) {
      WebAssembly.instantiate(module, imports).then((instance) => receive(instance, module));
      return {};
    },
    preRun: [
      (m) =>
        m.FS.init(
          null,
          (byte) => byte !== null && stdout.push(byte),
          (byte) => byte !== null && stderr.push(byte),
        ),
    ],
    ...hooks,
  });
  placeSource(core.FS, name, bytes instanceof ArrayBuffer ? new Uint8Array(bytes) : bytes);
  const exitStatus = core.callMain([name, ...args]);
  return { core, exitStatus, stdout: stdout.text(), stderr: stderr.text() };
}

/**
 * Converts one Standard MIDI File as `mid2nolt name ...args` would.
 * @param {string} name the source name as typed on a command line ("song.mid")
 * @param {Uint8Array|ArrayBuffer} bytes the file's content
 * @param {string[]} args the options, exactly as on the command line
 * @returns {Promise<{exitStatus: number, stdout: string, stderr: string,
 *   driverFrequency: number|null, scripts: {name: string, bytes: Uint8Array,
 *   track: number, channel: number|null}[]}>} what the command line gives:
 *   console streams, exit status and every script created, in order, also
 *   those finished before a failure; the driver frequency the options gave
 *   (null when the run ended before reading them).
 */
export async function convert(name, bytes, args = []) {
  const created = [];
  let driverFrequency = null;
  const { core, ...run } = await runCore("mid2nolt", name, bytes, args, {
    onDriverFrequency(frequency) {
      driverFrequency = frequency;
    },
    onScriptCreated(script, track, channel) {
      created.push({ name: script, track, channel });
    },
  });
  return {
    ...run,
    driverFrequency,
    scripts: created.map((script) => ({
      name: script.name,
      bytes: core.FS.readFile(script.name),
      track: script.track,
      channel: script.channel,
    })),
  };
}

/**
 * Arranges one Standard MIDI File into voice tracks as `mid2nolt-arrange name
 * ...args` would.
 * @param {string} name the source name as typed on a command line ("song.mid")
 * @param {Uint8Array|ArrayBuffer} bytes the file's content
 * @param {string[]} args the options, exactly as on the command line
 *   (["--voices", "4"], ["-o", "out.mid"])
 * @returns {Promise<{exitStatus: number, stdout: string, stderr: string,
 *   name: string|null, bytes: Uint8Array|null, parts: {track: number,
 *   channel: number|null, notes: number, leftOut: number, cutShort: number,
 *   firstTrack: number, trackCount: number}[]}>} console streams, exit status,
 *   the arranged file's name and bytes (null when none was written), and what
 *   became of each part of the source, as the console lists them: the notes of
 *   a track on a channel, or (channel null) a track's other events, and the
 *   output tracks from `firstTrack` on that hold them
 */
export async function arrange(name, bytes, args = []) {
  let written = null;
  const parts = [];
  const { core, ...run } = await runCore("mid2nolt-arrange", name, bytes, args, {
    onArrangedFile(file) {
      written = file;
    },
    onArrangedPart(part) {
      parts.push(part);
    },
  });
  const file = written === null ? null : core.FS.readFile(written);
  return { ...run, name: written, bytes: file, parts };
}

// Reading scripts ------------------------------------------------------------

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
 * @returns {{items: object[]}}
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

// Reading MIDI files ---------------------------------------------------------

// Seconds at each tick, from the tempo changes of the given tracks.
function tempoMap(tracks, division) {
  const changes = [];
  for (const events of tracks) {
    let tick = 0;
    for (const event of events) {
      tick += event.deltaTime;
      if (event.type === "setTempo") {
        changes.push({ tick, tempo: event.microsecondsPerBeat });
      }
    }
  }
  changes.sort((a, b) => a.tick - b.tick);
  const steps = [{ tick: 0, seconds: 0, tempo: 500000 }];
  for (const { tick, tempo } of changes) {
    const last = steps.at(-1);
    steps.push({
      tick,
      seconds: last.seconds + ((tick - last.tick) * last.tempo) / 1e6 / division,
      tempo,
    });
  }
  return (tick) => {
    let low = 0;
    let high = steps.length - 1;
    while (low < high) {
      const middle = (low + high + 1) >> 1;
      steps[middle].tick <= tick ? (low = middle) : (high = middle - 1);
    }
    const step = steps[low];
    return step.seconds + ((tick - step.tick) * step.tempo) / 1e6 / division;
  };
}

/**
 * The MIDI file's own notes, per track, timed by the file's tempo map (each
 * track's own in a format-2 file): [{channel, key, start, end}] with times
 * in seconds. Null when the file cannot be read or its timing is in SMPTE
 * frames.
 * @param {Uint8Array} bytes
 * @returns {{channel: number, key: number, start: number, end: number}[][] | null}
 */
export function fileNotes(bytes) {
  let midi;
  try {
    midi = parseMidi(bytes);
  } catch {
    return null;
  }
  const division = midi.header.ticksPerBeat;
  if (!division) {
    return null;
  }
  const shared = midi.header.format === 2 ? null : tempoMap(midi.tracks, division);
  return midi.tracks.map((events) => {
    const seconds = shared ?? tempoMap([events], division);
    const notes = [];
    const sounding = new Map();
    let tick = 0;
    for (const event of events) {
      tick += event.deltaTime;
      const id = `${event.channel}:${event.noteNumber}`;
      if (event.type === "noteOn") {
        sounding.get(id)?.forEach((n) => (n.endTick = tick));
        const note = {
          channel: event.channel,
          key: event.noteNumber,
          startTick: tick,
          endTick: tick,
        };
        sounding.set(id, [note]);
        notes.push(note);
      } else if (event.type === "noteOff") {
        sounding.get(id)?.forEach((n) => (n.endTick = tick));
        sounding.delete(id);
      }
    }
    sounding.forEach((open) => open.forEach((n) => (n.endTick = tick)));
    return notes.map((n) => ({
      channel: n.channel,
      key: n.key,
      start: seconds(n.startTick),
      end: seconds(n.endTick),
    }));
  });
}

// What a conversion loses -----------------------------------------------------

// The note of a list in order of start that starts nearest to `start`.
function nearestStart(notes, start) {
  let low = 0;
  let high = notes.length;
  while (low < high) {
    const middle = (low + high) >> 1;
    notes[middle].start < start ? (low = middle + 1) : (high = middle);
  }
  const before = notes[low - 1];
  const after = notes[low];
  if (before === undefined || after === undefined) {
    return before ?? after ?? null;
  }
  return start - before.start <= after.start - start ? before : after;
}

/**
 * What each script of a run loses against the MIDI file, in the order
 * written, and the same for the whole run. For each script, its file notes
 * (the note-ons of velocity above 0 in its track on its channel, any channel
 * for a whole-track script) as one partition: `heardInFull`, `cutShort`
 * (sounding for less than their length less one driver tick, with
 * `secondsCutShort`, what they lose in all) and `neverHeard`, which add up to
 * `fileNotes`; `timingError`, the largest difference in milliseconds between
 * where a heard note line starts and where its note starts in the file; and,
 * apart, `silentLines`, the script's note lines of 0 ticks. Each note line of
 * more than 0 ticks plays the file's note of its key that starts nearest to
 * it; a note played by several lines counts its longest. Times need the run's
 * driver frequency: without one (0 or null) the partition and the timing are
 * null.
 * @param {Uint8Array} source the MIDI file's bytes
 * @param {{driverFrequency: number|null, scripts: {name: string, bytes: Uint8Array,
 *   track: number, channel: number|null}[]}} result what `convert` returned
 */
export function lossReport(source, result) {
  const tracks = fileNotes(source) ?? [];
  const frequency = result.driverFrequency > 0 ? result.driverFrequency : null;
  const scripts = result.scripts.map(({ name, bytes, track, channel }) => {
    const file = (tracks[track] ?? []).filter((n) => channel === null || n.channel === channel);
    const { lost, ...loss } = compareNotes(
      file,
      parseScript(latin1.decode(bytes)).items,
      frequency,
    );
    return { name, track, channel, ...loss };
  });
  return { scripts, totals: totalLoss(scripts, frequency) };
}

// The losses of several scripts (or parts) as one: counts added, the largest
// timing error.
function totalLoss(losses, frequency) {
  const sum = (field) =>
    losses.some((s) => s[field] === null) ? null : losses.reduce((total, s) => total + s[field], 0);
  return {
    fileNotes: sum("fileNotes"),
    heardInFull: sum("heardInFull"),
    cutShort: sum("cutShort"),
    secondsCutShort: sum("secondsCutShort"),
    neverHeard: sum("neverHeard"),
    silentLines: sum("silentLines"),
    timingError: frequency === null ? null : Math.max(0, ...losses.map((s) => s.timingError)),
  };
}

/**
 * What the conversion of an arranged file loses against the source's own
 * notes, counted as `lossReport` counts: per track of the source with notes,
 * the scripts of all its voices together against all its notes, and in all.
 * Notes the arranger left out are never heard; notes it ended early are cut
 * short.
 * @param {Uint8Array} source the source file's bytes
 * @param {{track: number, channel: number|null, firstTrack: number,
 *   trackCount: number}[]} parts what `arrange` returned of the source
 * @param {{driverFrequency: number|null, scripts: {name: string, bytes: Uint8Array,
 *   track: number, channel: number|null}[]}} result what `convert` returned
 *   for the arranged file
 */
export function arrangedLossReport(source, parts, result) {
  const notes = fileNotes(source) ?? [];
  const frequency = result.driverFrequency > 0 ? result.driverFrequency : null;
  const voiced = parts.filter((part) => part.channel !== null);
  const tracks = [...new Set(voiced.map((part) => part.track))].map((track) => {
    const outputs = voiced.filter((part) => part.track === track);
    const items = result.scripts
      .filter((script) =>
        outputs.some(
          (part) =>
            script.track >= part.firstTrack && script.track < part.firstTrack + part.trackCount,
        ),
      )
      .flatMap((script) => parseScript(latin1.decode(script.bytes)).items);
    const { lost, ...loss } = compareNotes(notes[track] ?? [], items, frequency);
    return { track, ...loss };
  });
  return { tracks, totals: totalLoss(tracks, frequency) };
}

/**
 * One script against the file's notes it was made from, as `lossReport`
 * counts, with `lost`: the file's notes never heard or cut short.
 * @param {{key: number, start: number, end: number}[]} file in order of start
 * @param {object[]} items the script, as `parseScript` reads it
 * @param {number|null} frequency driver ticks per second
 */
export function compareNotes(file, items, frequency) {
  const notes = items.filter((item) => item.kind === "note");
  const heard = notes.filter((note) => note.ticks > 0);
  const loss = {
    fileNotes: file.length,
    heardInFull: null,
    cutShort: null,
    secondsCutShort: null,
    neverHeard: null,
    silentLines: notes.length - heard.length,
    timingError: null,
    lost: new Set(),
  };
  if (!(frequency > 0)) {
    return loss;
  }
  // The file's notes by key, each list in order of start, as a track holds them.
  const byKey = new Map();
  for (const n of file) {
    const group = byKey.get(n.key);
    group ? group.push(n) : byKey.set(n.key, [n]);
  }
  // The longest any heard line plays each file note, in seconds.
  const sounding = new Map();
  let timingError = 0;
  for (const note of heard) {
    const start = note.startTick / frequency;
    const nearest = nearestStart(byKey.get(note.key) ?? [], start);
    if (nearest !== null) {
      timingError = Math.max(timingError, Math.abs(nearest.start - start) * 1000);
      sounding.set(nearest, Math.max(sounding.get(nearest) ?? 0, note.ticks / frequency));
    }
  }
  let heardInFull = 0;
  let cutShort = 0;
  let secondsCutShort = 0;
  for (const n of file) {
    const played = sounding.get(n);
    const length = n.end - n.start;
    if (played === undefined) {
      loss.lost.add(n);
    } else if (played < length - 1 / frequency) {
      cutShort += 1;
      secondsCutShort += length - played;
      loss.lost.add(n);
    } else {
      heardInFull += 1;
    }
  }
  const neverHeard = file.length - heardInFull - cutShort;
  return { ...loss, heardInFull, cutShort, secondsCutShort, neverHeard, timingError };
}

// Hearing scripts ------------------------------------------------------------

const keyFrequency = (key) => 440 * 2 ** ((key - 69) / 12);

/**
 * Mixes square-wave voices into mono samples: each voice is a list of notes
 * {key, start, end} in seconds, equal temperament with key 69 at 440 Hz, and
 * each note's wave starts at its own start. Voices are scaled so that the mix
 * never leaves [-1, 1].
 * @param {{key: number, start: number, end: number}[][]} voices
 * @param {number} seconds length of the result
 * @param {number} sampleRate
 * @returns {Float32Array}
 */
export function renderNotes(voices, seconds, sampleRate = 44100) {
  const samples = new Float32Array(Math.round(seconds * sampleRate));
  const amplitude = 0.9 / Math.max(1, voices.length);
  for (const notes of voices) {
    for (const { key, start, end } of notes) {
      const from = Math.round(start * sampleRate);
      const to = Math.min(samples.length, Math.round(end * sampleRate));
      const cycles = keyFrequency(key) / sampleRate;
      for (let i = from; i < to; ++i) {
        samples[i] += ((i - from) * cycles) % 1 < 0.5 ? amplitude : -amplitude;
      }
    }
  }
  return samples;
}

const latin1 = new TextDecoder("latin1");

/**
 * What the driver plays of one script (as `parseScript` reads it): its note
 * lines of more than 0 ticks, each exactly its ticks ÷ `frequency` seconds.
 * @param {object[]} items
 * @param {number} frequency driver ticks per second (above 0)
 * @returns {{key: number, start: number, end: number}[]}
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

/**
 * What the driver plays: every script (as `convert` returns them) is one
 * square-wave voice from the start; each line lasts exactly its ticks ÷
 * `frequency` seconds; wait and rest lines are silent. The result lasts as
 * long as the longest script, to the sample, up to `maxSeconds`.
 * @param {{name: string, bytes: Uint8Array}[]} scripts
 * @param {number} frequency driver ticks per second (above 0)
 * @param {number} sampleRate
 * @param {number} maxSeconds longest preview made; later lines are left out
 * @returns {Float32Array}
 */
export function renderPreview(scripts, frequency, sampleRate = 44100, maxSeconds = 3600) {
  if (!(frequency > 0)) {
    throw new RangeError(`no preview at a driver frequency of ${frequency}`);
  }
  let seconds = 0;
  const voices = scripts.map(({ bytes }) => {
    const { items } = parseScript(latin1.decode(bytes));
    const last = items.findLast((item) => item.startTick !== undefined);
    seconds = Math.max(seconds, last ? (last.startTick + last.ticks) / frequency : 0);
    return playedNotes(items, frequency);
  });
  return renderNotes(voices, Math.min(seconds, maxSeconds), sampleRate);
}
