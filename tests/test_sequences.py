"""ListItem as a mutable sequence: results, errors, which handles an edit makes
stale, and bad input that must leave the document as it was. The layout
rules of the edits are tested on the tree (tests/engine/test_list_ops.cpp)
and by the property tests."""

import bisect
import collections.abc
import datetime as dt
import re

import pytest
from toml_cases import CORPUS_FILES, case_id

pytestmark = pytest.mark.needs_module
morvelan = pytest.importorskip("morvelan")

TEXT = "arr = [1, 2, 3]  # three\nempty = []\nn = 1\n[[aot]]\nx = 1\n\n[[aot]]\nx = 2\n"


def doc():
    return morvelan.loads(TEXT)


def raises(call, exc, message):
    with pytest.raises(exc) as info:
        call()
    assert info.value.args[0] == message


@pytest.mark.parametrize("call, exc, message", [
    (lambda d: d["arr"]["0"], TypeError, "TOML array indices must be integers or slices, not str"),
    (lambda d: d["arr"][1.0], TypeError, "TOML array indices must be integers or slices, not float"),
    (lambda d: d["arr"].__setitem__(None, 1), TypeError, "TOML array indices must be integers or slices, not NoneType"),
    (lambda d: d["arr"][3], IndexError, "index out of range"),
    (lambda d: d["arr"][-4], IndexError, "index out of range"),
    (lambda d: d["arr"].__setitem__(3, 1), IndexError, "index out of range"),
    (lambda d: d["arr"].__delitem__(-4), IndexError, "index out of range"),
    (lambda d: d["arr"].pop(5), IndexError, "index out of range"),
    (lambda d: d["empty"].pop(), IndexError, "pop from empty array"),
    (lambda d: d["arr"].remove(9), ValueError, "value not in array"),
    (lambda d: d["arr"].index(1, 1), ValueError, "value not in array"),
    (lambda d: d["arr"].__setitem__(slice(None, None, 2), [1]), ValueError,
     "attempt to assign sequence of size 1 to extended slice of size 2"),
    (lambda d: d["arr"][::0], ValueError, "slice step cannot be zero"),
    (lambda d: d["arr"].__setitem__(slice(0, 1), 5), TypeError, "can only assign an iterable"),
    (lambda d: d["arr"].extend(5), TypeError, "'int' object is not iterable"),
    (lambda d: d["aot"].append(1), TypeError, "cannot append integer to array of tables (expected a table/dict)"),
    (lambda d: d["aot"].__setitem__(0, [1]), TypeError, "cannot append array to array of tables (expected a table/dict)"),
    (lambda d: d["arr"].append(None), TypeError, "None is not a valid TOML value (TOML has no null type)"),
    (lambda d: d["arr"].set_multiline(indent="2"), TypeError, "'str' object is not an instance of 'int'"),
    (lambda d: d["arr"].set_multiline(2), TypeError, "ListItem.set_multiline() takes 0 positional arguments but 1 was given"),
    (lambda d: d["arr"].pop(1, 2), TypeError, "ListItem.pop() takes from 0 to 1 positional arguments but 2 were given"),
    (lambda d: d["arr"].insert(1), TypeError, "ListItem.insert() missing 1 required positional argument: 'value'"),
    (lambda d: d.get(), TypeError, "Document.get() missing 1 required positional argument: 'key'"),
    (lambda d: d["aot"][0].pop(), TypeError, "DictItem.pop() missing 1 required positional argument: 'key'"),
    (lambda d: d.keys().__reversed__(1), TypeError, "KeysView.__reversed__() takes 0 positional arguments but 1 was given"),
    (lambda d: d["arr"] * "x", TypeError, "can't multiply sequence by non-int of type 'morvelan.ListItem'"),
    (lambda d: d["arr"] + 1, TypeError, "unsupported operand type(s) for +: 'morvelan.ListItem' and 'int'"),
    (lambda d: d["arr"].sort(key=lambda v: [1] if v == 2 else "x"), TypeError,
     "'<' not supported between instances of 'list' and 'str'"),
    (lambda d: d["arr"].sort(key=lambda v: (d.__setitem__("n", 1), v)[1]), ValueError, "array modified during sort()"),
    (lambda d: d["aot"].sort(), TypeError, "'<' not supported between instances of 'dict' and 'dict'"),
    (lambda d: d["arr"].sort(len), TypeError, "ListItem.sort() takes 0 positional arguments but 1 was given"),
    (lambda d: d.sort(key=lambda k: 1 if k == "n" else "x"), TypeError,
     "'<' not supported between instances of 'int' and 'str'"),
    (lambda d: d.sort(key=lambda k: 1 / 0), ZeroDivisionError, "division by zero"),
    (lambda d: d.sort(key=lambda k: (d.__setitem__("n", 1), k)[1]), ValueError, "table modified during sort()"),
    (lambda d: d["aot"][0].sort(len), TypeError, "DictItem.sort() takes 0 positional arguments but 1 was given"),
])
def test_errors_leave_the_document_alone(call, exc, message):
    d = doc()
    raises(lambda: call(d), exc, message)
    assert d.as_toml() == TEXT


