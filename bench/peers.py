#!/usr/bin/env python3
"""Compare morvelan with other Python TOML libraries on the same inputs.

Usage (from the project root):

    python -m pip install -r bench/requirements.txt
    bash scripts/build.sh release
    PYTHONPATH=build/release python bench/peers.py [--quick] [--markdown FILE]

Peers: tomllib (standard library), tomli, tomli-w, tomlkit, pytomlpp and rtoml; and, for the
speed of building Python objects, the JSON decoders of the standard library (json) and
orjson given the same data as JSON. A peer that is not installed is left out with a
message. Inputs: the files of ../shared/bench-data,
the generated lock file build/bench/lockfile.toml (written by bench/gen_lockfile.py when
missing) and the valid cases of the toml-test suite as one batch.

Measures (each time is the best single call of N, N chosen so that the N calls take at
least 0.3 s, with the cyclic garbage collector off while timing, as timeit does):

  native    text -> native Python values
  json      text -> native Python values, against json.loads and orjson.loads of the same
            data written as JSON (inputs JSON can hold: no dates or times)
  document  text -> editable document
  round     text -> document -> text
  write     plain dict (from tomllib) -> text
  memory    peak RSS growth while parsing into a document, in a fresh process

Ratios are peer time / morvelan time: above 1 means morvelan is faster.
"""

from __future__ import annotations

import argparse
import datetime
import gc
import importlib
import importlib.metadata
import json
import math
import os
import platform
import resource
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Callable

ROOT = Path(__file__).resolve().parent.parent
BENCH_DATA = ROOT.parent / "shared" / "bench-data"
CORPUS = ROOT.parent / "shared" / "corpus"
TOML_TEST = ROOT.parent / "shared" / "toml-test" / "tests"
TOML_TEST_LIST = TOML_TEST / "files-toml-1.1.0"
LOCKFILE = ROOT / "build" / "bench" / "lockfile.toml"
BATCH_NAME = "toml-test valid"

# Distribution names for version lookup, by import name.
DISTRIBUTIONS = {"tomli": "tomli", "tomli_w": "tomli-w", "tomlkit": "tomlkit", "pytomlpp": "pytomlpp",
                 "rtoml": "rtoml", "orjson": "orjson"}
# The peers, by import name, in the order they are reported.
PEERS = ("tomllib", "tomli", "tomli_w", "tomlkit", "pytomlpp", "rtoml", "json", "orjson")
# Display names, by import name.
DISPLAY = {"tomli_w": "tomli-w"}


def read_text(path: Path) -> str:
    """The file as text exactly as stored: UTF-8, line endings untouched."""
    return path.read_bytes().decode("utf-8")


# --------------------------------------------------------------------------- inputs

@dataclass
class Input:
    name: str
    texts: list[str]          # one text for a file, many for the batch
    paths: list[Path]
    batch: bool = False

    @property
    def size(self) -> int:
        return sum(len(t.encode("utf-8")) for t in self.texts)


def collect_inputs(corpus_locks: bool = False) -> list[Input]:
    inputs: list[Input] = []
    if corpus_locks:
        # The real lock files of the corpus, each an input of its own.
        if CORPUS.is_dir():
            for p in sorted(CORPUS.glob("*.lock")):
                inputs.append(Input(p.name, [read_text(p)], [p]))
        else:
            print(f"note: {CORPUS} not found: the corpus lock files are skipped", file=sys.stderr)
    if BENCH_DATA.is_dir():
        files = sorted(p for p in BENCH_DATA.iterdir() if p.is_file() and p.suffix in (".toml", ".lock"))
        for p in files:
            inputs.append(Input(p.name, [read_text(p)], [p]))
        if not files:
            print(f"note: no .toml or .lock files in {BENCH_DATA}: skipped", file=sys.stderr)
    else:
        print(f"note: {BENCH_DATA} not found: the shared benchmark files are skipped", file=sys.stderr)

    if not LOCKFILE.is_file():
        print(f"note: generating {LOCKFILE.relative_to(ROOT)}", file=sys.stderr)
        LOCKFILE.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run([sys.executable, str(ROOT / "bench" / "gen_lockfile.py"), str(LOCKFILE)], check=True)
    inputs.append(Input("lockfile.toml (generated)", [read_text(LOCKFILE)], [LOCKFILE]))

    if TOML_TEST_LIST.is_file():
        names = [line.strip() for line in TOML_TEST_LIST.read_text(encoding="utf-8").splitlines()]
        paths = [TOML_TEST / n for n in names if n.startswith("valid/") and n.endswith(".toml")]
        inputs.append(Input(BATCH_NAME, [read_text(p) for p in paths], paths, batch=True))
    else:
        print(f"note: {TOML_TEST_LIST} not found: the toml-test batch is skipped", file=sys.stderr)
    return inputs


