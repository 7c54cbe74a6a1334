// One script's text, shown as text. A long script shows its beginning only:
// laying out megabytes of text would hold up the page; its download is whole.

const shownBytes = 256 * 1024;

export function showScript(nameLabel, textView, note, script) {
  nameLabel.textContent = script ? script.name : "";
  let bytes = script ? script.bytes : new Uint8Array(0);
  if (bytes.length > shownBytes) {
    bytes = bytes.subarray(0, bytes.lastIndexOf(10, shownBytes) + 1);
  }
  textView.textContent = new TextDecoder().decode(bytes);
  note.hidden = !script || bytes.length === script.bytes.length;
  note.textContent = note.hidden
    ? ""
    : `Showing the first ${bytes.length} of ${script.bytes.length} bytes; download the script for all of it.`;
}
