"""ScalarItem acts as its current value: operators, conversions, hashing,
ordering, membership, formatting and attribute access, each on the value the
handle resolves to at the time of the call."""

import datetime
import inspect
import math
import operator

import pytest

morvelan = pytest.importorskip("morvelan")
loads = morvelan.loads

STALE = "stale: the document has been modified since this reference was created"

DOC = """\
i = 7
big = 9007199254740993
max = 9223372036854775807
f = 2.5
b = true
s = "ab"
n = "12"
d = 2024-01-02T03:04:05Z
day = 2024-01-02
t = {a = 1}
"""


class H:
    """An operand that is a handle: doc[key] on the handle side, its value on the plain side."""

    def __init__(self, key):
        self.key = key

    def __repr__(self):
        return f"H({self.key})"


def operands(x):
    doc, plain = loads(DOC), loads(DOC).value
    return (doc[x.key], plain[x.key]) if isinstance(x, H) else (x, x)


def outcome(fn, *args):
    """The result with its type, or the type of the exception raised."""
    try:
        r = fn(*args)
    except Exception as exc:  # noqa: BLE001 - the exception type is the outcome
        return type(exc)
    return type(r), r


UTC = datetime.timezone.utc
BINARY = [operator.add, operator.sub, operator.mul, operator.truediv, operator.floordiv, operator.mod, pow,
          lambda a, b: pow(a, b, 5), operator.lt, operator.le, operator.gt, operator.ge]
BINARY_IDS = ["add", "sub", "mul", "truediv", "floordiv", "mod", "pow", "pow-mod", "lt", "le", "gt", "ge"]
OTHERS = [3, 0, 1.5, True, "x", datetime.datetime(2024, 1, 1, tzinfo=UTC), datetime.date(2024, 1, 1), [1],
          object(), H("i"), H("f"), H("s"), H("d")]


@pytest.mark.parametrize("other", OTHERS, ids=repr)
@pytest.mark.parametrize("key", ["i", "f", "b", "s", "d"])
@pytest.mark.parametrize("op", BINARY, ids=BINARY_IDS)
def test_binary_operators_act_on_the_value(op, key, other):
    h, v = operands(H(key))
    o, ov = operands(other)
    assert outcome(op, h, o) == outcome(op, v, ov)
    assert outcome(op, o, h) == outcome(op, ov, v)


UNARY = [
    ("neg", operator.neg, operator.neg),
    ("pos", operator.pos, operator.pos),
    ("abs", abs, abs),
    ("invert", operator.invert, operator.invert),
    ("int", int, int),
    ("float", float, float),
    # the value's own __index__: a float or str value has none (AttributeError)
    ("index", operator.index, lambda v: v.__index__()),
    ("range", lambda x: range(x)[-2:], lambda v: range(v.__index__())[-2:]),
    ("hash", hash, hash),
    # exact for an integer (not through float()), Python's float result for a float
    ("floor", math.floor, math.floor),
    ("ceil", math.ceil, math.ceil),
    ("trunc", math.trunc, math.trunc),
    ("round", round, round),
    ("round-ndigits", lambda x: round(x, -1), lambda v: round(v, -1)),
    ("round-none", lambda x: round(x, None), lambda v: round(v, None)),
    ("round-2", lambda x: round(x, 2), lambda v: round(v, 2)),
]


@pytest.mark.parametrize("key", ["i", "big", "max", "f", "b", "s", "n", "d", "day"])
@pytest.mark.parametrize("name, on_handle, on_value", UNARY, ids=[u[0] for u in UNARY])
def test_unary_operators_and_conversions_act_on_the_value(name, on_handle, on_value, key):
    h, v = operands(H(key))
    assert outcome(on_handle, h) == outcome(on_value, v)


@pytest.mark.parametrize("op", [operator.lshift, operator.rshift, operator.and_, operator.or_, operator.xor,
                                operator.matmul, divmod, len, iter])
@pytest.mark.parametrize("key", ["i", "b", "s"])
def test_other_protocols_are_absent(op, key):
    h, _ = operands(H(key))
    with pytest.raises(TypeError):
        op(h, 1) if op not in (len, iter) else op(h)


def test_hash_and_order_make_handles_usable_as_keys_and_sortable():
    doc = loads("port = 8080\nl = [3, 1.5, 2]\n")
    assert {8080: "found"}[doc["port"]] == "found"
    assert doc["port"] in {8080} and hash(doc["port"]) == hash(8080)
    assert sorted(doc["l"]) == [1.5, 2, 3]
    assert all(type(x) is bool for x in (doc["port"] > 80, doc["port"] <= doc["port"]))


