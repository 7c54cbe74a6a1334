// The console of a run: the command line, then stdout and stderr as the
// converter wrote them. Everything is set as text, never as markup.

function quoted(arg) {
  return /^[\w.,+\-/=:@%]+$/.test(arg) ? arg : `'${arg.replaceAll("'", "'\\''")}'`;
}

export function showConsole(commandLine, consoleText, name, args, result) {
  commandLine.textContent = `$ ${["mid2nolt", name, ...args].map(quoted).join(" ")}`;
  consoleText.replaceChildren();
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
