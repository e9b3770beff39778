"""Handles: classes and kinds, staleness, the common members, mapping
errors, views seen through edits."""

import collections.abc
import copy
import datetime
import inspect
import pickle

import pytest
from toml_cases import CORPUS_FILES, case_id

morvelan = pytest.importorskip("morvelan")
loads = morvelan.loads

STALE = "stale: the document has been modified since this reference was created"

DOC = """\
a = 1
s = "hi"
f = 0.0
b = false
d = 2024-01-02
arr = [1, 2]
it = {p = 1}
[t]
x = [1, 2]
[[aot]]
n = 1
"""


@pytest.mark.parametrize(
    "key, cls, kind",
    [
        ("a", "ScalarItem", "integer"),
        ("s", "ScalarItem", "string"),
        ("f", "ScalarItem", "float"),
        ("b", "ScalarItem", "boolean"),
        ("d", "ScalarItem", "datetime"),
        ("arr", "ListItem", "array"),
        ("it", "DictItem", "inline table"),
        ("t", "DictItem", "table"),
        ("aot", "ListItem", "array of tables"),
    ],
)
def test_class_and_kind_of_handles(key, cls, kind):
    h = loads(DOC)[key]
    assert type(h) is getattr(morvelan, cls)
    assert isinstance(h, morvelan.Item)
    assert repr(h).startswith(f"Item({kind}, ")
    assert h.kind == kind
    # A handle is a place in its document: it neither pickles nor copies alone.
    for operation in (pickle.dumps, copy.copy, copy.deepcopy):
        with pytest.raises(TypeError, match=rf"^cannot pickle or copy 'morvelan.{cls}' object: .* use its .value"):
            operation(h)


def test_repr_str_and_abc_registration():
    doc = loads(DOC)
    assert repr(doc["a"]) == "Item(integer, 1)"
    assert repr(doc["s"]) == 'Item(string, "hi")'
    assert str(doc["s"]) == "hi"
    assert str(doc["t"]["x"]) == "[1, 2]"
    assert isinstance(doc["t"], collections.abc.MutableMapping)
    assert isinstance(doc["arr"], collections.abc.MutableSequence)
    assert type(doc["t"]["x"]) is morvelan.ListItem


@pytest.mark.parametrize(
    "text, truth",
    [('v = ""', False), ("v = 0", False), ("v = 0.0", False), ("v = false", False), ("v = []", False),
     ("v = {}", False), ("v = nan", True), ("v = 1979-05-27", True), ('v = " "', True), ("v = [0]", True),
     ("v = {a = 0}", True)],
)
def test_truth_of_handles(text, truth):
    assert bool(loads(text)["v"]) is truth


def test_equality_and_hashing():
    doc = loads("a = 1\nb = 1.0\n[t]\nx = 1\n")
    other = loads("[t]\nx = 1 # other layout\n")
    assert doc["a"] == 1 and doc["a"] == doc["b"] and doc["a"] != 2
    assert doc["t"] == {"x": 1} and doc["t"] == other["t"]
    assert (doc["a"] == object()) is False
    assert doc["a"] != object()
    assert doc["t"] == loads("x = 1")  # a document compares by its root table
    assert loads("x = 1") == doc["t"]
    with pytest.raises(TypeError):
        doc["t"] < doc["t"]
    for h in (doc["t"], loads("l = [1]")["l"]):  # a ScalarItem hashes as its value (test_scalars.py)
        with pytest.raises(TypeError):
            hash(h)


NAN = "n = nan\nt = {x = nan}\na = [nan]\n[[aot]]\nx = nan\n"


# `!=` is the negation of `==` on every handle and view, also for an object
# compared with itself: TOML compares floats as IEEE does, so NaN equals
# nothing, not even itself, as float("nan") does not.
@pytest.mark.parametrize("get, equal", [
    (lambda d: d["n"], False),
    (lambda d: d["t"], False),
    (lambda d: d["a"], False),
    (lambda d: d["aot"], False),
    (lambda d: d["aot"][0], False),
    (lambda d: d["t"].items(), False),
    (lambda d: d["t"].keys(), True),
    (lambda d: d, True),  # a document is equal to itself
])
def test_not_equal_negates_equal_for_an_object_and_itself(get, equal):
    x = get(loads(NAN))
    assert (x == x) is equal
    assert (x != x) is (not equal)


