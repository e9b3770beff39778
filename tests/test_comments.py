"""The comment properties of handles: what they read, the errors of the
setters (nothing is written then), and that comment edits leave every handle
valid. The text each edit leaves is tested on the tree
(tests/engine/test_comments.cpp) and by the property tests."""

import pytest

pytestmark = pytest.mark.needs_module
morvelan = pytest.importorskip("morvelan")

TEXT = """\
# about a
a = 1  # one
arr = [
  # first
  1,  # uno
  2,
]
t = { x = 1, y = 2 }  # inline
m = {
  a = 1,  # before dotted
  b.c = 2,
}
n = {
  a = 1
  ,  # on the comma's line
  b = 2
}

# about s
[s]  # section
k = "v"

[[aot]]  # member
n = 1
"""


def doc():
    return morvelan.loads(TEXT)


@pytest.mark.parametrize("path, comment, inline", [
    (["a"], "# about a", "# one"),
    (["arr"], None, None),
    (["arr", 0], "# first", "# uno"),
    (["arr", 1], None, None),
    (["t", "x"], None, None),
    (["m", "a"], None, "# before dotted"),
    (["n", "a"], None, None),
    (["s"], "\n# about s", "# section"),
    (["s", "k"], None, None),
    (["aot"], "\n", None),
    (["aot", 0], "\n", "# member"),
])
def test_reading(path, comment, inline):
    h = doc()
    for step in path:
        h = h[step]
    assert h.comment == (None if comment == "\n" else comment)
    assert h.inline_comment == inline


@pytest.mark.parametrize("path, attr, value, exc, message", [
    (["a"], "comment", "x", ValueError, "comment lines must start with '#'"),
    (["a"], "comment", "# ok\nnot ok", ValueError, "comment lines must start with '#'"),
    (["a"], "comment", "# a\rb", ValueError, "comment contains invalid character U+000D"),
    (["a"], "comment", "# \x00", ValueError, "comment contains invalid character U+0000"),
    (["a"], "inline_comment", "", ValueError, "comment must start with '#'"),
    (["a"], "inline_comment", "x", ValueError, "comment must start with '#'"),
    (["a"], "inline_comment", "# a\n# b", ValueError, "inline comment must not contain newlines"),
    (["a"], "inline_comment", "# \x1b", ValueError, "comment contains invalid character U+001B"),
    (["aot"], "inline_comment", "# x", TypeError, "'array of tables' does not support comments"),
    (["a"], "comment", 5, TypeError, "'int' object is not an instance of 'str'"),
    (["a"], "inline_comment", b"# x", TypeError, "'bytes' object is not an instance of 'str'"),
])
def test_setter_errors_write_nothing(path, attr, value, exc, message):
    d = doc()
    h = d
    for step in path:
        h = h[step]
    with pytest.raises(exc) as info:
        setattr(h, attr, value)
    assert str(info.value) == message
    if exc is TypeError and "instance" in message:
        assert info.value.__notes__ == ["while processing 'value'"]
    assert d.as_toml() == TEXT


def implicit(d):
    d["a"].implicit = True


# A table written without a header line of its own (as dotted keys, or an
# implicit table whose header is left out) has no line to end with an inline
# comment: setting one is refused, and none reads back. Its block comment is
# written above its first line or header (tests/engine/test_comments.cpp).
@pytest.mark.parametrize("text, path, prepare", [
    ("x.y = 1\n", ["x"], None),
    ("[t]\nx.y = 1\n", ["t", "x"], None),
    ("[impl.child]\n", ["impl"], None),
    ("[a]  # hidden with the header\n[a.b]\n", ["a"], implicit),
    # dotted keys of an inline table that became a member of an array of tables
    ("x = 1\n", ["m", 0, "b"], lambda d: d.__setitem__("m", [morvelan.Item.parse("{ a = 1, b.c = 2 }")])),
])
def test_tables_without_a_header_line_take_no_inline_comment(text, path, prepare):
    d = morvelan.loads(text)
    if prepare:
        prepare(d)
    before = d.as_toml()
    h = d
    for step in path:
        h = h[step]
    for comment in ("# c", None):
        with pytest.raises(TypeError) as info:
            h.inline_comment = comment
        assert str(info.value) == ("inline comments are not supported on a table written without a header "
                                   "(dotted keys or an implicit table)")
    assert h.inline_comment is None and d.as_toml() == before


def _sections_only(d):
    d["x"]["s"] = {"k": 1}
    del d["x"]["y"]


# A block comment set on a table that writes no line of its own is written
# above what is written first for it: a dotted table left with sections only
# by edits writes its first section's header.
@pytest.mark.parametrize("text, path, prepare, expected", [
    ("x.y = 1\nb = 2\n", ["x"], _sections_only, "b = 2\n\n# about\n[x.s]\nk = 1\n"),
    ("b = 2\n[t.s]\nk = 1\n", ["t"], None, "b = 2\n# about\n[t.s]\nk = 1\n"),
    ("b = 2\nx.y.z = 1\n", ["x"], lambda d: (d["x"]["y"].__setitem__("s", [{"k": 1}]), d["x"]["y"].pop("z")),
     "b = 2\n\n# about\n[[x.y.s]]\nk = 1\n"),
])
def test_block_comment_of_a_table_without_a_line_is_written(text, path, prepare, expected):
    d = morvelan.loads(text)
    if prepare:
        prepare(d)
    h = d
    for step in path:
        h = h[step]
    h.comment = "# about"
    assert d.as_toml() == expected
    assert morvelan.loads(d.as_toml()) == d


@pytest.mark.parametrize("attr", ["comment", "inline_comment", "implicit"])
def test_no_deleter(attr):
    d = doc()
    with pytest.raises(AttributeError, match="^property has no deleter$"):
        delattr(d["s"], attr)


def test_comment_edits_leave_handles_valid():
    d = doc()
    handles = [d["a"], d["arr"], d["arr"][1], d["t"]["y"], d["s"], d["s"]["k"], d["aot"][0]]
    values = [h.value for h in handles]
    for h in handles:
        h.comment = "# c"
        h.inline_comment = None if h is handles[-1] else "# i"
    assert [h.value for h in handles] == values
    # the blank lines above the headers show as a leading line break
    assert [h.comment for h in handles] == ["# c"] * 4 + ["\n# c", "# c", "\n# c"]
    assert morvelan.loads(d.as_toml()).value == d.value


def test_stale_handles_are_refused():
    d = doc()
    t = d["t"]
    x = t["x"]
    del t["x"]
    with pytest.raises(RuntimeError, match="stale"):
        x.comment = "# gone"
