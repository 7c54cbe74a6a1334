// The page as a user meets it: choose a file, read the console, list, view and
// download scripts, all from its own origin and under its security policy.
import { copyFileSync, mkdtempSync, readdirSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { basename, join } from "node:path";
import { pathToFileURL } from "node:url";
import { expect, test } from "@playwright/test";
import { unzipSync } from "fflate";
import { repo, runNative, sampleFiles, songWithText } from "./native.js";

const demo = readFileSync(join(repo, "examples/demo.mid"));

// Fails the test on any request to another host (or file, for a page opened
// from disk) and on any policy violation.
function guard(page, home = "http://127.0.0.1:8737/") {
  const problems = [];
  page.on("request", (request) => {
    const url = new URL(request.url());
    if (!["blob:", "data:"].includes(url.protocol) && !url.href.startsWith(home)) {
      problems.push(`request to ${request.url()}`);
    }
  });
  page.on("console", (message) => {
    if (message.type() === "error") {
      problems.push(message.text());
    }
  });
  page.on("pageerror", (error) => problems.push(error.message));
  page.on("dialog", (dialog) => problems.push(`dialog: ${dialog.message()}`));
  return problems;
}

async function choose(page, name, bytes) {
  const converted = await page.locator("body").getAttribute("data-converted");
  await page.setInputFiles("#source-file", {
    name,
    mimeType: "audio/midi",
    buffer: Buffer.from(bytes),
  });
  await expect(page.locator("body")).not.toHaveAttribute("data-converted", converted ?? "none");
}

test("convert the example as a user, download a script, and see it on a phone", async ({
  page,
}) => {
  const problems = guard(page);
  await page.goto("index.html");
  await page.getByLabel("Packing mode").uncheck();
  await choose(page, "demo.mid", demo);

  const native = runNative("demo.mid", demo, ["-f60"]);
  await expect(page.locator("#console")).toHaveText(
    `${native.stdout}${native.stderr}[exit status 0]`,
    {
      useInnerText: false,
    },
  );
  const names = Object.keys(native.scripts).sort();
  await expect(page.locator("#script-list tbody tr td:first-child")).toHaveText(names);

  const [download] = await Promise.all([
    page.waitForEvent("download"),
    page.getByRole("button", { name: "Download demo_1_0.txt" }).click(),
  ]);
  expect(download.suggestedFilename()).toBe("demo_1_0.txt");
  expect(readFileSync(await download.path()).toString("base64")).toBe(
    native.scripts["demo_1_0.txt"],
  );

  await page.getByRole("button", { name: "View demo_2_9.txt" }).click();
  await expect(page.locator("#script-text")).toHaveText(
    Buffer.from(native.scripts["demo_2_9.txt"], "base64").toString(),
  );
  await page.screenshot({ path: "../build/web-page.png", fullPage: true });

  // The piano roll draws one bar per note line of nonzero ticks.
  const script = (name) => Buffer.from(native.scripts[name], "base64").toString();
  await page.getByRole("button", { name: "View demo_1_0.txt" }).click();
  const noteLines = script("demo_1_0.txt")
    .split("\n")
    .filter((line) => /^\t[a-g][.s]\d+ [1-9]/.test(line));
  await expect(page.locator("#piano-roll")).toHaveAttribute("data-notes", String(noteLines.length));
  expect(
    Number(await page.locator("#piano-roll").getAttribute("data-ghost-notes")),
  ).toBeGreaterThan(0);
  await page.locator("#roll-frame").screenshot({ path: "../build/web-piano-roll.png" });

  // The preview as WAV: 16-bit mono PCM as long as the longest script.
  const [wav] = await Promise.all([
    page.waitForEvent("download"),
    page.getByRole("button", { name: "Download WAV" }).click(),
  ]);
  const bytes = readFileSync(await wav.path());
  const longest = Math.max(
    ...names.map((name) => Number(/Total Track Ticks : (\d+)/.exec(script(name))[1])),
  );
  const samples = Math.round((longest / 60) * 44100);
  expect(bytes.toString("latin1", 0, 4) + bytes.toString("latin1", 8, 16)).toBe("RIFFWAVEfmt ");
  expect([
    bytes.readUInt32LE(4),
    bytes.readUInt16LE(22),
    bytes.readUInt32LE(24),
    bytes.readUInt16LE(34),
  ]).toEqual([36 + 2 * samples, 1, 44100, 16]);
  expect(bytes.length).toBe(44 + 2 * samples);

  // Packing mode from the keyboard converts again.
  await page.getByLabel("Packing mode").focus();
  await page.keyboard.press("Space");
  await expect(page.locator("#script-list tbody tr")).toHaveCount(3);

  await page.setViewportSize({ width: 360, height: 740 });
  const overflow = await page.evaluate(
    () => document.documentElement.scrollWidth - window.innerWidth,
  );
  expect(overflow).toBeLessThanOrEqual(0);
  expect(problems).toEqual([]);
});

test("a dropped file converts like a chosen one", async ({ page }) => {
  await page.goto("index.html");
  await page.evaluate((base64) => {
    const transfer = new DataTransfer();
    const bytes = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
    transfer.items.add(new File([bytes], "dropped.mid", { type: "audio/midi" }));
    document
      .getElementById("drop-zone")
      .dispatchEvent(new DragEvent("drop", { dataTransfer: transfer, bubbles: true }));
  }, demo.toString("base64"));
  await expect(page.locator("#console")).toContainText(
    "Saving Track 2, Channel 9 to NOLT Script : dropped_2_9.txt",
  );
});

test("text from the file is shown as text, never as markup", async ({ page }) => {
  const problems = guard(page);
  await page.goto("index.html");
  const text = "<img src=x onerror=alert(1)>";
  await choose(page, "<b>song</b>.mid", songWithText(text));
  await expect(page.locator("#script-text")).toContainText(`; ${text}`);
  await expect(page.locator("#script-list tbody td").first()).toHaveText("<b>song</b>_0_0.txt");
  await expect(page.locator("img, b")).toHaveCount(0);
  expect(problems).toEqual([]);
});

test("the one-file page, alone in a folder and opened from disk, converts as the native binary", async ({
  page,
}) => {
  const site = join(repo, "build/web");
  const built = join(
    site,
    readdirSync(site).find((name) => /^mid2nolt-.*\.html$/.test(name)),
  );
  const onePage = process.env.MID2NOLT_ONE_FILE_PAGE ?? built;
  const file = basename(onePage);
  const folder = mkdtempSync(join(tmpdir(), "mid2nolt-one-file-"));
  copyFileSync(onePage, join(folder, file));
  const url = pathToFileURL(join(folder, file)).href;
  const problems = guard(page, url);
  const sample = sampleFiles()[0];
  const runs = [["demo.mid", demo, false, "60"]];
  if (sample !== undefined) {
    runs.push(["sample.mid", readFileSync(sample), true, "50"]);
  }
  for (const [name, bytes, packing, frequency] of runs) {
    // Options set before a file is chosen convert nothing yet.
    await page.goto(url);
    await page.getByLabel("Packing mode").setChecked(packing);
    await page.getByLabel("Driver frequency").fill(frequency);
    await choose(page, name, bytes);
    const native = runNative(name, bytes, [...(packing ? ["-p"] : []), `-f${frequency}`]);
    await expect(page.locator("#console")).toHaveText(
      `${native.stdout}${native.stderr}[exit status ${native.exitStatus}]`,
      { useInnerText: false },
    );
    const [zip] = await Promise.all([
      page.waitForEvent("download"),
      page.locator("#download-all").click(),
    ]);
    const scripts = unzipSync(readFileSync(await zip.path()));
    expect(
      Object.fromEntries(
        Object.entries(scripts).map(([n, b]) => [n, Buffer.from(b).toString("base64")]),
      ),
    ).toEqual(native.scripts);
    // The preview is made in the page's worker too: one bar per sounding note line.
    const last = page.locator("#script-list tbody tr").last();
    const shown = await last.locator("td").first().textContent();
    await last.getByRole("button", { name: `View ${shown}` }).click();
    const lines = Buffer.from(native.scripts[shown], "base64").toString().split("\n");
    const notes = lines.filter((line) => /^\t[a-g][.s]\d+ [1-9]/.test(line)).length;
    await expect(page.locator("#piano-roll")).toHaveAttribute("data-notes", String(notes));
  }
  rmSync(folder, { recursive: true, force: true });
  expect(problems).toEqual([]);
});