@pytest.mark.parametrize(
    "text, index, expected",
    [("a = [\n  1,  # one\n  # above two\n  2,\n]", 1, "# above two\n  2"),
     ("a = [1, # one\n 2]", 1, "2"), ("a = [1, 2]", 1, "2")],
)
def test_element_text_starts_on_its_own_line(text, index, expected):
    # The rest of the line before an element (its neighbour's comment) is not its text.
    h = loads(text)["a"][index]
    assert h.as_toml() == expected and repr(h) == f"Item(integer, {expected})"


def test_value_is_a_fresh_copy():
    doc = loads("[t]\nx = [1, 2]\n")
    v = doc["t"].value
    v["x"].append(3)
    assert doc["t"]["x"].value == [1, 2]


@pytest.mark.parametrize(
    "text, expected",
    [("0xFF", ("ScalarItem", 255, "0xFF")), ("{a = 1}", ("DictItem", {"a": 1}, "{a = 1}")),
     ("[1,2]", ("ListItem", [1, 2], "[1,2]")), ("'''multi\nline'''", ("ScalarItem", "multi\nline", "'''multi\nline'''"))],
)
def test_item_parse(text, expected):
    cls, value, toml = expected
    h = morvelan.Item.parse(text)
    assert type(h).__name__ == cls and h.value == value and h.as_toml() == toml
    doc = loads("a = 1\n")
    doc["mask"] = h
    assert doc.as_toml() == f"a = 1\nmask = {toml}\n"


@pytest.mark.parametrize(
    "cls, text, message",
    [
        ("DictItem", "1", "DictItem.parse() requires a table value, got integer"),
        ("ListItem", "1", "ListItem.parse() requires a array value, got integer"),
        ("ScalarItem", "[1]", "ScalarItem.parse() requires a scalar value, got array"),
        ("Item", "[1,", None),
    ],
)
def test_parse_errors(cls, text, message):
    with pytest.raises(ValueError) as e:
        getattr(morvelan, cls).parse(text)
    if message:
        assert str(e.value) == message
    else:
        assert str(e.value).startswith("TOML parse error at line 1")


def test_parse_of_subclasses_accepts_their_kind():
    assert morvelan.DictItem.parse("{}").value == {}
    assert morvelan.ListItem.parse("[]").value == []
    assert morvelan.ScalarItem.parse("1979-05-27").value == datetime.date(1979, 5, 27)


def test_clear_fmt_implicit():
    doc = loads("a = 1\n[x.y]\nz = 1\n[t]\nk  =  [ 1 ,2, ]\n")
    with pytest.raises(TypeError, match=r"^'integer' does not support clear\(\)$"):
        doc["a"].clear()
    k = doc["t"]["k"]
    k.fmt()
    assert doc["t"]["k"].as_toml() == "[1, 2]"
    doc["t"].fmt()
    assert "k = [1, 2]" in doc.as_toml()
    assert doc["x"].implicit is True and doc["t"].implicit is False
    assert doc["t"]["k"].implicit is False
    doc["t"].implicit = True  # a table with a body of its own keeps its header
    assert "[t]\n" in doc.as_toml()
    nested = loads("[p]\n[p.q]\nk = 1\n")
    nested["p"].implicit = True
    assert nested.as_toml() == "[p.q]\nk = 1\n"
    nested["p"].implicit = False
    assert nested.as_toml() == "[p]\n[p.q]\nk = 1\n"
    with pytest.raises(TypeError, match="implicit"):
        doc["t"].implicit = 1
    inline = loads("i = {a = 1}\n")
    inline["i"].implicit = True
    assert inline["i"].implicit is False and inline.as_toml() == "i = {a = 1}\n"
    t = doc["t"]
    t.clear()
    t["k"] = 1  # the acting handle was refreshed
    assert doc["t"].value == {"k": 1}


