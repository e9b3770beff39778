#!/usr/bin/env python3
"""Does the cost of one edit grow with its container? Per-edit time at two sizes, 8x apart.

Usage (from the project root):

    bash scripts/build.sh release
    PYTHONPATH=build/release python bench/growth.py [--quick] [--markdown FILE]

Every loop does what user code does: it really grows or shrinks its container, one edit
after another, and never undoes an edit before the next. Lists: an array written on one
line, an array written one element per line, an array of tables (append, insert(0, x),
pop(), pop(0), `h[i] = x` at random positions), and a new, empty array grown by appends.
Tables: the root of a document of `k = v` lines, an inline table, and the root of a
document of sections (new keys, `t[k] = v` for random present keys, `del t[k]` of random
keys). A last case adds keys to a table of 64 in a document of N other tables and deletes
them again, to show that an edit does not pay for the rest of the document either.

A loop makes N/8 edits on a container of N (N appends on the new array), so that what an
edit pays once for its container (the first edit away from the end of a parsed array reads
the array's text into items) is spread as a user's loop of edits spreads it; at the same
count at both sizes, ../shared/tools/edit_growth.py shows the edits that pay nothing of
the kind. Each time is the best of several runs (the container is made afresh, untimed,
before each), with the cyclic garbage collector off while timing. `growth` is the
per-edit time at the larger size / at the smaller: 1 means an edit costs the same at both.
The exit status is 1 when some growth exceeds --limit (default 1.5).

With --instructions each case runs under valgrind's callgrind instead, with and without its
edits, and the difference gives the instructions per edit: a count that, unlike the time,
does not grow with the memory a larger container spreads over (cache misses). --only picks
the cases whose name contains a text.
"""

from __future__ import annotations

import argparse
import functools
import gc
import os
import random
import re
import subprocess
import sys
import time
from pathlib import Path
from typing import Any, Callable

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))
from peers import emit, import_morvelan, table, write_markdown  # noqa: E402

mv: Any = None


# ---------------------------------------------------------------- containers of n elements

def one_line(n: int) -> Any:
    return mv.loads("a = [" + ", ".join(str(i) for i in range(n)) + "]\n")["a"]


def per_line(n: int) -> Any:
    return mv.loads("a = [\n" + "".join(f"    {i},  # n{i}\n" for i in range(n)) + "]\n")["a"]


def aot(n: int) -> Any:
    return mv.loads("".join(f'[[p]]\nname = "n{i}"\n\n' for i in range(n)))["p"]


def new_array(n: int) -> Any:
    return mv.loads("a = []\n")["a"]


def editable(doc: Any) -> Any:
    """`doc` with its editable tree built, as a handle or the first edit builds it
    (loads reads only the values): the edits measured are the ones after that."""
    len(doc)
    return doc


def root_table(n: int) -> Any:
    return editable(mv.loads("".join(f"k{i} = {i}  # c{i}\n" for i in range(n))))


def sections(n: int) -> Any:
    """A document of n tables, each a section of its own."""
    return editable(mv.loads("".join(f'[k{i}]\nname = "n{i}"\n\n' for i in range(n))))


def inline_table(n: int) -> Any:
    return mv.loads("t = {" + ", ".join(f"k{i} = {i}" for i in range(n)) + "}\n")["t"]


