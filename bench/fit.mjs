// How well mid2nolt-arrange --channels fits every .mid in a folder to 3, 4
// and 6 driver channels, measured from the files alone: the notes kept whole
// against the most that many monophonic channels can hold as the roles let
// notes in (interval scheduling, greedy by end), the times a bass drum or snare strikes that
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
// Times are seconds. A fitted file times a note within this of the source:
// where its voices keep tempo maps of their own, each tempo is rounded to a
// whole microsecond.
const near = 1e-3;

/** The first index of ascending `times` at or after `t`. */
function lowerBound(times, t) {
  let low = 0;
  let high = times.length;
  while (low < high) {
    const middle = (low + high) >> 1;
    times[middle] < t ? (low = middle + 1) : (high = middle);
  }
  return low;
}

/** Whether ascending `times` holds one within `near` of `t`. */
function hasNear(times, t) {
  const i = lowerBound(times, t - near);
  return i < times.length && times[i] <= t + near;
}

/**
 * The most of `notes` that `channels` monophonic channels hold whole; notes of
 * no length, which no driver plays, are not counted.
 */
function mostHeld(notes, channels) {
  const spans = notes
    .filter((n) => n.end > n.start)
    .map((n) => [n.start, n.end])
    .sort((a, b) => a[1] - b[1]);
  const free = new Array(channels).fill(-Infinity);
  let held = 0;
  for (const [start, end] of spans) {
    let best = -1;
    for (let c = 0; c < channels; c += 1) {
      if (free[c] <= start + 1e-9 && (best < 0 || free[c] > free[best]))
        best = c;
    }
    if (best >= 0) {
      free[best] = end;
      held += 1;
    }
  }
  return held;
}

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
  // Per key, the source's notes by start.
  const byKey = new Map();
  for (const n of [...source].sort((a, b) => a.start - b.start)) {
    if (!byKey.has(n.key)) byKey.set(n.key, { starts: [], ends: [] });
    byKey.get(n.key).starts.push(n.start);
    byKey.get(n.key).ends.push(n.end);
  }
  const isWhole = (n) => {
    const { starts, ends } = byKey.get(n.key) ?? { starts: [], ends: [] };
    for (
      let i = lowerBound(starts, n.start - near);
      i < starts.length && starts[i] <= n.start + near;
      i += 1
    ) {
      if (Math.abs(ends[i] - n.end) < near) return true;
    }
    return false;
  };
  const beats = [
    ...new Set(
      source
        .filter((n) => n.channel === 9 && n.key >= 35 && n.key <= 40)
        .map((n) => n.start),
    ),
  ];
  for (const channels of counts) {
    const fitted = await arrange("in.mid", bytes, [
      "--channels",
      String(channels),
    ]);
    if (fitted.bytes === null) continue;
    const kept = (await fileNotes(fitted.bytes)).flat();
    // The most the roles let in: with a drum channel, the pitched notes in
    // the others and the drum notes in one; without, the pitched notes alone.
    const pitched = source.filter((n) => n.channel !== 9);
    const most = kept.some((n) => n.channel === 9)
      ? mostHeld(pitched, channels - 1) +
        mostHeld(
          source.filter((n) => n.channel === 9),
          1,
        )
      : mostHeld(pitched, channels);
    const whole = kept.filter(isWhole);
    const struck = kept
      .filter((n) => n.channel === 9)
      .map((n) => n.start)
      .sort((a, b) => a - b);
    const converted = await convert(fitted.name, fitted.bytes, [
      `-f${frequency}`,
    ]);
    const heard =
      (await lossReport(fitted.bytes, converted)).totals.heardInFull ?? 0;
    const t = total[channels];
    t.files += 1;
    t.whole += whole.length;
    t.most += most;
    if (channels >= 4) {
      t.drums += beats.length;
      t.struck += beats.filter((b) => hasNear(struck, b)).length;
    }
    t.kept += kept.length;
    t.heard += heard;
    if (process.env.FIT_EACH) {
      console.log(
        `${path}\t${channels}\t${whole.length}\t${most}\t${heard}/${kept.length}`,
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
