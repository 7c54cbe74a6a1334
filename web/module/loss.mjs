// What a conversion loses of the file's notes.
import { noteArrays, onChannel, withNotes } from "./notes.mjs";
import { scanScript } from "./scripts.mjs";

/** @typedef {import("./notes.mjs").FileNote} FileNote */
/** @typedef {import("./notes.mjs").NoteArrays} NoteArrays */

/**
 * How far, in driver ticks, a note line may start from a note of its key and
 * still play it: what rounding to driver ticks moves a line, and a half more.
 * A line that starts further from every note of its key plays none.
 */
export const startWindow = 1.5;

/**
 * What one script, or the whole run, loses against the MIDI file, in its
 * notes: `heardInFull`, `cutShort` and `neverHeard` add up to `fileNotes`
 * (all three null without a driver frequency).
 * @typedef {object} Loss
 * @property {number} fileNotes note-ons of velocity above 0 in the script's track, on its
 *   channel (any, for a whole-track script)
 * @property {number|null} heardInFull file notes a note line of more than 0 ticks plays for
 *   their length, less one driver tick at most (a line plays a note of its key that starts
 *   within 1.5 driver ticks of it)
 * @property {number|null} cutShort file notes a line plays for less
 * @property {number|null} secondsCutShort the seconds those notes lose in all
 * @property {number|null} neverHeard file notes no line plays
 * @property {number} silentLines note lines of 0 ticks: a property of the script, not of the music
 * @property {number|null} timingError the largest difference, in milliseconds, between where
 *   a note line starts in the script and where the nearest note of its key starts in the file
 */

/** @typedef {Loss & {name: string, track: number, channel: number|null}} ScriptLoss */

/**
 * What each script of a run loses against the MIDI file, in the order
 * written, and the same for the whole run. For each script, its file notes
 * (the note-ons of velocity above 0 in its track on its channel, any channel
 * for a whole-track script) as one partition: `heardInFull`, `cutShort`
 * (sounding for less than their length less one driver tick, with
 * `secondsCutShort`, what they lose in all) and `neverHeard`, which add up to
 * `fileNotes`; `timingError`, the largest difference in milliseconds between
 * where a note line starts and where the nearest note of its key starts in
 * the file; and,
 * apart, `silentLines`, the script's note lines of 0 ticks. Each note line of
 * more than 0 ticks plays the file's note of its key that starts nearest to
 * it, if that starts within `startWindow` (1.5) driver ticks of it: a note
 * whose line starts later, as in a script that drifts, is never heard (or cut
 * short, where a line of its key within the window ends early); a note played
 * by several lines counts its longest. Times need the run's
 * driver frequency: without one (0 or null) the partition and the timing are
 * null.
 * @param {Uint8Array} source the MIDI file's bytes
 * @param {Pick<import("./core.mjs").ConversionResult, "driverFrequency" | "scripts">} result what `convert` returned
 * @param {FileNote[][] | null} [notes] the file's notes, when `fileNotes` has read them already
 * @returns {Promise<{scripts: ScriptLoss[], totals: Loss}>}
 */
export async function lossReport(source, result, notes) {
  const frequency = driverTicks(result.driverFrequency);
  /** @param {NoteArrays[] | null} tracks */
  const count = (tracks) => {
    const buffers = new MatchBuffers();
    const scripts = result.scripts.map(({ name, bytes, track, channel }) => {
      const match = new NoteMatch(onChannel(tracks?.[track], channel), frequency, buffers);
      match.read([bytes]);
      return { name, track, channel, ...match.loss() };
    });
    return { scripts, totals: totalLoss(scripts, frequency) };
  };
  return notes === undefined ? withNotes(source, count) : count(notes?.map(noteArrays) ?? null);
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
 * notes, counted as `lossReport` counts: each part (a track and channel of the
 * source) by the scripts of its own voices against its own notes, so that a
 * part doubled on two channels counts each channel's notes once; reported per
 * track of the source with notes, its parts together, and in all.
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
  const frequency = driverTicks(result.driverFrequency);
  const voiced = parts.filter((part) => part.channel !== null);
  /** @param {NoteArrays[] | null} notes */
  const count = (notes) => {
    const buffers = new MatchBuffers();
    const tracks = [...new Set(voiced.map((part) => part.track))].map((track) => {
      const losses = voiced
        .filter((part) => part.track === track)
        .map((part) => {
          const scripts = result.scripts
            .filter(
              (script) =>
                script.track >= part.firstTrack && script.track < part.firstTrack + part.trackCount,
            )
            .map((script) => script.bytes);
          const match = new NoteMatch(onChannel(notes?.[track], part.channel), frequency, buffers);
          match.read(scripts);
          return match.loss();
        });
      return { track, ...totalLoss(losses, frequency) };
    });
    return { tracks, totals: totalLoss(tracks, frequency) };
  };
  return fileNotesRead === undefined
    ? withNotes(source, count)
    : count(fileNotesRead?.map(noteArrays) ?? null);
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
  const match = new NoteMatch(noteArrays(file), driverTicks(frequency));
  for (const item of items) {
    if (item.kind === "note") {
      match.line(item.key, item.startTick, item.ticks);
    }
  }
  const lost = new Uint8Array(file.length);
  return { ...match.loss(lost), lost: new Set(file.filter((_, i) => lost[i] === 1)) };
}

