// The file's notes as the core reads them, and the notes a script is made of.
import { runCore } from "./instance.mjs";

/**
 * A note of the MIDI file, in seconds by the file's tempo map.
 * @typedef {{channel: number, key: number, start: number, end: number}} FileNote
 */

/**
 * A track's notes as parallel arrays, in order of start, times in seconds: the
 * form the loss is counted in, with no object per note.
 * @typedef {{channels: Uint8Array, keys: Uint8Array, starts: Float64Array, ends: Float64Array}} NoteArrays
 */

/**
 * Reads the file's notes with the core and gives what `use` makes of them:
 * per track in parallel arrays, timed by the file's tempo map, or null when
 * the file cannot be read or its timing is in SMPTE frames. The arrays are
 * the core's own memory, read in place and valid only while `use` runs: it
 * copies what it keeps.
 * @template T
 * @param {Uint8Array} bytes
 * @param {(tracks: NoteArrays[] | null) => T} use
 * @returns {Promise<T>}
 */
export async function withNotes(bytes, use) {
  /** @type {{value: T} | {error: unknown} | null} */
  let outcome = null;
  await runCore("file_notes", "in.mid", bytes, [], {
    onFileNotes(/** @type {any} */ read) {
      let next = 0;
      const tracks = Array.from(read.noteCounts, (/** @type {number} */ count) => {
        const from = next;
        next += count;
        return {
          channels: read.channels.subarray(from, next),
          keys: read.keys.subarray(from, next),
          starts: read.starts.subarray(from, next),
          ends: read.ends.subarray(from, next),
        };
      });
      // What `use` throws is thrown after the run, not through the core.
      try {
        outcome = { value: use(tracks) };
      } catch (error) {
        outcome = { error };
      }
    },
  });
  // Set by the callback, which the checker does not follow.
  const settled = /** @type {{value: T} | {error: unknown} | null} */ (outcome);
  if (settled === null) {
    return use(null);
  }
  if ("error" in settled) {
    throw settled.error;
  }
  return settled.value;
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
export function fileNotes(bytes) {
  return withNotes(
    bytes,
    (tracks) =>
      tracks &&
      tracks.map(({ channels, keys, starts, ends }) =>
        Array.from(keys, (key, i) => ({
          channel: channels[i],
          key,
          start: starts[i],
          end: ends[i],
        })),
      ),
  );
}

/**
 * Notes as parallel arrays.
 * @param {readonly {channel?: number, key: number, start: number, end: number}[]} notes
 * @returns {NoteArrays}
 */
export function noteArrays(notes) {
  return {
    channels: Uint8Array.from(notes, (n) => n.channel ?? 0),
    keys: Uint8Array.from(notes, (n) => n.key),
    starts: Float64Array.from(notes, (n) => n.start),
    ends: Float64Array.from(notes, (n) => n.end),
  };
}

/**
 * Whether a script on `channel` (null: a script of the whole track) is made of
 * a note of its track on `noteChannel`.
 * @param {number|null} channel
 * @param {number} noteChannel
 * @returns {boolean}
 */
function takes(channel, noteChannel) {
  return channel === null || noteChannel === channel;
}

/**
 * The file's notes a script was made from: its track's, on its channel.
 * @param {FileNote[][] | null} tracks as `fileNotes` reads them
 * @param {{track: number, channel: number|null}} script
 * @returns {FileNote[]}
 */
export function scriptFileNotes(tracks, script) {
  const notes = tracks?.[script.track] ?? [];
  return script.channel === null ? notes : notes.filter((n) => takes(script.channel, n.channel));
}

/**
 * A track's notes on one channel, or all of them (channel null).
 * @param {NoteArrays | undefined} notes
 * @param {number|null} channel
 * @returns {NoteArrays}
 */
export function onChannel(notes, channel) {
  if (notes === undefined) {
    return noteArrays([]);
  }
  if (channel === null) {
    return notes;
  }
  const { channels, keys, starts, ends } = notes;
  let count = 0;
  for (let i = 0; i < channels.length; ++i) {
    count += takes(channel, channels[i]) ? 1 : 0;
  }
  const taken = {
    channels: new Uint8Array(count).fill(channel),
    keys: new Uint8Array(count),
    starts: new Float64Array(count),
    ends: new Float64Array(count),
  };
  for (let i = 0, at = 0; at < count; ++i) {
    if (takes(channel, channels[i])) {
      taken.keys[at] = keys[i];
      taken.starts[at] = starts[i];
      taken.ends[at++] = ends[i];
    }
  }
  return taken;
}
