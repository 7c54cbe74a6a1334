// The console of a run: the command line, then stdout and stderr as the
// converter wrote them. Everything is set as text, never as markup.

function quoted(arg) {
  return /^[\w.,+\-/=:@%]+$/.test(arg) ? arg : `'${arg.replaceAll("'", "'\\''")}'`;
}

// `renamed`, when given, is a line of the page's own above the run's output.
export function showConsole(
  commandLine,
  consoleText,
  name,
  args,
  result,
  renamed = null,
  program = "mid2nolt",
) {
  commandLine.textContent = `$ ${[program, name, ...args].map(quoted).join(" ")}`;
  consoleText.replaceChildren();
  if (renamed !== null) {
    const note = document.createElement("span");
    note.className = "page-note";
    note.textContent = `(${renamed})\n`;
    consoleText.append(note);
  }
  consoleText.append(result.stdout);
  if (result.stderr !== "") {
    const error = document.createElement("span");
    error.className = "error";
    error.textContent = result.stderr;
    consoleText.append(error);
  }
  const open = (result.stdout + result.stderr).endsWith("\n") ? "" : "\n";
  consoleText.append(`${open}[exit status ${result.exitStatus}]`);
}

// An arrangement that failed, in one line.
export function arrangeFailure(name, result) {
  const error = result.stderr.trim().split("\n").at(-1);
  return `${name} could not be arranged (exit status ${result.exitStatus}): ${error}.`;
}

// The run in one line, for screen readers: announced once, not line by line.
export function consoleSummary(name, result) {
  const scripts = result.scripts.length;
  const wrote = `${scripts} script${scripts === 1 ? "" : "s"} written`;
  if (result.exitStatus === 0) {
    return `Converted ${name}: ${wrote}.`;
  }
  const error = result.stderr.trim().split("\n").at(-1);
  return `${name} failed (exit status ${result.exitStatus}): ${error}${scripts > 0 ? `; ${wrote}` : ""}.`;
}
