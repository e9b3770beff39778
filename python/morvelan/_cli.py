"""The parts of the command-line editor (``python -m morvelan``): KEY paths,
the edits, the formatter that never drops a comment, and reading and writing
files. ``__main__`` holds the argument handling. TOML text is read only
through the library: where the lines, arrays and comments of a document stand
comes from its writer.

Failures are raised as ``CliError`` with the exit status they stand for: 1 for a
TOML, key, value or file error, 2 for a usage error (a KEY that is not a key).
"""

from __future__ import annotations

import bisect
import contextlib
import errno
import math
import os
import re
import stat
import sys
import tempfile
from typing import Any, Iterator

try:
    import fcntl
except ImportError:  # Windows: no advisory locks (see lock_for_edit)
    fcntl = None  # type: ignore[assignment]

from . import DictItem, Document, Item, ListItem, _comments, _layout, _value_text, loads

# copy, datetime, difflib and json are imported where they are used: a command
# that needs none of them starts a few milliseconds sooner.



class Select:
    """The step [field=value] of a KEY: the one element of an array of tables
    or of inline tables whose field equals value (a handle parsed from the
    TOML text raw, or raw itself for a bare word). text is the step as shown
    between the brackets in messages."""

    __slots__ = ("field", "value", "raw", "text")

    def __init__(self, field: str, value: Any, raw: str, text: str) -> None:
        self.field = field
        self.value = value
        self.raw = raw
        self.text = text


Step = str | int | Select

STDIN = "-"


class CliError(Exception):
    """A failure reported as one message, with the process's exit status."""

    def __init__(self, message: str, status: int = 1) -> None:
        super().__init__(message)
        self.status = status


# ---------------------------------------------------------------------------
# Text shown to a person. A control character would act on the terminal (an
# escape sequence can retitle the window, clear the screen, or forge output),
# so messages show each one as a visible symbol, as the library's parse error
# reports do: the control picture U+2400 + code for C0, U+2421 for DEL, U+2426
# for C1, and U+FFFD for a lone surrogate (the bytes of a file name that are
# not UTF-8).

_CONTROLS = re.compile("[\x00-\x08\x0a-\x1f\x7f-\x9f\ud800-\udfff]")
_CONTROLS_BUT_LINE_BREAKS = re.compile("[\x00-\x08\x0b-\x1f\x7f-\x9f\ud800-\udfff]")


def _symbol(found: re.Match[str]) -> str:
    code = ord(found.group())
    if code < 0x20:
        return chr(0x2400 + code)
    if code == 0x7F:
        return "\u2421"
    return "\u2426" if code <= 0x9F else "\ufffd"


def visible(text: str, lines: bool = False) -> str:
    """text with each control character but tab (and line breaks, when lines
    is true) shown as one visible character."""
    return (_CONTROLS_BUT_LINE_BREAKS if lines else _CONTROLS).sub(_symbol, text)


# ---------------------------------------------------------------------------
# KEY: a TOML dotted key whose segments may be followed by indices and
# selectors: `package[3].version`, `a.'b c'[0][-1]`, `tool."my.pkg"`,
# `package[name=rich].version`, `a[k="x]"][0]`.

_BARE = re.compile(r"[A-Za-z0-9_-]+")
_BASIC_KEY = re.compile(r'"(?:[^"\\\n]|\\.)*"')
_LITERAL_KEY = re.compile(r"'[^'\n]*'")
_INDEX = re.compile(r"\[[ \t]*(-?[0-9]+)[ \t]*\]")


def _bad_key(text: str, pos: int, why: str) -> CliError:
    return CliError(f"bad KEY {text!r}: {why} at column {pos + 1}", status=2)


def _segment(text: str, pos: int) -> tuple[str, int]:
    bare = _BARE.match(text, pos)
    if bare:
        return bare.group(), bare.end()
    if pos == len(text) or text[pos] not in "\"'":
        return "", -1
    quoted = (_BASIC_KEY if text[pos] == '"' else _LITERAL_KEY).match(text, pos)
    if quoted is None:
        raise _bad_key(text, pos, "unterminated quoted key")
    try:
        # The quoted key is one line without line breaks: the library decodes it
        # with TOML's rules for basic and literal strings.
        value = loads("k = " + quoted.group())["k"].value
    except ValueError as exc:
        why = str(exc).strip().splitlines() or [type(exc).__name__]
        raise _bad_key(text, pos, "invalid quoted key (" + why[-1] + ")") from None
    return str(value), quoted.end()


