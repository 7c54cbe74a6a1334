// The source file and the options: a file picked or dropped, packing mode and
// the driver frequency, turned into the command line's arguments.

export function argumentsFrom(form) {
  const args = [];
  if (form.elements.packing.checked) {
    args.push("-p");
  }
  args.push(`-f${form.elements.frequency.value}`);
  return args;
}

// Calls onSource(file) for every file chosen or dropped, and onOptions() when
// an option changes or the form is submitted.
export function watchSourceForm(form, dropZone, { onSource, onOptions }) {
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
      onSource(file);
    }
  });
  form.elements.packing.addEventListener("change", onOptions);
  form.elements.frequency.addEventListener("change", onOptions);
  form.addEventListener("submit", (event) => {
    event.preventDefault();
    onOptions();
  });
}