HUGE = 10**20


def as_list(op, target):
    """What `op` does to `target`: its result (a handle read as its value) and
    what the list holds after it, or the type of the exception raised."""
    try:
        r = op(target)
    except Exception as e:  # noqa: BLE001 - the exception is the outcome
        return type(e)
    return (r.value if isinstance(r, morvelan.Item) else r,
            target.value if isinstance(target, morvelan.Item) else target)


# An index beyond the machine's integers: what a list raises (IndexError where
# it names an element, OverflowError for insert() and pop()), and index()
# takes it as a bound, as list.index does.
@pytest.mark.parametrize("op", [
    lambda l: l[HUGE],
    lambda l: l[-HUGE],
    lambda l: l.__setitem__(HUGE, 1),
    lambda l: l.__delitem__(-HUGE),
    lambda l: l.insert(HUGE, 1),
    lambda l: l.insert(-HUGE, 1),
    lambda l: l.pop(HUGE),
    lambda l: l.pop(-HUGE),
    lambda l: l.index(1, -HUGE),
    lambda l: l.index(3, 0, HUGE),
    lambda l: l.index(1, HUGE),
    lambda l: l.index(1, 0, -HUGE),
    lambda l: l * HUGE,
    lambda l: l.__imul__(-HUGE),
])
def test_huge_indices_act_as_on_a_list(op):
    assert as_list(op, doc()["arr"]) == as_list(op, [1, 2, 3])


class Countable:
    def __index__(self):
        return 2


# += takes any iterable, as a list's does; * and *= any integer-like count.
@pytest.mark.parametrize("op", [
    lambda l: l.__iadd__(i for i in range(2)),
    lambda l: l.__iadd__("ab"),
    lambda l: l.__iadd__((4,)),
    lambda l: l.__iadd__(range(2)),
    lambda l: l.__iadd__({"k": 1}),
    lambda l: l.__iadd__(3),
    lambda l: l.__imul__(Countable()),
    lambda l: l.__imul__(True),
    lambda l: l.__imul__(-1),
    lambda l: l * Countable(),
])
def test_in_place_operators_take_what_a_list_takes(op):
    assert as_list(op, doc()["arr"]) == as_list(op, [1, 2, 3])


def test_indent_errors_name_the_argument():
    with pytest.raises(ValueError) as info:
        doc()["arr"].set_multiline(indent=-1)
    assert info.value.__notes__ == ["while processing 'indent'"]


