// The mid2nolt module in the browser against the native binary: console,
// exit status and every script, byte for byte.
import { readFileSync } from "node:fs";
import { basename, join } from "node:path";
import { expect, test } from "@playwright/test";
import { repo, runNative, sampleFiles, songWithText } from "./native.js";

// Converts in the page through the module; scripts come back as base64.
async function convertInPage(page, name, bytes, args) {
  return page.evaluate(
    async ({ name, bytes, args }) => {
      const { convert } = await import("./mid2nolt.mjs");
      const result = await convert(name, Uint8Array.from(atob(bytes), (c) => c.charCodeAt(0)), args);
      const toBase64 = (b) => btoa(Array.from(b, (x) => String.fromCharCode(x)).join(""));
      return { ...result, scripts: result.scripts.map((s) => ({ name: s.name, bytes: toBase64(s.bytes) })) };
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
const demo = readFileSync(join(repo, "examples/demo.mid"));
// A handful of the shared real files, spread over the whole set.
const samples = sampleFiles().filter((_, i, all) => i % Math.ceil(all.length / 6) === 0);

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
    const runs = await Promise.all([convert("demo.mid", source, ["-p", "-f1"]), convert("demo.mid", source, [])]);
    return runs.map((r) => r.scripts.map((s) => s.name).join(" "));
  }, demo.toString("base64"));
  expect(packed).toBe("demo_0.txt demo_1.txt demo_2.txt");
  expect(perChannel).toBe("demo_0.txt demo_1_0.txt demo_2_1.txt demo_2_9.txt");
});
