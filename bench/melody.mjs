// How well mid2nolt-arrange --channels finds the tune where nothing names it.
// For each labelled .mid in a folder: every track and instrument name is
// removed, the note tracks are shuffled and so are their MIDI channels (the
// drum channel stays), then the file is fitted to 2, 3, 4 and 6 channels.
// Counted, of the labelled tracks' notes (key and start): those the Melody
// channel strikes, those the fit strikes anywhere, those it keeps whole.
//
//   node bench/melody.mjs [folder] [label]   (default: ../shared/melody-samples/pop909, ^MELODY$)
//   NAMES=keep node bench/melody.mjs ...      fits the files as they are
//   MID2NOLT_ARRANGE=build/dev/src/mid2nolt-arrange node bench/melody.mjs ...
//                                             fits with a native binary
//   FIT_EACH=1 node bench/melody.mjs ...      and a line a file and count
//
// Needs the site (make web) for reading notes.
import { readFileSync, readdirSync } from "node:fs";
import { join } from "node:path";
import { fileNotes } from "../build/web/mid2nolt.mjs";
import { arranged } from "./arranged.mjs";

const folder = process.argv[2] ?? "../shared/melody-samples/pop909";
const label = new RegExp(process.argv[3] ?? "^MELODY$", "i");
const counts = [2, 3, 4, 6];
const near = 1e-3; // seconds: as a fitted file times the source's notes

/** The variable-length quantity at `at`: [value, next]. */
function readVarLen(bytes, at) {
  let value = 0;
  for (;;) {
    const byte = bytes[at++];
    value = value * 128 + (byte & 0x7f);
    if (!(byte & 0x80) || at >= bytes.length) return [value, at];
  }
}

/** A track's events as [delta, bytes], with its name (track names joined). */
function readTrack(bytes) {
  const events = [];
  let names = "";
  let status = 0;
  for (let at = 0; at < bytes.length;) {
    const [delta, start] = readVarLen(bytes, at);
    at = start;
    let first = at;
    if (bytes[at] >= 0x80) status = bytes[at++];
    else first = -1; // running status: written out in full below
    let length;
    if (status === 0xff) {
      const [size, data] = readVarLen(bytes, at + 1);
      length = data + size - at;
      if (bytes[at] === 3 || bytes[at] === 4)
        names += String.fromCharCode(...bytes.subarray(data, data + size));
    } else if (status === 0xf0 || status === 0xf7) {
      const [size, data] = readVarLen(bytes, at);
      length = data + size - at;
    } else length = (status & 0xe0) === 0xc0 ? 1 : 2;
    const body = bytes.subarray(at, at + length);
    events.push([
      delta,
      first < 0
        ? Uint8Array.of(status, ...body)
        : bytes.subarray(first, at + length),
    ]);
    at += length;
  }
  return { events, names };
}

/** The file's header and tracks. */
function readFile(bytes) {
  const tracks = [];
  for (let at = 14; at + 8 <= bytes.length;) {
    const size = new DataView(
      bytes.buffer,
      bytes.byteOffset + at + 4,
    ).getUint32(0);
    if (String.fromCharCode(...bytes.subarray(at, at + 4)) === "MTrk")
      tracks.push(readTrack(bytes.subarray(at + 8, at + 8 + size)));
    at += 8 + size;
  }
  return { header: bytes.subarray(0, 14), tracks };
}

function varLen(value) {
  const out = [value & 0x7f];
  for (
    value = Math.floor(value / 128);
    value > 0;
    value = Math.floor(value / 128)
  )
    out.unshift((value & 0x7f) | 0x80);
  return out;
}

/** A seeded generator, so that a run can be repeated. */
function random(seed) {
  return () => {
    seed = (seed * 1103515245 + 12345) % 2147483648;
    return seed / 2147483648;
  };
}

function shuffled(list, next) {
  const out = [...list];
  for (let i = out.length - 1; i > 0; i -= 1) {
    const j = Math.floor(next() * (i + 1));
    [out[i], out[j]] = [out[j], out[i]];
  }
  return out;
}

