// Times the browser build against the native binary on the 2-million-note
// benchmark input, in one run, and prints medians and ratios. The page's
// module converts in headless Chromium; the native binary runs beside it.
//
//   make web release && cmake --build --preset release --target gen_midi
//   node bench/web.mjs            (RUNS=5 node bench/web.mjs for more runs)
import { execFileSync } from "node:child_process";
import {
  existsSync,
  mkdirSync,
  mkdtempSync,
  readFileSync,
  rmSync,
  copyFileSync,
} from "node:fs";
import { createServer } from "node:http";
import { tmpdir } from "node:os";
import { extname, join } from "node:path";
import { fileURLToPath } from "node:url";
import { chromium } from "../web/node_modules/playwright-core/index.mjs";

const root = fileURLToPath(new URL("..", import.meta.url));
const runs = Number(process.env.RUNS ?? 3);
const native = join(root, "build/release/src/mid2nolt");
const input = join(root, "build/bench-data/a-explicit.mid");
if (!existsSync(input)) {
  mkdirSync(join(root, "build/bench-data"), { recursive: true });
  execFileSync(join(root, "build/release/bench/gen_midi"), [
    "explicit",
    "2000000",
    input,
  ]);
}

const types = {
  ".html": "text/html",
  ".mjs": "text/javascript",
  ".js": "text/javascript",
  ".css": "text/css",
  ".wasm": "application/wasm",
  ".svg": "image/svg+xml",
};
const server = createServer((request, response) => {
  const file = join(
    root,
    "build/web",
    new URL(request.url, "http://x").pathname,
  );
  try {
    response.writeHead(200, {
      "content-type": types[extname(file)] ?? "application/octet-stream",
    });
    response.end(readFileSync(file));
  } catch {
    response.writeHead(404).end();
  }
});
await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));

const median = (values) =>
  values.sort((a, b) => a - b)[Math.floor(values.length / 2)];

function timeNative(args) {
  const dir = mkdtempSync(join(tmpdir(), "mid2nolt-bench-"));
  copyFileSync(input, join(dir, "in.mid"));
  const times = [];
  for (let i = 0; i < runs; ++i) {
    const start = performance.now();
    execFileSync(native, ["in.mid", ...args], { cwd: dir, stdio: "ignore" });
    times.push((performance.now() - start) / 1000);
  }
  rmSync(dir, { recursive: true, force: true });
  return median(times);
}

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM ?? "/usr/bin/chromium",
  args: [
    "--no-sandbox",
    "--disable-gpu",
    "--disable-background-networking",
    "--disable-component-update",
  ],
});
const page = await browser.newPage();
await page.goto(`http://127.0.0.1:${server.address().port}/index.html`);
const bytes = readFileSync(input);
await page.evaluate(async (base64) => {
  globalThis.source = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
}, bytes.toString("base64"));

async function timePage(args) {
  const times = await page.evaluate(
    async ({ args, runs }) => {
      const { convert } = await import("./mid2nolt.mjs");
      await convert("warm.mid", new Uint8Array(0), []);
      const times = [];
      for (let i = 0; i < runs; ++i) {
        const start = performance.now();
        const result = await convert("in.mid", globalThis.source, args);
        if (result.exitStatus !== 0) throw new Error(result.stderr);
        times.push((performance.now() - start) / 1000);
      }
      return times;
    },
    { args, runs },
  );
  return median(times);
}

console.log(
  `input: ${input} (${(bytes.length / 2 ** 20).toFixed(1)} MiB), median of ${runs} runs`,
);
console.log("| options | native | page (WebAssembly) | page / native |");
console.log("|---|---|---|---|");
for (const args of [["-p"], []]) {
  const n = timeNative(args);
  const w = await timePage(args);
  console.log(
    `| ${args.join(" ") || "(none)"} | ${n.toFixed(3)} s | ${w.toFixed(3)} s | ${(w / n).toFixed(2)} |`,
  );
}

// What a conversion loses, counted beside the conversion itself, in the page
// and in node: the module's lossReport on the module's own result.
async function lossInPage(args) {
  return page.evaluate(
    async ({ args, runs }) => {
      const { convert, lossReport } = await import("./mid2nolt.mjs");
      const conversions = [];
      const losses = [];
      for (let i = 0; i < runs; ++i) {
        let start = performance.now();
        const result = await convert("in.mid", globalThis.source, args);
        conversions.push((performance.now() - start) / 1000);
        start = performance.now();
        await lossReport(globalThis.source, result);
        losses.push((performance.now() - start) / 1000);
      }
      return [conversions, losses];
    },
    { args, runs },
  );
}

async function lossInNode(args) {
  const { convert, lossReport } = await import("../build/web/mid2nolt.mjs");
  const conversions = [];
  const losses = [];
  for (let i = 0; i < runs; ++i) {
    let start = performance.now();
    const result = await convert("in.mid", bytes, args);
    conversions.push((performance.now() - start) / 1000);
    start = performance.now();
    await lossReport(bytes, result);
    losses.push((performance.now() - start) / 1000);
  }
  return [conversions, losses];
}

console.log(
  "\n| where | options | conversion | lossReport | loss / conversion |",
);
console.log("|---|---|---|---|---|");
for (const args of [["-p"], []]) {
  for (const [where, measure] of [
    ["page", lossInPage],
    ["node", lossInNode],
  ]) {
    const [conversions, losses] = await measure(args);
    const c = median(conversions);
    const l = median(losses);
    console.log(
      `| ${where} | ${args.join(" ") || "(none)"} | ${c.toFixed(3)} s | ${l.toFixed(3)} s | ${(l / c).toFixed(2)} |`,
    );
  }
}
// The page as a person uses it: the file chosen, until the scripts and what
// each loses are shown; converted as it is, arranged first, and fitted to 4
// channels. Progress shows while a step takes over a second.
async function timeFlow(arrange, channels) {
  const times = [];
  for (let i = 0; i < runs; ++i) {
    const flow = await browser.newPage();
    await flow.goto(`http://127.0.0.1:${server.address().port}/index.html`);
    if (arrange) await flow.getByLabel("Arrange for the driver first").check();
    if (channels)
      await flow.getByLabel(/^Fit to driver channels/).fill(channels);
    const start = performance.now();
    await flow.setInputFiles("#source-file", input);
    await flow.waitForSelector("body[data-converted]", { timeout: 600000 });
    times.push((performance.now() - start) / 1000);
    await flow.close();
  }
  return median(times);
}
const plainFlow = await timeFlow(false, "");
console.log("\n| the page, file chosen to losses shown | time | / plain |");
console.log("|---|---|---|");
console.log(`| converted as it is | ${plainFlow.toFixed(3)} s | 1.00 |`);
for (const [what, channels] of [
  ["arranged first", ""],
  ["fitted to 4 channels", "4"],
]) {
  const t = await timeFlow(true, channels);
  console.log(
    `| ${what} | ${t.toFixed(3)} s | ${(t / plainFlow).toFixed(2)} |`,
  );
}
await browser.close();
server.close();
