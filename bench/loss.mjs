// How many of a MIDI file's notes its NOLT Scripts play in full, converted as
// it is and converted after mid2nolt-arrange, on every .mid in a folder.
//
//   node bench/loss.mjs [folder] [frequency]     (default: ../shared/midi-samples, 60)
//   LOSS_EACH=1 node bench/loss.mjs ...          and a line a file
//
// The count is the module's own: lossReport for the plain conversion,
// arrangedLossReport for the arranged one, each part's voices against its own
// notes. A note is heard in full where a note line of its key, of more than 0
// ticks, starting within 1.5 driver ticks of it, plays it for its length less
// one tick. Needs the site (make web).
import { readFileSync } from "node:fs";
import {
  arrange,
  arrangedLossReport,
  convert,
  fileNotes,
  lossReport,
} from "../build/web/mid2nolt.mjs";
import { frequency, midiFiles } from "./sample-files.mjs";

const options = [`-f${frequency}`];

const total = { files: 0, notes: 0, plain: 0, arranged: 0 };
for (const path of midiFiles()) {
  const bytes = new Uint8Array(readFileSync(path));
  const notes = await fileNotes(bytes);
  if (notes === null) continue;
  const plain = await convert("in.mid", bytes, options);
  const arranged = await arrange("in.mid", bytes);
  if (plain.exitStatus !== 0 || arranged.bytes === null) continue;
  const converted = await convert(arranged.name, arranged.bytes, options);
  if (converted.exitStatus !== 0) continue;
  const before = (await lossReport(bytes, plain, notes)).totals;
  const after = (
    await arrangedLossReport(bytes, arranged.parts, converted, notes)
  ).totals;
  total.files += 1;
  total.notes += before.fileNotes;
  total.plain += before.heardInFull ?? 0;
  total.arranged += after.heardInFull ?? 0;
  if (process.env.LOSS_EACH) {
    const pct = (heard) =>
      (
        (100 * (before.fileNotes - heard)) /
        Math.max(1, before.fileNotes)
      ).toFixed(1);
    const both = `${before.heardInFull}\t${pct(before.heardInFull)} %\t${after.heardInFull}\t${pct(after.heardInFull)} %`;
    console.log(`${path}\t${before.fileNotes}\t${both}`);
  }
}
const lost = (heard) =>
  ((100 * (total.notes - heard)) / total.notes).toFixed(1);
console.log(
  `${total.files} files, ${total.notes} notes at ${frequency} Hz: not heard in full ` +
    `${lost(total.plain)} % converted as they are, ${lost(total.arranged)} % arranged first`,
);
