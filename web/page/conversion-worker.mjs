// The page's worker: converts (arranging first when asked), and keeps the last
// conversion to answer for its piano rolls and audio, all off the page's thread.
import {
  arrange,
  arrangedLossReport,
  compareNotes,
  convert,
  fileNotes,
  init,
  lossReport,
  parseScript,
  playedNotes,
  renderNotes,
  scriptFileNotes,
  scriptText,
  totalLoss,
} from "../mid2nolt.mjs";
import { rollContent } from "./roll-content.mjs";
import { writeMidi } from "midi-file";
import { midiVoices, sampleRate } from "./preview-audio.mjs";

// Longest audio made for playback or WAV: ten minutes.
const maxSeconds = 600;
let last = null;

// The one-file page's worker carries the core's bytes (base64) in itself; the
// site's loads it from beside the module. The build defines INLINED_CORE.
// eslint-disable-next-line no-undef
const inlined = INLINED_CORE;
if (inlined !== null) {
  init(Uint8Array.from(atob(inlined), (c) => c.charCodeAt(0)));
}

function items(script) {
  if (!last.parsed.has(script.name)) {
    last.parsed.set(script.name, parseScript(scriptText(script.bytes)).items);
  }
  return last.parsed.get(script.name);
}

// The converted file's notes, read once a conversion by the first that asks.
function convertedNotes() {
  last.tracks ??= fileNotes(last.source);
  return last.tracks;
}

// The file's notes that a script was made from: its track, on its channel.
async function sourceNotes(script) {
  return scriptFileNotes(await convertedNotes(), script);
}

// Where the converted file is a fit of another: that file's notes, all of
// them, read once.
async function fittedSongNotes() {
  last.fitTracks ??= fileNotes(last.fitSource);
  return (await last.fitTracks).flat();
}

// Of the fitted song's notes, those the fit left out: no note of the fitted
// file of its key sounds while it does.
async function lostByTheFit() {
  if (!last.lost) {
    // Per key, the fitted notes' starts in order, and the latest end so far.
    const byKey = new Map();
    for (const n of (await convertedNotes()).flat()) {
      if (!byKey.has(n.key)) byKey.set(n.key, []);
      byKey.get(n.key).push(n);
    }
    for (const [key, notes] of byKey) {
      notes.sort((a, b) => a.start - b.start);
      const latest = [];
      notes.forEach((n, i) => latest.push(Math.max(n.end, i > 0 ? latest[i - 1] : -Infinity)));
      byKey.set(key, { starts: notes.map((n) => n.start), latest });
    }
    last.lost = new Set(
      (await fittedSongNotes()).filter((n) => !soundsDuring(byKey.get(n.key), n)),
    );
  }
  return last.lost;
}

// Whether a kept note (`starts` in order, `latest` end so far) sounds while
// `note` does: one that starts before it ends, and ends after it starts.
function soundsDuring(kept, note) {
  if (!kept) return false;
  let low = 0;
  let high = kept.starts.length;
  while (low < high) {
    const middle = (low + high) >> 1;
    kept.starts[middle] < note.end ? (low = middle + 1) : (high = middle);
  }
  return low > 0 && kept.latest[low - 1] > note.start;
}

