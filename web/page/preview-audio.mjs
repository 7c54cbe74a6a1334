// The audio of a conversion: the voices the worker mixes (the scripts', the
// MIDI file's own notes), the scripts that sound under mute and solo, and the
// preview as WAV bytes.
export const sampleRate = 44100;

// 16-bit PCM mono WAV.
export function encodeWav(samples, rate = sampleRate) {
  const data = samples.length * 2;
  const view = new DataView(new ArrayBuffer(44 + data));
  const text = (at, s) => [...s].forEach((c, i) => view.setUint8(at + i, c.charCodeAt(0)));
  text(0, "RIFF");
  view.setUint32(4, 36 + data, true);
  text(8, "WAVE");
  text(12, "fmt ");
  view.setUint32(16, 16, true);
  view.setUint16(20, 1, true);
  view.setUint16(22, 1, true);
  view.setUint32(24, rate, true);
  view.setUint32(28, rate * 2, true);
  view.setUint16(32, 2, true);
  view.setUint16(34, 16, true);
  text(36, "data");
  view.setUint32(40, data, true);
  samples.forEach((v, i) =>
    view.setInt16(44 + i * 2, Math.round(Math.max(-1, Math.min(1, v)) * 32767), true),
  );
  return new Uint8Array(view.buffer);
}

// Scripts that sound: the soloed ones if any, else all but the muted.
export function audibleScripts(scripts, muted, soloed) {
  return scripts.filter((s) => (soloed.size > 0 ? soloed.has(s.name) : !muted.has(s.name)));
}

// The file's notes spread over as few monophonic lanes as they need, so that
// the mix is scaled by the real number of notes sounding together.
export function midiVoices(notes) {
  const lanes = [];
  for (const note of [...notes].sort((a, b) => a.start - b.start)) {
    const lane = lanes.find((l) => l.at(-1).end <= note.start);
    lane ? lane.push(note) : lanes.push([note]);
  }
  return lanes;
}
