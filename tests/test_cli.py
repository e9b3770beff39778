"""The command-line editor (`python -m morvelan`), run as a subprocess on files
in a temporary folder: what each command prints and writes, byte for byte, and
how it fails."""

import datetime as dt
import grp
import json
import math
import os
import pty
import pwd
import re
import shutil
import socket
import stat
import subprocess
import sys
import tempfile
import tomllib
from pathlib import Path

import pytest

from toml_cases import CORPUS_FILES, ROOT, SHARED, VALID

pytestmark = pytest.mark.needs_module
morvelan = pytest.importorskip("morvelan")
from morvelan import _cli  # noqa: E402

BENCH_DATA = SHARED / "bench-data"

SAMPLE = b"""\
# Sample for the command-line tests.
title = "demo"   # the name
"dotted.key" = { x = 1 }
a = { "b c" = [[1, 2], [3, 4]] }
s = "a # b"  # note
lit = '"'  # quote
dob = 1979-05-27T07:32:00-08:00
day = 1979-05-27
special = [nan, inf, -inf]

[server]
host   = "localhost"
ports  = [ 8000, 8001, 8002 ]

[server.tls]
cert = 'c.pem'

[[products]]
name = "hammer"

[[products]]
name = "nail"
sku = 0x2A
"""


def run(*args, stdin=b"", cwd=None):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    return subprocess.run([sys.executable, "-m", "morvelan", *map(str, args)], input=stdin, capture_output=True,
                          env=env, cwd=cwd, timeout=120)


def shared(name):
    path = BENCH_DATA / name if "/" not in name else SHARED / name
    if not path.is_file():
        pytest.skip(f"{path} is absent")
    return path.read_bytes()


def source(name):
    """The bytes of a test input: SAMPLE, or a file of ../shared."""
    return SAMPLE if name == "sample" else shared(name)


def put(tmp_path, data, name="doc.toml"):
    path = tmp_path / name
    path.write_bytes(data)
    return path


# --- get ---------------------------------------------------------------------

@pytest.mark.parametrize("name, key, flags, expected", [
    ("sample", "title", [], '"demo"\n'),                       # the comment after it is not printed
    ("sample", "title", ["--raw"], "demo\n"),
    ("sample", "title", ["--json"], '"demo"\n'),
    ("sample", '"\\u0074itle"', ["--raw"], "demo\n"),           # a basic-string key with an escape
    ("sample", '"dotted.key".x', [], "1\n"),
    ("sample", "a.'b c'[0][-1]", [], "2\n"),
    ("sample", " a . 'b c' [ 1 ] [0] ", [], "3\n"),
    ("sample", "a", [], '{ "b c" = [[1, 2], [3, 4]] }\n'),
    ("sample", "s", [], '"a # b"\n'),                          # a '#' inside a string stays
    ("sample", "lit", [], "'\"'\n"),
    ("sample", "server.ports", [], "[ 8000, 8001, 8002 ]\n"),
    ("sample", "server.ports[-1]", [], "8002\n"),
    ("sample", "products[1].sku", [], "0x2A\n"),               # spelled as in the file
    ("sample", "products[1].sku", ["--json"], "42\n"),
    ("sample", "products[1].sku", ["--raw"], "0x2A\n"),        # --raw only changes strings
    ("sample", "products", [], '[{ name = "hammer" }, { name = "nail", sku = 0x2A }]\n'),
    ("sample", "products[0]", [], 'name = "hammer"\n'),
    ("sample", "server", [], 'host = "localhost"\nports = [ 8000, 8001, 8002 ]\n\n[tls]\ncert = \'c.pem\'\n'),
    ("sample", "dob", ["--json"], '"1979-05-27T07:32:00-08:00"\n'),
    ("sample", "day", ["--json"], '"1979-05-27"\n'),
    ("sample", "special", ["--json"], '[\n  "nan",\n  "inf",\n  "-inf"\n]\n'),
    ("sample", "server.tls", ["--json"], '{\n  "cert": "c.pem"\n}\n'),
    ("pyproject.toml", "project.version", [], '"2.5.0.dev0"\n'),
    ("pyproject.toml", "project.dependencies[8]", [], '"packaging (>=24.2)"\n'),
    ("poetry.lock", "package[10].version", ["--raw"], "7.13.5\n"),
])
def test_get_prints_the_value(tmp_path, name, key, flags, expected):
    path = put(tmp_path, source(name))
    proc = run("get", path, key, *flags)
    assert (proc.returncode, proc.stderr) == (0, b"")
    assert proc.stdout.decode() == expected


# --- edits: only the edited text differs ---------------------------------------

@pytest.mark.parametrize("name, args, old, new", [
    ("sample", ["set", "title", '"new"'], b'title = "demo"   # the name', b'title = "new"   # the name'),
    ("sample", ["set", "title", "x \"y\"", "--string"], b'title = "demo"', b"title = 'x \"y\"'"),
    ("sample", ["set", "server.ports[0]", "0o17"], b"[ 8000,", b"[ 0o17,"),
    ("sample", ["set", "products[1].sku", "'s'"], b"sku = 0x2A", b"sku = 's'"),
    ("sample", ["set", "server.tls.key", "'k.pem'"], b"cert = 'c.pem'\n", b"cert = 'c.pem'\nkey = 'k.pem'\n"),
    ("sample", ["set", "new.deep.key", "1"], b"sku = 0x2A\n", b"sku = 0x2A\n\n[new.deep]\nkey = 1\n"),
    ("sample", ["set", "a.x.y", "1"], b"[3, 4]] }", b"[3, 4]], x = { y = 1 } }"),
    ("sample", ["del", "s"], b's = "a # b"  # note\n', b""),
    ("sample", ["del", "server.ports[1]"], b"8000, 8001, 8002", b"8000, 8002"),
    ("sample", ["del", "products[0]"], b'[[products]]\nname = "hammer"\n\n', b""),
    ("sample", ["append", "server.ports", "8003"], b"8002 ]", b"8002, 8003 ]"),
    ("sample", ["append", "special", "x", "--string"], b"-inf]", b'-inf, "x"]'),
    ("sample", ["append", "products", '{ name = "saw" }'], b"sku = 0x2A\n", b'sku = 0x2A\n\n[[products]]\nname = "saw"\n'),
    ("pyproject.toml", ["set", "project.version", '"2.6.0"'], b'version = "2.5.0.dev0"', b'version = "2.6.0"'),
    ("pyproject.toml", ["append", "project.keywords", '"toml"'], b'"dependency", "poetry"]', b'"dependency", "poetry", "toml"]'),
    ("poetry.lock", ["set", "package[10].version", '"9.9"'], b'version = "7.13.5"', b'version = "9.9"'),
    # Selectors, in each command that edits.
    ("sample", ["set", "products[name=nail].sku", "1"], b"sku = 0x2A", b"sku = 1"),
    ("sample", ["set", "products[name=nail]", "{ name = 'saw' }"], b'name = "nail"\nsku = 0x2A\n', b"name = 'saw'\n"),
    ("sample", ["del", "products[name=hammer]"], b'[[products]]\nname = "hammer"\n\n', b""),
    ("sample", ["del", "products[name='nail'].sku"], b"sku = 0x2A\n", b""),
    ("poetry.lock", ["append", "package[name=anyio].groups", '"dev"'], b'groups = ["main"]\nfiles = [\n    {file = "anyio',
     b'groups = ["main", "dev"]\nfiles = [\n    {file = "anyio'),
    # sort and rename move values with their comments.
    ("sample", ["sort", "server.ports", "--reverse"], b"[ 8000, 8001, 8002 ]", b"[ 8002, 8001, 8000 ]"),
    ("sample", ["sort", "products", "--by", "name", "--reverse"],
     b'name = "hammer"\n\n[[products]]\nname = "nail"\nsku = 0x2A\n',
     b'name = "nail"\nsku = 0x2A\n\n[[products]]\nname = "hammer"\n'),
    ("sample", ["sort", "server", "--reverse"], b'host   = "localhost"\nports  = [ 8000, 8001, 8002 ]\n',
     b'ports  = [ 8000, 8001, 8002 ]\nhost   = "localhost"\n'),
    ("sample", ["rename", "server.tls", "ssl"], b"[server.tls]", b"[server.ssl]"),
    ("sample", ["rename", "title", "name"], b'title = "demo"   # the name', b'name = "demo"   # the name'),
    # The library writes LF and no byte order mark; the file keeps its own.
    ("crlf", ["set", "b", "3"], b"b = 2\r\n", b"b = 3\r\n"),
    ("crlf", ["set", "c", "3"], b"b = 2\r\n", b"b = 2\r\nc = 3\r\n"),
])
def test_edit_changes_only_the_edited_text(tmp_path, name, args, old, new):
    data = b'\xef\xbb\xbfa = """x\ny"""\r\n# c\r\nb = 2\r\n' if name == "crlf" else source(name)
    assert data.count(old) == 1
    path = put(tmp_path, data)
    command, *rest = args
    proc = run(command, path, *rest)
    assert (proc.returncode, proc.stdout, proc.stderr) == (0, b"", b"")
    assert path.read_bytes() == data.replace(old, new)
    assert [p.name for p in tmp_path.iterdir()] == [path.name]   # no temporary file left


