"""Edits never corrupt a document.

Random sequences of mapping edits (assign scalars, lists, tables, handles and
lists and mappings that hold handles of this and of other documents; delete,
pop, popitem, update, setdefault, clear, |=, sort) and sequence edits of arrays and
arrays of tables (append, insert, extend, +=, pop, remove, item and slice
assignment and deletion, *=, set_multiline, +) are applied to a document and,
in parallel, to a plain Python dict; a handle stands for its value at the time it
is copied. Steps that build `Document(m)` or `dumps(m)` from such mappings
check that the text reads back the same values. After every step:

  (a) the written text parses again to the same values;
  (b) the document's values equal the dict model's;
  (c) the text of entries that no operation touched is written back verbatim
      and in the same order (see `check_untouched`);
  (d) after a sequence edit, the line of every element it did not touch (the
      element and the comment after it) is still there (see `element_lines`).
  (e) no header line of the input directly follows a key/value line or
      another header's line (other than its parent's header: the parent's
      section starts there) unless it did so in the input, and no comment line of the input
      that belongs to an untouched entry or stands free disappears (see
      `check_layout`);
      Also: a comment paragraph that opens the document stays first, comment
      lines that end an untouched body are not cut off from it by a header,
      and a table that replaces a table keeps its place;
  (f) a document whose line breaks were all CRLF has no other line break,
      and a byte-order mark stays.

Documents: the valid cases of the toml-test suite, the real-world corpus, and
generated documents full of layout (comments, blank lines, indentation, dotted
keys, implicit and split tables, inline tables on one and on several lines,
arrays of tables, no final newline, CRLF line breaks and a byte-order mark).

Set CI=1 for a deterministic run; MORVELAN_PROP_EXAMPLES scales the number of
examples per property.
"""

from __future__ import annotations

import collections
import collections.abc
import copy
import datetime as dt
import math
import os
import random
import re
import types
from dataclasses import dataclass, field

import pytest
from toml_cases import CORPUS_FILES, VALID, case_id

hypothesis = pytest.importorskip("hypothesis")
from hypothesis import HealthCheck, given, note, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

pytestmark = pytest.mark.needs_module
morvelan = pytest.importorskip("morvelan")

EXAMPLES = int(os.environ.get("MORVELAN_PROP_EXAMPLES", "60"))
PROPS = settings(
    max_examples=EXAMPLES,
    deadline=None,
    derandomize=bool(os.environ.get("CI")),
    database=None,   # a failure prints its edit script; nothing is left in the work tree
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large, HealthCheck.filter_too_much],
)

# Documents larger than this are left to the one-pass sweep: each step writes
# and re-reads the whole text.
PROPERTY_SIZE_LIMIT = 24_000
SWEEP_SIZE_LIMIT = 400_000


# --------------------------------------------------------------------------- values


