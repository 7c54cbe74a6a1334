// Builds, from the WebAssembly core (built by the web preset into
// build/web-wasm/) and the page's modules:
// - build/web/: the static site; everything it loads comes from its own folder;
// - build/web/mid2nolt-<version>.html: the whole page in one file that works
//   opened from disk, and build/web/mid2nolt-<version>-web.zip: the site;
// - build/npm/package/: the module as an npm package (`node build.mjs --npm`
//   also packs it into build/npm/mid2nolt-<version>.tgz).
import { execFileSync } from "node:child_process";
import { createHash } from "node:crypto";
import { copyFile, mkdir, readFile, readdir, rm, writeFile } from "node:fs/promises";
import { fileURLToPath } from "node:url";
import { build } from "esbuild";
import { zipSync } from "fflate";

const here = (path) => fileURLToPath(new URL(path, import.meta.url));
const site = here("../build/web/");
const core = here("../build/web-wasm/src/");
const npm = here("../build/npm/");

// The version is the project's, as CMake configured the core.
const cache = await readFile(here("../build/web-wasm/CMakeCache.txt"), "utf8");
const version = /^CMAKE_PROJECT_VERSION:STATIC=(.+)$/m.exec(cache)[1];
// Archive dates: the commit's when given, else a fixed one, never the clock.
const epoch = Number(process.env.SOURCE_DATE_EPOCH ?? 315532800);

// The module imports the core as its neighbour; here it comes from the build.
const coreFromBuild = {
  name: "core-from-build",
  setup(b) {
    b.onResolve({ filter: /^\.\/mid2nolt-core\.mjs$/ }, () => ({
      path: core + "mid2nolt-core.mjs",
      sideEffects: false,
    }));
  },
};

const bundleOptions = {
  bundle: true,
  platform: "browser",
  target: "es2022",
  minify: true,
  // node's file system only under node.
  external: ["node:*"],
  plugins: [coreFromBuild],
  logLevel: "warning",
};

// The site.
await rm(site, { recursive: true, force: true });
await mkdir(site, { recursive: true });
for (const file of ["mid2nolt-core.mjs", "mid2nolt-core.wasm"]) {
  await copyFile(core + file, site + file);
}
// The module for pages that import it from the site, the core loaded beside it.
await build({
  entryPoints: [here("mid2nolt.mjs")],
  outfile: site + "mid2nolt.mjs",
  bundle: true,
  format: "esm",
  platform: "browser",
  target: "es2022",
  external: ["./mid2nolt-core.mjs", "node:*"],
  logLevel: "warning",
});
for (const file of ["index.html", "style.css", "favicon.svg"]) {
  await copyFile(here(`page/${file}`), site + file);
}
await build({
  ...bundleOptions,
  entryPoints: {
    page: here("page/main.mjs"),
    "conversion-worker": here("page/conversion-worker.mjs"),
  },
  outdir: site,
  format: "esm",
  sourcemap: true,
  define: { INLINED_CORE: "null" },
});

const siteFiles = {};
for (const name of (await readdir(site)).sort()) {
  siteFiles[name] = [await readFile(site + name), { mtime: epoch * 1000 }];
}

// The one-file page: the page's script and style inline, allowed by their
// hashes; the worker a classic script made from a blob, carrying the core.
// The core's import.meta.url is never read there: the worker hands it the bytes.
const bundled = async (entry, format, define) => {
  const logOverride = { "empty-import-meta": "silent" };
  const options = {
    ...bundleOptions,
    entryPoints: [here(entry)],
    format,
    write: false,
    define,
    logOverride,
  };
  return (await build(options)).outputFiles[0].text;
};
const wasm = await readFile(core + "mid2nolt-core.wasm");
const workerSource = await bundled("page/conversion-worker.mjs", "iife", {
  INLINED_CORE: JSON.stringify(wasm.toString("base64")),
});
const pageSource = await bundled("page/main.mjs", "esm", { INLINED_CORE: "null" });
const style = await readFile(here("page/style.css"), "utf8");
const icon = await readFile(here("page/favicon.svg"), "utf8");
const hash = (text) => `'sha256-${createHash("sha256").update(text).digest("base64")}'`;
// Inside a script element only "</script" could end it early.
const inScript = (text) => text.replaceAll("</script", "<\\/script");
const policy = [
  "default-src 'none'",
  `script-src ${hash(pageSource)} 'wasm-unsafe-eval'`,
  "worker-src blob:",
  `style-src ${hash(style)}`,
  "img-src data: blob:",
  "media-src blob:",
  "base-uri 'none'",
  "form-action 'none'",
].join("; ");
let html = await readFile(here("page/index.html"), "utf8");
const replace = (pattern, text) => {
  if (!pattern.test(html)) {
    throw new Error(`one-file page: ${pattern} not found in index.html`);
  }
  html = html.replace(pattern, () => text);
};
replace(/content="default-src[^"]*"/, `content="${policy}"`);
replace(
  /<link rel="icon"[^>]*>/,
  `<link rel="icon" href="data:image/svg+xml,${encodeURIComponent(icon)}">`,
);
replace(/<link rel="stylesheet"[^>]*>/, `<style>${style}</style>`);
replace(
  /<script type="module" src="page.js"><\/script>/,
  `<script type="text/plain" id="conversion-worker-source">${inScript(workerSource)}</script>\n` +
    `  <script type="module">${inScript(pageSource)}</script>`,
);
if (inScript(pageSource) !== pageSource) {
  throw new Error("one-file page: the page's script holds </script, so its hash would not match");
}
const oneFile = `mid2nolt-${version}.html`;
await writeFile(site + oneFile, html);

await writeFile(site + `mid2nolt-${version}-web.zip`, zipSync(siteFiles, { level: 9 }));

// The npm package: the module's files bundled into one beside the core, and
// its declarations as TypeScript writes them from the code's JSDoc.
await rm(npm, { recursive: true, force: true });
await mkdir(npm + "package/module", { recursive: true });
const manifest = JSON.parse(await readFile(here("npm/package.json"), "utf8"));
manifest.version = version;
await writeFile(npm + "package/package.json", JSON.stringify(manifest, null, 2) + "\n");
await build({
  entryPoints: [here("mid2nolt.mjs")],
  outfile: npm + "package/mid2nolt.mjs",
  bundle: true,
  format: "esm",
  platform: "neutral",
  target: "es2022",
  external: ["./mid2nolt-core.mjs", "node:*"],
  logLevel: "warning",
});
const types = here("../build/types/");
await rm(types, { recursive: true, force: true });
execFileSync(
  process.execPath,
  [here("node_modules/typescript/bin/tsc"), "-p", here("tsconfig.json")],
  {
    stdio: "inherit",
  },
);
for (const name of await readdir(types + "module")) {
  await copyFile(types + "module/" + name, npm + "package/module/" + name);
}
for (const [from, to] of [
  [types + "mid2nolt.d.mts", "mid2nolt.d.mts"],
  [here("npm/README.md"), "README.md"],
  [here("../LICENSE"), "LICENSE"],
  [core + "mid2nolt-core.mjs", "mid2nolt-core.mjs"],
  [core + "mid2nolt-core.wasm", "mid2nolt-core.wasm"],
]) {
  await copyFile(from, npm + "package/" + to);
}
if (process.argv.includes("--npm")) {
  execFileSync("npm", ["pack", "--pack-destination", npm], {
    cwd: npm + "package",
    stdio: "ignore",
  });
  console.log(`package written to ${npm}mid2nolt-${version}.tgz`);
}
console.log(`site written to ${site} (one-file page ${oneFile}: ${html.length} bytes)`);
