#!/usr/bin/env python3
"""Write a large TOML document shaped like a Python lock file, for benchmarks.

The output is deterministic (fixed seed, standard library only): thousands of
``[[package]]`` tables with metadata strings, a ``files`` array of inline
tables one per line, ``[package.dependencies]`` with plain and inline-table
requirements, ``[package.extras]`` arrays, comments and blank lines, and a
closing ``[metadata]`` table with ``[metadata.files]``.

Usage: python bench/gen_lockfile.py [OUTPUT]   (default build/bench/lockfile.toml)
"""

from __future__ import annotations

import random
import sys
from pathlib import Path

SEED = 20240601
PACKAGES = 3000
MIN_BYTES = 5 * 1024 * 1024

SYLLABLES = ["py", "lib", "async", "io", "web", "data", "toml", "json", "http", "core", "test", "util",
             "fast", "cache", "lock", "path", "net", "crypt", "log", "time", "zip", "sql", "graph", "text"]
WORDS = ["a", "fast", "simple", "library", "for", "parsing", "and", "writing", "modern", "Python", "tools",
         "with", "support", "of", "asyncio", "the", "HTTP", "client", "framework", "type", "hints", "small",
         "pure", "extension", "bindings", "to", "reliable", "toolkit", "cross-platform", "utilities"]
PLATFORMS = ["py3-none-any", "cp311-cp311-manylinux_2_17_x86_64.manylinux2014_x86_64",
             "cp311-cp311-macosx_11_0_arm64", "cp312-cp312-manylinux_2_17_aarch64.manylinux2014_aarch64",
             "cp312-cp312-win_amd64", "cp313-cp313-musllinux_1_2_x86_64", "cp310-cp310-win32",
             "cp39-cp39-macosx_10_9_x86_64", "pp310-pypy310_pp73-manylinux_2_17_x86_64.manylinux2014_x86_64"]
MARKERS = ['python_version < \\"3.11\\"', 'sys_platform == \\"win32\\"', 'os_name == \\"nt\\"',
           'platform_python_implementation != \\"PyPy\\"', 'extra == \\"docs\\"',
           'python_version >= \\"3.12\\" and sys_platform == \\"linux\\"']
GROUPS = ['["main"]', '["main", "test"]', '["dev"]', '["docs"]', '["main", "dev"]']
EXTRAS = ["docs", "test", "testing", "dev", "lint", "speedups", "socks", "all", "typing", "cli"]


def package_name(rng: random.Random, used: set[str]) -> str:
    while True:
        parts = rng.sample(SYLLABLES, rng.randint(1, 3))
        name = rng.choice(["-", "_", ""]).join(parts)
        if rng.random() < 0.3:
            name += str(rng.randint(2, 9))
        if name not in used:
            used.add(name)
            return name


def version(rng: random.Random) -> str:
    return f"{rng.randint(0, 30)}.{rng.randint(0, 40)}.{rng.randint(0, 20)}"


def sha256(rng: random.Random) -> str:
    return f"sha256:{rng.getrandbits(256):064x}"


def requirement(rng: random.Random) -> str:
    op = rng.choice([">=", "==", "~=", ">=", "<"])
    spec = f"{op}{version(rng)}"
    if rng.random() < 0.3:
        spec += f",<{rng.randint(1, 40)}.0"
    return spec


def description(rng: random.Random) -> str:
    text = " ".join(rng.choice(WORDS) for _ in range(rng.randint(3, 14)))
    if rng.random() < 0.05:
        text += ' (the \\"next\\" generation)'
    return text[0].upper() + text[1:]


def write_package(out: list[str], rng: random.Random, name: str, names: list[str]) -> list[tuple[str, str]]:
    ver = version(rng)
    out.append("[[package]]")
    out.append(f'name = "{name}"')
    out.append(f'version = "{ver}"')
    out.append(f'description = "{description(rng)}"')
    out.append(f"optional = {'true' if rng.random() < 0.1 else 'false'}")
    out.append(f'python-versions = ">=3.{rng.randint(7, 11)}"')
    out.append(f"groups = {rng.choice(GROUPS)}")
    if rng.random() < 0.15:
        out.append(f'markers = "{rng.choice(MARKERS)}"')
    dist = name.replace("-", "_")
    files = [(f"{dist}-{ver}-{rng.choice(PLATFORMS)}.whl", sha256(rng)) for _ in range(rng.randint(1, 12))]
    files.append((f"{dist}-{ver}.tar.gz", sha256(rng)))
    out.append("files = [")
    for file, digest in files:
        out.append(f'    {{file = "{file}", hash = "{digest}"}},')
    out.append("]")
    out.append("")

    if rng.random() < 0.7:
        out.append("[package.dependencies]")
        for dep in sorted(set(rng.sample(names, rng.randint(1, 6)))):
            key = dep if rng.random() < 0.9 else f'"{dep}"'
            roll = rng.random()
            if roll < 0.6:
                out.append(f'{key} = "{requirement(rng)}"')
            elif roll < 0.8:
                out.append(f'{key} = {{version = "{requirement(rng)}", optional = true}}')
            else:
                out.append(f'{key} = {{version = "{requirement(rng)}", markers = "{rng.choice(MARKERS)}"}}')
        out.append("")

    if rng.random() < 0.5:
        out.append("[package.extras]")
        for extra in sorted(rng.sample(EXTRAS, rng.randint(1, 4))):
            reqs = ", ".join(f'"{dep} ({requirement(rng)})"' for dep in rng.sample(names, rng.randint(1, 5)))
            out.append(f"{extra} = [{reqs}]")
        out.append("")

    if rng.random() < 0.02:
        out.append("[package.source]")
        out.append('type = "legacy"')
        out.append(f'url = "https://mirror.example.org/simple/{name}"')
        out.append('reference = "mirror"')
        out.append("")
    return files


def generate() -> str:
    rng = random.Random(SEED)
    used: set[str] = set()
    names = sorted(package_name(rng, used) for _ in range(PACKAGES))
    out = ["# This file is automatically @generated by a benchmark script and should not be changed by hand.", ""]
    all_files = []
    for i, name in enumerate(names):
        if i % 250 == 0:
            out.append(f"# ---- packages {i + 1} to {min(i + 250, len(names))} ----")
            out.append("")
        all_files.append((name, write_package(out, rng, name, names)))

    out.append("[metadata]")
    out.append('lock-version = "2.1"')
    out.append('python-versions = ">=3.11,<4.0"')
    out.append(f'content-hash = "{rng.getrandbits(256):064x}"')
    out.append("")
    out.append("[metadata.files]")
    for name, files in all_files[::3]:
        key = name if "." not in name else f'"{name}"'
        out.append(f"{key} = [")
        for file, digest in files:
            out.append(f'    {{file = "{file}", hash = "{digest}"}},')
        out.append("]")
    out.append("")
    return "\n".join(out)


def main(argv: list[str]) -> int:
    target = Path(argv[1] if len(argv) > 1 else "build/bench/lockfile.toml")
    text = generate()
    size = len(text.encode("utf-8"))
    if size < MIN_BYTES:
        print(f"generated only {size} bytes", file=sys.stderr)
        return 1
    target.parent.mkdir(parents=True, exist_ok=True)
    target.write_text(text, encoding="utf-8", newline="\n")
    print(f"wrote {target} ({size} bytes)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
