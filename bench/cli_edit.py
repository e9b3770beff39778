#!/usr/bin/env python3
"""Wall time of updating every dependency of a Cargo workspace with the
command-line editor: one `morvelan set` process per dependency, against one
`morvelan edit` process that reads all the edits as a script.

Usage (from the project root):

    bash scripts/build.sh release
    python bench/cli_edit.py [--count 207] [--runs 3] [--markdown FILE]

Input: the `[workspace.dependencies]` of ../shared/corpus/astral-sh__ruff__Cargo.toml
(173 entries), topped up to --count entries with those of rust-lang/cargo's
Cargo.toml that ruff's does not have, each as written there. Every entry gets one
edit: `set workspace.dependencies.NAME VERSION` for a plain version string,
`set workspace.dependencies.NAME.version VERSION` for an inline table (adding the
key to the few that have only a path), with the patch number raised by one.

Each run starts from a fresh copy of the file, put back untimed; both ways must
leave the same bytes, which is checked. The build tree's .py files are compiled
first, as an install compiles them. Runs are sequential: one-process-per-edit
runs its processes one after another, as a shell loop would.
"""

from __future__ import annotations

import argparse
import os
import re
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Callable

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "release"
CORPUS = ROOT.parent / "shared" / "corpus"
BASE = CORPUS / "astral-sh__ruff__Cargo.toml"
MORE = CORPUS / "rust-lang__cargo__Cargo.toml"

sys.path.insert(0, str(BUILD))

import morvelan  # noqa: E402
from morvelan import Item, _cli  # noqa: E402


def bumped(version: str) -> str:
    """The version with its last number raised by one (`1.0` -> `1.1`, `=0.3.2` -> `=0.3.3`)."""
    found = list(re.finditer(r"[0-9]+", version))
    if not found:
        return "1.0.0"
    last = found[-1]
    return version[: last.start()] + str(int(last.group()) + 1) + version[last.end() :]


def workspace(count: int) -> tuple[str, int, list[list[str]]]:
    """The manifest text with at least count workspace dependencies, their
    number, and one edit (the words after FILE of a `set` command) for each of
    the first count."""
    doc = morvelan.loads(BASE.read_text(encoding="utf-8"))
    deps = doc["workspace"]["dependencies"]
    more = morvelan.loads(MORE.read_text(encoding="utf-8"))["workspace"]["dependencies"]
    for name in more:
        if len(deps) >= count:
            break
        if name not in deps:
            deps[name] = Item.parse(_cli.value_text(more[name].as_toml()))
    if len(deps) < count:
        raise SystemExit(f"only {len(deps)} dependencies to be had, not {count}")
    edits = []
    for name in list(deps)[:count]:
        value = deps[name].value
        key = f"workspace.dependencies.{name}"
        if isinstance(value, str):
            edits.append([key, f'"{bumped(value)}"'])
        else:
            edits.append([key + ".version", f'"{bumped(value.get("version", "0.0.0"))}"'])
    return doc.as_toml(), len(deps), edits


def timed(run: Callable[[], None], reset: Callable[[], None], runs: int) -> list[float]:
    times = []
    for _ in range(runs):
        reset()
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return times


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--count", type=int, default=207, help="dependencies in the file, each edited once")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--markdown", help="also write the table to this file")
    opts = ap.parse_args()
    for path in (BASE, MORE):
        if not path.is_file():
            print(f"{path} is absent", file=sys.stderr)
            return 1
    subprocess.run([sys.executable, "-m", "compileall", "-q", str(BUILD / "morvelan")], check=True)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(BUILD)] + [p for p in [os.environ.get("PYTHONPATH")] if p]))
    text, total, edits = workspace(opts.count)
    script = "".join(" ".join(["set", *map(shlex.quote, words)]) + "\n" for words in edits)
    cli = [sys.executable, "-m", "morvelan"]

    with tempfile.TemporaryDirectory() as folder:
        manifest = Path(folder) / "Cargo.toml"
        script_path = Path(folder) / "bump.txt"
        script_path.write_text(script, encoding="utf-8")

        def reset() -> None:
            manifest.write_text(text, encoding="utf-8", newline="")

        def one_process_per_edit() -> None:
            for words in edits:
                subprocess.run(cli + ["set", str(manifest), *words], env=env, check=True)

        def one_edit_process() -> None:
            subprocess.run(cli + ["edit", str(manifest), "--script", str(script_path)], env=env, check=True)

        results = {}
        written = {}
        for name, run in (("one `set` process per edit", one_process_per_edit), ("one `edit` process", one_edit_process)):
            results[name] = timed(run, reset, opts.runs)
            written[name] = manifest.read_bytes()
            print(f"{name}: {statistics.mean(results[name]):.3f} s", file=sys.stderr)
        if len(set(written.values())) != 1:
            print("the two ways wrote different files", file=sys.stderr)
            return 1
        changed = sum(a != b for a, b in zip(text.splitlines(), written[name].decode().splitlines()))

    per_edit, one = (results[name] for name in results)
    lines = [
        f"A Cargo.toml of {total} `[workspace.dependencies]` entries ({len(text.encode()):,} bytes), "
        f"{len(edits)} of them edited ({changed} lines change); {opts.runs} runs of each way, sequential.",
        "",
        "| way | processes | mean | min | max |",
        "|---|---:|---:|---:|---:|",
        f"| one `set` process per edit | {len(edits)} | {statistics.mean(per_edit):.3f} s | {min(per_edit):.3f} s | "
        f"{max(per_edit):.3f} s |",
        f"| one `edit` process | 1 | {statistics.mean(one):.3f} s | {min(one):.3f} s | {max(one):.3f} s |",
        "",
        f"One `edit` takes {statistics.mean(one) / statistics.mean(per_edit):.2%} of the time "
        f"({statistics.mean(per_edit) / statistics.mean(one):.0f}× less).",
    ]
    table = "\n".join(lines) + "\n"
    print(table)
    if opts.markdown:
        Path(opts.markdown).write_text(table)
    return 0


if __name__ == "__main__":
    sys.exit(main())
