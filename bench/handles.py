#!/usr/bin/env python3
"""Reading and editing through handles: morvelan against tomlkit.

Usage (from the project root):

    python -m pip install -r bench/requirements.txt
    bash scripts/build.sh release
    PYTHONPATH=build/release python bench/handles.py [--quick] [--markdown FILE]

Inputs: ../shared/bench-data/pyproject.toml and poetry.lock, and the generated lock file
build/bench/lockfile.toml (written by bench/gen_lockfile.py when missing). Both libraries
work on the same parsed document of each input.

Measures (each time is the best of N timed runs, N chosen so that the runs take at least
0.3 s together, with the cyclic garbage collector off while timing, as bench/peers.py does):

  read      doc["a"]["b"] down to a scalar, then its native value (morvelan `.value`,
            tomlkit `.unwrap()`), over realistic paths: every scalar of a pyproject reached
            by keys; package[i].name and package[i].version of a lock file
  assign    replace the value of existing keys (the same paths, a value of the same type)
  add       assign a new key into existing tables (every table of a pyproject; each
            package of a lock file); the keys are removed again, untimed, between runs
  delete    delete existing keys (the same pyproject scalars; package[i].description of a
            lock file); they are put back, untimed, between runs
  one edit  one assignment into a small table of a generated lock file with N and with 10 N
            packages: metadata.content-hash, and the version of the middle package

Times are per operation (a run times all paths of the input and divides by their number).
Ratios are tomlkit time / morvelan time: above 1 means morvelan is faster.
"""

from __future__ import annotations

import argparse
import subprocess
import sys
import tomllib
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Callable

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))
from peers import best_time, emit, fmt_ratio, fmt_time, import_morvelan, machine_details, read_text, table, write_markdown  # noqa: E402

BENCH_DATA = ROOT.parent / "shared" / "bench-data"
LOCKFILE = ROOT / "build" / "bench" / "lockfile.toml"
SMALL_PACKAGES = 300   # the one-edit measure: N packages and the 3,000 of gen_lockfile.py


# --------------------------------------------------------------------------- inputs

Path_ = tuple  # a path of key (str) and index (int) steps


@dataclass
class Input:
    name: str
    text: str
    reads: list[Path_]            # scalar paths read and reassigned
    tables: list[Path_]           # tables that get a new key
    deletes: list[Path_]          # keys deleted and put back
    plain: dict = field(default_factory=dict)   # tomllib's values

    @property
    def size(self) -> int:
        return len(self.text.encode("utf-8"))


def get(obj: Any, path: Path_) -> Any:
    for step in path:
        obj = obj[step]
    return obj


def scalar_paths(value: dict, path: Path_ = ()) -> list[Path_]:
    out: list[Path_] = []
    for k, v in value.items():
        if isinstance(v, dict):
            out += scalar_paths(v, path + (k,))
        elif not isinstance(v, list):
            out.append(path + (k,))
    return out


def table_paths(value: dict, path: Path_ = ()) -> list[Path_]:
    out: list[Path_] = [path]
    for k, v in value.items():
        if isinstance(v, dict):
            out += table_paths(v, path + (k,))
    return out


def pyproject_input(name: str, text: str) -> Input:
    plain = tomllib.loads(text)
    reads = scalar_paths(plain)
    return Input(name, text, reads, table_paths(plain), reads, plain)


def lock_input(name: str, text: str) -> Input:
    plain = tomllib.loads(text)
    n = len(plain["package"])
    reads = [("package", i, k) for i in range(n) for k in ("name", "version")]
    deletes = [("package", i, "description") for i in range(n) if "description" in plain["package"][i]]
    return Input(name, text, reads, [("package", i) for i in range(n)], deletes, plain)


def generated_lock(packages: int) -> str:
    import gen_lockfile
    saved = gen_lockfile.PACKAGES
    gen_lockfile.PACKAGES = packages
    try:
        return gen_lockfile.generate()
    finally:
        gen_lockfile.PACKAGES = saved


def collect_inputs() -> list[Input]:
    inputs: list[Input] = []
    for file, make in (("pyproject.toml", pyproject_input), ("poetry.lock", lock_input)):
        p = BENCH_DATA / file
        if p.is_file():
            inputs.append(make(file, read_text(p)))
        else:
            print(f"note: {p} not found: skipped", file=sys.stderr)
    if not LOCKFILE.is_file():
        print(f"note: generating {LOCKFILE.relative_to(ROOT)}", file=sys.stderr)
        LOCKFILE.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run([sys.executable, str(ROOT / "bench" / "gen_lockfile.py"), str(LOCKFILE)], check=True)
    inputs.append(lock_input("lockfile.toml (generated)", read_text(LOCKFILE)))
    return inputs


# --------------------------------------------------------------------------- libraries