@pytest.mark.parametrize("edit, stale, value", [
    (lambda l: l.append(4), [], [1, 2, 3, 4]),
    (lambda l: l.extend([4, 5]), [], [1, 2, 3, 4, 5]),
    (lambda l: l.__iadd__([4]), [], [1, 2, 3, 4]),
    (lambda l: l.insert(1, 9), [1, 2], [1, 9, 2, 3]),
    (lambda l: l.insert(-1, 9), [2], [1, 2, 9, 3]),
    (lambda l: l.insert(-10, 9), [0, 1, 2], [9, 1, 2, 3]),
    (lambda l: l.insert(10, 9), [], [1, 2, 3, 9]),
    (lambda l: l.__setitem__(1, 9), [1], [1, 9, 3]),
    (lambda l: l.__setitem__(slice(0, 3, 2), [7, 8]), [0, 2], [7, 2, 8]),
    (lambda l: l.__setitem__(slice(1, 2), [8, 9]), [1, 2], [1, 8, 9, 3]),
    (lambda l: l.__setitem__(slice(0, 2), [9]), [0, 1, 2], [9, 3]),
    (lambda l: l.__delitem__(0), [0, 1, 2], [2, 3]),
    (lambda l: l.__delitem__(slice(1, None)), [1, 2], [1]),
    (lambda l: l.pop(), [2], [1, 2]),
    (lambda l: l.remove(2), [1, 2], [1, 3]),
    (lambda l: l.__imul__(2), [0, 1, 2], [1, 2, 3, 1, 2, 3]),
    (lambda l: l.set_multiline(), [], [1, 2, 3]),
    (lambda l: l.clear(), [0, 1, 2], []),
    (lambda l: l.reverse(), [0, 1, 2], [3, 2, 1]),
    (lambda l: l.sort(key=lambda v: -v), [0, 1, 2], [3, 2, 1]),
    (lambda l: l.sort(key=lambda v: v % 2, reverse=True), [0, 1, 2], [1, 3, 2]),
])
def test_which_handles_go_stale(edit, stale, value):
    d = doc()
    lst = d["arr"]
    elements = [lst[i] for i in range(3)]
    n = d["n"]
    edit(lst)
    assert lst.value == value   # the acting handle stays usable
    assert n.value == 1
    for i, e in enumerate(elements):
        if i in stale:
            with pytest.raises(RuntimeError, match="stale"):
                e.value
        else:
            assert e.value == i + 1


def test_reading_members():
    d = doc()
    lst = d["arr"]
    assert isinstance(lst, collections.abc.MutableSequence)
    assert [h.value for h in lst[::-1]] == [3, 2, 1] and lst[-1].value == 3
    assert lst[d["n"]].value == 2   # an Item holding an integer is an index
    assert [h.value for h in reversed(lst)] == [3, 2, 1]
    assert 2 in lst and "2" not in lst and object() not in lst
    assert lst.count(1) == 1 and lst.count("1") == 0 and lst.index(3, -1) == 2
    assert bisect.bisect(lst, 2, key=lambda h: h.value) == 2
    assert [h.value for h in d["aot"]] == [{"x": 1}, {"x": 2}] and type(d["aot"][0]) is morvelan.DictItem
    assert {"x": 2} in d["aot"] and d["aot"].index({"x": 2}) == 1
    # a date-time written with Z equals the value read from it
    t = morvelan.loads("t = [1979-05-27T07:32:00Z]")["t"]
    assert t[0] == t[0].value and t.count(dt.datetime(1979, 5, 27, 7, 32, tzinfo=dt.timezone.utc)) == 1


def test_concatenation_and_repetition_make_new_lists():
    d = doc()
    lst = d["arr"]
    for new, value in [(lst + [4], [1, 2, 3, 4]), ([0] + lst, [0, 1, 2, 3]), (lst + lst, [1, 2, 3] * 2),
                       (lst * 2, [1, 2, 3] * 2), (2 * lst, [1, 2, 3] * 2), (lst * 0, []),
                       (d["aot"] + [{"x": 3}], [{"x": 1}, {"x": 2}, {"x": 3}])]:
        assert type(new) is morvelan.ListItem and new.value == value
    assert (lst + [4]).as_toml() == "[1, 2, 3, 4]"
    assert d.as_toml() == TEXT


@pytest.mark.parametrize("edit, value", [
    (lambda d, l: l.extend(l), [1, 2, 3, 1, 2, 3]),
    (lambda d, l: l.__iadd__(l), [1, 2, 3, 1, 2, 3]),
    (lambda d, l: l.__setitem__(slice(None), l), [1, 2, 3]),
    (lambda d, l: l.append(d), [1, 2, 3, {"arr": [1, 2, 3], "empty": [], "n": 1, "aot": [{"x": 1}, {"x": 2}]}]),
    (lambda d, l: l.append(morvelan.loads("a = [5, {b = 6}]  # c")["a"]), [1, 2, 3, [5, {"b": 6}]]),
    (lambda d, l: l.insert(0, morvelan.Item.parse("0xFF")), [255, 1, 2, 3]),
    (lambda d, l: l.extend(x for x in (4, 5)), [1, 2, 3, 4, 5]),
])
def test_values_from_anywhere(edit, value):
    d = doc()
    edit(d, d["arr"])
    assert d["arr"].value == value
    assert morvelan.loads(d.as_toml())["arr"].value == value


