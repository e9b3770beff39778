"""morvelan: read and edit TOML files from the command line, keeping every byte
that an edit does not touch.

    morvelan get FILE KEY [--json | --raw]
    morvelan set FILE KEY VALUE [--string] [--diff]
    morvelan del FILE KEY [--diff]
    morvelan append FILE KEY VALUE [--string] [--diff]
    morvelan sort FILE KEY [--by FIELD] [--reverse] [--diff]
    morvelan rename FILE KEY NEW [--diff]
    morvelan edit FILE [--script PATH] [--diff]
    morvelan fmt FILE... [--check] [--diff] [--width N]
    morvelan check FILE...
    morvelan to-json FILE

Also run as `python -m morvelan`. Standard output carries only results: the
value `get` prints, JSON, a diff, an edited document for FILE '-'. Everything
said about the run goes to standard error: error messages, the reports of
`check`, the files `fmt --check` would change. Exit status: 0 done, 1 a TOML,
key, value or file error (or, for `check` and `fmt --check`, a file that fails
the check), 2 a usage error (including a KEY that is not a key).
"""

from __future__ import annotations

import argparse
import os
import shlex
import sys
from typing import Any, BinaryIO, Callable, NoReturn

from . import __version__, _cli
from ._cli import STDIN, CliError, display_name
from . import Item

KEY_HELP = (
    "a TOML dotted key, each key optionally followed by indices and selectors: project.version, "
    "tool.poetry.dependencies.\"my.pkg\", package[3].version, a.'b c'[0][-1] "
    "(negative indices count from the end), package[name=rich].version (the one element of an "
    "array of tables or inline tables whose field equals a TOML value or, for a bare word, that "
    "string; quote a ']' inside the value: [k=\"a]b\"])"
)
VALUE_HELP = (
    "a TOML value as it would stand after `key =`, kept as spelled: '\"1.2.3\"', '[1, 2]', "
    "'{ a = 1 }', 0xFF (a value such as -inf goes after `--`, options before it)"
)


class _ArgumentParser(argparse.ArgumentParser):
    """argparse quotes arguments in its messages ("unrecognized arguments: ..."):
    they are shown without their control characters."""

    def _print_message(self, message: str, file: Any = None) -> None:
        super()._print_message(_cli.visible(message, lines=True) if message else message, file)


SCRIPT_HELP = (
    "One edit a line: `set KEY VALUE [--string]`, `del KEY`, `append KEY VALUE [--string]`, "
    "`sort KEY [--by FIELD] [--reverse]`, `rename KEY NEW`, "
    "the arguments of those commands without FILE. A line is split into words as a POSIX shell "
    "splits it (shlex): quote a word that holds blanks or quotes, set a.b '\"x y\"'. "
    "Blank lines and lines whose first non-blank character is '#' are skipped; a '#' elsewhere "
    "is part of a word. The edits apply in order to one document, which is written once; if "
    "any line fails (bad syntax, KEY or VALUE, a missing key...), nothing is written, exit "
    "status 1, and the message names the line."
)


def _key_arguments(sub: argparse.ArgumentParser) -> None:
    sub.add_argument("key", metavar="KEY", help=KEY_HELP)


def _sort_arguments(sub: argparse.ArgumentParser) -> None:
    sub.add_argument("--by", metavar="FIELD", help="sort an array of tables (or of inline tables) by this field")
    sub.add_argument("--reverse", action="store_true", help="sort in descending order")


def _new_key_argument(sub: argparse.ArgumentParser) -> None:
    sub.add_argument("new", metavar="NEW", help="the new name of the key (a plain string, not a TOML key)")


def _value_arguments(sub: argparse.ArgumentParser) -> None:
    sub.add_argument("value", metavar="VALUE", help=VALUE_HELP)
    sub.add_argument("--string", action="store_true", help="take VALUE as a plain string, not as TOML")


