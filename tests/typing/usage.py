"""Typed use of morvelan, checked with mypy --strict (tests/test_typing.py) and
run as a script: every statement here must both type-check and work.

assert_type pins what the stubs give, so a stub that loosens a type to Any or
widens it fails the check."""

from __future__ import annotations

import copy
import io
import pickle
from collections.abc import Iterator, Mapping, MutableMapping, MutableSequence
from datetime import date, datetime, time, timezone
from typing import TYPE_CHECKING, Any, assert_type

import morvelan
from morvelan import DictItem, Document, Item, ListItem, ScalarItem

if TYPE_CHECKING:
    # The stubs' name for what `pop` gives (no such name exists at run time).
    from morvelan import _Kind, _TOMLValue

TEXT = """\
# settings
title = "demo"   # the name
port = 8080
ratio = 0.5
started = 1979-05-27T07:32:00Z
ports = [80, 443]

[server]
host = "localhost"

[[users]]
name = "ann"
"""


def table(parent: Document | DictItem, key: str) -> DictItem:
    item = parent[key]
    assert isinstance(item, DictItem)
    return item


def array(parent: Document | DictItem, key: str) -> ListItem:
    item = parent[key]
    assert isinstance(item, ListItem)
    return item


def scalar(parent: Document | DictItem, key: str) -> ScalarItem:
    item = parent[key]
    assert isinstance(item, ScalarItem)
    return item


def keys_of(mapping: Mapping[str, Item]) -> list[str]:
    return list(mapping)


def reading() -> None:
    doc = morvelan.loads(TEXT)
    assert_type(doc, Document)
    assert_type(doc["title"], DictItem | ListItem | ScalarItem)
    assert_type(doc.get("missing"), DictItem | ListItem | ScalarItem | None)
    assert_type(doc.get("missing", 0), DictItem | ListItem | ScalarItem | int)
    assert doc.get("missing") is None
    assert "title" in doc and len(doc) == 7 and bool(doc)

    # Values come out as plain Python data, typed as tomllib's are: plain
    # data is indexed without a narrowing at each step.
    value = doc.value
    assert_type(value, dict[str, Any])
    assert_type(table(doc, "server").value, dict[str, Any])
    assert_type(array(doc, "ports").value, list[Any])
    plain: dict[str, object] = doc.value
    host: str = value["server"]["host"]
    assert plain["title"] == "demo" and host == "localhost"
    assert_type(doc["title"].kind, "_Kind")
    assert table(doc, "server").kind == "table" and array(doc, "users").kind == "array of tables"
    title = scalar(doc, "title")
    assert_type(title.value, str | int | float | bool | datetime | date | time)
    assert title.value == "demo" and str(title) == "demo" and title == "demo"
    started = scalar(doc, "started").value
    assert isinstance(started, datetime) and started.tzinfo == timezone.utc

    # A scalar handle acts as its value.
    port = scalar(doc, "port")
    assert port + 1 == 8081 and int(port) == 8080 and float(scalar(doc, "ratio")) == 0.5
    assert f"{port:>6}" == "  8080" and hash(port) == hash(8080) and port > 80
    assert title.upper() == "DEMO"   # attributes of the value
    assert list(range(3))[scalar(doc, "ratio").is_integer():] == [0, 1, 2]

    server = table(doc, "server")
    assert keys_of(server) == ["host"] and keys_of(doc)[0] == "title"
    assert dict(server.items()).keys() == {"host"}
    for key, item in doc.items():
        assert_type(key, str)
        assert_type(item, DictItem | ListItem | ScalarItem)
    keys = doc.keys()
    assert_type(keys, morvelan.KeysView)
    assert keys & {"title", "nope"} == {"title"} and "port" in keys
    assert_type(keys & {"title"}, set[str])
    assert_type(doc.values(), morvelan.ValuesView)
    assert 8080 in doc.values()
    pair: tuple[str, object] = ("port", 8080)
    assert pair in doc.items()

    ports = array(doc, "ports")
    assert_type(ports[0], DictItem | ListItem | ScalarItem)
    assert_type(ports[:], list[DictItem | ListItem | ScalarItem])
    assert ports.value == [80, 443] and len(ports) == 2 and 443 in ports
    assert [str(p) for p in ports] == ["80", "443"] and ports.index(443) == 1
    users = array(doc, "users")
    first = users[0]
    assert isinstance(first, DictItem) and first["name"] == "ann"

    # The handles are the ABCs they are registered as.
    mapping: MutableMapping[str, Item] = server
    sequence: MutableSequence[Item] = ports
    assert isinstance(mapping, MutableMapping) and isinstance(sequence, MutableSequence)
    assert isinstance(doc, Mapping)