const handlers = {
  async convert({ name, bytes, args }) {
    const result = await convert(name, bytes, args);
    const frequency = result.driverFrequency;
    last = {
      scripts: result.scripts,
      source: bytes,
      frequency,
      parsed: new Map(),
      tracks: null,
      plain: null,
      fitSource: null,
      fitTracks: null,
      lost: null,
    };
    // The first view opens on the first script with a note line; the scripts
    // read to find it stay read for their rolls.
    const firstWithNotes = result.scripts.findIndex((s) => items(s).some((i) => i.kind === "note"));
    return { ...result, firstWithNotes };
  },
  // Arranges, then converts the arranged file as `convert` does; the source's
  // own conversion is kept too, to compare what each loses. No conversion
  // when the arrangement fails.
  async arrange({ name, bytes, arrangeArgs, args }) {
    const arrangement = await arrange(name, bytes, arrangeArgs);
    if (arrangement.bytes === null) {
      last = null;
      return { arrangement, conversion: null };
    }
    // A fit is measured against its own notes (the fit's table says which
    // source notes it keeps): no plain conversion to compare.
    const plain = arrangement.fit === null ? await convert(name, bytes, args) : null;
    const conversion = await handlers.convert({
      name: arrangement.name,
      bytes: arrangement.bytes,
      args,
    });
    last.plain = plain && { source: bytes, result: plain, parts: arrangement.parts };
    // A fit is heard and drawn against the song it was fitted from.
    last.fitSource = arrangement.fit === null ? null : bytes;
    return { arrangement, conversion };
  },
  // What the last conversion loses; asked for after its result is shown, as
  // it takes seconds for millions of notes. After an arrangement, also what
  // the plain and the arranged conversion lose of the source's notes.
  async loss() {
    const run = { driverFrequency: last.frequency, scripts: last.scripts };
    const report = await lossReport(last.source, run, await convertedNotes());
    const { plain } = last;
    if (plain === null) {
      return { ...report, comparison: null };
    }
    // The source is read once for both sides.
    const notes = await fileNotes(plain.source);
    const before = await lossReport(plain.source, plain.result, notes);
    const after = await arrangedLossReport(plain.source, plain.parts, run, notes);
    // The plain side per source track, as the arranged side counts it.
    const tracks = after.tracks.map(({ track }) =>
      totalLoss(
        before.scripts.filter((s) => s.track === track),
        last.frequency,
      ),
    );
    return { ...report, comparison: { plain: { ...before, tracks }, arranged: after } };
  },
  async roll({ name }) {
    const script = last.scripts.find((s) => s.name === name);
    if (!script) {
      return null;
    }
    // A fit's channel over the whole song, the notes no channel plays marked.
    const ghosts = last.fitSource ? await fittedSongNotes() : await sourceNotes(script);
    const { lost } = last.fitSource
      ? { lost: await lostByTheFit() }
      : compareNotes(ghosts, items(script), last.frequency);
    const marked = ghosts.map((n) => ({
      key: n.key,
      start: n.start,
      end: n.end,
      lost: lost.has(n),
    }));
    return rollContent(items(script), last.frequency, marked);
  },
  // Audio of the chosen scripts (or of the file's notes they were made from),
  // from `from` seconds, or from their first note when `from` is null, for at
  // most maxSeconds; with where it starts, where the music ends and whether
  // the end was left out.
  async audio({ names, midi, from }) {
    const scripts = last.scripts.filter((s) => names.includes(s.name));
    // The drums, on MIDI channel 10, as noise. A fit plays the song it was
    // fitted from.
    const notes = !midi
      ? []
      : last.fitSource
        ? await fittedSongNotes()
        : (await Promise.all(scripts.map(sourceNotes))).flat();
    const kit = midiVoices(notes.filter((n) => n.channel === 9));
    const voices = midi
      ? [...midiVoices(notes.filter((n) => n.channel !== 9)), ...kit]
      : scripts.map((script) => playedNotes(items(script), last.frequency));
    const drums = midi
      ? voices.map((v, i) => i >= voices.length - kit.length)
      : scripts.map((s) => s.channel === 9);
    const starts = voices.flat().map((n) => n.start);
    const ends = voices.flat().map((n) => n.end);
    const start = from ?? (starts.length > 0 ? Math.min(...starts) : 0);
    const end = ends.length > 0 ? Math.max(...ends) : 0;
    const seconds = Math.max(0, Math.min(end - start, maxSeconds));
    const shifted = voices.map((notes) =>
      notes.map((n) => ({ key: n.key, start: n.start - start, end: n.end - start })),
    );
    const samples = renderNotes(shifted, seconds, sampleRate, drums);
    return { samples, start, end, cut: end - start > maxSeconds };
  },
  // What the driver plays, as a Standard MIDI File: a tempo track, then one
  // track per script with its heard notes, one MIDI tick per driver tick
  // (the division is the driver frequency, at a quarter note a second).
  exportMidi() {
    const division = last.frequency;
    if (!(division > 0 && division <= 0x7fff)) {
      throw new Error(
        `No MIDI export at a driver frequency of ${division}: a MIDI file counts 1 to 32767 ticks a quarter note.`,
      );
    }
    const tracks = [[{ deltaTime: 0, meta: true, type: "setTempo", microsecondsPerBeat: 1000000 }]];
    let skipped = 0;
    last.scripts.forEach((script, i) => {
      const channel = i % 15 < 9 ? i % 15 : (i % 15) + 1; // channel 9 is for drums
      const events = [
        { tick: 0, order: 0, event: { meta: true, type: "trackName", text: script.name } },
      ];
      for (const item of items(script)) {
        if (item.kind === "note" && item.ticks > 0 && item.key > 127) {
          skipped += 1;
        } else if (item.kind === "note" && item.ticks > 0) {
          const note = { channel, noteNumber: item.key };
          events.push({
            tick: item.startTick,
            order: 2,
            event: { ...note, type: "noteOn", velocity: 100 },
          });
          events.push({
            tick: item.startTick + item.ticks,
            order: 1,
            event: { ...note, type: "noteOff", velocity: 0 },
          });
        }
      }
      // Offs before ons at the same tick, so that a repeated key sounds again.
      events.sort((a, b) => a.tick - b.tick || a.order - b.order);
      let at = 0;
      tracks.push(
        events.map(({ tick, event }) => {
          const timed = { deltaTime: tick - at, ...event };
          at = tick;
          return timed;
        }),
      );
    });
    for (const track of tracks) {
      track.push({ deltaTime: 0, meta: true, type: "endOfTrack" });
    }
    const header = { format: 1, numTracks: tracks.length, ticksPerBeat: division };
    return { bytes: Uint8Array.from(writeMidi({ header, tracks })), skipped };
  },
};

self.onmessage = async ({ data: { id, type, payload } }) => {
  try {
    const result = await handlers[type](payload);
    // Audio is handed over, not copied.
    const samples = result?.samples;
    self.postMessage({ id, result }, samples instanceof Float32Array ? [samples.buffer] : []);
  } catch (error) {
    self.postMessage({ id, error: String(error) });
  }
};
