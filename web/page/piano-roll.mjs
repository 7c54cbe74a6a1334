// The piano roll of one script: time across in seconds at the driver
// frequency, keys up the side, named as scripts name them; one bar per note
// line of nonzero ticks, bar headings as numbered lines, text comments as
// labels on the time axis, and behind it all, ghosted, the MIDI file's own
// notes, outlined where the script loses them (silent or cut short).
import { noteName } from "../mid2nolt.mjs";

export const rowHeight = 12;
const axisHeight = 58;
const labelRows = 3;
const maxCanvasWidth = 30000;
export const margin = 20;

// "1:05" past a minute, else "5 s" or "0.25 s".
export function timeText(seconds) {
  if (seconds < 60) {
    return `${Number(seconds.toFixed(2))} s`;
  }
  const whole = Math.round(seconds);
  return `${Math.floor(whole / 60)}:${String(whole % 60).padStart(2, "0")}`;
}

// The widest scale a canvas can take for this content.
export function maxScale(content) {
  return (maxCanvasWidth - 2 * margin) / content.seconds;
}

// Draws the key names beside the roll.
export function drawKeys(canvas, content) {
  const { low, high } = content;
  const height = (high - low + 1) * rowHeight + axisHeight;
  canvas.width = 40;
  canvas.height = height;
  const g = canvas.getContext("2d");
  g.clearRect(0, 0, canvas.width, height);
  g.font = "10px sans-serif";
  for (let key = low; key <= high; ++key) {
    const top = (high - key) * rowHeight;
    const sharp = noteName(key)[1] === "s";
    g.fillStyle = sharp ? "#3a3a44" : "#f4f4f8";
    g.fillRect(0, top, 40, rowHeight);
    g.fillStyle = sharp ? "#ffffff" : "#222222";
    g.fillText(noteName(key), 4, top + rowHeight - 2);
  }
}

// Draws the roll; returns its geometry: x of a time, time of an x, and the
// note under a point.
export function drawRoll(canvas, content, pixelsPerSecond) {
  const { notes, bars, labels, ghostNotes, seconds, low, high } = content;
  const scale = Math.min(pixelsPerSecond, maxScale(content));
  const width = Math.ceil(seconds * scale) + 2 * margin;
  const height = (high - low + 1) * rowHeight + axisHeight;
  if (canvas.width !== width || canvas.height !== height) {
    canvas.width = width;
    canvas.height = height;
  }
  const g = canvas.getContext("2d");
  const x = (t) => margin + t * scale;
  const y = (key) => (high - key) * rowHeight;
  g.fillStyle = "#fbfbfd";
  g.fillRect(0, 0, width, height);
  for (let key = low; key <= high; ++key) {
    if (noteName(key)[1] === "s") {
      g.fillStyle = "#eef0f4";
      g.fillRect(0, y(key), width, rowHeight);
    }
  }
  for (const n of ghostNotes) {
    g.fillStyle = "rgba(120, 120, 140, 0.28)";
    const w = Math.max(1, (n.end - n.start) * scale);
    g.fillRect(x(n.start), y(n.key), w, rowHeight);
    if (n.lost) {
      g.strokeStyle = "#d9822b";
      g.lineWidth = 2;
      g.strokeRect(x(n.start) + 1, y(n.key) + 1, Math.max(1, w - 2), rowHeight - 2);
    }
  }
  g.fillStyle = "#2a7ae2";
  for (const n of notes) {
    g.fillRect(x(n.start), y(n.key) + 2, Math.max(1, (n.end - n.start) * scale - 1), rowHeight - 4);
  }
  const axis = height - axisHeight;
  g.font = "11px sans-serif";
  // Bar lines always; their numbers where there is room for them.
  g.fillStyle = "#555";
  let free = -Infinity;
  for (const bar of bars) {
    g.fillRect(x(bar.at), 0, 1, axis);
    const textWidth = g.measureText(bar.text).width;
    if (x(bar.at) >= free) {
      g.fillText(bar.text, x(bar.at) + 2, axis + 12);
      free = x(bar.at) + textWidth + 8;
    }
  }
  // Seconds along the axis, at least 60 pixels apart.
  const step =
    [0.1, 0.25, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600].find((s) => s * scale >= 60) ?? 1200;
  g.fillStyle = "#666";
  for (let t = 0; t <= seconds; t += step) {
    g.fillRect(x(t), axis, 1, 4);
    g.fillText(timeText(t), x(t) + 2, axis + 25);
  }
  // Text labels in a few rows, each where it fits; the rest only in the script.
  g.fillStyle = "#8a3ab9";
  const rowsFree = Array(labelRows).fill(-Infinity);
  for (const label of labels) {
    const text = label.text.slice(0, 40);
    const row = rowsFree.findIndex((end) => x(label.at) >= end);
    if (row >= 0) {
      g.fillRect(x(label.at), axis, 1, 30 + row * 12);
      g.fillText(text, x(label.at) + 2, axis + 37 + row * 12);
      rowsFree[row] = x(label.at) + g.measureText(text).width + 10;
    }
  }
  canvas.dataset.notes = String(notes.length);
  canvas.dataset.ghostNotes = String(ghostNotes.length);
  canvas.dataset.lostNotes = String(ghostNotes.filter((n) => n.lost).length);
  const time = (px) => Math.max(0, (px - margin) / scale);
  const noteAt = (px, py) => {
    const key = high - Math.floor(py / rowHeight);
    const t = time(px);
    const under = (n) => n.key === key && n.start <= t && t <= Math.max(n.end, n.start + 2 / scale);
    const played = notes.find(under);
    if (played) {
      return { ...played, played: true };
    }
    const ghost = ghostNotes.find(under);
    return ghost ? { ...ghost, played: false } : null;
  };
  return { x, time, noteAt, scale };
}