@dataclass
class Lib:
    name: str
    loads: Callable[[str], Any]
    native: Callable[[Any], Any]      # handle -> plain Python value


def libraries() -> list[Lib]:
    import morvelan
    libs = [Lib("morvelan", morvelan.loads, lambda h: h.value)]
    try:
        import tomlkit
        libs.append(Lib("tomlkit", tomlkit.loads, lambda h: h.unwrap() if hasattr(h, "unwrap") else h))
    except ImportError as exc:
        print(f"note: tomlkit not importable ({exc}): only morvelan is timed "
              f"(python -m pip install -r bench/requirements.txt)", file=sys.stderr)
    return libs


def new_value(old: Any) -> Any:
    """A different value of the same type."""
    if isinstance(old, bool):
        return not old
    if isinstance(old, (int, float)):
        return old + 1
    if isinstance(old, str):
        return old + "+"
    return old


# --------------------------------------------------------------------------- timing


def best_of(run: Callable[[], Any], min_time: float, min_reps: int,
            before: Callable[[], Any] | None = None, after: Callable[[], Any] | None = None) -> float:
    """Best single run of N (see peers.best_time), without collections between the runs:
    with a large document alive one takes far longer than an edit."""
    return best_time(lambda _: run(), None, min_time, min_reps, before=before, after=after, collect=False)[0]


@dataclass
class Cell:
    seconds: float | None = None      # per operation
    reason: str = ""


def attempt(fn: Callable[[], Any]) -> str:
    """'' when `fn` runs, else the reason it cannot."""
    try:
        fn()
        return ""
    except Exception as exc:
        text = str(exc).splitlines()[0][:70] if str(exc) else ""
        return f"{type(exc).__name__}: {text}"


def measure_read(lib: Lib, doc: Any, inp: Input, min_time: float, min_reps: int) -> Cell:
    paths = inp.reads
    native = lib.native

    def run() -> None:
        for p in paths:
            native(get(doc, p))

    if reason := attempt(run):
        return Cell(reason=reason)
    return Cell(best_of(run, min_time, min_reps) / len(paths))


def measure_assign(lib: Lib, doc: Any, inp: Input, min_time: float, min_reps: int) -> Cell:
    targets = [(p[:-1], p[-1], new_value(get(inp.plain, p))) for p in inp.reads]

    def run() -> None:
        for parent, key, value in targets:
            get(doc, parent)[key] = value

    if reason := attempt(run):
        return Cell(reason=reason)
    return Cell(best_of(run, min_time, min_reps) / len(targets))


def measure_add(lib: Lib, doc: Any, inp: Input, min_time: float, min_reps: int) -> Cell:
    key = "bench-added"
    tables = inp.tables

    def run() -> None:
        for p in tables:
            get(doc, p)[key] = "x"

    def undo() -> None:
        for p in tables:
            del get(doc, p)[key]

    if reason := attempt(run) or attempt(undo):
        return Cell(reason=reason)
    return Cell(best_of(run, min_time, min_reps, after=undo) / len(tables))


def measure_delete(lib: Lib, doc: Any, inp: Input, min_time: float, min_reps: int) -> Cell:
    targets = [(p[:-1], p[-1], get(inp.plain, p)) for p in inp.deletes]

    def run() -> None:
        for parent, key, _ in targets:
            del get(doc, parent)[key]

    def undo() -> None:
        for parent, key, value in targets:
            get(doc, parent)[key] = value

    if reason := attempt(run) or attempt(undo):
        return Cell(reason=reason)
    return Cell(best_of(run, min_time, min_reps, after=undo) / len(targets))


MEASURES = [
    ("read", "Read a value through handles", measure_read),
    ("assign", "Assign into existing keys", measure_assign),
    ("add", "Assign into new keys", measure_add),
    ("delete", "Delete keys", measure_delete),
]


def one_edit(lib: Lib, doc: Any, path: Path_, values: tuple[Any, Any], min_time: float, min_reps: int) -> Cell:
    parent, key = path[:-1], path[-1]
    flip = [0]

    def run() -> None:
        flip[0] ^= 1
        get(doc, parent)[key] = values[flip[0]]

    if reason := attempt(run):
        return Cell(reason=reason)
    return Cell(best_of(run, min_time, min_reps))


# --------------------------------------------------------------------------- output


def cell_text(c: Cell) -> str:
    return fmt_time(c.seconds) if c.seconds else "n/a"


def ratio_text(base: Cell, other: Cell) -> str:
    return fmt_ratio(other.seconds / base.seconds) if base.seconds and other.seconds else "n/a"


