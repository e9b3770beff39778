#!/usr/bin/env python3
"""Memory of very large inputs: a one-line array of small integers.

Usage (from the project root):

    bash scripts/build.sh release
    PYTHONPATH=build/release python bench/large.py [--sizes 10000000,50000000]

For each size N the input is `a = [1,1,...,1]` with N elements (2 bytes each). Every
measure runs in a fresh process, which reads the text first and then reports the growth of
its resident memory: "held" is the growth that stays after `loads(t)` returns (the
document), "peak" the growth of the process's peak while parsing; both in MB and in bytes
per element. tomllib (`tomllib.loads(t)`, which builds the list) is measured the same way.

"touched" columns: what the document holds after a user reads one element through a handle
(`h = d["a"]; h[5]`) and then appends one (`h.append(1)`), in bytes per element of the array,
measured the same way (for tomllib: the list's own `l[5]` and `l.append(1)`).
"""

from __future__ import annotations

import argparse
import json
import subprocess
import sys
import tempfile
from pathlib import Path

CHILD = r"""
import json, resource, sys
def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * resource.getpagesize()
def peak():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
text = open(sys.argv[2]).read()
base, base_peak = rss(), peak()
if sys.argv[1] == "morvelan":
    import morvelan
    result = morvelan.loads(text)
else:
    import tomllib
    result = tomllib.loads(text)
out = {"held": rss() - base, "peak": max(peak() - max(base, base_peak), rss() - base)}
h = result["a"]
x = h[5]
out["read"] = rss() - base
h.append(1)
out["appended"] = rss() - base
print(json.dumps(out))
"""


def measure(library: str, path: Path) -> dict[str, int]:
    out = subprocess.run([sys.executable, "-c", CHILD, library, str(path)], check=True,
                         capture_output=True, text=True).stdout
    return json.loads(out)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sizes", default="10000000,50000000", help="element counts, comma-separated")
    args = parser.parse_args()
    print(f"{'input':<34} {'library':<9} {'held MB':>9} {'B/elem':>7} {'peak MB':>9} {'B/elem':>7}"
          f" {'h[5] B/el':>9} {'+append':>8}")
    with tempfile.TemporaryDirectory() as tmp:
        for n in (int(s) for s in args.sizes.split(",")):
            path = Path(tmp) / f"array-{n}.toml"
            path.write_text("a = [" + "1," * (n - 1) + "1]\n")
            label = f"array of {n:,} ({path.stat().st_size / 1e6:.0f} MB)"
            for library in ("morvelan", "tomllib"):
                m = measure(library, path)
                print(f"{label:<34} {library:<9} {m['held'] / 2**20:>9.0f} {m['held'] / n:>7.1f} "
                      f"{m['peak'] / 2**20:>9.0f} {m['peak'] / n:>7.1f} "
                      f"{m['read'] / n:>9.1f} {m['appended'] / n:>8.1f}")
            path.unlink()
    return 0


if __name__ == "__main__":
    sys.exit(main())