/** The file without names, its note tracks and channels shuffled. */
function anonymous({ header, tracks }, seed) {
  const next = random(seed);
  const hasNotes = (t) => t.events.some(([, e]) => (e[0] & 0xf0) === 0x90);
  const noteTracks = tracks.map((t, i) => i).filter((i) => hasNotes(tracks[i]));
  const order = tracks.map((t, i) => i);
  shuffled(noteTracks, next).forEach(
    (from, k) => (order[noteTracks[k]] = from),
  );
  const pitched = [0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 14, 15];
  const channel = new Map(
    pitched.map((c, k) => [c, shuffled(pitched, random(seed))[k]]),
  );
  const chunks = [header];
  for (const i of order) {
    const body = [];
    for (const [delta, event] of tracks[i].events) {
      if (event[0] === 0xff && (event[1] === 3 || event[1] === 4)) continue;
      const moved = Uint8Array.from(event);
      if (event[0] < 0xf0 && channel.has(event[0] & 15))
        moved[0] = (event[0] & 0xf0) | channel.get(event[0] & 15);
      body.push(...varLen(delta), ...moved);
    }
    // A dropped name's delta is lost with it: names come at tick 0 in practice.
    const size = [24, 16, 8, 0].map((s) => (body.length >>> s) & 255);
    chunks.push(
      Uint8Array.of(0x4d, 0x54, 0x72, 0x6b, ...size),
      Uint8Array.from(body),
    );
  }
  return Buffer.concat(chunks);
}

const key = (n) => `${n.key}@${Math.round(n.start / near)}`;
const total = Object.fromEntries(
  counts.map((n) => [n, { labelled: 0, melody: 0, struck: 0, whole: 0 }]),
);
for (const [index, file] of readdirSync(folder, { recursive: true })
  .filter((f) => /\.(midi?|kar)$/i.test(f))
  .sort()
  .entries()) {
  const bytes = new Uint8Array(readFileSync(join(folder, file)));
  const source = readFile(bytes);
  const notes = await fileNotes(bytes);
  if (notes === null) continue;
  const labelled = source.tracks.flatMap((t, i) =>
    label.test(t.names.trim()) ? notes[i] : [],
  );
  if (labelled.length === 0) continue;
  const input =
    process.env.NAMES === "keep" ? bytes : anonymous(source, index + 1);
  for (const channels of counts) {
    const out = await arranged(input, ["--channels", String(channels)]);
    if (out === null) continue;
    const tracks = readFile(out).tracks;
    const kept = await fileNotes(out);
    const melody = new Set(
      kept.flatMap((t, i) => (tracks[i].names === "Melody" ? t.map(key) : [])),
    );
    const all = new Set(kept.flat().map(key));
    const whole = new Set(
      kept.flat().map((n) => `${key(n)}-${Math.round(n.end / near)}`),
    );
    const t = total[channels];
    const counted = {
      labelled: labelled.length,
      melody: labelled.filter((n) => melody.has(key(n))).length,
      struck: labelled.filter((n) => all.has(key(n))).length,
      whole: labelled.filter((n) =>
        whole.has(`${key(n)}-${Math.round(n.end / near)}`),
      ).length,
    };
    for (const k of Object.keys(counted)) t[k] += counted[k];
    if (process.env.FIT_EACH)
      console.log(
        `${file}\t${channels}\t${counted.melody}/${counted.labelled}\t${counted.struck}\t${counted.whole}`,
      );
  }
}
for (const channels of counts) {
  const t = total[channels];
  const share = (k) => (t[k] / Math.max(1, t.labelled)).toFixed(3);
  console.log(
    `${channels} channels: of ${t.labelled} labelled notes, the Melody channel strikes ${share("melody")}, ` +
      `the fit strikes ${share("struck")}, keeps whole ${share("whole")}`,
  );
}
