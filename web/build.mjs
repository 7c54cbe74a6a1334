// Builds the static site in build/web/ from the WebAssembly core (built by
// the web preset into build/web-wasm/) and the page's modules. Everything the
// site loads comes from its own folder.
import { build } from "esbuild";
import { copyFile, mkdir, rm } from "node:fs/promises";
import { fileURLToPath } from "node:url";

const here = (path) => fileURLToPath(new URL(path, import.meta.url));
const site = here("../build/web/");
const core = here("../build/web-wasm/src/");

await rm(site, { recursive: true, force: true });
await mkdir(site, { recursive: true });
for (const file of ["mid2nolt-core.mjs", "mid2nolt-core.wasm"]) {
  await copyFile(core + file, site + file);
}
await copyFile(here("mid2nolt.mjs"), site + "mid2nolt.mjs");
for (const file of ["index.html", "style.css", "favicon.svg"]) {
  await copyFile(here(`page/${file}`), site + file);
}
// The module imports the core as its neighbour; here it comes from the build.
const coreFromBuild = {
  name: "core-from-build",
  setup(b) {
    b.onResolve({ filter: /^\.\/mid2nolt-core\.mjs$/ }, () => ({ path: core + "mid2nolt-core.mjs", sideEffects: false }));
  },
};

await build({
  entryPoints: { page: here("page/main.mjs"), "conversion-worker": here("page/conversion-worker.mjs") },
  outdir: site,
  bundle: true,
  format: "esm",
  platform: "browser",
  target: "es2022",
  minify: true,
  sourcemap: true,
  // node's file system only under node.
  external: ["node:*"],
  plugins: [coreFromBuild],
  logLevel: "warning",
});
console.log(`site written to ${site}`);