# --- selectors: KEY steps [field=value] ---------------------------------------

SELECT = b"""\
[[package]]
name = "rich"
n = 3
tags = ["a]b"]

[[package]]
name = "click"
n = "3"
deps = [{ name = "colorama", "my.field" = "x]" }, { name = "other", ok = true, v = '1.0', at = 2024-05-01 }]
grid = [[{ k = "v", x = 1 }], [{ k = "w", x = 2 }, { k = "w ", x = 3 }]]

[[package]]
name = "click"
n = 3.5
"""


@pytest.mark.parametrize("key, status, expected", [
    ("package[name=rich].n", 0, "3\n"),
    ("package[name=\"rich\"].n", 0, "3\n"),
    ("package[ name = 'rich' ].n", 0, "3\n"),
    ("package[n=3].name", 0, '"rich"\n'),                      # equal as TOML values: 3 is not "3"
    ("package[n=\"3\"].name", 0, '"click"\n'),
    ("package[n=3.5].name", 0, '"click"\n'),
    ("package[name=rich].tags[0]", 0, '"a]b"\n'),               # selector, key, index
    ("package[name=rich]", 0, 'name = "rich"\nn = 3\ntags = ["a]b"]\n'),
    ("package[1].deps[\"my.field\"=\"x]\"].name", 0, '"colorama"\n'),   # quoted field, ']' in quotes
    ("package[1].deps['my.field'='x]']", 0, '{ name = "colorama", "my.field" = "x]" }\n'),
    ("package[1].deps[ok=true].name", 0, '"other"\n'),
    ("package[1].deps[v='1.0'].name", 0, '"other"\n'),
    ("package[1].deps[at=2024-05-01].name", 0, '"other"\n'),
    ("package[1].grid[1][k=\"w \"].x", 0, "3\n"),               # index, index, selector
    ("package[1].grid[-1][k=w].x", 0, "2\n"),                   # a bare word is the string itself
    # What is found is not one element.
    ("package[name=click]", 1, "morvelan: {doc}: 2 elements of package match [name=click]: [1], [2] (select by index instead)\n"),
    ("package[name=nope].n", 1, "morvelan: {doc}: no element of package matches [name=nope]\n"),
    ("package[n=4]", 1, "morvelan: {doc}: no element of package matches [n=4]\n"),
    ("package[1].deps[v=1.0]", 1, "morvelan: {doc}: no element of package[1].deps matches [v=1.0] (1.0 is a float; "
     "package[1].deps[1].v is the string \"1.0\": [v=\"1.0\"] selects it)\n"),
    ("package[1].deps[ok=1]", 1, "morvelan: {doc}: no element of package[1].deps matches [ok=1]\n"),   # 1 is no boolean
    ("package[1].grid[k=v]", 1, "morvelan: {doc}: package[1].grid[0] is an array, not a table: "
     "package[1].grid has no element [k=v] to select\n"),
    ("package[0].tags[x=1]", 1, "morvelan: {doc}: package[0].tags[0] is a string, not a table: "
     "package[0].tags has no element [x=1] to select\n"),
    ("package[0].name[x=1]", 1, "morvelan: {doc}: package[0].name is a string, not an array of tables: no element [x=1]\n"),
    ("package[name=rich][0]", 1, "morvelan: {doc}: package[name=rich] is a table, not an array: no index [0]\n"),
    # Not a selector.
    ("package[x]", 2, "morvelan: bad KEY 'package[x]': expected an index such as [0] or a selector such as [name=value] at column 8\n"),
    ("package[=x]", 2, "morvelan: bad KEY 'package[=x]': expected an index such as [0] or a selector such as [name=value] at column 8\n"),
    ("package[name=]", 2, "morvelan: bad KEY 'package[name=]': expected a value after '=' in the selector at column 14\n"),
    ("package[name= ]", 2, "morvelan: bad KEY 'package[name= ]': expected a value after '=' in the selector at column 15\n"),
    ("package[name=\"a]", 2, "morvelan: bad KEY 'package[name=\"a]': unterminated string in a selector at column 14\n"),
    ("package[name=a b]", 2, "morvelan: bad KEY 'package[name=a b]': expected a TOML value or a bare word after '=' in the selector at column 14\n"),
    ("package[name=rich", 2, "morvelan: bad KEY 'package[name=rich': expected ']' to close the selector at column 18\n"),
    ("package[v=[1, 2]", 2, "morvelan: bad KEY 'package[v=[1, 2]': expected ']' to close the selector at column 17\n"),
    ("package[v=}]", 2, "morvelan: bad KEY 'package[v=}]': unbalanced '}' in a selector at column 11\n"),
])
def test_a_selector_picks_the_one_matching_element(tmp_path, key, status, expected):
    path = put(tmp_path, SELECT)
    proc = run("get", path, key)
    assert proc.returncode == status
    assert (proc.stdout if status == 0 else proc.stderr).decode() == expected.replace("{doc}", str(path))
    assert (proc.stderr if status == 0 else proc.stdout) == b""


