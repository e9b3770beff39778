"""The type stub (morvelan/__init__.pyi) of the imported package: mypy
--strict accepts the typed usage, the demo and the Python examples of the
README and the guide, reports exactly the marked mistakes of
tests/typing/misuse.py, and stubtest finds the stub in agreement with the
module."""

import doctest
import json
import re
import runpy
import shutil
import subprocess
import sys
from pathlib import Path

import pytest
from test_docs import DOCS, PYTHON

pytestmark = pytest.mark.needs_module
pytest.importorskip("morvelan")
pytest.importorskip("mypy", reason="mypy is not installed (scripts/setup.sh installs it)")

ROOT = Path(__file__).resolve().parent.parent
TYPING = ROOT / "tests" / "typing"
USAGE = TYPING / "usage.py"
MISUSE = TYPING / "misuse.py"
DEMO = ROOT / "examples" / "demo.py"


@pytest.fixture(scope="module")
def mypy(tmp_path_factory):
    """Runs mypy (or one of its tools, such as mypy.stubtest) under this
    interpreter, with a cache of its own: mypy finds the package, stubs included,
    on the interpreter's path, as it finds an installed one."""
    cache = tmp_path_factory.mktemp("mypy-cache")

    def run(module, *args):
        options = ["--cache-dir", str(cache)] if module == "mypy" else []
        return subprocess.run([sys.executable, "-m", module, *options, *args], cwd=ROOT, capture_output=True,
                              text=True)
    return run


def test_typed_usage_passes_strict(mypy):
    done = mypy("mypy", "--strict", str(USAGE), str(DEMO))
    assert done.returncode == 0, done.stdout + done.stderr
    runpy.run_path(str(USAGE), run_name="__main__")   # and what it does works


def examples_as_modules(folder):
    """The Python examples of each Markdown file, as one module per file (the
    examples of a file share one namespace), each statement on the line it has
    in the Markdown so that a report names that line. Doctests give their
    statements, without their output."""
    modules = []
    for doc in DOCS:
        lines = doc.read_text(encoding="utf-8").splitlines()
        code = [""] * len(lines)
        for block in (b for b in PYTHON if b.doc == doc):
            first = block.line  # the index of the line after the fence
            if block.text.lstrip().startswith(">>> "):
                for example in doctest.DocTestParser().get_examples(block.text):
                    for i, line in enumerate(example.source.splitlines()):
                        code[first + example.lineno + i] = line
            else:
                code[first:first + block.text.count("\n")] = block.text.splitlines()
        module = folder / f"{doc.stem.lower()}_examples.py"
        module.write_text("\n".join(code) + "\n", encoding="utf-8")
        modules.append(module)
    return modules


def test_doc_examples_pass_strict(mypy, tmp_path):
    modules = examples_as_modules(tmp_path)
    done = mypy("mypy", "--strict", "--no-pretty", *map(str, modules))
    assert done.returncode == 0, done.stdout + done.stderr


@pytest.mark.skipif(shutil.which("pyright") is None, reason="pyright is not installed (scripts/setup.sh installs it)")
def test_doc_examples_pass_pyright(tmp_path):
    modules = examples_as_modules(tmp_path)
    import morvelan
    package_root = str(Path(morvelan.__file__).resolve().parent.parent)
    (tmp_path / "pyrightconfig.json").write_text(json.dumps({"typeCheckingMode": "standard", "extraPaths": [package_root]}))
    done = subprocess.run(["pyright", "--pythonpath", sys.executable, *map(str, modules)], cwd=tmp_path,
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stdout + done.stderr


def expected_errors():
    expected = set()
    for number, line in enumerate(MISUSE.read_text().splitlines(), 1):
        if m := re.search(r"# E: ([\w, -]+)$", line):
            expected |= {(number, code.strip()) for code in m.group(1).split(",")}
    return expected


def test_misuse_is_reported(mypy):
    expected = expected_errors()
    assert len(expected) > 20
    done = mypy("mypy", "--strict", "--no-pretty", "--show-error-codes", str(MISUSE))
    reported = set()
    for line in done.stdout.splitlines():
        if m := re.match(r".*misuse\.py:(\d+): error: .*\[([\w-]+)\]$", line):
            reported.add((int(m.group(1)), m.group(2)))
        else:
            assert ": note: " in line or line.startswith("Found "), line
    assert done.returncode == 1
    # (reported but not marked, marked but not reported)
    assert (sorted(reported - expected), sorted(expected - reported)) == ([], [])


def test_stubs_agree_with_the_module(mypy):
    done = mypy("mypy.stubtest", "morvelan", "--allowlist", str(TYPING / "stubtest_allowlist.txt"))
    assert done.returncode == 0, done.stdout + done.stderr
    assert done.stdout.startswith("Success: no issues found"), done.stdout
