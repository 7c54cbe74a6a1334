// The page's worker: converts, and keeps the last conversion to answer for its
// piano rolls and audio, all off the page's thread.
import { convert, fileNotes, init, parseScript, renderPreview } from "../mid2nolt.mjs";
import { rollContent } from "./roll-content.mjs";
import { renderMidi, sampleRate } from "./preview-audio.mjs";

// Longest audio made for playback or WAV: ten minutes.
const maxSeconds = 600;
const latin1 = new TextDecoder("latin1");
let last = null;

// The one-file page's worker carries the core's bytes (base64) in itself; the
// site's loads it from beside the module. The build defines INLINED_CORE.
// eslint-disable-next-line no-undef
const inlined = INLINED_CORE;
if (inlined !== null) {
  init(Uint8Array.from(atob(inlined), (c) => c.charCodeAt(0)));
}

function items(script) {
  if (!last.parsed.has(script.name)) {
    last.parsed.set(script.name, parseScript(latin1.decode(script.bytes)).items);
  }
  return last.parsed.get(script.name);
}

// The file's notes that a script was made from: its track, on its channel.
function sourceNotes(script) {
  last.tracks ??= fileNotes(last.source) ?? [];
  const notes = last.tracks[script.track] ?? [];
  return script.channel === null ? notes : notes.filter((n) => n.channel === script.channel);
}

const handlers = {
  async convert({ name, bytes, args }) {
    const result = await convert(name, bytes, args);
    const frequency = result.driverFrequency;
    last = { scripts: result.scripts, source: bytes, frequency, parsed: new Map(), tracks: null };
    return result;
  },
  roll({ name }) {
    const script = last.scripts.find((s) => s.name === name);
    return script ? rollContent(items(script), last.frequency, sourceNotes(script)) : null;
  },
  audio({ names, midi }) {
    const scripts = last.scripts.filter((s) => names.includes(s.name));
    const samples = midi
      ? renderMidi(scripts.map(sourceNotes), maxSeconds)
      : renderPreview(scripts, last.frequency, sampleRate, maxSeconds);
    return samples;
  },
};

self.onmessage = async ({ data: { id, type, payload } }) => {
  try {
    const result = await handlers[type](payload);
    // Audio is handed over, not copied.
    self.postMessage({ id, result }, result instanceof Float32Array ? [result.buffer] : []);
  } catch (error) {
    self.postMessage({ id, error: String(error) });
  }
};