def _failing_iterable():
    yield 4
    raise RuntimeError("half-way")


@pytest.mark.parametrize("edit, exc", [
    (lambda l: l.extend(_failing_iterable()), RuntimeError),
    (lambda l: l.extend([4, object(), 5]), TypeError),
    (lambda l: l.__setitem__(slice(0, 1), [4, 2**64]), OverflowError),
    (lambda l: l.__iadd__([4, None]), TypeError),
    (lambda l: l.__imul__(10**12), MemoryError),
    (lambda l: l.__imul__(2**70), OverflowError),
])
def test_bad_input_half_way_changes_nothing(edit, exc):
    d = doc()
    with pytest.raises(exc):
        edit(d["arr"])
    assert d.as_toml() == TEXT


def test_stale_and_moved_handles():
    d = doc()
    lst = d["arr"]
    d["arr"] = [5]
    with pytest.raises(RuntimeError, match="stale"):
        lst.append(1)
    assert d.as_toml().startswith("arr = [5]  # three\n")


def test_moved_members_make_handles_below_them_stale():
    d = doc()
    aot = d["aot"]
    first, second = aot[0]["x"], aot[1]["x"]
    aot.insert(1, {"x": 9})
    assert first.value == 1
    with pytest.raises(RuntimeError, match="stale"):
        second.value
    moved = aot[2]["x"]   # made after the edit
    aot[0] = {"x": 0}     # replacing one member leaves the others' handles alone
    assert moved.value == 2 and aot.value == [{"x": 0}, {"x": 9}, {"x": 2}]
    with pytest.raises(RuntimeError, match="stale"):
        first.value


# Members of an array of tables read from the text and added by edits, or
# with another table's header among them, are not reordered.
@pytest.mark.parametrize("text, edit", [
    (TEXT, lambda d: d["aot"].append({"x": 3})),
    ("[[a]]\nx = 1\n[b]\n[[a]]\nx = 2\n", None),
])
def test_members_that_cannot_move_stay(text, edit):
    d = morvelan.loads(text)
    if edit:
        edit(d)
    before = d.as_toml()
    members = d["aot" if "aot" in d else "a"]
    for op in (members.reverse, lambda: members.sort(key=repr)):
        with pytest.raises(ValueError, match="cannot move the members of this array of tables"):
            op()
    assert d.as_toml() == before


# Sections of a table with another table's header among them, and the lines
# of a dotted table written among other lines, are not reordered.
@pytest.mark.parametrize("text, path, message", [
    ("[t.b]\n[u]\n[t.a]\n", ["t"], "sort() cannot move the sections of this table"),
    ("a.y = 1\nb = 2\na.x = 3\n", ["a"], "sort() cannot move the lines of this dotted table"),
])
def test_entries_that_cannot_move_stay(text, path, message):
    d = morvelan.loads(text)
    table = d
    for step in path:
        table = table[step]
    names = list(table)
    with pytest.raises(ValueError, match=re.escape(message)):
        table.sort(reverse=True)
    assert d.as_toml() == text and list(table) == names


# sort() of a table (and of the document) orders the entries by key(name),
# stably, like list.sort(); handles on and below the table stay valid: their
# keys name the same entries, holding the same values.
@pytest.mark.parametrize("options", [{}, {"reverse": True}, {"key": len}, {"key": len, "reverse": True},
                                     {"key": str.upper, "reverse": 1}])
def test_sorting_a_table_orders_its_entries(options):
    d = morvelan.loads("bb = 1\nB = 2\na = [3]\n[t]\nc = 4\n[[aaa]]\nz = 5\n")
    names = list(d)
    handles = {k: d[k] for k in names}
    member = d["aaa"][0]
    d.sort(**options)
    assert list(d) == sorted(names, **options)
    assert {k: h.value for k, h in handles.items()} == morvelan.loads(d.as_toml()).value
    assert member.value == {"z": 5}