def _index(text: str, pos: int, digits: str) -> int:
    """The index an [N] spells; no array holds more than sys.maxsize elements,
    so a larger one is no index (and a huge one no int: int() refuses more
    than a few thousand digits)."""
    magnitude = int(digits.lstrip("-").lstrip("0")[: len(str(sys.maxsize)) + 1] or "0")
    if magnitude > sys.maxsize:
        raise _bad_key(text, pos, "index too large")
    return -magnitude if digits.startswith("-") else magnitude


def _skip_blank(text: str, pos: int) -> int:
    while pos < len(text) and text[pos] in " \t":
        pos += 1
    return pos


# The value of a selector ends at the first ']' outside quotes and outside
# brackets or braces of its own: `[v=[1, 2]]`, `[k="a]b"]`. A quoted string in
# it reads as a quoted key of the KEY does: on one line.
_SELECT_SPECIAL = re.compile(r"[\"'\[\]{}]")
# A bare word: a value that is no TOML value and holds no blank, quote,
# bracket or brace, taken as a string (`[name=rich]`, `[req=rich>=13]`).
_BARE_WORD = re.compile(r"[^\s\"'\[\]{}]+")


def _selector_end(text: str, pos: int) -> int:
    """The position of the ']' that closes the selector whose value starts at
    pos."""
    depth = 0
    while True:
        found = _SELECT_SPECIAL.search(text, pos)
        if found is None:
            raise _bad_key(text, len(text), "expected ']' to close the selector")
        at = found.start()
        char = text[at]
        if char in "\"'":
            quoted = (_BASIC_KEY if char == '"' else _LITERAL_KEY).match(text, at)
            if quoted is None:
                raise _bad_key(text, at, "unterminated string in a selector")
            pos = quoted.end()
            continue
        if char in "[{":
            depth += 1
        elif depth == 0:
            if char == "]":
                return at
            raise _bad_key(text, at, "unbalanced '}' in a selector")
        else:
            depth -= 1
        pos = at + 1


def _selector(text: str, start: int) -> tuple[Select, int]:
    """The selector [field=value] at start (a '['), and the position after it."""
    pos = _skip_blank(text, start + 1)
    field, end = _segment(text, pos)
    if end < 0:
        raise _bad_key(text, start, "expected an index such as [0] or a selector such as [name=value]")
    pos = _skip_blank(text, end)
    if pos == len(text) or text[pos] != "=":
        raise _bad_key(text, start, "expected an index such as [0] or a selector such as [name=value]")
    close = _selector_end(text, pos + 1)
    raw = text[pos + 1 : close].strip(" \t")
    at = _skip_blank(text, pos + 1)
    if not raw:
        raise _bad_key(text, at, "expected a value after '=' in the selector")
    value: Any
    try:
        value = Item.parse(raw)
    except ValueError:
        if not _BARE_WORD.fullmatch(raw):
            raise _bad_key(text, at, "expected a TOML value or a bare word after '=' in the selector") from None
        value = raw
    return Select(field, value, raw, show_key([field]) + "=" + raw), close + 1


def parse_key(text: str) -> list[Step]:
    """The steps of KEY: strings for keys, ints for indices (negative ones count
    from the end), Select for [field=value]. Raises CliError with status 2
    when KEY is not a key."""
    steps: list[Step] = []
    pos = _skip_blank(text, 0)
    want_key = True
    while True:
        if want_key:
            key, end = _segment(text, pos)
            if end < 0:
                raise _bad_key(text, pos, "expected a bare or quoted key")
            steps.append(key)
            pos, want_key = end, False
        pos = _skip_blank(text, pos)
        if pos == len(text):
            return steps
        if text[pos] == ".":
            pos = _skip_blank(text, pos + 1)
            want_key = True
        elif text[pos] == "[":
            index = _INDEX.match(text, pos)
            if index is None:
                select, pos = _selector(text, pos)
                steps.append(select)
            else:
                steps.append(_index(text, pos, index.group(1)))
                pos = index.end()
        else:
            raise _bad_key(text, pos, "expected '.' or '[' after a key")