def section(n: int) -> Any:
    """A table of 64 keys in a document of n other tables."""
    text = "".join(f'[s{i}]\nname = "n{i}"\n\n' for i in range(n // 2))
    text += "[t]\n" + "".join(f"k{i} = {i}\n" for i in range(64)) + "\n"
    text += "".join(f'[u{i}]\nname = "n{i}"\n\n' for i in range(n // 2))
    return mv.loads(text)["t"]


# ---------------------------------------------------------------- edits, count of them

def append(h: Any, count: int, n: int, x: Any) -> None:
    for i in range(count):
        h.append(x)


def insert_front(h: Any, count: int, n: int, x: Any) -> None:
    for i in range(count):
        h.insert(0, x)


def pop_end(h: Any, count: int, n: int, x: Any) -> None:
    for _ in range(count):
        h.pop()


def pop_front(h: Any, count: int, n: int, x: Any) -> None:
    for _ in range(count):
        h.pop(0)


# Random positions and keys, drawn before the timing starts (see per_edit).
@functools.cache
def random_positions(n: int, count: int, distinct: bool) -> list[int]:
    rng = random.Random(1)
    return rng.sample(range(n), count) if distinct else rng.choices(range(n), k=count)


@functools.cache
def random_keys(n: int, count: int, distinct: bool) -> list[str]:
    return [f"k{i}" for i in random_positions(n, count, distinct)]


def replace(h: Any, count: int, n: int, x: Any) -> None:
    for i in random_positions(n, count, False):
        h[i] = x


def add_keys(t: Any, count: int, n: int, x: Any) -> None:
    for i in range(count):
        t[f"new{i}"] = x


def set_keys(t: Any, count: int, n: int, x: Any) -> None:
    for k in random_keys(n, count, False):
        t[k] = x


def delete_keys(t: Any, count: int, n: int, x: Any) -> None:
    for k in random_keys(n, count, True):
        del t[k]


# What an edit draws at random, drawn untimed.
PREPARE: dict[Any, Callable[[int, int], Any]] = {
    replace: lambda n, count: random_positions(n, count, False),
    set_keys: lambda n, count: random_keys(n, count, False),
    delete_keys: lambda n, count: random_keys(n, count, True),
}


def add_and_delete(t: Any, count: int, n: int, x: Any) -> None:
    """New keys in a table of 64, then their removal in random order (the table of 64 in
    a document of n tables)."""
    keys = [f"new{i}" for i in range(count // 2)]
    for k in keys:
        t[k] = x
    random.Random(1).shuffle(keys)
    for k in keys:
        del t[k]


# (name, maker, the element a list of that kind takes)
LISTS = [("array on one line", one_line, 7), ("array one per line", per_line, 7),
         ("array of tables", aot, {"name": "x"})]
LIST_EDITS = [("append", append), ("insert(0, x)", insert_front), ("pop()", pop_end),
              ("pop(0)", pop_front), ("h[i] = x", replace)]
TABLES = [("table", root_table), ("inline table", inline_table), ("table of sections", sections)]
TABLE_EDITS = [("new key", add_keys), ("t[k] = v", set_keys), ("del t[k]", delete_keys)]

Edit = Callable[[Any, int, int, Any], None]
CASES: list[tuple[str, Callable[[int], Any], Edit, Any]] = (
    [(f"{e}, {c}", make, edit, x) for c, make, x in LISTS for e, edit in LIST_EDITS]
    + [("append, new array (N appends)", new_array, append, 7)]
    + [(f"{e}, {c}", make, edit, {"a": 7} if make is sections else 7)
       for c, make in TABLES for e, edit in TABLE_EDITS]
    + [("new key + del, table of 64 among N tables", section, add_and_delete, 1)]
)


def per_edit(make: Callable[[int], Any], edit: Edit, x: Any, n: int, count: int, reps: int) -> float:
    if edit in PREPARE:
        PREPARE[edit](n, count)
    best = float("inf")
    for _ in range(reps):
        target = make(n)
        gc.collect()
        gc.disable()
        try:
            t0 = time.perf_counter()
            edit(target, count, n, x)
            best = min(best, (time.perf_counter() - t0) / count)
        finally:
            gc.enable()
        del target
    return best


def counts(make: Callable[[int], Any], small: int, big: int) -> tuple[int, int]:
    """Edits a run makes on containers of the two sizes."""
    # A new array is grown from empty: its count of appends is its size. The
    # table of 64 sees the same edits at both sizes of the document.
    if make is new_array:
        return small, big
    if make is section:
        return 1000, 1000
    return small // 8, big // 8


def child(case: str, n: int, count: int, edit_too: bool) -> None:
    """One run for --instructions: makes the container and, with edit_too, edits it."""
    for name, make, edit, x in CASES:
        if name == case:
            if edit in PREPARE:
                PREPARE[edit](n, count)
            target = make(n)
            if edit_too:
                edit(target, count, n, x)


def instructions(case: str, n: int, count: int) -> float:
    """Instructions per edit, counted by callgrind: the run with the edits less the run
    without them. Unlike time, the count does not grow with the memory a run touches."""
    collected = []
    for edit_too in (False, True):
        out = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", sys.executable,
                              __file__, "--child", case, str(n), str(count), str(int(edit_too))],
                             capture_output=True, text=True, check=True, env={**os.environ, "PYTHONHASHSEED": "0"})
        found = re.search(r"Collected : (\d+)", out.stderr)
        if not found:
            raise SystemExit("no instruction count from valgrind:\n" + out.stderr[-2000:])
        collected.append(int(found.group(1)))
    return (collected[1] - collected[0]) / count


def main() -> int:
    global mv
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--quick", action="store_true", help="smaller sizes, one repetition")
    ap.add_argument("--limit", type=float, default=1.5)
    ap.add_argument("--markdown", help="also write the tables to this file")
    ap.add_argument("--only", help="the edit kinds whose name contains this text")
    ap.add_argument("--instructions", action="store_true",
                    help="count instructions per edit with valgrind's callgrind instead of timing")
    ap.add_argument("--child", nargs=4, help=argparse.SUPPRESS)
    a = ap.parse_args()
    mv = import_morvelan()
    if mv is None:
        return 1
    if a.child:
        child(a.child[0], int(a.child[1]), int(a.child[2]), a.child[3] == "1")
        return 0
    small, reps = (2_000, 1) if a.quick else (10_000, 3)
    big = small * 8
    rows = []
    grows = 0
    unit = "instructions" if a.instructions else "µs"
    for name, make, edit, x in CASES:
        if a.only and a.only not in name:
            continue
        c_small, c_big = counts(make, small, big)
        if a.instructions:
            s = instructions(name, small, c_small)
            b = instructions(name, big, c_big)
            shown = [f"{s:,.0f}", f"{b:,.0f}"]
        else:
            s = per_edit(make, edit, x, small, c_small, reps) * 1e6
            b = per_edit(make, edit, x, big, c_big, reps) * 1e6
            shown = [f"{s:.2f} µs", f"{b:.2f} µs"]
        r = b / s
        grows += r > a.limit
        rows.append([name, *shown, f"{r:.2f}" + (" (grows)" if r > a.limit else "")])
        print(f"{name:45} {shown[0]:>14} {shown[1]:>14} {r:6.2f}", flush=True)
    out: list[str] = []
    what = "Instructions per edit" if a.instructions else "Per-edit time"
    emit(out, [f"### {what}, N = {small:,} and {big:,} (N/8 edits a run)", ""]
         + table(["edit, container", f"N = {small:,}", f"N = {big:,}", "growth"], rows, {1, 2, 3}))
    print(f"{grows} of {len(rows)} edit kinds grow by more than {a.limit}x ({unit})")
    write_markdown(a.markdown, out)
    return 1 if grows else 0


if __name__ == "__main__":
    sys.exit(main())