# The edits a command line or an edit script line may name, and what each takes
# after FILE: one grammar for both.
EDITS: dict[str, tuple[str, list[Callable[[argparse.ArgumentParser], None]]]] = {
    "set": ("set a value, making missing tables on the way", [_key_arguments, _value_arguments]),
    "del": ("delete a key or an array element", [_key_arguments]),
    "append": ("append a value to an array or array of tables", [_key_arguments, _value_arguments]),
    "sort": (
        "sort an array, an array of tables by a field, or a table's entries by name; each element "
        "or entry keeps its comments",
        [_key_arguments, _sort_arguments],
    ),
    "rename": (
        "rename a key in place, keeping its value and comments (a table's headers follow)",
        [_key_arguments, _new_key_argument],
    ),
}


def _parser() -> argparse.ArgumentParser:
    ap = _ArgumentParser(
        prog="morvelan",
        description="Read and edit TOML files, keeping their formatting: only what an edit changes differs.",
        epilog="FILE may be '-': standard input, and for edits the result goes to standard output. "
        "Edits replace the file atomically, keeping its owner and permission bits, one process "
        "at a time; a read-only file, or one that is not a regular file, is not edited. "
        "Standard output carries only results (values, JSON, diffs, an edited document for "
        "FILE '-'); messages, `check` reports and what `fmt --check` would change go to "
        "standard error. Exit status: 0 done, 1 a TOML, key, value or file error or a failed "
        "check, 2 a usage error.",
    )
    ap.add_argument("--version", action="version", version=f"morvelan {__version__}")
    commands = ap.add_subparsers(dest="command", required=True, metavar="COMMAND")

    def command(name: str, summary: str) -> argparse.ArgumentParser:
        sub = commands.add_parser(name, help=summary, description=summary)
        return sub

    def file_and_key(sub: argparse.ArgumentParser) -> None:
        sub.add_argument("file", metavar="FILE", help="the TOML file, or '-' for standard input")
        _key_arguments(sub)

    def diff(sub: argparse.ArgumentParser) -> None:
        sub.add_argument("--diff", action="store_true", help="print the unified diff instead of writing")

    get = command("get", "print a value: its TOML text (a table as a TOML document of its contents)")
    file_and_key(get)
    form = get.add_mutually_exclusive_group()
    form.add_argument("--json", action="store_true", help="print the value as JSON (date-times as ISO 8601 strings)")
    form.add_argument("--raw", action="store_true", help="print a string's contents without quotes")

    for name, (summary, arguments) in EDITS.items():
        sub = command(name, summary)
        sub.add_argument("file", metavar="FILE", help="the TOML file, or '-' for standard input")
        for add_arguments in arguments:
            add_arguments(sub)
        diff(sub)

    edit = commands.add_parser(
        "edit",
        help="apply several edits, read from standard input or --script, writing the file once",
        description="Apply the edits of a script to FILE, writing it once, all or nothing.",
        epilog=SCRIPT_HELP,
    )
    edit.add_argument("file", metavar="FILE", help="the TOML file, or '-' for standard input (then --script is needed)")
    edit.add_argument("--script", metavar="PATH", help="read the edits from PATH (default: standard input)")
    diff(edit)

    fmt = command("fmt", "normalise the layout, wherever that keeps every comment")
    fmt.add_argument("files", nargs="+", metavar="FILE", help="the TOML files, or '-' for standard input")
    fmt.add_argument("--check", action="store_true", help="write nothing; exit 1 if a file would change")
    fmt.add_argument(
        "--width",
        type=_width,
        default=_cli.WIDTH,
        metavar="N",
        help=f"write an array one element a line when its one-line form would make its line longer "
        f"than N characters (default: {_cli.WIDTH}); no line within N is made longer than N",
    )
    diff(fmt)

    check = command("check", "check that files parse; print each error report after the file's name")
    check.add_argument("files", nargs="+", metavar="FILE")

    to_json = command("to-json", "print the whole document as JSON")
    to_json.add_argument("file", metavar="FILE", help="the TOML file, or '-' for standard input")
    return ap


class Io:
    """The process's standard streams, as bytes. Messages never carry a control
    character to the terminal; nor does output to a terminal (output to a file
    or a pipe is the data as it is)."""

    def __init__(self, stdin: BinaryIO, stdout: BinaryIO, stderr: BinaryIO) -> None:
        self.stdin = stdin
        self.stdout = stdout
        self.stderr = stderr
        self.terminal: bool = stdout.isatty()

    def out(self, text: str) -> None:
        if self.terminal:
            text = _cli.visible(text, lines=True)
        self.stdout.write(text.encode("utf-8"))

    def err(self, text: str) -> None:
        self.stderr.write(_cli.visible(text, lines=True).encode("utf-8"))


