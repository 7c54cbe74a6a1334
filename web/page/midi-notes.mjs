// The MIDI file's own notes, per track, timed by the file's tempo map: the
// reference the scripts are drawn over and compared with by ear.
import { parseMidi } from "midi-file";

// Seconds at each tick, from the tempo changes of the given tracks.
function tempoMap(tracks, division) {
  const changes = [];
  for (const events of tracks) {
    let tick = 0;
    for (const event of events) {
      tick += event.deltaTime;
      if (event.type === "setTempo") {
        changes.push({ tick, tempo: event.microsecondsPerBeat });
      }
    }
  }
  changes.sort((a, b) => a.tick - b.tick);
  const steps = [{ tick: 0, seconds: 0, tempo: 500000 }];
  for (const { tick, tempo } of changes) {
    const last = steps.at(-1);
    steps.push({
      tick,
      seconds: last.seconds + ((tick - last.tick) * last.tempo) / 1e6 / division,
      tempo,
    });
  }
  return (tick) => {
    let low = 0;
    let high = steps.length - 1;
    while (low < high) {
      const middle = (low + high + 1) >> 1;
      steps[middle].tick <= tick ? (low = middle) : (high = middle - 1);
    }
    const step = steps[low];
    return step.seconds + ((tick - step.tick) * step.tempo) / 1e6 / division;
  };
}

/**
 * Notes of every track: [{channel, key, start, end, chord}] with times in
 * seconds; `chord` marks notes struck at the same tick as another on the same
 * channel. Null when the file cannot be read or its timing is in SMPTE frames.
 */
export function midiNotes(bytes) {
  let midi;
  try {
    midi = parseMidi(bytes);
  } catch {
    return null;
  }
  const division = midi.header.ticksPerBeat;
  if (!division) {
    return null;
  }
  const shared = midi.header.format === 2 ? null : tempoMap(midi.tracks, division);
  return midi.tracks.map((events) => {
    const seconds = shared ?? tempoMap([events], division);
    const notes = [];
    const sounding = new Map();
    let tick = 0;
    for (const event of events) {
      tick += event.deltaTime;
      const id = `${event.channel}:${event.noteNumber}`;
      if (event.type === "noteOn") {
        sounding.get(id)?.forEach((n) => (n.endTick = tick));
        const note = {
          channel: event.channel,
          key: event.noteNumber,
          startTick: tick,
          endTick: tick,
        };
        sounding.set(id, [note]);
        notes.push(note);
      } else if (event.type === "noteOff") {
        sounding.get(id)?.forEach((n) => (n.endTick = tick));
        sounding.delete(id);
      }
    }
    sounding.forEach((open) => open.forEach((n) => (n.endTick = tick)));
    const struck = new Map();
    for (const n of notes) {
      const at = `${n.channel}:${n.startTick}`;
      struck.set(at, (struck.get(at) ?? 0) + 1);
    }
    return notes.map((n) => ({
      channel: n.channel,
      key: n.key,
      start: seconds(n.startTick),
      end: seconds(n.endTick),
      chord: struck.get(`${n.channel}:${n.startTick}`) > 1,
    }));
  });
}
