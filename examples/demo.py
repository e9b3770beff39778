#!/usr/bin/env python3
"""Edit a pyproject.toml without disturbing it.

Reads a few values, bumps the patch version, adds one dependency and removes
another (in the [project] dependencies array and in the poetry table),
replaces the [tool.skyline.render] table with new settings, and prints
the unified diff between the input and the result: only the edited lines
differ, every comment, alignment and blank line elsewhere stays as it was.

    python examples/demo.py [PATH] [-o OUTPUT]

PATH defaults to examples/pyproject.toml next to this script.
"""

from __future__ import annotations

import argparse
import difflib
import sys
from pathlib import Path

import morvelan

HERE = Path(__file__).resolve().parent

NEW_DEPENDENCY = ("rich", ">=13.7")
DROPPED_DEPENDENCY = "requests"
NEW_REQUIREMENT = "rich>=13.7"
DROPPED_REQUIREMENT = "requests>=2.31"
# New values keep a spelling of their own when given as a parsed fragment.
NEW_RENDER: dict[str, int | bool | list[morvelan.Item]] = {
    "width": 3840,
    "height": 2160,
    "colors": [morvelan.Item.parse("0xFF8800"), morvelan.Item.parse("0x1E90FF")],
    "antialias": True,
}


# Indexing gives a DictItem, ListItem or ScalarItem by the kind of the value;
# these narrow it to the kind the edit expects.
def table(parent: morvelan.Document | morvelan.DictItem, key: str) -> morvelan.DictItem:
    found = parent[key]
    if not isinstance(found, morvelan.DictItem):
        raise TypeError(f"{key} is not a table")
    return found


def array(parent: morvelan.DictItem, key: str) -> morvelan.ListItem:
    found = parent[key]
    if not isinstance(found, morvelan.ListItem):
        raise TypeError(f"{key} is not an array")
    return found


def string(parent: morvelan.DictItem, key: str) -> str:
    value = parent[key].value
    if not isinstance(value, str):
        raise TypeError(f"{key} is not a string")
    return value


def bump_patch(version: str) -> str:
    major, minor, patch = version.split(".")
    return f"{major}.{minor}.{int(patch) + 1}"


def edit(text: str) -> tuple[str, list[str]]:
    """The edited text, and a short report of what was read and changed."""
    doc = morvelan.loads(text)
    report = []

    project = table(doc, "project")
    report.append(f"project: {project['name']} {project['version']}")

    old = string(project, "version")
    project["version"] = bump_patch(old)
    report.append(f"version: {old} -> {project['version']}")

    requirements = array(project, "dependencies")
    requirements.remove(DROPPED_REQUIREMENT)   # its comment goes with it
    requirements.append(NEW_REQUIREMENT)       # after the last one, before the commented-out line
    report.append("requirements: " + ", ".join(str(r) for r in requirements))

    deps = table(table(table(doc, "tool"), "poetry"), "dependencies")
    report.append("dependencies: " + ", ".join(deps.keys()))
    name, requirement = NEW_DEPENDENCY
    deps[name] = requirement
    removed = deps.pop(DROPPED_DEPENDENCY, None)
    report.append(f"added {name} {requirement}; removed {DROPPED_DEPENDENCY} {removed}")

    skyline = table(table(doc, "tool"), "skyline")
    before = table(skyline, "render").value
    skyline["render"] = NEW_RENDER
    after = table(skyline, "render")
    report.append(f"render: {before['width']}x{before['height']} -> {after['width']}x{after['height']}")
    return doc.as_toml(), report


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    ap.add_argument("path", nargs="?", default=str(HERE / "pyproject.toml"))
    ap.add_argument("-o", "--output", help="also write the edited document to this file")
    opts = ap.parse_args(argv)

    source = Path(opts.path).read_bytes().decode("utf-8")
    edited, report = edit(source)
    print("\n".join(report))
    print()
    sys.stdout.writelines(difflib.unified_diff(source.splitlines(keepends=True), edited.splitlines(keepends=True),
                                               fromfile=opts.path, tofile=opts.path + " (edited)"))
    if opts.output:
        Path(opts.output).write_bytes(edited.encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
