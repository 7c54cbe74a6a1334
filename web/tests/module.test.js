// The mid2nolt module: convert in the browser against the native binary
// (console, exit status and every script, byte for byte), and the pure
// functions that read and sound scripts, in node.
import { spawnSync } from "node:child_process";
import { readFileSync } from "node:fs";
import { basename, join } from "node:path";
import { expect, test } from "@playwright/test";
import {
  compareNotes,
  arrange,
  arrangedLossReport,
  convert,
  fileNotes,
  lossReport,
  parseScript,
  renderPreview,
} from "../../build/web/mid2nolt.mjs";
import { nativeArranger, repo, runNative, sampleFiles, song, songWithText } from "./native.js";

// The tests share nothing: two workers take them as they come, so that the
// long comparisons with the native programs run side by side.
test.describe.configure({ mode: "parallel" });

// Converts in the page through the module; scripts come back as base64.
async function convertInPage(page, name, bytes, args) {
  return page.evaluate(
    async ({ name, bytes, args }) => {
      const { convert } = await import("./mid2nolt.mjs");
      const result = await convert(
        name,
        Uint8Array.from(atob(bytes), (c) => c.charCodeAt(0)),
        args,
      );
      const toBase64 = (b) => btoa(Array.from(b, (x) => String.fromCharCode(x)).join(""));
      return {
        ...result,
        scripts: result.scripts.map((s) => ({ name: s.name, bytes: toBase64(s.bytes) })),
      };
    },
    { name, bytes: Buffer.from(bytes).toString("base64"), args },
  );
}

async function expectSameAsNative(page, name, bytes, args) {
  const native = runNative(name, bytes, args);
  const web = await convertInPage(page, name, bytes, args);
  expect(web.stdout).toBe(native.stdout);
  expect(web.stderr).toBe(native.stderr);
  expect(web.exitStatus).toBe(native.exitStatus);
  expect(Object.fromEntries(web.scripts.map((s) => [s.name, s.bytes]))).toEqual(native.scripts);
  // In the order the console announced them.
  const announced = [...web.stdout.matchAll(/ to NOLT Script : (.*)\n/g)].map((m) => m[1]);
  expect(web.scripts.map((s) => s.name)).toEqual(announced);
}

const optionSets = [[], ["-p"], ["-f50"]];

// An arrangement against the native arranger's: console, exit status, and the
// file written (by name) or none.
function expectArrangedAsNative(web, native) {
  expect(web.stdout).toBe(native.stdout);
  expect(web.stderr).toBe(native.stderr);
  expect(web.exitStatus).toBe(native.exitStatus);
  expect(web.name === null ? {} : { [web.name]: web.bytes }).toEqual(native.scripts);
}
const toBase64 = (bytes) => (bytes === null ? null : Buffer.from(bytes).toString("base64"));
const arrangeOptionSets = [[], ["--voices", "2"], ["--channels", "4"]];
const noteNames = ["c.", "cs", "d.", "ds", "e.", "f.", "fs", "g.", "gs", "a.", "as", "b."];
const demo = readFileSync(join(repo, "examples/demo.mid"));
// A handful of the shared real files, spread over the whole set.
const samples = sampleFiles().filter((_, i, all) => i % Math.ceil(all.length / 6) === 0);

