// mid2nolt as an ES module: the converter's own C++ core, compiled to
// WebAssembly, run exactly as the command line runs it.
//
//   import { convert } from "./mid2nolt.mjs";
//   const r = await convert("song.mid", bytes, ["-p", "-f50"]);
//   // r = { exitStatus, stdout, stderr, scripts: [{ name, bytes }, ...] }
//
// The module knows nothing of any page; it works in a page, a worker and node.

const coreUrl = new URL("./mid2nolt-core.mjs", import.meta.url);
const wasmUrl = new URL("./mid2nolt-core.wasm", import.meta.url);

let compiled = null;

async function wasmBytes() {
  if (wasmUrl.protocol === "file:") {
    const { readFile } = await import("node:fs/promises");
    return readFile(wasmUrl);
  }
  const response = await fetch(wasmUrl);
  if (!response.ok) {
    throw new Error(`cannot load ${wasmUrl}: ${response.status}`);
  }
  return response.arrayBuffer();
}

// The glue and the compiled code are loaded once; every call instantiates them
// afresh, so no conversion sees another's memory or files.
function loadCore() {
  compiled ??= Promise.all([import(coreUrl.href), wasmBytes().then((b) => WebAssembly.compile(b))]);
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

const announcement = /Saving Track \d+(?:, Channel \d+)? to NOLT Script : /g;

// The scripts in the order the run announced them, each read back if it was
// written: the console names every script before it is created.
function writtenScripts(FS, stdout, baseName) {
  const scripts = [];
  for (const match of stdout.matchAll(announcement)) {
    const at = match.index + match[0].length;
    if (!stdout.startsWith(baseName, at)) {
      continue;
    }
    const suffix = /^_\d+(?:_\d+)?\.txt/.exec(stdout.slice(at + baseName.length));
    if (suffix === null) {
      continue;
    }
    const name = baseName + suffix[0];
    if (FS.analyzePath(name).exists) {
      scripts.push({ name, bytes: FS.readFile(name) });
    }
  }
  return scripts;
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
 * Converts one Standard MIDI File as `mid2nolt name ...args` would.
 * @param {string} name the source name as typed on a command line ("song.mid")
 * @param {Uint8Array} bytes the file's content
 * @param {string[]} args the options, exactly as on the command line
 * @returns {Promise<{exitStatus: number, stdout: string, stderr: string,
 *   scripts: {name: string, bytes: Uint8Array}[]}>} what the command line gives:
 *   console streams, exit status and every script written, in order, also
 *   those finished before a failure.
 */
export async function convert(name, bytes, args = []) {
  const [{ default: createConverter }, module] = await loadCore();
  const stdout = new ByteSink();
  const stderr = new ByteSink();
  const core = await createConverter({
    noInitialRun: true,
    instantiateWasm(imports, receive) {
      WebAssembly.instantiate(module, imports).then((instance) => receive(instance, module));
      return {};
    },
    preRun: [
      (m) => m.FS.init(null, (byte) => byte !== null && stdout.push(byte), (byte) => byte !== null && stderr.push(byte)),
    ],
  });
  placeSource(core.FS, name, bytes);
  const exitStatus = core.callMain([name, ...args]);
  const out = stdout.text();
  const baseName = name.length >= 4 ? name.slice(0, -4) : name;
  return {
    exitStatus,
    stdout: out,
    stderr: stderr.text(),
    scripts: writtenScripts(core.FS, out, baseName),
  };
}
