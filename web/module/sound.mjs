// Hearing scripts: notes and scripts mixed into square-wave samples.
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
 * Mixes square-wave voices into mono samples: each voice is a list of notes
 * {key, start, end} in seconds, equal temperament with key 69 at 440 Hz, and
 * each note's wave starts at its own start. Voices are scaled so that the mix
 * never leaves [-1, 1].
 * @param {readonly (readonly VoiceNote[])[]} voices
 * @param {number} seconds length of the result
 * @param {number} [sampleRate]
 * @returns {Float32Array}
 */
export function renderNotes(voices, seconds, sampleRate = 44100) {
  const samples = new Float32Array(Math.round(seconds * sampleRate));
  const amplitude = 0.9 / Math.max(1, voices.length);
  for (const notes of voices) {
    for (const { key, start, end } of notes) {
      const from = Math.round(start * sampleRate);
      const to = Math.min(samples.length, Math.round(end * sampleRate));
      const cycles = keyFrequency(key) / sampleRate;
      for (let i = from; i < to; ++i) {
        samples[i] += ((i - from) * cycles) % 1 < 0.5 ? amplitude : -amplitude;
      }
    }
  }
  return samples;
}

/**
 * What the driver plays: every script (as `convert` returns them) is one
 * square-wave voice from the start; each line lasts exactly its ticks ÷
 * `frequency` seconds; wait and rest lines are silent. The result lasts as
 * long as the longest script, to the sample, up to `maxSeconds`.
 * @param {readonly {bytes: Uint8Array}[]} scripts
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
  return renderNotes(voices, Math.min(seconds, maxSeconds), sampleRate);
}