# --------------------------------------------------------------------------- libraries

def import_morvelan() -> Any | None:
    """The morvelan module, or None after saying how to build it."""
    try:
        import morvelan
    except ImportError as exc:
        print(f"error: cannot import morvelan ({exc}); build it with `bash scripts/build.sh release` "
              f"and run with PYTHONPATH=build/release", file=sys.stderr)
        return None
    return morvelan


def import_peers() -> dict[str, Any]:
    mods: dict[str, Any] = {}
    for name in PEERS:
        try:
            mods[name] = importlib.import_module(name)
        except ImportError as exc:
            print(f"note: {DISPLAY.get(name, name)} not importable ({exc}): left out "
                  f"(python -m pip install -r bench/requirements.txt)", file=sys.stderr)
    return mods


@dataclass
class Measure:
    key: str
    title: str
    prepare: Callable[[str], Any]              # text -> argument of the timed calls (may raise)
    impls: dict[str, Callable[[Any], Any]]     # morvelan first


def build_measures(mv: Any, peers: dict[str, Any]) -> list[Measure]:
    def ident(t: str) -> str:
        return t

    native: dict[str, Callable[[Any], Any]] = {"morvelan": lambda t: mv.loads(t).value}
    for name in ("tomllib", "tomli", "pytomlpp", "rtoml"):
        if name in peers:
            native[name] = peers[name].loads
    if "tomlkit" in peers:
        tk = peers["tomlkit"]
        native["tomlkit"] = lambda t: tk.loads(t).unwrap()

    document: dict[str, Callable[[Any], Any]] = {"morvelan": mv.loads}
    round_trip: dict[str, Callable[[Any], Any]] = {"morvelan": lambda t: mv.dumps(mv.loads(t))}
    if "tomlkit" in peers:
        tk = peers["tomlkit"]
        document["tomlkit"] = tk.loads
        round_trip["tomlkit"] = lambda t: tk.dumps(tk.loads(t))

    write: dict[str, Callable[[Any], Any]] = {"morvelan": mv.dumps}
    for name in ("tomli_w", "tomlkit", "pytomlpp", "rtoml"):
        if name in peers:
            write[name] = peers[name].dumps
    import tomllib

    as_json: dict[str, Callable[[Any], Any]] = {"morvelan": lambda a: mv.loads(a[0]).value}
    for name in ("json", "orjson"):
        if name in peers:
            as_json[name] = lambda a, loads=peers[name].loads: loads(a[1])

    return [
        Measure("native", "Parse to native Python values", ident, native),
        Measure("json", "Parse to native Python values, against JSON decoders of the same data",
                toml_and_json, as_json),
        Measure("document", "Parse into an editable document", ident, document),
        Measure("round", "Round trip (parse into a document, write it back)", ident, round_trip),
        Measure("write", "Write a plain dict (parsed beforehand by tomllib)", tomllib.loads, write),
    ]


def toml_and_json(text: str) -> tuple[str, str]:
    """The text with its data written as JSON; ValueError when JSON cannot hold the data
    (dates and times, infinities and NaN)."""
    import tomllib

    def check(v: Any) -> None:
        if isinstance(v, dict):
            for x in v.values():
                check(x)
        elif isinstance(v, list):
            for x in v:
                check(x)
        elif isinstance(v, (datetime.date, datetime.time)):
            raise ValueError("JSON has no dates or times")
        elif isinstance(v, float) and not math.isfinite(v):
            raise ValueError("JSON has no infinities or NaN")

    value = tomllib.loads(text)
    check(value)
    return text, json.dumps(value, ensure_ascii=False)


