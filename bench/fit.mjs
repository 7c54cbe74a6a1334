// How well mid2nolt-arrange --channels fits every .mid in a folder to 3, 4
// and 6 driver channels, measured from the files alone: the notes kept whole
// against the most that many monophonic channels can hold (interval
// scheduling, greedy by end), the times a bass drum or snare strikes that
// the drum channel strikes (from 4 channels on), and the kept notes that the
// converted scripts play in full.
//
//   node bench/fit.mjs [folder] [frequency]     (default: ../shared/midi-samples, 60)
//   FIT_EACH=1 node bench/fit.mjs ...           and a line a file and count
//
// Needs the site (make web).
import { readFileSync } from "node:fs";
import {
  arrange,
  convert,
  fileNotes,
  lossReport,
} from "../build/web/mid2nolt.mjs";
import { frequency, midiFiles } from "./sample-files.mjs";

const counts = [3, 4, 6];
// Times are seconds; two times within this are one.
const same = 1e-6;

/** The most of `notes` that `channels` monophonic channels hold whole. */
function mostHeld(notes, channels) {
  const spans = notes
    .map((n) => [n.start, Math.max(n.end, n.start + same)])
    .sort((a, b) => a[1] - b[1]);
  const free = new Array(channels).fill(-Infinity);
  let held = 0;
  for (const [start, end] of spans) {
    let best = -1;
    for (let c = 0; c < channels; c += 1) {
      if (free[c] <= start + same / 2 && (best < 0 || free[c] > free[best]))
        best = c;
    }
    if (best >= 0) {
      free[best] = end;
      held += 1;
    }
  }
  return held;
}

const key = (n) => `${n.key}@${Math.round(n.start / same)}`;
const total = Object.fromEntries(
  counts.map((n) => [
    n,
    { files: 0, whole: 0, most: 0, drums: 0, struck: 0, kept: 0, heard: 0 },
  ]),
);
for (const path of midiFiles()) {
  const bytes = new Uint8Array(readFileSync(path));
  const tracks = await fileNotes(bytes);
  if (tracks === null) continue;
  const source = tracks.flat();
  const ends = new Map();
  for (const n of source) {
    const k = key(n);
    ends.set(k, [...(ends.get(k) ?? []), n.end]);
  }
  for (const channels of counts) {
    const fitted = await arrange("in.mid", bytes, [
      "--channels",
      String(channels),
    ]);
    if (fitted.bytes === null) continue;
    const kept = (await fileNotes(fitted.bytes)).flat();
    const whole = kept.filter((n) =>
      (ends.get(key(n)) ?? []).some((e) => Math.abs(e - n.end) < 1e-3),
    );
    const struck = new Set(
      kept
        .filter((n) => n.channel === 9)
        .map((n) => Math.round(n.start / same)),
    );
    const beats = new Set(
      source
        .filter((n) => n.channel === 9 && n.key >= 35 && n.key <= 40)
        .map((n) => Math.round(n.start / same)),
    );
    const converted = await convert(fitted.name, fitted.bytes, [
      `-f${frequency}`,
    ]);
    const heard =
      (await lossReport(fitted.bytes, converted)).totals.heardInFull ?? 0;
    const t = total[channels];
    t.files += 1;
    t.whole += whole.length;
    t.most += mostHeld(source, channels);
    if (channels >= 4) {
      t.drums += beats.size;
      t.struck += [...beats].filter((b) => struck.has(b)).length;
    }
    t.kept += kept.length;
    t.heard += heard;
    if (process.env.FIT_EACH) {
      console.log(
        `${path}\t${channels}\t${whole.length}\t${mostHeld(source, channels)}\t${heard}/${kept.length}`,
      );
    }
  }
}
for (const channels of counts) {
  const t = total[channels];
  const drums =
    channels >= 4
      ? `, bass drum and snare struck ${(t.struck / Math.max(1, t.drums)).toFixed(3)}`
      : "";
  console.log(
    `${channels} channels, ${t.files} files: kept whole ${t.whole} of the most ${t.most} ` +
      `(${(t.whole / Math.max(1, t.most)).toFixed(3)})${drums}, kept notes heard in full at ` +
      `${frequency} Hz ${(t.heard / Math.max(1, t.kept)).toFixed(3)}`,
  );
}
