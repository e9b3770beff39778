"""The direct decoder (a document's values read from its text without its
tree) against the parser: on every text either both accept it, with values
of the same types, or the direct decoder gives nothing; and a document
loaded without its tree behaves as one whose tree was parsed at once."""

import copy
import datetime as dt
import math
import os
import pickle
import subprocess
import sys

import pytest
from toml_cases import CORPUS_FILES, INVALID, ROOT, SHARED, VALID, case_id, on_stack

pytestmark = pytest.mark.needs_module
morvelan = pytest.importorskip("morvelan")
hypothesis = pytest.importorskip("hypothesis")
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402
from test_edit_properties import DocGen, Draws  # noqa: E402

BENCH_FILES = sorted(p for p in (SHARED / "bench-data").glob("*") if p.suffix in (".toml", ".lock"))


def identical(a, b):
    """Equal values of the same types: bool is not int, NaN equals NaN, the
    sign of zero counts, dict order counts and date-times carry the very same
    tzinfo object."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        if math.isnan(a) or math.isnan(b):
            return math.isnan(a) and math.isnan(b)
        return a == b and math.copysign(1.0, a) == math.copysign(1.0, b)
    if isinstance(a, dict):
        return list(a) == list(b) and all(identical(a[k], b[k]) for k in a)
    if isinstance(a, (list, tuple)):
        return len(a) == len(b) and all(identical(x, y) for x, y in zip(a, b))
    if isinstance(a, (dt.datetime, dt.time)):
        return a == b and a.tzinfo is b.tzinfo
    return a == b


def check_same_reading(text):
    """The direct decoder gives exactly the value of the tree, or nothing when
    the parser refuses the text or the tree's value cannot be made."""
    direct = morvelan._direct_value(text)
    try:
        expected = morvelan._loads_tree(text).value
    except (ValueError, RecursionError):
        assert direct is None, "the direct decoder read a text that the parser (or conversion) refuses"
        return
    assert direct is not None, "the direct decoder left a valid text to the parser"
    assert identical(direct, expected)


@pytest.mark.parametrize("path", VALID + INVALID + CORPUS_FILES + BENCH_FILES, ids=case_id)
def test_reads_as_the_parser(path):
    try:
        text = path.read_bytes().decode("utf-8")
    except UnicodeDecodeError:
        pytest.skip("not UTF-8: no str holds it")
    check_same_reading(text)


def test_reads_the_generated_lock_file_as_the_parser(tmp_path):
    out = tmp_path / "lockfile.toml"
    subprocess.run([sys.executable, str(ROOT / "bench" / "gen_lockfile.py"), str(out)], check=True,
                   capture_output=True)
    check_same_reading(out.read_text(encoding="utf-8"))


# Statements over a few keys, which define, extend and redefine the same
# tables in every way the table rules know, with a few broken ones.
STATEMENTS = [
    "[a]", "[b]", "[a.b]", "[b.a]", "[a.b.a]", "[[a]]", "[[b]]", "[[a.b]]", "[[a.b.a]]", '[ "a" . b ]', "['b']",
    "[a.'b']", '["a\\u0062"]',
    "a = 1", "b = 'x'", "a.b = 2", "b.a.b = true", "a . b . a = 1.5", '"a".b = -0.0', "'b'.\"a\" = nan",
    "a = {}", "a = {b = 1}", "b = {a.b = 1, a.a = 2}", "a = {b.a = 1, b = 2}", "b = {a = {b = 1}, a.a = 2}",
    "a = [1, {b = 2}]", "b = [[], [{a.b = 1}]]", "a = {b.a.b = [1979-05-27T07:32:00Z]}",
    "a = 1979-05-27 07:32:00+05:30", "b = 07:32:00.999999999", "a = 0000-01-01", "b = 1979-05-27T23:59:60Z",
    "", "# comment", "a = ", "[a", "[[a]", "a = 1 b = 2", "= 1", "a = [1,,]", "a = {b = 1,}", "]",
    "a = {b = 1,\n c = 2}", 'b = "open', "a = 1_", "a.b. = 1", "b = 0x7fffffffffffffff", "b = 9223372036854775808",
]