# --------------------------------------------------------------------------- timing

def best_time(fn: Callable[[Any], Any], arg: Any, min_time: float, min_reps: int, *,
              before: Callable[[], Any] | None = None, after: Callable[[], Any] | None = None,
              collect: bool = True) -> tuple[float, int]:
    """Best single call of N, N >= min_reps and the N calls together >= min_time, with the
    cyclic collector off while timing. `before` and `after` run untimed around each call;
    `collect` runs the collector now and then between calls (after long ones and every
    1,000), which keeps parse results from piling up but costs much with a large
    document alive."""
    gc.collect()
    enabled = gc.isenabled()
    gc.disable()
    try:
        best = math.inf
        total = 0.0
        n = 0
        while n < min_reps or total < min_time:
            if before:
                before()
            t0 = time.perf_counter()
            result = fn(arg)
            t1 = time.perf_counter()
            result = None  # freed outside the timed span
            if after:
                after()
            dt = t1 - t0
            best = min(best, dt)
            total += dt
            n += 1
            if collect and (dt > 1e-3 or n % 1000 == 0):
                gc.collect()
        del result
    finally:
        if enabled:
            gc.enable()
    return best, n


@dataclass
class Cell:
    seconds: float | None = None   # per call (per case for the batch)
    mbps: float | None = None
    reason: str = ""               # why n/a


@dataclass
class Row:
    input: Input
    size: int
    cases: int                     # batch: cases timed; file: 1
    cells: dict[str, Cell] = field(default_factory=dict)
    note: str = ""


def run_measure(m: Measure, inp: Input, min_time: float, min_reps: int,
                skipped: dict[str, dict[str, int]]) -> Row:
    """Time every implementation of `m` on `inp`; fill in skip counts for the batch."""
    args: list[Any] = []
    keep: list[int] = []
    prepare_fail = 0
    prepare_error = ""
    for i, t in enumerate(inp.texts):
        try:
            args.append(m.prepare(t))
            keep.append(i)
        except Exception as exc:
            prepare_fail += 1
            prepare_error = f"{type(exc).__name__}: {exc}"
    if not inp.batch and prepare_fail:
        row = Row(inp, inp.size, 1)
        for name in m.impls:
            row.cells[name] = Cell(reason=prepare_error)
        return row

    # Which implementation fails on which argument (this also warms each one up).
    fails: dict[str, set[int]] = {}
    first_error: dict[str, Exception] = {}
    for name, fn in m.impls.items():
        bad: set[int] = set()
        for j, a in enumerate(args):
            try:
                fn(a)
            except Exception as exc:
                bad.add(j)
                first_error.setdefault(name, exc)
        fails[name] = bad

    if inp.batch:
        counts = {name: len(bad) for name, bad in fails.items()}
        if prepare_fail:
            counts["(tomllib, making the dict)" if m.key == "write" else "(JSON cannot hold the data)"] = prepare_fail
        skipped[m.key] = counts
        common = [j for j in range(len(args)) if not any(j in bad for bad in fails.values())]
        batch_args = [args[j] for j in common]
        size = sum(len(inp.texts[keep[j]].encode("utf-8")) for j in common)
        row = Row(inp, size, len(common))
        for name, fn in m.impls.items():
            def run_batch(items: list[Any], fn: Callable[[Any], Any] = fn) -> list[Any]:
                return [fn(a) for a in items]
            total, _ = best_time(run_batch, batch_args, min_time, min_reps)
            row.cells[name] = Cell(total / max(1, len(common)), size / total / 1e6 if total > 0 else None)
        return row

    row = Row(inp, inp.size, 1)
    for name, fn in m.impls.items():
        if fails[name]:
            exc = first_error[name]
            text = str(exc).splitlines()[0][:80] if str(exc) else ""
            row.cells[name] = Cell(reason=f"{type(exc).__name__}: {text}")
            continue
        sec, _ = best_time(fn, args[0], min_time, min_reps)
        row.cells[name] = Cell(sec, inp.size / sec / 1e6)
    return row