def same(a, b, ordered=True):
    """Equality of native TOML values: exact types, NaN equal to NaN, the
    sign of zero and the UTC offset of date-times count; dict order counts
    when `ordered`."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        if math.isnan(a) or math.isnan(b):
            return math.isnan(a) and math.isnan(b)
        return a == b and math.copysign(1.0, a) == math.copysign(1.0, b)
    if isinstance(a, dict):
        if ordered and list(a) != list(b):
            return False
        return a.keys() == b.keys() and all(same(a[k], b[k], ordered) for k in a)
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y, ordered) for x, y in zip(a, b))
    if isinstance(a, dt.datetime):
        return a == b and a.utcoffset() == b.utcoffset()
    return a == b


def native(value):
    """What the document holds after a Python value is stored: a deep copy
    (no aliasing between the model and the caller's objects)."""
    return copy.deepcopy(value)


# --------------------------------------------------------------------------- choices

INTERESTING_TEXT = ["", "x", "hello world", "tab\there", "line\nbreak", 'quote"s', "apos'trophe", "back\\slash",
                    "é ü ñ", "日本語", "emoji 🎉", "\x00\x01\x1f\x7f", "\u2028", "'''", '"""', "# not a comment",
                    "a = 1", "[table]", " lead and trail ", "\r\n"]
INTERESTING_KEYS = ["a", "b", "x", "new", "key_1", "x-y", "42", "true", "a.b", "a b", "", " ", "é", "#", "=", '"',
                    "'", "[", "\\", "\n", "\t", "日本"]
INTERESTING_FLOATS = [0.0, -0.0, 1.5, -2.25, 1e300, -1e-300, 5e-324, math.inf, -math.inf, math.nan, 0.1, 1e16,
                      123456789.123]
INTERESTING_INTS = [0, 1, -1, 42, 2**63 - 1, -(2**63), 1_000_000, 255]

TEXT = st.text(st.characters(exclude_categories=("Cs",)), max_size=10)
KEYS = st.one_of(st.sampled_from(INTERESTING_KEYS), st.text(st.characters(exclude_categories=("Cs",)), max_size=6))
FLOATS = st.floats(allow_nan=True, allow_infinity=True)


class Draws:
    """Choices drawn from a Hypothesis data object, so failures shrink."""

    def __init__(self, data):
        self.data = data

    def int(self, lo, hi):
        return self.data.draw(st.integers(lo, hi))

    def choice(self, seq):
        return self.data.draw(st.sampled_from(list(seq)))

    def text(self):
        return self.data.draw(TEXT)

    def key(self):
        return self.data.draw(KEYS)

    def float(self):
        return self.data.draw(FLOATS)


class Seeded:
    """The same choices from a seeded generator (the one-pass sweep)."""

    def __init__(self, seed):
        self.rng = random.Random(seed)

    def int(self, lo, hi):
        return self.rng.randint(lo, hi)

    def choice(self, seq):
        return self.rng.choice(list(seq))

    def text(self):
        if self.rng.random() < 0.7:
            return self.rng.choice(INTERESTING_TEXT)
        return "".join(chr(self.rng.choice([self.rng.randint(0x20, 0x7E), self.rng.randint(0, 0x2FF),
                                            self.rng.randint(0x1F300, 0x1F64F)]))
                       for _ in range(self.rng.randint(0, 8)))

    def key(self):
        if self.rng.random() < 0.8:
            return self.rng.choice(INTERESTING_KEYS)
        return self.text()

    def float(self):
        if self.rng.random() < 0.6:
            return self.rng.choice(INTERESTING_FLOATS)
        return self.rng.uniform(-1e6, 1e6)


def gen_scalar(c):
    kind = c.int(0, 6)
    if kind == 0:
        return c.choice(INTERESTING_INTS) if c.int(0, 1) else c.int(-(2**63), 2**63 - 1)
    if kind == 1:
        return c.float()
    if kind == 2:
        return bool(c.int(0, 1))
    if kind == 3:
        return c.text()
    micro = c.choice([0, 500000, 1, 999999])
    if kind == 4:
        return dt.date(c.int(1, 9999), c.int(1, 12), c.int(1, 28))
    if kind == 5:
        return dt.time(c.int(0, 23), c.int(0, 59), c.int(0, 59), micro)
    tz = c.choice([None, dt.timezone.utc, dt.timezone(dt.timedelta(minutes=c.int(-1439, 1439)))])
    return dt.datetime(c.int(1, 9999), c.int(1, 12), c.int(1, 28), c.int(0, 23), c.int(0, 59), c.int(0, 59),
                       micro, tzinfo=tz)


def gen_value(c, depth=0):
    """A Python value that converts to TOML: scalars, arrays, tables and
    lists of tables (arrays of tables)."""
    kind = c.int(0, 3 if depth < 2 else 0)
    if kind == 0:
        return gen_scalar(c)
    if kind == 1:
        return [gen_value(c, depth + 1) if c.int(0, 3) == 0 else gen_scalar(c) for _ in range(c.int(0, 3))]
    if kind == 2:
        return {c.key(): gen_value(c, depth + 1) for _ in range(c.int(0, 3))}
    return [{c.key(): gen_value(c, depth + 1) for _ in range(c.int(0, 2))} for _ in range(c.int(1, 2))]


# Fragments for Item.parse, with the values they stand for.
FRAGMENTS = [
    ("0xFF", 255),
    ("1_000", 1000),
    ("'''multi\nline'''", "multi\nline"),
    ('"esc\\tape"', "esc\tape"),
    ("[1, 2, # two\n 3,]", [1, 2, 3]),
    ("{ a = 1, b = [true] }", {"a": 1, "b": [True]}),
    ("{\n  a = 1,  # one\n  b.c = 'x',\n}", {"a": 1, "b": {"c": "x"}}),
    ("1979-05-27T00:32:00-07:00", dt.datetime(1979, 5, 27, 0, 32, tzinfo=dt.timezone(dt.timedelta(hours=-7)))),
    ("6.626e-34", 6.626e-34),
    ("-inf", -math.inf),
]


# --------------------------------------------------------------------------- text scanning


@dataclass
class Statement:
    owner: str      # root key the statement belongs to
    start: int      # start of the checked text
    end: int        # end of the statement's last line (line break excluded)
    header: str = None   # a header's line, stripped; None for a key/value line
    glued: bool = False  # a header on the line right after a statement's last line
    path: tuple = None   # a header's decoded key path


@dataclass
class Layout:
    """What `scan` finds in a text besides the statements: comment lines
    (stripped) with the root key they belong to (None: the root's own region,
    before the first header), the headers glued to the line before, and the
    headers with no blank line above them (glued or not)."""
    statements: list
    comments: list      # (text, owner)
    glued: collections.Counter
    tight: collections.Counter
    closing: list       # (statement index, first line): comments that end a body
    leading: str        # the first line of free comments that open the document


_BARE = set("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-")


def _skip_string(text, i):
    """Index after the string starting at `i`."""
    q = text[i]
    if text.startswith(q * 3, i):
        j = i + 3
        while True:
            k = text.find(q * 3, j)
            if k < 0:
                return len(text)
            if q == '"':
                # an escaped quote does not close the string
                bs = 0
                while k - 1 - bs >= j and text[k - 1 - bs] == "\\":
                    bs += 1
                if bs % 2:
                    j = k + 1
                    continue
            k += 3
            extra = 0
            while extra < 2 and k < len(text) and text[k] == q:
                k += 1
                extra += 1
            return k
    j = i + 1
    while j < len(text) and text[j] != q and text[j] != "\n":
        if q == '"' and text[j] == "\\":
            j += 1
        j += 1
    return j + 1


def _key_segment(text, i):
    """(decoded first segment, index after it) for a key starting at `i`."""
    if text[i] in "\"'":
        j = _skip_string(text, i)
        return morvelan.loads("k = " + text[i:j]).value["k"], j
    j = i
    while j < len(text) and text[j] in _BARE:
        j += 1
    return text[i:j], j


def _skip_key(text, i):
    while True:
        while text[i] in " \t":
            i += 1
        if text[i] in "\"'":
            i = _skip_string(text, i)
        else:
            while text[i] in _BARE:
                i += 1
        while text[i] in " \t":
            i += 1
        if text[i] != ".":
            return i
        i += 1


def _line_end(text, end):
    """`end` (the line break after a statement) less the CR of a CRLF: the
    line break is not the statement's text."""
    return end - 1 if end > 0 and text[end - 1] == "\r" else end


def _header_path(text, i):
    """The decoded key path of a header whose first key starts at `i`."""
    path = []
    while True:
        seg, i = _key_segment(text, i)
        path.append(seg)
        while text[i] in " \t":
            i += 1
        if text[i] != ".":
            return path
        i += 1
        while text[i] in " \t":
            i += 1


def _end_of_line(text, i):
    j = text.find("\n", i)
    return len(text) if j < 0 else j


def _skip_value(text, i):
    """Index of the line break (or end) that ends the value starting at `i`."""
    depth = 0
    n = len(text)
    while i < n:
        ch = text[i]
        if ch in "\"'":
            i = _skip_string(text, i)
            continue
        if ch in "[{":
            depth += 1
        elif ch in "]}":
            depth -= 1
        elif ch == "#":
            i = _end_of_line(text, i)
            continue
        elif ch == "\n" and depth <= 0:
            return i
        i += 1
    return n


def scan(text):
    """The headers and key/value lines of a valid TOML text, each with the
    root key it belongs to. A key/value statement's checked text starts at
    the first comment line above it (the comments that travel with the
    entry); a header's starts at the bracket.

    Comment lines go with the statement directly below them (no blank line
    between); a comment paragraph set off by a blank line stands free and
    belongs to the region it stands in: that of the last header's root key,
    or the root's (None) before the first header."""
    out = []
    comments = []
    glued = collections.Counter()
    tight = collections.Counter()
    owner = None
    i = 1 if text.startswith("\ufeff") else 0
    n = len(text)
    comment_start = None
    paragraphs = []   # [lines, closed by a blank line, index of the statement it directly follows]
    prev_end = None
    closing = []
    after = None      # the index of the statement the text directly follows
    prev_path = None  # the key path of the header above, whose lines may stand between

    def settle(stmt_owner):
        for lines, closed, follows in paragraphs:
            comments.extend((c, owner if closed else stmt_owner) for c in lines)
            if closed and follows is not None:
                closing.append((follows, lines[0]))
        paragraphs.clear()

    while i < n:
        j = i
        while j < n and text[j] in " \t\r":
            j += 1
        if j >= n:
            break
        ch = text[j]
        if ch == "\n":
            if paragraphs:
                paragraphs[-1][1] = True
            after = None
            i = j + 1
            continue
        if ch == "#":
            if comment_start is None:
                comment_start = j
            end = _end_of_line(text, j)
            if not paragraphs or paragraphs[-1][1]:
                paragraphs.append([[], False, after])
            after = None
            paragraphs[-1][0].append(text[j:end].strip())   # j is past a byte-order mark
            i = end + 1
            continue
        if ch == "[":
            k = j + 1
            if text[k] == "[":
                k += 1
            while text[k] in " \t":
                k += 1
            head, _ = _key_segment(text, k)
            path = _header_path(text, k)
            end = _end_of_line(text, j)
            line = text[j:end].strip()
            # A sub-table right under its parent's own header, or right after
            # its parent's lines, is not glued: the table's section starts
            # there (a file that glues its headers keeps them so).
            stuck = (prev_end is not None and text[prev_end:j].strip(" \t\r") == "\n"
                     and not (prev_path is not None and len(prev_path) < len(path)
                              and path[:len(prev_path)] == prev_path))
            prev_path = path
            settle(head)
            owner = head
            out.append(Statement(owner, j, _line_end(text, end), line, stuck, tuple(path)))
            if stuck:
                glued[line] += 1
            if prev_end is not None and text[prev_end:j].strip(" \t\r") == "\n":
                tight[line] += 1
            comment_start = None
            prev_end = end
            after = len(out) - 1
            i = end + 1
            continue
        first, _ = _key_segment(text, j)
        k = _skip_key(text, j)
        assert text[k] == "=", (text[j:k + 10], "scanner lost its way")
        end = _skip_value(text, k + 1)
        stmt_owner = owner if owner is not None else first
        settle(stmt_owner)
        out.append(Statement(stmt_owner, comment_start if comment_start is not None else j, _line_end(text, end)))
        comment_start = None
        prev_end = end
        after = len(out) - 1
        i = end + 1
    for lines, _, follows in paragraphs:
        comments.extend((c, owner) for c in lines)
        if follows is not None:
            closing.append((follows, lines[0]))
    return Layout(out, comments, glued, tight, closing, _opening_comment(text))


def _opening_comment(text):
    """The first line of a comment paragraph that opens the text, set off by
    a blank line from what follows; None when there is none."""
    lines = text.removeprefix("\ufeff").split("\n")[:-1]   # whole lines only
    if not lines or not lines[0].strip().startswith("#"):
        return None
    for line in lines[1:]:
        if not line.strip():
            return lines[0].strip()
        if not line.strip().startswith("#"):
            return None
    return None


def statements(text):
    return scan(text).statements


def comment_lines(text):
    """Every whole-line comment of a text, stripped, counted."""
    text = text.removeprefix("\ufeff")
    return collections.Counter(line.strip() for line in text.split("\n") if line.lstrip(" \t").startswith("#"))


ROOT_REGION = None   # in `touched`: the root itself was cleared


def check_layout(base, layout, touched, text, log, anchors=(), copied=(), replaced=None):
    """(d): headers glued to the line before only where they were; the
    comment lines of untouched entries and free paragraphs all still there;
    comments that open the document or end a body where they stood; a table
    that replaced a table (`anchors`: header path, index of the old one's
    first header among the statements) in the old one's place."""
    now = scan(text)
    # Headers of the input; a copied table keeps the layout it had (a header
    # written more often than in the input comes from a copy).
    written = collections.Counter(st.header for st in now.statements if st.header)
    had = collections.Counter(st.header for st in layout.statements if st.header)
    from_copies = {st.header for st in now.statements if st.header and st.owner in copied}
    # A header that had no blank line above it keeps its text when a new
    # section goes in right above it: glued then to that section's header.
    extra = collections.Counter({h: n for h, n in (now.glued - layout.tight).items()
                                 if h in had and written[h] <= had[h] and h not in from_copies})
    assert not extra, (f"header directly after a key/value or header line: {sorted(extra)}\n{log}\n"
                       f"--- before\n{base}\n--- after\n{text}")
    kept = collections.Counter(c for c, owner in layout.comments if owner not in touched)
    replaced = replaced or collections.Counter()
    lost = kept - comment_lines(text) - replaced
    assert not lost, (f"comment lines lost: {sorted(lost)}\n{log}\n--- before\n{base}\n--- after\n{text}")
    where = f"{log}\n--- before\n{base}\n--- after\n{text}"
    # A comment paragraph that opens the document (a licence) stays first.
    if layout.leading is not None and ROOT_REGION not in touched and not replaced[layout.leading]:
        assert text.removeprefix("\ufeff").lstrip(" \t").startswith(layout.leading), \
            f"the document no longer opens with {layout.leading!r}\n{where}"
    # Where the untouched statements are now (as check_untouched finds them).
    found = {}
    pos = 0
    for i, st in enumerate(layout.statements):
        if st.owner in touched:
            continue
        at = text.find(base[st.start:st.end], pos)
        if at < 0:
            break
        pos = at + st.end - st.start
        found[i] = (at, pos)
    # Comment lines that end an untouched body stay with it: no header
    # comes between.
    for i, first in layout.closing:
        if i in found and (at := _find_line(text, first, found[i][1])) is not None:
            between = [st.header for st in now.statements if st.header and found[i][1] <= st.start < at]
            assert not between, f"{between} now stands between a body and its closing {first!r}\n{where}"
    # A table that replaced a table stands where the old one stood among the
    # headers of untouched tables.
    if anchors:
        placed = {st.path: k for k, st in enumerate(now.statements) if st.header and not st.header.startswith("[[")}
        for path, index in anchors:
            if path not in placed:
                continue
            for k, st in enumerate(layout.statements):
                if st.owner in touched or not st.header or st.header.startswith("[[") or st.path not in placed:
                    continue
                assert (placed[st.path] < placed[path]) == (k < index), \
                    f"the table {path} moved from its place (against {st.header})\n{where}"


def _find_line(text, line, start):
    """Where the first whole line `line` (stripped) starts at or after `start`."""
    at = text.find(line, start)
    while at >= 0:
        if text[:at].rstrip(" \t").endswith("\n") or at == 0:
            return at
        at = text.find(line, at + 1)
    return None


def check_line_breaks(base, text, log):
    """(e): a CRLF document stays one; a byte-order mark stays."""
    if "\n" in base and base.count("\n") == base.count("\r\n"):
        assert text.count("\n") == text.count("\r\n"), f"a line break that is not CRLF\n{log}\n{text!r}"
    if base.startswith("\ufeff"):
        assert text.startswith("\ufeff"), f"the byte-order mark was lost\n{log}"


def check_untouched(base, stmts, touched, text, log):
    """Every statement of an untouched root key appears verbatim in `text`,
    in the original order. Edits may change the edited entries and the
    blank lines before a neighbouring header, never the text of others."""
    if not touched:
        assert text == base, f"no edit took effect, yet the text changed\n{log}"
        return
    pos = 0
    for s in stmts:
        if s.owner in touched:
            continue
        piece = base[s.start:s.end]
        found = text.find(piece, pos)
        assert found >= 0, (f"untouched text of {s.owner!r} lost or reordered: {piece!r}\n{log}\n"
                            f"--- before\n{base}\n--- after\n{text}")
        pos = found + len(piece)


# --------------------------------------------------------------------------- generated documents

KEY_SPELLINGS = [("a", "a"), ("b", "b"), ("c", "c"), ("name", "name"), ("x-y", "x-y"), ("key_1", "key_1"),
                 ("42", "42"), ('"quoted key"', "quoted key"), ("'lit'", "lit"), ('"é"', "é"), ('"a.b"', "a.b"),
                 ('""', ""), ("true", "true"), ("srv", "srv"), ("deps", "deps"), ("z9", "z9")]

SCALAR_SPELLINGS = [
    ("1", 1), ("-17", -17), ("0xFF", 255), ("1_000", 1000), ("+3", 3), ("0o17", 15), ("0b101", 5),
    ("3.5", 3.5), ("-0.0", -0.0), ("1e3", 1000.0), ("inf", math.inf), ("nan", math.nan),
    ("true", True), ("false", False),
    ('"hi"', "hi"), ("'raw\\n'", "raw\\n"), ('"tab\\there"', "tab\there"), ('"""\nml\nstring"""', "ml\nstring"),
    ("'''\nlit ml'''", "lit ml"), ('"\\u00e9"', "é"), ('""', ""),
    ("1979-05-27", dt.date(1979, 5, 27)), ("07:32:00", dt.time(7, 32)),
    ("1979-05-27T07:32:00Z", dt.datetime(1979, 5, 27, 7, 32, tzinfo=dt.timezone.utc)),
    ("1979-05-27 07:32:00.5", dt.datetime(1979, 5, 27, 7, 32, 0, 500000)),
]
INDENTS = ["", "", "  ", "    ", "\t"]
EQUALS = [" = ", " = ", "=", "   = ", " =  "]
COMMENTS = ["# note", "#", "# a = 1", "#: [x]", "# ü"]


class DocGen:
    def __init__(self, c):
        self.c = c

    def names(self, n, exclude=()):
        used = set(exclude)
        out = []
        for _ in range(n):
            free = [s for s in KEY_SPELLINGS if s[1] not in used]
            if not free:
                break
            s = self.c.choice(free)
            used.add(s[1])
            out.append(s)
        return out

    def trail(self):
        return "  " + self.c.choice(COMMENTS) if self.c.int(0, 3) == 0 else ""

    def scalar(self):
        return self.c.choice(SCALAR_SPELLINGS)

    def bracketed(self, open_, close, parts, indent):
        """`parts` between brackets: on one line, or one per line with comments
        after the opening bracket, above and after the parts (also before a
        comma that stands on the next line) and maybe a trailing comma."""
        c = self.c
        if not parts:
            return open_ + c.choice(["", " ", "  # empty\n" + indent]) + close
        if c.int(0, 1):
            pad = " " if open_ == "{" else ""
            return open_ + pad + ", ".join(parts) + ("," if c.int(0, 2) == 0 else "") + pad + close
        inner = indent + c.choice(["  ", "    ", "\t"])
        lines = [open_ + self.trail()]
        for k, t in enumerate(parts):
            if c.int(0, 3) == 0:
                lines.append(inner + c.choice(COMMENTS))
            last = k == len(parts) - 1
            if not last and c.int(0, 4) == 0:
                lines += [inner + t + "  " + c.choice(COMMENTS), inner + "," + self.trail()]
            else:
                lines.append(inner + t + ("," if not last or c.int(0, 1) else "") + self.trail())
        return "\n".join(lines + [indent + close])

    def array(self, indent, depth):
        items = [self.value(indent + "  ", depth + 1) for _ in range(self.c.int(0, 3))]
        return self.bracketed("[", "]", [t for t, _ in items], indent), [v for _, v in items]

    def inline(self, indent, depth):
        parts, value = [], {}
        for spelling, name in self.names(self.c.int(0, 3)):
            t, value[name] = self.value(indent + "  ", depth + 1)
            parts.append(f"{spelling}{self.c.choice(EQUALS)}{t}")
        return self.bracketed("{", "}", parts, indent), value

    def value(self, indent, depth=0):
        kind = self.c.int(0, 4 if depth < 2 else 2)
        if kind <= 2:
            return self.scalar()
        if kind == 3:
            return self.array(indent, depth)
        return self.inline(indent, depth)

    def body(self, names, indent):
        """Entries of one table: (list of lines, value)."""
        entries = []   # each: list of lines (a dotted group gives several entries)
        value = {}
        for spelling, name in names:
            if self.c.int(0, 4) == 0:
                subs = self.names(self.c.int(1, 3))
                group = {}
                for sub_spelling, sub_name in subs:
                    t, v = self.value(indent)
                    dot = self.c.choice([".", ".", " . "])
                    entries.append([f"{indent}{spelling}{dot}{sub_spelling}{self.c.choice(EQUALS)}{t}{self.trail()}"])
                    group[sub_name] = v
                value[name] = group
            else:
                t, v = self.value(indent)
                entries.append([f"{indent}{spelling}{self.c.choice(EQUALS)}{t}{self.trail()}"])
                value[name] = v
        # dotted groups may be interleaved with the other entries
        if len(entries) > 1 and self.c.int(0, 2) == 0:
            i, j = self.c.int(0, len(entries) - 1), self.c.int(0, len(entries) - 1)
            entries[i], entries[j] = entries[j], entries[i]
        lines = []
        for e in entries:
            if self.c.int(0, 3) == 0:
                lines.append("")
            if self.c.int(0, 3) == 0:
                lines.append(indent + self.c.choice(COMMENTS))
            lines.extend(e)
        return lines, value

    def header(self, *spellings, aot=False):
        sep = self.c.choice([".", ".", " . "])
        inner = sep.join(spellings)
        if self.c.int(0, 4) == 0:
            inner = " " + inner + " "
        return ("[[" + inner + "]]" if aot else "[" + inner + "]") + self.trail()

    def document(self):
        c = self.c
        roots = self.names(c.int(0, 7))
        split = c.int(0, len(roots))
        pre_names, sec_names = roots[:split], roots[split:]
        value = {}
        lines = []
        if c.int(0, 2) == 0:
            lines += ["# generated document", ""]
        pre_lines, pre_value = self.body(pre_names, "")
        lines += pre_lines
        value.update(pre_value)
        chunks = []
        for spelling, name in sec_names:
            indent = c.choice(INDENTS)
            kind = c.int(0, 2)
            if kind == 0:   # [k] with a body, sub-tables anywhere later
                subs = self.names(c.int(0, 2))
                body_lines, v = self.body(self.names(c.int(0, 3), exclude=[n for _, n in subs]), indent)
                chunks.append([self.header(spelling)] + body_lines)
                for sub_spelling, sub_name in subs:
                    sub_lines, sv = self.body(self.names(c.int(0, 2)), indent)
                    chunks.append([self.header(spelling, sub_spelling)] + sub_lines)
                    v[sub_name] = sv
                value[name] = v
            elif kind == 1:   # implicit [k]: only [k.s] headers
                v = {}
                for sub_spelling, sub_name in self.names(c.int(1, 2)):
                    sub_lines, sv = self.body(self.names(c.int(0, 2)), indent)
                    chunks.append([self.header(spelling, sub_spelling)] + sub_lines)
                    v[sub_name] = sv
                value[name] = v
            else:   # [[k]] elements, one block
                block = []
                members = []
                for _ in range(c.int(1, 3)):
                    subs = self.names(c.int(0, 1))
                    body_lines, mv = self.body(self.names(c.int(0, 3), exclude=[n for _, n in subs]), indent)
                    block += ([""] if block and c.int(0, 1) else []) + [self.header(spelling, aot=True)] + body_lines
                    for sub_spelling, sub_name in subs:
                        sub_lines, sv = self.body(self.names(c.int(0, 2)), indent)
                        block += [self.header(spelling, sub_spelling)] + sub_lines
                        mv[sub_name] = sv
                    members.append(mv)
                chunks.append(block)
                value[name] = members
        # split tables: the chunks of different keys are shuffled together
        for k in range(len(chunks) - 1, 0, -1):
            j = c.int(0, k)
            chunks[k], chunks[j] = chunks[j], chunks[k]
        for chunk in chunks:
            if lines and c.int(0, 2):
                lines.append("")
            if c.int(0, 4) == 0:
                lines.append(c.choice(COMMENTS))
            lines += chunk
        text = "\n".join(lines)
        if lines and c.int(0, 3):
            text += "\n"
        return text, value


# --------------------------------------------------------------------------- edits


def expr(path, root="doc"):
    return root + "".join(f"[{s!r}]" for s in path)


def resolve(obj, path):
    for s in path:
        obj = obj[s]
    return obj


def _works(probe):
    try:
        return probe()
    except Exception:
        return False


LIST_INDEXING = _works(lambda: morvelan.loads("a = [{b = 1}]")["a"][0]["b"].value == 1)
ITEM_PARSE = _works(lambda: morvelan.Item.parse("0xFF").value == 255)


def table_paths(model, limit=4, path=()):
    """Paths of the tables (dicts) of the model, the root first."""
    out = [list(path)]
    if len(path) >= limit:
        return out
    for k, v in model.items():
        if isinstance(v, dict):
            out += table_paths(v, limit, path + (k,))
        elif LIST_INDEXING and isinstance(v, list):
            for i, e in enumerate(v[:3]):
                if isinstance(e, dict):
                    out += table_paths(e, limit, path + (k, i))
    return out


def value_paths(model, limit=4, path=()):
    """Paths of the values of the model below the root: entries of tables,
    and the first elements of arrays and arrays of tables."""
    if isinstance(model, dict):
        children = model.items()
    elif isinstance(model, list) and LIST_INDEXING:
        children = list(enumerate(model))[:3]
    else:
        return []
    out = []
    for k, v in children:
        out.append(list(path) + [k])
        if len(path) + 1 < limit:
            out += value_paths(v, limit, path + (k,))
    return out


class Pairs(collections.abc.Mapping):
    """A mapping that is not a dict, read through `items()`: its keys may be
    handles on strings, which a dict could not hold (handles do not hash)."""

    def __init__(self, pairs):
        self.pairs = pairs

    def items(self):
        return list(self.pairs)

    def __getitem__(self, key):
        raise KeyError(key)

    def __iter__(self):
        return iter(k for k, _ in self.pairs)

    def __len__(self):
        return len(self.pairs)


def last_wins(pairs):
    """(key, ...) tuples with one per key: the last value, the first place."""
    return list({p[0]: p for p in pairs}.values())


@dataclass
class Run:
    """A document, its dict model and the record needed for the checks."""
    doc: object
    model: dict
    other: object = None          # a second document to take handles from
    other_model: dict = None
    base: str = ""
    stmts: list = field(default_factory=list)
    layout: Layout = None
    touched: set = field(default_factory=set)
    anchors: list = field(default_factory=list)
    copied: set = field(default_factory=set)   # root keys that hold copies of tables
    log: list = field(default_factory=list)
    comments: list = field(default_factory=list)   # (path, attribute, comment, structure_edits when set)
    structure_edits: int = 0
    # Comment lines a block comment set replaced: all the lines its getter read,
    # paragraphs set off by a blank line included.
    replaced: collections.Counter = field(default_factory=collections.Counter)

    @classmethod
    def start(cls, text, other_text=None):
        doc = morvelan.loads(text)
        run = cls(doc, doc.value)
        run.base = doc.as_toml()
        run.rebase(run.base)
        run.log = [f"doc = loads({text!r})"]
        if other_text is not None:
            run.other = morvelan.loads(other_text)
            run.other_model = run.other.value
            run.log.append(f"other = loads({other_text!r})")
        return run

    def rebase(self, text):
        self.base = text
        self.layout = scan(text)
        self.stmts = self.layout.statements
        self.touched = set()
        self.anchors = []
        self.copied = set()

    def script(self):
        return "\n".join(self.log)

    def touch(self, path, keys):
        owners = {path[0]} if path else set(keys)
        self.touched |= owners
        self.anchors = [a for a in self.anchors if a[0][0] not in owners]

    def check(self):
        text = self.doc.as_toml()
        log = self.script()
        value = self.doc.value
        assert same(value, self.model), f"values differ from the model\n{log}\n{value!r}\n!=\n{self.model!r}"
        try:
            again = morvelan.loads(text).value
        except ValueError as e:
            raise AssertionError(f"written text does not parse\n{log}\n--- text\n{text}\n--- error\n{e}")
        assert same(again, value, ordered=False), \
            f"written text reads back different values\n{log}\n--- text\n{text}\n{again!r}\n!=\n{value!r}"
        check_untouched(self.base, self.stmts, self.touched, text, log)
        check_layout(self.base, self.layout, self.touched, text, log, self.anchors, self.copied, self.replaced)
        check_line_breaks(self.base, text, log)
        # Comments read back as set, from the document and from its text, while
        # nothing but comment edits followed.
        written = morvelan.loads(text)
        for path, attr, comment, edits in self.comments:
            if edits == self.structure_edits:
                for source in (self.doc, written):
                    got = getattr(resolve(source, path), attr)
                    assert _comment_form(got) == _comment_form(comment), \
                        f"{expr(path)}.{attr} reads {got!r}, set to {comment!r}\n{log}\n--- text\n{text}"
        STATS["steps checked"] += 1

    # ---------------------------------------------------------------- one step

    def step(self, c):
        paths = table_paths(self.model)
        path = [] if c.int(0, 2) == 0 else c.choice(paths)
        target = resolve(self.model, path)
        keys = list(target)
        op = c.choice(["assign", "assign", "assign", "del", "pop", "popitem", "update", "setdefault", "clear",
                       "ior", "or", "build", "list", "list", "list", "comment", "comment", "sort", "rename"])
        if op == "clear" and c.int(0, 2):
            op = "assign"   # rarely: it wipes out what the other steps work on
        if op == "comment":
            self.op_comment(c)
            return
        self.structure_edits += 1
        if op == "list":
            lists = [q for q in value_paths(self.model) if isinstance(resolve(self.model, q), list)]
            if lists:
                self.op_list(c, c.choice(lists))
                return
            op = "assign"
        before = set(self.touched)
        getattr(self, "op_" + op)(c, path, target, keys)
        # Tables copied from handles keep the layout of their headers.
        line = self.log[-1]
        operand = line.split("|=" if op == "ior" else ("=" if op == "assign" else "("), 1)[-1]
        if op in ("assign", "update", "ior", "setdefault") and re.search(r"\b(doc|other)\b|Item\.parse", operand):
            self.copied |= self.touched - before

    def pick_key(self, c, keys, existing_bias=2):
        if keys and c.int(0, existing_bias):
            return c.choice(keys)
        return c.key()

    def handle(self, c, want=object):
        """(handle, source text, model value) on a value of this document, of
        the other one or of a parsed fragment, or on the whole of one of them;
        its value must be a `want`. None when there is no such value."""
        src = c.int(0, 2)
        if src == 2 and ITEM_PARSE:
            text, model = c.choice(FRAGMENTS)
            root, name = morvelan.Item.parse(text), f"Item.parse({text!r})"
        elif src == 1 and self.other is not None:
            root, name, model = self.other, "other", self.other_model
        else:
            root, name, model = self.doc, "doc", self.model
        paths = [p for p in [[]] + value_paths(model) if isinstance(resolve(model, p), want)]
        if not paths:
            return None
        p = c.choice(paths)
        # an index may count from the end
        q = [s - len(resolve(model, p[:i])) if type(s) is int and c.int(0, 2) == 0 else s for i, s in enumerate(p)]
        return resolve(root, q), expr(q, name), copy.deepcopy(resolve(model, p))

    def mixed(self, c, shape=None, depth=0):
        """(object, source text, model value) of a list, a list of mappings or
        a mapping that holds handles, plain values and more of these."""
        shape = shape or c.choice(["list", "tables", "dict"])
        if shape == "tables":
            parts = [(self.handle(c, dict) if c.int(0, 2) == 0 else None) or self.mixed(c, "dict", depth + 1)
                     for _ in range(c.int(1, 3))]
        else:
            parts = []
            for _ in range(c.int(0, 3)):
                kind = c.int(0, 3 if depth < 2 else 1)
                got = self.handle(c) if kind <= 1 else None
                if got is None:
                    v = gen_value(c, 1)
                    got = self.mixed(c, None, depth + 1) if kind == 3 else (v, repr(v), native(v))
                parts.append(got)
        if shape != "dict":
            return [o for o, _, _ in parts], "[" + ", ".join(s for _, s, _ in parts) + "]", [v for _, _, v in parts]
        keyed = []
        for o, s, v in parts:
            key = self.handle(c, str) if c.int(0, 3) == 0 else None
            if key is None:
                k = c.key()
                key = (k, repr(k), k)
            keyed.append((*key, o, s, v))
        pairs = [(k, o) for k, _, _, o, _, _ in keyed]
        shown = ", ".join(f"({ks}, {s})" for _, ks, _, _, s, _ in keyed)
        model = {kv: v for _, _, kv, _, _, v in keyed}
        if c.int(0, 2) and all(type(k) is str for k, _ in pairs):
            return dict(pairs), f"dict([{shown}])", model
        return Pairs(pairs), f"Pairs([{shown}])", model

    def operand(self, c):
        """(Python object to store, source text for the log, model value)."""
        kind = c.int(0, 6)
        if kind in (3, 4):
            got = self.handle(c)
            if got is not None:
                return got
        if kind >= 5:
            return self.mixed(c)
        v = gen_value(c)
        return v, repr(v), native(v)

    def op_build(self, c, path, target, keys):
        """`Document(m)` and `dumps(m)` of a mapping that holds handles (a table
        handle, or a mapping built here) write text that reads back the same."""
        if c.int(0, 3) == 0:
            obj, src, v = resolve(self.doc, path), expr(path), copy.deepcopy(target)
        else:
            obj, src, v = self.mixed(c, "dict")
        how = c.choice(["Document", "dumps"])
        self.log.append(f"{how}({src})")
        if how == "Document":
            new = morvelan.Document(obj)
            assert same(new.value, v), f"{self.script()}\n{new.value!r}\n!=\n{v!r}"
            text = new.as_toml()
        else:
            text = morvelan.dumps(obj)
        try:
            again = morvelan.loads(text).value
        except ValueError as e:
            raise AssertionError(f"written text does not parse\n{self.script()}\n--- text\n{text}\n--- error\n{e}")
        assert same(again, v, ordered=False), f"{self.script()}\n--- text\n{text}\n{again!r}\n!=\n{v!r}"
        if how == "Document" and c.int(0, 2) == 0:   # the next steps edit the new document
            self.log[-1] = f"doc = Document({src})"
            self.doc, self.model = new, v
            self.rebase(text)

    def op_assign(self, c, path, target, keys):
        key = self.pick_key(c, keys)
        obj, src, v = self.operand(c)
        self.log.append(f"{expr(path)}[{key!r}] = {src}")
        anchor = None
        full = (*path, key)
        if (isinstance(target.get(key), dict) and isinstance(v, dict) and full[0] not in self.touched
                and all(type(s) is str for s in full)):
            # a table in place of a table: written where the old one was
            anchor = next(((full, i) for i, st in enumerate(self.stmts)
                           if st.path is not None and st.path[:len(full)] == full), None)
        resolve(self.doc, path)[key] = obj
        target[key] = v
        self.touch(path, [key])
        if anchor is not None:
            self.anchors.append(anchor)

    def op_del(self, c, path, target, keys):
        key = self.pick_key(c, keys, 3)
        self.log.append(f"del {expr(path)}[{key!r}]")
        h = resolve(self.doc, path)
        if key in target:
            del h[key]
            del target[key]
            self.touch(path, [key])
        else:
            with pytest.raises(KeyError):
                del h[key]

    def op_pop(self, c, path, target, keys):
        key = self.pick_key(c, keys, 3)
        h = resolve(self.doc, path)
        default = (object(),) if c.int(0, 1) else ()
        self.log.append(f"{expr(path)}.pop({key!r}{', default' if default else ''})")
        if key in target:
            got = h.pop(key, *default)
            assert same(got, target.pop(key)), f"{self.script()}\n{got!r}"
            self.touch(path, [key])
        elif default:
            assert h.pop(key, *default) is default[0], self.script()
        else:
            with pytest.raises(KeyError):
                h.pop(key)

    def op_popitem(self, c, path, target, keys):
        self.log.append(f"{expr(path)}.popitem()")
        h = resolve(self.doc, path)
        if not target:
            with pytest.raises(KeyError, match="popitem"):
                h.popitem()
            return
        got = h.popitem()
        want = target.popitem()
        assert type(got) is tuple and got[0] == want[0] and same(got[1], want[1]), \
            f"{self.script()}\ngot {got!r}, want {want!r}"
        self.touch(path, [want[0]])

    def _pairs(self, c, keys):
        """(key, object, source text, model value) tuples."""
        return [(self.pick_key(c, keys), *self.operand(c)) for _ in range(c.int(0, 3))]

    def op_update(self, c, path, target, keys):
        h = resolve(self.doc, path)
        form = c.int(0, 4)
        if form == 4 and self.other is not None:
            # another document (a mapping whose values come out as handles)
            self.log.append(f"{expr(path)}.update(other)")
            h.update(self.other)
            for k, v in self.other_model.items():
                target[k] = copy.deepcopy(v)
            self.touch(path, list(self.other_model))
            return
        pairs = self._pairs(c, keys)
        kwargs = self._pairs(c, keys) if c.int(0, 2) == 0 else []
        shown = "{" + ", ".join(f"{k!r}: {s}" for k, _, s, _ in pairs) + "}"
        kw_shown = "".join(f", **{{{k!r}: {s}}}" for k, _, s, _ in kwargs)
        if form == 0:
            arg, text = {k: o for k, o, _, _ in pairs}, shown
        elif form == 1:
            arg, text = types.MappingProxyType({k: o for k, o, _, _ in pairs}), f"MappingProxyType({shown})"
        elif form == 2:
            arg, text = [(k, o) for k, o, _, _ in pairs], f"list({shown}.items())"
        else:
            arg, text = [[k, o] for k, o, _, _ in pairs], f"[[k, v] for k, v in {shown}.items()]"
        self.log.append(f"{expr(path)}.update({text}{kw_shown})")
        h.update(arg, **{k: o for k, o, _, _ in kwargs})
        if form in (0, 1):   # a dict argument keeps only the last value of a repeated key
            applied = last_wins(pairs)
        else:
            applied = pairs
        for k, _, _, v in applied:
            target[k] = copy.deepcopy(v)
        for k, _, _, v in last_wins(kwargs):
            target[k] = copy.deepcopy(v)
        self.touch(path, [p[0] for p in pairs + kwargs])

    def op_ior(self, c, path, target, keys):
        pairs = self._pairs(c, keys)
        arg = {k: o for k, o, _, _ in pairs}
        self.log.append(f"h = {expr(path)}; h |= {{" + ", ".join(f"{k!r}: {s}" for k, _, s, _ in pairs) + "}")
        h = resolve(self.doc, path)
        h2 = h
        h2 |= arg
        assert h2 is h, self.script()
        for k, _, _, v in last_wins(pairs):
            target[k] = copy.deepcopy(v)
        self.touch(path, list(arg))

    def op_or(self, c, path, target, keys):
        """`h | mapping` and `mapping | h` build new objects and leave the document alone."""
        pairs = self._pairs(c, keys)
        arg = {k: o for k, o, _, _ in pairs}
        merged = copy.deepcopy(target)
        for k, _, _, v in last_wins(pairs):
            merged[k] = copy.deepcopy(v)
        shown = "{" + ", ".join(f"{k!r}: {s}" for k, _, s, _ in pairs) + "}"
        h = resolve(self.doc, path)
        if c.int(0, 1):
            self.log.append(f"new = {expr(path)} | {shown}")
            new = h | arg
            assert type(new) is type(h) and new is not h, self.script()
            assert same(new.value, merged), f"{self.script()}\n{new.value!r}\n!=\n{merged!r}"
        else:
            self.log.append(f"new = {shown} | {expr(path)}")
            new = arg | h
            # the mapping's own items stay as they are; the table's come out as native values
            assert type(new) is dict and list(new) == list({**arg, **target}), self.script()
            for k, v in new.items():
                if k in target:
                    assert same(v, target[k]), f"{self.script()}\n{k!r}: {v!r} != {target[k]!r}"
                else:
                    assert v is arg[k], self.script()

    def op_setdefault(self, c, path, target, keys):
        key = self.pick_key(c, keys)
        h = resolve(self.doc, path)
        if c.int(0, 4) == 0:
            self.log.append(f"{expr(path)}.setdefault({key!r})")
            if key in target:
                got = h.setdefault(key)
                assert same(got.value, target[key]), self.script()
            else:
                with pytest.raises(TypeError, match="no null type"):
                    h.setdefault(key)
            return
        obj, src, v = self.operand(c)
        self.log.append(f"{expr(path)}.setdefault({key!r}, {src})")
        got = h.setdefault(key, obj)
        if key not in target:
            target[key] = v
            self.touch(path, [key])
        assert isinstance(got, morvelan.Item) and same(got.value, target[key]), \
            f"{self.script()}\n{got!r} != {target[key]!r}"

    # ---------------------------------------------------------------- comments

    BLOCKS = ["# c", "# x\n# y", "# a\n\n# b", "\n# lead", "# t\n", "#", "# ü é", "# [x]", None]
    LINE_COMMENTS = ["# i", "#", "# ü", "# a # b", "# , ] }", None]

    def op_comment(self, c):
        """Set, replace or clear the block comment or the inline comment of an
        entry: a value of a table or inline table, an element, a table, an
        array of tables or one of its members."""
        paths = value_paths(self.model)
        if not paths:
            return
        path = c.choice(paths)
        h = resolve(self.doc, path)
        attr = c.choice(["comment", "inline_comment"])
        comment = c.choice(self.BLOCKS if attr == "comment" else self.LINE_COMMENTS)
        self.log.append(f"{expr(path)}.{attr} = {comment!r}")
        aot_by_key = type(path[-1]) is str and repr(h).startswith("Item(array of tables")
        # An array of tables has no inline comment, and no block comment when it
        # has no member (whose header would hold it).
        if aot_by_key and (attr == "inline_comment" or not resolve(self.model, path)):
            with pytest.raises(TypeError, match="does not support comments"):
                setattr(h, attr, comment)
            return
        if attr == "comment":
            self.replaced.update(line for line in (h.comment or "").split("\n") if line)
        text = self.doc.as_toml()
        try:
            setattr(h, attr, comment)
        except TypeError as e:
            # A table written without a header line of its own (dotted keys, an
            # implicit table) has no line to end with an inline comment: it is
            # refused and nothing changes. (A comment taken is checked in the
            # written text, see `check`.)
            if attr != "inline_comment" or "without a header" not in str(e):
                raise
            assert isinstance(h, morvelan.DictItem) and self.doc.as_toml() == text, self.script()
            if not any(type(k) is int for k in path):
                headers = {s.path for s in scan(text).statements if s.header}
                assert tuple(path) not in headers, f"refused on a table with a header\n{self.script()}"
            return
        self.touch(path, [])
        # A section shares the text above its first header with what that header
        # belongs to: an array of tables with its first member, an implicit
        # table with its first sub-table. A block set on one is the others' too.
        def shares(other):
            n = min(len(other), len(path))
            return other == path or (attr == "comment" and other[:n] == path[:n])
        self.comments = [r for r in self.comments if not (r[1] == attr and shares(r[0]))]
        self.comments.append((path, attr, comment, self.structure_edits))

    # ---------------------------------------------------------------- lists

    LIST_OPS = ["append", "insert", "extend", "iadd", "pop", "remove", "setitem", "setslice", "delitem",
                "delslice", "imul", "multiline", "add", "reverse", "sort"]

    def op_list(self, c, path):
        """One sequence operation on the list at `path` (an array or an array
        of tables), applied to the model list too. The lines of elements the
        operation does not touch stay as they were (see `element_lines`)."""
        lst = resolve(self.model, path)
        h = resolve(self.doc, path)
        aot = repr(h).startswith("Item(array of tables")
        op = c.choice(self.LIST_OPS)
        n = len(lst)
        where = expr(path)
        text_before = self.doc.as_toml()
        lines_before = element_lines(h)
        touched = set()

        def values(count):
            return [self.operand(c) for _ in range(count)]

        def fits(vs):
            """Whether every value may be an element (tables only in an array of tables)."""
            return not aot or all(isinstance(v, dict) for _, _, v in vs)

        def refused(action):
            with pytest.raises(TypeError, match="to array of tables"):
                action()
            assert self.doc.as_toml() == text_before, f"a refused edit changed the text\n{self.script()}"

        if op in ("append", "insert", "setitem"):
            [(obj, src, v)] = values(1)
            at = c.int(-n - 2, n + 2) if op == "insert" else (c.int(-n, n - 1) if n else 0)
            if op == "setitem" and not n:
                op = "append"
            self.log.append(f"{where}.append({src})" if op == "append" else
                            f"{where}.insert({at}, {src})" if op == "insert" else f"{where}[{at}] = {src}")
            action = (lambda: h.append(obj)) if op == "append" else \
                (lambda: h.insert(at, obj)) if op == "insert" else (lambda: h.__setitem__(at, obj))
            if not fits([(obj, src, v)]):
                return refused(action)
            action()
            if op == "append":
                lst.append(v)
            elif op == "insert":
                lst.insert(at, v)
            else:
                touched.add(at % n)
                lst[at] = v
        elif op in ("extend", "iadd"):
            vs = values(c.int(0, 3))
            objs = [o for o, _, _ in vs]
            if c.int(0, 3) == 0:   # the list itself
                objs, vs = h, [(None, None, x) for x in copy.deepcopy(lst)]
                shown = where
            else:
                shown = "[" + ", ".join(s for _, s, _ in vs) + "]"
            self.log.append(f"{where}.extend({shown})" if op == "extend" else f"h = {where}; h += {shown}")
            if not fits(vs):
                return refused(lambda: h.extend(objs))
            if op == "extend":
                h.extend(objs)
            else:
                h2 = h
                h2 += objs
                assert h2 is h, self.script()
            lst.extend(v for _, _, v in vs)
        elif op in ("pop", "delitem"):
            if not n:
                self.log.append(f"{where}.pop()")
                with pytest.raises(IndexError, match="pop from empty array"):
                    h.pop()
                return
            at = c.int(-n, n - 1)
            if op == "pop" and c.int(0, 2) == 0:
                self.log.append(f"{where}.pop()")
                got, want = h.pop(), lst.pop()
                touched.add(n - 1)
            elif op == "pop":
                self.log.append(f"{where}.pop({at})")
                got, want = h.pop(at), lst.pop(at)
                touched.add(at % n)
            else:
                self.log.append(f"del {where}[{at}]")
                del h[at]
                got = want = lst.pop(at)
                touched.add(at % n)
            assert same(got, want), f"{self.script()}\n{got!r} != {want!r}"
        elif op == "remove":
            if n and c.int(0, 3):
                i = c.int(0, n - 1)
                value, shown = copy.deepcopy(lst[i]), f"{where}[{i}].value"
            else:
                value = gen_scalar(c)
                shown = repr(value)
            self.log.append(f"{where}.remove({shown})")
            found = next((k for k, x in enumerate(lst) if _toml_equal(x, value)), None)
            if found is None:
                with pytest.raises(ValueError, match="value not in array"):
                    h.remove(value)
                return
            h.remove(value)
            del lst[found]
            touched.add(found)
        elif op in ("setslice", "delslice"):
            start, stop = c.int(-n - 1, n + 1), c.int(-n - 1, n + 1)
            step = c.choice([1, 1, 1, 2, -1, -2]) if n else 1
            sl = slice(start, stop, step)
            picked = list(range(n))[sl]
            if op == "delslice":
                self.log.append(f"del {where}[{start}:{stop}:{step}]")
                del h[sl]
                del lst[sl]
            else:
                vs = values(len(picked) if step != 1 else c.int(0, 3))
                shown = "[" + ", ".join(s for _, s, _ in vs) + "]"
                self.log.append(f"{where}[{start}:{stop}:{step}] = {shown}")
                if not fits(vs):
                    return refused(lambda: h.__setitem__(sl, [o for o, _, _ in vs]))
                h[sl] = [o for o, _, _ in vs]
                lst[sl] = [v for _, _, v in vs]
            touched.update(picked)
        elif op == "imul":
            times = c.int(-1, 3)
            self.log.append(f"h = {where}; h *= {times}")
            h2 = h
            h2 *= times
            assert h2 is h, self.script()
            lst[:] = [copy.deepcopy(x) for _ in range(times) for x in lst]   # copies: no aliasing
            touched.update(range(n) if times <= 0 else ())
        elif op in ("reverse", "sort"):
            descending = bool(c.int(0, 1))
            call = f"{where}.reverse()" if op == "reverse" else f"{where}.sort(key=repr, reverse={descending})"
            self.log.append(call)
            try:
                h.reverse() if op == "reverse" else h.sort(key=repr, reverse=descending)
            except ValueError as e:
                # Members read from the text and members added by edits, or
                # other headers among them: refused, nothing changed.
                assert aot and "cannot move the members" in str(e), self.script()
                assert self.doc.as_toml() == text_before, self.script()
                return
            if op == "reverse":
                lst.reverse()
            else:
                lst.sort(key=repr, reverse=descending)
            touched.update(range(n))
            if aot:
                # Members move with their headers' comments; which header
                # lines stand glued to the line above stays with the places.
                self.copied.add(path[0])
        elif op == "multiline":
            indent = c.int(0, 4)
            self.log.append(f"{where}.set_multiline(indent={indent})")
            h.set_multiline(indent=indent)
            touched.update(range(n))
        else:   # + makes a new list and leaves the document alone
            vs = values(c.int(0, 2))
            self.log.append(f"new = {where} + [" + ", ".join(s for _, s, _ in vs) + "]")
            if fits(vs):
                new = h + [o for o, _, _ in vs]
                assert same(new.value, lst + [v for _, _, v in vs]), self.script()
            assert self.doc.as_toml() == text_before, self.script()
            return
        self.touch(path, [])
        lines_after = set(array_lines(h))
        for i, line in lines_before.items():
            if i not in touched:
                assert line in lines_after, (f"the line of an element left alone changed: {line!r}\n{self.script()}"
                                             f"\n--- before\n{text_before}\n--- after\n{self.doc.as_toml()}")

    def op_sort(self, c, path, target, keys):
        """sort() of a table or inline table (or of the document): the entries
        in the order of their names, or of a key of them, like list.sort();
        refused, changing nothing, when its sections or lines cannot move."""
        options = c.choice([{}, {"reverse": True}, {"key": len}, {"key": str.upper, "reverse": True}])
        shown = ", ".join(f"{k}={getattr(v, '__qualname__', v)}" for k, v in options.items())
        self.log.append(f"{expr(path)}.sort({shown})")
        text_before = self.doc.as_toml()
        try:
            resolve(self.doc, path).sort(**options)
        except ValueError as e:
            assert "sort() cannot move the" in str(e), self.script()
            assert self.doc.as_toml() == text_before, f"a refused sort changed the text\n{self.script()}"
            return
        items = [(k, target[k]) for k in sorted(keys, **options)]
        target.clear()
        target.update(items)
        self.touch(path, keys)
        # Sections move with their headers' comments; which header lines
        # stand glued to the line above stays with the places.
        self.copied |= {path[0]} if path else set(keys)

    def op_rename(self, c, path, target, keys):
        """rename(old, new): the entry keeps its place and every comment; a
        missing old key or a new key that is there already is a KeyError
        that changes nothing."""
        old, new = self.pick_key(c, keys, 4), self.pick_key(c, keys, 1)
        self.log.append(f"{expr(path)}.rename({old!r}, {new!r})")
        text_before = self.doc.as_toml()
        h = resolve(self.doc, path)
        if old not in target or (new in target and new != old):
            with pytest.raises(KeyError):
                h.rename(old, new)
            assert self.doc.as_toml() == text_before, f"a refused rename changed the text\n{self.script()}"
            return
        h.rename(old, new)
        items = [(new if k == old else k, v) for k, v in target.items()]
        target.clear()
        target.update(items)
        self.touch(path, [old, new])
        after = self.doc.as_toml()
        assert comment_lines(after) == comment_lines(text_before), f"a rename lost a comment\n{self.script()}"

    def op_clear(self, c, path, target, keys):
        self.log.append(f"{expr(path)}.clear()")
        resolve(self.doc, path).clear()
        self.touch(path, list(target) + [s.owner for s in self.stmts])
        if not path:
            self.touched.add(ROOT_REGION)
        target.clear()


def _comment_form(comment):
    """A block comment as it reads back: the blank lines around it are the
    entry's place's, not the comment's."""
    return comment.strip("\n") if comment else None


def _toml_equal(a, b):
    """Equality as the document compares values: a bool is not a number, an
    int equals a float of the same value."""
    if isinstance(a, bool) or isinstance(b, bool):
        return type(a) is type(b) and a == b
    if isinstance(a, (int, float)) and isinstance(b, (int, float)):
        return a == b
    if type(a) is not type(b):
        return False
    if isinstance(a, dict):
        return a.keys() == b.keys() and all(_toml_equal(a[k], b[k]) for k in a)
    if isinstance(a, list):
        return len(a) == len(b) and all(_toml_equal(x, y) for x, y in zip(a, b))
    if isinstance(a, dt.datetime):
        return a.replace(tzinfo=None) == b.replace(tzinfo=None) and a.utcoffset() == b.utcoffset()
    return a == b


def array_lines(h):
    """The lines inside the brackets of the array at `h`, trimmed, without commas."""
    return [line.replace(",", "").strip() for line in h.as_toml().split("\n")[1:-1]]


def _without_comment_lines(text):
    """An element's text without the comment lines above it."""
    lines = text.split("\n")
    while len(lines) > 1 and lines[0].lstrip().startswith("#"):
        lines.pop(0)
    return "\n".join(lines)


def element_lines(h):
    """{index: line} for the elements of an array written one per line whose
    value text stands alone on its line (after its indentation, before an
    optional comma and comment), when no other line holds the same text.
    Commas are left out of the lines compared: a comma may come or go after
    the last element."""
    if repr(h).startswith("Item(array of tables"):
        return {}
    # An element written on several lines has lines of its own that could
    # pass for another element's: such arrays are left out.
    texts = [e.as_toml() for e in h]
    if any("\n" in _without_comment_lines(t) for t in texts):
        return {}
    lines = array_lines(h)
    out = {}
    for i, t in enumerate(texts):
        v = t.replace(",", "")
        if "\n" in v or not v:
            continue
        found = [line for line in lines
                 if line == v or (line.startswith(v) and line[len(v):].lstrip().startswith("#"))]
        if len(found) == 1:
            out[i] = found[0]
    return out


# Counts of the whole run, shown at its end (see report_counts).
STATS = collections.Counter()


@pytest.fixture(scope="module", autouse=True)
def report_counts(request):
    yield
    if STATS["cases"]:
        reporter = request.config.pluginmanager.get_plugin("terminalreporter")
        if reporter is not None:
            reporter.write_line(f"edit properties: {STATS['steps checked']} steps checked "
                                f"in {STATS['cases']} cases")


def run_steps(run, c, steps):
    STATS["cases"] += 1
    run.check()
    for _ in range(steps):
        run.step(c)
        run.check()


# --------------------------------------------------------------------------- properties

OTHER_TEXT = """# other
k = 'v'  # kept
hex = 0x10
arr = [  # open
  1,  # one
  # above two
  'two'  # two
  , [3, 4], # nested
  { p = 1 },
]
[tab]
x = [1, 2]  # two
inl = { p = 1, q = 'w', }
ml = {
  a = 1,  # A
  # lone
  b = [2, # in
  ],
  c = { d = 0x1 } # last
}
[[aot]]
n = 1  # first
[[aot]]
n = [1,  # c
2]
[aot.sub]
z = 'z'
"""


def _readable(path):
    try:
        text = path.read_bytes().decode("utf-8")
        doc = morvelan.loads(text)
        doc.value   # a leap second cannot be a Python datetime
        return text
    except (ValueError, UnicodeDecodeError):
        return None


_TEXTS = {}


def text_of(path):
    if path not in _TEXTS:
        _TEXTS[path] = _readable(path)
    return _TEXTS[path]


SMALL_VALID = [p for p in VALID if p.stat().st_size <= PROPERTY_SIZE_LIMIT]
SMALL_CORPUS = [p for p in CORPUS_FILES if p.stat().st_size <= PROPERTY_SIZE_LIMIT]
needs_suite = pytest.mark.skipif(not VALID, reason="../shared/toml-test is absent")
needs_corpus = pytest.mark.skipif(not CORPUS_FILES, reason="../shared/corpus is absent")


@pytest.mark.parametrize("files, steps", [
    pytest.param(SMALL_VALID, 8, marks=needs_suite, id="suite"),
    pytest.param(SMALL_CORPUS, 6, marks=needs_corpus, id="corpus"),
])
@PROPS
@given(data=st.data())
def test_edits_on_shared_documents(files, steps, data):
    c = Draws(data)
    text = text_of(c.choice(files))
    if text is None:
        return
    run = Run.start(text, OTHER_TEXT)
    try:
        run_steps(run, c, c.int(1, steps))
    finally:
        note(run.script())


@settings(PROPS, max_examples=EXAMPLES * 2)
@given(data=st.data())
def test_edits_on_generated_documents(data):
    c = Draws(data)
    text, expected = DocGen(c).document()
    other_text, _ = DocGen(c).document() if c.int(0, 1) else (OTHER_TEXT, None)
    note(text)
    doc = morvelan.loads(text)
    assert same(doc.value, expected, ordered=False), f"{text}\n{doc.value!r}\n!=\n{expected!r}"
    assert doc.as_toml() == text
    if c.int(0, 3) == 0:
        # CRLF line breaks throughout (in multi-line strings they read as
        # "\n"), maybe with a byte-order mark.
        text = ("\ufeff" if c.int(0, 1) else "") + text.replace("\n", "\r\n")
        note(repr(text))
        doc = morvelan.loads(text)
        assert same(doc.value, expected, ordered=False)
        assert doc.as_toml() == text
    run = Run.start(text, other_text)
    try:
        run_steps(run, c, c.int(1, 10))
    finally:
        note(run.script())


@pytest.mark.parametrize("path", VALID + CORPUS_FILES, ids=case_id)
def test_edit_sweep(path):
    """Every shared document once, with a few seeded edits."""
    if path.stat().st_size > SWEEP_SIZE_LIMIT:
        pytest.skip("too large for a per-step check")
    text = text_of(path)
    if text is None:
        pytest.skip("not representable as Python values (or not UTF-8)")
    c = Seeded(case_id(path))
    run = Run.start(text, OTHER_TEXT)
    run_steps(run, c, 4 if len(text) > PROPERTY_SIZE_LIMIT else 8)


# --------------------------------------------------------------------------- regressions

# Minimal cases found by the properties above: document text, edit script
# (run with `doc`, `other` = a one-line document "x = 5  # two", `Item`,
# `loads`, `dumps`, `Document` and `Pairs`; it may rebind `doc`), the values
# the document must hold afterwards, and the exact text when the layout rules
# fix it (None: the text only has to read back the same values).
REGRESSIONS = [
    # A dotted-key or implicit table emptied by an edit still exists: it must
    # not vanish from the text.
    ("a.b = 1\n", 'del doc["a"]["b"]', {"a": {}}, None),
    ("[a.b]\nx = 1\n", 'del doc["a"]["b"]', {"a": {}}, None),
    ("[a.b]\n", 'doc["a"].popitem()', {"a": {}}, None),
    ("a.b = 1\n", 'doc["a"].clear()', {"a": {}}, None),
    ("[t]\na.b = 1\n", 'doc["t"]["a"].pop("b")', {"t": {"a": {}}}, None),
    ("t = { a.b = 1 }\n", 'del doc["t"]["a"]["b"]', {"t": {"a": {}}}, None),
    ("[tool.ruff]\nselect = []\n", 'del doc["tool"]["ruff"]', {"tool": {}}, None),
    # A value copied from a handle brings its trailing comment; written into a
    # one-line inline table the comment swallowed the rest of the table.
    ("t = { b = 1 }\n", 'doc["t"]["b"] = other["x"]', {"t": {"b": 5}}, "t = { b = 5 }\n"),
    ("x = 5  # two\nt = { b = 1 }\n", 'doc["t"]["b"] = doc["x"]', {"x": 5, "t": {"b": 5}},
     "x = 5  # two\nt = { b = 5 }\n"),
    ("t = { b = 1 }\n", 'doc["t"]["n"] = other["x"]', {"t": {"b": 1, "n": 5}}, None),
    ("t = { b = 1 }\n", 'doc["t"].update(other)', {"t": {"b": 1, "x": 5}}, None),
    ("t = { b = 1 }\n", 'doc["t"].setdefault("n", other["x"])', {"t": {"b": 1, "n": 5}}, None),
    # Replacing a value keeps the old value's decoration (spaces and comment).
    ("[t]\nb = 1\n", 'doc["t"]["b"] = other["x"]', {"t": {"b": 5}}, "[t]\nb = 5\n"),
    ("port = 80  # web\n", 'doc["port"] = 8080', {"port": 8080}, "port = 8080  # web\n"),
    ('v  = "1.4.2"   # bumped\n', 'doc["v"] = "1.4.3"', {"v": "1.4.3"}, 'v  = "1.4.3"   # bumped\n'),
    # Replacing a table keeps the comment lines above its header.
    ("a = 1\n\n# about t\n[t]\nx = 1\n", 'doc["t"] = {"y": 2}', {"a": 1, "t": {"y": 2}},
     "a = 1\n\n# about t\n[t]\ny = 2\n"),
    # Tables copied into a new document (or written by dumps) from a parsed
    # one kept their old header positions: members of an array of tables were
    # written swapped, and sub-tables under the wrong member or before it.
    ("", 'o = loads("[a]\\nx = 1\\n[b]\\ny = 2\\n"); doc = Document({"t": [o["b"], o["a"]]})',
     {"t": [{"y": 2}, {"x": 1}]}, None),
    ("", 'o = loads("[a]\\n[b]\\n"); doc = Document({"t": [o["b"], {"u": o["a"]}]})', {"t": [{}, {"u": {}}]}, None),
    ("", 'o = loads("[a]\\n[b]\\n"); doc = loads(dumps({"t": [{"u": o["b"]}, {"u": o["a"]}]}))',
     {"t": [{"u": {}}, {"u": {}}]}, None),
]


@pytest.mark.parametrize("text,script,value,expected", REGRESSIONS,
                         ids=[f"{i}:{r[1]}" for i, r in enumerate(REGRESSIONS)])
def test_regression(text, script, value, expected):
    env = {"doc": morvelan.loads(text), "other": morvelan.loads("x = 5  # two\n"), "Item": getattr(morvelan, "Item", None),
           "loads": morvelan.loads, "dumps": morvelan.dumps, "Document": morvelan.Document, "Pairs": Pairs}
    exec(script, env)   # may replace `doc`, by a Document(...) for example
    doc = env["doc"]
    out = doc.as_toml()
    assert same(doc.value, value)
    assert same(morvelan.loads(out).value, value, ordered=False), out
    if expected is not None:
        assert out == expected
