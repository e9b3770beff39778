#!/usr/bin/env python3
"""Writes the extra seed inputs of the parser fuzz target into tests/fuzz/seeds/ (run from
anywhere; .ci/run copies them beside the toml-test seeds). Each stays a few KB, well under
the fuzzer's -max_len=65536:

  takeover.toml          `[x{i}.y]` then `[x{i}]` for 150 values of i: headers taking over the
                         tables deeper headers made (entries removed from the front and appended)
  many_keys.toml         300 keys of one table, plain, dotted and quoted, and a sub-table
  long_line_error.toml   a 2,000-byte array line with an error near its end
  long_line_utf8.toml    an unterminated string of 700 three-byte characters
"""

from pathlib import Path

OUT = Path(__file__).resolve().parent / "seeds"


def main() -> None:
    OUT.mkdir(exist_ok=True)
    seeds = {
        "takeover.toml": "".join(f"[x{i}.y]\nv = {i}\n" for i in range(150))
        + "".join(f"[x{i}]\nw = {i}\n" for i in range(150)),
        "many_keys.toml": "".join(f"k{i} = {i}\n" for i in range(200))
        + "".join(f"d.k{i} = 'v{i}'\n" for i in range(60))
        + "".join(f'"q {i}" = {i}.5\n' for i in range(40))
        + "[t]\n" + "".join(f"k{i} = true\n" for i in range(20)),
        "long_line_error.toml": "x = 1\na = [" + "1," * 1000 + "x]\nb = 2\n",
        "long_line_utf8.toml": 'a = "' + "\u20ac" * 700 + "\n",
    }
    for name, text in seeds.items():
        (OUT / name).write_text(text, encoding="utf-8", newline="")
        print(f"{name}: {len(text.encode('utf-8')):,} bytes")


if __name__ == "__main__":
    main()
