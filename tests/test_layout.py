"""What edits through the mapping surface do to the text: each case is an
input, an edit and the exact output, and the output must read back as the
edited document."""

import copy
import random

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


def run(script):
    """An edit written as Python statements on `doc`."""
    def edit(doc):
        exec(script, {"doc": doc, "morvelan": morvelan})
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
    ("empty-implicit-keeps-place", "[n.a]\nx = 1\n\n[m.a]\ny = 2\n\n[o]\n", del_(["m"], "a"),
     "[n.a]\nx = 1\n\n[m]\n\n[o]\n"),
    # A comment block above an entry moves to the entry that replaces it.
    ("value-replaces-table", "a = 1\n\n# about t\n[t]\nx = 1\n", set_([], "t", 5), "a = 1\n# about t\nt = 5\n"),
    ("table-replaces-value", "# about t\nt = 5\n[u]\n", set_([], "t", {"x": 1}),
     "# about t\n[t]\nx = 1\n[u]\n"),
    # A file without a final newline stays without one.
    ("no-final-newline", "a = 1\nb = 2", set_([], "b", 3), "a = 1\nb = 3"),
    ("no-final-newline-append", "a = 1", set_([], "b", 3), "a = 1\nb = 3"),

    # A new multi-line string: in a CRLF document its line breaks are CRLF
    # too (they read as "\n").
    ("new-multiline-string", "a = 1\n", set_([], "s", "two\nlines"), 'a = 1\ns = """\ntwo\nlines"""\n'),

    # Edits a person would make (found on real files).
    # A sub-table is drawn up to its parent's header only where that header
    # is written and no line of the parent stands between.
    ("delete-under-implicit", "x = 1\n\n[profile.release]\ndebug = 1\n\n[profile.dev]\nopt = 1\n",
     del_(["profile"], "release"), "x = 1\n\n[profile.dev]\nopt = 1\n"),
    ("delete-with-lines-between", '[workspace]\nmembers = ["a"]\n\n[workspace.package]\nv = 1\n',
     run('w = doc["workspace"]; w["zz"] = w["members"]; del w["members"]'),
     '[workspace]\nzz = ["a"]\n\n[workspace.package]\nv = 1\n'),
    ("delete-last-line-over-sub-table", "[t]\na = 1\n\n[t.s]\nb = 2\n", del_(["t"], "a"), "[t]\n[t.s]\nb = 2\n"),
    # A table that replaces a table keeps its place; its sub-tables follow it.
    ("replace-section-keeps-place",
     '[package]\nname = "x"\n\n[features]\ndefault = []\n\n[dependencies]\nlog = "1"\n\n'
     "[package.metadata.docs]\nall = true\n",
     set_([], "features", {"zz": ["a"]}),
     '[package]\nname = "x"\n\n[features]\nzz = ["a"]\n\n[dependencies]\nlog = "1"\n\n'
     "[package.metadata.docs]\nall = true\n"),
    ("replace-section-in-place",
     '[package]\nname = "x"\n\n[features]\ndefault = []\n\n[dependencies]\nlog = "1"\n\n'
     "[package.metadata.docs]\nall = true\n",
     set_([], "features", {"zz": ["a"], "sub": {"k": 1}}),
     '[package]\nname = "x"\n\n[features]\nzz = ["a"]\n\n[features.sub]\nk = 1\n\n[dependencies]\nlog = "1"\n\n'
     "[package.metadata.docs]\nall = true\n"),
    ("replace-section-in-place-split", "[a.b]\nx = 1\n\n[c]\ny = 2\n\n[a]\nz = 3\n", set_([], "c", {"k": 1}),
     "[a.b]\nx = 1\n\n[c]\nk = 1\n\n[a]\nz = 3\n"),
    ("replace-implicit-in-place", "[a]\nx = 1\n\n[b.c]\ny = 2\n\n[d]\nz = 3\n", set_([], "b", {"k": 1}),
     "[a]\nx = 1\n\n[b]\nk = 1\n\n[d]\nz = 3\n"),
    # Comment paragraphs set off from a deleted entry by a blank line stay.
    ("delete-keeps-licence", '# Copyright header\n\n[build-system]\nrequires = []\n\n[project]\nname = "x"\n',
     del_([], "build-system"), '# Copyright header\n\n[project]\nname = "x"\n'),
    ("delete-keeps-free-comment", "a = 1\n\n# free-standing note\n\n# b doc\nb = 2\nc = 3\n", del_([], "b"),
     "a = 1\n\n# free-standing note\n\nc = 3\n"),
    ("delete-last-keeps-free-comment", "a = 1\n\n# note\n\nb = 2\n\n[t]\n", del_([], "b"),
     "a = 1\n\n# note\n\n[t]\n"),
    ("delete-at-end-keeps-free-comment", "[s]\na = 1\n\n# note\n\n[t]\nb = 2\n", del_([], "t"),
     "[s]\na = 1\n\n# note\n"),
    ("delete-split-keeps-free-comments", "[a]\nx = 1\n\n# one\n\n[b]\ny = 2\n\n# two\n\n[a.c]\nz = 3\n\n[d]\n",
     del_([], "a"), "# one\n\n[b]\ny = 2\n\n# two\n\n[d]\n"),
    # New root keys: below a leading comment paragraph, set off from the
    # first header by a blank line.
    ("new-root-key-before-header", '[package]\nname = "x"\n', set_([], "cargo-features", ["a"]),
     'cargo-features = ["a"]\n\n[package]\nname = "x"\n'),
    ("new-root-key-below-licence", '# Copyright header\n\n[package]\nname = "x"\n',
     set_([], "cargo-features", ["a"]), '# Copyright header\n\ncargo-features = ["a"]\n\n[package]\nname = "x"\n'),
    ("new-root-key-keeps-header-comment", '# Copyright\n\n# the package\n[package]\n', set_([], "k", 1),
     "# Copyright\n\nk = 1\n\n# the package\n[package]\n"),
    # An implicit table that starts writing its header is set off from its
    # sub-table.
    ("new-key-in-implicit", '[tool.poetry]\nname = "x"\n', set_(["tool"], "k", 1),
     '[tool]\nk = 1\n\n[tool.poetry]\nname = "x"\n'),
    ("new-key-in-implicit-after-lines", 'a = 1\n# end of a\n\n[tool.poetry]\nname = "x"\n', set_(["tool"], "k", 1),
     'a = 1\n# end of a\n\n[tool]\nk = 1\n\n[tool.poetry]\nname = "x"\n'),
    # A new section goes after the comment lines that end the body before it.
    ("new-section-after-closing-comments", "a = 1\n# b = 2\n", set_([], "t", {"k": 1}),
     "a = 1\n# b = 2\n\n[t]\nk = 1\n"),
    ("new-sub-table-after-closing-comments", "[a]\nx = 1\n# y = 2\n\n[b]\n", set_(["a"], "s", {"k": 1}),
     "[a]\nx = 1\n# y = 2\n\n[a.s]\nk = 1\n\n[b]\n"),
    ("new-sub-table-before-header-comment", "[a]\nx = 1\n\n# about b\n[b]\n", set_(["a"], "s", {"k": 1}),
     "[a]\nx = 1\n\n[a.s]\nk = 1\n\n# about b\n[b]\n"),
    # A cleared dotted table is written `key = {}`: its comments stay with it
    # and go to what replaces it.
    ("replace-cleared-dotted", "# doc\n\n# c\nt.a = 1\nt.b = 2\n", run("doc['t'].clear(); doc['t'] = [1]"),
     "# doc\n\n# c\nt = [1]\n"),
    # An array of tables that loses its last member is written `key = []`:
    # a line of its table, set off from the header after it; the comments
    # that stood free above its headers stay where they stood.
    ("emptied-array-of-tables", '# head\n\n[b]\nx = 1\n\n[[r]]\nk = 1\n', run("del doc['r'][0]"),
     '# head\n\nr = []\n\n[b]\nx = 1\n'),
    ("cleared-array-of-tables", 'a = 1\n\n# free\n\n# own\n[[r]]\nk = 1\n[t]\n', run("doc['r'].clear()"),
     'a = 1\nr = []\n\n# free\n\n[t]\n'),
    # The comments above a section below a replaced dotted table stay.
    ("replace-dotted-with-section", "a = 0\nf.x = 1\n# closing\n\n[f.s]\nk = 1\n\n[g]\n", set_([], "f", 1),
     "a = 0\nf = 1\n# closing\n\n[g]\n"),
    # An implicit table left empty writes its header where its sub-table's
    # stood, under the comments that opened the document.
    ("implicit-left-empty", "# doc\n\n# own\n[a.b]\nk = 1\n", run("del doc['a']['b']"), "# doc\n\n[a]\n"),
    # A section replaced where its first header is written first stays first.
    ("replace-section-declared-late", "# doc\n\n[b.a]\n[c]\n[b]\nx = 1\n", set_([], "b", {}),
     "# doc\n\n[b]\n[c]\n"),
    # Clearing the comment above a header keeps it apart from the line above.
    ("clear-header-comment", "[a]\nx = 1\n# about b\n[b]\n", run("doc['b'].comment = None"), "[a]\nx = 1\n\n[b]\n"),
    # An emptied array of tables that opened the document keeps the comments above it.
    ("emptied-array-opening", "# doc\n\n[[r]]\nk = 1\n", run("doc['r'].pop()"), "# doc\n\nr = []\n"),
    # A value replaced in place leaves the comments below it where they are.
    ("replace-first-value", "# doc\n\na = 1\n# x\n\n# about b\nb = 2\n", set_([], "a", 0),
     "# doc\n\na = 0\n# x\n\n# about b\nb = 2\n"),
    # A dotted table whose last line goes is written `key = {}` in that line's place.
    ("dotted-last-line-removed", "# doc\n\nc.a = 1\nz = 2\n", run("doc['c'].popitem()"), "# doc\n\nc = {}\nz = 2\n"),
    # Comments that close the body before an emptied array of tables stay
    # there; its `key = []` line goes to the lines of its table.
    ("emptied-array-after-section", '[p]\nx = 1\n# end of p\n\n[[a]]\n', run("doc['a'].pop()"),
     'a = []\n\n[p]\nx = 1\n# end of p\n'),
    # The comments that opened an emptied document go above the first header
    # a new implicit table writes, and above the member of a new array of
    # tables whose table is implicit.
    ("opening-above-implicit-section", "# doc\n\n[a]\nx = 1\n",
     run("doc.pop('a'); doc.update(morvelan.loads('[b.c]\\n'))"), "# doc\n\n[b.c]\n"),
    ("implicit-member-replaces-section", "# doc\n\n[a]\nx = 1\n",
     run("doc['a'] = [morvelan.loads('[b.c]\\n')['b']]"), "# doc\n\n[[a]]\n[a.c]\n"),
    # An emptied array of tables that gets a member again: the comments that
    # open the document stay first, wherever its header is written.
    ("refilled-array-opening", "# doc\n\n[[c]]\n[b]\nx = 1\n", run("doc['c'].pop(); doc['c'].append({})"),
     "# doc\n\n[[c]]\n\n[b]\nx = 1\n"),
    ("refilled-array-after-section", "# doc\n\n[a]\nx = 1\n\n[b]\ny = 2\n\n[[c]]\n",
     run("doc['c'].pop(); del doc['a']; doc['c'].append({})"), "# doc\n\n[b]\ny = 2\n\n[[c]]\n"),
    # An emptied array of tables is a line: a value assigned to it takes the
    # line's place, below the comments that open the document.
    ("assign-to-emptied-array", "# doc\n\n[[ c ]]\nx = 1\n[b]\ny = 2\n", run("doc['c'].pop(); doc['c'] = [1, 2]"),
     "# doc\n\nc = [1, 2]\n\n[b]\ny = 2\n"),
    # Comments that close the body before a removed last member stay there.
    # A member added in memory has no header text of its own (the default:
    # none first in the document, a blank line elsewhere): taking it away
    # sets the next one off, or not, by where it stands; taking the one
    # before it away leaves it the default.
    ("pop-new-first-member", "[[p]]\na = 1\n\n[[p]]\na = 2\n", run("doc['p'].insert(0, {'a': 0}); doc['p'].pop(0)"),
     "[[p]]\na = 1\n\n[[p]]\na = 2\n"),
    ("pop-before-new-member", "top = 1\n[[p]]\na = 1\n", run("doc['p'].append({'a': 2}); doc['p'].pop(0)"),
     "top = 1\n\n[[p]]\na = 2\n"),
    ("pop-last-member", '[[r]]\nx = 1\n# end of the first\n\n[[r]]\nx = 2\n[t]\n', run("doc['r'].pop()"),
     '[[r]]\nx = 1\n# end of the first\n\n[t]\n'),
    # A table replaced by a copy of itself keeps the blank line that sets its
    # first written header off from the lines above it.
    ("replace-implicit-after-new-line", "[t.x]\nr = 1\n", run("doc |= {'a': 0, 't': doc['t']}"),
     "a = 0\n\n[t.x]\nr = 1\n"),
    # The header after a removed member stays set off by the blank lines
    # above either of them (at the top of the document, by none).
    ("pop-glued-member", "a = 1\n[[b]]\n\n[[b]]  # two\ny = 2\n", run("del doc['b'][0]"),
     "a = 1\n\n[[b]]  # two\ny = 2\n"),
    ("pop-first-member-after-comment", "a = 1\n# one\n[[b]]\nx = 1\n\n[[b]]\ny = 2\n", run("del doc['b'][0]"),
     "a = 1\n\n[[b]]\ny = 2\n"),
    ("pop-first-member-at-top", "# one\n[[b]]\nx = 1\n\n[[b]]\ny = 2\n", run("del doc['b'][0]"), "[[b]]\ny = 2\n"),
    # A sub-table that opened the document, replaced by a line: the comments
    # that opened the document go above the header written first now.
    ("subtable-opening-to-line", "# doc\n\n# a\n[b.a]\n[b]\nc = 1\n", run("doc['z'] = {}; doc['b']['a'] = []"),
     "# doc\n\n[b]\n# a\na = []\nc = 1\n\n[z]\n"),
    # A section that becomes a line again among a dotted table's lines, first
    # in the document: the comments that open the document stay above it.
    ("dotted-section-back-to-line", "# doc\n\napple.type = 1\napple.skin = 2\n",
     run("doc['apple']['type'] = [{}]; doc['apple']['type'] = 0"), "# doc\n\napple.type = 0\napple.skin = 2\n"),
    # An emptied dotted table (written `key = {}`) that gets an entry again:
    # a line takes the text above that line; a section takes its comment
    # block, and the paragraphs set off from it stay where they stood.
    ("refill-emptied-dotted-line", "# doc\n\napple.type = 1\n\nz = 1\n", run("doc['apple'].clear(); doc['apple']['a'] = 2"),
     "# doc\n\napple.a = 2\n\nz = 1\n"),
    ("refill-emptied-dotted-section", "# doc\n\napple.type = 1\n\nz = 1\n",
     run("doc['apple'].clear(); doc['apple']['a'] = {}"), "# doc\n\nz = 1\n\n[apple.a]\n"),
    ("refill-emptied-dotted-block", "x = 1\n\n# c\napple.type = 1\n\nz = 1\n",
     run("doc['apple'].clear(); doc['apple']['a'] = {}"), "x = 1\n\nz = 1\n\n# c\n[apple.a]\n"),
    # An array of tables made in memory, first in the document, emptied again:
    # the comments that open the document stay first.
    ("emptied-new-array-opening", "# doc\n\nx = 1\n\n[p]\nb = 1\n", run("doc['x'] = [{}]; doc['x'].pop()"),
     "# doc\n\nx = []\n\n[p]\nb = 1\n"),
    # Dotted keys written only as section headers, replaced by a value: the
    # new line goes below the comments that open the document.
    ("dotted-headers-to-value", "# doc\n\nb.a = 1\nc = 2\n", run("doc['b']['a'] = {}; doc['b'] = 0"),
     "# doc\n\nb = 0\nc = 2\n"),
    # A document that holds only comments: they open it, set off above the
    # first entry, and stay first when lines go in above a header.
    ("comments-only-new-key", "# Config for X\n", set_([], "k", 1), "# Config for X\n\nk = 1\n"),
    ("comments-only-new-table-then-key", "# Comment", run("doc['t'] = {'a': 1}; doc['k'] = 2"),
     "# Comment\n\nk = 2\n\n[t]\na = 1\n"),
    # A sub-table written above its table's header goes: the header written
    # first after it starts the document, with no blank line before it.
    ("first-header-deleted", "[a.b]\nx = 1\n\n[a]\ny = 2\n", del_(["a"], "b"), "[a]\ny = 2\n"),
    ("first-header-to-value", "[foo.bar]\nopen = true\n\n[foo]\nx = 1\n",
     run("doc['foo']['bar'] = morvelan.Item.parse('{ open = true }')"), "[foo]\nbar = { open = true }\nx = 1\n"),
    # An implicit table that gains a key writes its header right above its
    # first sub-table's.
    ("implicit-gains-key", "[a.x]\nx = 1\n\n[b.y]\ny = 1\n\n[a.z]\nz = 1\n\n[b.w]\nw = 1\n",
     set_(["b"], "n", 1), "[a.x]\nx = 1\n\n[b]\nn = 1\n\n[b.y]\ny = 1\n\n[a.z]\nz = 1\n\n[b.w]\nw = 1\n"),
    # A key added to a table with only sub-tables: indented as the file
    # indents a table's lines past its header, and a sub-table's header glued
    # to its table's header stays glued where the file glues its headers.
    ("indented-first-key", '[http.services]\n  [http.services.s2]\n    [http.services.s2.lb]\n      url = "x"\n',
     run("doc['http']['services']['s2']['k'] = 1"),
     '[http.services]\n  [http.services.s2]\n    k = 1\n    [http.services.s2.lb]\n      url = "x"\n'),
    ("glued-headers-stay-glued", '[outputFormats]\n  [outputFormats.redir]\n  mediaType = "x"\n', set_(["outputFormats"], "k", 1),
     '[outputFormats]\nk = 1\n  [outputFormats.redir]\n  mediaType = "x"\n'),
    ("set-off-headers-stay-set-off", "[a]\n\n[a.b]\nx = 1\n", set_(["a"], "k", 1), "[a]\nk = 1\n\n[a.b]\nx = 1\n"),
    ("sections-set-off-after-lines", "[[arr]]\n[arr.s]\nv = 1\n\n[[arr]]\n[arr.s]\nv = 2\n", run("doc['arr'][0]['a'] = 0"),
     "[[arr]]\na = 0\n\n[arr.s]\nv = 1\n\n[[arr]]\n[arr.s]\nv = 2\n"),
    ("opening-stays-above-closing", "# open\n\n[t]\nx = 1\n\n# closing\n", run("del doc['t']; doc['a'] = 0"),
     "# open\n\n# closing\n\na = 0\n"),
    ("value-to-section-keeps-blank", "[a]\n\n# note\nc = 1\n", set_(["a"], "c", {"x": 1}),
     "[a]\n\n# note\n[a.c]\nx = 1\n"),
    ("first-section-replaced-under-lines", "# top\n\n[a.a]\nx = 1\n[a]\nc = 1\n", set_(["a"], "a", {"y": 2}),
     "# top\n\n[a.a]\ny = 2\n[a]\nc = 1\n"),
    ("opening-stays-above-emptied-dotted", "# top\n\nb.a = 1\nc = 1\n",
     run("doc['b']['a'] = {'x': 1}; del doc['b']['a']"), "# top\n\nb = {}\nc = 1\n"),
    # A renamed key keeps its place, its spacing, its value text and its
    # comments; the headers of a renamed table and of the tables below follow.
    ("rename-line", "[t]\n  a   = 0x1  # one\n  c = 2\n", run("doc['t'].rename('a', 'b')"),
     "[t]\n  b   = 0x1  # one\n  c = 2\n"),
    ("rename-quoted", "'a b' = 1\nc = 2\n", run("doc.rename('a b', 'x'); doc.rename('c', 'd e')"),
     'x = 1\n"d e" = 2\n'),
    ("rename-sections", "# a\n[a]\nx = 1\n\n[a.b]  # b\ny = 2\n\n[[a.c]]\nz = 3\n", run("doc.rename('a', 'q')"),
     "# a\n[q]\nx = 1\n\n[q.b]  # b\ny = 2\n\n[[q.c]]\nz = 3\n"),
    ("rename-implicit", '[tool.black]\nx = 1\n["tool".black.sub]\n', run("doc.rename('tool', 'cfg')"),
     "[cfg.black]\nx = 1\n[cfg.black.sub]\n"),
    ("rename-dotted", "a.b = 1\na.c = 2\nt = { a.b = 1, c = 2 }\n",
     run("doc.rename('a', 'z'); doc['t'].rename('a', 'y')"), "z.b = 1\nz.c = 2\nt = { y.b = 1, c = 2 }\n"),
    # The comment of the header written first opens the document: no blank line above it.
    ("comment-on-new-first-section", "", run("doc['s'] = {'k': 1}; doc['s'].comment = '# c'"), "# c\n[s]\nk = 1\n"),
    # An implicit table's comment stands above the first header written for it.
    ("comment-on-implicit", 'a = 1\n\n[tool.poetry]\nname = "x"\n', run("doc['tool'].comment = '# tools'"),
     'a = 1\n\n# tools\n[tool.poetry]\nname = "x"\n'),
    # A section added by edits ahead of those read from the text is written first: it takes the
    # table's comment, and the document starts with it once the header before it goes.
    ("added-section-first-in-implicit", '[a.b.c]\n[a."b.c"]\n',
     run("doc['a']['b']['a'] = {'k': 1}; del doc['a']['b']['c']"), '[a.b.a]\nk = 1\n[a."b.c"]\n'),
    ("comment-on-implicit-over-added-section", '[a.b.c]\n[a."b.c"]\n',
     run("doc['a']['b']['a'] = {'k': 1}; del doc['a']['b']['c']; doc['a'].comment = '# c'"),
     '# c\n[a.b.a]\nk = 1\n[a."b.c"]\n'),
    ("clear-implicit-keeps-opening", "# top\n\n# b\n[a.b]\nx = 1\n# c\n[a.c]\ny = 2\n", run("doc['a'].clear()"),
     "# top\n\n[a]\n"),
    ("implicit-loses-last-line", "# top\n\n[a.b]\n# c\n[a.c]\ny = 2\n",
     run("doc['a']['b'] = 1; del doc['a']['b']"), "# top\n\n# c\n[a.c]\ny = 2\n"),
    # Clearing an element's inline comment clears the one on its closing line
    # too, which the getter would read next.
    ("clear-inline-comment-both-lines", "c = [\n  { a = 1\n  }  # x\n  ,  # y\n  1\n]\n",
     run("doc['c'][0].inline_comment = None"), "c = [\n  { a = 1\n  }\n  ,\n  1\n]\n"),
    # The last element's comment, with no comma after it, stays with it when one is appended.
    ("comment-of-last-element-then-append", "x = 1\n",
     run("doc['t'] = [[], {}]; doc['t'][0].inline_comment = '# i'; doc['t'][1].inline_comment = '# j';"
         " doc['t'].append([])"), "x = 1\nt = [[], # i\n {}, # j\n []\n]\n"),
    # Dotted keys whose first line went to a section give way to a value: the opening comment stays first.
    ("opening-stays-above-value-for-dotted", '# top\n\na.t = 1\nb.t = 2\n\na.s = 3\n',
     run("doc['a']['t'] = {'x': 1}; doc['a'] = []"), '# top\n\na = []\nb.t = 2\n'),
    # A section added to an emptied implicit table takes over its header's text.
    ("section-into-emptied-implicit", "# top\n\n[t.x]\nk = 1\n",
     run("doc['t'].clear(); doc['t']['a'] = {}"), "# top\n\n[t.a]\n"),
    # A dotted table's only section gives way to a line, or goes: the opening comment stays first.
    ("value-for-dotted-tables-only-section", "# top\n\na.x = 1\n\nb.y = 2\n",
     run("doc['a'].clear(); doc['a']['s'] = {'z': 1}; doc['a']['s'] = []"), "# top\n\na.s = []\nb.y = 2\n"),
    ("dotted-tables-only-section-goes", "# top\n\na.x = 1\n",
     run("doc['a'].clear(); doc['a']['s'] = {'z': 1}; doc['a'].popitem()"), "# top\n\na = {}\n"),
    ("dotted-section-back-to-line-under-opening", "# top\n\n\n# note\na.a = 1\n",
     run("doc['a']['a'] = {'x': 1}; doc['a']['a'] = []"), "# top\n\n\n# note\na.a = []\n"),
    # The comment of a dotted table left empty goes above its `key = {}` line.
    ("comment-of-emptied-dotted", "top.dot.x = 1\n",
     run("doc['top']['dot'].clear(); doc['top'].comment = '# c'"), "# c\ntop.dot = {}\n"),
    # An inline table made a member of an array of tables is laid out as lines, dotted keys too.
    ("inline-table-as-member-lines", "x = 1\n",
     run("doc['b'] = [morvelan.Item.parse('{\\n  a = 1,  # one\\n  b.c = 2,\\n}')]"),
     "x = 1\n\n[[b]]\na = 1\nb.c = 2\n"),
    # The last member of an array of tables that opened the document goes: the root line it
    # leaves takes the opening comment, also when the header left has no place of its own.
    ("opening-stays-when-first-member-goes", "# top\n\n[[b]]\nx = 1\n\n[a.a]\ny = 1\n",
     run("doc['a']['a'] = 0; doc['b'].pop()"), "# top\n\nb = []\n\n[a]\na = 0\n"),
    ("implicit-last-line-becomes-section", "# top\n\n[a.b]\n[a.a]\nx = 1\n",
     run("doc['a']['a'] = []; doc['a']['a'] = {}"), "# top\n\n[a.b]\n\n[a.a]\n"),
    # An implicit table that gained a key shares its sub-table's place: its own header comes first.
    ("comment-on-implicit-with-key", 'a = 1\n\n[t.p."b"]\nr = 1\n',
     run("doc['t']['p']['k'] = 1; doc['t']['p'].comment = '# c'"),
     'a = 1\n\n# c\n[t.p]\nk = 1\n\n[t.p."b"]\nr = 1\n'),
]


