// The piano roll of one script: time across in seconds at the driver
// frequency, key up the side; one bar per note line of nonzero ticks, bar
// headings as numbered lines, text comments as labels on the time axis, and
// behind it all, ghosted, the MIDI file's own notes (chords outlined).

const rowHeight = 9;
const axisHeight = 46;
const maxCanvasWidth = 30000;

// Draws the roll; returns the x position of a time in seconds.
export function drawRoll(canvas, content, pixelsPerSecond) {
  const { notes, bars, labels, ghostNotes, seconds, low, high } = content;
  const scale = Math.min(pixelsPerSecond, maxCanvasWidth / seconds);
  const width = Math.ceil(seconds * scale) + 40;
  const height = (high - low + 1) * rowHeight + axisHeight;
  if (canvas.width !== width || canvas.height !== height) {
    canvas.width = width;
    canvas.height = height;
  }
  const g = canvas.getContext("2d");
  const x = (t) => 20 + t * scale;
  const y = (key) => (high - key) * rowHeight;
  g.fillStyle = "#fbfbfd";
  g.fillRect(0, 0, width, height);
  for (let key = low; key <= high; ++key) {
    if ([1, 3, 6, 8, 10].includes(key % 12)) {
      g.fillStyle = "#eef0f4";
      g.fillRect(0, y(key), width, rowHeight);
    }
  }
  for (const n of ghostNotes) {
    g.fillStyle = "rgba(120, 120, 140, 0.28)";
    g.fillRect(x(n.start), y(n.key), Math.max(1, (n.end - n.start) * scale), rowHeight);
    if (n.chord) {
      g.strokeStyle = "#d9822b";
      g.strokeRect(
        x(n.start) + 0.5,
        y(n.key) + 0.5,
        Math.max(1, (n.end - n.start) * scale) - 1,
        rowHeight - 1,
      );
    }
  }
  g.fillStyle = "#2a7ae2";
  for (const n of notes) {
    g.fillRect(x(n.start), y(n.key) + 1, Math.max(1, (n.end - n.start) * scale - 1), rowHeight - 2);
  }
  const axis = height - axisHeight;
  g.font = "11px sans-serif";
  g.fillStyle = "#555";
  for (const bar of bars) {
    g.fillRect(x(bar.at), 0, 1, axis);
    g.fillText(bar.text, x(bar.at) + 2, axis + 12);
  }
  // Seconds along the axis, at least 60 pixels apart.
  const step =
    [0.1, 0.25, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600].find((s) => s * scale >= 60) ?? 1200;
  g.fillStyle = "#999";
  for (let t = 0; t <= seconds; t += step) {
    g.fillRect(x(t), axis, 1, 4);
    g.fillText(`${Number(t.toFixed(2))} s`, x(t) + 2, axis + 25);
  }
  g.fillStyle = "#8a3ab9";
  for (const label of labels) {
    g.fillRect(x(label.at), axis, 1, 40);
    g.fillText(label.text.slice(0, 40), x(label.at) + 2, axis + 39);
  }
  canvas.dataset.notes = String(notes.length);
  canvas.dataset.ghostNotes = String(ghostNotes.length);
  return x;
}
