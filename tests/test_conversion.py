"""Conversion of Python values to TOML (through dumps and Document) and of
TOML values back to Python (through .value)."""

import collections.abc as abc
import enum
import math
import sys
from datetime import date, datetime, time, timedelta, timezone, tzinfo

import pytest
from toml_cases import deep_text, on_stack

pytestmark = pytest.mark.needs_module
morvelan = pytest.importorskip("morvelan")


class Color(enum.IntEnum):
    RED = 3


class Text(str): pass
class Real(float): pass
class Inner:
    class Deep: pass


class Proxy(abc.Mapping):
    """A mapping that is not a dict; `on_items` runs inside items()."""
    def __init__(self, pairs, on_items=None): self.pairs, self.on_items = pairs, on_items
    def __getitem__(self, key): return dict(self.pairs)[key]
    def __len__(self): return len(self.pairs)
    def __iter__(self): return iter(dict(self.pairs))
    def items(self):
        if self.on_items:
            self.on_items()
        return list(self.pairs)


class Zone(tzinfo):
    def __init__(self, offset, hook=None): self.offset, self.hook = offset, hook
    def utcoffset(self, dt):
        if self.hook:
            self.hook()
        return self.offset


class Stretched(list):
    def __len__(self): return 2
    def __getitem__(self, i): return i * 10


class BadOffset(datetime):
    def utcoffset(self): return 5


class Sneaky:
    @property
    def __class__(self): raise ValueError("boom")


def shrinking():
    items = []
    items[:] = [Proxy([], on_items=items.clear), 1, 2]
    return items


def nested(depth, make):
    value = 1
    for _ in range(depth):
        value = make(value)
    return value


def dumps_a(value):
    return morvelan.dumps({"a": value})


@pytest.mark.parametrize("value, text", [
    (True, "a = true\n"),
    (Color.RED, "a = 3\n"),
    (Text("x"), 'a = "x"\n'),
    (Real(1.5), "a = 1.5\n"),
    (-2**63, "a = -9223372036854775808\n"),
    (2**63 - 1, "a = 9223372036854775807\n"),
    ([], "a = []\n"),
    ([{"a": 1}, 2], "a = [{ a = 1 }, 2]\n"),
    ([[{"x": 1}], 2], "a = [[{ x = 1 }], 2]\n"),
    ([{}], "[[a]]\n"),
    (shrinking(), "[[a]]\n"),
    (Stretched([7]), "a = [0, 10]\n"),
    (Proxy([("k", 1), ("j", 2), ("k", 3)]), "[a]\nk = 3\nj = 2\n"),
    (time(12, 30), "a = 12:30:00\n"),
    (datetime(2024, 1, 2, 3, 4, 5, 6), "a = 2024-01-02T03:04:05.000006\n"),
    (datetime(2024, 1, 2, tzinfo=timezone.utc), "a = 2024-01-02T00:00:00+00:00\n"),
    (datetime(2024, 1, 2, tzinfo=Zone(timedelta(hours=-5, minutes=-30))), "a = 2024-01-02T00:00:00-05:30\n"),
    (datetime(2024, 1, 2, tzinfo=Zone(None)), "a = 2024-01-02T00:00:00\n"),
    (time(1, 2, tzinfo=Zone(None)), "a = 01:02:00\n"),
    (date(2024, 1, 2), "a = 2024-01-02\n"),
])
def test_to_toml(value, text):
    assert dumps_a(value) == text


def test_scalar_kinds_round_trip():
    value = morvelan.loads(dumps_a([True, Color.RED, Text("s"), Real(2.5), float("nan")])).value["a"]
    assert [type(v) for v in value] == [bool, int, str, float, float]
    assert value[:4] == [True, 3, "s", 2.5] and math.isnan(value[4])