def main() -> int:
    ap = argparse.ArgumentParser(description="Handle reads and edits: morvelan against tomlkit.")
    ap.add_argument("--quick", action="store_true", help="fewer repetitions (a rough check, not for publishing)")
    ap.add_argument("--markdown", metavar="FILE", help="also write the tables as Markdown to FILE")
    opts = ap.parse_args()

    mv = import_morvelan()
    if mv is None:
        return 1
    libs = libraries()
    peers = {lib.name: sys.modules[lib.name] for lib in libs[1:]}
    min_time, min_reps = (0.05, 1) if opts.quick else (0.3, 3)
    names = [lib.name for lib in libs]

    out: list[str] = ["## Machine", ""] + machine_details(mv, peers)
    out += ["", f"Each time is per operation: the best run of N (N >= {min_reps}, the runs taking >= "
            f"{min_time} s together), divided by the operations in a run. × = tomlkit time / morvelan time."
            + (" Quick run: rough figures." if opts.quick else "")]
    print("\n".join(out), flush=True)

    inputs = collect_inputs()
    results: dict[str, list[tuple[Input, dict[str, Cell]]]] = {key: [] for key, _, _ in MEASURES}
    notes: list[str] = []
    for inp in inputs:
        for lib in libs:
            print(f"  [{lib.name}] {inp.name}: parsing ...", file=sys.stderr, flush=True)
            doc = lib.loads(inp.text)
            for key, _, fn in MEASURES:
                print(f"  [{lib.name}] {inp.name}: {key} ...", file=sys.stderr, flush=True)
                if len(results[key]) == 0 or results[key][-1][0] is not inp:
                    results[key].append((inp, {}))
                results[key][-1][1][lib.name] = fn(lib, doc, inp, min_time, min_reps)
            # After the edits each library's document must still read as the values it holds.
            lib_value = lib.native(doc)
            if tomllib.loads(mv.dumps(doc) if lib.name == "morvelan" else sys.modules[lib.name].dumps(doc)) \
                    != lib_value:
                notes.append(f"{lib.name} on {inp.name}: the edited text does not read back as its values")
            del doc

    for key, title, _ in MEASURES:
        header = ["input", "bytes", "operations"] + [h for n in names for h in ([n] if n == "morvelan" else [n, "×"])]
        rows = []
        for inp, cells in results[key]:
            count = {"read": len(inp.reads), "assign": len(inp.reads), "add": len(inp.tables),
                     "delete": len(inp.deletes)}[key]
            row = [inp.name, f"{inp.size:,}", f"{count:,}"]
            for n in names:
                row.append(cell_text(cells[n]))
                if n != "morvelan":
                    row.append(ratio_text(cells["morvelan"], cells[n]))
            rows.append(row)
        section = ["", f"## {title}", ""] + table(header, rows, set(range(1, len(header))))
        section += [f"- n/a: {n} on {inp.name}: {c.reason}" for inp, cells in results[key]
                    for n, c in cells.items() if c.reason]
        emit(out, section)

    # One edit at two document sizes.
    rows = []
    na: list[str] = []
    for packages in (SMALL_PACKAGES, SMALL_PACKAGES * 10):
        text = generated_lock(packages)
        plain = tomllib.loads(text)
        middle = packages // 2
        edits = [
            (("metadata", "content-hash"), ("0" * 64, "f" * 64)),
            (("package", middle, "version"), ("0.0.1", "0.0.2")),
        ]
        for lib in libs:
            print(f"  [{lib.name}] one edit, {packages} packages ...", file=sys.stderr, flush=True)
            doc = lib.loads(text)
            for path, values in edits:
                c = one_edit(lib, doc, path, values, min_time, min_reps)
                label = ".".join(str(s) for s in path).replace(f".{middle}.", f"[{middle}].")
                rows.append((packages, len(text.encode("utf-8")), label, lib.name, c))
                if c.reason:
                    na.append(f"- n/a: {lib.name}, {packages} packages, {label}: {c.reason}")
            del doc
        del plain
    header = ["packages", "bytes", "edit"] + [h for n in names for h in ([n] if n == "morvelan" else [n, "×"])]
    table_rows = []
    for packages, size, label, _, _ in [r for r in rows if r[3] == "morvelan"]:
        cells = {r[3]: r[4] for r in rows if r[0] == packages and r[2] == label}
        row = [f"{packages:,}", f"{size:,}", label]
        for n in names:
            row.append(cell_text(cells[n]))
            if n != "morvelan":
                row.append(ratio_text(cells["morvelan"], cells[n]))
        table_rows.append(row)
    section = ["", "## One edit in a small table, at two document sizes", ""]
    section += table(header, table_rows, set(range(3, len(header))) | {0, 1})
    section += ["", f"Generated lock files (bench/gen_lockfile.py) with {SMALL_PACKAGES:,} and "
                f"{SMALL_PACKAGES * 10:,} packages; each edit assigns a string into an existing key, "
                f"alternating two values."] + na
    emit(out, section)

    if notes:
        section = ["", "## Checks", ""] + [f"- {n}" for n in notes]
        emit(out, section)

    write_markdown(opts.markdown, out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