test.describe("convert in the page", () => {
  test.beforeEach(async ({ page }) => {
    await page.goto("index.html");
  });

  test("the bundled example, with each option set", async ({ page }) => {
    for (const args of optionSets) {
      await expectSameAsNative(page, "demo.mid", demo, args);
    }
  });

  test("a handful of shared real files, with each option set", async ({ page }) => {
    test.skip(samples.length === 0, "no shared MIDI files");
    for (const file of samples) {
      for (const args of optionSets) {
        await expectSameAsNative(page, basename(file), readFileSync(file), args);
      }
    }
  });

  const failures = [
    ["not MIDI", "notes.mid", new TextEncoder().encode("just some text\n"), []],
    ["cut off inside a track", "demo.mid", demo.subarray(0, demo.length - 20), []],
    ["a name without .mid", "demo.txt", demo, []],
    ["an invalid option", "demo.mid", demo, ["-x"]],
    ["a frequency that is no number", "demo.mid", demo, ["-fast"]],
    ["a folder in the name, upper-case extension", "Dir/Song.MID", demo, ["-p"]],
    ["--help as the only argument", "--help", demo, []],
    ["markup in a text event", "song.mid", songWithText("<img src=x onerror=alert(1)>"), []],
    ["a name outside ASCII", "chanson é 歌.mid", demo, []],
  ];

  for (const [what, name, bytes, args] of failures) {
    test(`edge case: ${what}`, async ({ page }) => {
      await expectSameAsNative(page, name, bytes, args);
    });
  }

  test("overlapping calls do not share state", async ({ page }) => {
    const [packed, perChannel] = await page.evaluate(async (bytes) => {
      const { convert } = await import("./mid2nolt.mjs");
      const source = Uint8Array.from(atob(bytes), (c) => c.charCodeAt(0));
      const runs = await Promise.all([
        convert("demo.mid", source, ["-p", "-f1"]),
        convert("demo.mid", source, []),
      ]);
      return runs.map((r) => r.scripts.map((s) => s.name).join(" "));
    }, demo.toString("base64"));
    expect(packed).toBe("demo_0.txt demo_1.txt demo_2.txt");
    expect(perChannel).toBe("demo_0.txt demo_1_0.txt demo_2_1.txt demo_2_9.txt");
  });

  test("arrange: the example and a handful of shared files, as natively", async ({ page }) => {
    for (const file of [join(repo, "examples/demo.mid"), ...samples]) {
      const bytes = readFileSync(file);
      for (const args of arrangeOptionSets) {
        const web = await page.evaluate(
          async ({ bytes, args }) => {
            const { arrange } = await import("./mid2nolt.mjs");
            const r = await arrange(
              "in.mid",
              Uint8Array.from(atob(bytes), (c) => c.charCodeAt(0)),
              args,
            );
            const base64 =
              r.bytes && btoa(Array.from(r.bytes, (x) => String.fromCharCode(x)).join(""));
            return { ...r, bytes: base64 };
          },
          { bytes: bytes.toString("base64"), args },
        );
        expectArrangedAsNative(web, runNative("in.mid", bytes, args, nativeArranger));
      }
    }
  });
});

// The arranger in node: every shared file with each option set, and the
// inputs it refuses, as the native arranger does them.
const arrangeCases = [
  ...arrangeOptionSets.map((args) => [
    args.join(" ") || "no option",
    () =>
      [join(repo, "examples/demo.mid"), ...sampleFiles()].map((file) => [
        "in.mid",
        readFileSync(file),
        args,
      ]),
  ]),
  [
    "inputs it refuses or names",
    () => [
      ["notes.mid", new TextEncoder().encode("just some text\n"), []],
      ["demo.mid", demo.subarray(0, demo.length - 20), []],
      ["demo.mid", demo, ["--voices", "0"]],
      ["demo.mid", demo, ["-o", "demo.mid"]],
      ["Dir/Song.MID", demo, ["-o", "Dir/out.mid"]],
      ["--help", demo, []],
    ],
  ],
];
for (const [what, cases] of arrangeCases) {
  test(`arrange in node writes what the native arranger writes: ${what}`, async () => {
    test.setTimeout(300_000);
    for (const [name, bytes, args] of cases()) {
      const web = await arrange(name, bytes, args);
      expectArrangedAsNative(
        { ...web, bytes: toBase64(web.bytes) },
        runNative(name, bytes, args, nativeArranger),
      );
    }
  });
}

// Reading scripts: every line of every script the native binary writes for the
// example and the shared files is understood, and the timed lines add up to
// the trailer's total (modulo 2^32, as the converter counts).
test("parseScript reads every script of the example and the shared files", () => {
  const sources = [join(repo, "examples/demo.mid"), ...sampleFiles()];
  let scripts = 0;
  for (const file of sources) {
    for (const [name, base64] of Object.entries(
      runNative("in.mid", readFileSync(file), []).scripts,
    )) {
      const text = Buffer.from(base64, "base64").toString("latin1");
      const { items } = parseScript(name.endsWith("_0.txt") ? text.replaceAll("\n", "\r\n") : text);
      const timed = items.filter((item) => item.startTick !== undefined);
      const sum = timed.reduce((total, item) => total + item.ticks, 0);
      expect(items.at(-1).kind).toBe("total");
      expect(sum % 2 ** 32).toBe(items.at(-1).ticks);
      expect(items.length).toBe(text.split("\n").filter((line) => line !== "").length);
      // Each timed line written back from its item is the line read.
      const lines = text.split("\n");
      const written = (item) =>
        `\t${item.kind === "note" ? `${noteNames[item.key % 12]}${Math.floor(item.key / 12)}` : item.kind} ${item.ticks}`;
      const wrong = timed.find((item) => written(item) !== lines[item.line - 1].replace(/\r$/, ""));
      expect(wrong && [name, wrong.line, written(wrong)]).toBeUndefined();
      ++scripts;
    }
  }
  expect(scripts).toBeGreaterThan(3);
});