def show_key(steps: list[Step]) -> str:
    """Steps written back as a KEY, for messages."""
    out = ""
    for step in steps:
        if isinstance(step, int):
            out += f"[{step}]"
            continue
        if isinstance(step, Select):
            out += f"[{step.text}]"
            continue
        if out:
            out += "."
        out += step if _BARE.fullmatch(step) else _quoted(step)
    return out


def _quoted(text: str) -> str:
    """text as a TOML basic string, with every unprintable character escaped."""
    escaped = text.replace("\\", "\\\\").replace('"', '\\"')
    return '"' + "".join(c if c.isprintable() else f"\\u{ord(c):04X}" for c in escaped) + '"'


# ---------------------------------------------------------------------------
# Handles: kinds, looking up a path, the edits.


def kind(node: Any) -> str:
    """The kind name of a handle ("table", "array of tables", "integer", ...),
    read from its repr "Item({kind}, {text})"."""
    if isinstance(node, Document):
        return "table"
    text = repr(node)
    return text[len("Item(") : text.index(",")]


def _a(name: str) -> str:
    return ("an " if name[0] in "aeiou" else "a ") + name


def _is_table(node: Any) -> bool:
    return isinstance(node, (Document, DictItem))


def _select(node: Any, step: Select, where: list[Step]) -> int:
    """The index of the one element of node that step selects, or a CliError:
    node is no array of tables or of inline tables, or no element or several
    match."""
    here = show_key(where) or "the document"
    if not isinstance(node, ListItem):
        raise CliError(f"{here} is {_a(kind(node))}, not an array of tables: no element [{step.text}]")
    elements: list[DictItem] = []
    for i, element in enumerate(node):
        if not isinstance(element, DictItem):
            raise CliError(
                f"{show_key(where + [i])} is {_a(kind(element))}, not a table: "
                f"{here} has no element [{step.text}] to select"
            )
        elements.append(element)
    field = step.field
    found = [i for i, element in enumerate(elements) if field in element and element[field] == step.value]
    if len(found) == 1:
        return found[0]
    if found:
        at = ", ".join(f"[{i}]" for i in found)
        raise CliError(f"{len(found)} elements of {here} match [{step.text}]: {at} (select by index instead)")
    hint = ""
    if not isinstance(step.value, str):
        # [version=1.0] is the float 1.0; a file that spells it as a string
        # needs it quoted.
        spelled = [i for i, element in enumerate(elements) if field in element and element[field] == step.raw]
        if spelled:
            shown = show_key([field]) + "=" + _quoted(step.raw)
            hint = (
                f" ({step.raw} is {_a(kind(step.value))}; {show_key(where + [spelled[0], field])}"
                f" is the string {_quoted(step.raw)}: [{shown}] selects it)"
            )
    raise CliError(f"no element of {here} matches [{step.text}]{hint}")


def _child(node: Any, step: Step, where: list[Step]) -> Any:
    """node[step], or a CliError naming what is missing or in the way."""
    here = show_key(where) or "the document"
    if isinstance(step, Select):
        return node[_select(node, step, where)]
    if isinstance(step, str):
        if not _is_table(node):
            hint = f" (index it: {show_key(where + [0, step])})" if kind(node) == "array of tables" else ""
            raise CliError(f"{here} is {_a(kind(node))}, not a table: no key {show_key([step])}{hint}")
        try:
            return node[step]
        except KeyError:
            raise CliError(f"key {show_key(where + [step])} not found") from None
    if not isinstance(node, ListItem):
        raise CliError(f"{here} is {_a(kind(node))}, not an array: no index [{step}]")
    size = len(node)
    if not -size <= step < size:
        raise CliError(f"index {show_key(where + [step])} out of range ({here} has {size} elements)")
    return node[step]


def lookup(doc: Any, steps: list[Step]) -> Any:
    node = doc
    for i, step in enumerate(steps):
        node = _child(node, step, steps[:i])
    return node


