"""The README demo, end to end: run examples/demo.py on the shipped sample
and check that the edit touched only the edited lines and that the result
reads back (with tomllib) to the expected values."""

import difflib
import os
import subprocess
import sys
import tomllib
from pathlib import Path

import pytest

pytestmark = pytest.mark.needs_module
pytest.importorskip("morvelan")

ROOT = Path(__file__).resolve().parent.parent
DEMO = ROOT / "examples" / "demo.py"
SAMPLE = ROOT / "examples" / "pyproject.toml"

# The lines the demo may change, as (removed, added).
REMOVED = [
    'version         = "1.4.2"        # bumped by the release script',
    '    "requests>=2.31",  # only for the legacy fetcher',
    'requests = ">=2.31"   # only for the legacy fetcher',
    "width  = 1920",
    "height = 1080",
    "colors = [0xFF8800, 0x0088FF]",
]
ADDED = [
    'version         = "1.4.3"        # bumped by the release script',
    '    "rich>=13.7",',
    'rich = ">=13.7"',
    "width = 3840",
    "height = 2160",
    "colors = [0xFF8800, 0x1E90FF]",
    "antialias = true",
]


def changed_lines(before, after):
    removed, added = [], []
    for line in difflib.ndiff(before.splitlines(), after.splitlines()):
        if line.startswith("- "):
            removed.append(line[2:])
        elif line.startswith("+ "):
            added.append(line[2:])
    return removed, added


@pytest.fixture(scope="module")
def demo_run(tmp_path_factory):
    tmp = tmp_path_factory.mktemp("demo")
    source = tmp / "pyproject.toml"
    source.write_bytes(SAMPLE.read_bytes())
    output = tmp / "edited.toml"
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    proc = subprocess.run([sys.executable, str(DEMO), str(source), "-o", str(output)],
                          capture_output=True, text=True, env=env, timeout=120)
    assert proc.returncode == 0, proc.stderr
    return source, output, proc.stdout


def test_input_left_alone(demo_run):
    source, _, _ = demo_run
    assert source.read_bytes() == SAMPLE.read_bytes()


def test_only_edited_lines_differ(demo_run):
    source, output, _ = demo_run
    removed, added = changed_lines(source.read_text(encoding="utf-8"), output.read_text(encoding="utf-8"))
    assert removed == REMOVED
    assert added == ADDED


def test_printed_diff_matches_output(demo_run):
    source, output, stdout = demo_run
    diff = stdout[stdout.index("--- "):]
    expected = "".join(difflib.unified_diff(
        source.read_text(encoding="utf-8").splitlines(keepends=True),
        output.read_text(encoding="utf-8").splitlines(keepends=True),
        fromfile=str(source), tofile=f"{source} (edited)"))
    assert diff == expected
    assert "version: 1.4.2 -> 1.4.3" in stdout
    assert "dependencies: numpy, pillow, requests" in stdout


def test_output_values(demo_run):
    source, output, _ = demo_run
    want = tomllib.loads(source.read_text(encoding="utf-8"))
    want["project"]["version"] = "1.4.3"
    want["project"]["dependencies"] = ["numpy>=1.26", "pillow>=10.0", "rich>=13.7"]
    deps = want["tool"]["poetry"]["dependencies"]
    del deps["requests"]
    deps["rich"] = ">=13.7"
    want["tool"]["skyline"]["render"] = {"width": 3840, "height": 2160, "colors": [0xFF8800, 0x1E90FF],
                                         "antialias": True}
    got = tomllib.loads(output.read_text(encoding="utf-8"))
    assert got == want
    assert list(got["tool"]["poetry"]["dependencies"]) == ["numpy", "pillow", "rich"]