# --- edit: several edits, one write -------------------------------------------

@pytest.mark.parametrize("script, changes", [
    # Blank lines and comment lines are skipped; words are split as a shell does.
    ("# bump\n\nset title '\"new\"'\n  # indented comment\n\tdel s\n",
     [(b'title = "demo"', b'title = "new"'), (b's = "a # b"  # note\n', b"")]),
    ("set title 'x \"y\" # z' --string\nappend server.ports 8003\nset special[0] -- -inf\n",
     [(b'title = "demo"', b"title = 'x \"y\" # z'"), (b"8002 ]", b"8002, 8003 ]"), (b"[nan,", b"[-inf,")]),
    # In order, each on the document the ones before it left.
    ("set new.k 1\nset new.k 2\nappend products '{ name = \"saw\" }'\nset products[name=saw].sku 3\n"
     "del products[name=hammer]\n",
     [(b"sku = 0x2A\n", b'sku = 0x2A\n\n[[products]]\nname = "saw"\nsku = 3\n\n[new]\nk = 2\n'),
      (b'[[products]]\nname = "hammer"\n\n', b"")]),
    ("set title 1\r\ndel day\r\n", [(b'"demo"', b"1"), (b"day = 1979-05-27\n", b"")]),   # CRLF lines
    ("\n# nothing to do\n", []),
])
@pytest.mark.parametrize("source", ["stdin", "script", "stdout"])
def test_edit_applies_a_script_in_one_write(tmp_path, script, changes, source):
    expected = SAMPLE
    for old, new in changes:
        assert expected.count(old) == 1
        expected = expected.replace(old, new)
    path = put(tmp_path, SAMPLE)
    script_path = put(tmp_path, script.encode(), "edits.txt")
    if source == "stdin":
        proc = run("edit", path, stdin=script.encode())
    elif source == "script":
        proc = run("edit", path, "--script", script_path)
    else:
        proc = run("edit", "-", "--script", script_path, stdin=SAMPLE)
    assert (proc.returncode, proc.stderr) == (0, b"")
    assert proc.stdout == (expected if source == "stdout" else b"")
    assert path.read_bytes() == (SAMPLE if source == "stdout" else expected)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["doc.toml", "edits.txt"]


# If any line fails, nothing is written: exit 1 (a bad KEY too: the script is
# data), and the message names the line, quoted with its control characters
# escaped.
@pytest.mark.parametrize("script, message", [
    ("set title 1\nset title\n", "line 2: 'set title': the following arguments are required: VALUE"),
    ("sett title 1\n", "line 1: 'sett title 1': argument EDIT: invalid choice: 'sett' (choose from 'set', 'del', 'append', 'sort', 'rename')"),
    ("del title extra\n", "line 1: 'del title extra': unrecognized arguments: extra"),
    ("set title 1 --help\n", "line 1: 'set title 1 --help': unrecognized arguments: --help"),
    ("set title '1\n", "line 1: \"set title '1\": no closing quotation"),
    ("set title 1\n\nset a..b 1\n", "line 3: 'set a..b 1': bad KEY 'a..b': expected a bare or quoted key at column 3"),
    ("set title 1.2.3\n", "line 1: 'set title 1.2.3': bad VALUE '1.2.3': TOML parse error at line 1, column 4\n"),
    ("set title 1\ndel nope\n", "line 2: 'del nope': key nope not found"),
    ("del products[0]\ndel products[1]\n", "line 2: 'del products[1]': index products[1] out of range (products has 1 elements)"),
    ("set products[name=saw].sku 1\n", "line 1: 'set products[name=saw].sku 1': no element of products matches [name=saw]"),
    ("append title 1\n", "line 1: 'append title 1': title is a string, not an array: cannot append"),
    ("set title \x1b[2J\n", "line 1: 'set title \\x1b[2J': bad VALUE '\\x1b[2J': TOML parse error"),
])
def test_edit_writes_nothing_if_a_line_fails(tmp_path, script, message):
    path = put(tmp_path, SAMPLE)
    proc = run("edit", path, stdin=script.encode())
    assert (proc.returncode, proc.stdout) == (1, b"")
    assert proc.stderr.decode().startswith(f"morvelan: {path}: <stdin>, {message}")
    assert CONTROL.search(proc.stderr.decode()) is None
    assert path.read_bytes() == SAMPLE
    assert [p.name for p in tmp_path.iterdir()] == [path.name]


@pytest.mark.parametrize("args, stdin, status, message", [
    (["edit", "-"], b"a = 1\n", 2, "morvelan: edit: FILE '-' reads the document from standard input, which "
     "cannot hold the edits too: give them with --script PATH\n"),
    (["edit", "-", "--script", "-"], b"a = 1\n", 2, "morvelan: edit: FILE '-' reads the document"),
    (["edit", "{doc}", "--script", "{missing}"], b"", 1, "morvelan: cannot read {missing}: No such file or directory\n"),
    (["edit", "{doc}"], b"set title '\xe9'\n", 1, "morvelan: <stdin>: not UTF-8 text ("),
])
def test_edit_refuses_a_script_it_cannot_read(tmp_path, args, stdin, status, message):
    names = {"doc": str(put(tmp_path, SAMPLE)), "missing": str(tmp_path / "missing.txt")}
    proc = run(*(a.format(**names) for a in args), stdin=stdin)
    assert (proc.returncode, proc.stdout) == (status, b"")
    assert proc.stderr.decode().startswith(message.format(**names))
    assert (tmp_path / "doc.toml").read_bytes() == SAMPLE


def test_diff_and_stdin_leave_the_file_alone(tmp_path):
    path = put(tmp_path, SAMPLE)
    edited = SAMPLE.replace(b"8001", b"1")
    diff = run("set", path, "server.ports[1]", "1", "--diff")
    assert diff.returncode == 0
    assert diff.stdout.decode() == (
        f"--- {path}\n+++ {path}\n@@ -10,7 +10,7 @@\n \n [server]\n host   = \"localhost\"\n"
        "-ports  = [ 8000, 8001, 8002 ]\n+ports  = [ 8000, 1, 8002 ]\n \n [server.tls]\n cert = 'c.pem'\n")
    piped = run("set", "-", "server.ports[1]", "1", stdin=SAMPLE)
    assert (piped.returncode, piped.stdout) == (0, edited)
    assert run("get", "-", "server.ports[1]", stdin=edited).stdout == b"1\n"
    assert run("fmt", "-", stdin=b"a  =  [1,2]\n").stdout == b"a = [1, 2]\n"
    assert path.read_bytes() == SAMPLE


