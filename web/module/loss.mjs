// The file's notes and what a conversion loses of them.
import { runCore } from "./instance.mjs";
import { latin1, parseScript } from "./scripts.mjs";

/**
 * A note of the MIDI file, in seconds by the file's tempo map.
 * @typedef {{channel: number, key: number, start: number, end: number}} FileNote
 */

/**
 * What one script, or the whole run, loses against the MIDI file, in its
 * notes: `heardInFull`, `cutShort` and `neverHeard` add up to `fileNotes`
 * (all three null without a driver frequency).
 * @typedef {object} Loss
 * @property {number} fileNotes note-ons of velocity above 0 in the script's track, on its
 *   channel (any, for a whole-track script)
 * @property {number|null} heardInFull file notes a note line of more than 0 ticks plays for
 *   their length, less one driver tick at most
 * @property {number|null} cutShort file notes a line plays for less
 * @property {number|null} secondsCutShort the seconds those notes lose in all
 * @property {number|null} neverHeard file notes no line plays
 * @property {number} silentLines note lines of 0 ticks: a property of the script, not of the music
 * @property {number|null} timingError the largest difference, in milliseconds, between where
 *   a heard note starts in the script and in the file
 */

/** @typedef {Loss & {name: string, track: number, channel: number|null}} ScriptLoss */

/**
 * Seconds at each tick, from tempo changes in order of tick.
 * @param {{tick: number, tempo: number}[]} changes
 * @param {number} division ticks a quarter note
 * @returns {(tick: number) => number}
 */
function tempoMap(changes, division) {
  const steps = [{ tick: 0, seconds: 0, tempo: 500000 }];
  for (const { tick, tempo } of changes) {
    const last = steps[steps.length - 1];
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
 * The MIDI file's own notes, per track, as the core reads them (running
 * status and all, exactly as the converter does; a note ends at the next
 * note-off of its channel and key, where the key is struck again, or at the
 * end of its track), timed by the file's tempo map (each track's own in a
 * format-2 file): [{channel, key, start, end}] with times in seconds. Null
 * when the file cannot be read or its timing is in SMPTE frames.
 * @param {Uint8Array} bytes
 * @returns {Promise<FileNote[][] | null>}
 */
export async function fileNotes(bytes) {
  /** @type {any} */
  let read = null;
  await runCore("mid2nolt-notes", "in.mid", bytes, [], {
    onFileNotes(/** @type {any} */ arrays) {
      read = arrays;
    },
  });
  if (read === null || read.division === 0 || read.division & 0x8000) {
    return null;
  }
  const division = read.division;
  /** @type {{tick: number, tempo: number}[][]} */
  const changes = [];
  let at = 0;
  for (const count of read.tempoCounts) {
    const track = [];
    for (const end = at + count; at < end; ++at) {
      track.push({ tick: read.tempoTicks[at], tempo: read.tempos[at] });
    }
    changes.push(track);
  }
  // Earlier tracks first at one tick: the sort is stable.
  const shared =
    read.format === 2
      ? null
      : tempoMap(
          changes.flat().sort((x, y) => x.tick - y.tick),
          division,
        );
  let next = 0;
  return Array.from(read.noteCounts, (/** @type {number} */ count, track) => {
    const seconds = shared ?? tempoMap(changes[track], division);
    /** @type {FileNote[]} */
    const notes = new Array(count);
    for (let i = 0; i < count; ++i, ++next) {
      notes[i] = {
        channel: read.channels[next],
        key: read.keys[next],
        start: seconds(read.starts[next]),
        end: seconds(read.ends[next]),
      };
    }
    return notes;
  });
}

// The note of a list in order of start that starts nearest to `start`.
function nearestStart(notes, start) {
  let low = 0;
  let high = notes.length;
  while (low < high) {
    const middle = (low + high) >> 1;
    notes[middle].start < start ? (low = middle + 1) : (high = middle);
  }
  const before = notes[low - 1];
  const after = notes[low];
  if (before === undefined || after === undefined) {
    return before ?? after ?? null;
  }
  return start - before.start <= after.start - start ? before : after;
}

/**
 * What each script of a run loses against the MIDI file, in the order
 * written, and the same for the whole run. For each script, its file notes
 * (the note-ons of velocity above 0 in its track on its channel, any channel
 * for a whole-track script) as one partition: `heardInFull`, `cutShort`
 * (sounding for less than their length less one driver tick, with
 * `secondsCutShort`, what they lose in all) and `neverHeard`, which add up to
 * `fileNotes`; `timingError`, the largest difference in milliseconds between
 * where a heard note line starts and where its note starts in the file; and,
 * apart, `silentLines`, the script's note lines of 0 ticks. Each note line of
 * more than 0 ticks plays the file's note of its key that starts nearest to
 * it; a note played by several lines counts its longest. Times need the run's
 * driver frequency: without one (0 or null) the partition and the timing are
 * null.
 * @param {Uint8Array} source the MIDI file's bytes
 * @param {Pick<import("./core.mjs").ConversionResult, "driverFrequency" | "scripts">} result what `convert` returned
 * @param {FileNote[][] | null} [notes] the file's notes, when `fileNotes` has read them already
 * @returns {Promise<{scripts: ScriptLoss[], totals: Loss}>}
 */