test("parseScript reads every note name of every octave a script can hold back to its key", () => {
  const keys = Array.from({ length: 256 }, (_, key) => key);
  const text = keys.map((key) => `\t${noteNames[key % 12]}${Math.floor(key / 12)} 1\n`).join("");
  expect(parseScript(text).items.map((item) => item.key)).toEqual(keys);
});

// The module in node, run as the command line runs, against the golden table
// of the example and the shared files.
test("the module writes what the golden table pins", () => {
  test.setTimeout(300_000);
  const check = spawnSync(
    "python3",
    [
      join(repo, "tests/cli/golden.py"),
      "check",
      "--exe",
      join(repo, "web/tests/module-cli.mjs"),
      "--emulator",
      process.execPath,
    ],
    { encoding: "utf8" },
  );
  expect(check.stdout + check.stderr).toMatch(/ passed, 0 failed/);
  expect(check.status).toBe(0);
});

test("parseScript recovers keys and positions, and names a broken line", () => {
  const { items } = parseScript(
    "; Converted from Track 0 of a.mid\r\n\twait 2\r\n\tc.5 3\r\n\ta.5 0\r\n" +
      "\tg.10 1\r\n\tgs16 1\r\n\trest 4\r\n; Ticks 11\r\n; ---- Bars 1 to 2 ----\r\n;****************\r\n\r\n" +
      "; a text\r\n\tend\r\n; Total Track Ticks : 11\r\n",
  );
  expect(items.filter((i) => i.kind === "note").map((i) => [i.key, i.startTick])).toEqual([
    [60, 2],
    [69, 5],
    [127, 5],
    [200, 6],
  ]);
  expect(items.find((i) => i.kind === "bar")).toMatchObject({ line: 9, first: 1, last: 2 });
  expect(items.map((i) => i.kind)).toEqual([
    "comment",
    "wait",
    "note",
    "note",
    "note",
    "note",
    "rest",
    "ticks",
    "bar",
    "comment",
    "comment",
    "end",
    "total",
  ]);
  for (const [broken, line] of [
    ["\tc.5\n", 2],
    ["\tbs5 3\n", 2],
    ["hello\n", 2],
    ["\twait -1\n", 2],
    ["\tds22 1\n", 2],
    ["\tc.5 1 2\n", 2],
  ]) {
    expect(() => parseScript(`; header\n${broken}`)).toThrow(new RegExp(`^line ${line}:`));
  }
});

// Lines at the edges of the usual shape, which the reader takes by its whole
// rule: what it reads of each, or the start of the error it names.
test("parseScript at the edges of the usual line", () => {
  for (const [text, expected] of [
    ["\tc.05 3\n", [{ kind: "note", key: 60, ticks: 3 }]],
    [
      "\twait 123456789012345678\n",
      [{ kind: "wait", ticks: Number.parseInt("123456789012345678", 10) }],
    ],
    [
      "\tc.5 00009007199254740993123\n",
      [{ kind: "note", key: 60, ticks: Number.parseInt("9007199254740993123", 10) }],
    ],
    ["\tds21 1", [{ kind: "note", key: 255, ticks: 1 }]],
    ["\tg.21 1\n", "line 1: key above 255"],
    [
      "\ta.5 1\r\n\r\n\tend\r\n",
      [
        { kind: "note", key: 69 },
        { kind: "end", line: 3 },
      ],
    ],
    ["\tc.5 1\r", "line 1: not a comment"],
    ["\tc.5 1\r\r\n", "line 1: not a comment"],
    ["\tc.5 \n", "line 1: not a comment"],
    ["\tc.022 1\n", "line 1: key above 255"],
    ["\tes1 1\n", "line 1: no such note"],
    ["\twait 1 \n", "line 1: not a comment"],
    ["\tend\n\tEND\n", "line 2: not a comment"],
  ]) {
    if (typeof expected === "string") {
      expect(() => parseScript(text), JSON.stringify(text)).toThrow(expected);
    } else {
      const items = parseScript(text).items;
      expect(items, JSON.stringify(text)).toHaveLength(expected.length);
      expected.forEach((fields, i) => expect(items[i]).toMatchObject(fields));
    }
  }
});

