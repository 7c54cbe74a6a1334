// The page: a source and options in, the console, the scripts and their
// preview out. Conversions run in the page's worker through the mid2nolt module.
import { argumentsFrom, watchSourceForm } from "./source-form.mjs";
import { showConsole } from "./console-view.mjs";
import { showScriptList } from "./script-list.mjs";
import { showScript } from "./script-view.mjs";
import { PreviewView } from "./preview-view.mjs";
import { callWorker } from "./worker-client.mjs";

const $ = (id) => document.getElementById(id);
const form = $("options");
const preview = new PreviewView();
let source = null;
let runs = 0;

async function run() {
  if (source === null) {
    return;
  }
  const args = argumentsFrom(form);
  const id = ++runs;
  document.body.setAttribute("aria-busy", "true");
  // Said on the command line's one line: emptying the console would move
  // everything below it under the pointer.
  $("command-line").textContent = "Converting…";
  try {
    const result = await callWorker("convert", { name: source.name, bytes: source.bytes, args });
    if (id !== runs) {
      return; // a later run has started
    }
    showConsole($("command-line"), $("console"), source.name, args, result);
    const zipName = `${source.name.replace(/\.mid$/i, "")}-scripts.zip`;
    const view = (script) => {
      showScript($("viewer-name"), $("script-text"), $("script-note"), script);
      return preview.show(script);
    };
    showScriptList($("script-list"), $("download-all"), result.scripts, zipName, view);
    // The preview times scripts at the frequency the converter itself read.
    preview.setConversion(result.scripts, result.driverFrequency ?? 0, source.name);
    await view(result.scripts[0]);
    document.body.dataset.converted = String(id);
  } catch (error) {
    $("console").textContent = `The conversion could not run: ${error.message}`;
  } finally {
    if (id === runs) {
      document.body.removeAttribute("aria-busy");
    }
  }
}

watchSourceForm(form, $("drop-zone"), {
  async onSource(file) {
    source = { name: file.name, bytes: new Uint8Array(await file.arrayBuffer()) };
    $("convert").disabled = false;
    run();
  },
  onOptions: run,
});
