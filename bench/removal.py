#!/usr/bin/env python3
"""Removing many entries of one table, at two table sizes: the cost of a removal must not
grow with the table, so the time for twice the entries should be about twice the time.

Usage (from the project root):

    bash scripts/build.sh release
    PYTHONPATH=build/release python bench/removal.py [--quick] [--markdown FILE]

Shapes, each at N = 20,000 and 40,000 (each time is the best of several runs with the
cyclic garbage collector off, as in bench/handles.py; the document is parsed afresh,
untimed, before each run):

  takeover   parse `[x{i}.y]` for every i, then `[x{i}]` for every i: each `[x{i}]` takes
             over the table the deeper header made, which removes its entry from the front
             of the root table and appends it again (tomllib parsing the same text for
             reference)
  del front  `del doc[k]` for the N keys of `k{i} = {i}`, in the order they were written
             (always the first entry)
  popitem    `doc.popitem()` N times on the same document (always the last entry)

`growth` is the time at 40,000 / the time at 20,000: 2 means a removal costs the same at
both sizes.
"""

from __future__ import annotations

import argparse
import sys
import tomllib
from pathlib import Path
from typing import Any, Callable

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))
from peers import best_time, emit, fmt_time, import_morvelan, machine_details, table, write_markdown  # noqa: E402

SIZES = (20_000, 40_000)


def takeover_text(n: int) -> str:
    return "".join(f"[x{i}.y]\n" for i in range(n)) + "".join(f"[x{i}]\n" for i in range(n))


def keys_text(n: int) -> str:
    return "".join(f"k{i} = {i}\n" for i in range(n))


def timed_on_fresh(loads: Callable[[str], Any], text: str, run: Callable[[Any], Any],
                   min_time: float, min_reps: int) -> float:
    """Best run of `run(doc)`, each on a document parsed untimed just before."""
    holder: list[Any] = [None]

    def before() -> None:
        holder[0] = loads(text)

    def after() -> None:
        holder[0] = None

    return best_time(lambda _: run(holder[0]), None, min_time, min_reps, before=before, after=after,
                     collect=False)[0]


def main() -> int:
    ap = argparse.ArgumentParser(description="Removing many entries of one table, at two sizes.")
    ap.add_argument("--quick", action="store_true", help="fewer repetitions (a rough check, not for publishing)")
    ap.add_argument("--markdown", metavar="FILE", help="also write the tables as Markdown to FILE")
    opts = ap.parse_args()

    mv = import_morvelan()
    if mv is None:
        return 1
    min_time, min_reps = (0.05, 1) if opts.quick else (0.3, 3)

    out: list[str] = ["## Machine", ""] + machine_details(mv, {"tomllib": tomllib})
    out += ["", f"Each time is the best run of N (N >= {min_reps}, the runs taking >= {min_time} s together)."
            + (" Quick run: rough figures." if opts.quick else "")]
    print("\n".join(out), flush=True)

    def del_front(doc: Any, n: int) -> None:
        for i in range(n):
            del doc[f"k{i}"]

    def popitem(doc: Any, n: int) -> None:
        for _ in range(n):
            doc.popitem()

    shapes: list[tuple[str, Callable[[int], float]]] = [
        ("takeover: morvelan.loads",
         lambda n: best_time(mv.loads, takeover_text(n), min_time, min_reps)[0]),
        ("takeover: tomllib.loads",
         lambda n: best_time(tomllib.loads, takeover_text(n), min_time, min_reps)[0]),
        ("del doc[k] from the front",
         lambda n: timed_on_fresh(mv.loads, keys_text(n), lambda d: del_front(d, n), min_time, min_reps)),
        ("popitem() until empty",
         lambda n: timed_on_fresh(mv.loads, keys_text(n), lambda d: popitem(d, n), min_time, min_reps)),
    ]
    rows = []
    for name, measure in shapes:
        times = []
        for n in SIZES:
            print(f"  {name}, N = {n:,} ...", file=sys.stderr, flush=True)
            times.append(measure(n))
        rows.append([name] + [fmt_time(t) for t in times] + [f"{times[1] / times[0]:.2f}"])
    header = ["shape"] + [f"N = {n:,}" for n in SIZES] + ["growth"]
    section = ["", "## Removing N entries of one table", ""] + table(header, rows, {1, 2, 3})
    section += ["", f"Takeover text: {len(takeover_text(SIZES[0])):,} and {len(takeover_text(SIZES[1])):,} "
                f"bytes. growth = time at {SIZES[1]:,} / time at {SIZES[0]:,}."]
    emit(out, section)
    write_markdown(opts.markdown, out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
