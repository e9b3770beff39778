#!/usr/bin/env python3
"""`get` and `set` of the command-line editor done with tomlkit, for bench/cli.py:

    python bench/cli_tomlkit.py get FILE KEY
    python bench/cli_tomlkit.py set FILE KEY VALUE

KEY: keys and indices, `package[10].version` (no quoted keys: the benchmark needs
none). VALUE is a TOML value, parsed by tomlkit with its spelling kept. The file is
read and replaced as morvelan does it: bytes in, a temporary file in the same folder,
flushed, synced, given the original's mode and renamed over it.
"""

from __future__ import annotations

import os
import re
import stat
import sys
import tempfile
from typing import Any

import tomlkit


def steps(key: str) -> list[str | int]:
    out: list[str | int] = []
    for name, index in re.findall(r"([A-Za-z0-9_-]+)|\[(-?\d+)\]", key):
        out.append(name if name else int(index))
    return out


def write_atomic(path: str, data: bytes) -> None:
    mode = stat.S_IMODE(os.stat(path).st_mode)
    fd, temporary = tempfile.mkstemp(dir=os.path.dirname(os.path.abspath(path)))
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
            f.flush()
            os.fchmod(f.fileno(), mode)
            os.fsync(f.fileno())
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise


def main(argv: list[str]) -> int:
    command, path, key = argv[:3]
    with open(path, "rb") as f:
        doc = tomlkit.parse(f.read().decode("utf-8"))
    *parents, last = steps(key)
    node: Any = doc
    for step in parents:
        node = node[step]
    if command == "get":
        print(node[last].as_string().strip())
        return 0
    node[last] = tomlkit.parse("v = " + argv[3])["v"]
    write_atomic(path, tomlkit.dumps(doc).encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
