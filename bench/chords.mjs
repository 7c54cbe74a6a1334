// How much of a song's harmony a fit keeps: in every quarter second, the
// pitch classes of the source's pitched notes that the fitted file sounds
// there, at 3 and 4 channels, with and without --arpeggio 1. Both are timed
// as scripts time them, to the driver tick.
//
//   node bench/chords.mjs [folder] [frequency]   (default: ../shared/midi-samples, 60)
//   MID2NOLT_ARRANGE=build/dev/src/mid2nolt-arrange node bench/chords.mjs ...
//
// Needs the site (make web) for reading notes.
import { readFileSync } from "node:fs";
import { fileNotes } from "../build/web/mid2nolt.mjs";
import { arranged } from "./arranged.mjs";
import { frequency, midiFiles } from "./sample-files.mjs";

const window = 0.25;
const counts = [3, 4];

/**
 * Per quarter second, a bit for each pitch class that sounds there, its
 * notes timed as a script times them: each start and end at the nearest
 * driver tick, a note of no tick heard nowhere.
 */
function classes(notes) {
  const windows = [];
  const perWindow = frequency * window;
  for (const n of notes) {
    if (n.channel === 9) continue;
    const first = Math.round(n.start * frequency);
    const last = Math.round(n.end * frequency) - 1;
    for (
      let w = Math.floor(first / perWindow);
      w <= Math.floor(last / perWindow);
      w += 1
    )
      windows[w] = (windows[w] ?? 0) | (1 << (n.key % 12));
  }
  return windows;
}

const bits = (x) => x.toString(2).replaceAll("0", "").length;
const total = {};
for (const path of midiFiles()) {
  const bytes = new Uint8Array(readFileSync(path));
  const source = await fileNotes(bytes);
  if (source === null) continue;
  const wanted = classes(source.flat());
  for (const channels of counts) {
    for (const arpeggio of [false, true]) {
      const args = ["--channels", String(channels)];
      if (arpeggio) args.push("--arpeggio", "1", `-f${frequency}`);
      const out = await arranged(bytes, args);
      if (out === null) continue;
      const heard = classes((await fileNotes(out)).flat());
      const t = (total[args.join(" ")] ??= { wanted: 0, heard: 0 });
      wanted.forEach((want, w) => {
        t.wanted += bits(want);
        t.heard += bits(want & (heard[w] ?? 0));
      });
    }
  }
}
for (const [args, t] of Object.entries(total)) {
  console.log(
    `${args}: pitch classes sounded ${(t.heard / Math.max(1, t.wanted)).toFixed(3)} of ${t.wanted}`,
  );
}
