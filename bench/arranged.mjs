// A file arranged as the benchmarks need it: by the module, or by a native
// mid2nolt-arrange where MID2NOLT_ARRANGE names one (faster to develop with).
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { arrange } from "../build/web/mid2nolt.mjs";

const workDir = mkdtempSync(join(tmpdir(), "mid2nolt-bench-"));

/** The arranged file's bytes, or null where the arranger fails. */
export async function arranged(bytes, args) {
  if (!process.env.MID2NOLT_ARRANGE)
    return (await arrange("in.mid", bytes, args)).bytes;
  writeFileSync(join(workDir, "in.mid"), bytes);
  try {
    execFileSync(process.env.MID2NOLT_ARRANGE, [
      join(workDir, "in.mid"),
      ...args,
      `-o${join(workDir, "out.mid")}`,
    ]);
  } catch {
    return null;
  }
  return new Uint8Array(readFileSync(join(workDir, "out.mid")));
}
