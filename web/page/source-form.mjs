// The source file and the options: a file picked or dropped, packing mode,
// the driver frequency and whether to arrange first, turned into the command
// lines' arguments.

export function argumentsFrom(form) {
  const args = [];
  if (form.elements.packing.checked) {
    args.push("-p");
  }
  args.push(`-f${form.elements.frequency.value}`);
  return args;
}

// The arranger's arguments, or null when the file is converted as it is. The
// voice limit and the channel count go as typed: the arranger says what it
// cannot read (both at once, say). The melody part and the arpeggio's step
// (with the driver frequency) go with a fit only.
export function arrangeArgumentsFrom(form) {
  if (!form.elements.arrange.checked) {
    return null;
  }
  const voices = form.elements.voices.value.trim();
  const channels = form.elements.channels.value.trim();
  const melody = form.elements.melody.value;
  const arpeggio = form.elements.arpeggio.value.trim();
  const fitting = channels !== "";
  return [
    ...(voices === "" ? [] : ["--voices", voices]),
    ...(fitting ? ["--channels", channels] : []),
    ...(fitting && melody !== "" ? ["--melody", melody] : []),
    ...(fitting && arpeggio !== ""
      ? ["--arpeggio", arpeggio, `-f${form.elements.frequency.value}`]
      : []),
  ];
}

// The name a source is converted under: a .midi or .kar file as if named
// .mid; any other name as the command line takes it.
export function sourceName(name) {
  return name.replace(/\.(midi|kar)$/i, ".mid");
}

// A warning for a frequency no driver can mean, given what the converter
// read from the field (null when it read none); "" for none.
export function frequencyWarning(form, frequency) {
  const text = form.elements.frequency.value.trim();
  if (frequency === null) {
    return "";
  }
  if (text.startsWith("-")) {
    return `A negative frequency wraps, as on the command line: ${text} is read as ${frequency}.`;
  }
  if (frequency === 0) {
    return "At 0 ticks a second every line is 0 ticks long: nothing can be played.";
  }
  if (!/^\+?\d+$/.test(text)) {
    return `Only the leading whole number counts: ${text} is read as ${frequency}.`;
  }
  return "";
}

// Calls onSource(file) for every file chosen or dropped, onOptions() when an
// option changes and onSubmit() when the form is submitted.
export function watchSourceForm(form, dropZone, { onSource, onOptions, onSubmit }) {
  const input = form.elements.source;
  input.addEventListener("change", () => {
    if (input.files.length > 0) {
      onSource(input.files[0]);
    }
  });
  for (const type of ["dragenter", "dragover"]) {
    dropZone.addEventListener(type, (event) => {
      event.preventDefault();
      dropZone.classList.add("over");
    });
  }
  dropZone.addEventListener("dragleave", () => dropZone.classList.remove("over"));
  dropZone.addEventListener("drop", (event) => {
    event.preventDefault();
    dropZone.classList.remove("over");
    const file = event.dataTransfer.files[0];
    if (file) {
      // The file input shows the dropped file, as if chosen.
      const chosen = new DataTransfer();
      chosen.items.add(file);
      input.files = chosen.files;
      onSource(file);
    }
  });
  for (const option of [
    "packing",
    "frequency",
    "arrange",
    "voices",
    "channels",
    "arpeggio",
    "melody",
  ]) {
    form.elements[option].addEventListener("change", onOptions);
  }
  form.addEventListener("submit", (event) => {
    event.preventDefault();
    onSubmit();
  });
}
