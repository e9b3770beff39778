"""Conformance of the engine against the toml-test suite and the corpus.

The engine is driven through the `toml-decode` tool (built with the engine),
which prints, for every file, the decoded value in toml-test's tagged JSON,
the text written back from the parsed tree, and whether that text parses
again to the same data.
"""

import json
import math
import os
import re
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
SHARED = ROOT.parent / "shared"
SUITE = SHARED / "toml-test" / "tests"
CORPUS = SHARED / "corpus"


def _tool():
    env = os.environ.get("MORVELAN_DECODE")
    candidates = [Path(env)] if env else [ROOT / "build" / "release" / "toml-decode"]
    for c in candidates:
        if c.is_file():
            return c
    pytest.skip("toml-decode is not built (scripts/build.sh release, or set MORVELAN_DECODE)")


def _run(paths):
    out = subprocess.run([str(_tool()), *map(str, paths)], check=True, capture_output=True).stdout
    return {Path(r["path"]): r for r in map(json.loads, out.decode("utf-8", "surrogateescape").splitlines())}


def _cases(kind):
    listing = SUITE / "files-toml-1.1.0"
    if not listing.is_file():
        return []
    names = [l.strip() for l in listing.read_text().splitlines()]
    return [SUITE / n for n in names if n.startswith(kind + "/") and n.endswith(".toml")]


VALID = _cases("valid")
INVALID = _cases("invalid")
CORPUS_FILES = sorted(p for p in CORPUS.glob("*") if p.suffix in (".toml", ".lock")) if CORPUS.is_dir() else []

_results = {}


def result(path):
    if not _results:
        _results.update(_run(VALID + INVALID + CORPUS_FILES))
    return _results[path]


_DT = re.compile(
    r"^(?:(\d{4})-(\d{2})-(\d{2}))?[Tt ]?"
    r"(?:(\d{2}):(\d{2})(?::(\d{2})(?:\.(\d+))?)?)?"
    r"(Z|z|[+-]\d{2}:\d{2})?$"
)


def _datetime_key(text):
    m = _DT.match(text)
    assert m, text
    y, mo, d, h, mi, s, frac, off = m.groups()
    frac = (frac or "").ljust(9, "0")[:9]
    if off in ("z", "Z"):
        off = "+00:00"
    if off:
        sign = -1 if off[0] == "-" else 1
        off = sign * (int(off[1:3]) * 60 + int(off[4:6]))
    return (y, mo, d, h, mi, s or ("00" if h else None), int(frac), off)


def _scalar(t, v):
    if t == "integer":
        return int(v)
    if t == "float":
        f = float(v)
        return "nan" if math.isnan(f) else f
    if t in ("datetime", "datetime-local", "date-local", "time-local"):
        return (t, _datetime_key(v))
    return v


def normalize(node):
    if isinstance(node, dict):
        if set(node) == {"type", "value"} and isinstance(node["type"], str):
            return (node["type"], _scalar(node["type"], node["value"]))
        return {k: normalize(v) for k, v in node.items()}
    if isinstance(node, list):
        return [normalize(v) for v in node]
    return node


def _without_dropped_cr(data: bytes) -> bytes:
    """The input as the writer gives it back: carriage returns of line
    endings and decor are dropped; those inside multi-line strings stay."""
    out = bytearray()
    i, n = 0, len(data)
    while i < n:
        for q in (b'"""', b"'''"):
            if data.startswith(q, i):
                end = data.find(q, i + 3)
                end = n if end < 0 else end + 3
                while end < n and data[end : end + 1] == q[:1]:
                    end += 1
                out += data[i:end]
                i = end
                break
        else:
            c = data[i : i + 1]
            if c in (b'"', b"'"):
                end = data.find(c, i + 1)
                while c == b'"' and end > 0 and data[end - 1 : end] == b"\\" and data[end - 2 : end - 1] != b"\\":
                    end = data.find(c, end + 1)
                end = n if end < 0 else end + 1
                out += data[i:end]
                i = end
            else:
                if c != b"\r":
                    out += c
                i += 1
    return bytes(out)


@pytest.mark.parametrize("path", VALID, ids=lambda p: str(p.relative_to(SUITE)))
def test_valid_case(path):
    r = result(path)
    assert r["ok"], r.get("error")
    expected = json.loads(path.with_suffix(".json").read_text(encoding="utf-8"))
    assert normalize(r["value"]) == normalize(expected)
    source = path.read_bytes()
    if source.startswith(b"\xef\xbb\xbf"):
        source = source[3:]
    assert r["output"].encode("utf-8") == _without_dropped_cr(source)
    assert r["reparse"]


@pytest.mark.parametrize("path", INVALID, ids=lambda p: str(p.relative_to(SUITE)))
def test_invalid_case(path):
    r = result(path)
    assert not r["ok"], "accepted invalid TOML"
    assert re.match(r"TOML parse error at line \d+, column \d+\n", r["error"]), r["error"]


@pytest.mark.parametrize("path", CORPUS_FILES, ids=lambda p: p.name)
def test_corpus_round_trip(path):
    r = result(path)
    assert r["ok"], r.get("error")
    assert r["output"].encode("utf-8") == path.read_bytes()
    assert r["reparse"]


def test_shared_data_present():
    if not VALID or not CORPUS_FILES:
        pytest.skip(f"shared test data not found under {SHARED}")
    assert len(VALID) > 200 and len(INVALID) > 400