# --- fmt -----------------------------------------------------------------------

@pytest.mark.parametrize("before, after", [
    (b"a   =  1\nb=[1,2,  3]\n[t]\nx  =  { p=1,q = [ 2 ] }\n", b"a = 1\nb = [1, 2, 3]\n[t]\nx = { p = 1, q = [2] }\n"),
    # Comments: the document's entries are left as they are, the arrays formatted.
    (b"# top\na   =  [1,2]   # one\nb  =  2\n", b"# top\na   =  [1, 2]   # one\nb  =  2\n"),
    (b"[t]  # header\nx  =  1\n", b"[t]  # header\nx = 1\n"),
    (b"x = [\n  1,  # first\n  2,\n]\ny = [ 3 ,4 ]\n", b"x = [\n  1,  # first\n  2,\n]\ny = [3, 4]\n"),
    # A '#' in a string is no comment, a quote in a comment no string.
    (b"a  =  '\"'  # keep\nb  =  \"\\\"#\"\n", b"a  =  '\"'  # keep\nb  =  \"\\\"#\"\n"),
    (b"s  =  \"# not a comment\"\n", b's = "# not a comment"\n'),
    (b"m = '''\n# in a string'''\n[t]\nk  =  \"\"\"x\"\"\"\"\n", b"m = '''\n# in a string'''\n[t]\nk = \"\"\"x\"\"\"\"\n"),
    (b"a  =  1\r\nb = [1,2]\r\n", b"a = 1\r\nb = [1, 2]\r\n"),
    (b"a = 1\n", b"a = 1\n"),
])
def test_fmt_formats_where_no_comment_is_lost(tmp_path, before, after):
    path = put(tmp_path, before)
    check = run("fmt", "--check", path)
    assert (check.returncode, check.stderr) == (
        (1, f"would reformat {path}\n".encode()) if after != before else (0, b""))
    assert path.read_bytes() == before
    proc = run("fmt", path)
    assert (proc.returncode, proc.stdout, proc.stderr) == (0, b"", b"")
    assert path.read_bytes() == after
    assert run("fmt", "--check", path).returncode == 0


# An array whose one-line form makes its line longer than the width goes one
# element a line, indented as the file's multi-line arrays (else by 4 spaces a
# level); no line within the width is made longer, nor a longer one longer still.
X45, Y45 = '"' + "x" * 45 + '"', '"' + "y" * 45 + '"'


@pytest.mark.parametrize("width, before, after", [
    (None, f"a = [{X45}, {Y45}]\nb = [{X45}, 1]\n", f"a = [\n    {X45},\n    {Y45},\n]\nb = [{X45}, 1]\n"),   # 100
    (30, 'a = ["aaaaaaaaaa", "bbbbbbbbbb", "cccccccccc"]\nb = [1, 2]\n',
     'a = [\n    "aaaaaaaaaa",\n    "bbbbbbbbbb",\n    "cccccccccc",\n]\nb = [1, 2]\n'),
    # The file's own indentation, from the arrays that stay multi-line.
    (30, 'a = ["aaaaaaaaaa", "bbbbbbbbbb", "cccccccccc"]\nb = [\n  1,  # one\n  2,\n]\n',
     'a = [\n  "aaaaaaaaaa",\n  "bbbbbbbbbb",\n  "cccccccccc",\n]\nb = [\n  1,  # one\n  2,\n]\n'),
    (30, 'a = ["aaaaaaaaaa", "bbbbbbbbbb", "cccccccccc"]\nb = [\n\t1,  # one\n\t2,\n]\n',
     'a = [\n\t"aaaaaaaaaa",\n\t"bbbbbbbbbb",\n\t"cccccccccc",\n]\nb = [\n\t1,  # one\n\t2,\n]\n'),
    # Most arrays indent by 2 spaces but fmt() joins them: the ones left, and so
    # the new one, indent by a tab (formatting again keeps it).
    (30, 'a = [\n  1,\n]\nb = [\n  2,\n]\nc = [\n  3,\n]\nd = [\n\t4,  # four\n]\ne = [\n\t5,  # five\n]\n'
     'f = ["aaaaaaaaaa", "bbbbbbbbbb", "cccccccccc"]\n',
     'a = [1]\nb = [2]\nc = [3]\nd = [\n\t4,  # four\n]\ne = [\n\t5,  # five\n]\n'
     'f = [\n\t"aaaaaaaaaa",\n\t"bbbbbbbbbb",\n\t"cccccccccc",\n]\n'),
    # An element still too long is broken in turn, one level further in; the
    # comment after the array stays after it.
    (24, 'a = [[1, 2, 3], ["xxxxxxxxxx", "yyyyyyyyyy"]]  # note\n',
     'a = [\n    [1, 2, 3],\n    [\n        "xxxxxxxxxx",\n        "yyyyyyyyyy",\n    ],\n]  # note\n'),
    # A multi-line array is joined only where its one-line form fits.
    (20, 'a = [\n  "xxxxxxxx",\n  "yyyyyyyy",\n]\nb = [\n  1,\n  2,\n]\n', 'a = [\n  "xxxxxxxx",\n  "yyyyyyyy",\n]\nb = [1, 2]\n'),
    # In arrays of tables, and with CRLF line ends.
    (20, '[[p]]\nx = [1111, 2222, 3333]\n[[p]]\nx = [4, 5]\n', '[[p]]\nx = [\n    1111,\n    2222,\n    3333,\n]\n[[p]]\nx = [4, 5]\n'),
    (20, 'a = [111111, 222222, 333333]\r\n', 'a = [\r\n    111111,\r\n    222222,\r\n    333333,\r\n]\r\n'),
    # Widths and places count characters, not bytes.
    (20, '"é" = "ü"  # ñ\na = ["ééééé", "üüüüü", "ßßßßß"]\n',
     '"é" = "ü"  # ñ\na = [\n    "ééééé",\n    "üüüüü",\n    "ßßßßß",\n]\n'),
    # Nothing breaks an inline table; its canonical form would lengthen the line.
    (9, "x = {a=1}\n", "x = {a=1}\n"),
    (10, "t = {a = [1, 2, 3]}\n", "t = {a = [1, 2, 3]}\n"),
    (20, "t = {a=1}\ns = 'a string longer than the width'\n", "t = { a = 1 }\ns = 'a string longer than the width'\n"),
])
def test_fmt_width_breaks_long_arrays(tmp_path, width, before, after):
    path = put(tmp_path, before.encode())
    flags = [] if width is None else ["--width", width]
    proc = run("fmt", path, *flags)
    assert (proc.returncode, proc.stdout, proc.stderr) == (0, b"", b"")
    assert path.read_bytes() == after.encode()
    assert run("fmt", "--check", path, *flags).returncode == 0


def _values(text):
    """The data of TOML text, as the CLI's JSON has it (nan as a string)."""
    try:
        return plain(tomllib.loads(text))
    except tomllib.TOMLDecodeError:   # TOML 1.1: tomllib reads 1.0
        return plain(morvelan.loads(text).value)