@pytest.mark.parametrize("cls", ["Document", "Item", "DictItem", "ListItem", "ScalarItem", "KeysView",
                                 "ValuesView", "ItemsView"])
def test_every_method_has_a_signature(cls):
    cls = getattr(morvelan, cls)
    for name, member in vars(cls).items():
        if callable(member) and not name.startswith("__") or name in ("__copy__", "__deepcopy__", "__reversed__"):
            inspect.signature(getattr(cls, name))  # raises ValueError without a text signature


def test_signatures():
    for name in ("as_toml", "fmt", "clear"):
        assert str(inspect.signature(getattr(morvelan.Item, name))) == "(self, /)"
    assert str(inspect.signature(morvelan.Item.parse)) == "(text)"
    assert str(inspect.signature(morvelan.DictItem.get)) == "(self, key, default=None, /)"
    assert str(inspect.signature(morvelan.Document.pop)) == "(self, key, /, *default)"
    assert str(inspect.signature(morvelan.DictItem.update)) == "(self, other=None, /, **kwargs)"
    assert str(inspect.signature(morvelan.KeysView.__reversed__)) == "(self, /)"


# ---- staleness ----------------------------------------------------------------


def test_staleness_rules():
    doc = loads("[a]\nx = 1\ny = 2\n[c]\nz = 3\n")
    a, x, c = doc["a"], doc["a"]["x"], doc["c"]
    doc["b"] = 1
    assert a.value == {"x": 1, "y": 2} and x == 1  # a sibling edit
    doc["a"]["y"] = 5
    assert x == 1 and a["y"] == 5  # a sibling inside the same table
    doc["a"]["x"] = 3
    with pytest.raises(RuntimeError, match=f"^{STALE}$"):
        x.value
    assert a["x"] == 3 and c["z"] == 3  # ancestors and other tables stay valid
    a["x"] = 4
    assert a["x"] == 4  # the acting handle is not stale after editing its entry
    fresh = doc["a"]["x"]
    assert fresh == 4  # made after the stamp
    doc.fmt()
    assert fresh == 4
    doc.clear()
    for h in (a, c, fresh):
        with pytest.raises(RuntimeError, match=STALE):
            h.value


def every_handle(container, out):
    """Every handle below a document or handle, depth first."""
    if isinstance(container, morvelan.ListItem):
        children = [container[i] for i in range(len(container))]
    else:
        children = [container[k] for k in container]
    for h in children:
        out.append(h)
        if not isinstance(h, morvelan.ScalarItem):
            every_handle(h, out)
    return out


def reading(h):
    if isinstance(h, morvelan.ScalarItem):
        return h.value
    return type(h).__name__, list(h) if isinstance(h, morvelan.DictItem) else len(h)


@pytest.mark.skipif(not CORPUS_FILES, reason="../shared/corpus is absent")
@pytest.mark.parametrize("path", CORPUS_FILES, ids=case_id)
def test_new_handles_read_as_their_paths_resolve_after_an_edit(path):
    # A new handle takes the item its parent just found, until the document
    # changes; after an edit elsewhere (which may move the items of the root
    # table) each handle resolves its path again and must read the same.
    doc = loads(path.read_text(encoding="utf-8"))
    handles = every_handle(doc, [])
    before = [reading(h) for h in handles]
    doc["added by the test"] = 1
    assert [reading(h) for h in handles] == before


def test_removed_target_reports_stale():
    doc = loads("[a]\nx = 1\n")
    x = doc["a"]["x"]
    del doc["a"]["x"]
    with pytest.raises(RuntimeError, match=STALE):
        x.value
    doc["a"]["x"] = 2  # a new value at the old path does not revive the handle
    with pytest.raises(RuntimeError, match=STALE):
        x.value


def test_handles_taken_from_views_go_stale_on_clear():
    doc = loads("a = 1\nb = {c = 2}\n")
    values = list(doc.values())
    items = dict(doc.items())
    doc.clear()
    for h in values + list(items.values()):
        with pytest.raises(RuntimeError, match=STALE):
            h.value
    with pytest.raises(RuntimeError, match=STALE):
        loads("c = 2") == values[1]  # a document compares with a handle by resolving it


