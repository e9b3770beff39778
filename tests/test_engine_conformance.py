"""Conformance of the engine against the toml-test suite and the corpus.

The engine is driven through the `toml-decode` tool (built with the engine),
which prints, for every file, the decoded value in toml-test's tagged JSON,
the text written back from the parsed tree, and whether that text parses
again to the same data.
"""

import json
import os
import re
import subprocess
from pathlib import Path

import pytest
from toml_cases import (CORPUS_FILES, INVALID, ROOT, SHARED, VALID, case_id,
                        normalize_tagged, tagged_json)


def _tool():
    env = os.environ.get("MORVELAN_DECODE")
    candidate = Path(env) if env else ROOT / "build" / "release" / "toml-decode"
    if not candidate.is_file():
        pytest.skip("toml-decode is not built (scripts/build.sh release, or set MORVELAN_DECODE)")
    return candidate


def _run(paths):
    out = subprocess.run([str(_tool()), *map(str, paths)], check=True, capture_output=True).stdout
    return {Path(r["path"]): r for r in map(json.loads, out.decode("utf-8", "surrogateescape").splitlines())}


_results = {}


def result(path):
    if not _results:
        _results.update(_run(VALID + INVALID + CORPUS_FILES))
    return _results[path]


@pytest.mark.parametrize("path", VALID, ids=case_id)
def test_valid_case(path):
    r = result(path)
    assert r["ok"], r.get("error")
    assert normalize_tagged(r["value"]) == normalize_tagged(tagged_json(path))
    assert r["output"].encode("utf-8") == path.read_bytes()
    assert r["reparse"]
    assert r["plain"][1] == 0, "the plain reader of packed arrays differs from the parser"


@pytest.mark.parametrize("path", INVALID, ids=case_id)
def test_invalid_case(path):
    r = result(path)
    assert not r["ok"], "accepted invalid TOML"
    assert re.match(r"TOML parse error at line \d+, column \d+\n", r["error"]), r["error"]


@pytest.mark.parametrize("path", CORPUS_FILES, ids=case_id)
def test_corpus_round_trip(path):
    r = result(path)
    assert r["ok"], r.get("error")
    assert r["output"].encode("utf-8") == path.read_bytes()
    assert r["reparse"]
    assert r["plain"][1] == 0, "the plain reader of packed arrays differs from the parser"


def test_plain_reader_reads_most_packed_arrays():
    # The plain reader gives up on elements it does not handle, silently: it
    # must still take most of the corpus's packed arrays.
    if not CORPUS_FILES:
        pytest.skip(f"shared test data not found under {SHARED}")
    read = sum(result(p)["plain"][0] for p in CORPUS_FILES)
    assert read > 1000, read


def test_shared_data_present():
    if not VALID or not CORPUS_FILES:
        pytest.skip(f"shared test data not found under {SHARED}")
    assert len(VALID) > 200 and len(INVALID) > 400
