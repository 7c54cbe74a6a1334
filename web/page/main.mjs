// The page: a source and options in, the console and the scripts out. The
// conversion runs in a worker through the mid2nolt module.
import { argumentsFrom, watchSourceForm } from "./source-form.mjs";
import { showConsole } from "./console-view.mjs";
import { showScriptList } from "./script-list.mjs";
import { showScript } from "./script-view.mjs";
import { PreviewView } from "./preview-view.mjs";

const $ = (id) => document.getElementById(id);
const form = $("options");
const worker = new Worker(new URL("./conversion-worker.js", import.meta.url), { type: "module" });
const preview = new PreviewView();
let source = null;
let runs = 0;

function convertInWorker(name, bytes, args) {
  const id = ++runs;
  return new Promise((resolve, reject) => {
    const receive = ({ data }) => {
      if (data.id !== id) {
        return;
      }
      worker.removeEventListener("message", receive);
      data.error ? reject(new Error(data.error)) : resolve(data.result);
    };
    worker.addEventListener("message", receive);
    worker.postMessage({ id, name, bytes, args });
  });
}

async function run() {
  if (source === null) {
    return;
  }
  const args = argumentsFrom(form);
  const id = runs + 1;
  document.body.setAttribute("aria-busy", "true");
  $("console").textContent = "Converting…";
  try {
    const result = await convertInWorker(source.name, source.bytes.slice(), args);
    if (id !== runs) {
      return; // a later run has started
    }
    showConsole($("command-line"), $("console"), source.name, args, result);
    const zipName = `${source.name.replace(/\.mid$/i, "")}-scripts.zip`;
    const view = (script) => {
      showScript($("viewer-name"), $("script-text"), script);
      preview.show(script);
    };
    showScriptList($("script-list"), $("download-all"), result.scripts, zipName, view);
    preview.setConversion(result.scripts, Number(form.elements.frequency.value), source.name, source.bytes);
    view(result.scripts[0]);
    document.body.dataset.converted = String(id);
  } catch (error) {
    $("console").textContent = `The conversion could not run: ${error.message}`;
  } finally {
    document.body.removeAttribute("aria-busy");
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