def _one_line_arrays(line):
    """The number of elements of an array that line holds whole as a value, or
    as an element (its trailing comma dropped), read by tomllib; 0 if none."""
    for text in (line, "v = " + line.strip().removesuffix(",")):
        try:
            value = list(tomllib.loads(text).values())[-1]
        except (tomllib.TOMLDecodeError, IndexError):
            continue
        return len(value) if isinstance(value, list) else 0
    return 0


@pytest.mark.parametrize("width", [100, 30])
@pytest.mark.parametrize("path", CORPUS_FILES + sorted(BENCH_DATA.glob("*.[tl]o[mc]*")) + VALID,
                         ids=lambda p: p.name if isinstance(p, Path) else str(p))
def test_fmt_keeps_the_data_and_comments_and_is_idempotent(path, width):
    data = path.read_bytes()
    try:
        text = data.decode()
        morvelan.loads(text)
    except (UnicodeDecodeError, ValueError):
        pytest.skip("not a document the library reads")
    out = _cli.format_text(text, width)
    assert _values(out) == _values(text)
    # fmt changes no string and removes nothing but layout and comments, so
    # every '#' that was there is still there exactly when no comment was lost.
    assert out.count("#") == text.count("#")
    assert _cli.format_text(out, width) == out
    before, after = ([len(line) for line in t.splitlines()] or [0] for t in (text, out))
    assert max(after) <= max(width, max(before))
    # Each line over the width holds no array of several elements it could
    # have broken.
    for line in out.splitlines():
        if len(line) > width and "{" not in line:
            assert _one_line_arrays(line) < 2, line


# --- check and to-json ---------------------------------------------------------

def test_check_reports_each_bad_file(tmp_path):
    good = put(tmp_path, SAMPLE, "good.toml")
    bad = put(tmp_path, b"a = 1\nb = \n", "bad.toml")
    assert run("check", good, good).returncode == 0
    proc = run("check", good, bad, tmp_path / "missing.toml")
    assert (proc.returncode, proc.stdout) == (1, b"")
    assert proc.stderr.decode() == (
        f"{bad}: TOML parse error at line 2, column 5\n  |\n2 | b = \n  |     ^\nmissing value for key\n"
        f"cannot read {tmp_path / 'missing.toml'}: No such file or directory\n")


def plain(value):
    """tomllib's value as the CLI writes it in JSON."""
    if isinstance(value, dict):
        return {k: plain(v) for k, v in value.items()}
    if isinstance(value, list):
        return [plain(v) for v in value]
    if isinstance(value, (dt.datetime, dt.date, dt.time)):
        return value.isoformat()
    if isinstance(value, float) and not math.isfinite(value):
        return str(value)
    return value


@pytest.mark.parametrize("name", ["sample", "pyproject.toml", "poetry.lock", "corpus/rust-lang__cargo__Cargo.lock"])
def test_to_json_holds_the_whole_document(tmp_path, name):
    data = source(name)
    proc = run("to-json", put(tmp_path, data))
    assert proc.returncode == 0
    assert json.loads(proc.stdout) == plain(tomllib.loads(data.decode()))


# --- output streams --------------------------------------------------------------
# Standard output carries only results (values, JSON, diffs, a document edited
# from standard input, help asked for); everything about the run, errors and the
# findings of check and fmt --check, goes to standard error.

@pytest.mark.parametrize("args, stdin, status, out, err", [
    (["get", "{doc}", "title"], b"", 0, "'x'\n", ""),
    (["get", "{doc}", "nope"], b"", 1, "", "morvelan: {doc}: key nope not found\n"),
    (["set", "{doc}", "title", "1"], b"", 0, "", ""),
    (["set", "-", "title", "1"], b"title = 'x'\n", 0, "title = 1\n", ""),
    (["set", "{doc}", "title", "1", "--diff"], b"", 0, "--- {doc}\n+++ {doc}\n@@ -1,2 +1,2 @@\n-title = 'x'\n+title = 1\n", ""),
    (["set", "{doc}", "title", "1.2.3"], b"", 1, "", "morvelan: bad VALUE '1.2.3'"),
    (["del", "{doc}", "list[0]"], b"", 0, "", ""),
    (["del", "{doc}", "nope"], b"", 1, "", "morvelan: {doc}: key nope not found\n"),
    (["append", "-", "list", "3"], b"list = []\n", 0, "list = [3]\n", ""),
    (["append", "{doc}", "title", "3"], b"", 1, "", "morvelan: {doc}: title is a string, not an array"),
    (["edit", "{doc}"], b"set title 2\n", 0, "", ""),
    (["edit", "{doc}", "--diff"], b"set title 2\n", 0, "--- {doc}\n+++ {doc}\n", ""),
    (["edit", "{doc}"], b"del nope\n", 1, "", "morvelan: {doc}: <stdin>, line 1: 'del nope': key nope not found\n"),
    (["fmt", "{messy}"], b"", 0, "", ""),
    (["fmt", "-"], b"a  =  1\n", 0, "a = 1\n", ""),
    (["fmt", "--check", "{messy}", "{doc}"], b"", 1, "", "would reformat {messy}\n"),
    (["fmt", "--check", "--diff", "{messy}"], b"", 1, "--- {messy}\n+++ {messy}\n@@ -1 +1 @@\n-a  =  1\n+a = 1\n",
     "would reformat {messy}\n"),
    (["fmt", "{bad}", "{messy}"], b"", 1, "", "morvelan: {bad}: TOML parse error at line 1, column 5\n"),
    (["check", "{doc}"], b"", 0, "", ""),
    (["check", "{doc}", "{bad}"], b"", 1, "", "{bad}: TOML parse error at line 1, column 5\n"),
    (["to-json", "{doc}"], b"", 0, '{\n  "title": "x",\n  "list": [\n    1,\n    2\n  ]\n}\n', ""),
    (["to-json", "{bad}"], b"", 1, "", "morvelan: {bad}: TOML parse error"),
    (["--help"], b"", 0, "usage: morvelan", ""),
    (["edit", "--help"], b"", 0, "usage: morvelan edit", ""),
    (["fmt", "--width", "0", "{doc}"], b"", 2, "", "usage: morvelan fmt"),
])
def test_results_go_to_stdout_and_messages_to_stderr(tmp_path, args, stdin, status, out, err):
    files = {"doc": b"title = 'x'\nlist = [1, 2]\n", "messy": b"a  =  1\n", "bad": b"a = \n"}
    names = {name: str(put(tmp_path, data, name + ".toml")) for name, data in files.items()}
    def fill(text):
        for name, path in names.items():
            text = text.replace("{" + name + "}", path)
        return text

    proc = run(*map(fill, args), stdin=stdin)
    assert proc.returncode == status
    for shown, expected in ((proc.stdout.decode(), out), (proc.stderr.decode(), err)):
        expected = fill(expected)
        assert shown.startswith(expected) and (shown == "") == (expected == ""), (shown, expected)


