"""The examples of README.md and docs/guide.md, run as written.

Conventions in the Markdown (an HTML comment on the line before a fence):

- ```python blocks run in order, in one namespace per Markdown file, with the
  working folder set to a temporary folder of that file. A block whose first
  line starts with ">>> " is a doctest: its shown output is compared. Other
  blocks are executed as scripts; their `assert` statements are the checks.
- ```console blocks hold "$ COMMAND" lines, each followed by the output it
  prints (standard output and standard error together). Each block runs in a
  fresh temporary folder holding the files defined above it, through bash, with
  `python` standing for the interpreter that runs the tests.
- `<!-- file: NAME -->` before a ```toml block (or a ```text block, for a file
  that is not TOML) makes the block's text the file NAME of those folders;
  `<!-- file: NAME from PATH -->` (no block) copies the project's file PATH
  there instead.
- `<!-- skip -->` before a block leaves it out.

Blocks in other languages (```sh, ```toml without a file marker) are not run.
"""

import doctest
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from toml_cases import ROOT

pytestmark = pytest.mark.needs_module
pytest.importorskip("morvelan")

DOCS = [ROOT / "README.md", ROOT / "docs" / "guide.md"]
FILE_LANGS = ("toml", "text")  # the blocks a file marker may stand before

_FENCE = re.compile(r"^```(\w*)\s*$")
_MARK = re.compile(r"^<!--\s*(skip|file:\s*(\S+)(?:\s+from\s+(\S+))?)\s*-->\s*$")


class Block:
    def __init__(self, doc, line, lang, text, mark):
        self.doc, self.line, self.lang, self.text, self.mark = doc, line, lang, text, mark

    @property
    def id(self):
        return f"{self.doc.name}:{self.line}"


def blocks(doc):
    """The fenced blocks of a Markdown file, with the marker line above each.
    A `file: NAME from PATH` marker stands alone, as a block without text."""
    lines = doc.read_text(encoding="utf-8").splitlines()
    found = []
    i = 0
    while i < len(lines):
        mark = _MARK.match(lines[i])
        if mark and mark.group(3):
            found.append(Block(doc, i + 1, "copy", "", mark))
        fence = _FENCE.match(lines[i])
        if fence is None:
            i += 1
            continue
        start = i
        i += 1
        while i < len(lines) and lines[i] != "```":
            i += 1
        previous = _MARK.match(lines[start - 1]) if start > 0 else None
        found.append(Block(doc, start + 1, fence.group(1), "\n".join(lines[start + 1 : i]) + "\n", previous))
        i += 1
    return found


def files_before(block):
    """The files that the markers above a block define, as name -> bytes."""
    files = {}
    for other in blocks(block.doc):
        if other.line >= block.line:
            break
        mark = other.mark
        if mark is None or not mark.group(2):
            continue
        if mark.group(3):
            files[mark.group(2)] = (ROOT / mark.group(3)).read_bytes()
        elif other.lang in FILE_LANGS:
            files[mark.group(2)] = other.text.encode("utf-8")
    return files


def runnable(lang):
    return [b for doc in DOCS if doc.is_file() for b in blocks(doc)
            if b.lang == lang and not (b.mark and b.mark.group(1) == "skip")]


PYTHON = runnable("python")
CONSOLE = runnable("console")


class Session:
    """The namespace and folder shared by the python blocks of one file; the
    blocks before the one asked for run first, once, so that a single block can
    be run on its own."""

    def __init__(self, folder):
        self.folder = folder
        self.namespace = {"__name__": "__docs__"}
        self.done = []

    def run_through(self, block):
        todo = [b for b in PYTHON if b.doc == block.doc and b.line <= block.line and b.line not in self.done]
        for b in todo:
            for name, data in files_before(b).items():
                if not (self.folder / name).exists():
                    (self.folder / name).write_bytes(data)
            self.done.append(b.line)
            failure = run_python(b, self.namespace)
            if failure:
                if b is not block:
                    failure = f"an earlier block, {b.id}, failed:\n{failure}"
                return failure
        return None


def run_python(block, namespace):
    """Run one block; the failure's report, or None."""
    if block.text.lstrip().startswith(">>> "):
        test = doctest.DocTestParser().get_doctest(block.text, namespace, block.id, str(block.doc), block.line)
        report = []
        runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
        runner.run(test, out=report.append, clear_globs=False)
        namespace.update(test.globs)  # the test ran on a copy of the namespace
        return "".join(report) if runner.failures else None
    # Pad so that a traceback names the Markdown line.
    code = compile("\n" * block.line + block.text, str(block.doc), "exec")
    exec(code, namespace)
    return None


@pytest.fixture(scope="module")
def sessions(tmp_path_factory):
    made = {}

    def get(doc):
        if doc not in made:
            made[doc] = Session(tmp_path_factory.mktemp(doc.stem))
        return made[doc]

    return get


@pytest.mark.parametrize("block", PYTHON, ids=[b.id for b in PYTHON])
def test_python_example(block, sessions, monkeypatch):
    session = sessions(block.doc)
    monkeypatch.chdir(session.folder)
    failure = session.run_through(block)
    assert failure is None, failure


def commands(text):
    """The (command, expected output) pairs of a console block."""
    pairs = []
    for line in text.splitlines(keepends=True):
        if line.startswith("$ "):
            pairs.append([line[2:].rstrip("\n"), ""])
        else:
            assert pairs, f"output before the first command: {line!r}"
            pairs[-1][1] += line
    return pairs


@pytest.mark.parametrize("block", CONSOLE, ids=[b.id for b in CONSOLE])
def test_console_example(block, tmp_path):
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    (bin_dir / "python").symlink_to(sys.executable)
    work = tmp_path / "work"
    work.mkdir()
    for name, data in files_before(block).items():
        (work / name).write_bytes(data)
    env = dict(os.environ)
    env["PATH"] = f"{bin_dir}{os.pathsep}{env.get('PATH', '')}"
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    env["COLUMNS"] = "80"
    for command, expected in commands(block.text):
        run = subprocess.run(["bash", "-c", command], cwd=work, env=env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
        shown = run.stdout.decode("utf-8")
        assert shown == expected, f"$ {command}\n--- printed:\n{shown}--- the guide shows:\n{expected}"


def test_markers_name_blocks():
    """A file marker stands before a toml or text block or names a project file
    that exists: a misplaced one would define no file."""
    for doc in DOCS:
        for block in blocks(doc):
            mark = block.mark
            if mark is None or block.lang == "copy":
                continue
            if mark.group(1) != "skip":
                assert block.lang in FILE_LANGS or mark.group(3), f"{block.id}: file marker before a {block.lang} block"
    copies = [b for doc in DOCS for b in blocks(doc) if b.lang == "copy"]
    for block in copies:
        assert (ROOT / block.mark.group(3)).is_file(), f"{block.id}: no file {block.mark.group(3)}"