@pytest.mark.parametrize("name, text, edit, expected", CASES, ids=[c[0] for c in CASES])
def test_edit_layout(name, text, edit, expected):
    doc = loads(text)
    edit(doc)
    out = doc.as_toml()
    assert out == expected
    assert loads(out).value == doc.value


@pytest.mark.parametrize("name, text, edit, expected", [c for c in CASES if "\n" in c[1]],
                         ids=[c[0] for c in CASES if "\n" in c[1]])
def test_edit_layout_crlf_and_bom(name, text, edit, expected):
    """A document whose lines end in CRLF is written with CRLF throughout,
    the lines an edit adds included; a byte-order mark stays."""
    doc = loads("\ufeff" + text.replace("\n", "\r\n"))
    edit(doc)
    assert doc.as_toml() == "\ufeff" + expected.replace("\n", "\r\n")


def test_mixed_line_endings():
    # Each line keeps its ending; new lines take the ending of the majority.
    text = "a = 1\r\n# c\n\n[t]\r\nb = 2\r\n"
    doc = loads(text)
    assert doc.as_toml() == text
    doc["t"]["n"] = 3
    doc["a"] = 5
    doc["s"] = {"k": 1}
    assert doc.as_toml() == "a = 5\r\n# c\n\n[t]\r\nb = 2\r\nn = 3\r\n\r\n[s]\r\nk = 1\r\n"


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


