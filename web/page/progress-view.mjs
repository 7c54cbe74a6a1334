// The step a run is in, shown with a progress bar once it has taken longer
// than a second, and said to screen readers; hidden again when it ends.
const delay = 1000;

export function inStep(line, text, work) {
  const label = line.querySelector("span");
  const timer = setTimeout(() => {
    label.textContent = text;
    line.hidden = false;
  }, delay);
  return work.finally(() => {
    clearTimeout(timer);
    line.hidden = true;
    label.textContent = "";
  });
}
