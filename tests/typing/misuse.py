"""Mistakes that the stubs must let mypy find. Every line that mypy has to
report ends in a comment "E: CODE" naming the error code (several codes are
separated by commas); tests/test_typing.py checks that mypy reports exactly
these lines and codes, and nothing else. Never run."""

from __future__ import annotations

import io
from datetime import timezone

import morvelan
from morvelan import DictItem, Document, ListItem, ScalarItem


def mistakes(doc: Document, table: DictItem, array: ListItem, scalar: ScalarItem) -> None:
    doc.as_tomll()  # E: attr-defined
    doc[1]  # E: index
    doc[1] = "x"  # E: index
    table[0] = 1  # E: index
    del table[0]  # E: arg-type
    array["0"]  # E: call-overload
    port: int = scalar.value  # E: assignment
    doc.value = {}  # E: misc
    table.value = {}  # E: misc
    scalar.value = 2  # E: misc
    table.kind = "table"  # E: misc
    if array.kind == "table":  # E: comparison-overlap
        pass
    morvelan.TOMLDecodeError("bad")  # E: call-arg
    doc["x"] = None  # E: assignment
    doc["x"] = (1, 2)  # E: assignment
    doc["x"] = {1: "a"}  # E: dict-item
    array.append(None)  # E: arg-type
    table.comment = 1  # E: assignment
    table.implicit = "yes"  # E: assignment
    array.set_multiline(2)  # E: call-arg
    doc["a"].append(1)  # E: union-attr
    doc["a"]["b"]  # E: call-overload, index
    doc["a"].keys()  # E: union-attr
    morvelan.loads(b"a = 1")  # E: arg-type
    morvelan.load(io.StringIO("a = 1"))  # E: arg-type
    morvelan.dumps([("a", 1)])  # E: arg-type
    morvelan.dump(doc, io.StringIO())  # E: arg-type
    morvelan.Document(5)  # E: arg-type
    key: int = next(iter(doc))  # E: assignment
    doc["t"] = {"at": timezone.utc}  # E: dict-item
