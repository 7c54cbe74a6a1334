#!/usr/bin/env python3
"""Pins what the converter and the arranger write for real files.

For the bundled example and every .mid below the shared samples folder, with
each option set of the program, one line of the program's table holds the exit
status, the SHA-256 of stdout and of stderr, and the SHA-256 of every file
written: the converter's scripts (golden.tsv, no option and "-p -f50"), the
arranger's file (arrange-golden.tsv, no option, "--voices 1", "--voices 3",
"--channels 3", "--channels 6", "--channels 3 --arpeggio 1"; natively also the
fit at 1, 2, 4, 5 and 8 channels, with --drums and --no-drums at 3 and 6, and
with "--arpeggio 2 -f50" at 4, which the ports run through the same code and
would take minutes to run under an emulator).

  golden.py check --exe BIN [--program arrange] [--emulator CMD] [--windows 1]
      compare a build with the table
  golden.py write --exe BIN [--program arrange]
      write the table again, say what changed

A Windows build's CR LF line ends are read as LF (in scripts too, never in an
arranged MIDI file). Shared files that are absent are skipped; the example is
always checked.
"""

import argparse
import hashlib
import os
import shlex
import shutil
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
SAMPLES = REPO.parent / "shared" / "midi-samples"
# Per program: its table and the option sets it runs with.
PROGRAMS = {
    "convert": (Path(__file__).with_name("golden.tsv"), ["", "-p -f50"]),
    "arrange": (Path(__file__).with_name("arrange-golden.tsv"),
                ["", "--voices 1", "--voices 3", "--channels 3", "--channels 6",
                 "--channels 3 --arpeggio 1"]),
}
# Option sets run only where no emulator runs the program.
NATIVE_ONLY = {
    "arrange": ["--channels 1", "--channels 2", "--channels 4", "--channels 5", "--channels 8",
                "--channels 3 --drums", "--channels 3 --no-drums", "--channels 6 --drums",
                "--channels 6 --no-drums", "--channels 4 --arpeggio 2 -f50"],
}


def option_sets(args):
    return PROGRAMS[args.program][1] + ([] if args.emulator else NATIVE_ONLY.get(args.program, []))

# How long one run may take; the status of a run that took longer.
RUN_SECONDS = 300
HUNG = "hung"


def sources(samples):
    found = [("examples/demo.mid", REPO / "examples" / "demo.mid")]
    if samples.is_dir():
        for path in sorted(samples.rglob("*")):
            if path.is_file() and path.suffix.lower() == ".mid":
                found.append(("midi-samples/" + path.relative_to(samples).as_posix(), path))
    return found


def digest(data):
    return hashlib.sha256(data).hexdigest()


def from_windows(what, data):
    if data.replace(b"\r\n", b"").count(b"\n"):
        raise ValueError(f"{what}: a line ends without CR")
    return data.replace(b"\r\n", b"\n")


def execute(command, folder, capture):
    """Runs a command with its console in files, not pipes: a process it
    leaves behind (wine's services) then keeps no run from ending. A run
    still going after RUN_SECONDS is killed and its status is HUNG."""
    with open(os.path.join(capture, "out"), "w+b") as out, open(os.path.join(capture, "err"), "w+b") as err:
        try:
            status = subprocess.run(command, cwd=folder, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                    timeout=RUN_SECONDS, check=False).returncode
        except subprocess.TimeoutExpired:
            status = HUNG
        out.seek(0)
        err.seek(0)
        return status, out.read(), err.read()


def run(exe, emulator, windows, text_files, key, path, options):
    """One run in a folder of its own; the table's line for it."""
    with tempfile.TemporaryDirectory(prefix="mid2nolt-golden-") as folder, \
            tempfile.TemporaryDirectory(prefix="mid2nolt-console-") as capture:
        shutil.copyfile(path, os.path.join(folder, path.name))
        command = shlex.split(emulator) + [exe, path.name] + options.split()
        status, out, err = execute(command, folder, capture)
        if emulator and status != 0 and status != HUNG and not out and not err:
            # The converter never fails without a word: the emulator failed to start.
            status, out, err = execute(command, folder, capture)
        if status == HUNG:
            return "\t".join([key, options or "-", HUNG])
        fix = (lambda what, data: from_windows(f"{key} {what}", data)) if windows else (lambda _, d: d)
        fields = [key, options or "-", str(status),
                  "stdout=" + digest(fix("stdout", out)),
                  "stderr=" + digest(fix("stderr", err))]
        for name in sorted(os.listdir(folder)):
            if name != path.name:
                with open(os.path.join(folder, name), "rb") as written:
                    data = written.read()
                    fields.append(f"{name}={digest(fix(name, data) if text_files else data)}")
        return "\t".join(fields)


