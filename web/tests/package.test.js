// The npm package as a consumer takes it: the tarball installed into an empty
// project, imported by name from node and, bundled by esbuild, from a page;
// publint and attw on it.
import { execFileSync } from "node:child_process";
import { mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { basename, join } from "node:path";
import { expect, test } from "@playwright/test";
import { build } from "esbuild";
import { nativeArranger, repo, runNative, sampleFiles } from "./native.js";

// The build's tarball, or another (a release's).
const tarball =
  process.env.MID2NOLT_NPM_TARBALL ??
  join(
    repo,
    "build/npm",
    readdirSync(join(repo, "build/npm")).find((f) => f.endsWith(".tgz")),
  );
const bin = (tool) => join(repo, "web/node_modules/.bin", tool);
const demo = readFileSync(join(repo, "examples/demo.mid"));
// The example and a few shared files, each with two option sets.
const jobs = [["demo.mid", demo]]
  .concat(
    sampleFiles()
      .filter((_, i, all) => i % Math.ceil(all.length / 4) === 0)
      .map((f) => [basename(f), readFileSync(f)]),
  )
  .flatMap(([name, bytes]) =>
    [[], ["-p", "-f50"]].map((args) => ({ name, bytes: bytes.toString("base64"), args })),
  );
// Frequencies as the command line reads them, past 32 bits and signs included.
const frequencies = [
  ["-f60", 60],
  ["-f-1", 4294967295],
  ["-f4294967296", 0],
  ["-f99999999999999999999", 4294967295],
  ["-f18446744073709551615", 4294967295],
  ["-f 7x", 7],
  ["-fast", null],
];
for (const [option] of frequencies) {
  jobs.push({ name: "demo.mid", bytes: demo.toString("base64"), args: [option] });
}

const arrangeOptions = [[], ["--channels", "4"]];

// The same conversions in the consumer's code, wherever it runs.
const consumer = `
import { arrange, convert, init } from "mid2nolt";
export async function convertAll(jobs) {
  const results = [];
  for (const { name, bytes, args } of jobs) {
    const source = Uint8Array.from(atob(bytes), (c) => c.charCodeAt(0));
    const r = await convert(name, source, args);
    const base64 = (b) => btoa(Array.from(b, (x) => String.fromCharCode(x)).join(""));
    results.push({ ...r, scripts: r.scripts.map((s) => ({ ...s, bytes: base64(s.bytes) })) });
  }
  return results;
}
export async function arrangeDemo(bytes) {
  const source = Uint8Array.from(atob(bytes), (c) => c.charCodeAt(0));
  const results = [];
  for (const args of ${JSON.stringify(arrangeOptions)}) {
    const r = await arrange("demo.mid", source, args);
    results.push({ ...r, bytes: btoa(Array.from(r.bytes, (x) => String.fromCharCode(x)).join("")) });
  }
  return results;
}
export { init };
`;

function expectSameAsNative(results) {
  expect(results.length).toBe(jobs.length);
  results.forEach((result, i) => {
    const { name, bytes, args } = jobs[i];
    const native = runNative(name, Buffer.from(bytes, "base64"), args);
    expect([result.stdout, result.stderr, result.exitStatus]).toEqual([
      native.stdout,
      native.stderr,
      native.exitStatus,
    ]);
    expect(Object.fromEntries(result.scripts.map((s) => [s.name, s.bytes]))).toEqual(
      native.scripts,
    );
    for (const { name: script, track, channel } of result.scripts) {
      expect(script).toBe(
        `${name.slice(0, -4)}_${track}${channel === null ? "" : `_${channel}`}.txt`,
      );
    }
    const frequency = frequencies.find(([option]) => args.length === 1 && args[0] === option);
    expect(result.driverFrequency).toBe(frequency ? frequency[1] : args.includes("-f50") ? 50 : 60);
  });
}

// The example arranged, and fitted to 4 channels, against the native arranger.
function expectArrangedAsNative(results) {
  expect(results.length).toBe(arrangeOptions.length);
  results.forEach((result, i) => {
    const native = runNative("demo.mid", demo, arrangeOptions[i], nativeArranger);
    expect([result.stdout, result.stderr, result.exitStatus]).toEqual([
      native.stdout,
      native.stderr,
      native.exitStatus,
    ]);
    expect({ [result.name]: result.bytes }).toEqual(native.scripts);
  });
}

let project;
test.beforeAll(() => {
  project = mkdtempSync(join(tmpdir(), "mid2nolt-consumer-"));
  writeFileSync(
    join(project, "package.json"),
    JSON.stringify({ name: "consumer", private: true, type: "module" }),
  );
  execFileSync("npm", ["install", "--prefer-offline", "--no-audit", "--no-fund", tarball], {
    cwd: project,
    stdio: "pipe",
  });
  writeFileSync(join(project, "consumer.mjs"), consumer);
});
test.afterAll(() => rmSync(project, { recursive: true, force: true }));

test("installed from its tarball, it converts and arranges in node as the native binaries do", () => {
  writeFileSync(join(project, "jobs.json"), JSON.stringify(jobs));
  const script = `import { readFileSync } from "node:fs"; import { arrangeDemo, convertAll } from "./consumer.mjs";
    process.stdout.write(JSON.stringify({
      converted: await convertAll(JSON.parse(readFileSync("jobs.json", "utf8"))),
      arranged: await arrangeDemo("${demo.toString("base64")}"),
    }));`;
  const output = execFileSync(process.execPath, ["--input-type=module", "-e", script], {
    cwd: project,
    maxBuffer: 1 << 28,
  });
  const { converted, arranged } = JSON.parse(output);
  expectSameAsNative(converted);
  expectArrangedAsNative(arranged);
});

test("bundled by esbuild into a page, it converts and arranges in Chromium as the native binaries do", async ({
  page,
}) => {
  const dist = join(project, "dist");
  mkdirSync(dist, { recursive: true });
  writeFileSync(
    join(project, "page.mjs"),
    `import { arrangeDemo, convertAll, init } from "./consumer.mjs";
    import wasmUrl from "mid2nolt/mid2nolt-core.wasm";
    init(wasmUrl);
    window.arrangeDemo = arrangeDemo;
    window.convertAll = convertAll;`,
  );
  await build({
    entryPoints: [join(project, "page.mjs")],
    bundle: true,
    format: "esm",
    platform: "browser",
    outdir: dist,
    loader: { ".wasm": "file" },
    absWorkingDir: project,
    logLevel: "error",
  });
  const files = Object.fromEntries(readdirSync(dist).map((f) => [f, readFileSync(join(dist, f))]));
  files["index.html"] = Buffer.from('<!doctype html><script type="module" src="page.js"></script>');
  // Served from a path of the test server's origin, straight from the bundle.
  await page.route("**/consumer/*", (route) => {
    const file = new URL(route.request().url()).pathname.split("/").pop();
    const type = file.endsWith(".js")
      ? "text/javascript"
      : file.endsWith(".wasm")
        ? "application/wasm"
        : "text/html";
    return files[file]
      ? route.fulfill({ body: files[file], contentType: type })
      : route.fulfill({ status: 404 });
  });
  await page.goto("consumer/index.html");
  await page.waitForFunction(() => typeof window.convertAll === "function");
  expectSameAsNative(await page.evaluate((all) => window.convertAll(all), jobs));
  expectArrangedAsNative(
    await page.evaluate((b) => window.arrangeDemo(b), demo.toString("base64")),
  );
});

test("publint and attw find nothing to report", () => {
  const root = join(project, "node_modules/mid2nolt");
  execFileSync(bin("publint"), ["--strict", root], { stdio: "pipe" });
  execFileSync(bin("attw"), [tarball, "--profile", "esm-only", "--entrypoints", "."], {
    stdio: "pipe",
  });
});
