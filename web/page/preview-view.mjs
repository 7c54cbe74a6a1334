// The preview section: the piano roll of the script being viewed over the
// file's own notes, playback of the scripts or of the file from any point,
// mute and solo per script, zoom, the preview as WAV and the scripts as a MIDI
// file. What it shows and plays is made in the worker.
import { noteName } from "../mid2nolt.mjs";
import { drawKeys, drawRoll, margin, maxScale, rowHeight, timeText } from "./piano-roll.mjs";
import { Player } from "./preview-player.mjs";
import { audibleScripts, encodeWav } from "./preview-audio.mjs";
import { download, lossSummary } from "./script-list.mjs";
import { callWorker } from "./worker-client.mjs";

const $ = (id) => document.getElementById(id);
const controls = ["play-scripts", "play-midi", "download-wav", "export-midi"];
const maxPixelsPerSecond = 2000;
const zoomStep = 1.5;

function noteText(n) {
  const what = n.played ? "played" : n.lost ? "in the file, lost" : "in the file";
  return `${noteName(n.key)}, ${what}: starts at ${timeText(n.start)}, lasts ${timeText(n.end - n.start)}`;
}

export class PreviewView {
  constructor() {
    this.pixelsPerSecond = 40;
    this.scripts = [];
    this.loss = [];
    this.muted = new Set();
    this.soloed = new Set();
    this.content = null;
    this.roll = null;
    this.shown = 0;
    this.position = null; // where playback starts: null for the first note
    this.playingMidi = false;
    this.follow = true;
    this.selected = -1;
    this.player = new Player(
      (seconds) => this.showPosition(seconds),
      (playing) => this.showPlaying(playing),
    );
    $("zoom-in").onclick = () => this.zoom(zoomStep);
    $("zoom-out").onclick = () => this.zoom(1 / zoomStep);
    $("play-scripts").onclick = () => this.toggle(false);
    $("play-midi").onclick = () => this.toggle(true);
    $("stop").onclick = () => {
      this.player.stop();
      this.position = null;
      this.showPosition(null);
    };
    $("download-wav").onclick = () => this.downloadWav();
    $("export-midi").onclick = () => this.exportMidi();
    this.listen();
  }

  listen() {
    const frame = $("roll-frame");
    const canvas = $("piano-roll");
    canvas.addEventListener("click", (event) => this.seek(this.roll?.time(event.offsetX)));
    canvas.addEventListener("mousemove", (event) => {
      const note = this.roll?.noteAt(event.offsetX, event.offsetY);
      if (note) {
        $("roll-status").textContent = noteText(note);
      }
    });
    // Scrolling by hand stops the marker from pulling the view along.
    frame.addEventListener("wheel", () => (this.follow = false), { passive: true });
    frame.addEventListener("touchstart", () => (this.follow = false), { passive: true });
    frame.addEventListener("keydown", (event) => this.key(event));
    document.addEventListener("keydown", (event) => {
      const target = event.target;
      const typing =
        target.closest?.("input, textarea, select, button, [contenteditable]") &&
        !(target === frame || frame.contains(target));
      if (event.key === " " && !typing && this.scripts.length > 0) {
        event.preventDefault();
        this.toggle(this.playingMidi && this.player.playing);
      }
    });
  }

  // A new conversion, already known to the worker; `roles`, where the file
  // was fitted to driver channels, names each track's role.
  setConversion(result, sourceName, roles = null) {
    this.roles = roles;
    this.player.stop();
    this.frequency = result.driverFrequency ?? 0;
    this.scripts = this.frequency > 0 ? result.scripts : [];
    this.loss = null;
    this.baseName = sourceName.replace(/\.mid$/i, "");
    this.muted.clear();
    this.soloed.clear();
    this.position = null;
    this.lastPosition = undefined;
    this.showVoices();
    for (const id of controls) {
      $(id).disabled = this.scripts.length === 0;
    }
    $("audio-note").textContent =
      this.frequency > 0 || result.scripts.length === 0
        ? ""
        : "No preview: at a driver frequency of 0 the scripts have no timing.";
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
    this.selected = -1;
    $("preview-name").textContent = content ? `of ${script.name}` : "";
    if (content) {
      // The first script shown of a conversion fits the whole piece in the frame.
      if (this.fit) {
        this.fit = false;
        this.pixelsPerSecond = this.fitScale();
      }
      this.pixelsPerSecond = Math.max(this.fitScale(), this.pixelsPerSecond);
      this.script = script;
      this.label();
    }
    this.redraw();
  }

