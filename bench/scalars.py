#!/usr/bin/env python3
"""Operators on scalar handles: what acting on a ScalarItem costs.

Usage (from the project root):

    bash scripts/build.sh release
    PYTHONPATH=build/release python bench/scalars.py [--quick] [--markdown FILE]

Each operation is timed three ways on the same value:

  plain     the operation on the plain Python value (x = 88)
  .value    reading the handle's value, then the operation (h.value + 1)
  handle    the operation on the handle itself (h + 1)

The handles are doc["tool"]["black"]["line-length"] (88) and doc["project"]["name"]
("morvelan") of a small pyproject-like document: paths of three and two key steps, which
every operation on a handle resolves again. Each statement runs in a compiled loop of
10,000 iterations (as timeit does); a time is the best loop of N (N >= 3, the loops taking
>= 0.3 s together, the cyclic collector off, as in bench/peers.py) divided by the
iterations. The empty loop's time per iteration is shown once; it is part of every figure.
"""

from __future__ import annotations

import argparse
import sys
from pathlib import Path
from typing import Any, Callable

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))
from peers import best_time, emit, fmt_ratio, import_morvelan, machine_details, table, write_markdown  # noqa: E402

TEXT = """\
[project]
name = "morvelan"
version = "0.1.0"

[tool.black]
line-length = 88
target-version = ["py311"]
"""

ITERATIONS = 10_000

# (label, statement with X standing for the operand, key of the handle)
OPERATIONS = [
    ("x + 1", "X + 1", "int"),
    ("hash(x)", "hash(X)", "int"),
    ('format(x, ">6")', 'format(X, ">6")', "int"),
    ("x.upper()", "X.upper()", "str"),
]


def compiled_loop(statement: str, env: dict[str, Any]) -> Callable[[int], None]:
    ns = dict(env)
    exec(f"def run(n):\n    for _ in range(n):\n        {statement}\n", ns)
    return ns["run"]


def per_iteration(statement: str, env: dict[str, Any], min_time: float, min_reps: int) -> float:
    run = compiled_loop(statement, env)
    run(ITERATIONS)  # warm up (and fail early)
    best, _ = best_time(run, ITERATIONS, min_time, min_reps, collect=False)
    return best / ITERATIONS


def fmt_ns(s: float) -> str:
    return f"{s * 1e9:.0f} ns"


def main() -> int:
    ap = argparse.ArgumentParser(description="Operators on scalar handles against the plain value.")
    ap.add_argument("--quick", action="store_true", help="fewer repetitions (a rough check, not for publishing)")
    ap.add_argument("--markdown", metavar="FILE", help="also write the table as Markdown to FILE")
    opts = ap.parse_args()
    mv = import_morvelan()
    if mv is None:
        return 1
    min_time, min_reps = (0.05, 1) if opts.quick else (0.3, 3)

    doc = mv.loads(TEXT)
    handles = {"int": doc["tool"]["black"]["line-length"], "str": doc["project"]["name"]}
    env = {"h_int": handles["int"], "h_str": handles["str"],
           "v_int": handles["int"].value, "v_str": handles["str"].value}

    out: list[str] = ["## Machine", ""] + machine_details(mv, {})
    out += ["", f"Per operation: the best of N loops of {ITERATIONS:,} (N >= {min_reps}, >= {min_time} s "
            f"together) / {ITERATIONS:,}." + (" Quick run: rough figures." if opts.quick else "")]
    print("\n".join(out), flush=True)

    empty = per_iteration("pass", env, min_time, min_reps)
    read = per_iteration("h_int.value", env, min_time, min_reps)
    rows = []
    for label, stmt, key in OPERATIONS:
        plain = per_iteration(stmt.replace("X", f"v_{key}"), env, min_time, min_reps)
        via_value = per_iteration(stmt.replace("X", f"h_{key}.value"), env, min_time, min_reps)
        handle = per_iteration(stmt.replace("X", f"h_{key}"), env, min_time, min_reps)
        rows.append([label, fmt_ns(plain), fmt_ns(via_value), fmt_ns(handle),
                     fmt_ratio(handle / via_value), fmt_ns(handle - plain)])
    header = ["operation", "plain value", "h.value + op", "handle", "handle / (h.value + op)",
              "handle − plain"]
    section = ["", "## Operators on a scalar handle", ""] + table(header, rows, set(range(1, len(header))))
    section += ["", f"Empty loop: {fmt_ns(empty)} per iteration; `h.value` alone: {fmt_ns(read)} "
                f"(path of three keys)."]
    emit(out, section)
    write_markdown(opts.markdown, out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
