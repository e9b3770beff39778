"""What edits through the mapping surface do to the text: each case is an
input, an edit and the exact output, and the output must read back as the
edited document."""

import pytest

morvelan = pytest.importorskip("morvelan")
loads = morvelan.loads


def set_(path, key, value):
    def edit(doc):
        target = doc
        for step in path:
            target = target[step]
        target[key] = value
    return edit


def del_(path, key):
    def edit(doc):
        target = doc
        for step in path:
            target = target[step]
        del target[key]
    return edit


CASES = [
    # A new key is indented like the table's entries and appended after them.
    ("indent", "[t]\n  a = 1\n  b = 2\n[u]\nc = 3\n", set_(["t"], "new", 1),
     "[t]\n  a = 1\n  b = 2\n  new = 1\n[u]\nc = 3\n"),
    # A replaced value keeps the spacing and the comment around it.
    ("keep-comment", "[t]\nx = 1 # keep\n", set_(["t"], "x", 2), "[t]\nx = 2 # keep\n"),
    ("keep-key-spelling", "[t]\n  'x y'  =  1\n", set_(["t"], "x y", "v"), "[t]\n  'x y'  =  \"v\"\n"),
    # A new section gets a blank line before it.
    ("new-section", "a = 1\n", set_([], "s", {"a": 1}), "a = 1\n\n[s]\na = 1\n"),
    ("new-first-section", "", set_([], "s", {"a": 1}), "[s]\na = 1\n"),
    ("into-inline", "t = {x = 1}\n", set_(["t"], "s", {"a": 1}), "t = {x = 1, s = { a = 1 }}\n"),
    ("inline-replace", "t = { x = 1, y = 2 }\n", set_(["t"], "x", 5), "t = { x = 5, y = 2 }\n"),
    ("multiline-inline", "t = {\n  a = 1,  # one\n  b = 2,\n}\n", set_(["t"], "c", 3),
     "t = {\n  a = 1,  # one\n  b = 2,\n  c = 3,\n}\n"),
    # Deleting takes the comment lines written above the entry with it.
    ("delete-comment", "[t]\na = 1\n# about b\nb = 2\nc = 3\n", del_(["t"], "b"), "[t]\na = 1\nc = 3\n"),
    ("delete-first-inline", "t = { a = 1, b = 2 }\n", del_(["t"], "a"), "t = { b = 2 }\n"),
    ("delete-last-inline", "t = { a = 1, b = 2 }\n", del_(["t"], "b"), "t = { a = 1 }\n"),
    ("delete-first-before-section", "a = 1\n\n[s]\nb = 2\n", del_([], "a"), "[s]\nb = 2\n"),
    # An implicit table left with nothing in it keeps a header; an emptied
    # dotted table and array of tables keep their key.
    ("empty-implicit", "[a.b]\nx = 1\n", del_(["a"], "b"), "[a]\n"),
    ("empty-dotted", "a.b = 1\nc = 2\n", del_(["a"], "b"), "a = {}\nc = 2\n"),
    # A comment block above an entry moves to the entry that replaces it.
    ("value-replaces-table", "a = 1\n\n# about t\n[t]\nx = 1\n", set_([], "t", 5), "a = 1\n# about t\nt = 5\n"),
    ("table-replaces-value", "# about t\nt = 5\n[u]\n", set_([], "t", {"x": 1}),
     "# about t\n[t]\nx = 1\n[u]\n"),
    # A file without a final newline stays without one.
    ("no-final-newline", "a = 1\nb = 2", set_([], "b", 3), "a = 1\nb = 3"),
    ("no-final-newline-append", "a = 1", set_([], "b", 3), "a = 1\nb = 3"),
]


@pytest.mark.parametrize("name, text, edit, expected", CASES, ids=[c[0] for c in CASES])
def test_edit_layout(name, text, edit, expected):
    doc = loads(text)
    edit(doc)
    out = doc.as_toml()
    assert out == expected
    assert loads(out).value == doc.value


def test_cleared_array_of_tables_keeps_its_key():
    doc = loads("[[p]]\nx = 1\n[[p]]\nx = 2\n")
    doc["p"].clear()
    assert loads(doc.as_toml()).value == {"p": []}


def test_popitem_takes_the_last_appended_entry():
    doc = loads("[t]\na = 1\nb = 2\n")
    t = doc["t"]
    t["c"] = 3
    assert t.popitem() == ("c", 3)
    assert t.popitem() == ("b", 2)
    assert doc.as_toml() == "[t]\na = 1\n"
