#!/usr/bin/env python3
"""Reading and setting comments through handles: morvelan against tomlkit.

Usage (from the project root):

    python -m pip install -r bench/requirements.txt
    bash scripts/build.sh release
    PYTHONPATH=build/release python bench/comments.py [--quick] [--markdown FILE]

On ../shared/bench-data/pyproject.toml (a small built-in document when the file is
absent), for the entry `project.name`: reading the inline comment and the block comment
above the entry, and setting each. tomlkit has an
API for inline comments only (`item.trivia.comment` to read, `item.comment(text)` to
set); block comments have no counterpart there. Each statement runs in a compiled loop of
10,000 iterations; a time is the best loop of N divided by the iterations (see
bench/scalars.py).
"""

from __future__ import annotations

import argparse
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))
from peers import emit, fmt_ratio, machine_details, read_text, table, write_markdown  # noqa: E402
from scalars import ITERATIONS, fmt_ns, per_iteration  # noqa: E402

FALLBACK = '# about the project\n[project]\n# the name\nname = "demo"  # short\n'

# (operation, morvelan statement, tomlkit statement or None); h is the handle / item
OPERATIONS = [
    ("read inline comment", "h.inline_comment", "h.trivia.comment"),
    ("read block comment", "h.comment", None),
    ("set inline comment", 'h.inline_comment = "# set"', 'h.comment("set")'),
    ("set block comment", 'h.comment = "# set"', None),
]


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--quick", action="store_true", help="fewer repetitions (a rough check)")
    ap.add_argument("--markdown", metavar="FILE", help="also write the table as Markdown to FILE")
    opts = ap.parse_args()
    import morvelan as mv
    try:
        import tomlkit
    except ImportError as exc:
        print(f"note: tomlkit not importable ({exc}): only morvelan is timed", file=sys.stderr)
        tomlkit = None
    min_time, min_reps = (0.05, 1) if opts.quick else (0.3, 3)

    path = ROOT.parent / "shared" / "bench-data" / "pyproject.toml"
    text = read_text(path) if path.is_file() else FALLBACK
    docs = {"morvelan": mv.loads(text)}
    if tomlkit:
        docs["tomlkit"] = tomlkit.loads(text)

    out: list[str] = ["## Machine", ""] + machine_details(mv, {"tomlkit": tomlkit} if tomlkit else {})
    print("\n".join(out), flush=True)
    rows = []
    for op, ours, theirs in OPERATIONS:
        mine = per_iteration(ours, {"h": docs["morvelan"]["project"]["name"]}, min_time, min_reps)
        row = [op, fmt_ns(mine)]
        if tomlkit and theirs:
            other = per_iteration(theirs, {"h": docs["tomlkit"]["project"]["name"]}, min_time, min_reps)
            row += [fmt_ns(other), fmt_ratio(other / mine)]
        else:
            row += ["(no API)" if tomlkit else "-", "-"]
        rows.append(row)
    section = ["", f"## Comments of `project.name` ({ITERATIONS:,} iterations per loop)", ""]
    section += table(["operation", "morvelan", "tomlkit", "×"], rows, {1, 2, 3})
    emit(out, section)
    write_markdown(opts.markdown, out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