def test_handle_keeps_its_class_after_kind_change():
    doc = loads("[t]\nx = 1\n")
    t = doc["t"]
    doc["t"] = 5
    assert type(t) is morvelan.DictItem
    with pytest.raises(RuntimeError, match=STALE):
        t["x"]


def test_copies_do_not_share_handles():
    doc = loads("[t]\nx = 1\n")
    t = doc["t"]
    c = copy.copy(doc)
    c["t"]["x"] = 2
    assert t["x"] == 1 and c["t"]["x"] == 2


# ---- mapping members: results and errors ----------------------------------------


def test_mapping_results():
    doc = loads("a = 1\n[t]\nx = 1\ny = 2\n")
    t = doc["t"]
    assert t.get("x") == 1 and t.get("zz") is None and t.get("zz", 5) == 5 and t.get(1) is None
    assert "x" in t and 1 not in t and "zz" not in t
    assert list(t) == ["x", "y"] and len(t) == 2
    assert t.popitem() == ("y", 2)
    assert t.pop("zz", None) is None and t.pop(1, "d") == "d"
    assert t.setdefault("x") == 1 and t.setdefault("n", 7) == 7
    t.update([("a", 1), ("b", 2)], c=3)
    assert list(t) == ["x", "n", "a", "b", "c"]
    t.update({"a": 10}, a=11)
    assert t["a"] == 11
    t |= {"d": 4}
    assert t["d"] == 4
    assert doc.pop("a") == 1 and doc.popitem()[0] == "t"
    assert len(doc) == 0 and doc.get("t") is None


@pytest.mark.parametrize(
    "op, exc, message",
    [
        (lambda t: t[1], TypeError, "TOML table keys must be strings"),
        (lambda t: t.__setitem__(1, 1), TypeError, "TOML table keys must be strings"),
        (lambda t: t.__delitem__(1), TypeError, "TOML table keys must be strings"),
        (lambda t: t["zz"], KeyError, "'zz'"),
        (lambda t: t.__delitem__("zz"), KeyError, "'zz'"),
        (lambda t: t.pop("zz"), KeyError, "'zz'"),
        (lambda t: t.pop(1), KeyError, "'1'"),
        (lambda t: t.pop("a", 1, 2), TypeError, "pop expected at most 2 arguments, got 3"),
        (lambda t: t.setdefault("n"), TypeError, "setdefault() requires a default value: TOML has no null type"),
        (lambda t: t.setdefault(1, 2), TypeError, "keys must be strings"),
        (lambda t: t.update({1: 2}), TypeError, "keys must be strings"),
        (lambda t: t.update([("a",)]), ValueError, "expected a length-2 iterable pair"),
        (lambda t: t.update([1]), ValueError, "expected a length-2 iterable pair"),
        (lambda t: t.update([("a", 1, 2)]), ValueError, "expected a length-2 iterable pair"),
        (lambda t: t.__setitem__("k", None), TypeError, None),
        (lambda t: t.__setitem__("k", object()), TypeError, None),
    ],
)
@pytest.mark.parametrize("where", ["root", "table", "inline"])
def test_mapping_errors_change_nothing(op, exc, message, where):
    text = "a = 1\n[t]\na = 1\ni = {a = 1}\n"
    doc = loads(text)
    target = {"root": doc, "table": doc["t"], "inline": doc["t"]["i"]}[where]
    with pytest.raises(exc) as e:
        op(target)
    if message is not None:
        assert str(e.value) == message
    assert doc.as_toml() == text


def test_popitem_on_empty_table():
    doc = loads("[t]\n")
    with pytest.raises(KeyError, match="popitem\\(\\): dictionary is empty"):
        doc["t"].popitem()
    with pytest.raises(KeyError, match="popitem\\(\\): dictionary is empty"):
        morvelan.Document().popitem()


