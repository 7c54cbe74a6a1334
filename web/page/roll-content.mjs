// What a piano roll shows for one script: its note lines of nonzero ticks,
// bar headings and text comments, in seconds at the driver frequency, with the
// MIDI file's own notes and the range of keys and time to draw.

import { playedNotes } from "../mid2nolt.mjs";

export function rollContent(items, frequency, ghostNotes) {
  const notes = playedNotes(items, frequency);
  const bars = [];
  const labels = [];
  let previous = null;
  let end = 0;
  for (const item of items) {
    if (item.startTick !== undefined) {
      end = (item.startTick + item.ticks) / frequency;
    } else if (item.kind === "bar") {
      bars.push({
        at: end,
        text: item.first === item.last ? `${item.first}` : `${item.first}–${item.last}`,
      });
    } else if (item.kind === "comment" && item.line > 1 && previous?.kind !== "bar") {
      labels.push({ at: end, text: item.text });
    }
    previous = item;
  }
  let low = Infinity;
  let high = -Infinity;
  let seconds = Math.max(end, 1);
  for (const n of [notes, ghostNotes].flat()) {
    low = Math.min(low, n.key);
    high = Math.max(high, n.key);
    seconds = Math.max(seconds, n.end);
  }
  return {
    notes,
    bars,
    labels,
    ghostNotes,
    seconds,
    low: low === Infinity ? 55 : Math.max(0, low - 2),
    high: high === -Infinity ? 79 : high + 2,
  };
}
