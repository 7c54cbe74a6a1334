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

export function showScriptList(table, downloadAll, scripts, zipName, onView) {
  const body = table.tBodies[0];
  body.replaceChildren();
  for (const script of scripts) {
    const row = body.insertRow();
    row.insertCell().textContent = script.name;
    row.insertCell().textContent = sizeText(script.bytes.length);
    const actions = row.insertCell();
    const view = document.createElement("button");
    view.type = "button";
    view.textContent = "View";
    view.setAttribute("aria-label", `View ${script.name}`);
    view.addEventListener("click", () => onView(script));
    const save = document.createElement("button");
    save.type = "button";
    save.textContent = "Download";
    save.setAttribute("aria-label", `Download ${script.name}`);
    save.addEventListener("click", () => download(entryName(script.name), script.bytes));
    actions.append(view, save);
  }
  downloadAll.disabled = scripts.length === 0;
  downloadAll.onclick = () => {
    const files = {};
    for (const script of scripts) {
      files[entryName(script.name)] = script.bytes;
    }
    download(zipName, zipSync(files), "application/zip");
  };
}