  // What the conversion loses, once counted.
  setLoss(loss) {
    this.loss = loss.scripts;
    this.label();
  }

  // The roll's text alternative: the script's length and what it loses.
  label() {
    const canvas = $("piano-roll");
    if (!this.content || !this.script) {
      return;
    }
    const loss = this.loss?.[this.scripts.indexOf(this.script)];
    const what = loss ? lossSummary(loss) : `${this.content.notes.length} notes heard.`;
    canvas.setAttribute(
      "aria-label",
      `Piano roll of ${this.script.name}, ${timeText(this.content.seconds)} long: ${what}`,
    );
  }

  fitScale() {
    const width = $("roll-frame").clientWidth - 2 * margin;
    return Math.max(0.01, Math.min(maxPixelsPerSecond, width / this.content.seconds));
  }

  redraw() {
    const canvas = $("piano-roll");
    const keys = $("roll-keys");
    canvas.hidden = keys.hidden = this.content === null;
    this.roll = null;
    if (this.content) {
      drawKeys(keys, this.content);
      this.roll = drawRoll(canvas, this.content, this.pixelsPerSecond);
      this.pixelsPerSecond = this.roll.scale;
    }
    const top = Math.min(maxPixelsPerSecond, this.content ? maxScale(this.content) : 0);
    $("zoom-in").disabled = !this.content || this.pixelsPerSecond >= top * 0.999;
    $("zoom-out").disabled = !this.content || this.pixelsPerSecond <= this.fitScale() * 1.001;
    this.showPosition(this.player.playing ? null : this.position);
  }

  // Zooms keeping the moment at the centre of the frame in place.
  zoom(factor) {
    if (!this.roll) {
      return;
    }
    const frame = $("roll-frame");
    const anchor = frame.clientWidth / 2;
    const moment = this.roll.time(frame.scrollLeft + anchor);
    this.pixelsPerSecond = Math.max(this.fitScale(), this.pixelsPerSecond * factor);
    this.redraw();
    frame.scrollLeft = this.roll.x(moment) - anchor;
  }

  key(event) {
    const frame = $("roll-frame");
    const notes = this.content?.notes ?? [];
    if (event.key === "Home" || event.key === "End") {
      event.preventDefault();
      frame.scrollLeft = event.key === "Home" ? 0 : frame.scrollWidth;
      this.follow = false;
    } else if ((event.key === "ArrowRight" || event.key === "ArrowLeft") && notes.length > 0) {
      event.preventDefault();
      const step = event.key === "ArrowRight" ? 1 : -1;
      this.selected = Math.min(notes.length - 1, Math.max(0, this.selected + step));
      const note = notes[this.selected];
      $("roll-status").textContent =
        `Note ${this.selected + 1} of ${notes.length}: ` + noteText({ ...note, played: true });
      const left = this.roll.x(note.start);
      if (left < frame.scrollLeft || left > frame.scrollLeft + frame.clientWidth - 40) {
        frame.scrollLeft = left - frame.clientWidth / 3;
      }
      const roll = frame.parentElement;
      roll.scrollTop = (this.content.high - note.key) * rowHeight - roll.clientHeight / 2;
    } else if (event.key === "+" || event.key === "-") {
      event.preventDefault();
      this.zoom(event.key === "+" ? zoomStep : 1 / zoomStep);
    }
  }

  // Plays or pauses the scripts (or the file); a new choice plays from where
  // the marker stands.
  toggle(midi) {
    if (this.player.playing && this.playingMidi === midi) {
      this.player.stop();
      return;
    }
    this.play(midi, this.position);
  }

  async play(midi, from) {
    const names = this.audible();
    if (names.length === 0) {
      $("audio-note").textContent = "Every voice is muted: unmute or solo one to hear it.";
      return;
    }
    this.playingMidi = midi;
    this.follow = true;
    // Played to its end, it plays again from the start.
    const again = from !== null && this.audioEnd !== undefined && from >= this.audioEnd - 0.05;
    const audio = await this.audio(names, midi, again ? null : from);
    this.audioEnd = audio.end;
    this.describe(audio, "Playback");
    this.player.play(audio.samples, audio.start);
  }

