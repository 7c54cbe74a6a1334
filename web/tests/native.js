// The native command-line build, run on the same name, bytes and options as
// the page, for byte-for-byte comparison.
import { execFileSync } from "node:child_process";
import { mkdtempSync, mkdirSync, readdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join, relative } from "node:path";
import { fileURLToPath } from "node:url";

export const repo = fileURLToPath(new URL("../../", import.meta.url));
export const nativeBinary = process.env.MID2NOLT_NATIVE ?? join(repo, "build/release/src/mid2nolt");
export const nativeArranger =
  process.env.MID2NOLT_ARRANGE_NATIVE ?? join(repo, "build/release/src/mid2nolt-arrange");
export const samplesDir = join(repo, "../shared/midi-samples");

function filesBelow(dir) {
  return readdirSync(dir, { recursive: true, withFileTypes: true })
    .filter((entry) => entry.isFile())
    .map((entry) => join(entry.parentPath ?? entry.path, entry.name));
}

// { exitStatus, stdout, stderr, scripts: { name: base64 } } of one native run:
// every file it leaves beside the source (the arranger's: the arranged file).
export function runNative(name, bytes, args, binary = nativeBinary) {
  const dir = mkdtempSync(join(tmpdir(), "mid2nolt-web-"));
  try {
    mkdirSync(dirname(join(dir, name)), { recursive: true });
    writeFileSync(join(dir, name), bytes);
    let exitStatus = 0;
    let stdout;
    let stderr = "";
    try {
      stdout = execFileSync(binary, [name, ...args], {
        cwd: dir,
        encoding: "utf8",
        stdio: "pipe",
      });
    } catch (error) {
      exitStatus = error.status;
      stdout = error.stdout;
      stderr = error.stderr;
    }
    const scripts = {};
    for (const file of filesBelow(dir)) {
      const path = relative(dir, file);
      if (path !== name) {
        scripts[path] = readFileSync(file).toString("base64");
      }
    }
    return { exitStatus, stdout, stderr, scripts };
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}

// Every .mid file below the shared samples folder, sorted; none when absent.
export function sampleFiles() {
  try {
    return filesBelow(samplesDir)
      .filter((file) => file.toLowerCase().endsWith(".mid"))
      .sort();
  } catch {
    return [];
  }
}

// A Standard MIDI File: each track a list of events, each event its delta
// time and its bytes; the end of track is added. 96 ticks a quarter.
export function song(format, tracks) {
  const ascii = (text) => [...text].map((c) => c.charCodeAt(0));
  const u32 = (n) => [n >>> 24, (n >>> 16) & 0xff, (n >>> 8) & 0xff, n & 0xff];
  const vlq = (n) => {
    const groups = [n & 0x7f];
    for (let rest = n >>> 7; rest > 0; rest >>>= 7) {
      groups.unshift((rest & 0x7f) | 0x80);
    }
    return groups;
  };
  const bytes = [...ascii("MThd"), ...u32(6), 0, format, 0, tracks.length, 0, 96];
  for (const events of tracks) {
    const data = [
      ...events.flatMap(([delta, ...event]) => [...vlq(delta), ...event]),
      0,
      0xff,
      0x2f,
      0,
    ];
    bytes.push(...ascii("MTrk"), ...u32(data.length), ...data);
  }
  return Uint8Array.from(bytes);
}

// A format-0 file of one track: a text event, then one note.
export function songWithText(text) {
  const textBytes = new TextEncoder().encode(text);
  return song(0, [
    [
      [0, 0xff, 0x01, textBytes.length, ...textBytes],
      [0, 0x90, 60, 100],
      [0x60, 0x80, 60, 64],
    ],
  ]);
}
