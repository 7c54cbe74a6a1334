// Declarations of the mid2nolt module.

/** One script a run created, in the order written. */
export interface Script {
  /** The file name, as the command line would create it ("song_1_0.txt"). */
  name: string;
  /** Its bytes, exactly as the command line writes them. */
  bytes: Uint8Array;
  /** The MIDI track it was made from. */
  track: number;
  /** The channel it takes, or null for a script of the whole track. */
  channel: number | null;
}

/** What one run gives: everything the command line shows and writes. */
export interface ConversionResult {
  /** 0 on success, 1 on failure, as the command line exits. */
  exitStatus: number;
  stdout: string;
  stderr: string;
  /** The driver frequency the run used; null when it ended before reading the options. */
  driverFrequency: number | null;
  /** Every script created, in order, also those finished before a failure. */
  scripts: Script[];
}

/**
 * Says where the compiled core comes from, before the first conversion: its
 * URL, its bytes or the compiled module. By default it is
 * `mid2nolt-core.wasm` beside the module (also exported as
 * "mid2nolt/mid2nolt-core.wasm").
 */
export function init(wasm: URL | string | ArrayBuffer | ArrayBufferView | WebAssembly.Module): void;

/**
 * Converts one Standard MIDI File as `mid2nolt name ...args` would. Every call
 * runs in a fresh instance of the core, so calls may overlap.
 * @param name the source name as typed on a command line ("song.mid")
 * @param bytes the file's content
 * @param args the options, exactly as on the command line (["-p", "-f50"])
 */
export function convert(
  name: string,
  bytes: Uint8Array | ArrayBuffer,
  args?: readonly string[],
): Promise<ConversionResult>;

/** What one arrangement gives: the console and the arranged file. */
export interface ArrangementResult {
  /** 0 on success, 1 on failure, as the command line exits. */
  exitStatus: number;
  stdout: string;
  stderr: string;
  /** The arranged file's name ("song-arranged.mid", or as `-o` gave it); null when none was written. */
  name: string | null;
  /** Its bytes, exactly as `mid2nolt-arrange` writes them; null when none was written. */
  bytes: Uint8Array | null;
  /** What became of each part of the source, as the console lists them. */
  parts: ArrangedPart[];
}

/** One part of the source: the notes of a track on a channel, or (channel null) a track's other events. */
export interface ArrangedPart {
  track: number;
  channel: number | null;
  notes: number;
  /** Notes that found no voice under the voice limit. */
  leftOut: number;
  /** Notes ended early for a note that took precedence. */
  cutShort: number;
  /** The output tracks that hold the part: `trackCount` of them from `firstTrack` on. */
  firstTrack: number;
  trackCount: number;
}

/**
 * Arranges one Standard MIDI File into monophonic voice tracks, each with the
 * file's tempo map, as `mid2nolt-arrange name ...args` would. Every call runs
 * in a fresh instance of the core, so calls may overlap.
 * @param name the source name as typed on a command line ("song.mid")
 * @param bytes the file's content
 * @param args the options, exactly as on the command line (["--voices", "4"])
 */
export function arrange(
  name: string,
  bytes: Uint8Array | ArrayBuffer,
  args?: readonly string[],
): Promise<ArrangementResult>;

interface ItemBase {
  /** The line it was read from, counted from 1. */
  line: number;
}

/** A timed line: its length in driver ticks and the tick where it starts. */
export interface TimedItem extends ItemBase {
  kind: "wait" | "rest";
  ticks: number;
  startTick: number;
}

export interface NoteItem extends ItemBase {
  kind: "note";
  ticks: number;
  startTick: number;
  /** The key, 0 to 255: key 60 is written "c.5". */
  key: number;
}

/** A tick mark ("; Ticks N"). */
export interface TicksItem extends ItemBase {
  kind: "ticks";
  ticks: number;
}

/** A bar heading: one bar, or a run of bars. */
export interface BarItem extends ItemBase {
  kind: "bar";
  first: number;
  last: number;
}

export interface CommentItem extends ItemBase {
  kind: "comment";
  text: string;
}

export interface EndItem extends ItemBase {
  kind: "end";
}