  seek(seconds) {
    if (seconds === undefined) {
      return;
    }
    this.position = seconds;
    if (this.player.playing) {
      this.play(this.playingMidi, seconds);
    } else {
      this.showPosition(seconds);
    }
  }

  audible() {
    return audibleScripts(this.scripts, this.muted, this.soloed).map((s) => s.name);
  }

  async audio(names, midi, from) {
    document.body.setAttribute("aria-busy", "true");
    try {
      return await callWorker("audio", { names, midi, from });
    } finally {
      document.body.removeAttribute("aria-busy");
    }
  }

  // Says where audio starts and stops when it is not the whole piece.
  describe(audio, what) {
    const parts = [];
    if (audio.start > 0) {
      parts.push(`starts at ${timeText(audio.start)}`);
    }
    if (audio.cut) {
      parts.push(
        `stops after 10 minutes, at ${timeText(audio.start + 600)} of ${timeText(audio.end)}: ` +
          "play from a later point for the rest",
      );
    }
    $("audio-note").textContent = parts.length > 0 ? `${what} ${parts.join("; ")}.` : "";
  }

  async downloadWav() {
    const names = this.audible();
    if (names.length === 0) {
      $("audio-note").textContent = "No WAV: every voice is muted.";
      return;
    }
    const audio = await this.audio(names, false, null);
    this.describe(audio, "The WAV");
    const solo = this.soloed.size === 1 ? `-${[...this.soloed][0].replace(/\.txt$/, "")}` : "";
    const from = audio.start > 0 ? `-from-${Math.round(audio.start)}s` : "";
    download(`${this.baseName}${solo}${from}-preview.wav`, encodeWav(audio.samples), "audio/wav");
  }

  async exportMidi() {
    try {
      const { bytes, skipped } = await callWorker("exportMidi", {});
      download(`${this.baseName}-as-played.mid`, bytes, "audio/midi");
      $("audio-note").textContent =
        skipped === 0
          ? ""
          : `The MIDI file leaves out ${skipped} notes above key 127 (g.10): MIDI has no such keys.`;
    } catch (error) {
      $("audio-note").textContent = error.message;
    }
  }

  showPlaying(playing) {
    $("stop").disabled = !playing;
    for (const [id, midi, idle] of [
      ["play-scripts", false, "Play scripts"],
      ["play-midi", true, "Play MIDI file"],
    ]) {
      const active = playing && this.playingMidi === midi;
      $(id).textContent = active ? "Pause" : idle;
      $(id).setAttribute("aria-pressed", String(active));
    }
    if (!playing && this.lastPosition !== undefined) {
      this.position = this.lastPosition;
    }
  }

  showPosition(seconds) {
    const marker = $("marker");
    if (seconds !== null && this.player.playing) {
      this.lastPosition = seconds;
    }
    marker.hidden = seconds === null || this.roll === null;
    if (!marker.hidden) {
      const left = this.roll.x(seconds);
      marker.style.left = `${left}px`;
      const frame = $("roll-frame");
      const outside = left < frame.scrollLeft || left > frame.scrollLeft + frame.clientWidth;
      if (this.player.playing && this.follow && outside) {
        frame.scrollLeft = left - 20;
      }
    }
  }

  showVoices() {
    const body = $("voices").tBodies[0];
    body.replaceChildren();
    for (const script of this.scripts) {
      const row = body.insertRow();
      const role = this.roles?.get(script.track);
      row.insertCell().textContent = role ? `${script.name} (${role})` : script.name;
      for (const [set, what] of [
        [this.muted, "Mute"],
        [this.soloed, "Solo"],
      ]) {
        const box = document.createElement("input");
        box.type = "checkbox";
        box.setAttribute("aria-label", `${what} ${script.name}`);
        box.onchange = () => {
          box.checked ? set.add(script.name) : set.delete(script.name);
          // What plays changes at once, from where it is.
          if (this.player.playing) {
            this.play(this.playingMidi, this.lastPosition ?? this.position);
          }
        };
        row.insertCell().append(box);
      }
    }
  }
}
