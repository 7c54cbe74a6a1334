// The fit to driver channels: a row a channel (its role, the parts of the
// source its notes came from, its notes and those cut short), and the notes
// kept whole against the most that many channels can hold whole.
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
    `Kept ${countText(fit.keptWhole)} of ${countText(fit.notes)} notes whole ` +
    `(${Math.round(share * 100)} % of the most ${fit.channels} channels can hold whole, ` +
    `${countText(fit.most)}) and ${countText(fit.cutShort)} cut short.`;
}