// The working memory of a match, kept for the next: fresh memory costs more
// to touch than memory used before, and a report matches script after script.
class MatchBuffers {
  constructor() {
    this.order = new Int32Array(0);
    this.sorted = new Float64Array(0);
    this.playedTicks = new Float64Array(0);
  }

  /**
   * Room for `count` notes, valid until the next call; `playedTicks` all 0.
   * @param {number} count
   */
  take(count) {
    if (count > this.order.length) {
      this.order = new Int32Array(count);
      this.sorted = new Float64Array(count);
      this.playedTicks = new Float64Array(count);
    }
    return {
      order: this.order.subarray(0, count),
      sorted: this.sorted.subarray(0, count),
      playedTicks: this.playedTicks.subarray(0, count).fill(0),
    };
  }
}

// What note lines play of a track's notes, taken line by line as they are
// read, and the partition `lossReport` counts of it. Each line of more than 0
// ticks plays the note of its key that starts nearest to it.
class NoteMatch {
  /**
   * @param {NoteArrays} file
   * @param {number|null} frequency driver ticks per second, above 0, or null: no timing
   * @param {MatchBuffers} [buffers] memory to work in, when matches are made one after another
   */
  constructor(file, frequency, buffers = new MatchBuffers()) {
    this.file = file;
    this.frequency = frequency;
    this.silentLines = 0;
    this.timingError = 0;
    const { keys, starts } = file;
    const count = keys.length;
    // The notes grouped by key, each group in order of start as the track
    // holds them: `order` their indices, `sorted` their starts, `first` where
    // each key's group begins.
    const first = new Int32Array(257);
    for (let i = 0; i < count; ++i) {
      ++first[keys[i] + 1];
    }
    for (let key = 1; key <= 256; ++key) {
      first[key] += first[key - 1];
    }
    const { order, sorted, playedTicks } = buffers.take(count);
    const fill = first.slice(0, 256);
    for (let i = 0; i < count; ++i) {
      const at = fill[keys[i]]++;
      order[at] = i;
      sorted[at] = starts[i];
    }
    this.first = first;
    this.order = order;
    this.sorted = sorted;
    // Where the last search of each key ended: a script's lines come in order
    // of start, so the next search of the key mostly begins there.
    this.cursor = first.slice(0, 256);
    // The most ticks any line plays each note; 0 for none, as a line that
    // plays it has at least one. Seconds are these over the frequency, which
    // keeps their order, so the longest in ticks is the longest in seconds.
    this.playedTicks = playedTicks;
  }

  /**
   * Reads the note lines of scripts, one after another.
   * @param {readonly Uint8Array[]} scripts their bytes
   */
  read(scripts) {
    /** @type {Parameters<typeof scanScript>[1]} */
    const take = (kind, ticks, startTick, key) => {
      if (kind === "note") {
        this.line(key, startTick, ticks);
      }
    };
    for (const bytes of scripts) {
      scanScript(bytes, take);
    }
  }

  /**
   * One note line.
   * @param {number} key
   * @param {number} startTick the driver tick it starts at
   * @param {number} ticks
   */
  line(key, startTick, ticks) {
    const frequency = this.frequency;
    if (ticks === 0) {
      ++this.silentLines;
      return;
    }
    const from = this.first[key];
    const to = this.first[key + 1];
    if (frequency === null || from === to) {
      return;
    }
    const sorted = this.sorted;
    const start = startTick / frequency;
    // The first of the key's notes that starts at or after the line.
    let low = this.cursor[key];
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
    this.cursor[key] = low;
    // The nearest of it and the one before; the one before at a tie.
    const nearest =
      low === from
        ? low
        : low === to || start - sorted[low - 1] <= sorted[low] - start
          ? low - 1
          : low;
    const note = this.order[nearest];
    const off = Math.abs(sorted[nearest] - start);
    this.timingError = Math.max(this.timingError, off * 1000);
    if (off > startWindow / frequency) {
      return;
    }
    if (ticks > this.playedTicks[note]) {
      this.playedTicks[note] = ticks;
    }
  }

  /**
   * The partition so far, in the track's order of notes. A note is heard in
   * full when a line plays it for its length less one driver tick at most,
   * else cut short; `lost`, when given, gets a mark (1) at each note never
   * heard or cut short.
   * @param {Uint8Array} [lost] a byte a note, all 0
   * @returns {Loss}
   */
  loss(lost) {
    const count = this.file.keys.length;
    const frequency = this.frequency;
    let heardInFull = 0;
    let cutShort = 0;
    let secondsCutShort = 0;
    if (frequency !== null) {
      const { starts, ends } = this.file;
      const playedTicks = this.playedTicks;
      for (let i = 0; i < count; ++i) {
        const ticks = playedTicks[i];
        const played = ticks / frequency;
        const length = ends[i] - starts[i];
        if (ticks !== 0 && !(played < length - 1 / frequency)) {
          heardInFull += 1;
          continue;
        }
        if (ticks !== 0) {
          cutShort += 1;
          secondsCutShort += length - played;
        }
        if (lost !== undefined) {
          lost[i] = 1;
        }
      }
    }
    const timed = frequency !== null;
    return {
      fileNotes: count,
      heardInFull: timed ? heardInFull : null,
      cutShort: timed ? cutShort : null,
      secondsCutShort: timed ? secondsCutShort : null,
      neverHeard: timed ? count - heardInFull - cutShort : null,
      silentLines: this.silentLines,
      timingError: timed ? this.timingError : null,
    };
  }
}