@pytest.mark.parametrize("value, exc, message", [
    (2**63, OverflowError, "Python int too large to convert to C long"),
    (-2**63 - 1, OverflowError, "Python int too large to convert to C long"),
    (None, TypeError, "None is not a valid TOML value (TOML has no null type)"),
    ((1, 2), TypeError, "Could not convert object of type 'tuple' to TOML value"),
    ({1, 2}, TypeError, "Could not convert object of type 'set' to TOML value"),
    (b"x", TypeError, "Could not convert object of type 'bytes' to TOML value"),
    (Inner.Deep(), TypeError, "Could not convert object of type 'Deep' to TOML value"),
    ([1, None], TypeError, "None is not a valid TOML value (TOML has no null type)"),
    ({1: "x"}, TypeError, "keys must be strings"),
    (Proxy([(None, 1)]), TypeError, "keys must be strings"),
    (Proxy([5]), TypeError, "cannot unpack non-iterable int object"),
    (Proxy([("k",)]), ValueError, "not enough values to unpack (expected 2, got 1)"),
    ("\ud800", UnicodeEncodeError, "'utf-8' codec can't encode character '\\ud800' in position 0: surrogates not allowed"),
    ({"\ud800": 1}, UnicodeEncodeError, "'utf-8' codec can't encode character '\\ud800' in position 0: surrogates not allowed"),
    (time(1, 2, tzinfo=timezone.utc), TypeError, "TOML local times cannot have timezone information"),
    (BadOffset(2024, 1, 2), TypeError, "'int' object is not an instance of 'timedelta'"),
    # TOML offsets are whole minutes: any other offset would be written as another instant
    (datetime(2024, 1, 2, tzinfo=timezone(timedelta(seconds=-90))), ValueError,
     "UTC offset -00:01:30 is not a whole number of minutes: a TOML offset has hours and minutes only"),
    (datetime(2024, 1, 2, tzinfo=timezone(timedelta(seconds=30))), ValueError,
     "UTC offset +00:00:30 is not a whole number of minutes: a TOML offset has hours and minutes only"),
    (datetime(2024, 1, 2, tzinfo=timezone(timedelta(microseconds=1))), ValueError,
     "UTC offset +00:00:00.000001 is not a whole number of minutes: a TOML offset has hours and minutes only"),
    (datetime(2024, 1, 2, tzinfo=Zone(timedelta(hours=-5, minutes=-30, seconds=-7))), ValueError,
     "UTC offset -05:30:07 is not a whole number of minutes: a TOML offset has hours and minutes only"),
    (time(1, 2, tzinfo=timezone(timedelta(seconds=30))), TypeError, "TOML local times cannot have timezone information"),
])
def test_to_toml_errors(value, exc, message):
    with pytest.raises(exc) as info:
        dumps_a(value)
    assert str(info.value) == message


def test_failing_mapping_check_is_unraisable_and_false(monkeypatch):
    seen = []
    monkeypatch.setattr(sys, "unraisablehook", seen.append)
    with pytest.raises(TypeError, match="^Could not convert object of type 'Sneaky' to TOML value$"):
        dumps_a(Sneaky())
    assert [type(u.exc_value) for u in seen] == [ValueError]


def mutating(action, before=0, after=1):
    """A dict with `before` scalar entries, then "a", whose value runs
    `action(d)` while it is converted, then `after` scalar entries "b", "c"..."""
    d = {f"x{i}": i for i in range(before)}
    d["a"] = datetime(2024, 1, 2, tzinfo=Zone(timedelta(0), hook=lambda: action(d)))
    for i in range(after):
        d[chr(ord("b") + i)] = i
    return d


def swap(old, new):
    """Deletes `old` and adds `new`: the keys change, the size stays."""
    return lambda d: (d.pop(old), d.__setitem__(new, 1))


def mapping_growing_its_parent():
    outer = {}
    outer["m"] = Proxy([("k", 1)], on_items=lambda: outer.__setitem__("new", 1))
    return outer


