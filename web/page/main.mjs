// The page: a source and options in, the console, the scripts with what each
// loses, and their preview out. Conversions run in the page's worker through
// the mid2nolt module.
import { argumentsFrom, frequencyWarning, sourceName, watchSourceForm } from "./source-form.mjs";
import { consoleSummary, showConsole } from "./console-view.mjs";
import { lossSummary, showScriptList } from "./script-list.mjs";
import { showScript } from "./script-view.mjs";
import { PreviewView } from "./preview-view.mjs";
import { callWorker } from "./worker-client.mjs";

const $ = (id) => document.getElementById(id);
const form = $("options");
const preview = new PreviewView();
let source = null;
let runs = 0;
// What the latest run converted: an option's change event that leaves the
// command line as it was (focus leaving the frequency field, say, to click a
// button) converts nothing again, so the page does not move under the click.
let converted = null;

function showLossSummary(scripts, { totals }) {
  $("loss-summary").textContent = scripts.length === 0 ? "" : lossSummary(totals);
}

async function run() {
  if (source === null) {
    return;
  }
  const args = argumentsFrom(form);
  const name = sourceName(source.name);
  converted = { source, args: args.join(" ") };
  const id = ++runs;
  document.body.setAttribute("aria-busy", "true");
  // Said on the command line's one line: emptying the console would move
  // everything below it under the pointer.
  $("command-line").textContent = "Converting…";
  try {
    const result = await callWorker("convert", { name, bytes: source.bytes, args });
    if (id !== runs) {
      return; // a later run has started
    }
    const renamed = name === source.name ? null : `${source.name} converted as ${name}`;
    showConsole($("command-line"), $("console"), name, args, result, renamed);
    $("console-summary").textContent = consoleSummary(name, result);
    const warning = frequencyWarning(form, result.driverFrequency);
    $("frequency-warning").hidden = warning === "";
    $("frequency-warning").textContent = warning;
    $("loss-summary").textContent = "";
    const zipName = `${name.replace(/\.mid$/i, "")}-scripts.zip`;
    let list = null;
    const view = (script) => {
      list.mark(script);
      showScript($("viewer-name"), $("script-text"), $("script-note"), script);
      return preview.show(script);
    };
    list = showScriptList($("script-list"), $("download-all"), result, zipName, view);
    // The preview times scripts at the frequency the converter itself read.
    preview.setConversion(result, name);
    // The first view: the first script with notes, the scripts and preview in sight.
    await view(result.scripts[Math.max(0, result.firstWithNotes)]);
    if (result.scripts.length > 0) {
      $("scripts-section").scrollIntoView({ block: "start" });
    }
    // What each script loses, counted after the scripts are shown.
    const loss = await callWorker("loss", {});
    if (id !== runs) {
      return;
    }
    list.showLoss(loss);
    preview.setLoss(loss);
    showLossSummary(result.scripts, loss);
    document.body.dataset.converted = String(id);
  } catch (error) {
    $("command-line").textContent = "";
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
    $("source-name").hidden = false;
    $("source-name").textContent = `${file.name} (${file.size} bytes)`;
    $("convert").disabled = false;
    run();
  },
  onOptions() {
    if (converted?.source !== source || converted.args !== argumentsFrom(form).join(" ")) {
      run();
    }
  },
  onSubmit: run,
});
