// The scripts a run wrote: name, size, and buttons to view and download each,
// and all of them as one zip.
import { zipSync } from "fflate";

export function download(name, bytes, type = "text/plain") {
  const url = URL.createObjectURL(new Blob([bytes], { type }));
  const link = document.createElement("a");
  link.href = url;
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 0);
}

function sizeText(bytes) {
  return bytes < 1024 ? `${bytes} B` : `${(bytes / 1024).toFixed(1)} KiB`;
}

// Names of the zip's entries: the path as written, without any folder part.
function entryName(name) {
  return name.slice(name.lastIndexOf("/") + 1);
}

// Milliseconds to one decimal; a dash where the run has no timing.
function lossText(value, unit) {
  return value === null ? "–" : `${Number(value.toFixed(1))} ${unit}`;
}

// A count as the page writes it: "2,616".
export function countText(count) {
  return count === null ? "–" : count.toLocaleString("en-US");
}

// Whether a script loses nothing: every note heard in full, and none off by
// a driver tick or more.
export function losesNothing(loss, frequency) {
  return (
    loss.cutShort === 0 &&
    loss.neverHeard === 0 &&
    loss.timingError !== null &&
    loss.timingError < 1000 / frequency
  );
}

// The cells of what a script loses, put in its row before `before`.
function fillLoss(row, before, numbers, frequency) {
  const cell = (text, span = 1) => {
    const td = document.createElement("td");
    td.textContent = text;
    td.colSpan = span;
    row.insertBefore(td, before);
  };
  if (numbers === null) {
    cell("counting…", 6);
  } else if (numbers.fileNotes === 0 && numbers.silentLines === 0) {
    cell("0");
    cell("no notes", 5);
  } else if (losesNothing(numbers, frequency)) {
    cell(countText(numbers.fileNotes));
    cell(countText(numbers.heardInFull));
    cell("loses nothing", 4);
  } else {
    cell(countText(numbers.fileNotes));
    cell(countText(numbers.heardInFull));
    cell(
      numbers.cutShort === null
        ? "–"
        : `${countText(numbers.cutShort)} (${lossText(numbers.secondsCutShort, "s")})`,
    );
    cell(countText(numbers.neverHeard));
    cell(countText(numbers.silentLines));
    cell(lossText(numbers.timingError, "ms"));
  }
}

// What a run (or a script) loses, in one sentence.
export function lossSummary(loss) {
  return (
    `Of ${countText(loss.fileNotes)} notes in the file: ${countText(loss.heardInFull)} heard in full, ` +
    `${countText(loss.cutShort)} cut short (${lossText(loss.secondsCutShort, "s")}), ` +
    `${countText(loss.neverHeard)} never heard; ${countText(loss.silentLines)} silent note lines ` +
    `(0 ticks); timing within ${lossText(loss.timingError, "ms")}.`
  );
}

// Names each data cell of a row after its column's heading, for the narrow
// layout where rows are cards and the headings are out of sight; cells that
// span columns, and the actions, speak for themselves.
export function labelCells(table, row) {
  const headings = [...table.tHead.rows[0].cells].map((cell) => cell.textContent);
  let column = 0;
  for (const cell of row.cells) {
    if (
      cell.tagName === "TD" &&
      cell.colSpan === 1 &&
      column > 0 &&
      headings[column] !== "Actions"
    ) {
      cell.dataset.label = headings[column];
    }
    column += cell.colSpan;
  }
}

// The table of scripts; onView(script) shows one. Returns `mark(script)`,
// which marks the row shown as current, and `showLoss(report)`, which fills
// in what each script loses once it is counted.
export function showScriptList(table, downloadAll, result, zipName, onView) {
  const { scripts, driverFrequency } = result;
  const body = table.tBodies[0];
  body.replaceChildren();
  const rows = [];
  const lossCells = [];
  for (const script of scripts) {
    const row = body.insertRow();
    rows.push(row);
    row.insertCell().textContent = script.name;
    row.insertCell().textContent = sizeText(script.bytes.length);
    // What the script loses goes between its size and its actions.
    const actions = row.insertCell();
    lossCells.push({ row, before: actions });
    const view = document.createElement("button");
    view.type = "button";
    view.textContent = "View";
    view.setAttribute("aria-label", `View ${script.name}`);
    view.setAttribute("aria-pressed", "false");
    view.addEventListener("click", () => onView(script));
    const save = document.createElement("button");
    save.type = "button";
    save.textContent = "Download";
    save.setAttribute("aria-label", `Download ${script.name}`);
    save.addEventListener("click", () => download(entryName(script.name), script.bytes));
    actions.append(view, save);
  }
  const showLoss = (report) => {
    lossCells.forEach(({ row, before }, i) => {
      // Name and size stay, then the loss cells, then the actions.
      while (row.cells.length > 3) {
        row.deleteCell(2);
      }
      fillLoss(row, before, report ? report.scripts[i] : null, driverFrequency);
      labelCells(table, row);
    });
  };
  showLoss(null);
  downloadAll.disabled = scripts.length === 0;
  downloadAll.onclick = () => {
    const files = {};
    for (const script of scripts) {
      files[entryName(script.name)] = script.bytes;
    }
    download(zipName, zipSync(files), "application/zip");
  };
  const mark = (shown) => {
    scripts.forEach((script, i) => {
      const current = script === shown;
      if (current) {
        rows[i].setAttribute("aria-current", "true");
      } else {
        rows[i].removeAttribute("aria-current");
      }
      rows[i].querySelector("button").setAttribute("aria-pressed", String(current));
    });
  };
  return { mark, showLoss };
}
