// What the plain and the arranged conversion lose, side by side: in all and
// per track of the source, in the source's notes.
import { countText, labelCells } from "./script-list.mjs";

// `plain`: lossReport of the source's conversion, with `tracks`, its losses
// per source track; `arranged`: arrangedLossReport of the arranged file's;
// null hides the table.
export function showLossComparison(frame, table, comparison) {
  const body = table.tBodies[0];
  body.replaceChildren();
  frame.hidden = comparison === null;
  if (comparison === null) {
    return;
  }
  const { plain, arranged } = comparison;
  const rows = [["In all", plain.totals, arranged.totals]].concat(
    arranged.tracks.map((loss, i) => [`Track ${loss.track}`, plain.tracks[i], loss]),
  );
  for (const [what, before, after] of rows) {
    const row = body.insertRow();
    const head = document.createElement("th");
    head.scope = "row";
    head.textContent = what;
    row.append(head);
    for (const value of [
      after.fileNotes,
      before.heardInFull,
      before.cutShort,
      before.neverHeard,
      after.heardInFull,
      after.cutShort,
      after.neverHeard,
    ]) {
      row.insertCell().textContent = countText(value);
    }
    labelCells(table, row);
  }
}
