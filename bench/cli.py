#!/usr/bin/env python3
"""Wall time of the command-line editor against the same work done with tomlkit,
as whole process runs.

Usage (from the project root):

    python -m pip install -r bench/requirements.txt     # tomlkit
    apt-get install -y hyperfine                         # optional
    bash scripts/build.sh release
    python bench/cli.py [--runs 20] [--key 'package[10].version'] [--markdown FILE]

Input: ../shared/bench-data/poetry.lock. Commands, each a fresh process:

  get   python -m morvelan get LOCK KEY        python bench/cli_tomlkit.py get LOCK KEY
  set   python -m morvelan set LOCK KEY VALUE  python bench/cli_tomlkit.py set LOCK KEY VALUE

and, for scale, the interpreter starting (`python -c pass`) and importing each
library. Both work on copies of the lock file in a temporary folder; `set` edits
one that is put back, untimed, before each run, so every run writes the file (both write it the same way: a temporary
file, fsync, rename). The build tree's .py files are compiled first, as an
install compiles them. With hyperfine on the PATH it does the timing (3 warm-up
runs, then --runs runs); otherwise this script does, the same way.
"""

from __future__ import annotations

import argparse
import json
import os
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
LOCK = ROOT.parent / "shared" / "bench-data" / "poetry.lock"
BUILD = ROOT / "build" / "release"
WARMUP = 3


def commands(folder: Path, key: str, value: str) -> list[tuple[str, str, str | None]]:
    """(name, command, preparation) triples, on copies of the lock file in folder."""
    py = shlex.quote(sys.executable)
    read = shlex.quote(str(folder / "read.lock"))
    edited = shlex.quote(str(folder / "edited.lock"))
    peer = shlex.quote(str(ROOT / "bench" / "cli_tomlkit.py"))
    key, value = shlex.quote(key), shlex.quote(value)
    reset = f"cp {read} {edited}"
    return [
        ("python -c pass", f"{py} -c pass", None),
        ("import morvelan", f"{py} -c 'import morvelan'", None),
        ("import tomlkit", f"{py} -c 'import tomlkit'", None),
        ("get: morvelan", f"{py} -m morvelan get {read} {key}", None),
        ("get: tomlkit", f"{py} {peer} get {read} {key}", None),
        ("set: morvelan", f"{py} -m morvelan set {edited} {key} {value}", reset),
        ("set: tomlkit", f"{py} {peer} set {edited} {key} {value}", reset),
    ]


def with_hyperfine(name: str, command: str, prepare: str | None, runs: int) -> list[float]:
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        args = ["hyperfine", "--style", "none", "--warmup", str(WARMUP), "--runs", str(runs),
                "--export-json", out.name, "--command-name", name]
        if prepare:
            args += ["--prepare", prepare]
        subprocess.run(args + [command], check=True, stdout=subprocess.DEVNULL)
        times: list[float] = json.loads(Path(out.name).read_text())["results"][0]["times"]
        return times


def by_hand(command: str, prepare: str | None, runs: int) -> list[float]:
    times = []
    for i in range(WARMUP + runs):
        if prepare:
            subprocess.run(prepare, shell=True, check=True)
        start = time.perf_counter()
        subprocess.run(command, shell=True, check=True, stdout=subprocess.DEVNULL)
        if i >= WARMUP:
            times.append(time.perf_counter() - start)
    return times


def ms(seconds: float) -> str:
    return f"{seconds * 1000:.1f} ms"


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--runs", type=int, default=20)
    ap.add_argument("--key", default="package[10].version")
    ap.add_argument("--value", default='"9.9.9"')
    ap.add_argument("--markdown", help="also write the table to this file")
    opts = ap.parse_args()
    if not LOCK.is_file():
        print(f"{LOCK} is absent", file=sys.stderr)
        return 1
    # Compile the build tree's .py files, as pip does when it installs the wheel
    # (tomlkit's are compiled too); with PYTHONDONTWRITEBYTECODE set, every run
    # would compile them again otherwise.
    subprocess.run([sys.executable, "-m", "compileall", "-q", str(BUILD / "morvelan")], check=True)
    os.environ["PYTHONPATH"] = os.pathsep.join([str(BUILD)] + [p for p in [os.environ.get("PYTHONPATH")] if p])
    tool = "hyperfine" if shutil.which("hyperfine") else "this script"
    with tempfile.TemporaryDirectory() as folder:
        # Both read a copy in the same temporary folder (../shared may sit on a
        # slower file system).
        shutil.copy(LOCK, Path(folder) / "read.lock")
        results: dict[str, list[float]] = {}
        for name, command, prepare in commands(Path(folder), opts.key, opts.value):
            if tool == "hyperfine":
                results[name] = with_hyperfine(name, command, prepare, opts.runs)
            else:
                results[name] = by_hand(command, prepare, opts.runs)
            print(f"{name}: {ms(statistics.mean(results[name]))}", file=sys.stderr)

    lines = [
        f"Timed by {tool}: {opts.runs} runs after {WARMUP} warm-up runs; `{opts.key}` of poetry.lock "
        f"({LOCK.stat().st_size:,} bytes), set to `{opts.value}`.",
        "",
        "| command | mean ± sd | min | median | tomlkit / morvelan (mean) |",
        "|---|---:|---:|---:|---:|",
    ]
    for name, times in results.items():
        ratio = ""
        if name.endswith(": morvelan"):
            peer = results[name.replace("morvelan", "tomlkit")]
            ratio = f"{statistics.mean(peer) / statistics.mean(times):.2f}×"
        lines.append(f"| {name} | {ms(statistics.mean(times))} ± {ms(statistics.stdev(times))} | "
                     f"{ms(min(times))} | {ms(statistics.median(times))} | {ratio} |")
    table = "\n".join(lines) + "\n"
    print(table)
    if opts.markdown:
        Path(opts.markdown).write_text(table)
    return 0


if __name__ == "__main__":
    sys.exit(main())
