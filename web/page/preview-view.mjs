// The preview section: the piano roll of the script being viewed over the
// file's own notes, playback of the scripts or of the file, mute and solo per
// script, zoom, and the preview as a WAV file. What it shows and plays is
// made in the worker.
import { drawRoll } from "./piano-roll.mjs";
import { Player } from "./preview-player.mjs";
import { audibleScripts, encodeWav } from "./preview-audio.mjs";
import { download } from "./script-list.mjs";
import { callWorker } from "./worker-client.mjs";

const $ = (id) => document.getElementById(id);
const controls = ["play-scripts", "play-midi", "stop", "download-wav"];

export class PreviewView {
  constructor() {
    this.pixelsPerSecond = 40;
    this.scripts = [];
    this.muted = new Set();
    this.soloed = new Set();
    this.content = null;
    this.x = null;
    this.shown = 0;
    this.player = new Player((seconds) => this.showPosition(seconds));
    $("zoom-in").onclick = () => this.zoom(1.5);
    $("zoom-out").onclick = () => this.zoom(1 / 1.5);
    $("play-scripts").onclick = () =>
      this.audio(false).then((samples) => this.player.play(samples));
    $("play-midi").onclick = () => this.audio(true).then((samples) => this.player.play(samples));
    $("stop").onclick = () => this.player.stop();
    $("download-wav").onclick = () =>
      this.audio(false).then((samples) =>
        download(`${this.baseName}-preview.wav`, encodeWav(samples), "audio/wav"),
      );
  }

  // A new conversion, already known to the worker: its scripts and source name.
  setConversion(scripts, frequency, sourceName) {
    this.player.stop();
    this.scripts = frequency > 0 ? scripts : [];
    this.baseName = sourceName.replace(/\.mid$/i, "");
    this.muted.clear();
    this.soloed.clear();
    this.showVoices();
    for (const id of controls) {
      $(id).disabled = this.scripts.length === 0;
    }
    this.fit = true;
  }

  async show(script) {
    const shown = ++this.shown;
    const content =
      script && this.scripts.includes(script)
        ? await callWorker("roll", { name: script.name })
        : null;
    if (shown !== this.shown) {
      return; // another script was chosen meanwhile
    }
    this.content = content;
    // A new conversion's first script with notes fills the width at first.
    if (content && this.fit && content.notes.length > 0) {
      this.fit = false;
      const width = $("roll-frame").clientWidth - 40;
      this.pixelsPerSecond = Math.min(400, Math.max(8, width / content.seconds));
    }
    this.redraw();
  }

  redraw() {
    const canvas = $("piano-roll");
    canvas.hidden = this.content === null;
    this.x = this.content ? drawRoll(canvas, this.content, this.pixelsPerSecond) : null;
  }

  zoom(factor) {
    this.pixelsPerSecond = Math.min(2000, Math.max(2, this.pixelsPerSecond * factor));
    this.redraw();
  }

  async audio(midi) {
    const names = audibleScripts(this.scripts, this.muted, this.soloed).map((s) => s.name);
    document.body.setAttribute("aria-busy", "true");
    try {
      return await callWorker("audio", { names, midi });
    } finally {
      document.body.removeAttribute("aria-busy");
    }
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
      for (const [set, what] of [
        [this.muted, "Mute"],
        [this.soloed, "Solo"],
      ]) {
        const box = document.createElement("input");
        box.type = "checkbox";
        box.setAttribute("aria-label", `${what} ${script.name}`);
        box.onchange = () => (box.checked ? set.add(script.name) : set.delete(script.name));
        row.insertCell().append(box);
      }
    }
  }
}