// Sounding scripts: one square voice per script, each line exactly its ticks.
const script = (text) => ({ name: "s.txt", bytes: new TextEncoder().encode(text) });
const zeroCrossings = (samples, from, to) => {
  let count = 0;
  for (let i = from + 1; i < to; ++i) {
    count += Math.sign(samples[i]) !== Math.sign(samples[i - 1]) ? 1 : 0;
  }
  return count;
};

test("renderPreview: length, silence, pitch and mix", () => {
  const rate = 44100;
  for (const [key, hz] of [
    [33, 55],
    [69, 440],
    [105, 3520],
  ]) {
    const name = ["c.", "cs", "d.", "ds", "e.", "f.", "fs", "g.", "gs", "a.", "as", "b."][key % 12];
    const samples = renderPreview(
      [script(`\twait 7\n\t${name}${Math.floor(key / 12)} 60\n\trest 13\n`)],
      60,
      rate,
    );
    expect(samples.length).toBe(Math.round((80 / 60) * rate));
    const noteFrom = Math.round((7 / 60) * rate);
    const noteTo = Math.round((67 / 60) * rate);
    expect(samples.subarray(0, noteFrom).every((v) => v === 0)).toBe(true);
    expect(samples.subarray(noteTo).every((v) => v === 0)).toBe(true);
    // A square wave crosses zero twice a period: one second of it, 2 × hz times.
    expect(Math.abs(zeroCrossings(samples, noteFrom, noteTo) - 2 * hz)).toBeLessThanOrEqual(2);
  }
  const mixed = renderPreview([script("\tc.5 50\n"), script("\tg.5 25\n\ta.4 25\n")], 50, 8000);
  expect(mixed.length).toBe(8000);
  expect(mixed.every((v) => v >= -1 && v <= 1)).toBe(true);
  // Both voices sound: in phase they reach the full mix level.
  expect(mixed.some((v) => Math.abs(v) > 0.8)).toBe(true);
});

// A script on MIDI channel 10 plays noise: bursts that fade within their
// drum's length (a bass drum's shorter than a crash's), not a square at the
// key's pitch.
test("renderPreview: a drum script's hits are bursts of noise", () => {
  const rate = 44100;
  const drum = (key) => ({ ...script(`\t${key} 60\n`), channel: 9 });
  const kick = renderPreview([drum("c.3")], 60, rate); // key 36
  const crash = renderPreview([drum("cs4")], 60, rate); // key 49
  const square = renderPreview([script("\tc.3 60\n")], 60, rate);
  const sounding = (samples) => samples.findLastIndex((v) => v !== 0) / rate;
  expect(sounding(kick)).toBeLessThan(0.1);
  expect(sounding(crash)).toBeGreaterThan(0.3);
  expect(sounding(square)).toBeGreaterThan(0.99);
  // Noise is no square wave: its level changes far more often than 2 × 65 Hz.
  expect(zeroCrossings(crash, 0, rate / 4)).toBeGreaterThan(1000);
});