# --------------------------------------------------------------------------- checks

def same_value(a: Any, b: Any) -> bool:
    """Equality of native TOML values, with NaN equal to NaN."""
    if isinstance(a, float) and isinstance(b, float):
        return a == b or (math.isnan(a) and math.isnan(b))
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(same_value(a[k], b[k]) for k in a)
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(same_value(x, y) for x, y in zip(a, b))
    return type(a) is type(b) and a == b


def checks(mv: Any, peers: dict[str, Any], inputs: list[Input]) -> list[str]:
    """Sanity notes: values equal to tomllib's, exact round trips."""
    import tomllib
    notes: list[str] = []
    for inp in inputs:
        differ = exact_mv = exact_tk = both = 0
        for t in inp.texts:
            try:
                doc = mv.loads(t)
            except Exception:
                continue
            try:
                ref = tomllib.loads(t)
                if not same_value(doc.value, ref):
                    differ += 1
            except Exception:
                pass
            if "tomlkit" in peers:
                try:
                    tk_out = peers["tomlkit"].dumps(peers["tomlkit"].loads(t))
                except Exception:
                    continue
                both += 1
                exact_mv += mv.dumps(doc) == t
                exact_tk += tk_out == t
        if differ:
            notes.append(f"{inp.name}: morvelan's native values differ from tomllib's in {differ} "
                         f"of {len(inp.texts)} text(s)")
        if both and (exact_mv < both or exact_tk < both):
            notes.append(f"{inp.name}: round trip gives the input back exactly for morvelan in "
                         f"{exact_mv} of {both}, for tomlkit in {exact_tk} of {both} text(s)")
    return notes


# --------------------------------------------------------------------------- memory

# Small inputs are parsed this many times over (all documents kept alive) and the growth
# divided by the number of copies, so that page and arena granularity does not swamp them.
MEMORY_TARGET_BYTES = 4_000_000


def memory_copies(size: int) -> int:
    return max(1, math.ceil(MEMORY_TARGET_BYTES / max(1, size)))


def memory_child(lib: str, list_file: str, traced: bool) -> None:
    """Run in a fresh process: parse the listed files into documents and keep them alive."""
    mod = importlib.import_module(lib)
    lines = Path(list_file).read_text(encoding="utf-8").splitlines()
    copies = int(lines[0])
    texts = [read_text(Path(p)) for p in lines[1:] if p] * copies
    gc.collect()
    if traced:
        import tracemalloc
        tracemalloc.start()
        base = tracemalloc.get_traced_memory()[0]
        docs = [mod.loads(t) for t in texts]
        current, peak = tracemalloc.get_traced_memory()
        print(json.dumps({"peak": peak - base, "current": current - base}))
    else:
        reset = True
        try:  # start the high-water mark from here rather than from reading the files
            with open("/proc/self/clear_refs", "w") as f:
                f.write("5")
        except OSError:
            reset = False
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        rss = vm_rss_kb()
        docs = [mod.loads(t) for t in texts]
        after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        # ru_maxrss is never below the high-water mark inherited over exec(); flag a
        # baseline that is not the process's own current size.
        masked = not reset or (rss is not None and before > rss + 1024)
        print(json.dumps({"before": before, "after": after, "masked": masked}))
    del docs


def vm_rss_kb() -> int | None:
    try:
        for line in Path("/proc/self/status").read_text().splitlines():
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    except OSError:
        pass
    return None


# On Linux a process's ru_maxrss starts at the peak RSS of the image it replaced at exec(),
# so a child started straight from this (large) process would report this process's peak.
# A small launcher forks the measured process instead: its high-water mark starts from
# the launcher's few megabytes.
LAUNCHER = ("import os, sys\n"
            "pid = os.fork()\n"
            "if pid == 0:\n"
            "    os.execv(sys.argv[1], sys.argv[1:])\n"
            "sys.exit(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))\n")


