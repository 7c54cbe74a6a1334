// The core and its loading: the C++ converter, arranger and note reader
// compiled to WebAssembly, each call run on a fresh instance, as their command
// lines run. The core exports one function for each. The paths below are those of the published module, which holds
// this file bundled, beside the core.
import createConverter from "./mid2nolt-core.mjs";

let wasmSource = null;
let compiled = null;

/**
 * Says where the compiled core comes from, before the first conversion; by
 * default it is `mid2nolt-core.wasm` beside this module.
 * @param {URL|string|ArrayBuffer|ArrayBufferView|WebAssembly.Module} wasm its
 *   URL, its bytes or the compiled module
 */
export function init(wasm) {
  wasmSource = wasm;
  compiled = null;
}

// Named in a variable, so that bundlers for the browser leave it alone.
const nodeFiles = "node:fs/promises";

async function wasmBytes(url) {
  if (url.protocol === "file:") {
    const { readFile } = await import(/* webpackIgnore: true */ /* @vite-ignore */ nodeFiles);
    return readFile(url);
  }
  const response = await fetch(url);
  if (!response.ok) {
    throw new Error(`cannot load ${url}: ${response.status}`);
  }
  return response.arrayBuffer();
}

async function compileCore() {
  const source = wasmSource ?? new URL("./mid2nolt-core.wasm", import.meta.url);
  if (source instanceof WebAssembly.Module) {
    return source;
  }
  if (source instanceof URL || typeof source === "string") {
    return WebAssembly.compile(await wasmBytes(new URL(source, globalThis.location?.href)));
  }
  return WebAssembly.compile(source);
}

// The compiled code is made once; every call instantiates it afresh, so no
// conversion sees another's memory or files.
function loadCore() {
  compiled ??= compileCore().catch((error) => {
    compiled = null; // a later call tries again
    throw error;
  });
  return compiled;
}

// Bytes written to a standard stream, collected one by one as the C library
// hands them over.
class ByteSink {
  constructor() {
    this.bytes = new Uint8Array(1024);
    this.length = 0;
  }
  push(byte) {
    if (this.length === this.bytes.length) {
      const grown = new Uint8Array(this.bytes.length * 2);
      grown.set(this.bytes);
      this.bytes = grown;
    }
    this.bytes[this.length++] = byte & 0xff;
  }
  text() {
    return new TextDecoder().decode(this.bytes.subarray(0, this.length));
  }
}

// Puts the source where its name says, relative to a working folder; a name
// that cannot be a file (empty, or a folder) is left for the run to report.
function placeSource(FS, name, bytes) {
  FS.mkdirTree("/work");
  FS.chdir("/work");
  const slash = name.lastIndexOf("/");
  try {
    if (slash > 0) {
      const folder = name.slice(0, slash);
      FS.mkdirTree(folder.startsWith("/") ? folder : `/work/${folder}`);
    }
    FS.writeFile(name, bytes);
  } catch {
    // The converter's own open fails and says so.
  }
}

/**
 * Runs one program of the core on a fresh instance, as `program name ...args`
 * runs on the command line; `hooks` are the core's callbacks, called once it
 * has run. Gives the instance, to read the files the run wrote, with its exit
 * status and console.
 * @param {"convert"|"arrange"|"file_notes"} program the core's function
 * @param {string} name
 * @param {Uint8Array|ArrayBuffer} bytes
 * @param {readonly string[]} args
 * @param {object} hooks
 * @returns {Promise<{core: {FS: {readFile(path: string): Uint8Array}}, exitStatus: number,
 *   stdout: string, stderr: string}>}
 */
export async function runCore(program, name, bytes, args, hooks) {
  const module = await loadCore();
  const stdout = new ByteSink();
  const stderr = new ByteSink();
  const core = await createConverter({
    // The code is compiled above; this keeps the glue from resolving a URL of
    // its own, which a bundle without import.meta (a classic worker) lacks.
    locateFile: (file) => file,
    instantiateWasm(imports, receive) {
      WebAssembly.instantiate(module, imports).then((instance) => receive(instance, module));
      return {};
    },
    preRun: [
      (m) =>
        m.FS.init(
          null,
          (byte) => byte !== null && stdout.push(byte),
          (byte) => byte !== null && stderr.push(byte),
        ),
    ],
    ...hooks,
  });
  placeSource(core.FS, name, bytes instanceof ArrayBuffer ? new Uint8Array(bytes) : bytes);
  // The arguments go as one string, each ended by a NUL.
  const words = [name, ...args];
  const exitStatus = core.ccall(
    `mid2nolt_${program}`,
    "number",
    ["string", "number"],
    [words.map((word) => `${word}\0`).join(""), words.length],
  );
  return { core, exitStatus, stdout: stdout.text(), stderr: stderr.text() };
}