def _library_error(exc: Exception) -> CliError:
    text = exc.args[0] if isinstance(exc, KeyError) and exc.args else exc
    return CliError(str(text).rstrip("\n"))


def set_value(doc: Any, steps: list[Step], value: Any) -> None:
    """doc[steps] = value. Missing tables on the way are made as
    `parent.setdefault(key, {})` makes them (a table, or an inline table
    inside an inline table); the new ones that only lead to the next new one are
    made implicit, so that no empty header is written: `a.b.c` in a document
    without `a` gives `[a.b]` with `c = ...` in it."""
    node = doc
    made: Any = None
    for i, step in enumerate(steps[:-1]):
        # A missing key is made a table only if a key follows it: an index or a
        # selector needs an array that is there.
        if isinstance(step, str) and isinstance(steps[i + 1], str) and _is_table(node) and step not in node:
            if made is not None:
                made.implicit = True
            node = made = node.setdefault(step, {})
        else:
            node = _child(node, step, steps[:i])
            made = None
    last = steps[-1]
    where = steps[:-1]
    if isinstance(last, Select):
        last = _select(node, last, where)
    if isinstance(last, int):
        _child(node, last, where)  # the element must exist
    elif not _is_table(node):
        _child(node, last, where)  # raises: not a table
    try:
        node[last] = value
    except (TypeError, ValueError, KeyError, IndexError) as exc:
        raise _library_error(exc) from None


def sort(doc: Any, steps: list[Step], by: str | None, descending: bool) -> None:
    """Sorts the array at steps by its values, an array of tables (or of
    inline tables) by the field `by` of each element, or the entries of the
    table at steps by name."""
    node = lookup(doc, steps)
    if isinstance(node, DictItem):
        if by is not None:
            raise CliError(f"{show_key(steps)} is {_a(kind(node))}: --by sorts an array of tables, "
                           "a table's entries are sorted by name")
        try:
            node.sort(reverse=descending)
        except (TypeError, ValueError) as exc:
            raise _library_error(exc) from None
        return
    if not isinstance(node, ListItem):
        raise CliError(f"{show_key(steps) or 'the document'} is {_a(kind(node))}, not an array or a table")
    key: Any = None
    if by is not None:
        values = node.value
        for i, element in enumerate(values):
            if not isinstance(element, dict) or by not in element:
                what = f"has no field {show_key([by])}" if isinstance(element, dict) else "is not a table"
                raise CliError(f"{show_key(steps + [i])} {what}: cannot sort {show_key(steps)} by it")

        def key(element: dict[str, Any]) -> Any:
            return element[by]

    try:
        node.sort(key=key, reverse=descending)
    except (TypeError, ValueError) as exc:
        raise _library_error(exc) from None


def rename(doc: Any, steps: list[Step], new: str) -> None:
    """Renames the key at steps to new, in place."""
    where, last = steps[:-1], steps[-1]
    parent = lookup(doc, where)
    if not isinstance(last, str):
        raise CliError(f"{show_key(steps)} is an array element, not a key: only keys are renamed")
    _child(parent, last, where)  # the key must be there
    try:
        parent.rename(last, new)
    except KeyError as exc:
        raise _library_error(exc) from None


def delete(doc: Any, steps: list[Step]) -> None:
    where = steps[:-1]
    parent = lookup(doc, where)
    last = steps[-1]
    if isinstance(last, Select):
        last = _select(parent, last, where)
    _child(parent, last, where)
    del parent[last]


def append(doc: Any, steps: list[Step], value: Any) -> None:
    target = lookup(doc, steps)
    if not isinstance(target, ListItem):
        raise CliError(f"{show_key(steps)} is {_a(kind(target))}, not an array: cannot append")
    try:
        target.append(value)
    except (TypeError, ValueError) as exc:
        raise _library_error(exc) from None


# ---------------------------------------------------------------------------
# The layout of a document's text, as the library writes it: where each entry
# (`key = value` in a table) and each array stands, with the path of each as
# lookup() takes it.

Path = tuple[Step, ...]

_SPACE = re.compile(r"[ \t]*")