def _load(io: Io, path: str) -> tuple[str, Any]:
    text = _cli.decode(_cli.read_bytes(path, io.stdin), path)
    return text, _cli.parse(text, path)


def _value(opts: argparse.Namespace) -> Any:
    if opts.string:
        return opts.value
    try:
        return Item.parse(opts.value)
    except ValueError as exc:
        raise CliError(f"bad VALUE {opts.value!r}: {str(exc).rstrip()}") from None


def _rewrite(io: Io, path: str, show_diff: bool, change: Callable[[str], str]) -> None:
    """Edit one file: change() takes its text and returns the new text, which
    is written (under the file's lock), or printed as a diff, or for '-'
    printed whole."""
    if show_diff or path == STDIN:
        before = _cli.decode(_cli.read_bytes(path, io.stdin), path)
        after = change(before)
        io.out(_cli.unified_diff(before, after, display_name(path)) if show_diff else after)
        return
    with _cli.lock_for_edit(path) as target:
        before = _cli.decode(target.data, path)
        after = change(before)
        if after != before:
            target.replace(after.encode("utf-8"))


def _edit(io: Io, opts: argparse.Namespace, change: Callable[[Any], None]) -> int:
    def edited(text: str) -> str:
        doc = _cli.parse(text, opts.file)
        try:
            change(doc)
        except CliError as exc:
            raise CliError(f"{display_name(opts.file)}: {exc}", exc.status) from None
        result: str = doc.as_toml()
        return result

    _rewrite(io, opts.file, opts.diff, edited)
    return 0


def cmd_get(io: Io, opts: argparse.Namespace) -> int:
    steps = _cli.parse_key(opts.key)
    _, doc = _load(io, opts.file)
    try:
        node = _cli.lookup(doc, steps)
    except CliError as exc:
        raise CliError(f"{display_name(opts.file)}: {exc}", exc.status) from None
    if opts.json:
        io.out(_cli.json_text(node.value))
    elif opts.raw and _cli.kind(node) == "string":
        io.out(node.value + "\n")
    else:
        io.out(_cli.toml_text(node))
    return 0


def _change(opts: argparse.Namespace) -> Callable[[Any], None]:
    """The edit that opts name (set, del or append, from the command line or a
    script line), with its KEY and VALUE parsed: a function of the document."""
    steps = _cli.parse_key(opts.key)
    if opts.command == "del":
        return lambda doc: _cli.delete(doc, steps)
    if opts.command == "sort":
        return lambda doc: _cli.sort(doc, steps, opts.by, opts.reverse)
    if opts.command == "rename":
        return lambda doc: _cli.rename(doc, steps, opts.new)
    value = _value(opts)
    if opts.command == "set":
        return lambda doc: _cli.set_value(doc, steps, value)
    return lambda doc: _cli.append(doc, steps, value)


def cmd_edit_one(io: Io, opts: argparse.Namespace) -> int:
    return _edit(io, opts, _change(opts))


class _LineParser(argparse.ArgumentParser):
    """The parser of one edit script line: its errors are raised, not printed."""

    def error(self, message: str) -> NoReturn:
        raise CliError(message)

    def exit(self, status: int = 0, message: str | None = None) -> NoReturn:
        raise CliError((message or "").strip())


def _line_parser() -> argparse.ArgumentParser:
    ap = _LineParser(prog="edit", add_help=False)
    edits = ap.add_subparsers(dest="command", required=True, metavar="EDIT")
    for name, (_, arguments) in EDITS.items():
        sub = edits.add_parser(name, prog=name, add_help=False)
        for add_arguments in arguments:
            add_arguments(sub)
    return ap


def _line_error(script: str, number: int, line: str, exc: CliError) -> CliError:
    """A failed script line: status 1 whatever the failure (a KEY that is no key
    is a usage error on the command line, but data in a script)."""
    return CliError(f"{display_name(script)}, line {number}: {line.strip()!r}: {exc}")


