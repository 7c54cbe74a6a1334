// Plays samples through Web Audio and reports the position while playing.
import { sampleRate } from "./preview-audio.mjs";

export class Player {
  constructor(onPosition) {
    this.onPosition = onPosition;
    this.context = null;
    this.source = null;
  }

  // Plays the samples from the start; the position is reported every frame.
  play(samples) {
    this.stop();
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
    const tick = () => {
      if (this.source === source) {
        this.onPosition(this.context.currentTime - started);
        requestAnimationFrame(tick);
      }
    };
    requestAnimationFrame(tick);
  }

  stop() {
    const source = this.source;
    this.source = null;
    if (source) {
      source.onended = null;
      source.stop();
    }
    this.onPosition(null);
  }
}
