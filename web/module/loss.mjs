// The file's notes and what a conversion loses of them.
import { runCore } from "./instance.mjs";
import { scanScript } from "./scripts.mjs";

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
 * A track's notes as parallel arrays, in order of start, times in seconds: the
 * form the loss is counted in, with no object per note.
 * @typedef {{channels: Uint8Array, keys: Uint8Array, starts: Float64Array, ends: Float64Array}} NoteArrays
 */

/**
 * A script's note lines of more than 0 ticks as parallel arrays (keys, the
 * driver tick each starts at, its ticks; the first `count` of them used), and
 * how many lines of 0 ticks.
 * @typedef {{keys: Uint8Array, startTicks: Float64Array, ticks: Float64Array, count: number,
 *   silent: number}} NoteLines
 */

/**
 * The file's notes per track as the core reads them, timed by its tempo map,
 * in parallel arrays; null when the file cannot be read or its timing is in
 * SMPTE frames.
 * @param {Uint8Array} bytes
 * @returns {Promise<NoteArrays[] | null>}
 */
async function readNotes(bytes) {
  /** @type {any} */
  let read = null;
  await runCore("mid2nolt-notes", "in.mid", bytes, [], {
    onFileNotes(/** @type {any} */ arrays) {
      read = arrays;
    },
  });
  if (read === null) {
    return null;
  }
  let next = 0;
  return Array.from(read.noteCounts, (/** @type {number} */ count) => {
    const from = next;
    next += count;
    return {
      channels: read.channels.subarray(from, next),
      keys: read.keys.subarray(from, next),
      starts: read.starts.subarray(from, next),
      ends: read.ends.subarray(from, next),
    };
  });
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
  const tracks = await readNotes(bytes);
  return (
    tracks &&
    tracks.map(({ channels, keys, starts, ends }) =>
      Array.from(keys, (key, i) => ({ channel: channels[i], key, start: starts[i], end: ends[i] })),
    )
  );
}

/**
 * Notes as parallel arrays.
 * @param {readonly {channel?: number, key: number, start: number, end: number}[]} notes
 * @returns {NoteArrays}
 */
function noteArrays(notes) {
  return {
    channels: Uint8Array.from(notes, (n) => n.channel ?? 0),
    keys: Uint8Array.from(notes, (n) => n.key),
    starts: Float64Array.from(notes, (n) => n.start),
    ends: Float64Array.from(notes, (n) => n.end),
  };
}

/**
 * A track's notes on one channel, or all of them (channel null).
 * @param {NoteArrays | undefined} notes
 * @param {number|null} channel
 * @returns {NoteArrays}
 */
function onChannel(notes, channel) {
  if (notes === undefined) {
    return noteArrays([]);
  }
  if (channel === null) {
    return notes;
  }
  /** @type {number[]} */
  const taken = [];
  notes.channels.forEach((c, i) => c === channel && taken.push(i));
  return {
    channels: Uint8Array.from(taken, (i) => notes.channels[i]),
    keys: Uint8Array.from(taken, (i) => notes.keys[i]),
    starts: Float64Array.from(taken, (i) => notes.starts[i]),
    ends: Float64Array.from(taken, (i) => notes.ends[i]),
  };
}

/**
 * Room for `count` note lines.
 * @param {number} count
 * @returns {NoteLines}
 */
function noteLines(count) {
  return {
    keys: new Uint8Array(count),
    startTicks: new Float64Array(count),
    ticks: new Float64Array(count),
    count: 0,
    silent: 0,
  };
}

/**
 * Adds a note line of more than 0 ticks to `lines`, making room as needed.
 * @param {NoteLines} lines
 * @param {number} key
 * @param {number} startTick
 * @param {number} ticks
 */
function addNoteLine(lines, key, startTick, ticks) {
  if (lines.count === lines.keys.length) {
    const grown = noteLines(Math.max(16, lines.count * 2));
    grown.keys.set(lines.keys);
    grown.startTicks.set(lines.startTicks);
    grown.ticks.set(lines.ticks);
    Object.assign(lines, { keys: grown.keys, startTicks: grown.startTicks, ticks: grown.ticks });
  }
  lines.keys[lines.count] = key;
  lines.startTicks[lines.count] = startTick;
  lines.ticks[lines.count] = ticks;
  ++lines.count;
}

/**
 * The note lines of scripts, one after another, as the driver plays them.
 * @param {readonly Uint8Array[]} scripts the scripts' bytes
 * @returns {NoteLines}
 */