# A sort made by the key function (which changes no entry, and so is no
# modification) does not mix up the order found: it is applied by name.
def test_a_sort_inside_the_key_function_leaves_the_order_found():
    d = morvelan.loads("b = 1\na = 2\nc = 3\n")

    def key(name):
        d.sort(reverse=True)
        return name

    d.sort(key=key)
    assert list(d) == ["a", "b", "c"] and d.as_toml() == "a = 2\nb = 1\nc = 3\n"


# Reversing moves each element with its comments (a member of an array of
# tables with its sections): on every array of the corpus the text reads back
# as the reversed values and keeps every comment; reversed again, the values
# are as they were.
@pytest.mark.skipif(not CORPUS_FILES, reason="../shared/corpus is absent")
@pytest.mark.parametrize("path", CORPUS_FILES, ids=case_id)
def test_reversing_arrays_keeps_their_comments(path):
    text = path.read_text(encoding="utf-8")
    d = morvelan.loads(text)

    def arrays(node):
        children = node.values() if isinstance(node, (morvelan.Document, morvelan.DictItem)) else node
        for child in children:
            if isinstance(child, morvelan.ListItem) and len(child) > 1:
                yield child
            if isinstance(child, (morvelan.DictItem, morvelan.ListItem)):
                yield from arrays(child)

    def reverse_all():
        # Inner arrays first: reversing an array makes the handles inside it
        # stale. Arrays of tables with other headers among their members stay.
        for array in reversed(list(arrays(d))):
            value = array.value
            try:
                array.reverse()
            except ValueError:
                assert array.kind == "array of tables" and array.value == value
                continue
            assert array.value == value[::-1]

    reverse_all()
    after = d.as_toml()
    assert morvelan.loads(after) == d and morvelan.loads(after).as_toml() == after
    assert after.count("#") == text.count("#")
    reverse_all()
    assert d == morvelan.loads(text) and d.as_toml().count("#") == text.count("#")


# Reading an element of a packed array reads it out of the array's text and
# unpacks nothing: on every array of the corpus, and on long arrays (read from
# their marks and on from the last element read), each element reads as it
# does once the array is unpacked, and the handles taken stay right when the
# array is unpacked under them.
def _long_array(n, element, sep):
    return "x = 1\na = [" + sep.join(element(i) for i in range(n)) + "]  # end\n"


LONG_ARRAYS = [
    _long_array(300, str, ", "),
    _long_array(200, lambda i: f'"s{i}"' if i % 3 else f"'{i}'", ",\n  # c\n  "),
    _long_array(150, lambda i: f"{i}.5 # e{i}\n" if i % 2 else "1979-05-27T07:32:00Z", ",\r\n"),
]


@pytest.mark.parametrize("text", [*CORPUS_FILES, *LONG_ARRAYS], ids=lambda t: case_id(t) if not isinstance(t, str) else f"long-{len(t)}")
def test_reading_an_element_reads_as_unpacked(text):
    if not isinstance(text, str):
        text = text.read_text(encoding="utf-8")
    read, unpacked = morvelan.loads(text), morvelan.loads(text)

    def arrays(node):
        # Elements by index: iterating would unpack the array.
        if isinstance(node, morvelan.ListItem):
            children = [node[i] for i in range(len(node))]
        else:
            children = node.values()
        for child in children:
            if isinstance(child, morvelan.ListItem):
                yield child
            if isinstance(child, (morvelan.DictItem, morvelan.ListItem)):
                yield from arrays(child)

    def seen(h):
        return h.value, h.comment, h.inline_comment

    for a, b in zip(list(arrays(read)), list(arrays(unpacked))):
        n = len(a)
        order = [*range(n - 1, -1, -1), *range(n), *range(0, n, 7)]
        held = [(a[i], i) for i in order[:40]]  # more handles than the array keeps slots
        list(b)
        for i in order:
            assert seen(a[i]) == seen(b[i])
        list(a)
        for h, i in held:
            assert seen(h) == seen(b[i])
    assert read.as_toml() == text
