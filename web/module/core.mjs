// The core and its loading: the C++ converter and arranger compiled to
// WebAssembly, each call run on a fresh instance, as their command lines run.
// The paths below are those of the published module, which holds this file
// bundled, beside the core.
import createConverter from "./mid2nolt-core.mjs";

/**
 * One script a run created, in the order written.
 * @typedef {object} Script
 * @property {string} name the file name, as the command line would create it ("song_1_0.txt")
 * @property {Uint8Array} bytes its bytes, exactly as the command line writes them
 * @property {number} track the MIDI track it was made from
 * @property {number|null} channel the channel it takes, or null for a script of the whole track
 */

/**
 * What one run gives: everything the command line shows and writes.
 * @typedef {object} ConversionResult
 * @property {number} exitStatus 0 on success, 1 on failure, as the command line exits
 * @property {string} stdout
 * @property {string} stderr
 * @property {number|null} driverFrequency the driver frequency the run used; null when it
 *   ended before reading the options
 * @property {Script[]} scripts every script created, in order, also those finished before a failure
 */

/**
 * One part of the source: the notes of a track on a channel, or (channel
 * null) a track's other events.
 * @typedef {object} ArrangedPart
 * @property {number} track
 * @property {number|null} channel
 * @property {number} notes
 * @property {number} leftOut notes that found no voice under the voice limit
 * @property {number} cutShort notes ended early for a note that took precedence
 * @property {number} firstTrack the first output track that holds the part
 * @property {number} trackCount how many output tracks, from `firstTrack` on, hold it
 */

/**
 * What one arrangement gives: the console and the arranged file.
 * @typedef {object} ArrangementResult
 * @property {number} exitStatus 0 on success, 1 on failure, as the command line exits
 * @property {string} stdout
 * @property {string} stderr
 * @property {string|null} name the arranged file's name ("song-arranged.mid", or as `-o`
 *   gave it); null when none was written
 * @property {Uint8Array|null} bytes its bytes, exactly as `mid2nolt-arrange` writes them;
 *   null when none was written
 * @property {ArrangedPart[]} parts what became of each part of the source, as the console lists them
 */

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

// Runs one program of the core on a fresh instance, as `program name
// ...args` runs on the command line; `hooks` are the core's callbacks.
async function runCore(program, name, bytes, args, hooks) {
  const module = await loadCore();
  const stdout = new ByteSink();
  const stderr = new ByteSink();
  const core = await createConverter({
    noInitialRun: true,
    thisProgram: program,
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
  const exitStatus = core.callMain([name, ...args]);
  return { core, exitStatus, stdout: stdout.text(), stderr: stderr.text() };
}

/**
 * Converts one Standard MIDI File as `mid2nolt name ...args` would.
 * @param {string} name the source name as typed on a command line ("song.mid")
 * @param {Uint8Array|ArrayBuffer} bytes the file's content
 * @param {readonly string[]} [args] the options, exactly as on the command line
 * @returns {Promise<ConversionResult>} what the command line gives:
 *   console streams, exit status and every script created, in order, also
 *   those finished before a failure; the driver frequency the options gave
 *   (null when the run ended before reading them).
 */
export async function convert(name, bytes, args = []) {
  const created = [];
  let driverFrequency = null;
  const { core, ...run } = await runCore("mid2nolt", name, bytes, args, {
    onDriverFrequency(frequency) {
      driverFrequency = frequency;
    },
    onScriptCreated(script, track, channel) {
      created.push({ name: script, track, channel });
    },
  });
  return {
    ...run,
    driverFrequency,
    scripts: created.map((script) => ({
      name: script.name,
      bytes: core.FS.readFile(script.name),
      track: script.track,
      channel: script.channel,
    })),
  };
}

/**
 * Arranges one Standard MIDI File into voice tracks as `mid2nolt-arrange name
 * ...args` would.
 * @param {string} name the source name as typed on a command line ("song.mid")
 * @param {Uint8Array|ArrayBuffer} bytes the file's content
 * @param {readonly string[]} [args] the options, exactly as on the command line
 *   (["--voices", "4"], ["-o", "out.mid"])
 * @returns {Promise<ArrangementResult>} console streams, exit status,
 *   the arranged file's name and bytes (null when none was written), and what
 *   became of each part of the source, as the console lists them: the notes of
 *   a track on a channel, or (channel null) a track's other events, and the
 *   output tracks from `firstTrack` on that hold them
 */
export async function arrange(name, bytes, args = []) {
  let written = null;
  const parts = [];
  const { core, ...run } = await runCore("mid2nolt-arrange", name, bytes, args, {
    onArrangedFile(file) {
      written = file;
    },
    onArrangedPart(part) {
      parts.push(part);
    },
  });
  const file = written === null ? null : core.FS.readFile(written);
  return { ...run, name: written, bytes: file, parts };
}