@pytest.mark.parametrize("key", ["s", "i", "d"])
@pytest.mark.parametrize("needle", ["a", "ab", "z", "", 1, H("s"), H("n"), H("t")], ids=repr)
def test_membership_tests_the_value(key, needle):
    h, v = operands(H(key))
    y, yv = operands(needle)
    assert outcome(operator.contains, h, y) == outcome(operator.contains, v, yv)


@pytest.mark.parametrize("key, spec", [("i", ">6"), ("i", "x"), ("f", ".3f"), ("b", ""), ("s", "^6"),
                                       ("s", "d"), ("d", "%Y-%m"), ("day", "")])
def test_format_uses_the_value(key, spec):
    h, v = operands(H(key))
    assert outcome(format, h, spec) == outcome(format, v, spec)
    assert outcome(lambda: f"{h:{spec}}") == outcome(lambda: f"{v:{spec}}")


def test_format_arguments():
    h = loads("port = 8080")["port"]
    assert h.__format__(spec=">6") == "  8080"
    assert str(inspect.signature(morvelan.ScalarItem.__format__)) == "(self, /, spec)"
    with pytest.raises(TypeError) as info:
        h.__format__(5)
    assert info.value.args == ("'int' object is not an instance of 'str'",)
    assert info.value.__notes__ == ["while processing 'spec'"]
    with pytest.raises(TypeError, match=r"^ScalarItem.__format__\(\) missing 1 required positional argument: 'spec'$"):
        h.__format__()


@pytest.mark.parametrize("key, get", [("s", lambda x: x.upper()), ("s", lambda x: x.startswith("a")),
                                      ("i", lambda x: x.real), ("f", lambda x: x.is_integer()),
                                      ("d", lambda x: x.year), ("day", lambda x: x.isoformat())])
def test_attributes_of_the_value(key, get):
    h, v = operands(H(key))
    assert outcome(get, h) == outcome(get, v)


def test_own_attributes_come_first_and_missing_ones_name_the_value_type():
    doc = loads(DOC)
    assert doc["s"].value == "ab" and doc["s"].as_toml() == '"ab"'
    assert doc["s"].__class__ is morvelan.ScalarItem
    for key, type_name in (("s", "str"), ("i", "int"), ("d", "datetime")):
        with pytest.raises(AttributeError, match=f"^'ScalarItem' wrapping {type_name} has no attribute 'nosuch'$"):
            doc[key].nosuch
    assert getattr(doc["i"], "nosuch", "default") == "default"
    morvelan.Item.upper = property(lambda self: "own")  # the class's members are looked up live
    try:
        assert doc["s"].upper == "own"
    finally:
        del morvelan.Item.upper
    assert doc["s"].upper() == "AB"


def recorder(name):
    def method(self, other, *args):
        if not isinstance(other, morvelan.Item):  # called with the handle's value
            self.calls.append(name)
        return NotImplemented
    return method


class Spy:
    """An operand that records the calls it gets with a handle's value."""

    def __init__(self):
        self.calls = []

    __sub__, __radd__, __rsub__, __rpow__ = recorder("sub"), recorder("radd"), recorder("rsub"), recorder("rpow")
    __gt__, __lt__ = recorder("gt"), recorder("lt")


STALE_OPS = [
    lambda h, spy: h + spy, lambda h, spy: spy - h, lambda h, spy: pow(h, spy), lambda h, spy: h < spy,
    lambda h, spy: spy > h, lambda h, spy: 1 + h, lambda h, spy: -h, lambda h, spy: abs(h),
    lambda h, spy: int(h), lambda h, spy: float(h), lambda h, spy: operator.index(h), lambda h, spy: hash(h),
    lambda h, spy: format(h, ">6"), lambda h, spy: h.upper, lambda h, spy: h.value, lambda h, spy: "8" in h,
    lambda h, spy: range(h),
]


@pytest.mark.parametrize("op", STALE_OPS)
def test_stale_handle_fails_before_the_operator_runs(op):
    doc = loads("port = 8080\n")
    h = doc["port"]
    doc["port"] = 9090
    spy = Spy()
    with pytest.raises(RuntimeError, match=f"^{STALE}$"):
        op(h, spy)
    assert spy.calls == []


def test_handles_see_edits_or_go_stale():
    doc = loads("port = 8080\n[t]\nx = 1\n")
    port, x = doc["port"], doc["t"]["x"]
    doc["t"]["y"] = 2  # a sibling edit: x stays valid
    assert x + 1 == 2 and x * port == 8080
    doc["port"] = 9090
    with pytest.raises(RuntimeError, match=STALE):
        x * port  # the right operand is stale
    assert doc["port"] + 1 == 9091 and hash(doc["port"]) == hash(9090)
    p = doc["port"]
    p += 1  # rebinds p to the plain result
    assert type(p) is int and p == 9091 and doc["port"].value == 9090
    doc["port"] += 1  # stores through the document
    assert doc.as_toml().startswith("port = 9091\n")