def measure_memory(lib: str, paths: list[Path], copies: int, traced: bool = False) -> dict[str, Any] | None:
    """Growth in KB per copy of the inputs (tracemalloc: bytes per copy)."""
    with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False, encoding="utf-8") as f:
        f.write("\n".join([str(copies)] + [str(p) for p in paths]))
        name = f.name
    try:
        cmd = [sys.executable, "-S", "-c", LAUNCHER,
               sys.executable, str(Path(__file__).resolve()), "--memory-child", lib, name]
        if traced:
            cmd.append("--traced")
        out = subprocess.run(cmd, capture_output=True, text=True)
        if out.returncode != 0:
            print(f"note: memory run of {lib} failed: {out.stderr.strip()[-300:]}", file=sys.stderr)
            return None
        result = json.loads(out.stdout.strip().splitlines()[-1])
        if result.get("masked"):
            print(f"note: memory run of {lib}: the baseline is not the process's own size; "
                  f"its figure is a lower bound", file=sys.stderr)
        return result
    finally:
        os.unlink(name)


@dataclass
class MemRow:
    input: Input
    size: int
    cases: int
    copies: int
    morvelan_kb: float | None
    tomlkit_kb: float | None
    tomlkit_traced_kb: float | None
    lower_bound: set[str] = field(default_factory=set)  # libraries whose baseline was masked


def run_memory(mv: Any, peers: dict[str, Any], inp: Input) -> MemRow:
    paths = inp.paths
    if inp.batch:
        ok = []
        for p, t in zip(inp.paths, inp.texts):
            try:
                mv.loads(t)
                if "tomlkit" in peers:
                    peers["tomlkit"].loads(t)
                ok.append(p)
            except Exception:
                pass
        paths = ok
    size = sum(p.stat().st_size for p in paths)
    copies = memory_copies(size)
    m = measure_memory("morvelan", paths, copies)
    k = measure_memory("tomlkit", paths, copies) if "tomlkit" in peers else None
    kt = measure_memory("tomlkit", paths, copies, traced=True) if "tomlkit" in peers else None
    return MemRow(inp, size, len(paths), copies,
                  (m["after"] - m["before"]) / copies if m else None,
                  (k["after"] - k["before"]) / copies if k else None,
                  kt["peak"] / 1024 / copies if kt else None,
                  {lib for lib, r in (("morvelan", m), ("tomlkit", k)) if r and r["masked"]})


# --------------------------------------------------------------------------- output

def fmt_time(s: float) -> str:
    if s < 1e-3:
        return f"{s * 1e6:.1f} µs"
    if s < 1:
        return f"{s * 1e3:.2f} ms"
    return f"{s:.2f} s"


def fmt_ratio(r: float) -> str:
    if r < 10:
        return f"{r:.2f}×"
    if r < 100:
        return f"{r:.1f}×"
    return f"{r:,.0f}×"


def fmt_mbps(v: float) -> str:
    return f"{v:.2f}" if v < 10 else f"{v:.1f}"


def display(name: str) -> str:
    return DISPLAY.get(name, name)


def table(header: list[str], rows: list[list[str]], right: set[int]) -> list[str]:
    widths = [max(len(header[i]), *(len(r[i]) for r in rows)) if rows else len(header[i])
              for i in range(len(header))]

    def line(cells: list[str]) -> str:
        return "| " + " | ".join(c.rjust(w) if i in right else c.ljust(w)
                                 for i, (c, w) in enumerate(zip(cells, widths))) + " |"

    sep = "|" + "|".join(("-" * (w + 1) + ":") if i in right else ("-" * (w + 2))
                         for i, w in enumerate(widths)) + "|"
    return [line(header), sep] + [line(r) for r in rows]


def input_label(row_input: Input, cases: int) -> str:
    if row_input.batch:
        return f"{row_input.name} ({cases} of {len(row_input.texts)} cases)"
    return row_input.name