def _script(script: str, text: str) -> list[tuple[int, str, Callable[[Any], None]]]:
    """The edits of a script: (line number, line, edit) for each line that is
    not blank or a comment. Raises CliError naming the first bad line."""
    parser = _line_parser()
    edits = []
    # Lines end at a line feed only: a form feed or other separator that
    # str.splitlines() would break at may stand inside a quoted word.
    for number, line in enumerate(text.split("\n"), 1):
        line = line.removesuffix("\r")
        words = line.strip()
        if not words or words.startswith("#"):
            continue
        try:
            edits.append((number, line, _change(parser.parse_args(shlex.split(line)))))
        except ValueError as exc:  # shlex: an open quote or a final backslash
            raise _line_error(script, number, line, CliError(str(exc).lower())) from None
        except CliError as exc:
            raise _line_error(script, number, line, exc) from None
    return edits


def cmd_edit(io: Io, opts: argparse.Namespace) -> int:
    script = STDIN if opts.script is None else opts.script
    if opts.file == STDIN and script == STDIN:
        raise CliError(
            "edit: FILE '-' reads the document from standard input, which cannot hold the edits too: "
            "give them with --script PATH",
            status=2,
        )
    text = _cli.decode(_cli.read_bytes(script, io.stdin), script)
    try:
        edits = _script(script, text)
    except CliError as exc:
        raise CliError(f"{display_name(opts.file)}: {exc}") from None

    def change(doc: Any) -> None:
        for number, line, apply in edits:
            try:
                apply(doc)
            except CliError as exc:
                raise _line_error(script, number, line, exc) from None

    return _edit(io, opts, change)


def _formatter(path: str, width: int) -> Callable[[str], str]:
    def formatted(text: str) -> str:
        _cli.parse(text, path)  # a parse error names the file
        return _cli.format_text(text, width)

    return formatted


def _width(text: str) -> int:
    try:
        width = int(text)
    except ValueError:
        width = 0
    if width < 1:
        raise argparse.ArgumentTypeError(f"not a positive number of characters: {text!r}")
    return width


def cmd_fmt(io: Io, opts: argparse.Namespace) -> int:
    status = 0
    for path in opts.files:
        try:
            if opts.check:
                text, _ = _load(io, path)
                formatted = _cli.format_text(text, opts.width)
                if opts.diff:
                    io.out(_cli.unified_diff(text, formatted, display_name(path)))
                if formatted != text:
                    io.err(f"would reformat {display_name(path)}\n")
                    status = max(status, 1)
            else:
                _rewrite(io, path, opts.diff, _formatter(path, opts.width))
        except CliError as exc:
            io.err(f"morvelan: {exc}\n")
            status = max(status, exc.status)
    return status


def cmd_check(io: Io, opts: argparse.Namespace) -> int:
    status = 0
    for path in opts.files:
        try:
            _load(io, path)
        except CliError as exc:
            io.err(f"{exc}\n")
            status = 1
    return status


def cmd_to_json(io: Io, opts: argparse.Namespace) -> int:
    _, doc = _load(io, opts.file)
    io.out(_cli.json_text(doc.value))
    return 0


COMMANDS: dict[str, Callable[[Io, argparse.Namespace], int]] = {
    "get": cmd_get,
    "set": cmd_edit_one,
    "del": cmd_edit_one,
    "append": cmd_edit_one,
    "sort": cmd_edit_one,
    "rename": cmd_edit_one,
    "edit": cmd_edit,
    "fmt": cmd_fmt,
    "check": cmd_check,
    "to-json": cmd_to_json,
}


def main(argv: list[str] | None = None) -> int:
    opts = _parser().parse_args(argv)
    io = Io(sys.stdin.buffer, sys.stdout.buffer, sys.stderr.buffer)
    try:
        status = COMMANDS[opts.command](io, opts)
        io.stdout.flush()
        return status
    except CliError as exc:
        io.err(f"morvelan: {exc}\n")
        return exc.status
    except BrokenPipeError:
        # The reader went away (`morvelan to-json big.toml | head`): stop quietly.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return 1


if __name__ == "__main__":
    sys.exit(main())