# --- failures ------------------------------------------------------------------

@pytest.mark.parametrize("args, status, message", [
    (["get", "{missing}", "a"], 1, "morvelan: cannot read {missing}: No such file or directory\n"),
    (["get", "{bad}", "a"], 1, "morvelan: {bad}: TOML parse error at line 1, column 5\n"),
    (["set", "{bad}", "a", "1"], 1, "morvelan: {bad}: TOML parse error at line 1, column 5\n"),
    (["get", "{latin1}", "a"], 1, "morvelan: {latin1}: not UTF-8 text ("),
    (["get", "{doc}", "nope"], 1, "morvelan: {doc}: key nope not found\n"),
    (["get", "{doc}", "server.tls.nope"], 1, "morvelan: {doc}: key server.tls.nope not found\n"),
    (["get", "{doc}", "title.x"], 1, "morvelan: {doc}: title is a string, not a table: no key x\n"),
    (["get", "{doc}", "products.name"], 1,
     "morvelan: {doc}: products is an array of tables, not a table: no key name (index it: products[0].name)\n"),
    (["get", "{doc}", "server[0]"], 1, "morvelan: {doc}: server is a table, not an array: no index [0]\n"),
    (["get", "{doc}", "products[2]"], 1, "morvelan: {doc}: index products[2] out of range (products has 2 elements)\n"),
    (["del", "{doc}", "server.nope"], 1, "morvelan: {doc}: key server.nope not found\n"),
    (["set", "{doc}", "title.x.y", "1"], 1, "morvelan: {doc}: title is a string, not a table: no key x\n"),
    (["set", "{doc}", "server.ports[3]", "1"], 1, "morvelan: {doc}: index server.ports[3] out of range"),
    (["append", "{doc}", "title", "1"], 1, "morvelan: {doc}: title is a string, not an array: cannot append\n"),
    (["append", "{doc}", "nope", "1"], 1, "morvelan: {doc}: key nope not found\n"),
    (["set", "{doc}", "title", "1.2.3"], 1, "morvelan: bad VALUE '1.2.3': TOML parse error at line 1, column 4\n"),
    (["append", "{doc}", "special", "[1,"], 1, "morvelan: bad VALUE '[1,': TOML parse error at line 1, column 4\n"),
    (["get", "{doc}", "a..b"], 2, "morvelan: bad KEY 'a..b': expected a bare or quoted key at column 3\n"),
    (["get", "{doc}", ""], 2, "morvelan: bad KEY '': expected a bare or quoted key at column 1\n"),
    (["get", "{doc}", "a."], 2, "morvelan: bad KEY 'a.': expected a bare or quoted key at column 3\n"),
    (["get", "{doc}", "a b"], 2, "morvelan: bad KEY 'a b': expected '.' or '[' after a key at column 3\n"),
    (["get", "{doc}", "a[x]"], 2,
     "morvelan: bad KEY 'a[x]': expected an index such as [0] or a selector such as [name=value] at column 2\n"),
    (["set", "{doc}", "products[name=saw].sku", "1"], 1, "morvelan: {doc}: no element of products matches [name=saw]\n"),
    (["del", "{doc}", "products[sku=0x2A].name[x=1]"], 1,
     "morvelan: {doc}: products[sku=0x2A].name is a string, not an array of tables: no element [x=1]\n"),
    (["get", "{doc}", "[0]"], 2, "morvelan: bad KEY '[0]': expected a bare or quoted key at column 1\n"),
    (["get", "{doc}", '"a'], 2, "morvelan: bad KEY '\"a': unterminated quoted key at column 1\n"),
    (["get", "{doc}", '"\\q"'], 2, "morvelan: bad KEY '\"\\\\q\"': invalid quoted key ("),
    # An index beyond any array's size, in every command that takes a KEY.
    (["get", "{doc}", "server.ports[99999999999999999999999]"], 2,
     "morvelan: bad KEY 'server.ports[99999999999999999999999]': index too large at column 13\n"),
    (["set", "{doc}", "server.ports[-99999999999999999999999]", "1"], 2, "morvelan: bad KEY"),
    (["del", "{doc}", "server.ports[9223372036854775808]"], 2, "morvelan: bad KEY"),
    (["append", "{doc}", "a.'b c'[" + "0" * 5000 + "1][-9223372036854775809]", "1"], 2,
     "morvelan: bad KEY"),
    (["get", "{doc}", "server.ports[" + "9" * 5000 + "]"], 2, "morvelan: bad KEY"),
    (["get", "{doc}", "server.ports[9223372036854775807]"], 1,
     "morvelan: {doc}: index server.ports[9223372036854775807] out of range (server.ports has 3 elements)\n"),
    (["del", "{doc}", "server.ports[-9223372036854775807]"], 1, "morvelan: {doc}: index server.ports[-9"),
    (["get", "{doc}", '"\udcff"'], 2, "morvelan: bad KEY '\"\\udcff\"': invalid quoted key ("),
    (["set", "{missing}", "a..b", "1"], 2, "morvelan: bad KEY"),   # KEY before the file
    (["sort", "{doc}", "title"], 1, "morvelan: {doc}: title is a string, not an array or a table\n"),
    (["sort", "{doc}", "server", "--by", "host"], 1,
     "morvelan: {doc}: server is a table: --by sorts an array of tables, a table's entries are sorted by name\n"),
    (["sort", "{doc}", "products", "--by", "sku"], 1,
     "morvelan: {doc}: products[0] has no field sku: cannot sort products by it\n"),
    (["sort", "{doc}", "products"], 1, "morvelan: {doc}: '<' not supported between instances of 'dict' and 'dict'\n"),
    (["rename", "{doc}", "title", "s"], 1, "morvelan: {doc}: rename(): the key 's' is there already\n"),
    (["rename", "{doc}", "server.ports[0]", "x"], 1,
     "morvelan: {doc}: server.ports[0] is an array element, not a key: only keys are renamed\n"),
    (["get", "{doc}"], 2, "usage: morvelan get"),
    (["frob", "{doc}"], 2, "usage: morvelan"),
    (["get", "{doc}", "title", "--json", "--raw"], 2, "usage: morvelan get"),
    (["fmt", "{doc}", "--width", "0"], 2, "usage: morvelan fmt"),
    (["fmt", "{doc}", "--width", "wide"], 2, "usage: morvelan fmt"),
])
def test_failures_exit_with_a_message_and_touch_nothing(tmp_path, args, status, message):
    files = {"doc": SAMPLE, "bad": b"a = \n", "latin1": b"a = '\xe9'\n"}
    paths = {name: put(tmp_path, data, name + ".toml") for name, data in files.items()}
    names = {name: str(path) for name, path in paths.items()} | {"missing": str(tmp_path / "missing.toml")}
    proc = run(*(a.format(**names) for a in args))
    assert proc.returncode == status
    assert proc.stdout == b""
    assert proc.stderr.decode().startswith(message.format(**names))
    assert {p.name: p.read_bytes() for p in tmp_path.iterdir()} == {p.name: files[n] for n, p in paths.items()}