def measure_table(m: Measure, rows: list[Row]) -> list[str]:
    libs = list(m.impls)
    header = ["input", "bytes", "morvelan"]
    for name in libs[1:]:
        header += [display(name), "×"]
    right = set(range(1, len(header)))
    out_rows: list[list[str]] = []
    for row in rows:
        base = row.cells.get("morvelan", Cell())
        cells = [input_label(row.input, row.cases), f"{row.size:,}"]
        for name in libs:
            c = row.cells.get(name, Cell(reason="n/a"))
            cells.append(f"{fmt_time(c.seconds)}, {fmt_mbps(c.mbps)} MB/s" if c.seconds else "n/a")
            if name != "morvelan":
                cells.append(fmt_ratio(c.seconds / base.seconds) if c.seconds and base.seconds else "n/a")
        out_rows.append(cells)
    return table(header, out_rows, right)


def memory_table(rows: list[MemRow]) -> list[str]:
    header = ["input", "bytes", "copies", "morvelan KB", "B/B", "tomlkit KB", "B/B", "×", "tomlkit traced KB"]
    out: list[list[str]] = []
    for r in rows:
        def per_byte(kb: int | float | None) -> str:
            return f"{kb * 1024 / r.size:.1f}" if kb is not None and r.size else "n/a"
        ratio = (fmt_ratio(r.tomlkit_kb / r.morvelan_kb)
                 if r.tomlkit_kb is not None and r.morvelan_kb else "n/a")
        def kb(lib: str, v: float | None) -> str:
            return "n/a" if v is None else ("≥" if lib in r.lower_bound else "") + f"{v:,.0f}"
        out.append([input_label(r.input, r.cases), f"{r.size:,}", f"{r.copies:,}",
                    kb("morvelan", r.morvelan_kb), per_byte(r.morvelan_kb),
                    kb("tomlkit", r.tomlkit_kb), per_byte(r.tomlkit_kb),
                    ratio,
                    f"{r.tomlkit_traced_kb:,.0f}" if r.tomlkit_traced_kb is not None else "n/a"])
    return table(header, out, set(range(1, len(header))))


def machine_details(mv: Any, peers: dict[str, Any]) -> list[str]:
    cpu = "unknown"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    mem = ""
    try:
        for line in Path("/proc/meminfo").read_text().splitlines():
            if line.startswith("MemTotal:"):
                mem = f", {int(line.split()[1]) / 1024 / 1024:.0f} GiB"
    except OSError:
        pass
    try:
        load = " ".join(Path("/proc/loadavg").read_text().split()[:3])
    except OSError:
        load = "unknown"
    try:
        mv_version = importlib.metadata.version("morvelan")
    except importlib.metadata.PackageNotFoundError:
        mv_version = "build tree"
    try:
        rev = subprocess.run(["git", "-C", str(ROOT), "rev-parse", "--short", "HEAD"],
                             capture_output=True, text=True, timeout=10).stdout.strip()
        if rev:
            mv_version += f" at commit {rev}"
    except (OSError, subprocess.SubprocessError):
        pass
    versions = [f"morvelan {mv_version} ({Path(mv.__file__).name})"]
    for name in PEERS:
        if name not in peers:
            continue
        if name in ("tomllib", "json"):
            versions.append(f"{name} (Python {platform.python_version()})")
        else:
            versions.append(f"{display(name)} {importlib.metadata.version(DISTRIBUTIONS[name])}")
    return [
        f"- Date: {datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M} UTC",
        f"- CPU: {cpu}, {os.cpu_count()} cores{mem}; load average at start {load}",
        f"- OS: {platform.system()} {platform.release()}",
        f"- Python: {platform.python_implementation()} {platform.python_version()} ({platform.python_compiler()})",
        f"- Libraries: {', '.join(versions)}",
    ]


def emit(out: list[str], section: list[str]) -> None:
    """Prints a section of the report and keeps it for the Markdown file."""
    print("\n".join(section), flush=True)
    out += section


def write_markdown(path: str | None, out: list[str]) -> None:
    if path:
        Path(path).write_text("\n".join(out) + "\n", encoding="utf-8")
        print(f"\nwritten: {path}", file=sys.stderr)