export async function lossReport(source, result, notes) {
  const tracks = (notes === undefined ? await fileNotes(source) : notes) ?? [];
  const frequency = driverTicks(result.driverFrequency);
  const scripts = result.scripts.map(({ name, bytes, track, channel }) => {
    const file = (tracks[track] ?? []).filter((n) => channel === null || n.channel === channel);
    const { lost, ...loss } = compareNotes(
      file,
      parseScript(latin1.decode(bytes)).items,
      frequency,
    );
    return { name, track, channel, ...loss };
  });
  return { scripts, totals: totalLoss(scripts, frequency) };
}

/**
 * A driver frequency that can time notes, or null.
 * @param {number|null} frequency
 */
function driverTicks(frequency) {
  return frequency !== null && frequency > 0 ? frequency : null;
}

/**
 * The losses of several scripts (or parts) as one: counts added, the largest
 * timing error; null where any is null.
 * @param {readonly Loss[]} losses
 * @param {number|null} frequency
 * @returns {Loss}
 */
export function totalLoss(losses, frequency) {
  /** @param {"heardInFull" | "cutShort" | "secondsCutShort" | "neverHeard"} field */
  const sum = (field) =>
    losses.some((s) => s[field] === null)
      ? null
      : losses.reduce((total, s) => total + (s[field] ?? 0), 0);
  /** @param {"fileNotes" | "silentLines"} field */
  const count = (field) => losses.reduce((total, s) => total + s[field], 0);
  return {
    fileNotes: count("fileNotes"),
    heardInFull: sum("heardInFull"),
    cutShort: sum("cutShort"),
    secondsCutShort: sum("secondsCutShort"),
    neverHeard: sum("neverHeard"),
    silentLines: count("silentLines"),
    timingError: frequency === null ? null : Math.max(0, ...losses.map((s) => s.timingError ?? 0)),
  };
}

/**
 * What the conversion of an arranged file loses against the source's own
 * notes, counted as `lossReport` counts: per track of the source with notes,
 * the scripts of all its voices together against all its notes, and in all.
 * Notes the arranger left out are never heard; notes it ended early are cut
 * short.
 * @param {Uint8Array} source the source file's bytes
 * @param {readonly import("./core.mjs").ArrangedPart[]} parts what `arrange` returned of the source
 * @param {Pick<import("./core.mjs").ConversionResult, "driverFrequency" | "scripts">} result what `convert`
 *   returned for the arranged file
 * @param {FileNote[][] | null} [fileNotesRead] the source's notes, when `fileNotes` has read
 *   them already
 * @returns {Promise<{tracks: (Loss & {track: number})[], totals: Loss}>}
 */
export async function arrangedLossReport(source, parts, result, fileNotesRead) {
  const notes = (fileNotesRead === undefined ? await fileNotes(source) : fileNotesRead) ?? [];
  const frequency = driverTicks(result.driverFrequency);
  const voiced = parts.filter((part) => part.channel !== null);
  const tracks = [...new Set(voiced.map((part) => part.track))].map((track) => {
    const outputs = voiced.filter((part) => part.track === track);
    const items = result.scripts
      .filter((script) =>
        outputs.some(
          (part) =>
            script.track >= part.firstTrack && script.track < part.firstTrack + part.trackCount,
        ),
      )
      .flatMap((script) => parseScript(latin1.decode(script.bytes)).items);
    const { lost, ...loss } = compareNotes(notes[track] ?? [], items, frequency);
    return { track, ...loss };
  });
  return { tracks, totals: totalLoss(tracks, frequency) };
}

/**
 * One script against the file's notes it was made from, as `lossReport`
 * counts, with `lost`: the file's notes never heard or cut short.
 * @template {{key: number, start: number, end: number}} N
 * @param {readonly N[]} file in order of start
 * @param {readonly import("./scripts.mjs").ScriptItem[]} items the script, as `parseScript` reads it
 * @param {number|null} frequency driver ticks per second
 * @returns {Loss & {lost: Set<N>}}
 */
export function compareNotes(file, items, frequency) {
  const notes = items.filter((item) => item.kind === "note");
  const heard = notes.filter((note) => note.ticks > 0);
  const loss = {
    fileNotes: file.length,
    heardInFull: null,
    cutShort: null,
    secondsCutShort: null,
    neverHeard: null,
    silentLines: notes.length - heard.length,
    timingError: null,
    lost: new Set(),
  };
  if (frequency === null || !(frequency > 0)) {
    return loss;
  }
  // The file's notes by key, each list in order of start, as a track holds them.
  const byKey = new Map();
  for (const n of file) {
    const group = byKey.get(n.key);
    group ? group.push(n) : byKey.set(n.key, [n]);
  }
  // The longest any heard line plays each file note, in seconds.
  const sounding = new Map();
  let timingError = 0;
  for (const note of heard) {
    const start = note.startTick / frequency;
    const nearest = nearestStart(byKey.get(note.key) ?? [], start);
    if (nearest !== null) {
      timingError = Math.max(timingError, Math.abs(nearest.start - start) * 1000);
      sounding.set(nearest, Math.max(sounding.get(nearest) ?? 0, note.ticks / frequency));
    }
  }
  let heardInFull = 0;
  let cutShort = 0;
  let secondsCutShort = 0;
  for (const n of file) {
    const played = sounding.get(n);
    const length = n.end - n.start;
    if (played === undefined) {
      loss.lost.add(n);
    } else if (played < length - 1 / frequency) {
      cutShort += 1;
      secondsCutShort += length - played;
      loss.lost.add(n);
    } else {
      heardInFull += 1;
    }
  }
  const neverHeard = file.length - heardInFull - cutShort;
  return { ...loss, heardInFull, cutShort, secondsCutShort, neverHeard, timingError };
}