def editing() -> None:
    doc = morvelan.loads(TEXT)
    doc["title"] = "renamed"
    doc["when"] = date(2024, 1, 2)
    doc["at"] = time(12, 30)
    doc["mask"] = Item.parse("0xFF")
    doc["owner"] = {"name": "bob", "tags": ["a", "b"], "limits": {"cpu": 2.5}}
    doc.update({"x": 1}, y=True)
    doc.update([("z", [1, 2])])
    doc |= {"w": "new"}
    assert_type(doc.setdefault("port", 1), DictItem | ListItem | ScalarItem)
    assert_type(doc.pop("nope", None), "_TOMLValue | None")
    assert doc.pop("x") == 1
    key, removed = doc.popitem()
    assert (key, removed) == ("w", "new")
    del doc["at"]

    server = table(doc, "server")
    server["port"] = 8443
    server.implicit = False
    assert server.implicit is False
    more = server | {"extra": 1}
    assert_type(more, DictItem)
    merged = {"base": 0} | server
    assert_type(merged, "dict[str, int | _TOMLValue]")
    assert merged == {"base": 0, "host": "localhost", "port": 8443}

    ports = array(doc, "ports")
    ports.append(8000)
    ports.insert(0, 22)
    ports.extend([1, 2])
    ports[1] = 81
    ports[3:] = [3]
    ports += [4]
    assert ports.pop() == 4 and ports.count(3) == 1
    ports.remove(3)
    ports.set_multiline(indent=2)
    longer = ports + [5]
    assert_type(longer, ListItem)
    assert_type(ports * 2, ListItem)
    array(doc, "users").append({"name": "cy"})

    # Comments around entries.
    title = doc["title"]
    assert title.inline_comment == "# the name"
    title.inline_comment = "# new name"
    title.comment = "# above the title"
    assert title.comment == "# above the title"
    ports.comment = None

    text = doc.as_toml()
    assert "# above the title" in text and 'title = "renamed" # new name' in text
    assert morvelan.dumps(doc) == text
    assert morvelan.dumps({"a": {"b": [1, 2]}}) == "[a]\nb = [1, 2]\n"
    sink = io.BytesIO()
    morvelan.dump(doc, sink)
    assert sink.getvalue().decode() == text
    again = morvelan.load(io.BytesIO(sink.getvalue()))
    assert again == doc and again == doc.value
    clone = copy.deepcopy(doc)
    assert_type(clone, Document)
    fresh = Document({"a": 1}) | doc
    assert_type(fresh, Document)
    doc.fmt()
    doc.clear()
    assert len(doc) == 0


def walk(item: Item, depth: int = 0) -> Iterator[str]:
    """Every key below a table, found through isinstance narrowing."""
    if isinstance(item, DictItem):
        for key, child in item.items():
            yield "  " * depth + key
            yield from walk(child, depth + 1)
    elif isinstance(item, ListItem):
        for child in item:
            yield from walk(child, depth + 1)


def errors_and_pickling() -> None:
    try:
        morvelan.loads("a = 1\nb = \n")
    except morvelan.TOMLDecodeError as e:
        assert isinstance(e, ValueError)
        assert (e.msg, e.pos, e.lineno, e.colno) == ("missing value for key", 10, 2, 5)
        assert e.doc[e.pos] == "\n" and str(e).startswith("TOML parse error at line 2, column 5")
    doc = morvelan.loads(TEXT)
    again = pickle.loads(pickle.dumps(doc))
    assert_type(again, Any)
    assert isinstance(again, Document) and again.as_toml() == TEXT
    assert isinstance(morvelan.__version__, str)


def main() -> None:
    reading()
    editing()
    errors_and_pickling()
    doc = Document.parse(TEXT)
    assert list(walk(table(doc, "server"))) == ["host"]


if __name__ == "__main__":
    main()
