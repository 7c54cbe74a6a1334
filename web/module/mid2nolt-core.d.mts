// The core's glue as emscripten writes it (built into build/web-wasm/): a
// factory of instances, each a fresh process with its own memory and files.
export interface CoreInstance {
  FS: {
    init(
      input: null,
      stdout: (byte: number | null) => void,
      stderr: (byte: number | null) => void,
    ): void;
    mkdirTree(path: string): void;
    chdir(path: string): void;
    writeFile(path: string, data: Uint8Array): void;
    readFile(path: string): Uint8Array;
  };
  ccall(name: string, returns: "number", types: string[], args: (string | number)[]): number;
}
export default function createConverter(options: object): Promise<CoreInstance>;
