"""Conditions that used to crash the interpreter or break it for other code:
threads with small C stacks, trees nested past the limit by copying
documents, and sub-interpreters. Each case runs in a child interpreter."""

import inspect
import subprocess
import sys
import textwrap

import pytest
from toml_cases import deep_text

pytestmark = pytest.mark.needs_module
morvelan = pytest.importorskip("morvelan")


def run_child(code, *args):
    """Runs `code` in a new interpreter (same environment); gives its output."""
    proc = subprocess.run([sys.executable, "-c", textwrap.dedent(code), *map(str, args)],
                          capture_output=True, text=True, timeout=600)
    assert proc.returncode == 0, proc.stderr
    return proc.stdout


def test_wrapping_documents_stops_at_the_nesting_limit():
    out = run_child("""
        import morvelan
        d = morvelan.Document()
        for i in range(50):
            x = d
            for _ in range(900):
                x = {"k": x}
            try:
                d = morvelan.Document(x)
            except (RecursionError, ValueError) as e:
                print(i, type(e).__name__, e)
                break
    """)
    # 900 tables in each other are converted, then refused: their headers
    # would have more keys than the parser reads.
    assert out == "0 ValueError too deeply nested for TOML: a table header or dotted key may have at most 80 keys\n"


STACK_CHILD = """
    import collections.abc, sys, threading, morvelan

    sys.setrecursionlimit(1_000_000)
    stack, case = int(sys.argv[1]), sys.argv[2]

    def nested(n, make):
        value = 1
        for _ in range(n):
            value = make(value)
        return value

    DEEP_TEXT

    def deep_doc(levels):
        return morvelan.loads(deep_text(levels - 1))

    class Pairs(collections.abc.Mapping):
        def __init__(self, value): self.value = value
        def __getitem__(self, key): return self.value
        def __len__(self): return 1
        def __iter__(self): return iter(["a"])

    doc = deep_doc(1000) if case in ("table to Python", "copy") else None
    # The deep inputs are made here and freed here, on the main thread: freeing
    # a value nested 100,000 deep takes the interpreter (3.13) more C stack
    # than the small threads have.
    deep = {
        "dicts to TOML": lambda: nested(100_000, lambda v: {"a": v}),
        "lists to TOML": lambda: {"a": nested(100_000, lambda v: [v])},
        "mappings to TOML": lambda: nested(100_000, Pairs),
    }.get(case, lambda: None)()
    cases = {
        "shallow": lambda: (morvelan.Document({"a": {"b": 1}}).value, morvelan.loads("a = {b = [1]}").value,
                            morvelan.dumps({"a": [{"b": [1]}]})),
        "dicts to TOML": lambda: morvelan.dumps(deep),
        "lists to TOML": lambda: morvelan.dumps(deep),
        "mappings to TOML": lambda: morvelan.dumps(deep),
        "table to Python": lambda: doc.value,
        "copy": lambda: morvelan.Document({"k": doc["a"]["a"]}),
    }

    def run():
        try:
            print(repr(cases[case]()))
        except RecursionError as e:
            print("RecursionError:", e)

    threading.stack_size(stack)
    thread = threading.Thread(target=run)
    thread.start()
    thread.join()
"""

STACK_CHILD = STACK_CHILD.replace("    DEEP_TEXT", textwrap.indent(inspect.getsource(deep_text), "    ").rstrip())


@pytest.mark.parametrize("stack", [256 << 10, 512 << 10, 1 << 20])
def test_nested_values_convert_in_threads_with_small_stacks(stack):
    out = run_child(STACK_CHILD, stack, "shallow")
    assert out == repr(({"a": {"b": 1}}, {"a": {"b": [1]}}, "[[a]]\nb = [1]\n")) + "\n"


# Sizes at which the stack, not the nesting limit, runs out in release and
# sanitized builds alike.
@pytest.mark.parametrize("stack, case, where", [
    (256 << 10, "dicts to TOML", "TOML"),
    (1 << 20, "dicts to TOML", "TOML"),
    (256 << 10, "lists to TOML", "TOML"),
    (256 << 10, "mappings to TOML", "TOML"),
    (128 << 10, "table to Python", "Python"),
    (256 << 10, "copy", "TOML"),
])
def test_running_out_of_stack_is_a_recursion_error(stack, case, where):
    out = run_child(STACK_CHILD, stack, case)
    assert out == (f"RecursionError: maximum TOML nesting depth exceeded while converting to {where}: "
                   "not enough C stack left in this thread\n")


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