def test_iteration_is_a_snapshot():
    doc = loads("a = 1\nb = 2\nc = 3\n")
    seen = []
    for k in doc:
        seen.append(k)
        if k in doc:
            del doc[k]
    assert seen == ["a", "b", "c"] and len(doc) == 0


def test_or_operators():
    doc = loads("a = 1 # one\n[t]\nx = 1\n")
    merged = doc | {"b": 2}
    assert type(merged) is morvelan.Document
    assert merged.value == {"a": 1, "t": {"x": 1}, "b": 2} and "b" not in doc
    assert "# one" in merged.as_toml()
    right = {"a": 0, "z": 9} | doc
    assert type(right) is dict and right == {"a": 1, "z": 9, "t": {"x": 1}}
    t2 = doc["t"] | {"y": 2}
    assert type(t2) is morvelan.DictItem and t2.value == {"x": 1, "y": 2} and doc["t"].value == {"x": 1}
    assert ({"q": 1} | doc["t"]) == {"q": 1, "x": 1}
    with pytest.raises(TypeError):
        doc | 5
    with pytest.raises(TypeError):
        5 | doc["t"]
    same = doc
    doc |= {"c": 3}
    assert doc is same and doc["c"] == 3


def test_assigning_a_document_or_handle_into_itself_copies():
    doc = loads("[t]\nx = 1 # c\n")
    doc["t"]["self"] = doc["t"]
    assert doc.value == {"t": {"x": 1, "self": {"x": 1}}}
    doc["all"] = doc
    assert doc["all"].value == {"t": {"x": 1, "self": {"x": 1}}}
    assert loads(doc.as_toml()).value == doc.value


def test_update_failure_halfway_applies_nothing():
    doc = loads("a = 1\n")
    with pytest.raises(TypeError):
        doc.update({"b": 2, "c": object()})
    assert doc.value == {"a": 1}

    class BadMapping(collections.abc.Mapping):
        def __getitem__(self, k):
            raise LookupError("no")

        def __iter__(self):
            return iter(["x"])

        def __len__(self):
            return 1

    with pytest.raises(LookupError):
        doc.update(BadMapping())

    class BadKeys(BadMapping):
        def keys(self):
            raise RuntimeError("keys failed")

    with pytest.raises(RuntimeError, match="keys failed"):
        doc.update(BadKeys())
    assert doc.value == {"a": 1}


def test_handle_of_another_document_is_copied_with_its_spelling():
    src = loads("v = 0xFF # hex\n")
    dst = loads("a = 1\n")
    dst["v"] = src["v"]
    assert dst["v"].as_toml().startswith("0xFF")
    src["v"] = 1
    assert dst["v"] == 255


# ---- views --------------------------------------------------------------------


def test_views_are_live():
    doc = loads("a = 1\nb = 2\n")
    k, v, i = doc.keys(), doc.values(), doc.items()
    doc["new"] = 3
    assert "new" in k and len(k) == 3 and len(v) == 3 and ("new", 3) in i
    it = iter(doc.keys())
    del doc["a"]
    assert list(it) == ["a", "b", "new"]
    assert repr(k) == "KeysView(['b', 'new'])"
    assert repr(v) == "ValuesView(<2 values>)" and repr(i) == "ItemsView(<2 items>)"
    assert list(reversed(k)) == ["new", "b"]
    assert [x.value for x in reversed(v)] == [3, 2]
    assert [(key, h.value) for key, h in i] == [("b", 2), ("new", 3)]


def test_view_comparisons_and_set_operators():
    doc = loads("a = 1\nb = 2\n")
    k, i = doc.keys(), doc.items()
    assert k == {"a", "b"} and k != {"a"} and k == frozenset({"a", "b"}) and k == loads("a = 0\nb = 0").keys()
    assert (k == ["a", "b"]) is False
    with pytest.raises(TypeError):
        k < {"a"}
    assert k & {"a", "z"} == {"a"} and {"a", "z"} - k == {"z"} and k - {"a"} == {"b"}
    assert k | ["c"] == {"a", "b", "c"} and k ^ {"a", "c"} == {"b", "c"}
    assert type(k & {"a"}) is set
    with pytest.raises(TypeError):
        k & 5
    assert i == {("a", 1), ("b", 2)} and i != {("a", 1)} and (i == [("a", 1), ("b", 2)]) is False
    assert ("a", 1) in i and ["a", 1] not in i and ("a", 2) not in i and (1, 1) not in i
    assert i - {("a", 1)} == {("b", 2)}
    assert 1 in doc.values() and 3 not in doc.values() and object() not in doc.values()
    assert doc["a"] in doc.values()
    arr = loads("a = [1]\n")
    with pytest.raises(TypeError):
        arr.items() | set()


