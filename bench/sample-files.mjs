// The files the loss and fit benchmarks read: every .mid below the folder the
// command line names (the shared samples by default), sorted, and the driver
// frequency it names (60 by default).
import { readdirSync, statSync } from "node:fs";
import { join, resolve } from "node:path";

const root = resolve(import.meta.dirname, "..");

export const folder = resolve(
  process.argv[2] ?? join(root, "../shared/midi-samples"),
);
export const frequency = Number(process.argv[3] ?? 60);

export function midiFiles(dir = folder) {
  return readdirSync(dir, { recursive: true })
    .map((name) => join(dir, name))
    .filter((path) => /\.mid$/i.test(path) && statSync(path).isFile())
    .sort();
}
