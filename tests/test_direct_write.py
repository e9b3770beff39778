"""dumps() of a plain dict writes straight from the Python objects: the text
must be the one the document tree gives, byte for byte, and anything that
writer does not take must go through the tree, as if it did not exist.

morvelan._dumps_direct(obj) is the direct writer alone (None where it gives
up), morvelan._dumps_tree(obj) the tree path alone."""

import collections
import datetime as dt
import math
import os
import sys
import types
from pathlib import Path

import pytest
from toml_cases import CORPUS_FILES, SHARED, VALID, case_id, on_stack

pytestmark = pytest.mark.needs_module
morvelan = pytest.importorskip("morvelan")
hypothesis = pytest.importorskip("hypothesis")
from hypothesis import given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

ROOT = Path(__file__).resolve().parent.parent
BENCH_DATA = SHARED / "bench-data"
BENCH_FILES = sorted(p for p in BENCH_DATA.glob("*") if p.suffix in (".toml", ".lock")) if BENCH_DATA.is_dir() else []
LOCKFILE = ROOT / "build" / "bench" / "lockfile.toml"

# The direct writer's bound on nesting: a dict or a list is a level, the root too.
MAX_LEVELS = 64


def levels(obj):
    if isinstance(obj, dict):
        return 1 + max((levels(v) for v in obj.values()), default=0)
    if isinstance(obj, list):
        return 1 + max((levels(v) for v in obj), default=0)
    return 0


def assert_same_text(obj):
    """The direct writer takes `obj` and writes what the tree writes."""
    tree = morvelan._dumps_tree(obj)  # first: it imports what the writer needs for date-times
    direct = morvelan._dumps_direct(obj)
    assert direct is not None, "the direct writer gave up"
    assert direct == tree
    assert morvelan.dumps(obj) == tree


def outcome(f, *args):
    try:
        return ("text", f(*args))
    except Exception as e:  # noqa: BLE001 - the exception is the outcome compared
        return (type(e), str(e))


# ---- documents: corpus, toml-test, benchmark inputs -------------------------


def document_value(path):
    return morvelan.loads(path.read_text(encoding="utf-8")).value


@pytest.mark.skipif(not CORPUS_FILES, reason="../shared/corpus is absent")
@pytest.mark.parametrize("path", CORPUS_FILES, ids=case_id)
def test_corpus(path):
    assert_same_text(document_value(path))


@pytest.mark.skipif(not VALID, reason="../shared/toml-test is absent")
@pytest.mark.parametrize("path", VALID, ids=case_id)
def test_toml_test_valid(path):
    assert_same_text(document_value(path))


@pytest.mark.skipif(not BENCH_FILES, reason="../shared/bench-data is absent")
@pytest.mark.parametrize("path", BENCH_FILES, ids=lambda p: p.name)
def test_bench_inputs(path):
    assert_same_text(document_value(path))


@pytest.mark.skipif(not LOCKFILE.is_file(), reason="build/bench/lockfile.toml is absent (bench/gen_lockfile.py writes it)")
def test_generated_lockfile():
    assert_same_text(document_value(LOCKFILE))


# ---- random mappings ----------------------------------------------------------

TRICKY = "\"'\\\n\r\t\b\f\x00\x01\x1b\x7f .=#[]{}é€\u2028😀"
texts = st.text() | st.text(alphabet=st.sampled_from(TRICKY)) | st.sampled_from(["", "'''", '"""', "a'''b\"\"\"c"])
keys = texts | st.from_regex(r"[A-Za-z0-9_-]{1,8}", fullmatch=True)
offsets = st.integers(-(24 * 60 - 1), 24 * 60 - 1).map(lambda m: dt.timezone(dt.timedelta(minutes=m)))
scalars = (
    texts
    | st.booleans()
    | st.integers(-(2**63), 2**63 - 1)
    | st.floats()
    | st.sampled_from([math.inf, -math.inf, math.nan, -math.nan, 0.0, -0.0, 1e300, 5e-324, 1e16, 0.1])
    | st.dates()
    | st.times()
    | st.datetimes(timezones=st.none() | st.just(dt.timezone.utc) | offsets)
)


def tables(children):
    return st.dictionaries(keys, children, max_size=5)


values = st.recursive(
    scalars,
    lambda children: st.lists(children, max_size=5) | tables(children) | st.lists(tables(children), min_size=1, max_size=3),
    max_leaves=40,
)


def chain(kinds, leaf):
    """A value nested once per kind, outermost first ("d": a dict, "l": a list)."""
    for kind in reversed(kinds):
        leaf = {"k": leaf} if kind == "d" else [leaf]
    return leaf


deep = st.builds(chain, st.lists(st.sampled_from("dl"), min_size=MAX_LEVELS - 8, max_size=MAX_LEVELS + 8), scalars)


# Seeded under CI, as the other property tests; a failure prints its example
# and leaves nothing in the work tree.
@settings(max_examples=400, deadline=None, derandomize=bool(os.environ.get("CI")), database=None)
@given(st.dictionaries(keys, values | deep, max_size=6))
def test_random_mappings(obj):
    if levels(obj) <= MAX_LEVELS:
        assert_same_text(obj)
    else:
        assert morvelan._dumps_direct(obj) is None
        assert morvelan.dumps(obj) == morvelan._dumps_tree(obj)