class ArraySpan:
    """An array in the text: its path, its brackets' offsets (end is after the
    ']'), each element's text span, and whether it stands inside an inline
    table."""

    __slots__ = ("path", "start", "end", "elements", "inline")

    def __init__(self, path: Path, start: int, end: int, elements: list[tuple[int, int]], inline: bool) -> None:
        self.path = path
        self.start = start
        self.end = end
        self.elements = elements
        self.inline = inline


class Layout:
    """Where the entries and arrays of a document stand in its text (text, the
    document's as_toml())."""

    def __init__(self, doc: Document) -> None:
        text, lines, arrays = _layout(doc)
        self.text = text
        self.starts = [0] + [m.end() for m in re.finditer("\n", text)]
        self.widths = [len(line.rstrip("\r")) for line in text.split("\n")]
        self.widths[0] -= text.startswith("\ufeff")
        # (table path, keys, first line, last line) of each `key = value`
        self.entries: list[tuple[Path, Path, int, int]] = [
            (path[:size], path[size:], self.line(begin), self.line(end - 1)) for path, size, begin, end in lines
        ]
        self.arrays = [ArraySpan(*array) for array in arrays]

    def line(self, offset: int) -> int:
        return bisect.bisect_right(self.starts, offset) - 1

    def indentation(self, line: int) -> str:
        space = _SPACE.match(self.text, self.starts[line])
        return space.group() if space else ""

    def longest(self, first: int, last: int) -> int:
        return max(self.widths[first : last + 1])

    def one_line(self, span: ArraySpan) -> bool:
        return self.line(span.start) == self.line(span.end - 1)

    def indent_unit(self) -> str | None:
        """The indentation most of the multi-line arrays give their elements,
        relative to the line where the array opens (the first seen of the most
        used ones); None if no array has its first element on a line of its own."""
        import collections

        seen: collections.Counter[str] = collections.Counter()
        for span in self.arrays:
            if span.inline or not span.elements:
                continue
            opening, first = self.line(span.start), self.line(span.elements[0][0])
            if first == opening:
                continue
            outer, inner = self.indentation(opening), self.indentation(first)
            if len(inner) > len(outer) and inner.startswith(outer):
                seen[inner[len(outer) :]] += 1
        found = seen.most_common(1)
        return found[0][0] if found else None


class Kept:
    """What a formatting pass leaves alone: the values of some entries (by path),
    and the tables they stand in, down to the dotted keys' tables."""

    def __init__(self) -> None:
        self.entries: set[Path] = set()
        self.tables: set[Path] = set()

    def add(self, table: Path, keys: Path) -> None:
        self.entries.add(table + keys)
        for i in range(len(keys)):
            self.tables.add(table + keys[:i])

    def holds(self, path: Path) -> bool:
        return any(path[:i] in self.entries for i in range(len(path) + 1))




# ---------------------------------------------------------------------------
# The formatter: `fmt()` wherever it keeps every comment, and arrays one
# element a line wherever their one-line form would make a line too long.

WIDTH = 100
_INDENT = "    "


def _fmt_if_comments_stay(doc: Any, steps: list[Step], whole: bool) -> None:
    """fmt() on the value at steps (the document for []), unless that drops a
    comment. A trial on a copy decides, comparing the comments of the value's
    own text (whole=False) or of the whole document (whole=True)."""
    item = lookup(doc, steps)

    def seen(document: Any, node: Any) -> list[str]:
        return _comments(document if whole or not steps else node)

    before = seen(doc, item)
    if before:
        import copy

        trial = copy.deepcopy(doc)
        trial_item = lookup(trial, steps)
        trial_item.fmt()
        if seen(trial, trial_item) != before:
            return
    item.fmt()


def _format_tree(doc: Any, steps: list[Step], whole: bool, keep: Kept) -> None:
    """fmt() on the value at steps and on every table, inline table and array
    inside it, where that keeps every comment, except: the values of the
    entries in keep.entries are left as they are, and the tables in
    keep.tables are not formatted themselves (the values in them are)."""
    path = tuple(steps)
    if path in keep.entries:
        return
    node = lookup(doc, steps)
    if not (isinstance(node, ListItem) and kind(node) == "array of tables") and path not in keep.tables:
        _fmt_if_comments_stay(doc, steps, whole)
        node = lookup(doc, steps)
    children: list[Step] = list(node.keys()) if _is_table(node) else list(range(len(node)))
    for step in children:
        if isinstance(node[step], (DictItem, ListItem)):
            _format_tree(doc, steps + [step], whole, keep)


