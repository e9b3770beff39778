"""Documents used from several threads: no crash, no deadlock, no wrong
result, and parsing does not hold up other Python threads."""

import copy
import threading

import pytest

pytestmark = pytest.mark.needs_module
morvelan = pytest.importorskip("morvelan")


def _run_threads(targets):
    errors = []

    def guarded(fn):
        try:
            fn()
        except BaseException as e:  # reported to the main thread
            errors.append(e)

    threads = [threading.Thread(target=guarded, args=(t,)) for t in targets]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=120)
        assert not t.is_alive(), "thread did not finish (deadlock?)"
    if errors:
        raise errors[0]


def _text(i):
    return f"# doc {i}\nname = 'n{i}'\nnums = [{i}, {i + 1}]\n\n[t]\nx = {{ a = {i} }}\n"


def test_parallel_parse_and_serialise():
    def work(seed):
        def run():
            for i in range(seed, seed + 300):
                text = _text(i)
                doc = morvelan.loads(text)
                assert doc.as_toml() == text
                assert doc.value["t"]["x"]["a"] == i
                assert morvelan.loads(morvelan.dumps(doc.value)).value == doc.value
        return run

    _run_threads([work(k * 1000) for k in range(4)])


def test_readers_while_a_writer_clears():
    for _ in range(20):
        text = _text(7)
        doc = morvelan.loads(text)
        seen = set()

        def reader():
            for _ in range(200):
                out = doc.as_toml()
                assert out in (text, "")
                value = doc.value
                assert value in ({}, morvelan.loads(text).value)
                assert len(doc) in (0, 3)
                assert repr(doc) in ("Document(0 keys)", "Document(3 keys)")
                c = copy.copy(doc)
                assert c.as_toml() in (text, "")
                seen.add(out)

        def writer():
            for _ in range(50):
                doc.fmt()
            doc.clear()

        _run_threads([reader, reader, writer, reader])
        assert doc.as_toml() == ""


def test_long_parse_does_not_stop_other_threads():
    big = "".join(f"[[p]]\nname = 'package-{i}'\nv = {i}\nfiles = [{{a = 1}}, {{b = 'x'}}]\n" for i in range(300_000))
    counter = 0
    stop = False

    def count():
        nonlocal counter
        while not stop:
            counter += 1

    t = threading.Thread(target=count)
    t.start()
    try:
        before = counter
        doc = morvelan.loads(big)
        during = counter - before
    finally:
        stop = True
        t.join()
    assert len(doc.value["p"]) == 300_000
    # With the interpreter lock held for the whole parse the counting thread
    # could not have run at all while loads() was executing.
    assert during > 1000


STALE = "stale: the document has been modified since this reference was created"


def test_threads_reading_and_editing_through_handles():
    """Each thread owns one table and edits it through handles while every
    thread also reads the others' tables: a handle is either valid and
    correct or raises the stale error."""
    n_threads = 4
    doc = morvelan.loads("".join(f"[t{k}]\ncount = 0\nname = 't{k}'\n" for k in range(n_threads)))

    def worker(k):
        def run():
            mine = doc[f"t{k}"]
            for i in range(1, 300):
                mine["count"] = i
                mine[f"k{i % 5}"] = [i, {"x": i}]
                if i % 7 == 0:
                    mine.pop(f"k{(i + 1) % 5}", None)
                assert doc[f"t{k}"]["count"] == i
                other = doc[f"t{(k + 1) % n_threads}"]
                count = other["count"]
                try:
                    assert 0 <= count.value < 300
                except RuntimeError as e:  # the owner replaced it meanwhile
                    assert str(e) == STALE
                assert other["name"] == f"t{(k + 1) % n_threads}"
                keys = set(other.keys())
                assert {"count", "name"} <= keys
        return run

    def whole_document_reader():
        for _ in range(300):
            value = morvelan.loads(doc.as_toml()).value  # a consistent snapshot parses
            assert sorted(value) == [f"t{k}" for k in range(n_threads)]
            assert all(0 <= t["count"] < 300 for t in value.values())
            assert len(doc) == n_threads

    _run_threads([worker(k) for k in range(n_threads)] + [whole_document_reader])
    for k in range(n_threads):
        assert doc[f"t{k}"]["count"] == 299
    assert morvelan.loads(doc.as_toml()).value == doc.value