def test_an_unreadable_file(tmp_path):
    path = put(tmp_path, SAMPLE)
    path.chmod(0)
    if os.access(path, os.R_OK):
        pytest.skip("this user (root) can read a file with mode 000")
    proc = run("get", path, "title")
    assert (proc.returncode, proc.stderr) == (1, f"morvelan: cannot read {path}: Permission denied\n".encode())


def test_a_read_only_folder(tmp_path):
    path = put(tmp_path, SAMPLE)
    tmp_path.chmod(0o555)
    try:
        if os.access(tmp_path, os.W_OK):
            pytest.skip("this user (root) can write into a folder with mode 555")
        proc = run("set", path, "title", "1")
        assert (proc.returncode, proc.stderr) == (1, f"morvelan: cannot write {path}: Permission denied\n".encode())
        assert path.read_bytes() == SAMPLE
        assert [p.name for p in tmp_path.iterdir()] == [path.name]
    finally:
        tmp_path.chmod(0o755)


# The write fails after the temporary file was made: the original stays and
# the temporary file goes (works for root too).
FAILING_WRITE = """
import os, sys
from morvelan.__main__ import main
def fail(*args):
    raise OSError(5, "Input/output error")
setattr(os, sys.argv[1], fail)
sys.exit(main(sys.argv[2:]))
"""


@pytest.mark.parametrize("failing", ["fsync", "replace", "fchmod"])
def test_a_failed_write_leaves_the_file_untouched(tmp_path, failing):
    path = put(tmp_path, SAMPLE)
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    proc = subprocess.run([sys.executable, "-c", FAILING_WRITE, failing, "set", str(path), "title", "1"],
                          capture_output=True, env=env, timeout=120)
    assert (proc.returncode, proc.stderr) == (1, f"morvelan: cannot write {path}: Input/output error\n".encode())
    assert path.read_bytes() == SAMPLE
    assert [p.name for p in tmp_path.iterdir()] == [path.name]


@pytest.mark.parametrize("mode", [0o600, 0o644, 0o755, 0o4750])
def test_an_edit_keeps_the_permission_bits(tmp_path, mode):
    path = put(tmp_path, SAMPLE)
    path.chmod(mode)
    link = tmp_path / "link.toml"
    link.symlink_to(path.name)
    assert run("set", link, "title", "1").returncode == 0
    assert stat.S_IMODE(path.stat().st_mode) == mode
    assert link.is_symlink() and path.read_bytes() == SAMPLE.replace(b'"demo"', b"1")


# --- the file an edit replaces ----------------------------------------------------
# Tests that need other users run as root and start the command as "nobody",
# in a folder that everyone may write.

# The command run as another user: the interpreter starts as root (it may live
# where "nobody" cannot read), imports what the command will need, then drops
# to the user before the command touches any file.
AS_USER = """
import copy, difflib, locale, os, sys
from morvelan.__main__ import main
uid, gid = int(sys.argv[1]), int(sys.argv[2])
os.setgroups([])
os.setgid(gid)
os.setuid(uid)
sys.exit(main(sys.argv[3:]))
"""


def ids(user):
    """(uid, gid) of "root", "nobody", or of a group named after a colon: "nobody:daemon"."""
    name, _, group = user.partition(":")
    entry = pwd.getpwnam(name)
    return entry.pw_uid, grp.getgrnam(group).gr_gid if group else entry.pw_gid


def run_as(user, *args):
    if user == "root":
        return run(*args)
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    return subprocess.run([sys.executable, "-c", AS_USER, *map(str, ids(user)), *map(str, args)],
                          capture_output=True, env=env, cwd="/", timeout=120)


@pytest.fixture
def open_folder():
    """A folder that every user may write, for tests that run as another user."""
    if os.geteuid() != 0:
        pytest.skip("needs root, to make files of other users and to run as them")
    folder = Path(tempfile.mkdtemp(prefix="morvelan-cli-"))
    try:
        if any(not p.stat().st_mode & stat.S_IXOTH for p in folder.parents):
            pytest.skip(f"{folder.parent} is closed to other users")
        folder.chmod(0o777)
        yield folder
    finally:
        shutil.rmtree(folder)


