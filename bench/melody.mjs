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
import { parseMidi, writeMidi } from "../web/node_modules/midi-file/index.js";
import { fileNotes } from "../build/web/mid2nolt.mjs";
import { arranged } from "./arranged.mjs";

const folder = process.argv[2] ?? "../shared/melody-samples/pop909";
const label = new RegExp(process.argv[3] ?? "^MELODY$", "i");
const counts = [2, 3, 4, 6];
const near = 1e-3; // seconds: as a fitted file times the source's notes

/** A parsed track's name: its track and instrument names, joined. */
function nameOf(track) {
  return track
    .filter((e) => e.type === "trackName" || e.type === "instrumentName")
    .map((e) => e.text)
    .join("");
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
  const noteTracks = tracks
    .map((t, i) => i)
    .filter((i) => tracks[i].some((e) => e.type === "noteOn"));
  const order = tracks.map((t, i) => i);
  shuffled(noteTracks, next).forEach(
    (from, k) => (order[noteTracks[k]] = from),
  );
  const pitched = [0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 14, 15];
  const channel = new Map(
    pitched.map((c, k) => [c, shuffled(pitched, random(seed))[k]]),
  );
  const moved = order.map((i) => {
    const events = [];
    let carried = 0; // the delta of a name left out goes to the next event
    for (const event of tracks[i]) {
      if (event.type === "trackName" || event.type === "instrumentName") {
        carried += event.deltaTime;
        continue;
      }
      const copy = { ...event, deltaTime: event.deltaTime + carried };
      carried = 0;
      if (channel.has(copy.channel)) copy.channel = channel.get(copy.channel);
      events.push(copy);
    }
    return events;
  });
  return Buffer.from(writeMidi({ header, tracks: moved }));
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
  const notes = await fileNotes(bytes);
  if (notes === null) continue;
  const source = parseMidi(bytes);
  const labelled = source.tracks.flatMap((t, i) =>
    label.test(nameOf(t).trim()) ? notes[i] : [],
  );
  if (labelled.length === 0) continue;
  const input =
    process.env.NAMES === "keep" ? bytes : anonymous(source, index + 1);
  for (const channels of counts) {
    const out = await arranged(input, ["--channels", String(channels)]);
    if (out === null) continue;
    const tracks = parseMidi(out).tracks;
    const kept = await fileNotes(out);
    const melody = new Set(
      kept.flatMap((t, i) =>
        nameOf(tracks[i]) === "Melody" ? t.map(key) : [],
      ),
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
