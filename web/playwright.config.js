// End-to-end tests of the built site (build/web/) in Debian's Chromium.
import { createServer } from "node:net";
import { defineConfig } from "@playwright/test";

// A port free when the run starts, chosen once by the runner and inherited by
// its workers, so that the suites of two checkouts on one machine never meet.
process.env.MID2NOLT_TEST_PORT ??= String(
  await new Promise((resolve, reject) => {
    const probe = createServer()
      .on("error", reject)
      .listen(0, "127.0.0.1", () => {
        const { port } = probe.address();
        probe.close(() => resolve(port));
      });
  }),
);
const port = Number(process.env.MID2NOLT_TEST_PORT);
// The site under test: the build's, or another copy of it (a release's).
const site = process.env.MID2NOLT_SITE ?? "../build/web";

export default defineConfig({
  testDir: "tests",
  testMatch: "*.test.js",
  outputDir: "../build/web-test-results",
  timeout: 120_000,
  workers: 2,
  reporter: [["list"]],
  use: {
    baseURL: `http://127.0.0.1:${port}/`,
    acceptDownloads: true,
    launchOptions: {
      executablePath: process.env.CHROMIUM ?? "/usr/bin/chromium",
      args: [
        "--no-sandbox",
        "--disable-gpu",
        "--disable-quic",
        "--no-first-run",
        "--disable-background-networking",
        "--disable-component-update",
        "--disable-sync",
      ],
    },
  },
  webServer: {
    command: `python3 -m http.server ${port} --bind 127.0.0.1 --directory ${site}`,
    url: `http://127.0.0.1:${port}/index.html`,
    reuseExistingServer: false,
    stdout: "ignore",
    stderr: "ignore",
  },
});
