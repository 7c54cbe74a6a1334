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
export function lossText(value, unit) {
  return value === null ? "–" : `${Number(value.toFixed(1))} ${unit}`;
}

// Whether a script loses nothing: every note heard, none cut short, and no
// note off by a driver tick or more.
export function losesNothing(loss, frequency) {
  return (
    loss.silentNotes === 0 &&
    loss.cutShort === 0 &&
    loss.timingError !== null &&
    loss.timingError < 1000 / frequency
  );
}

// The table of scripts with what each loses; onView(script) shows one, and
// the row shown is marked current.
export function showScriptList(table, downloadAll, result, zipName, onView) {
  const { scripts, loss, driverFrequency } = result;
  const body = table.tBodies[0];
  body.replaceChildren();
  const rows = [];
  scripts.forEach((script, i) => {
    const row = body.insertRow();
    rows.push(row);
    const numbers = loss.scripts[i];
    row.insertCell().textContent = script.name;
    row.insertCell().textContent = sizeText(script.bytes.length);
    row.insertCell().textContent = String(numbers.fileNotes);
    if (numbers.fileNotes === 0 && numbers.heardNotes === 0 && numbers.silentNotes === 0) {
      const cell = row.insertCell();
      cell.colSpan = 4;
      cell.textContent = "no notes";
    } else if (losesNothing(numbers, driverFrequency)) {
      row.insertCell().textContent = String(numbers.heardNotes);
      const cell = row.insertCell();
      cell.colSpan = 3;
      cell.textContent = "loses nothing";
    } else {
      row.insertCell().textContent = String(numbers.heardNotes);
      row.insertCell().textContent = String(numbers.silentNotes);
      row.insertCell().textContent =
        numbers.cutShort === null
          ? "–"
          : `${numbers.cutShort} (${lossText(numbers.secondsCutShort, "s")})`;
      row.insertCell().textContent = lossText(numbers.timingError, "ms");
    }
    const actions = row.insertCell();
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
  });
  downloadAll.disabled = scripts.length === 0;
  downloadAll.onclick = () => {
    const files = {};
    for (const script of scripts) {
      files[entryName(script.name)] = script.bytes;
    }
    download(zipName, zipSync(files), "application/zip");
  };
  // Marks the row of the script shown.
  return (shown) => {
    scripts.forEach((script, i) => {
      const current = script === shown;
      rows[i].toggleAttribute("aria-current", current);
      if (current) {
        rows[i].setAttribute("aria-current", "true");
      }
      rows[i].querySelector("button").setAttribute("aria-pressed", String(current));
    });
  };
}
