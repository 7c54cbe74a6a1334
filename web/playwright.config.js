// End-to-end tests of the built site (build/web/) in Debian's Chromium.
import { defineConfig } from "@playwright/test";

const port = 8737;
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