def _break_arrays(doc: Any, width: int, unit: str, keep: Kept) -> tuple[str, Layout, bool]:
    """Writes one element a line each array that stands on one line longer
    than width (the outermost ones first, so that an element that still makes
    its own line too long is broken next), outside inline tables and the kept
    entries. The library's set_multiline() indents elements from the start of
    the line and puts the ']' there: here elements go one unit further in than
    the line that opens the array and the ']' back at its indentation, which
    takes the new array's text, parsed with its layout (the same data, each
    element spelled as it was). Returns the text, its layout, and whether an
    array was broken."""
    layout = Layout(doc)
    out = layout.text
    broke = False
    while True:
        found = [
            span
            for span in layout.arrays
            if span.elements
            and not span.inline
            and layout.widths[layout.line(span.start)] > width
            and layout.one_line(span)
            and not keep.holds(span.path)
        ]
        # Arrays nest: in the order they start, one that starts before the end
        # of the last one kept is inside it.
        outermost: list[ArraySpan] = []
        for span in sorted(found, key=lambda span: span.start):
            if not outermost or span.start >= outermost[-1].end:
                outermost.append(span)
        if not outermost:
            return out, layout, broke
        again = False
        for span in outermost:
            base = layout.indentation(layout.line(span.start))
            elements = [out[begin:end] for begin, end in span.elements]
            parent = lookup(doc, list(span.path[:-1]))
            parent[span.path[-1]] = Item.parse("[\n" + "".join(f"{base}{unit}{e},\n" for e in elements) + base + "]")
            # Only an element line still too long that holds an array can have
            # an array to break next.
            again = again or any(len(base) + len(unit) + len(e) + 1 > width and "[" in e for e in elements)
        layout = Layout(doc)
        out = layout.text
        broke = True
        if not again:
            return out, layout, broke


def _format_pass(text: str, width: int, unit: str, keep: Kept) -> tuple[str, Layout, bool]:
    doc = loads(text)
    wanted = _comments(doc)
    # fmt() of a nested value only rewrites that value's text, so checking the
    # comments of that text is enough; should the result still have lost a
    # comment, start again and check the whole document at each step.
    _format_tree(doc, [], False, keep)
    if _comments(doc) != wanted:
        doc = loads(text)
        _format_tree(doc, [], True, keep)
    return _break_arrays(doc, width, unit, keep)


def format_text(text: str, width: int = WIDTH) -> str:
    """The text with `fmt()` applied to the document and to each table, inline
    table and array inside it, where that keeps every comment, and with each
    array whose one-line form makes its line longer than width written one
    element a line. No entry gets a line longer than width unless it had one:
    then none longer than its longest. An entry that would is left as it was
    (its value untouched, the tables it stands in not formatted), and the pass
    starts again."""
    source = Layout(loads(text))
    longest = {table + keys: source.longest(first, last) for table, keys, first, last in source.entries}
    # New multi-line arrays indent as most of the file's do. If, once formatted,
    # most arrays of the result indent otherwise (fmt() joined many of them), the
    # result's own way is taken: formatting the result again keeps it.
    unit = source.indent_unit() or _INDENT
    units_tried = {unit}
    keep = Kept()
    while True:
        out, result, broke = _format_pass(text, width, unit, keep)
        grown = [
            (table, keys)
            for table, keys, first, last in result.entries
            if table + keys not in keep.entries
            and result.longest(first, last) > max(width, longest.get(table + keys, width))
        ]
        if grown:
            for table, keys in grown:
                keep.add(table, keys)
            continue
        own = result.indent_unit()
        if broke and own is not None and own not in units_tried:
            unit = own
            units_tried.add(unit)
            continue
        return out


# ---------------------------------------------------------------------------
# Output of values.


