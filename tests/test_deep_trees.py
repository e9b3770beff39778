"""Deeply nested documents on a thread with a small stack: parsed, copied,
edited, compared, written and freed without a crash. Each case runs in a
subprocess, so that a crash fails the test instead of the test run."""

import os
import subprocess
import sys

import pytest

pytestmark = pytest.mark.needs_module

# 79 inline tables, each entered through a 79-key dotted key: 6,320 nested
# tables in the deepest document the parser accepts.
KEYS = ".".join("k" * 79)
FRAGMENT = ("{" + KEYS + " = ") * 79 + "1" + "}" * 79
DOCUMENT = "x = " + FRAGMENT
HANDLE_LEVELS = 20000

# Runs one case on a thread with the given stack size; prints "ok" or what
# went wrong.
SCRIPT = r"""
import copy, sys, threading
import morvelan

KEYS = ".".join("k" * 79)
FRAGMENT = ("{" + KEYS + " = ") * 79 + "1" + "}" * 79
DOCUMENT = "x = " + FRAGMENT


def value_or_depth_error(obj):
    # .value may refuse a tree this deep, but only with a RecursionError
    # (the conversion's own, or the interpreter's from its recursion limit).
    try:
        obj.value
    except RecursionError as e:
        assert str(e).startswith(("maximum TOML nesting depth", "maximum recursion depth exceeded")), str(e)


def deepest(doc):
    # The inline table that holds the last key, reached through handles.
    h = doc["x"]
    for level in range(79):
        for _ in range(79 if level < 78 else 78):
            h = h["k"]
    return h


def document():
    doc = morvelan.loads(DOCUMENT)
    clone = copy.copy(doc)
    assert clone.as_toml() == DOCUMENT and morvelan.dumps(doc) == DOCUMENT
    assert clone == doc
    deepest(clone)["k"] = 2
    assert clone.as_toml() == DOCUMENT.replace("1", "2")
    assert clone != doc
    value_or_depth_error(doc)
    del doc, clone


def fragment():
    item = morvelan.Item.parse(FRAGMENT)
    assert item.as_toml() == FRAGMENT
    assert item == morvelan.Item.parse(FRAGMENT)
    doc = morvelan.loads("x = 1\n")
    try:
        doc["x"] = item  # deeper than a stored value may be: refused
    except RecursionError as e:
        assert str(e).startswith("maximum TOML nesting depth"), str(e)
    else:
        raise AssertionError("a value 6,320 levels deep was stored")
    assert doc.as_toml() == "x = 1\n"
    value_or_depth_error(item)
    del item, doc


def handles():
    # Inline tables nested through handles stop where the parser stops
    # reading: the 81st is refused, and what is written reads back.
    doc = morvelan.loads("x = {}\n")
    h = doc["x"]
    levels = 1
    try:
        while True:
            h["k"] = {}
            h = h["k"]
            levels += 1
    except ValueError as e:
        assert str(e).startswith("too deeply nested for TOML"), str(e)
    assert levels == 80, levels
    clone = copy.copy(doc)
    assert morvelan.loads(doc.as_toml()) == doc == clone


def parse():
    # The deepest arrays, inline tables and both: a document or RecursionError.
    for text in ("a = " + "[" * 80 + "]" * 80, "a = " + "{b = " * 80 + "1" + "}" * 80,
                 "a = " + "[{b = " * 40 + "1" + "}]" * 40):
        try:
            morvelan.loads(text)
            morvelan.Item.parse(text[4:])
        except RecursionError as e:
            assert str(e).startswith("maximum TOML nesting depth exceeded while parsing (line 1, column "), str(e)
            assert str(e).endswith("): not enough C stack left in this thread"), str(e)
            print("refused", end=" ")


def main():
    case, stack = sys.argv[1], int(sys.argv[2])
    outcome = []

    def run():
        try:
            globals()[case]()
            outcome.append("ok")
        except BaseException as e:
            outcome.append(f"{type(e).__name__}: {str(e)[:200]}")

    threading.stack_size(stack)
    thread = threading.Thread(target=run)
    thread.start()
    thread.join()
    print(outcome[0])


main()
"""


def run_case(case, stack_size, levels=HANDLE_LEVELS):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    return subprocess.run([sys.executable, "-c", SCRIPT, case, str(stack_size), str(levels)],
                          capture_output=True, text=True, env=env, timeout=600)


# Stack sizes: the parser recurses once per nested array or inline table (at
# most 80 levels, about 340 bytes each in a release build, 7 KB with the
# sanitizers); every other walk keeps its own stack. Sanitized builds (run
# with the sanitizer runtime preloaded) get four times as much.
SANITIZED = "libasan" in os.environ.get("LD_PRELOAD", "")


@pytest.mark.parametrize("case, stack_kb", [("document", 512), ("fragment", 512), ("handles", 512), ("parse", 256)])
def test_deep_tree_on_small_stack(case, stack_kb):
    proc = run_case(case, stack_kb * 1024 * (4 if SANITIZED else 1))
    assert proc.returncode == 0, f"exit status {proc.returncode}\n{proc.stderr[-2000:]}"
    assert proc.stdout.strip() == "ok", proc.stdout + proc.stderr[-2000:]


# Any stack Python accepts (32 KiB and up) parses the deepest documents or
# refuses them with RecursionError, never crashes; sanitized builds four times
# as much again.
@pytest.mark.parametrize("stack_kb", [32, 36, 40, 48, 64, 96, 128])
def test_parse_on_any_stack_is_a_result_or_recursion_error(stack_kb):
    proc = run_case("parse", stack_kb * 1024 * (4 if SANITIZED else 1))
    assert proc.returncode == 0, f"exit status {proc.returncode}\n{proc.stderr[-2000:]}"
    assert proc.stdout.strip() in ("ok", "refused refused refused ok", "refused refused ok", "refused ok"), proc.stdout