/** The trailer: the script's total in driver ticks. */
export interface TotalItem extends ItemBase {
  kind: "total";
  ticks: number;
}

export type ScriptItem =
  TimedItem | NoteItem | TicksItem | BarItem | CommentItem | EndItem | TotalItem;

/**
 * Reads a NOLT Script (LF or CR LF line ends) into one item per line, in
 * order; empty lines give none. Throws an Error naming the first line that is
 * none of these.
 */
export function parseScript(text: string): { items: ScriptItem[] };

/** A note to sound: a key and its start and end in seconds. */
export interface VoiceNote {
  key: number;
  start: number;
  end: number;
}

/**
 * Mixes square-wave voices into mono samples, equal temperament with key 69
 * at 440 Hz, scaled so that the mix never leaves [-1, 1].
 */
export function renderNotes(
  voices: VoiceNote[][],
  seconds: number,
  sampleRate?: number,
): Float32Array;

/**
 * What the driver plays: every script one square-wave voice from the start,
 * each line exactly its ticks ÷ `frequency` seconds, as long as the longest
 * script up to `maxSeconds`. Throws a RangeError for a frequency of 0.
 */
export function renderPreview(
  scripts: readonly { bytes: Uint8Array }[],
  frequency: number,
  sampleRate?: number,
  maxSeconds?: number,
): Float32Array;

/** A note of the MIDI file, in seconds by the file's tempo map. */
export interface FileNote {
  channel: number;
  key: number;
  start: number;
  end: number;
}

/**
 * The MIDI file's own notes, per track, timed by its tempo map (each track's
 * own in a format-2 file). Null when the file cannot be read or its timing is
 * in SMPTE frames.
 */
export function fileNotes(bytes: Uint8Array): FileNote[][] | null;

/**
 * What one script, or the whole run, loses against the MIDI file, in its
 * notes: `heardInFull`, `cutShort` and `neverHeard` add up to `fileNotes`
 * (all three null without a driver frequency).
 */
export interface Loss {
  /** Note-ons of velocity above 0 in the script's track, on its channel (any, for a whole-track script). */
  fileNotes: number;
  /** File notes a note line of more than 0 ticks plays for their length, less one driver tick at most. */
  heardInFull: number | null;
  /** File notes a line plays for less. */
  cutShort: number | null;
  /** The seconds those notes lose in all. */
  secondsCutShort: number | null;
  /** File notes no line plays. */
  neverHeard: number | null;
  /** Note lines of 0 ticks: a property of the script, not of the music. */
  silentLines: number;
  /** The largest difference, in milliseconds, between where a heard note starts in the script and in the file. */
  timingError: number | null;
}

export interface ScriptLoss extends Loss {
  name: string;
  track: number;
  channel: number | null;
}

/**
 * What each script of a run loses, in the order written, and the totals of
 * the run (the timing error its largest). Times are null without a driver
 * frequency above 0.
 */
export function lossReport(
  source: Uint8Array,
  result: Pick<ConversionResult, "driverFrequency" | "scripts">,
): { scripts: ScriptLoss[]; totals: Loss };

/**
 * What the conversion of an arranged file loses against the source's own
 * notes: per track of the source with notes (the scripts of all its voices
 * together) and in all. Notes the arranger left out are never heard.
 * @param source the source file's bytes
 * @param parts what `arrange` returned of the source
 * @param result what `convert` returned for the arranged file
 */
export function arrangedLossReport(
  source: Uint8Array,
  parts: readonly ArrangedPart[],
  result: Pick<ConversionResult, "driverFrequency" | "scripts">,
): { tracks: (Loss & { track: number })[]; totals: Loss };

/** A key as a script names it: key 60 is "c.5". */
export function noteName(key: number): string;

/**
 * One script against the file's notes it was made from (in order of start),
 * as `lossReport` counts, with `lost`: the file's notes never heard or cut
 * short.
 */
export function compareNotes<N extends { key: number; start: number; end: number }>(
  file: readonly N[],
  items: readonly ScriptItem[],
  frequency: number | null,
): Loss & { lost: Set<N> };

/** What the driver plays of one script: its note lines of more than 0 ticks, in seconds. */
export function playedNotes(items: readonly ScriptItem[], frequency: number): VoiceNote[];
