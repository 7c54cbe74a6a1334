// Calls into the page's worker: conversions, piano roll contents and audio are
// all made there, so that no large file ever holds up the page.
// The one-file page holds the worker's code as text: a classic worker from a
// blob runs where a module worker from a file would be refused.
const inlined = document.getElementById("conversion-worker-source");
const worker = inlined
  ? new Worker(URL.createObjectURL(new Blob([inlined.textContent], { type: "text/javascript" })))
  : new Worker(new URL("./conversion-worker.js", import.meta.url), { type: "module" });
let calls = 0;

export function callWorker(type, payload, transfer = []) {
  const id = ++calls;
  return new Promise((resolve, reject) => {
    const receive = ({ data }) => {
      if (data.id === id) {
        worker.removeEventListener("message", receive);
        data.error === undefined ? resolve(data.result) : reject(new Error(data.error));
      }
    };
    worker.addEventListener("message", receive);
    worker.postMessage({ id, type, payload }, transfer);
  });
}
