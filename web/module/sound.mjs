// Hearing scripts: notes and scripts mixed into square-wave samples, and the
// drums into noise.
import { parseScript, playedNotes, scriptText } from "./scripts.mjs";

/** @typedef {import("./scripts.mjs").VoiceNote} VoiceNote */

/**
 * Whether a line takes time: a wait, rest or note line.
 * @param {import("./scripts.mjs").ScriptItem} item
 * @returns {item is import("./scripts.mjs").TimedItem | import("./scripts.mjs").NoteItem}
 */
const timed = (item) => "startTick" in item;

const keyFrequency = (key) => 440 * 2 ** ((key - 69) / 12);

/**
 * A drum hit's sound by its General MIDI key, as a chip's noise channel
 * makes it: how many samples at 44.1 kHz the noise holds each value (more
 * for a darker colour) and how long the burst lasts, fading out.
 * @param {number} key
 * @returns {{hold: number, seconds: number}}
 */
function drumSound(key) {
  if (key === 35 || key === 36) return { hold: 40, seconds: 0.09 }; // bass drum
  if (key >= 37 && key <= 40) return { hold: 6, seconds: 0.12 }; // snare, rim, clap
  if (key === 42 || key === 44) return { hold: 1, seconds: 0.04 }; // closed hi-hat
  if (key === 46) return { hold: 1, seconds: 0.18 }; // open hi-hat
  if ([49, 51, 52, 53, 55, 57, 59].includes(key)) return { hold: 1, seconds: 0.35 }; // cymbals
  if ([41, 43, 45, 47, 48, 50].includes(key)) return { hold: 16, seconds: 0.15 }; // toms
  return { hold: 3, seconds: 0.08 };
}

/**
 * Adds a drum voice's hits to `samples`: each a burst of noise from a 15-bit
 * shift register, as chips make it (the same every time), its colour and
 * length by its key, no longer than its note.
 * @param {Float32Array} samples
 * @param {readonly VoiceNote[]} notes
 * @param {number} amplitude
 * @param {number} sampleRate
 */
function addNoise(samples, notes, amplitude, sampleRate) {
  let register = 1;
  for (const { key, start, end } of notes) {
    const { hold, seconds } = drumSound(key);
    const from = Math.round(start * sampleRate);
    const length = Math.round(Math.min(seconds, end - start) * sampleRate);
    const to = Math.min(samples.length, from + length);
    const step = Math.max(1, Math.round((hold * sampleRate) / 44100));
    for (let i = from; i < to; ++i) {
      if ((i - from) % step === 0) {
        register = (register >> 1) | (((register ^ (register >> 1)) & 1) << 14);
      }
      samples[i] += (register & 1 ? amplitude : -amplitude) * (1 - (i - from) / length);
    }
  }
}

/**
 * Mixes square-wave voices into mono samples: each voice is a list of notes
 * {key, start, end} in seconds, equal temperament with key 69 at 440 Hz, and
 * each note's wave starts at its own start; a voice `drums` marks plays each
 * note as a burst of noise instead. Voices are scaled so that the mix never
 * leaves [-1, 1].
 * @param {readonly (readonly VoiceNote[])[]} voices
 * @param {number} seconds length of the result
 * @param {number} [sampleRate]
 * @param {readonly boolean[]} [drums] per voice, whether it is a drum kit's
 * @returns {Float32Array}
 */
export function renderNotes(voices, seconds, sampleRate = 44100, drums = []) {
  const samples = new Float32Array(Math.round(seconds * sampleRate));
  const amplitude = 0.9 / Math.max(1, voices.length);
  voices.forEach((notes, v) => {
    if (drums[v]) {
      addNoise(samples, notes, amplitude, sampleRate);
      return;
    }
    for (const { key, start, end } of notes) {
      const from = Math.round(start * sampleRate);
      const to = Math.min(samples.length, Math.round(end * sampleRate));
      const cycles = keyFrequency(key) / sampleRate;
      for (let i = from; i < to; ++i) {
        samples[i] += ((i - from) * cycles) % 1 < 0.5 ? amplitude : -amplitude;
      }
    }
  });
  return samples;
}

/**
 * What the driver plays: every script (as `convert` returns them) is one
 * square-wave voice from the start, a script on MIDI channel 10 (9 counted
 * from 0) one of noise; each line lasts exactly its ticks ÷ `frequency`
 * seconds; wait and rest lines are silent. The result lasts as long as the
 * longest script, to the sample, up to `maxSeconds`.
 * @param {readonly {bytes: Uint8Array, channel?: number|null}[]} scripts
 * @param {number} frequency driver ticks per second (above 0)
 * @param {number} [sampleRate]
 * @param {number} [maxSeconds] longest preview made; later lines are left out
 * @returns {Float32Array}
 */
export function renderPreview(scripts, frequency, sampleRate = 44100, maxSeconds = 3600) {
  if (!(frequency > 0)) {
    throw new RangeError(`no preview at a driver frequency of ${frequency}`);
  }
  let seconds = 0;
  const voices = scripts.map(({ bytes }) => {
    const { items } = parseScript(scriptText(bytes));
    const last = items.findLast(timed);
    seconds = Math.max(seconds, last ? (last.startTick + last.ticks) / frequency : 0);
    return playedNotes(items, frequency);
  });
  return renderNotes(
    voices,
    Math.min(seconds, maxSeconds),
    sampleRate,
    scripts.map((s) => s.channel === 9),
  );
}