@pytest.mark.parametrize("obj, message", [
    (mutating(lambda d: d.__setitem__("c", 1)), "dictionary changed size during iteration"),
    (mutating(lambda d: d.pop("b")), "dictionary changed size during iteration"),
    (mutating(swap("a", "z")), "dictionary keys changed during iteration"),
    # A key not read yet is swapped: in a small dict, in one whose keys before
    # the mutating value are plain, and in a large one.
    (mutating(swap("b", "z")), "dictionary keys changed during iteration"),
    (mutating(swap("c", "z"), before=3, after=2), "dictionary keys changed during iteration"),
    (mutating(swap("t", "z"), before=20, after=20), "dictionary keys changed during iteration"),
    (mutating(lambda d: d.__setitem__("b", d.pop("b")), after=3), "dictionary keys changed during iteration"),
    (mapping_growing_its_parent(), "dictionary changed size during iteration"),
])
def test_dict_mutated_during_conversion(obj, message):
    with pytest.raises(RuntimeError) as info:
        morvelan.Document(obj)
    assert info.value.args == (message,)


def test_deep_and_self_referencing_values_raise_recursion_error():
    loop_list, loop_dict = [], {}
    loop_list.append(loop_list)
    loop_dict["a"] = loop_dict
    for obj in (nested(100_000, lambda v: [v]), nested(100_000, lambda v: {"a": v}), loop_list, loop_dict):
        with pytest.raises(RecursionError):
            dumps_a(obj)


def below_c_calls(levels, action=None):
    """Runs `action` below `levels` nested `==` calls, each made from C code
    that passes the interpreter's recursion guard (Py_EnterRecursiveCall, which
    counts against sys.getrecursionlimit() on 3.11 and against a separate, fixed
    C recursion limit from 3.12 on). With `levels` None the calls go on until
    the guard stops them. Gives the deepest level entered."""
    reached = 0

    class Step:
        def __init__(self, n):
            self.n = n

        def __eq__(self, other):
            nonlocal reached
            reached = self.n
            if self.n == levels:
                action()
                return True
            return Step(self.n + 1) == other

    try:
        Step(1) == 0
    except RecursionError:
        if levels is not None:
            raise
    return reached


def test_deep_tree_to_python_raises_recursion_error():
    # The conversion to Python passes the same guard at each level: with fewer
    # levels of it left than the tree is deep, .value raises the interpreter's
    # RecursionError (not the module's own nesting or stack errors) and the
    # document stays as it was.
    expected = {"a": nested(79, lambda v: {"a": v})}  # the deepest tables a document writes
    doc = morvelan.Document(expected)
    results = []

    def read():
        try:
            results.append(doc.value)
        except RecursionError as e:
            results.append(e)

    def run():
        bottom = below_c_calls(None)
        below_c_calls(10, read)
        below_c_calls(bottom - 20, read)   # each level takes 2 or 3 of the guard's units

    on_large_stack(run)
    shallow, deep = results
    assert shallow == expected
    assert isinstance(deep, RecursionError)
    assert str(deep) == "maximum recursion depth exceeded while converting to Python"
    assert doc.value == expected


@pytest.mark.parametrize("text, expected", [
    ("1979-05-27T07:32:00Z", datetime(1979, 5, 27, 7, 32, tzinfo=timezone.utc)),
    ("1979-05-27T00:32:00.999999-07:00",
     datetime(1979, 5, 27, 0, 32, 0, 999999, tzinfo=timezone(timedelta(hours=-7)))),
    ("1979-05-27T07:32:00", datetime(1979, 5, 27, 7, 32)),
    ("1979-05-27T07:32", datetime(1979, 5, 27, 7, 32)),
    ("1979-05-27", date(1979, 5, 27)),
    ("07:32", time(7, 32)),
    ("12:00:00.1234567", time(12, 0, 0, 123456)),
    ('[1, {x = "y"}, [true]]', [1, {"x": "y"}, [True]]),
])
def test_to_python(text, expected):
    value = morvelan.loads(f"t = {text}").value["t"]
    assert type(value) is type(expected) and value == expected
    assert getattr(value, "tzinfo", None) == getattr(expected, "tzinfo", None)


def test_leap_second_to_python_raises_constructor_error():
    doc = morvelan.loads("t = 23:59:60")
    with pytest.raises(ValueError, match="second must be in 0..59"):
        doc.value


def test_tables_to_python():
    doc = morvelan.loads("b = 1.5\n[[p]]\nq = 1\n[[p]]\n[t]\nu = -2\n")
    assert doc.value == {"b": 1.5, "p": [{"q": 1}, {}], "t": {"u": -2}}


