// Runs conversions off the page's thread, so a large file never freezes it.
import { convert } from "../mid2nolt.mjs";

self.onmessage = async ({ data: { id, name, bytes, args } }) => {
  try {
    const result = await convert(name, bytes, args);
    self.postMessage({ id, result }, result.scripts.map((s) => s.bytes.buffer));
  } catch (error) {
    self.postMessage({ id, error: String(error) });
  }
};