function scriptNoteLines(scripts) {
  // Room first for a note line every 16 bytes; more is made as needed.
  const lines = noteLines(scripts.reduce((total, bytes) => total + (bytes.length >> 4), 0));
  /** @type {Parameters<typeof scanScript>[1]} */
  const take = (kind, ticks, startTick, key) => {
    if (kind !== "note") {
      return;
    }
    if (ticks > 0) {
      addNoteLine(lines, key, startTick, ticks);
    } else {
      lines.silent += 1;
    }
  };
  for (const bytes of scripts) {
    scanScript(bytes, take);
  }
  return lines;
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
  const tracks = (notes === undefined ? await readNotes(source) : notes?.map(noteArrays)) ?? [];
  const frequency = driverTicks(result.driverFrequency);
  const scripts = result.scripts.map(({ name, bytes, track, channel }) => {
    const file = onChannel(tracks[track], channel);
    const { loss } = matchNotes(file, scriptNoteLines([bytes]), frequency, false);
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
  const notes =
    (fileNotesRead === undefined ? await readNotes(source) : fileNotesRead?.map(noteArrays)) ?? [];
  const frequency = driverTicks(result.driverFrequency);
  const voiced = parts.filter((part) => part.channel !== null);
  const tracks = [...new Set(voiced.map((part) => part.track))].map((track) => {
    const outputs = voiced.filter((part) => part.track === track);
    const scripts = result.scripts
      .filter((script) =>
        outputs.some(
          (part) =>
            script.track >= part.firstTrack && script.track < part.firstTrack + part.trackCount,
        ),
      )
      .map((script) => script.bytes);
    const file = onChannel(notes[track], null);
    const { loss } = matchNotes(file, scriptNoteLines(scripts), frequency, false);
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
  const lines = noteLines(0);
  for (const item of items) {
    if (item.kind !== "note") {
      continue;
    }
    if (item.ticks > 0) {
      addNoteLine(lines, item.key, item.startTick, item.ticks);
    } else {
      lines.silent += 1;
    }
  }
  const { loss, lost } = matchNotes(noteArrays(file), lines, driverTicks(frequency), true);
  return { ...loss, lost: new Set(file.filter((_, i) => lost[i] === 1)) };
}

/**
 * The partition of `file` by what `lines` play of it, as `lossReport` counts,
 * and, when asked, a mark (1) for each file note never heard or cut short.
 * @param {NoteArrays} file
 * @param {NoteLines} lines
 * @param {number|null} frequency driver ticks per second, above 0
 * @param {boolean} marks
 * @returns {{loss: Loss, lost: Uint8Array}}
 */
function matchNotes(file, lines, frequency, marks) {
  const count = file.keys.length;
  const lost = new Uint8Array(marks ? count : 0);
  /** @type {Loss} */
  const loss = {
    fileNotes: count,
    heardInFull: null,
    cutShort: null,
    secondsCutShort: null,
    neverHeard: null,
    silentLines: lines.silent,
    timingError: null,
  };
  if (frequency === null) {
    return { loss, lost };
  }
  // The file's notes grouped by key, each group in order of start as the track
  // holds them: `order` their indices, `sorted` their starts, `first` where
  // each key's group begins.
  const { keys, starts, ends } = file;
  const first = new Int32Array(257);
  for (let i = 0; i < count; ++i) {
    ++first[keys[i] + 1];
  }
  for (let key = 1; key <= 256; ++key) {
    first[key] += first[key - 1];
  }
  const order = new Int32Array(count);
  const sorted = new Float64Array(count);
  const fill = first.slice(0, 256);
  for (let i = 0; i < count; ++i) {
    const at = fill[keys[i]]++;
    order[at] = i;
    sorted[at] = starts[i];
  }
  // The longest any heard line plays each file note, in seconds; -1 for none.
  const sounding = new Float64Array(count).fill(-1);
  // Where the last search of each key ended: a script's lines come in order
  // of start, so the next search of the key mostly begins there.
  const cursor = first.slice(0, 256);
  let timingError = 0;
  for (let line = 0; line < lines.count; ++line) {
    const key = lines.keys[line];
    const start = lines.startTicks[line] / frequency;
    // The note of the key that starts nearest: the last before, at a tie.
    const from = first[key];
    const to = first[key + 1];
    if (from === to) {
      continue;
    }
    // The first of the key's notes that starts at or after the line.
    let low = cursor[key];
    let high = to;
    if (low > from && sorted[low - 1] >= start) {
      high = low;
      low = from;
    } else {
      for (let steps = 0; steps < 8 && low < to && sorted[low] < start; ++steps) {
        ++low;
      }
      if (low === to || sorted[low] >= start) {
        high = low;
      }
    }
    while (low < high) {
      const middle = (low + high) >> 1;
      sorted[middle] < start ? (low = middle + 1) : (high = middle);
    }
    cursor[key] = low;
    const nearest =
      low === from
        ? low
        : low === to || start - sorted[low - 1] <= sorted[low] - start
          ? low - 1
          : low;
    const note = order[nearest];
    timingError = Math.max(timingError, Math.abs(starts[note] - start) * 1000);
    sounding[note] = Math.max(sounding[note], lines.ticks[line] / frequency);
  }
  let heardInFull = 0;
  let cutShort = 0;
  let secondsCutShort = 0;
  for (let i = 0; i < count; ++i) {
    const played = sounding[i];
    const length = ends[i] - starts[i];
    if (played < 0) {
      marks && (lost[i] = 1);
    } else if (played < length - 1 / frequency) {
      cutShort += 1;
      secondsCutShort += length - played;
      marks && (lost[i] = 1);
    } else {
      heardInFull += 1;
    }
  }
  const neverHeard = count - heardInFull - cutShort;
  return {
    loss: { ...loss, heardInFull, cutShort, secondsCutShort, neverHeard, timingError },
    lost,
  };
}
