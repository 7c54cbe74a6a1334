// The preview section: the piano roll of the script being viewed over the
// file's own notes, playback of the scripts or of the file, mute and solo per
// script, zoom, and the preview as a WAV file.
import { parseScript, renderPreview } from "../mid2nolt.mjs";
import { midiNotes, scriptSource } from "./midi-notes.mjs";
import { drawRoll, rollContent } from "./piano-roll.mjs";
import { Player, audibleScripts, encodeWav, renderMidi, sampleRate } from "./preview-player.mjs";
import { download } from "./script-list.mjs";

const $ = (id) => document.getElementById(id);
const latin1 = new TextDecoder("latin1");

export class PreviewView {
  constructor() {
    this.pixelsPerSecond = 40;
    this.scripts = [];
    this.muted = new Set();
    this.soloed = new Set();
    this.x = null;
    this.player = new Player((seconds) => this.showPosition(seconds));
    $("zoom-in").onclick = () => this.zoom(1.5);
    $("zoom-out").onclick = () => this.zoom(1 / 1.5);
    $("play-scripts").onclick = () => this.player.play(this.preview());
    $("play-midi").onclick = () => this.player.play(this.midiAudio());
    $("stop").onclick = () => this.player.stop();
    $("download-wav").onclick = () =>
      download(`${this.baseName}-preview.wav`, encodeWav(this.preview()), "audio/wav");
  }

  // A new conversion: its scripts, the driver frequency and the source bytes.
  setConversion(scripts, frequency, sourceName, sourceBytes) {
    this.player.stop();
    this.scripts = frequency > 0 ? scripts : [];
    this.frequency = frequency;
    this.baseName = sourceName.replace(/\.mid$/i, "");
    this.tracks = midiNotes(sourceBytes) ?? [];
    this.parsed = new Map(this.scripts.map((s) => [s.name, parseScript(latin1.decode(s.bytes)).items]));
    this.muted.clear();
    this.soloed.clear();
    this.showVoices();
    for (const id of ["play-scripts", "play-midi", "stop", "download-wav"]) {
      $(id).disabled = this.scripts.length === 0;
    }
    this.fit = true;
    this.show(this.scripts[0] ?? null);
  }

  // The file's notes that a script was made from.
  sourceNotes(items) {
    const source = scriptSource(items);
    const notes = source ? (this.tracks[source.track] ?? []) : [];
    return source?.channel === null ? notes : notes.filter((n) => n.channel === source?.channel);
  }

  show(script) {
    const items = script ? this.parsed.get(script.name) : [];
    this.content = rollContent(items ?? [], this.frequency || 60, this.sourceNotes(items ?? []));
    // A new conversion's first script with notes fills the width at first.
    if (this.fit && this.content.notes.length > 0) {
      this.fit = false;
      const width = $("roll-frame").clientWidth - 40;
      this.pixelsPerSecond = Math.min(400, Math.max(8, width / this.content.seconds));
    }
    this.redraw();
  }

  redraw() {
    this.x = drawRoll($("piano-roll"), this.content, this.pixelsPerSecond);
  }

  zoom(factor) {
    this.pixelsPerSecond = Math.min(2000, Math.max(2, this.pixelsPerSecond * factor));
    this.redraw();
  }

  preview() {
    return renderPreview(audibleScripts(this.scripts, this.muted, this.soloed), this.frequency, sampleRate);
  }

  midiAudio() {
    const scripts = audibleScripts(this.scripts, this.muted, this.soloed);
    return renderMidi(scripts.map((s) => this.sourceNotes(this.parsed.get(s.name))));
  }

  showPosition(seconds) {
    const marker = $("marker");
    marker.hidden = seconds === null || this.x === null;
    if (!marker.hidden) {
      const left = this.x(seconds);
      marker.style.left = `${left}px`;
      const frame = $("roll-frame");
      if (left < frame.scrollLeft || left > frame.scrollLeft + frame.clientWidth) {
        frame.scrollLeft = left - 20;
      }
    }
  }

  showVoices() {
    const body = $("voices").tBodies[0];
    body.replaceChildren();
    for (const script of this.scripts) {
      const row = body.insertRow();
      row.insertCell().textContent = script.name;
      for (const [set, what] of [[this.muted, "Mute"], [this.soloed, "Solo"]]) {
        const box = document.createElement("input");
        box.type = "checkbox";
        box.setAttribute("aria-label", `${what} ${script.name}`);
        box.onchange = () => (box.checked ? set.add(script.name) : set.delete(script.name));
        row.insertCell().append(box);
      }
    }
  }
}