# Edits one after another on one document: an edit that adds, replaces or
# removes a section, or a member of an array of tables, reads what it needs
# of the order the tables are written in from what the edit before it left.
# Each step must write what the same edit writes on a copy of the document,
# which knows nothing from edits before.
SEQUENCE_DOCS = [
    "[[p]]\nname = 'a'\n\n[[p]]\nname = 'b'\n\n[[p]]\nname = 'c'\n\n[[p]]\nname = 'd'\n",
    "# lock file\n\n[[p]]\nname = 'a'\n[p.deps]\nx = 1\n\n[[p]]\nname = 'b'\n\n[other]\nk = 1\n\n[[p]]\nname = 'c'\n",
    "top = 1\n[[p]]\nname = 'a'\n\n[[p]]\nname = 'b'\n",
    "[s0]\nv = 0\n\n[s1]\nv = 1\n\n[s1.sub]\nw = 1\n\n[s2]\nv = 2\n\n[tool.x]\nv = 3\n\n[s3]\nv = 4\n",
    "title = 'x'\n\n[s0]\nv = 0\n\n[s1]\nv = 1\n",
]
SEQUENCE_EDITS = {
    "pop(0)": lambda d: d["p"].pop(0) if "p" in d and len(d["p"]) > 1 else None,
    "pop()": lambda d: d["p"].pop() if "p" in d and len(d["p"]) > 1 else None,
    "append": lambda d: d["p"].append({"name": "n"}) if "p" in d else None,
    "insert(0)": lambda d: d["p"].insert(0, {"name": "m"}) if "p" in d else None,
    "new section": lambda d: d.__setitem__("new%d" % len(d), {"v": len(d)}),
    "new nested section": lambda d: d.__setitem__("n%d" % len(d), {"t": {"v": 1}}),
    "replace a section": lambda d: d.__setitem__(sorted(k for k in d if k.startswith("s"))[0], {"r": 1})
    if any(k.startswith("s") for k in d) else None,
    "del a section": lambda d: d.__delitem__(sorted(k for k in d if k not in ("p", "title", "top"))[-1])
    if any(k not in ("p", "title", "top") for k in d) else None,
    "del the first section": lambda d: d.__delitem__(next(iter(k for k in d if k not in ("title", "top"))))
    if any(k not in ("title", "top") for k in d) else None,
}


@pytest.mark.parametrize("text", SEQUENCE_DOCS)
@pytest.mark.parametrize("seed", range(6))
def test_edit_sequences_write_as_single_edits_do(text, seed):
    rng = random.Random(seed)
    doc = morvelan.loads(text)
    for step in range(12):
        name = rng.choice(sorted(SEQUENCE_EDITS))
        fresh = copy.copy(doc)
        SEQUENCE_EDITS[name](doc)
        SEQUENCE_EDITS[name](fresh)
        assert doc.as_toml() == fresh.as_toml(), f"step {step}: {name}"
