// One script's text, shown as text.

export function showScript(nameLabel, textView, script) {
  nameLabel.textContent = script ? script.name : "";
  textView.textContent = script ? new TextDecoder().decode(script.bytes) : "";
}
