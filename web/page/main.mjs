// The page: a source and options in, the console, the scripts with what each
// loses, and their preview out. Conversions run in the page's worker through
// the mid2nolt module.
import {
  argumentsFrom,
  arrangeArgumentsFrom,
  frequencyWarning,
  sourceName,
  watchSourceForm,
} from "./source-form.mjs";
import { arrangeFailure, consoleSummary, showConsole } from "./console-view.mjs";
import { fitLossText, fitRoles, showFit, showMelodyChoices } from "./fit-view.mjs";
import { showLossComparison } from "./loss-comparison.mjs";
import { download, lossSummary, showScriptList } from "./script-list.mjs";
import { showScript } from "./script-view.mjs";
import { PreviewView } from "./preview-view.mjs";
import { inStep } from "./progress-view.mjs";
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

// `fit`: the fit the scripts were converted from, or null. A fit's scripts
// are counted against the source's notes first.
function showLossSummary(scripts, { totals, comparison }, fit) {
  $("loss-summary").textContent =
    scripts.length === 0
      ? ""
      : comparison
        ? `Arranged: ${lossSummary(comparison.arranged.totals)} ` +
          `Plain: ${lossSummary(comparison.plain.totals)}`
        : fit
          ? `${fitLossText(fit)} Of the fitted file's notes: ${lossSummary(totals)}`
          : lossSummary(totals);
}

// The command line of a run, options included, as one text.
function commandOf(args, arrangeArgs) {
  return [...(arrangeArgs === null ? [] : ["arrange", ...arrangeArgs]), ...args].join(" ");
}

// Arranges the source, and shows the arranger's console and its file; the
// conversion of the arranged file (null when the arrangement failed) and the
// arrangement.
async function arranged(name, args, arrangeArgs, renamed) {
  const fitting = arrangeArgs.includes("--channels");
  const { arrangement, conversion } = await inStep(
    $("progress"),
    fitting ? "Fitting to the driver's channels and converting…" : "Arranging and converting…",
    callWorker("arrange", { name, bytes: source.bytes, arrangeArgs, args }),
  );
  const [commandLine, consoleText] = [$("arrange-command-line"), $("arrange-console")];
  showConsole(
    commandLine,
    consoleText,
    name,
    arrangeArgs,
    arrangement,
    renamed,
    "mid2nolt-arrange",
  );
  $("arrange-run").hidden = false;
  const save = $("download-arranged");
  save.hidden = arrangement.bytes === null;
  const format = $("arranged-format");
  format.hidden = arrangement.bytes === null || !arrangement.ownTempoMaps;
  format.textContent = format.hidden
    ? ""
    : `A MIDI file of format 2: tempo changes inside ${arrangement.notesAcrossTempo} sounding ` +
      "note(s), so each of their voices carries a tempo map of its own, and its script keeps " +
      "the file's time. For a sequencer that plays only format 1, arrange with --format 1.";
  showFit($("fit"), $("fit-table"), $("fit-summary"), arrangement.fit);
  if (arrangement.fit !== null) {
    showMelodyChoices(form.elements.melody, arrangement.fit);
  }
  save.onclick = () =>
    download(
      arrangement.name.slice(arrangement.name.lastIndexOf("/") + 1),
      arrangement.bytes,
      "audio/midi",
    );
  return { conversion, arrangement };
}

async function run() {
  if (source === null) {
    return;
  }
  const args = argumentsFrom(form);
  const arrangeArgs = arrangeArgumentsFrom(form);
  const sourceAs = sourceName(source.name);
  converted = { source, args: commandOf(args, arrangeArgs) };
  const id = ++runs;
  document.body.setAttribute("aria-busy", "true");
  // Said on the command line's one line: emptying the console would move
  // everything below it under the pointer.
  $("command-line").textContent = arrangeArgs === null ? "Converting…" : "Arranging…";
  try {
    const renamed = sourceAs === source.name ? null : `${source.name} converted as ${sourceAs}`;
    let name = sourceAs;
    let result;
    let fit = null;
    if (arrangeArgs === null) {
      result = await inStep(
        $("progress"),
        "Converting…",
        callWorker("convert", { name, bytes: source.bytes, args }),
      );
      $("arrange-run").hidden = true;
    } else {
      const { conversion, arrangement } = await arranged(sourceAs, args, arrangeArgs, renamed);
      if (id !== runs) {
        return;
      }
      if (conversion === null) {
        // Nothing of an earlier run stays in sight.
        $("command-line").textContent = "";
        $("console").textContent = "Nothing converted: the arrangement failed.";
        $("console-summary").textContent = arrangeFailure(sourceAs, arrangement);
        $("loss-summary").textContent = "";
        showLossComparison($("loss-comparison"), $("comparison"), null);
        const none = { scripts: [], driverFrequency: null };
        showScriptList($("script-list"), $("download-all"), none, "", () => {});
        showScript($("viewer-name"), $("script-text"), $("script-note"), null);
        preview.setConversion(none, sourceAs);
        await preview.show(null);
        document.body.dataset.converted = String(id);
        return;
      }
      result = conversion;
      name = arrangement.name;
      fit = arrangement.fit;
    }
    if (id !== runs) {
      return; // a later run has started
    }
    showLossComparison($("loss-comparison"), $("comparison"), null);
    showConsole($("command-line"), $("console"), name, args, result, arrangeArgs ? null : renamed);
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
    preview.setConversion(result, name, fit && fitRoles(fit));
    // The first view: the first script with notes, the scripts and preview in sight.
    await view(result.scripts[Math.max(0, result.firstWithNotes)]);
    if (result.scripts.length > 0) {
      $("scripts-section").scrollIntoView({ block: "start" });
    }
    // What each script loses, counted after the scripts are shown.
    const loss = await inStep(
      $("progress"),
      "Counting what each script loses…",
      callWorker("loss", {}),
    );
    if (id !== runs) {
      return;
    }
    list.showLoss(loss);
    preview.setLoss(loss);
    showLossSummary(result.scripts, loss, fit);
    showLossComparison($("loss-comparison"), $("comparison"), loss.comparison);
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
    // Another file has other parts.
    showMelodyChoices(form.elements.melody, null);
    run();
  },
  onOptions() {
    if (
      converted?.source !== source ||
      converted.args !== commandOf(argumentsFrom(form), arrangeArgumentsFrom(form))
    ) {
      run();
    }
  },
  onSubmit: run,
});
