"""What the library writes it reads back; a failed removal changes nothing; a
value Python cannot hold names where it stands."""

import pytest

import morvelan
from toml_cases import on_stack

pytestmark = pytest.mark.needs_module


def nest(levels, make, leaf=1):
    for _ in range(levels):
        leaf = make(leaf)
    return leaf


def lists(n):
    return nest(n, lambda v: [v])


def tables(n):
    return nest(n - 1, lambda v: {"k": v}, {"x": 1})


# A value whose text would nest deeper than the parser reads (80 levels of
# arrays and inline tables in a value, 80 keys in a header or a dotted key) is
# refused before anything is stored.
@pytest.mark.parametrize("write, refused", [
    (lambda: morvelan.dumps({"a": lists(80)}), None),
    (lambda: morvelan.dumps({"a": lists(81)}), "levels"),
    (lambda: morvelan.Document({"a": lists(81)}).as_toml(), "levels"),
    (lambda: morvelan.loads("x = 1\n").__setitem__("a", lists(81)), "levels"),
    (lambda: morvelan.loads("x = [1]\n")["x"].append(lists(80)), "levels"),
    (lambda: morvelan.loads("x = [1]\n")["x"].append([{"k": lists(77)}]), None),
    (lambda: morvelan.loads("x = {}\n")["x"].update(a=lists(80)), "levels"),
    (lambda: morvelan.dumps(tables(81)), None),  # [k.k...] with 80 keys
    (lambda: morvelan.dumps(tables(82)), "keys"),
    (lambda: morvelan.loads("[" + ".".join("k" * 80) + "]\n")["k"].__setitem__("c", {}), None),
])
def test_writes_only_what_reads_back(write, refused):
    if refused is None:
        write()
        return
    message = "arrays and inline tables may nest at most 80" if refused == "levels" else "at most 80 keys"
    with pytest.raises(ValueError, match=message):
        write()


def on_small_stack(fn):
    """fn() in a thread with a 40 KiB stack, too little to convert 80 levels (the
    C stack is checked the same way on every Python version; the recursion
    limit is not)."""
    return on_stack(40 * 1024, fn)


# An operation that raises leaves the document as it was: pop() and popitem()
# convert the value before they remove it.
@pytest.mark.parametrize("text, pop, error", [
    ("a = 0000-01-01\n", lambda d: d.pop("a"), ValueError),
    ("a = 0000-01-01\n", lambda d: d.popitem(), ValueError),
    ("t = {a = [07:32:60]}\n", lambda d: d["t"].pop("a"), ValueError),
    ("a = [1, 0000-01-01]\n", lambda d: d["a"].pop(), ValueError),
    ("a = [[{b = 0000-01-01}]]\n", lambda d: d["a"].pop(0), ValueError),
    ("a = " + "[" * 80 + "]" * 80 + "\n", lambda d: on_small_stack(lambda: d.pop("a")), RecursionError),
    ("a = " + "[" * 80 + "]" * 80 + "\n", lambda d: on_small_stack(lambda: d["a"].pop()), RecursionError),
])
def test_a_failed_pop_removes_nothing(text, pop, error):
    doc = morvelan.loads(text)
    with pytest.raises(error):
        pop(doc)
    assert doc.as_toml() == text


# A value Python cannot hold names where it stands.
@pytest.mark.parametrize("text, read, where", [
    ("x = 0000-01-01\n", lambda d: d.value, "x"),
    ("x = 0000-01-01\n", lambda d: d["x"].value, "x"),
    ("t = 07:32:60\n", lambda d: d.value, "t"),
    ("[a]\nb = [1, 2, 3, {c = 1979-05-27T07:32:60}]\n", lambda d: d.value, "a.b[3].c"),
    ("[a]\n'b c'.d = [0000-01-01]\n", lambda d: d["a"].value, 'a."b c".d[0]'),
    ("[[p]]\n[[p]]\nx = 0000-01-01\n", lambda d: d["p"][1].value, "p[1].x"),
    ("[a]\nx = 0000-01-01\n", lambda d: d["a"].items() == {("x", None)}, "a.x"),
])
def test_a_value_python_cannot_hold_names_its_path(text, read, where):
    with pytest.raises(ValueError) as info:
        read(morvelan.loads(text))
    assert str(info.value).endswith(f" (at {where})"), str(info.value)