def parallel(commands):
    procs = [subprocess.Popen([sys.executable, "-m", "morvelan", *map(str, c)], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
             for c in commands]
    return [(p.wait(timeout=300), p.stdout.read(), p.stderr.read()) for p in procs]


# Processes that edit one file at once: each edit that reports success is in
# the file (they used to read the same text and the last rename won).
@pytest.mark.parametrize("command, check", [
    (lambda path, i: ["append", path, "deps", f'"p{i}"'], lambda doc, n: sorted(doc["deps"]) == sorted(f"p{i}" for i in range(n))),
    (lambda path, i: ["set", path, f"k{i}", str(i)], lambda doc, n: all(doc[f"k{i}"] == i for i in range(n))),
    (lambda path, i: ["fmt", path] if i % 2 else ["append", path, "deps", f"{i}"],
     lambda doc, n: sorted(doc["deps"]) == list(range(0, n, 2))),
])
def test_parallel_edits_of_one_file_all_land(tmp_path, command, check):
    path = put(tmp_path, b"deps = []\n")
    n = 16
    results = parallel(command(path, i) for i in range(n))
    assert [r[0] for r in results] == [0] * n, [r[2] for r in results]
    assert check(tomllib.loads(path.read_text()), n)
    assert [p.name for p in tmp_path.iterdir()] == [path.name]   # no lock or temporary file left


def _fifo(path):
    os.mkfifo(path)


def _null_device(path):
    os.mknod(path, 0o666 | stat.S_IFCHR, os.makedev(1, 3))   # the device of /dev/null


def _socket(path):
    with socket.socket(socket.AF_UNIX) as s:
        s.bind(str(path))


def _link_to_fifo(path):
    os.mkfifo(path.with_name("real"))
    path.symlink_to("real")


# An edit replaces FILE by a regular file: a FIFO (an edit waited on it, then
# replaced it) or a device (as root, `set /dev/null a 1` replaced /dev/null) is
# refused, unopened.
@pytest.mark.parametrize("make, what, args", [
    (_fifo, "a FIFO", ["set", "{path}", "a", "1"]),
    (_fifo, "a FIFO", ["fmt", "{path}"]),
    (_link_to_fifo, "a FIFO", ["append", "{path}", "a", "1"]),
    (_null_device, "a character device", ["set", "{path}", "a", "1"]),
    (_socket, "a socket", ["del", "{path}", "a"]),
    (os.mkdir, "a folder", ["set", "{path}", "a", "1"]),
])
def test_an_edit_refuses_what_is_not_a_regular_file(tmp_path, make, what, args):
    path = tmp_path / "doc.toml"
    try:
        make(path)
    except PermissionError:
        pytest.skip(f"this user may not make {what}")
    before = {p.name: os.lstat(p) for p in tmp_path.iterdir()}
    proc = run(*(a.format(path=path) for a in args))
    assert (proc.returncode, proc.stdout) == (1, b"")
    assert proc.stderr.decode() == f"morvelan: cannot edit {path}: not a regular file ({what})\n"
    after = {p.name: os.lstat(p) for p in tmp_path.iterdir()}
    assert {n: (s.st_ino, s.st_mode) for n, s in after.items()} == {n: (s.st_ino, s.st_mode) for n, s in before.items()}


# The rename that replaces a file needs only the folder's write permission, so
# a read-only file was rewritten. An edit is refused where the user may not
# write the file, and for root too where nobody may (no write bit at all).
@pytest.mark.parametrize("user, owner, mode, args", [
    ("root", "root", 0o444, ["set", "{path}", "title", "1"]),
    ("root", "root", 0o400, ["del", "{path}", "title"]),
    ("root", "nobody:daemon", 0o000, ["append", "{path}", "special", "1"]),
    ("root", "root", 0o555, ["fmt", "{path}"]),
    ("nobody", "root", 0o644, ["set", "{path}", "title", "1"]),
    ("nobody", "root:daemon", 0o664, ["set", "{path}", "title", "1"]),
    ("nobody", "nobody", 0o444, ["fmt", "{path}"]),
])
def test_an_edit_refuses_a_read_only_file(open_folder, user, owner, mode, args):
    path = put(open_folder, b"title = 'x'\n[t]\nspecial = [ ]\n")
    os.chown(path, *ids(owner))
    path.chmod(mode)
    proc = run_as(user, *(a.format(path=path) for a in args))
    assert (proc.returncode, proc.stdout) == (1, b"")
    assert proc.stderr.decode() == f"morvelan: cannot edit {path}: the file is read-only\n"
    assert path.read_bytes() == b"title = 'x'\n[t]\nspecial = [ ]\n"
    assert (path.stat().st_uid, path.stat().st_gid, stat.S_IMODE(path.stat().st_mode)) == (*ids(owner), mode)
    assert [p.name for p in open_folder.iterdir()] == [path.name]


# The new file takes the original's owner and group where the user may give
# them (root edited a file of nobody:daemon into one of root:root), and its
# permission bits; never a set-user-ID or set-group-ID bit for an owner or
# group it could not keep.
@pytest.mark.parametrize("user, owner, mode, result", [
    ("root", "nobody:daemon", 0o640, ("nobody:daemon", 0o640)),
    ("root", "nobody:daemon", 0o4750, ("nobody:daemon", 0o4750)),
    ("root", "nobody:daemon", 0o6751, ("nobody:daemon", 0o6751)),
    ("root", "root:daemon", 0o2770, ("root:daemon", 0o2770)),
    ("nobody", "nobody", 0o6770, ("nobody", 0o6770)),
    ("nobody", "root", 0o4777, ("nobody", 0o777)),
    ("nobody", "root:daemon", 0o6666, ("nobody", 0o666)),
])
def test_an_edit_keeps_owner_and_group_where_it_may(open_folder, user, owner, mode, result):
    path = put(open_folder, SAMPLE)
    os.chown(path, *ids(owner))
    path.chmod(mode)
    proc = run_as(user, "set", path, "title", "1")
    assert (proc.returncode, proc.stderr) == (0, b"")
    assert path.read_bytes() == SAMPLE.replace(b'"demo"', b"1")
    owner, mode = result
    assert (path.stat().st_uid, path.stat().st_gid, stat.S_IMODE(path.stat().st_mode)) == (*ids(owner), mode)


# --- nothing reaches a terminal as a control sequence ---------------------------

EVIL = 'title = "\x1b]0;pwned\x07"\n'    # sets the terminal's title; a parse error
CONTROL = re.compile("[\x00-\x08\x0b-\x1f\x7f-\x9f]")


def run_on_terminal(*args):
    """The command with its standard output on a terminal: what that shows."""
    main, secondary = pty.openpty()
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    with subprocess.Popen([sys.executable, "-m", "morvelan", *map(str, args)], stdout=secondary,
                          stderr=subprocess.PIPE, env=env) as proc:
        os.close(secondary)
        shown = b""
        while True:
            try:
                chunk = os.read(main, 4096)
            except OSError:   # EIO: the command closed the terminal
                break
            if not chunk:
                break
            shown += chunk
        proc.wait(timeout=120)
    os.close(main)
    return proc.returncode, shown.replace(b"\r\n", b"\n")


# Messages that quote the file's text, a KEY, a VALUE or a path, and output to
# a terminal, show each control character as a visible symbol (␛ for ESC).
@pytest.mark.parametrize("files, args, status", [
    ({"evil.toml": EVIL}, ["check", "{evil.toml}"], 1),
    ({"evil.toml": EVIL}, ["get", "{evil.toml}", "title"], 1),
    ({}, ["get", "{folder}/\x1b[2J.toml", "title"], 1),
    ({"\x1b[2J\n.toml": "a = \n"}, ["set", "{\x1b[2J\n.toml}", "a", "1"], 1),
    ({"\x1b[2J.toml": "a  =  1\n"}, ["fmt", "--check", "{\x1b[2J.toml}"], 1),
    ({"doc.toml": "a = 1\n"}, ["get", "{doc.toml}", '"\x1b[2J"'], 2),
    ({"doc.toml": "a = 1\n"}, ["get", "{doc.toml}", '"\\u001b[2J"'], 1),
    ({"doc.toml": "a = 1\n"}, ["set", "{doc.toml}", "a", "'\x1b[2J\x9b'"], 1),
    ({"doc.toml": "a = 1\n"}, ["get", "{doc.toml}", "a", "\x1b[2J"], 2),
    ({"doc.toml": 's = "\\u001b[2J\\u0007\u009b"\n'}, ["get", "{doc.toml}", "s", "--raw"], "terminal"),
])
def test_no_control_character_reaches_the_terminal(tmp_path, files, args, status):
    for name, text in files.items():
        put(tmp_path, text.encode(), name)
    names = {name: str(tmp_path / name) for name in files} | {"folder": str(tmp_path)}
    for name, path in names.items():
        args = [a.replace("{" + name + "}", path) for a in args]
    if status == "terminal":
        status, shown = run_on_terminal(*args)
        assert status == 0
    else:
        proc = run(*args)
        assert proc.returncode == status
        shown = proc.stdout + proc.stderr
    text = shown.decode()
    assert text and CONTROL.search(text) is None, text
    assert "\u241b" in text or "\\x1b" in text or "\\u001B" in text, text
def test_the_console_script_names_main():
    target = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]["scripts"]["morvelan"]
    module, _, function = target.partition(":")
    assert (module, function) == ("morvelan.__main__", "main")
    assert callable(getattr(__import__(module, fromlist=[function]), function))