def test_nesting_is_capped_even_with_a_raised_recursion_limit():
    import sys

    deep = []
    for _ in range(50_000):
        deep = [deep]
    old = sys.getrecursionlimit()
    sys.setrecursionlimit(1_000_000)
    try:
        with pytest.raises(RecursionError):
            morvelan.dumps({"a": deep})
    finally:
        sys.setrecursionlimit(old)


NESTING = "maximum TOML nesting depth (1000) exceeded while converting to TOML"


@pytest.fixture(scope="module")
def deep_doc():
    """A document of 1000 levels: the root table and 999 tables "a" in each
    other."""
    return morvelan.loads(deep_text(999))


def below(doc, steps):
    """The handle `steps` tables below the root: 1000 - steps levels."""
    for _ in range(steps):
        doc = doc["a"]
    return doc


# Copies of a document or of a handle's subtree count their levels (a table,
# inline table, array or array of tables is one, as a dict or list is) on top
# of the levels the conversion has entered; the whole tree stays within 1000.
# A tree within it may still be refused as more deeply nested than the parser
# reads back (tables in a list become inline tables, one level each).
OK, NESTED, UNREADABLE = "ok", "nested", "unreadable"


def expect(outcome, build):
    if outcome == OK:
        return build()
    if outcome == NESTED:
        with pytest.raises(RecursionError) as info:
            build()
        assert str(info.value) == NESTING
    else:
        with pytest.raises(ValueError, match="^too deeply nested for TOML"):
            build()


@pytest.mark.parametrize("build, outcome", [
    (lambda d: morvelan.Document(d), OK),                                  # 1000
    (lambda d: morvelan.Document({"k": d}), NESTED),                       # 1 + 1000
    (lambda d: morvelan.Document({"k": below(d, 1)}), OK),                 # 1 + 999
    (lambda d: morvelan.Document({"k": {"j": below(d, 1)}}), NESTED),      # 2 + 999
    (lambda d: morvelan.Document({"k": {"j": below(d, 2)}}), OK),          # 2 + 998
    (lambda d: morvelan.dumps({"k": [below(d, 2)]}), OK),                  # 1 + 1 + 998
    (lambda d: morvelan.dumps({"k": [below(d, 1)]}), NESTED),              # 1 + 1 + 999
    (lambda d: morvelan.dumps({"k": [[1], [below(d, 3)]]}), UNREADABLE),   # 1 + 1 + 1 + 997
    (lambda d: morvelan.dumps({"k": [[1], [below(d, 2)]]}), NESTED),       # 1 + 1 + 1 + 998
])
def test_copied_trees_count_towards_the_nesting_limit(deep_doc, build, outcome):
    expect(outcome, lambda: build(deep_doc))


def on_large_stack(fn):
    """Runs `fn` in a thread with a 64 MiB stack (1000 levels of conversion
    take more than the main thread's stack in sanitized builds) and the
    recursion limit raised; gives its result or raises its exception."""
    return on_stack(64 << 20, fn, recursion_limit=10_000)


@pytest.mark.parametrize("build, outcome", [
    (lambda: morvelan.Document(nested(1000, lambda v: {"a": v})).value, UNREADABLE),
    (lambda: morvelan.dumps({"a": nested(999, lambda v: [v])}), UNREADABLE),
    (lambda: morvelan.Document(nested(1001, lambda v: {"a": v})), NESTED),
    (lambda: morvelan.dumps({"a": nested(1000, lambda v: [v])}), NESTED),
])
def test_trees_from_python_values_count_their_top_level(build, outcome):
    expect(outcome, lambda: on_large_stack(build))


def test_copy_of_a_tree_deeper_than_the_limit_is_refused(deep_doc):
    doc = morvelan.loads(deep_text(2999))
    for value in (doc, doc["a"], deep_doc, {"k": [[doc["a"]["a"]]]}):
        with pytest.raises(RecursionError) as info:
            morvelan.Document({"k": value})
        assert str(info.value) == NESTING
