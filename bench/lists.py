#!/usr/bin/env python3
"""Editing arrays and arrays of tables: morvelan against tomlkit.

Usage (from the project root):

    python -m pip install -r bench/requirements.txt
    bash scripts/build.sh release
    PYTHONPATH=build/release python bench/lists.py [--quick] [--markdown FILE]

Lists, each at two sizes so that growth shows: an array of N integers written one per
line (N = 10,000 and 100,000), the `package` array of tables of a generated lock file
(bench/gen_lockfile.py with 300 and 3,000 packages), and the `dependencies` array of
../shared/bench-data/pyproject.toml (appended to only).

Operations, each on the list handle taken once (`lst = doc[...]`): append(x), insert(0, x),
pop(), pop(0), lst[i] = x for the middle element, and lst[i:i + 2] = [x, y]. Every
operation is undone, untimed, after each run, so the list keeps its size. Times are the
best single run of N; ratios are tomlkit time / morvelan time.
"""

from __future__ import annotations

import argparse
import sys
from pathlib import Path
from typing import Any, Callable

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))
from handles import generated_lock  # noqa: E402
from peers import best_time, emit, fmt_ratio, fmt_time, machine_details, read_text, table, write_markdown  # noqa: E402

BENCH_DATA = ROOT.parent / "shared" / "bench-data"


def array_text(n: int) -> str:
    return "values = [\n" + "".join(f"    {i},\n" for i in range(n)) + "]\n"


# (label, text, path to the list, the element to add)
def inputs() -> list[tuple[str, str, tuple, Callable[[], Any]]]:
    out = []
    for n in (10_000, 100_000):
        out.append((f"array of {n:,} integers", array_text(n), ("values",), lambda: 7))
    for packages in (300, 3_000):
        out.append((f"lock file, {packages:,} packages", generated_lock(packages), ("package",),
                    lambda: {"name": "extra", "version": "1.0.0", "optional": False}))
    p = BENCH_DATA / "pyproject.toml"
    if p.is_file():
        out.append(("pyproject.toml dependencies", read_text(p), ("project", "dependencies"), lambda: "rich>=13"))
    else:
        print(f"note: {p} not found: skipped", file=sys.stderr)
    return out


def get(doc: Any, path: tuple) -> Any:
    for step in path:
        doc = doc[step]
    return doc


# Each operation: (name, timed edit, untimed undo). `new` makes the value to add.
def operations(lst: Any, new: Callable[[], Any]) -> list[tuple[str, Callable[[], Any], Callable[[], Any]]]:
    mid = len(lst) // 2
    return [
        ("append", lambda: lst.append(new()), lambda: lst.pop()),
        ("insert(0, x)", lambda: lst.insert(0, new()), lambda: lst.pop(0)),
        ("pop()", lambda: lst.pop(), lambda: lst.append(new())),
        ("pop(0)", lambda: lst.pop(0), lambda: lst.insert(0, new())),
        ("lst[mid] = x", lambda: lst.__setitem__(mid, new()), lambda: None),
        ("lst[mid:mid+2] = [x, y]", lambda: lst.__setitem__(slice(mid, mid + 2), [new(), new()]), lambda: None),
    ]


def measure(loads: Callable[[str], Any], text: str, path: tuple, new: Callable[[], Any], only_append: bool,
            min_time: float, min_reps: int) -> dict[str, float | str]:
    """Seconds per operation, or why the library cannot do it."""
    doc = loads(text)
    lst = get(doc, path)
    out: dict[str, float | str] = {}
    for name, op, undo in operations(lst, new):
        if only_append and name != "append":
            continue
        try:
            op()
            undo()
        except Exception as exc:
            out[name] = f"{type(exc).__name__}: {exc}"[:40]
            continue
        out[name] = best_time(lambda _: op(), None, min_time, min_reps, after=undo, collect=False)[0]
    return out


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--quick", action="store_true", help="shorter runs")
    ap.add_argument("--markdown", help="also write the report to this file")
    opts = ap.parse_args()
    min_time, min_reps = (0.05, 3) if opts.quick else (0.3, 5)

    import morvelan
    libs = {"morvelan": morvelan.loads}
    try:
        import tomlkit
        libs["tomlkit"] = tomlkit.loads
    except ImportError as exc:
        print(f"note: tomlkit not importable ({exc}): only morvelan is timed", file=sys.stderr)

    out: list[str] = []
    emit(out, ["# Editing lists", ""] + machine_details(morvelan, {k: sys.modules[k] for k in libs if k != "morvelan"}))
    rows = []
    for label, text, path, new in inputs():
        only_append = path == ("project", "dependencies")
        times = {name: measure(loads, text, path, new, only_append, min_time, min_reps) for name, loads in libs.items()}
        for op, t in times["morvelan"].items():
            row = [label, op, fmt_time(t)]
            if "tomlkit" in times:
                tk = times["tomlkit"][op]
                row += [fmt_time(tk), fmt_ratio(tk / t)] if isinstance(tk, float) else [tk, "-"]
            rows.append(row)
    header = ["list", "operation", "morvelan"] + (["tomlkit", "×"] if "tomlkit" in libs else [])
    emit(out, [""] + table(header, rows, right={2, 3, 4}))
    write_markdown(opts.markdown, out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