def run_all(args):
    text_files = args.program == "convert"
    jobs = [(key, path, options) for key, path in sources(args.samples) for options in option_sets(args)]
    with ThreadPoolExecutor(max_workers=max(2, os.cpu_count() or 2)) as pool:
        lines = pool.map(lambda job: run(args.exe, args.emulator, args.windows, text_files, *job), jobs)
        return {tuple(line.split("\t")[:2]): line for line in lines}


def read_table(table_path):
    with open(table_path, encoding="utf-8") as table:
        return {tuple(line.split("\t")[:2]): line.rstrip("\n") for line in table if line.strip()}


def first_difference(want, got):
    """What differs between two lines of the table for the same run."""
    want_fields, got_fields = want.split("\t")[2:], got.split("\t")[2:]
    if got_fields[0] == HUNG:
        return f"hung: ran past {RUN_SECONDS} s and was killed"
    if want_fields[0] != got_fields[0]:
        return f"exit status {got_fields[0]}, expected {want_fields[0]}"
    for label, index in (("stdout", 1), ("stderr", 2)):
        if want_fields[index] != got_fields[index]:
            return f"{label} differs"
    want_scripts = dict(field.split("=", 1) for field in want_fields[3:])
    got_scripts = dict(field.split("=", 1) for field in got_fields[3:])
    for name in sorted(want_scripts.keys() | got_scripts.keys()):
        if name not in got_scripts:
            return f"script {name} not written"
        if name not in want_scripts:
            return f"script {name} written, not expected"
        if want_scripts[name] != got_scripts[name]:
            return f"script {name} differs"
    return "lines differ"


def check(args):
    sets = set(option_sets(args))
    want = {key: line for key, line in read_table(PROGRAMS[args.program][0]).items()
            if (key[1] if key[1] != "-" else "") in sets}
    got = run_all(args)
    keys = {key for key, _ in sources(args.samples)}
    failures = []
    for run_key, line in sorted(want.items()):
        if run_key[0] not in keys:
            if run_key[0].startswith("midi-samples/") and args.samples.is_dir():
                failures.append(f"{run_key[0]} [{run_key[1]}]: in the table, not among the shared files")
            continue
        if run_key not in got:
            failures.append(f"{run_key[0]} [{run_key[1]}]: not run")
        elif got[run_key] != line:
            failures.append(f"{run_key[0]} [{run_key[1]}]: {first_difference(line, got[run_key])}")
    for run_key in sorted(got.keys() - want.keys()):
        failures.append(f"{run_key[0]} [{run_key[1]}]: not in the table (make golden)")
    for failure in failures:
        print(failure)
    skipped = "" if args.samples.is_dir() else f" (no shared files in {args.samples})"
    print(f"{len(got) - len(failures)} passed, {len(failures)} failed{skipped}")
    return 1 if failures else 0


def write(args):
    table_path = PROGRAMS[args.program][0]
    old = read_table(table_path) if table_path.exists() else {}
    new = run_all(args)
    for run_key in sorted(old.keys() | new.keys()):
        if run_key not in new:
            print(f"removed: {run_key[0]} [{run_key[1]}]")
        elif run_key not in old:
            print(f"added:   {run_key[0]} [{run_key[1]}]")
        elif old[run_key] != new[run_key]:
            print(f"changed: {run_key[0]} [{run_key[1]}]: {first_difference(old[run_key], new[run_key])}")
    with open(table_path, "w", encoding="utf-8", newline="\n") as table:
        table.writelines(line + "\n" for _, line in sorted(new.items()))
    print(f"{table_path.relative_to(REPO)}: {len(new)} runs")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("mode", choices=["check", "write"])
    parser.add_argument("--exe", required=True, help="the program to run")
    parser.add_argument("--program", choices=sorted(PROGRAMS), default="convert",
                        help="which program --exe is, and so which table")
    parser.add_argument("--emulator", default="", help="command that runs it (wine, qemu)")
    parser.add_argument("--windows", type=int, default=0, help="1: CR LF line ends, read as LF")
    parser.add_argument("--samples", type=Path, default=SAMPLES, help="the shared MIDI files")
    args = parser.parse_args()
    # Runs happen in folders of their own: a relative path names a file here.
    if os.sep in args.exe:
        args.exe = os.path.abspath(args.exe)
    return check(args) if args.mode == "check" else write(args)


if __name__ == "__main__":
    sys.exit(main())
