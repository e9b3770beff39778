"""Reference counts and memory: repeating each kind of call many times does
not grow the process."""

import copy
import gc
import os

import pytest

pytestmark = [
    pytest.mark.needs_module,
    pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                       reason="AddressSanitizer keeps freed memory in quarantine, so resident size grows"),
]
morvelan = pytest.importorskip("morvelan")

TEXT = "# c\na = 1\ns = 'x'\nt = 1979-05-27T07:32:00Z\n[tab]\narr = [1, 2.5, {x = 'y'}]\n[[aot]]\nk = true\n"
REPEAT = int(os.environ.get("MORVELAN_MEMORY_REPEAT", "200000"))


def _rss_kb():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def _fails(fn):
    def run():
        try:
            fn()
        except (ValueError, TypeError, AttributeError, UnicodeEncodeError):
            pass
        else:
            raise AssertionError("expected an exception")
    return run


DOC = None


def _doc():
    global DOC
    if DOC is None:
        DOC = morvelan.loads(TEXT)
    return DOC


CALLS = {
    "loads": lambda: morvelan.loads(TEXT),
    "value": lambda: _doc().value,
    "dumps document": lambda: morvelan.dumps(_doc()),
    "dumps dict": lambda: morvelan.dumps({"a": [1, {"b": "c"}], "d": {"e": 1.5}}),
    "copy": lambda: copy.copy(_doc()),
    "document from dict": lambda: morvelan.Document({"a": 1, "b": [True]}),
    "equality": lambda: _doc() == {"a": 1},
    "parse error": _fails(lambda: morvelan.loads("a = ")),
    "wrong argument": _fails(lambda: morvelan.loads(5)),
    "conversion error": _fails(lambda: morvelan.dumps({"a": None})),
    "bad key": _fails(lambda: morvelan.dumps({1: 2})),
    "argument count": _fails(lambda: morvelan.loads("a", "b")),
    "handles": lambda: (_doc()["tab"]["arr"].value, repr(_doc()["a"]), _doc()["tab"] == {"x": 1}),
    "edit": lambda: (_doc().__setitem__("n", {"k": [1, "x"]}), _doc().pop("n")),
    "views": lambda: (list(_doc().items()), _doc().keys() & {"a"}, 1 in _doc().values()),
    "missing key": _fails(lambda: _doc().setdefault("zz")),
}


def _growth_kb(fn):
    gc.collect()
    before = _rss_kb()
    for _ in range(REPEAT):
        fn()
    gc.collect()
    return _rss_kb() - before


@pytest.mark.parametrize("name", CALLS)
def test_repeated_calls_do_not_grow_memory(name):
    fn = CALLS[name]
    for _ in range(2000):  # warm up caches and allocator pools
        fn()
    # A leak of one reference or buffer per call costs megabytes in every
    # round; the allocators' own growth (a new arena now and then) does not
    # repeat, so the smaller of two rounds is what counts.
    grown = _growth_kb(fn)
    if grown >= 2048:
        grown = min(grown, _growth_kb(fn))
    assert grown < 2048, f"{name}: resident memory grew by {grown} KiB per {REPEAT} calls"
