"""The shared test data (toml-test suite and corpus) and helpers to compare
against it."""

import datetime as dt
import json
import math
import re
import sys
import threading
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SHARED = ROOT.parent / "shared"
SUITE = SHARED / "toml-test" / "tests"
CORPUS = SHARED / "corpus"


def cases(kind):
    listing = SUITE / "files-toml-1.1.0"
    if not listing.is_file():
        return []
    names = [line.strip() for line in listing.read_text().splitlines()]
    return [SUITE / n for n in names if n.startswith(kind + "/") and n.endswith(".toml")]


VALID = cases("valid")
INVALID = cases("invalid")
CORPUS_FILES = sorted(p for p in CORPUS.glob("*") if p.suffix in (".toml", ".lock")) if CORPUS.is_dir() else []


def case_id(path):
    return str(path.relative_to(SUITE)) if SUITE in path.parents else path.name


def tagged_json(path):
    return json.loads(path.with_suffix(".json").read_text(encoding="utf-8"))


_DT = re.compile(
    r"^(?:(\d{4})-(\d{2})-(\d{2}))?[Tt ]?"
    r"(?:(\d{2}):(\d{2})(?::(\d{2})(?:\.(\d+))?)?)?"
    r"(Z|z|[+-]\d{2}:\d{2})?$"
)


def datetime_parts(text):
    m = _DT.match(text)
    assert m, text
    y, mo, d, h, mi, s, frac, off = m.groups()
    ns = int((frac or "").ljust(9, "0")[:9])
    if off in ("z", "Z"):
        off = "+00:00"
    minutes = None
    if off:
        minutes = (-1 if off[0] == "-" else 1) * (int(off[1:3]) * 60 + int(off[4:6]))
    return y, mo, d, h, mi, s, ns, minutes


def _scalar_key(t, v):
    if t == "integer":
        return int(v)
    if t == "float":
        f = float(v)
        return "nan" if math.isnan(f) else f
    if t in ("datetime", "datetime-local", "date-local", "time-local"):
        y, mo, d, h, mi, s, ns, off = datetime_parts(v)
        return (t, y, mo, d, h, mi, s or ("00" if h else None), ns, off)
    return v


def normalize_tagged(node):
    """Tagged JSON in a form where equal values compare equal."""
    if isinstance(node, dict):
        if set(node) == {"type", "value"} and isinstance(node["type"], str):
            return (node["type"], _scalar_key(node["type"], node["value"]))
        return {k: normalize_tagged(v) for k, v in node.items()}
    if isinstance(node, list):
        return [normalize_tagged(v) for v in node]
    return node


def python_value(node):
    """The native Python value that tagged JSON describes (date-times as
    datetime objects, fractions truncated to microseconds)."""
    if isinstance(node, dict):
        if set(node) == {"type", "value"} and isinstance(node["type"], str):
            t, v = node["type"], node["value"]
            if t == "string":
                return v
            if t == "integer":
                return int(v)
            if t == "float":
                return float(v)
            if t == "bool":
                return v == "true"
            y, mo, d, h, mi, s, ns, off = datetime_parts(v)
            if t == "date-local":
                return dt.date(int(y), int(mo), int(d))
            time_args = (int(h), int(mi), int(s or 0), ns // 1000)
            if t == "time-local":
                return dt.time(*time_args)
            tz = dt.timezone(dt.timedelta(minutes=off)) if t == "datetime" else None
            return dt.datetime(int(y), int(mo), int(d), *time_args, tzinfo=tz)
        return {k: python_value(v) for k, v in node.items()}
    if isinstance(node, list):
        return [python_value(v) for v in node]
    return node


def same_value(a, b):
    """Equality of the same types that treats NaN as equal to NaN and tells
    date-times apart by their offsets, not only by the instant they name."""
    if isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b):
        return True
    if isinstance(a, (dt.datetime, dt.time)) and isinstance(b, (dt.datetime, dt.time)):
        if a.utcoffset() != b.utcoffset():
            return False
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(same_value(a[k], b[k]) for k in a)
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(same_value(x, y) for x, y in zip(a, b))
    return type(a) is type(b) and a == b


def deep_text(tables):
    """A document whose root holds `tables` tables "a" in each other, written
    as dotted keys of 80 keys in nested inline tables (as deep as the parser
    reads): `levels` = tables + 1 levels of conversion."""
    parts, left = [], tables
    while True:
        keys = min(80, left)
        left -= keys
        parts.append(".".join(["a"] * keys) + (" = {}" if left == 0 else " = { "))
        if left == 0:
            return "".join(parts) + " }" * (len(parts) - 1) + "\n"


def on_stack(size, fn, recursion_limit=None):
    """fn() in a thread with a stack of `size` bytes (and the recursion limit
    set, when given): gives its result or raises its exception."""
    out = {}

    def run():
        try:
            out["value"] = fn()
        except BaseException as e:  # raised again in the calling thread
            out["error"] = e

    old_limit, old_size = sys.getrecursionlimit(), threading.stack_size(size)
    if recursion_limit:
        sys.setrecursionlimit(recursion_limit)
    try:
        thread = threading.Thread(target=run)
        thread.start()
        thread.join()
    finally:
        threading.stack_size(old_size)
        sys.setrecursionlimit(old_limit)
    if "error" in out:
        raise out["error"]
    return out["value"]