def main() -> int:
    ap = argparse.ArgumentParser(description="Compare morvelan with other Python TOML libraries.")
    ap.add_argument("--quick", action="store_true", help="fewer repetitions (a rough check, not for publishing)")
    ap.add_argument("--corpus-locks", action="store_true",
                    help="also measure the lock files of ../shared/corpus, one input each")
    ap.add_argument("--markdown", metavar="FILE", help="also write the tables as Markdown to FILE")
    ap.add_argument("--only", action="append", metavar="MEASURE",
                    choices=["native", "json", "document", "round", "write", "memory"],
                    help="run only this measure (repeatable): native, json, document, round, write, memory")
    ap.add_argument("--memory-child", nargs=2, metavar=("LIB", "LIST"), help=argparse.SUPPRESS)
    ap.add_argument("--traced", action="store_true", help=argparse.SUPPRESS)
    opts = ap.parse_args()

    if opts.memory_child:
        memory_child(opts.memory_child[0], opts.memory_child[1], opts.traced)
        return 0

    mv = import_morvelan()
    if mv is None:
        return 1
    peers = import_peers()
    min_time, min_reps = (0.05, 1) if opts.quick else (0.3, 3)

    inputs = collect_inputs(opts.corpus_locks)
    measures = [m for m in build_measures(mv, peers) if not opts.only or m.key in opts.only]
    out: list[str] = ["## Machine", ""] + machine_details(mv, peers)
    out += ["", f"Each time is the best single call of N (N >= {min_reps}, the N calls taking >= {min_time} s "
            f"together). × = peer time / morvelan time. For the toml-test batch the time is per case and "
            f"MB/s is over the whole batch." + (" Quick run: rough figures." if opts.quick else "")]
    print("\n".join(out), flush=True)

    skipped: dict[str, dict[str, int]] = {}
    slower: list[str] = []
    for m in measures:
        rows: list[Row] = []
        for inp in inputs:
            print(f"  [{m.key}] {inp.name} ...", file=sys.stderr, flush=True)
            rows.append(run_measure(m, inp, min_time, min_reps, skipped))
        section = ["", f"## {m.title}", ""] + measure_table(m, rows)
        na = [(r.input.name, name, c.reason) for r in rows for name, c in r.cells.items()
              if c.seconds is None and c.reason]
        if na:
            section += [""] + [f"- n/a: {display(name)} on {inp}: {reason}" for inp, name, reason in na]
        if m.key in skipped:
            counts = ", ".join(f"{display(k)} {v}" for k, v in skipped[m.key].items())
            section += ["", f"- {BATCH_NAME}: cases each library could not handle (left out for all): {counts}"]
        for r in rows:
            base = r.cells.get("morvelan", Cell()).seconds
            for name, c in r.cells.items():
                if name != "morvelan" and base and c.seconds and c.seconds < base:
                    slower.append(f"{m.key}: {display(name)} on {input_label(r.input, r.cases)}: "
                                  f"{fmt_time(c.seconds)} vs morvelan {fmt_time(base)} "
                                  f"({fmt_ratio(c.seconds / base)})")
        emit(out, section)

    if not opts.only or "memory" in opts.only:
        mem_rows = []
        for inp in inputs:
            print(f"  [memory] {inp.name} ...", file=sys.stderr, flush=True)
            mem_rows.append(run_memory(mv, peers, inp))
        section = ["", "## Memory of a parsed document (peak RSS growth, fresh process)", ""]
        section += memory_table(mem_rows)
        section += ["", f"Growth of ru_maxrss from after reading the text(s) to after parsing, with the "
                    f"documents alive, per copy: inputs are parsed `copies` times over (about "
                    f"{MEMORY_TARGET_BYTES / 1e6:.0f} MB in all). KB = 1024 bytes; B/B = bytes per input byte; "
                    f"× = tomlkit / morvelan; 'tomlkit traced' is tracemalloc's peak during tomlkit's parse "
                    f"(Python allocations only), per copy."]
        emit(out, section)

    notes = checks(mv, peers, inputs)
    section = ["", "## Where morvelan is slower than a peer", ""]
    section += [f"- {s}" for s in slower] if slower else ["- nowhere"]
    if notes:
        section += ["", "## Checks", ""] + [f"- {n}" for n in notes]
    emit(out, section)

    write_markdown(opts.markdown, out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