// What a conversion loses, on files whose numbers are known by construction
// (96 ticks a quarter at 120 a minute and 60 Hz: a quarter is 30 driver ticks).
const on = (delta, key, channel = 0) => [delta, 0x90 | channel, key, 100];
const off = (delta, key, channel = 0) => [delta, 0x80 | channel, key, 0];
const tempo = (delta, micros) => [
  delta,
  0xff,
  0x51,
  3,
  micros >> 16,
  (micros >> 8) & 0xff,
  micros & 0xff,
];
const losses = [
  // Struck together: only the last of a chord sounds, for its whole length.
  [
    "a chord",
    song(0, [[on(0, 60), on(0, 64), on(0, 67), off(96, 60), off(0, 64), off(0, 67)]]),
    [],
    {
      "s_0_0.txt": {
        fileNotes: 3,
        heardInFull: 1,
        cutShort: 0,
        neverHeard: 2,
        silentLines: 2,
        timingError: 0,
      },
    },
  ],
  // Each script of a run starts afresh: channel 1's chord is not heard from
  // what channel 0's script played before it.
  [
    "scripts one after another",
    song(0, [
      [
        ...[on(0, 60), on(0, 67, 1), on(0, 71, 1), off(96, 60), off(0, 67, 1), off(0, 71, 1)],
        ...[on(0, 62), off(96, 62), on(0, 64), off(96, 64)],
      ],
    ]),
    [],
    {
      "s_0_0.txt": { fileNotes: 3, heardInFull: 3 },
      "s_0_1.txt": { fileNotes: 2, heardInFull: 1, neverHeard: 1 },
    },
  ],
  // Lengths rounded to whole driver ticks lose less than one: nothing.
  [
    "rounding",
    song(0, [[on(0, 60), off(100, 60)]]),
    [],
    { "s_0_0.txt": { heardInFull: 1, cutShort: 0, timingError: 0 } },
  ],
  // A held note stops where the next starts; that one stops at the held note's end.
  [
    "a held note cut by a later one",
    song(0, [[on(0, 48), on(48, 60), off(48, 48), off(48, 60)]]),
    [],
    {
      "s_0_0.txt": {
        fileNotes: 2,
        heardInFull: 0,
        cutShort: 2,
        neverHeard: 0,
        silentLines: 0,
        secondsCutShort: 0.5,
      },
    },
  ],
  // Track 1 starts at the tempo track 0 ended on (twice as fast): its first
  // note lasts half its length, and its second comes 0.25 s (15 driver ticks)
  // early, too far to be its note.
  [
    "a tempo carried from track 0",
    song(1, [
      [tempo(0, 500000), tempo(96, 250000)],
      [on(0, 60), off(96, 60), on(96, 62), off(96, 62)],
    ]),
    [],
    {
      "s_0.txt": { fileNotes: 0, heardInFull: 0 },
      "s_1_0.txt": {
        fileNotes: 2,
        heardInFull: 0,
        cutShort: 1,
        neverHeard: 1,
        secondsCutShort: 0.25,
        timingError: 250,
      },
    },
  ],
  // A whole-track script takes the notes of every channel.
  [
    "a whole-track script",
    song(0, [[on(0, 60, 0), on(0, 64, 1), off(96, 60, 0), off(0, 64, 1)]]),
    ["-p"],
    { "s_0.txt": { fileNotes: 2, heardInFull: 1, cutShort: 0, neverHeard: 1, silentLines: 1 } },
  ],
];

// The notes come from the converter's own reader: a file it cannot load has
// none, though a reader of its own would find them.
test("fileNotes: none of a file the converter cannot load", async () => {
  expect(await fileNotes(demo.subarray(0, demo.length - 20))).toBeNull();
  expect((await fileNotes(demo)).map((track) => track.length)).toEqual([0, 9, 16]);
});

// The core hands its notes over in a callback: a script that cannot be read
// still fails the report, naming its line.
test("lossReport: a broken script fails it, naming the line", async () => {
  const script = {
    name: "s.txt",
    bytes: new TextEncoder().encode("\tc.5 1\nhello\n"),
    track: 1,
    channel: 0,
  };
  await expect(lossReport(demo, { driverFrequency: 60, scripts: [script] })).rejects.toThrow(
    /^line 2: not a comment, timed line or end: "hello"$/,
  );
});

// Twenty tempo changes, 96 ticks apart, 120 and 240 a minute in turn: a note
// is timed across as many as it spans, from wherever it starts.
test("fileNotes: notes timed across many tempo changes", async () => {
  const changes = Array.from({ length: 20 }, (_, i) =>
    tempo(i === 0 ? 0 : 96, i % 2 ? 250000 : 500000),
  );
  const notes = [on(48, 60), on(960, 62), off(912, 60), off(0, 62)];
  const [, track] = await fileNotes(song(1, [changes, notes]));
  expect(track.map(({ start, end }) => [start, end])).toEqual([
    [0.25, 7.5],
    [4, 7.5],
  ]);
});

