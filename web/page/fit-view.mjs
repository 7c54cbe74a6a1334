// The fit to driver channels: where the tune comes from, a row a channel (its
// role, the parts of the source its notes came from, its notes and those cut
// short), the notes kept whole against the most that many channels can hold
// whole, and the parts the Melody select offers.
import { countText, labelCells } from "./script-list.mjs";

// `fit`: what `arrange` gave with --channels, or null to hide it all.
export function showFit(frame, table, summary, fit) {
  const body = table.tBodies[0];
  body.replaceChildren();
  frame.hidden = fit === null;
  summary.hidden = fit === null;
  if (fit === null) {
    summary.textContent = "";
    return;
  }
  fit.fitted.forEach((channel, i) => {
    const row = body.insertRow();
    const head = document.createElement("th");
    head.scope = "row";
    head.textContent = String(i + 1);
    row.append(head);
    const sources = channel.sources
      .map(([track, midiChannel, notes]) => `${track}, ${midiChannel}: ${countText(notes)}`)
      .join("; ");
    for (const text of [
      channel.role,
      sources,
      countText(channel.notes),
      countText(channel.cutShort),
    ]) {
      row.insertCell().textContent = text;
    }
    labelCells(table, row);
  });
  const share = fit.most === 0 ? 1 : fit.keptWhole / fit.most;
  summary.textContent =
    `${tuneText(fit)} ` +
    `Kept ${countText(fit.keptWhole)} of ${countText(fit.notes)} notes whole ` +
    `(${Math.round(share * 100)} % of the most ${fit.channels} channels can hold whole, ` +
    `${countText(fit.most)}), ${countText(fit.cutShort)} cut short` +
    (fit.arpeggiated > 0 ? ` and ${countText(fit.arpeggiated)} played as arpeggios.` : ".");
}

// The General MIDI families, eight programs each.
const families = [
  "Piano",
  "Chromatic percussion",
  "Organ",
  "Guitar",
  "Bass",
  "Strings",
  "Ensemble",
  "Brass",
  "Reed",
  "Pipe",
  "Synth lead",
  "Synth pad",
  "Synth effects",
  "Ethnic",
  "Percussive",
  "Sound effects",
];

// A part as a person reads it: "Track 2, channel 1: Flute (Pipe, program 74)".
function partText({ track, channel, name, program }) {
  const instrument = program === null ? "" : `${families[program >> 3]}, program ${program + 1}`;
  const about = [name, instrument].filter((text) => text !== "");
  const label = about.length === 0 ? "" : `: ${about[0]}${about[1] ? ` (${about[1]})` : ""}`;
  return `Track ${track}, channel ${channel}${label}`;
}

// Where the Melody channel's tune comes from, as a sentence.
function tuneText({ tune, parts }) {
  const lead = tune.parts.map((p) => partText(parts[p])).join(" and ");
  switch (tune.from) {
    case "asked":
      return `Melody from ${lead}, as chosen.`;
    case "named":
      return `Melody from ${lead}, named for the tune.`;
    case "heard":
      return `Melody from ${lead}: one note at a time through ${tune.through} % of the song.`;
    default:
      return "Melody from the highest notes of every part: no part plays a tune alone.";
  }
}

// The Melody select: Automatic, then each part of the fit's source (the
// choice kept where the part is still there); `fit` null empties it.
export function showMelodyChoices(select, fit) {
  const chosen = select.value;
  const parts = fit === null ? [] : fit.parts;
  select.replaceChildren(new Option("Automatic", ""));
  for (const part of parts) {
    select.add(new Option(partText(part), `${part.track}:${part.channel}`));
  }
  select.value = [...select.options].some((o) => o.value === chosen) ? chosen : "";
}

// What a fit made of the source's notes, as a sentence: those kept whole, cut
// short, played as arpeggios and left out.
export function fitLossText(fit) {
  const left = fit.notes - fit.keptWhole - fit.cutShort - fit.arpeggiated;
  return (
    `Of ${countText(fit.notes)} notes in the source file: ${countText(fit.keptWhole)} kept ` +
    `whole, ${countText(fit.cutShort)} cut short, ${countText(fit.arpeggiated)} played as ` +
    `arpeggios, ${countText(left)} left out.`
  );
}

// Each fitted track's role ("Melody", "Harmony 1"), by track.
export function fitRoles(fit) {
  return new Map(fit.fitted.map((channel) => [channel.track, channel.role]));
}