class ItemsLike(collections.abc.Set):
    def __init__(self, items):
        self.items = list(items)

    def __contains__(self, x):
        return x in self.items

    def __iter__(self):
        return iter(self.items)

    def __len__(self):
        return len(self.items)


def test_items_view_equality_with_unhashable_values():
    doc = loads("a = [1, 2]\n")
    assert doc.items() == ItemsLike([("a", [1, 2])])
    assert doc.items() != ItemsLike([("a", [1])])


# Every use of a stale handle or view raises, also one whose answer needs no
# look at the table (a key that is not a str, an object that is not a set).
@pytest.mark.parametrize("make, use", [
    (lambda d: d["t"], lambda t: 1 in t),
    (lambda d: d["t"], lambda t: t.get(1)),
    (lambda d: d["t"], lambda t: t.pop(1, None)),
    (lambda d: d["t"], lambda t: t != t),
    (lambda d: d["it"], lambda t: 1 in t),
    (lambda d: d["a"], lambda a: object() in a),
    (lambda d: d["a"], lambda a: a != a),
    (lambda d: d["aot"], lambda a: object() in a),
    (lambda d: d["s"], lambda s: "a" in s),
    (lambda d: d["s"], lambda s: s != s),
    (lambda d: d["t"].keys(), lambda v: 1 in v),
    (lambda d: d["t"].values(), lambda v: 1 in v),
    (lambda d: d["t"].items(), lambda v: 1 in v),
    (lambda d: d["t"].items(), lambda v: ("x", 1, 2) in v),
    (lambda d: d["t"].items(), lambda v: v == 1),
    (lambda d: d["t"].items(), lambda v: v != 1),
])
def test_stale_handles_and_views_raise(make, use):
    doc = loads("s = 'ab'\na = [1]\nit = {x = 1}\n[t]\nx = 1\n[[aot]]\nx = 1\n")
    obj = make(doc)
    doc.clear()
    with pytest.raises(RuntimeError, match=f"^{STALE}$"):
        use(obj)


def test_views_go_stale_with_their_table():
    doc = loads("[t]\nx = 1\n")
    v = doc["t"].keys()
    doc["t"]["y"] = 2
    assert len(v) == 2
    doc["t"] = {"x": 1}
    with pytest.raises(RuntimeError, match=STALE):
        len(v)
    s = loads("t = 1\n")
    assert len(s.keys()) == 1


# ---- reading lists ----------------------------------------------------------------


def test_list_indexing_and_slicing():
    doc = loads("a = [1, 2, 3]\n[[p]]\nx = 1\n[[p]]\nx = 2\n")
    a = doc["a"]
    assert a[-1] == 3 and a[0] == 1 and len(a) == 3
    assert [h.value for h in a[::-1]] == [3, 2, 1] and [h.value for h in a[1:]] == [2, 3] and a[5:] == []
    assert [h.value for h in a] == [1, 2, 3] and [h.value for h in reversed(a)] == [3, 2, 1]
    assert a[doc["p"][0]["x"]] == 2  # an Item holding an integer is an index
    assert type(doc["p"]) is morvelan.ListItem and type(doc["p"][1]) is morvelan.DictItem
    assert doc["p"][1]["x"] == 2 and len(doc["p"]) == 2
    doc["p"][0]["y"] = 5
    assert doc.as_toml() == "a = [1, 2, 3]\n[[p]]\nx = 1\ny = 5\n[[p]]\nx = 2\n"


