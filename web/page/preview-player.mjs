// Plays samples through Web Audio and reports the position while playing.
import { sampleRate } from "./preview-audio.mjs";

export class Player {
  // onPosition(seconds) every frame while playing; onState(playing) when
  // playback starts or ends.
  constructor(onPosition, onState) {
    this.onPosition = onPosition;
    this.onState = onState;
    this.context = null;
    this.source = null;
  }

  get playing() {
    return this.source !== null;
  }

  // Plays samples that begin at `start` seconds of the piece; the position is
  // reported in seconds of the piece.
  play(samples, start = 0) {
    this.halt();
    this.context ??= new AudioContext({ sampleRate });
    const buffer = this.context.createBuffer(1, Math.max(1, samples.length), sampleRate);
    buffer.copyToChannel(samples, 0);
    const source = this.context.createBufferSource();
    source.buffer = buffer;
    source.connect(this.context.destination);
    const started = this.context.currentTime;
    source.onended = () => this.source === source && this.stop();
    source.start();
    this.source = source;
    this.onState(true);
    const tick = () => {
      if (this.source === source) {
        this.onPosition(start + this.context.currentTime - started);
        requestAnimationFrame(tick);
      }
    };
    requestAnimationFrame(tick);
  }

  // Stops where it is, reporting nothing more.
  halt() {
    const source = this.source;
    this.source = null;
    if (source) {
      source.onended = null;
      source.stop();
    }
  }

  stop() {
    const was = this.playing;
    this.halt();
    if (was) {
      this.onState(false);
    }
  }
}
