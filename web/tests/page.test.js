// The page as a user meets it: choose a file, read the console, list, view and
// download scripts, all from its own origin and under its security policy.
import { copyFileSync, mkdtempSync, readdirSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { basename, join } from "node:path";
import { pathToFileURL } from "node:url";
import { expect, test } from "@playwright/test";
import { unzipSync } from "fflate";
import AxeBuilder from "@axe-core/playwright";
import { fileNotes, parseScript, playedNotes } from "../../build/web/mid2nolt.mjs";
import { nativeArranger, repo, runNative, sampleFiles, song, songWithText } from "./native.js";

const demo = readFileSync(join(repo, "examples/demo.mid"));

// Fails the test on any request to another host (or file, for a page opened
// from disk) and on any policy violation.
function guard(page, home = `http://127.0.0.1:${process.env.MID2NOLT_TEST_PORT}/`) {
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

  // On a phone the scripts are cards: nothing scrolls sideways, every button
  // is on the screen.
  for (const width of [360, 390]) {
    await page.setViewportSize({ width, height: 740 });
    const overflow = await page.evaluate(() => [
      document.documentElement.scrollWidth - window.innerWidth,
      ...[...document.querySelectorAll(".table-frame")].map((f) => f.scrollWidth - f.clientWidth),
    ]);
    expect(Math.max(...overflow)).toBeLessThanOrEqual(0);
    for (const button of await page.locator("#script-list button").all()) {
      const box = await button.boundingBox();
      expect(box.x + box.width).toBeLessThanOrEqual(width);
    }
  }
  await expect(page.locator("#script-list td[data-label='Notes in file']").first()).toBeVisible();
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
    // Focus leaving the frequency field for the click converted nothing again.
    await expect(page.locator("body")).toHaveAttribute("data-converted", "1");
    expect(await page.evaluate(() => document.body.hasAttribute("aria-busy"))).toBe(false);
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

// No serious or critical accessibility violation, at desktop and phone widths.
async function expectAccessible(page) {
  for (const [width, height] of [
    [1280, 900],
    [390, 844],
  ]) {
    await page.setViewportSize({ width, height });
    const { violations } = await new AxeBuilder({ page }).analyze();
    const serious = violations.filter((v) => ["serious", "critical"].includes(v.impact));
    expect(serious.map((v) => `${v.id}: ${v.nodes.map((n) => n.target).join(", ")}`)).toEqual([]);
  }
}

test("the first view: what each script loses, and the preview of the first script with notes", async ({
  page,
}) => {
  const problems = guard(page);
  await page.goto("index.html");
  await expectAccessible(page);
  await page.setViewportSize({ width: 1280, height: 900 });
  await choose(page, "demo.mid", demo);
  // demo_0.txt, the tempo track, has no notes: the preview opens on demo_1_0.txt.
  await expect(page.locator("#preview-name")).toHaveText("of demo_1_0.txt");
  await expect(page.locator("#script-list tr[aria-current]")).toContainText("demo_1_0.txt");
  await expect(page.locator("#script-list tbody tr").first()).toContainText("no notes");
  await expect(page.locator("#piano-roll")).toHaveAttribute(
    "aria-label",
    /Of \d+ notes in the file: \d+ heard in full/,
  );
  await expect(page.locator("#console-summary")).toHaveText(
    "Converted demo.mid: 4 scripts written.",
  );
  await page.screenshot({ path: "../build/web-first-view.png" });
  await page.locator("#roll-frame").screenshot({ path: "../build/web-piano-roll.png" });
  await expectAccessible(page);

  // Space plays and pauses; Stop is there only while something plays.
  await page.setViewportSize({ width: 1280, height: 900 });
  await expect(page.locator("#stop")).toBeDisabled();
  await page.locator("body").focus();
  await page.keyboard.press("Space");
  await expect(page.locator("#play-scripts")).toHaveAttribute("aria-pressed", "true");
  await expect(page.locator("#stop")).toBeEnabled();
  await page.keyboard.press("Space");
  await expect(page.locator("#play-scripts")).toHaveAttribute("aria-pressed", "false");
  await expect(page.locator("#stop")).toBeDisabled();

  // What the driver plays, as a MIDI file: a tempo track, then one track per
  // script with exactly its heard notes.
  const [exported] = await Promise.all([
    page.waitForEvent("download"),
    page.locator("#export-midi").click(),
  ]);
  expect(exported.suggestedFilename()).toBe("demo-as-played.mid");
  const tracks = await fileNotes(readFileSync(await exported.path()));
  const native = runNative("demo.mid", demo, ["-f60"]);
  const names = Object.keys(native.scripts);
  expect(tracks.length).toBe(names.length + 1);
  const order = ["demo_0.txt", "demo_1_0.txt", "demo_2_1.txt", "demo_2_9.txt"];
  order.forEach((name, i) => {
    const text = Buffer.from(native.scripts[name], "base64").toString("latin1");
    const played = playedNotes(parseScript(text).items, 60);
    const read = tracks[i + 1].map(({ key, start, end }) => ({ key, start, end }));
    expect(read.length, name).toBe(played.length);
    read.forEach((note, j) => {
      expect(note.key).toBe(played[j].key);
      expect(note.start).toBeCloseTo(played[j].start, 9);
      expect(note.end).toBeCloseTo(played[j].end, 9);
    });
  });
  expect(problems).toEqual([]);
});

test("a soloed WAV of a script that starts late holds its music, and says where it starts", async ({
  page,
}) => {
  // Track 2 begins after 11 minutes 40 seconds (192 MIDI ticks a second).
  const on = (delta, key) => [delta, 0x90, key, 100];
  const off = (delta, key) => [delta, 0x80, key, 0];
  const late = song(1, [[], [on(0, 60), off(96, 60)], [on(700 * 192, 67), off(192, 67)]]);
  await page.goto("index.html");
  await page.getByLabel("Packing mode").check();
  await choose(page, "late.mid", late);
  await page.getByLabel("Solo late_2.txt").check();
  const [wav] = await Promise.all([
    page.waitForEvent("download"),
    page.locator("#download-wav").click(),
  ]);
  expect(wav.suggestedFilename()).toBe("late-late_2-from-700s-preview.wav");
  const bytes = readFileSync(await wav.path());
  const samples = new Int16Array(bytes.buffer, bytes.byteOffset + 44, (bytes.length - 44) / 2);
  expect(samples.length).toBe(44100);
  expect(samples.some((v) => v !== 0)).toBe(true);
  await expect(page.locator("#audio-note")).toContainText("starts at 11:40");
  // Every voice muted: no WAV, and a word why.
  await page.getByLabel("Solo late_2.txt").uncheck();
  for (const name of ["late_0.txt", "late_1.txt", "late_2.txt"]) {
    await page.getByLabel(`Mute ${name}`).check();
  }
  await page.locator("#download-wav").click();
  await expect(page.locator("#audio-note")).toHaveText("No WAV: every voice is muted.");
});

test("the page's own warnings: frequencies no driver means, .midi names, a dropped file's name", async ({
  page,
}) => {
  await page.goto("index.html");
  for (const [typed, warning] of [
    ["-5", "-5 is read as 4294967291"],
    ["1.5", "1.5 is read as 1"],
    ["0", "every line is 0 ticks long"],
    ["50", ""],
  ]) {
    await page.getByLabel("Driver frequency").fill(typed);
    await choose(page, "song.midi", demo);
    await expect(page.locator("#frequency-warning")).toHaveText(
      warning === "" ? "" : new RegExp(warning),
    );
    await expect(page.locator("#frequency-warning")).toBeVisible({ visible: warning !== "" });
  }
  const native = runNative("song.mid", demo, ["-f50"]);
  await expect(page.locator("#console")).toHaveText(
    `(song.midi converted as song.mid)\n${native.stdout}[exit status 0]`,
    { useInnerText: false },
  );
  await page.evaluate((base64) => {
    const transfer = new DataTransfer();
    const bytes = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
    transfer.items.add(new File([bytes], "dropped.mid", { type: "audio/midi" }));
    const zone = document.getElementById("drop-zone");
    zone.dispatchEvent(new DragEvent("drop", { dataTransfer: transfer, bubbles: true }));
  }, demo.toString("base64"));
  await expect(page.locator("#source-name")).toContainText("dropped.mid");
  expect(await page.locator("#source-file").evaluate((input) => input.files[0].name)).toBe(
    "dropped.mid",
  );
});

// A note held across a change of tempo: the page says the arranged file is
// format 2, and why, beside its download.
test("arranged first: a file whose voices carry tempo maps of their own", async ({ page }) => {
  const problems = guard(page);
  const held = song(0, [
    [
      [0, 0x90, 60, 100],
      [48, 0xff, 0x51, 3, 0x0f, 0x42, 0x40],
      [48, 0x80, 60, 0],
      [0, 0x90, 62, 100],
      [96, 0x80, 62, 0],
    ],
  ]);
  await page.goto("index.html");
  await page.getByLabel("Arrange for the driver first").check();
  await choose(page, "held.mid", held);
  await expect(page.locator("#arranged-format")).toHaveText(
    "A MIDI file of format 2: tempo changes inside 1 sounding note(s), so each of their voices " +
      "carries a tempo map of its own, and its script keeps the file's time. For a sequencer " +
      "that plays only format 1, arrange with --format 1.",
  );
  expect(problems).toEqual([]);
});

// Nothing scrolls sideways and every script's buttons are in sight, at a
// desktop and a phone's width.
async function expectFitsWidth(page) {
  for (const [width, height] of [
    [1280, 900],
    [390, 844],
  ]) {
    await page.setViewportSize({ width, height });
    const overflow = await page.evaluate(() => [
      document.documentElement.scrollWidth - window.innerWidth,
      ...[...document.querySelectorAll(".table-frame:not([hidden]), #voices")].map(
        (f) => f.scrollWidth - f.clientWidth,
      ),
    ]);
    expect(Math.max(...overflow), `at ${width} px`).toBeLessThanOrEqual(0);
    for (const button of await page.locator("#script-list button").all()) {
      const box = await button.boundingBox();
      expect(box.x + box.width, `at ${width} px`).toBeLessThanOrEqual(width);
    }
  }
}

// Fitted to 3 driver channels: the channel table and the fit as the console
// gives them, the fitted file as the native arranger writes it, the melody
// chosen, a script per channel with mute and solo, and every view within the
// page's width.
test("arranged first and fitted to driver channels", async ({ page }) => {
  const problems = guard(page);
  await page.goto("index.html");
  await page.getByLabel("Arrange for the driver first").check();
  await page.getByLabel(/^Fit to driver channels/).fill("3");
  await choose(page, "demo.mid", demo);
  const native = runNative("demo.mid", demo, ["--channels", "3"], nativeArranger);
  await expect(page.locator("#arrange-command-line")).toHaveText(
    "$ mid2nolt-arrange demo.mid --channels 3",
  );
  await expect(page.locator("#arrange-console")).toHaveText(`${native.stdout}[exit status 0]`);
  const lines = native.stdout.split("\n").filter((line) => line.startsWith("Channel "));
  const rows = page.locator("#fit-table tbody tr");
  await expect(rows).toHaveCount(lines.length);
  for (const [i, line] of lines.entries()) {
    const [, role, notes, cut] = /^Channel \d+, ([^:]+) : ([\d,]+) note\(s\), ([\d,]+) cut/.exec(
      line,
    );
    await expect(rows.nth(i).locator("> *")).toHaveText([String(i + 1), role, /: /, notes, cut]);
  }
  const [, kept, most] = /^Kept ([\d,]+) of .* hold whole: ([\d,]+)\)$/m.exec(native.stdout);
  await expect(page.locator("#fit-summary")).toContainText(`Kept ${kept} of`);
  // The scripts are counted against the source's notes, and named for their roles.
  const [, , notes] = /^Kept ([\d,]+) of ([\d,]+) note/m.exec(native.stdout);
  await expect(page.locator("#loss-summary")).toContainText(
    `Of ${notes} notes in the source file: ${kept} kept whole`,
  );
  await expect(page.locator("#voices tbody tr", { hasText: "(Melody)" })).toHaveCount(1);
  await expect(page.locator("#fit-summary")).toContainText(
    `most 3 channels can hold whole, ${most})`,
  );
  await expect(page.locator("#voices tbody tr")).toHaveCount(
    Object.keys(
      runNative("demo-arranged.mid", Buffer.from(native.scripts["demo-arranged.mid"], "base64"), [
        "-f60",
      ]).scripts,
    ).length,
  );
  const [saved] = await Promise.all([
    page.waitForEvent("download"),
    page.locator("#download-arranged").click(),
  ]);
  expect(readFileSync(await saved.path()).toString("base64")).toBe(
    native.scripts["demo-arranged.mid"],
  );
  await expectAccessible(page);
  await expectFitsWidth(page);

  // The summary says where the tune comes from; the Melody select fits again
  // with the part chosen, as the command line does.
  const [, track, channel] = /^Melody from Track (\d+), Channel (\d+)/m.exec(native.stdout);
  await expect(page.locator("#fit-summary")).toContainText(
    `Melody from Track ${track}, channel ${channel}`,
  );
  const other = await page.locator("#melody option").nth(2).getAttribute("value");
  await page.getByLabel(/^Melody/).selectOption(other);
  const asked = ["--channels", "3", "--melody", other];
  await expect(page.locator("#arrange-command-line")).toHaveText(
    `$ mid2nolt-arrange demo.mid ${asked.join(" ")}`,
  );
  await expect(page.locator("#arrange-console")).toHaveText(
    `${runNative("demo.mid", demo, asked, nativeArranger).stdout}[exit status 0]`,
  );
  await expect(page.locator("#fit-summary")).toContainText("as chosen");
  await page.getByLabel(/^Melody/).selectOption("");

  // A count the arranger refuses: its error.
  await page.getByLabel(/^Fit to driver channels/).fill("0");
  await page.getByLabel(/^Fit to driver channels/).press("Tab");
  await expect(page.locator("#console-summary")).toHaveText(
    "demo.mid could not be arranged (exit status 1): ERROR- Invalid Channel Count : 0.",
  );
  await expect(page.locator("#fit")).toBeHidden();

  // Arranged without a fit, the comparison and the scripts fit the width too.
  await page.getByLabel(/^Fit to driver channels/).fill("");
  await page.getByLabel(/^Fit to driver channels/).press("Tab");
  await expect(page.locator("#comparison tbody tr").first()).toBeVisible();
  await expectFitsWidth(page);
  expect(problems).toEqual([]);
});

// Fitted to one channel, a tune over a held low A keeps the tune alone:
// "Play MIDI file" plays the source, the A with it; "Play scripts" what the
// driver plays, without it. Each buffer handed to the audio is measured at
// the A's 110 Hz and at the tune's first key (523 Hz).
test("a fit's Play MIDI file plays the source, its scripts what was kept", async ({ page }) => {
  await page.addInitScript(() => {
    window.played = [];
    const copy = AudioBuffer.prototype.copyToChannel;
    AudioBuffer.prototype.copyToChannel = function (samples, ...rest) {
      window.played.push(Float32Array.from(samples));
      return copy.call(this, samples, ...rest);
    };
  });
  const on = (delta, status, key) => [delta, status, key, 100];
  const tune = [72, 74, 76, 72].flatMap((key) => [on(0, 0x90, key), on(96, 0x80, key)]);
  const held = [on(0, 0x91, 45), on(384, 0x81, 45)];
  await page.goto("index.html");
  await page.getByLabel("Arrange for the driver first").check();
  await page.getByLabel(/^Fit to driver channels/).fill("1");
  await choose(page, "held.mid", song(1, [tune, held]));
  await expect(page.locator("#fit-summary")).toContainText("Kept 4 of 5");
  // The largest of |X(f)| / N near f (within a third of a semitone either side).
  const heard = (buffer, frequency) =>
    page.evaluate(
      ([at, f]) => {
        const samples = window.played[at];
        return Math.max(
          ...[0.98, 1, 1.02].map((r) => {
            const w = (2 * Math.PI * f * r) / 44100;
            let [re, im] = [0, 0];
            samples.forEach((v, i) => ((re += v * Math.cos(w * i)), (im -= v * Math.sin(w * i))));
            return Math.hypot(re, im) / samples.length;
          }),
        );
      },
      [buffer, frequency],
    );
  for (const [at, button] of ["#play-midi", "#play-scripts"].entries()) {
    await page.locator(button).click();
    await expect.poll(() => page.evaluate(() => window.played.length)).toBe(at + 1);
    await page.locator("#stop").click();
  }
  const [source, scripts] = [await heard(0, 110), await heard(1, 110)];
  expect(await heard(0, 523.25)).toBeGreaterThan(0.01);
  expect(await heard(1, 523.25)).toBeGreaterThan(0.01);
  expect(source).toBeGreaterThan(0.01);
  expect(scripts).toBeLessThan(source / 20);
});

test("arranged first: the arranger's console and file, and both losses side by side", async ({
  page,
}) => {
  const problems = guard(page);
  // A chord over a held bass: plain, only one of the four is heard in full.
  const chords = song(0, [
    [
      [0, 0x90, 36, 90],
      [0, 0x90, 60, 100],
      [0, 0x90, 64, 100],
      [0, 0x90, 67, 100],
      [96, 0x80, 60, 0],
      [0, 0x80, 64, 0],
      [0, 0x80, 67, 0],
      [96, 0x80, 36, 0],
    ],
  ]);
  await page.goto("index.html");
  await page.getByLabel("Arrange for the driver first").check();
  await choose(page, "chords.mid", chords);
  const native = runNative("chords.mid", chords, [], nativeArranger);
  await expect(page.locator("#arrange-command-line")).toHaveText("$ mid2nolt-arrange chords.mid");
  await expect(page.locator("#arrange-console")).toHaveText(`${native.stdout}[exit status 0]`);
  await expect(page.locator("#command-line")).toHaveText("$ mid2nolt chords-arranged.mid -f60");
  // Counted after the scripts show: the assertions wait for the rows.
  const cells = (row) => page.locator(`#comparison tbody tr:nth-child(${row}) > *`);
  await expect(cells(1)).toHaveText(["In all", "4", "1", "0", "3", "4", "0", "0"]);
  await expect(cells(2)).toHaveText(["Track 0", "4", "1", "0", "3", "4", "0", "0"]);
  await expect(page.locator("#arranged-format")).toBeHidden();
  await expectAccessible(page);

  const [saved] = await Promise.all([
    page.waitForEvent("download"),
    page.locator("#download-arranged").click(),
  ]);
  expect(saved.suggestedFilename()).toBe("chords-arranged.mid");
  expect(readFileSync(await saved.path()).toString("base64")).toBe(
    native.scripts["chords-arranged.mid"],
  );

  // A voice limit the arranger refuses: its error, and nothing of the last run.
  await page.getByLabel(/^Voices per track/).fill("0");
  await page.getByLabel(/^Voices per track/).press("Tab");
  await expect(page.locator("#console-summary")).toHaveText(
    "chords.mid could not be arranged (exit status 1): ERROR- Invalid Voice Count : 0.",
  );
  await expect(page.locator("#script-list tbody tr")).toHaveCount(0);
  await expect(page.locator("#download-arranged")).toBeHidden();
  await expect(page.locator("#preview-name")).toHaveText("");
  await expect(page.locator("#script-text")).toHaveText("");
  await page.getByLabel(/^Voices per track/).fill("");

  // The choice stays for the next file; unchecked, the page converts as it is.
  await choose(page, "demo.mid", demo);
  await expect(page.locator("#arrange-command-line")).toHaveText("$ mid2nolt-arrange demo.mid");
  await page.getByLabel("Arrange for the driver first").uncheck();
  await expect(page.locator("#command-line")).toHaveText("$ mid2nolt demo.mid -f60");
  await expect(page.locator("#arrange-run")).toBeHidden();
  await expect(page.locator("#loss-comparison")).toBeHidden();
  expect(problems).toEqual([]);
});
