"""Conditions that used to crash the interpreter or break it for other code.
Each case runs in a child interpreter."""

import subprocess
import sys
import textwrap

import pytest

pytestmark = pytest.mark.needs_module
morvelan = pytest.importorskip("morvelan")


def run_child(code, *args):
    """Runs `code` in a new interpreter (same environment); gives its output."""
    proc = subprocess.run([sys.executable, "-c", textwrap.dedent(code), *map(str, args)],
                          capture_output=True, text=True, timeout=600)
    assert proc.returncode == 0, proc.stderr
    return proc.stdout


SUBINTERPRETER_CHILD = """
    import collections.abc, sys
    try:
        import _xxsubinterpreters as interpreters
    except ImportError:
        import _interpreters as interpreters

    class Pairs(collections.abc.Mapping):
        def __getitem__(self, key): return 1
        def __len__(self): return 1
        def __iter__(self): return iter(["x"])

    if sys.argv[1] == "main first":
        import morvelan
        morvelan.Document({"m": Pairs()})
    if sys.version_info >= (3, 13):
        interp = interpreters.create("legacy")
    elif sys.version_info >= (3, 12):
        interp = interpreters.create(isolated=False)
    else:
        interp = interpreters.create()
    interpreters.run_string(interp, '''if True:
        import os
        try:
            import morvelan
        except ImportError as e:
            os.write(1, f"{type(e).__name__}: {e}\\\\n".encode())
        else:
            os.write(1, b"imported\\\\n")
    ''')
    interpreters.destroy(interp)
    import morvelan
    print(morvelan.Document({"m": Pairs()}).value)
"""


@pytest.mark.parametrize("order", ["main first", "sub-interpreter first"])
def test_sub_interpreters_are_refused_and_leave_the_main_one_alone(order):
    try:
        import _xxsubinterpreters  # noqa: F401
    except ImportError:
        pytest.importorskip("_interpreters", reason="no sub-interpreter module in this Python")
    out = run_child(SUBINTERPRETER_CHILD, order)
    assert out == "ImportError: morvelan does not support sub-interpreters\n{'m': {'x': 1}}\n"