@pytest.mark.parametrize(
    "op, exc, message",
    [
        (lambda a: a[3], IndexError, "index out of range"),
        (lambda a: a[-4], IndexError, "index out of range"),
        (lambda a: a["0"], TypeError, "TOML array indices must be integers or slices, not str"),
        (lambda a: a[1.0], TypeError, "TOML array indices must be integers or slices, not float"),
        (lambda a: a.index(9), ValueError, "value not in array"),
        (lambda a: a.index(1, 1), ValueError, "value not in array"),
    ],
)
def test_list_reading_errors(op, exc, message):
    with pytest.raises(exc, match=f"^{message}$"):
        op(loads("a = [1, 2, 3]\n")["a"])


def test_list_membership_compares_toml_values():
    a = loads("a = [1, 1, 2.0, 'x', {k = 1}]\n")["a"]
    assert a.count(1) == 2 and a.count("1") == 0 and 2 in a and {"k": 1} in a and object() not in a
    assert a.index(2) == 2 and a.index(1, -4) == 1 and a.index("x", 0, 10) == 3


def test_list_element_handles_go_stale_with_their_list():
    doc = loads("a = [1, 2]\n")
    e1 = doc["a"][1]
    doc["a"] = [7, 8]
    with pytest.raises(RuntimeError, match=STALE):
        e1.value


SOURCE = "arr = [\n  1, # one\n  2 # two\n]\nx = 5 # five\nit = {a = 1, # A\n b = 2}\n"


@pytest.mark.parametrize(
    "build, expected",
    [
        # Copies leave the layout of their old place behind: inside a new
        # array they take its layout; on a key line they keep their comment.
        (lambda d: {"a": [d["arr"][0], d["arr"][1], d["x"]]}, "a = [1, 2, 5]\n"),
        (lambda d: {"p": d["arr"][0], "q": d["arr"][1], "r": d["it"]["a"], "s": d["x"]},
         "p = 1 # one\nq = 2 # two\nr = 1 # A\ns = 5 # five\n"),
        (lambda d: {"t": {"q": d["x"]}, "l": [{"q": d["x"]}]}, "[t]\nq = 5 # five\n\n[[l]]\nq = 5 # five\n"),
    ],
)
def test_copied_handles_fit_their_new_place(build, expected):
    doc = loads(SOURCE)
    text = morvelan.dumps(build(doc))
    assert text == expected
    assert morvelan.Document(build(doc)).as_toml() == expected
    target = loads("a = 0\n")
    for key, value in build(doc).items():
        target[key] = value
    assert loads(target.as_toml()).value == target.value


def test_copied_tables_keep_their_sub_tables_together():
    other = loads("[tab]\nx = 1\n[[aot]]\nn = 1\n[[aot]]\nn = 2\n[aot.sub]\nz = 'z'\n")
    value = {"k": [other["aot"][1]["sub"], {"one": 1, "doc": other}]}
    text = morvelan.dumps(value)
    assert loads(text).value == morvelan.Document(value).value
    target = loads("[a]\nb = 1\n")
    target["c"] = value["k"]
    target["d"] = other
    assert loads(target.as_toml()).value == target.value


@pytest.mark.parametrize("old, new, exc, message", [
    ("nope", "x", KeyError, "'nope'"),
    ("a", "t", KeyError, "\"rename(): the key 't' is there already\""),
    ("a", 1, TypeError, "'int' object is not an instance of 'str'"),
])
def test_rename_errors_change_nothing(old, new, exc, message):
    doc = loads(DOC)
    with pytest.raises(exc) as info:
        doc.rename(old, new)
    assert str(info.value) == message and doc.as_toml() == DOC


def test_rename_makes_the_handles_below_stale():
    doc = loads(DOC)
    t, x, a = doc["t"], doc["t"]["x"], doc["a"]
    doc.rename("t", "u")
    assert a.value == 1 and doc["u"]["x"].value == [1, 2] and "t" not in doc
    for h in (t, x):
        with pytest.raises(RuntimeError, match=STALE):
            h.value
