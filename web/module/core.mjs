// The command lines in the module: convert and arrange, each run on a fresh
// instance of the core.
import { runCore } from "./instance.mjs";

export { init } from "./instance.mjs";

/**
 * One script a run created, in the order written.
 * @typedef {object} Script
 * @property {string} name the file name, as the command line would create it ("song_1_0.txt")
 * @property {Uint8Array} bytes its bytes, exactly as the command line writes them
 * @property {number} track the MIDI track it was made from
 * @property {number|null} channel the channel it takes, or null for a script of the whole track
 */

/**
 * What one run gives: everything the command line shows and writes.
 * @typedef {object} ConversionResult
 * @property {number} exitStatus 0 on success, 1 on failure, as the command line exits
 * @property {string} stdout
 * @property {string} stderr
 * @property {number|null} driverFrequency the driver frequency the run used; null when it
 *   ended before reading the options
 * @property {Script[]} scripts every script created, in order, also those finished before a failure
 */

/**
 * One part of the source: the notes of a track on a channel, or (channel
 * null) a track's other events.
 * @typedef {object} ArrangedPart
 * @property {number} track
 * @property {number|null} channel
 * @property {number} notes
 * @property {number} leftOut notes that found no voice under the voice limit
 * @property {number} cutShort notes ended early for a note that took precedence
 * @property {number} firstTrack the first output track that holds the part
 * @property {number} trackCount how many output tracks, from `firstTrack` on, hold it
 */

/**
 * One driver channel of a fit (`--channels N`): its role ("Melody", "Bass",
 * "Drums", "Harmony 1", ...), its MIDI channel, its track in the fitted
 * file, its notes and those cut short, the notes it played as arpeggios and
 * in how many steps (with --arpeggio), and the parts of the source they came
 * from, as [track, channel, notes].
 * @typedef {object} FitChannel
 * @property {string} role
 * @property {number} midiChannel
 * @property {number} track
 * @property {number} notes
 * @property {number} cutShort
 * @property {number} arpeggiated
 * @property {number} steps
 * @property {[number, number, number][]} sources
 */

/**
 * A part of the source the fit read: the notes of a track on one MIDI
 * channel, with the track's name (its instrument's where it has none; ""
 * for none) and the channel's first General MIDI program (null for none).
 * @typedef {object} FitPart
 * @property {number} track
 * @property {number} channel
 * @property {string} name
 * @property {number|null} program
 */

/**
 * Where the Melody channel's tune comes from: the part `--melody` asks for
 * ("asked"), the parts named for it ("named"), the part that sounds like a
 * tune ("heard", its phrases spanning `through` per cent of the song), or the
 * highest notes of every part ("skyline"); `parts` indexes `Fit.parts`.
 * @typedef {object} FitTune
 * @property {"asked"|"named"|"heard"|"skyline"} from
 * @property {number[]} parts
 * @property {number} through
 */

/**
 * A fit to driver channels, as the console gives it: each channel with notes,
 * and the notes kept whole and cut short of all the source's against the
 * most that many monophonic channels can hold whole as the roles let notes in.
 * @typedef {object} Fit
 * @property {number} channels the channels asked for
 * @property {FitPart[]} parts every part with notes, by track and channel
 * @property {FitTune} tune
 * @property {FitChannel[]} fitted
 * @property {number} notes
 * @property {number} keptWhole
 * @property {number} cutShort
 * @property {number} arpeggiated played as arpeggios (with --arpeggio)
 * @property {number} most
 */

/**
 * What one arrangement gives: the console and the arranged file.
 * @typedef {object} ArrangementResult
 * @property {number} exitStatus 0 on success, 1 on failure, as the command line exits
 * @property {string} stdout
 * @property {string} stderr
 * @property {string|null} name the arranged file's name ("song-arranged.mid", or as `-o`
 *   gave it); null when none was written
 * @property {Uint8Array|null} bytes its bytes, exactly as `mid2nolt-arrange` writes them;
 *   null when none was written
 * @property {ArrangedPart[]} parts what became of each part of the source, as the console lists them
 * @property {number} notesAcrossTempo notes that sound across a change of tempo
 * @property {boolean} ownTempoMaps whether their voices carry tempo maps of their own, so that
 *   their scripts keep the file's time, which makes the arranged file format 2 (not with
 *   `--format 1`)
 * @property {Fit|null} fit with `--channels`, the fit; else null
 */

/**
 * Converts one Standard MIDI File as `mid2nolt name ...args` would.
 * @param {string} name the source name as typed on a command line ("song.mid")
 * @param {Uint8Array|ArrayBuffer} bytes the file's content
 * @param {readonly string[]} [args] the options, exactly as on the command line
 * @returns {Promise<ConversionResult>} what the command line gives:
 *   console streams, exit status and every script created, in order, also
 *   those finished before a failure; the driver frequency the options gave
 *   (null when the run ended before reading them).
 */
export async function convert(name, bytes, args = []) {
  const created = [];
  let driverFrequency = null;
  const { core, ...run } = await runCore("convert", name, bytes, args, {
    onDriverFrequency(frequency) {
      driverFrequency = frequency;
    },
    onScriptCreated(script, track, channel) {
      created.push({ name: script, track, channel });
    },
  });
  return {
    ...run,
    driverFrequency,
    scripts: created.map((script) => ({
      name: script.name,
      bytes: core.FS.readFile(script.name),
      track: script.track,
      channel: script.channel,
    })),
  };
}

/**
 * Arranges one Standard MIDI File into voice tracks as `mid2nolt-arrange name
 * ...args` would.
 * @param {string} name the source name as typed on a command line ("song.mid")
 * @param {Uint8Array|ArrayBuffer} bytes the file's content
 * @param {readonly string[]} [args] the options, exactly as on the command line
 *   (["--voices", "4"], ["-o", "out.mid"])
 * @returns {Promise<ArrangementResult>} console streams, exit status,
 *   the arranged file's name and bytes (null when none was written), and what
 *   became of each part of the source, as the console lists them: the notes of
 *   a track on a channel, or (channel null) a track's other events, and the
 *   output tracks from `firstTrack` on that hold them
 */
export async function arrange(name, bytes, args = []) {
  let written = null;
  const parts = [];
  const tempo = { notesAcrossTempo: 0, ownTempoMaps: false };
  /** @type {FitChannel[]} */
  const fitted = [];
  /** @type {FitPart[]} */
  const fitParts = [];
  /** @type {FitTune|null} */
  let tune = null;
  /** @type {Fit|null} */
  let fit = null;
  const { core, ...run } = await runCore("arrange", name, bytes, args, {
    onArrangedFile(file) {
      written = file;
    },
    onArrangedPart(part) {
      parts.push(part);
    },
    onFitChannel(channel) {
      fitted.push(channel);
    },
    onFitPart(part) {
      fitParts.push(part);
    },
    onFitTune(chosen) {
      tune = chosen;
    },
    onFit(totals) {
      fit = {
        ...totals,
        parts: fitParts,
        tune: tune ?? { from: "skyline", parts: [], through: 0 },
        fitted,
      };
    },
    onArrangedTempo(notesAcross, ownMaps) {
      tempo.notesAcrossTempo = notesAcross;
      tempo.ownTempoMaps = ownMaps;
    },
  });
  const file = written === null ? null : core.FS.readFile(written);
  return { ...run, name: written, bytes: file, parts, ...tempo, fit };
}
