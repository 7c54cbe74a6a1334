// How many of a MIDI file's notes its NOLT Scripts play in full, converted as
// it is and converted after mid2nolt-arrange, on every .mid in a folder.
//
//   node bench/loss.mjs [folder] [frequency]     (default: ../shared/midi-samples, 60)
//
// A note of the file is heard in full when a note line of its key, of more
// than 0 ticks, in a script made from its track and channel, starts within
// 1.5 driver ticks of it and lasts at least its length less one tick; each
// line plays one note. Needs the release build (make release) and the
// site (make web).
import { execFileSync } from "node:child_process";
import {
  copyFileSync,
  mkdtempSync,
  readdirSync,
  readFileSync,
  rmSync,
  statSync,
} from "node:fs";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";
import { fileNotes, parseScript } from "../build/web/mid2nolt.mjs";

const root = resolve(import.meta.dirname, "..");
const converter = join(root, "build/release/src/mid2nolt");
const arranger = join(root, "build/release/src/mid2nolt-arrange");
const folder = resolve(process.argv[2] ?? join(root, "../shared/midi-samples"));
const frequency = Number(process.argv[3] ?? 60);

function midiFiles(dir) {
  return readdirSync(dir, { recursive: true })
    .map((name) => join(dir, name))
    .filter((path) => /\.mid$/i.test(path) && statSync(path).isFile())
    .sort();
}

// The scripts a conversion of `name` in `dir` writes: {track, channel, lines}
// with each heard note line's key, start and length in seconds.
function convert(dir, name) {
  try {
    execFileSync(converter, [name], { cwd: dir, stdio: "pipe" });
  } catch {
    return null;
  }
  const base = name.replace(/\.mid$/, "");
  const scripts = [];
  for (const file of readdirSync(dir)) {
    const m = new RegExp(`^${base}_(\\d+)(?:_(\\d+))?\\.txt$`).exec(file);
    if (m === null) continue;
    const { items } = parseScript(readFileSync(join(dir, file), "latin1"));
    const lines = items
      .filter((item) => item.kind === "note" && item.ticks > 0)
      .map((item) => ({
        key: item.key,
        start: item.startTick / frequency,
        length: item.ticks / frequency,
      }));
    scripts.push({
      track: Number(m[1]),
      channel: m[2] === undefined ? null : Number(m[2]),
      lines,
    });
  }
  return scripts;
}

// How many of `notes` (one track and channel) the given lines play in full.
function heardInFull(notes, lines) {
  const byKey = new Map();
  for (const line of lines) {
    byKey.has(line.key)
      ? byKey.get(line.key).push(line)
      : byKey.set(line.key, [line]);
  }
  let heard = 0;
  for (const note of notes) {
    let best = null;
    for (const line of byKey.get(note.key) ?? []) {
      const off = Math.abs(line.start - note.start);
      if (
        !line.used &&
        off <= 1.5 / frequency &&
        (best === null || off < best.off)
      ) {
        best = { line, off };
      }
    }
    if (
      best !== null &&
      best.line.length >= note.end - note.start - 1 / frequency
    ) {
      best.line.used = true;
      heard += 1;
    }
  }
  return heard;
}

// The arranger's console: which output tracks each source track and channel became.
function partsOf(report) {
  const parts = new Map();
  for (const m of report.matchAll(
    /^Track (\d+), Channel (\d+) : .* : Tracks? (\d+)(?: to (\d+))?$/gm,
  )) {
    parts.set(`${m[1]}:${m[2]}`, {
      first: Number(m[3]),
      last: Number(m[4] ?? m[3]),
    });
  }
  return parts;
}

const total = { files: 0, notes: 0, plain: 0, arranged: 0 };
for (const path of midiFiles(folder)) {
  const tracks = await fileNotes(readFileSync(path));
  if (tracks === null) continue;
  const dir = mkdtempSync(join(tmpdir(), "mid2nolt-loss-"));
  try {
    copyFileSync(path, join(dir, "in.mid"));
    const plain = convert(dir, "in.mid");
    let report;
    try {
      report = execFileSync(arranger, ["in.mid"], {
        cwd: dir,
        encoding: "latin1",
      });
    } catch {
      continue;
    }
    const arranged = convert(dir, "in-arranged.mid");
    if (plain === null || arranged === null) continue;
    const parts = partsOf(report);
    let notes = 0;
    let plainHeard = 0;
    let arrangedHeard = 0;
    tracks.forEach((trackNotes, track) => {
      for (let channel = 0; channel < 16; ++channel) {
        const part = trackNotes.filter((n) => n.channel === channel);
        if (part.length === 0) continue;
        notes += part.length;
        const own = (s) =>
          s.track === track && (s.channel === null || s.channel === channel);
        plainHeard += heardInFull(
          part,
          plain.filter(own).flatMap((s) => s.lines),
        );
        const range = parts.get(`${track}:${channel}`);
        const mine = (s) =>
          range && s.track >= range.first && s.track <= range.last;
        arrangedHeard += heardInFull(
          part,
          arranged.filter(mine).flatMap((s) => s.lines),
        );
      }
    });
    total.files += 1;
    total.notes += notes;
    total.plain += plainHeard;
    total.arranged += arrangedHeard;
    if (process.env.LOSS_EACH) {
      const pct = (h) => ((100 * (notes - h)) / Math.max(1, notes)).toFixed(1);
      const both = `${plainHeard}\t${pct(plainHeard)} %\t${arrangedHeard}\t${pct(arrangedHeard)} %`;
      console.log(`${path}\t${notes}\t${both}`);
    }
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}
const lost = (heard) =>
  ((100 * (total.notes - heard)) / total.notes).toFixed(1);
console.log(
  `${total.files} files, ${total.notes} notes at ${frequency} Hz: not heard in full ` +
    `${lost(total.plain)} % converted as they are, ${lost(total.arranged)} % arranged first`,
);
