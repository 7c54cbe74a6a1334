// The module run as the command line runs: `node module-cli.mjs song.mid -p`
// converts song.mid with the built module, writes its console and scripts
// where the native binary would, and exits with its status. The golden table
// checks the module through it.
import { mkdirSync, readFileSync, writeFileSync } from "node:fs";
import { dirname } from "node:path";
import { convert } from "../../build/web/mid2nolt.mjs";

const [name, ...args] = process.argv.slice(2);
let bytes = null;
try {
  bytes = readFileSync(name);
} catch {
  // Left for the converter to report.
}
const result = await convert(name, bytes, args);
for (const script of result.scripts) {
  mkdirSync(dirname(script.name), { recursive: true });
  writeFileSync(script.name, script.bytes);
}
process.stdout.write(result.stdout);
process.stderr.write(result.stderr);
process.exitCode = result.exitStatus;