def toml_text(node: Any) -> str:
    """What `get` prints: a table as a TOML document of its contents (its
    entries, then its sub-tables with headers relative to it); any other value
    as its TOML text, without the comments around it."""
    if kind(node) == "table":
        holder = Document()
        for key in node.keys():
            holder[key] = node[key]
        # A copied header keeps the blank line before it, which no document starts with.
        text: str = holder.as_toml()
        return text.lstrip()
    return _value_text(node) + "\n"


def json_text(value: Any) -> str:
    """JSON for a native value: date-times as ISO 8601 strings, nan and
    infinities as the strings "nan", "inf" and "-inf" (JSON has no such numbers)."""
    import datetime as dt
    import json

    times = (dt.datetime, dt.date, dt.time)

    def plain(value: Any) -> Any:
        if isinstance(value, dict):
            return {key: plain(item) for key, item in value.items()}
        if isinstance(value, list):
            return [plain(item) for item in value]
        if isinstance(value, times):
            return value.isoformat()
        if isinstance(value, float) and not math.isfinite(value):
            return "nan" if math.isnan(value) else ("inf" if value > 0 else "-inf")
        return value

    try:
        return json.dumps(plain(value), indent=2, ensure_ascii=False) + "\n"
    except RecursionError:
        raise CliError("the value nests too deeply for JSON output") from None


def unified_diff(old: str, new: str, name: str) -> str:
    import difflib

    lines = []
    for line in difflib.unified_diff(old.splitlines(keepends=True), new.splitlines(keepends=True), name, name):
        lines.append(line if line.endswith("\n") else line + "\n\\ No newline at end of file\n")
    return "".join(lines)


# ---------------------------------------------------------------------------
# Files.


def display_name(path: str) -> str:
    return "<stdin>" if path == STDIN else visible(path)


def read_bytes(path: str, stdin: Any) -> bytes:
    if path == STDIN:
        data: bytes = stdin.read()
        return data
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError as exc:
        raise CliError(f"cannot read {display_name(path)}: {exc.strerror or exc}") from None


def decode(data: bytes, path: str) -> str:
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError as exc:
        raise CliError(f"{display_name(path)}: not UTF-8 text ({exc})") from None


def parse(text: str, path: str) -> Any:
    try:
        return loads(text)
    except ValueError as exc:
        raise CliError(f"{display_name(path)}: {str(exc).rstrip()}") from None


_NOT_REGULAR = [
    (stat.S_ISDIR, "a folder"),
    (stat.S_ISFIFO, "a FIFO"),
    (stat.S_ISCHR, "a character device"),
    (stat.S_ISBLK, "a block device"),
    (stat.S_ISSOCK, "a socket"),
]


def _check_regular(path: str, st: os.stat_result) -> None:
    """An edit replaces the file by a new regular file: a FIFO, a device or a
    folder given as FILE is refused rather than replaced."""
    if not stat.S_ISREG(st.st_mode):
        what = next((name for test, name in _NOT_REGULAR if test(st.st_mode)), "a special file")
        raise CliError(f"cannot edit {display_name(path)}: not a regular file ({what})")


def _check_writable(path: str, target: str, st: os.stat_result) -> None:
    """Refuses a file that the user could not write, as an editor does: the
    rename that replaces it needs only the folder's permission. Root may write
    any file, but not one with no write bit for anyone."""
    effective = os.access in os.supports_effective_ids
    if not os.access(target, os.W_OK, effective_ids=effective) or not st.st_mode & 0o222:
        raise CliError(f"cannot edit {display_name(path)}: the file is read-only")


class EditTarget:
    """A file being edited: its bytes as read under the lock, and the way to
    replace them."""

    def __init__(self, path: str, target: str, st: os.stat_result, data: bytes) -> None:
        self.path = path
        self.data = data
        self._target = target
        self._stat = st

    def replace(self, data: bytes) -> None:
        write_atomic(self.path, self._target, self._stat, data)