@settings(max_examples=600, deadline=None, database=None, derandomize=bool(os.environ.get("CI")),
          suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(st.sampled_from(STATEMENTS), max_size=12), st.sampled_from(["\n", "\r\n"]), st.booleans())
def test_table_rules_as_the_parser(lines, newline, bom):
    check_same_reading(("\ufeff" if bom else "") + newline.join(lines) + newline)


@settings(max_examples=200, deadline=None, database=None, derandomize=bool(os.environ.get("CI")),
          suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
@given(st.data())
def test_generated_documents_as_the_parser(data):
    text, _ = DocGen(Draws(data)).document()
    check_same_reading(text)


# ---------------------------------------------------------------- the lazy document

TEXT = """\
# config
title = "lazy"  # the title
when = 1979-05-27T07:32:00-08:00
flags = [true, false]

[server]
host = "localhost"
ports = [8000, 8001]
limits = {cpu = 1.5, mem = "1G"}

[[plugin]]
name = "a"

[[plugin]]
name = "b"
opts.level = 3
"""


def value_then_edit_then_value(doc):
    before = doc.value
    doc["server"]["host"] = "example.org"
    return before, doc.value, doc.as_toml()


def value_is_a_copy(doc):
    first = doc.value
    first["title"] = "changed"
    first["server"]["ports"].append(1)
    return doc.value


def edit(doc):
    doc["plugin"][1]["opts"]["level"] = 4
    doc["new"] = {"x": [1, 2]}
    del doc["flags"]
    return doc.as_toml(), morvelan.dumps(doc), doc.value


# Nested as deep as the parser reads: parsing it needs more stack than a
# small thread has, so a tree built there is parsed on a thread of its own.
DEEP = "a = " + "[" * 80 + "]" * 80 + "\nb = {c = 1}\n"


@pytest.mark.parametrize("text, operation", [
    (TEXT, lambda d: d.value),
    (TEXT, lambda d: (d.value, d.value)),
    (TEXT, value_then_edit_then_value),
    (TEXT, value_is_a_copy),
    (TEXT, lambda d: d["server"]["limits"]["cpu"].value),
    (TEXT, lambda d: (d["plugin"][1].value, d.value)),
    (TEXT, edit),
    (TEXT, lambda d: d == morvelan._loads_tree(TEXT)),
    (TEXT, lambda d: d == {"title": "lazy"}),
    (TEXT, lambda d: (d.value, d == d.value)),
    (TEXT, lambda d: copy.copy(d).as_toml()),
    (TEXT, lambda d: (copy.deepcopy(d).value, d.value)),
    (TEXT, lambda d: d.as_toml()),
    (TEXT, lambda d: morvelan.dumps(d)),
    (TEXT, lambda d: pickle.loads(pickle.dumps(d)).value),
    (TEXT, lambda d: (len(d), bool(d), repr(d), str(d), list(d), "server" in d)),
    (TEXT, lambda d: (d.fmt(), d.as_toml())),
    (TEXT, lambda d: (d.clear(), d.value, d.as_toml())),
    (TEXT, lambda d: (d | {"x": 1}).value),
    (TEXT, lambda d: {"x": 1} | d),
    (DEEP, lambda d: on_stack(40 * 1024, lambda: (d["b"]["c"].value, d["b"].as_toml()))),
    (DEEP, lambda d: on_stack(40 * 1024, lambda: d.__setitem__("b", 2)) or d.as_toml()),
], ids=["value", "value twice", "value, edit, value", "value is a copy", "handle", "handle then value", "edit",
        "== document", "== dict", "value then ==", "copy", "deepcopy", "as_toml", "dumps", "pickle", "mapping",
        "fmt", "clear", "|", "reflected |", "handle on a small stack", "edit on a small stack"])
def test_lazy_document_as_a_parsed_one(text, operation):
    assert identical(operation(morvelan.loads(text)), operation(morvelan._loads_tree(text)))
