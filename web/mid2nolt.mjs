// mid2nolt as an ES module: the C++ core of the converter and the arranger,
// compiled to WebAssembly, run exactly as their command lines run.
//
//   import { arrange, convert } from "mid2nolt";
//   const r = await convert("song.mid", bytes, ["-p", "-f50"]);
//   // r = { exitStatus, stdout, stderr, driverFrequency,
//   //       scripts: [{ name, bytes, track, channel }, ...] }
//   const a = await arrange("song.mid", bytes, ["--voices", "4"]);
//   // a = { exitStatus, stdout, stderr, name, bytes }: song-arranged.mid
//
// The module knows nothing of any page; it works in a page, a worker and node,
// and bundlers find the core through the static import and the URL in
// module/core.mjs.
export * from "./module/core.mjs";
export { noteName, parseScript, playedNotes, scriptText } from "./module/scripts.mjs";
export { fileNotes, scriptFileNotes } from "./module/notes.mjs";
export * from "./module/loss.mjs";
export * from "./module/sound.mjs";