@contextlib.contextmanager
def lock_for_edit(path: str) -> Iterator[EditTarget]:
    """The file at path (or at the end of its symbolic links), read under an
    exclusive advisory lock held until the block ends, so that edits of one
    file by several processes follow one another and none is lost.

    The lock is taken on the file itself, so no lock file is left behind. An
    edit replaces the file, so a process that waited for the lock may hold it
    on a file that is no longer there: after locking, the path must still name
    the locked file, else it starts again with the new one. Processes that do
    not lock (other programs) are not held back: the lock is advisory."""
    name = display_name(path)
    for _ in range(10000):
        target = os.path.realpath(path)
        try:
            # A FIFO is not opened at all (it would block), nor a device (opening
            # one can act on it).
            st = os.stat(target)
            _check_regular(path, st)
            flags = os.O_RDONLY | getattr(os, "O_NONBLOCK", 0) | getattr(os, "O_NOCTTY", 0)
            fd = os.open(target, flags | getattr(os, "O_CLOEXEC", 0) | getattr(os, "O_BINARY", 0))
        except OSError as exc:
            raise CliError(f"cannot read {name}: {exc.strerror or exc}") from None
        try:
            try:
                st = os.fstat(fd)
                _check_regular(path, st)
                if fcntl is not None:
                    fcntl.flock(fd, fcntl.LOCK_EX)
                    if os.path.realpath(path) != target or not os.path.samestat(st, os.stat(target)):
                        continue  # replaced while this process waited
                    st = os.fstat(fd)
                _check_writable(path, target, st)
                with os.fdopen(fd, "rb", closefd=False) as f:
                    data = f.read()
            except OSError as exc:
                if exc.errno == errno.ENOENT:
                    continue  # removed or replaced while this process waited
                raise CliError(f"cannot read {name}: {exc.strerror or exc}") from None
            if fcntl is None:
                # Windows has no flock, and cannot rename over a file that is
                # open: edits there are not serialised.
                os.close(fd)
                fd = -1
            yield EditTarget(path, target, st, data)
            return
        finally:
            if fd >= 0:
                os.close(fd)  # releases the lock
    raise CliError(f"cannot edit {name}: it kept being replaced while waiting for its lock")


def _keep_owner(fd: int, original: os.stat_result, mode: int) -> int:
    """Gives the new file the original's owner and group where this process
    may, and returns the permission bits to set on it: the original's, less a
    set-user-ID or set-group-ID bit for an owner or group that could not be
    kept (that would make a file run as someone else). Ownership goes first:
    changing it clears those bits, so they are set again after."""
    chown = getattr(os, "fchown", None)
    if chown is None:
        return mode
    for uid in (original.st_uid, -1):
        try:
            chown(fd, uid, original.st_gid)
            break
        except OSError as exc:
            # Not allowed: another user's file (EPERM), or a group this user is
            # not in; EINVAL for an ID this system cannot map.
            if exc.errno not in (errno.EPERM, errno.EINVAL):
                raise
    now = os.fstat(fd)
    if now.st_uid != original.st_uid:
        mode &= ~stat.S_ISUID
    if now.st_gid != original.st_gid:
        mode &= ~stat.S_ISGID
    return mode


def write_atomic(path: str, target: str, original: os.stat_result, data: bytes) -> None:
    """Replace the file target (path as given, for messages) with data: a
    temporary file in the same folder, written, flushed and synced with the
    original's owner, group and permission bits, then renamed over it. On any
    failure the original is untouched and the temporary file removed."""
    folder = os.path.dirname(target)
    try:
        fd, temporary = tempfile.mkstemp(dir=folder, prefix="." + os.path.basename(target) + ".", suffix=".tmp")
    except OSError as exc:
        raise CliError(f"cannot write {display_name(path)}: {exc.strerror or exc}") from None
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
            f.flush()
            mode = _keep_owner(f.fileno(), original, stat.S_IMODE(original.st_mode))
            os.fchmod(f.fileno(), mode)
            os.fsync(f.fileno())
        os.replace(temporary, target)
    except BaseException as exc:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        if isinstance(exc, OSError):
            raise CliError(f"cannot write {display_name(path)}: {exc.strerror or exc}") from None
        raise
    try:
        # Make the rename itself durable; not every file system syncs folders.
        folder_fd = os.open(folder, os.O_RDONLY)
        try:
            os.fsync(folder_fd)
        finally:
            os.close(folder_fd)
    except OSError:
        pass
