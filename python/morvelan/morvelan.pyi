# The compiled extension; its names are declared in the package's stub (the
# classes report "morvelan" as their module).
from morvelan import (
    DictItem as DictItem,
    Document as Document,
    Item as Item,
    ItemsView as ItemsView,
    KeysView as KeysView,
    ListItem as ListItem,
    ScalarItem as ScalarItem,
    TOMLDecodeError as TOMLDecodeError,
    ValuesView as ValuesView,
    dump as dump,
    dumps as dumps,
    load as load,
    loads as loads,
)

__version__: str

__all__ = [
    "Document",
    "Item",
    "DictItem",
    "ListItem",
    "ScalarItem",
    "KeysView",
    "ValuesView",
    "ItemsView",
    "load",
    "loads",
    "dump",
    "dumps",
    "TOMLDecodeError",
]