# ---- giving up ------------------------------------------------------------------


class Dict(dict):
    pass


class Str(str):
    pass


class Int(int):
    pass


class Float(float):
    pass


class List(list):
    pass


class Datetime(dt.datetime):
    pass


class Zone(dt.tzinfo):
    def utcoffset(self, d):
        return dt.timedelta(hours=2)

    def dst(self, d):
        return None


class NoOffset(dt.tzinfo):
    def utcoffset(self, d):
        return None


HANDLE = morvelan.loads("a = 1\nt = { x = 'y' }\n")
NOW = dt.datetime(2024, 5, 6, 7, 8, 9)


# Objects the direct writer must leave to the tree, and what the tree makes of
# them (a text or an exception), each in a dict that the writer takes otherwise.
GIVE_UP = {
    "root dict subclass": Dict(a=1),
    "root mapping": types.MappingProxyType({"a": 1}),
    "root ordered dict": collections.OrderedDict(a=1),
    "root not a mapping": [("a", 1)],
    "dict subclass value": {"a": {"b": Dict(c=1)}},
    "mapping value": {"a": types.MappingProxyType({"b": 1})},
    "str subclass": {"a": Str("x")},
    "int subclass": {"a": Int(3)},
    "bool as int subclass element": {"a": [1, Int(2)]},
    "float subclass": {"a": Float(1.5)},
    "list subclass": {"a": List([1])},
    "list subclass of tables": {"a": List([{"b": 1}])},
    "None": {"a": None},
    "None in a list": {"a": [1, None]},
    "tuple": {"a": (1, 2)},
    "bytes": {"a": b"x"},
    "int too large": {"a": 2**63},
    "int too small": {"a": -(2**63) - 1},
    "int too large in a table": {"t": {"a": 2**70}},
    "str key subclass": {Str("a"): 1},
    "int key": {1: "x"},
    "int key in an inline table": {"a": [{"b": 1}, {2: 1}, 3]},
    "lone surrogate value": {"a": "\ud800"},
    "lone surrogate key": {"\udfff": 1},
    "lone surrogate table key": {"\udfff": {"a": 1}},
    "handle value": {"a": HANDLE["a"]},
    "handle of a table": {"a": HANDLE["t"]},
    "document value": {"a": HANDLE},
    "datetime subclass": {"a": Datetime(2024, 1, 2)},
    "datetime with a custom tzinfo": {"a": NOW.replace(tzinfo=Zone())},
    "datetime with a tzinfo without offset": {"a": NOW.replace(tzinfo=NoOffset())},
    "datetime with an offset in seconds": {"a": NOW.replace(tzinfo=dt.timezone(dt.timedelta(seconds=90)))},
    "datetime with an offset in microseconds": {"a": NOW.replace(tzinfo=dt.timezone(dt.timedelta(microseconds=1)))},
    "time with a timezone": {"a": dt.time(1, 2, tzinfo=dt.timezone.utc)},
    "time with a tzinfo without offset": {"a": dt.time(1, 2, tzinfo=NoOffset())},
    "timedelta": {"a": dt.timedelta(1)},
    "nesting beyond the bound": chain("d" * (MAX_LEVELS + 1), 1),
    "list nesting beyond the bound": {"a": chain("l" * MAX_LEVELS, 1)},
    "nesting the tree refuses": {"a": chain("l" * 90, 1)},
}


@pytest.mark.parametrize("obj", GIVE_UP.values(), ids=GIVE_UP.keys())
def test_gives_up(obj):
    assert morvelan._dumps_direct(obj) is None
    assert outcome(morvelan.dumps, obj) == outcome(morvelan._dumps_tree, obj)


# The limits a conversion has besides the writer's own bound: the interpreter's
# recursion limit and the thread's C stack. Where the tree fails for them, the
# direct writer must have given up; where it writes, both write.
def frames():
    f, n = sys._getframe(), 0
    while f:
        f, n = f.f_back, n + 1
    return n


def with_recursion_limit(f, levels_left):
    old = sys.getrecursionlimit()
    sys.setrecursionlimit(frames() + levels_left)
    try:
        return f()
    finally:
        sys.setrecursionlimit(old)


LIMITS = {
    "recursion limit": lambda f: with_recursion_limit(f, 40),
    # The stack of test_readback's small-stack cases: a larger one, cached by
    # the C library for the next thread, would serve theirs.
    "small stack": lambda f: on_stack(40 * 1024, f),
}


@pytest.mark.parametrize("depth", [4, 10, 30, 60])
@pytest.mark.parametrize("limit", LIMITS)
def test_nesting_limits(limit, depth):
    obj = chain("dl" * (depth // 2), 1)
    fast, tree = LIMITS[limit](lambda: (outcome(morvelan.dumps, obj), outcome(morvelan._dumps_tree, obj)))
    assert fast == tree