// The nearest note of the key, searched from where the last search ended:
// far ahead, back again, and between two (the earlier at a tie); a line
// further than 1.5 driver ticks from every note of its key plays none. At 8
// Hz a tick is 0.125 s, and the notes start every 0.25 s.
test("compareNotes: each line plays the nearest note of its key, if near enough", () => {
  const file = Array.from({ length: 20 }, (_, i) => ({ key: 60, start: i / 4, end: i / 4 + 0.5 }));
  const line = (startTick, ticks) => ({ line: 1, kind: "note", key: 60, startTick, ticks });
  const items = [line(38, 4), line(4, 4), line(21, 2), line(30, 0), line(80, 4)];
  const { lost, ...loss } = compareNotes(file, items, 8);
  expect(loss).toEqual({
    fileNotes: 20,
    heardInFull: 2,
    cutShort: 1,
    secondsCutShort: 0.25,
    neverHeard: 17,
    silentLines: 1,
    timingError: 5250,
  });
  expect(file.filter((n) => !lost.has(n)).map((n) => n.start)).toEqual([0.5, 4.75]);
});

// A note held across a change of tempo: its voice carries a tempo map of its
// own, in format 2, as the native arranger writes it; with --format 1, not.
test("arrange: a note held across a change of tempo", async () => {
  const source = song(0, [[on(0, 60), tempo(48, 1000000), off(48, 60), on(0, 62), off(96, 62)]]);
  const own = await arrange("t.mid", source);
  expect(own).toEqual(expect.objectContaining({ notesAcrossTempo: 1, ownTempoMaps: true }));
  expect((own.bytes[8] << 8) | own.bytes[9]).toBe(2);
  const native = runNative("t.mid", source, [], nativeArranger);
  expect(Buffer.from(own.bytes).toString("base64")).toBe(native.scripts["t-arranged.mid"]);
  const one = await arrange("t.mid", source, ["--format", "1"]);
  expect(one).toEqual(expect.objectContaining({ notesAcrossTempo: 1, ownTempoMaps: false }));
  expect((one.bytes[8] << 8) | one.bytes[9]).toBe(1);
});

// A part doubled in unison on two channels of one track: each voice is
// counted against its own channel's notes, so every note is heard.
test("arrangedLossReport: a part doubled on two channels", async () => {
  const both = (key) => [on(0, key, 0), on(0, key, 1), off(96, key, 0), off(0, key, 1)];
  const source = song(0, [[...both(60), ...both(62)]]);
  const arranged = await arrange("d.mid", source);
  const result = await convert(arranged.name, arranged.bytes, ["-p"]);
  const { tracks, totals } = await arrangedLossReport(source, arranged.parts, result);
  expect(tracks).toEqual([expect.objectContaining({ track: 0, fileNotes: 4, heardInFull: 4 })]);
  expect(totals).toEqual(expect.objectContaining({ fileNotes: 4, heardInFull: 4, neverHeard: 0 }));
});

for (const [what, bytes, args, expected] of losses) {
  test(`lossReport: ${what}`, async () => {
    const report = await lossReport(bytes, await convert("s.mid", bytes, args));
    const byName = Object.fromEntries(report.scripts.map((s) => [s.name, s]));
    for (const [name, numbers] of Object.entries(expected)) {
      for (const [field, value] of Object.entries(numbers)) {
        expect(byName[name][field], `${name} ${field}`).toBeCloseTo(value, 6);
      }
    }
  });
}

test("lossReport on the shared files: every file note in one of three, silent lines apart", async () => {
  const files = sampleFiles().filter((_, i) => i % 5 === 0);
  test.skip(files.length === 0, "no shared MIDI files");
  for (const file of files) {
    const bytes = readFileSync(file);
    const result = await convert("in.mid", bytes, []);
    const { scripts, totals } = await lossReport(bytes, result);
    scripts.forEach((loss, i) => {
      expect(loss.heardInFull + loss.cutShort + loss.neverHeard, `${file} ${loss.name}`).toBe(
        loss.fileNotes,
      );
      const lines = Buffer.from(result.scripts[i].bytes).toString("latin1").split("\n");
      const silent = lines.filter((line) => /^\t[a-g][.s]\d+ 0\r?$/.test(line)).length;
      expect(loss.silentLines, `${file} ${loss.name}`).toBe(silent);
    });
    expect(totals.heardInFull + totals.cutShort + totals.neverHeard).toBe(totals.fileNotes);
  }
});
