"""The import surface, the call frame's argument handling and errors, the
Document object and the module functions."""

import collections.abc as abc
import copy
import datetime
import importlib.machinery
import importlib.resources
import inspect
import io
import importlib.metadata
import math
import pickle
import subprocess
import sys
import tomllib
from pathlib import Path

import pytest

pytestmark = pytest.mark.needs_module
morvelan = pytest.importorskip("morvelan")

NAMES = ["Document", "Item", "DictItem", "ListItem", "ScalarItem", "KeysView", "ValuesView", "ItemsView",
         "load", "loads", "dump", "dumps", "TOMLDecodeError"]
CLASSES = NAMES[:8]


def test_module_attributes_in_order():
    assert morvelan.__all__ == NAMES
    public = [n for n in vars(morvelan) if not n.startswith("_")]
    assert public == ["morvelan"] + NAMES   # the extension module, then its names
    assert morvelan.__doc__ == ""
    for name in NAMES:
        assert getattr(morvelan, name).__module__ == "morvelan"
    for name in CLASSES:
        cls = getattr(morvelan, name)
        assert cls.__qualname__ == cls.__name__ == name


def test_package_reexports_the_extension():
    ext = morvelan.morvelan
    assert ext.__name__ == "morvelan.morvelan"
    assert isinstance(ext.__spec__.loader, importlib.machinery.ExtensionFileLoader)
    assert ext.__all__ == NAMES and ext.__doc__ == ""
    assert [n for n in vars(ext) if not n.startswith("_")] == NAMES
    for name in NAMES:
        assert getattr(morvelan, name) is getattr(ext, name)
    assert importlib.resources.files(morvelan).joinpath("py.typed").read_bytes() == b""


@pytest.mark.parametrize("name", CLASSES)
def test_only_item_is_subclassable(name):
    cls = getattr(morvelan, name)
    if name == "Item":
        class X(cls):
            pass
        assert issubclass(X, morvelan.Item)
    else:
        with pytest.raises(TypeError):
            type("Y", (cls,), {})


@pytest.mark.parametrize("name", CLASSES[1:])
def test_only_document_is_callable(name):
    with pytest.raises(TypeError):
        getattr(morvelan, name)()
    assert isinstance(morvelan.Document(), morvelan.Document)


@pytest.mark.parametrize("base, cls", [
    (abc.MutableMapping, "Document"), (abc.Mapping, "Document"), (abc.MutableMapping, "DictItem"),
    (abc.MutableSequence, "ListItem"), (abc.KeysView, "KeysView"), (abc.ValuesView, "ValuesView"),
    (abc.ItemsView, "ItemsView"),
])
def test_collections_abc_registrations(base, cls):
    assert issubclass(getattr(morvelan, cls), base)


def test_subclasses_of_item():
    for name in ("DictItem", "ListItem", "ScalarItem"):
        assert getattr(morvelan, name).__base__ is morvelan.Item


@pytest.mark.parametrize("func, params", [
    (morvelan.loads, ["text"]), (morvelan.load, ["fp"]), (morvelan.dumps, ["obj"]), (morvelan.dump, ["obj", "fp"]),
    (morvelan.Document, ["data"]), (morvelan.Document.parse, ["text"]), (morvelan.Document.as_toml, ["self"]),
    (morvelan.Document.fmt, ["self"]), (morvelan.Document.clear, ["self"]),
    (morvelan.Document.__copy__, ["self"]), (morvelan.Document.__deepcopy__, ["self", "_memo"]),
])
def test_signatures(func, params):
    assert list(inspect.signature(func).parameters) == params


def _exc(fn, *args, **kwargs):
    with pytest.raises(Exception) as info:
        fn(*args, **kwargs)
    return info.value


@pytest.mark.parametrize("call, exc_type, message", [
    (lambda: morvelan.loads(), TypeError, "loads() missing 1 required positional argument: 'text'"),
    (lambda: morvelan.dump(), TypeError, "dump() missing 2 required positional arguments: 'obj' and 'fp'"),
    (lambda: morvelan.dump({}), TypeError, "dump() missing 1 required positional argument: 'fp'"),
    (lambda: morvelan.loads("", ""), TypeError, "loads() takes 1 positional argument but 2 were given"),
    (lambda: morvelan.loads(txt=""), TypeError, "loads() got an unexpected keyword argument 'txt'"),
    (lambda: morvelan.loads("", text=""), TypeError, "loads() got multiple values for argument 'text'"),
    (lambda: morvelan.Document({}, {}), TypeError,
     "Document() takes from 0 to 1 positional arguments but 2 were given"),
    (lambda: morvelan.Document().as_toml(1), TypeError,
     "Document.as_toml() takes 0 positional arguments but 1 was given"),
    (lambda: morvelan.loads("a = "), morvelan.TOMLDecodeError, "TOML parse error at line 1, column 5\n"),
])
def test_argument_and_parse_errors(call, exc_type, message):
    e = _exc(call)
    assert type(e) is exc_type
    assert str(e).startswith(message)


@pytest.mark.parametrize("arg, message", [
    (5, "'int' object is not an instance of 'str'"),
    (None, "'None' is not an instance of 'str'"),
    (b"a = 1", "'bytes' object is not an instance of 'str'"),
])
def test_wrong_argument_type_gets_a_note(arg, message):
    e = _exc(morvelan.loads, arg)
    assert type(e) is TypeError and str(e) == message
    assert e.__notes__ == ["while processing 'text'"]


def test_unencodable_text_gets_a_note():
    e = _exc(morvelan.loads, "a = '\ud800'")
    assert isinstance(e, UnicodeEncodeError)
    assert e.__notes__ == ["while processing 'text'"]


@pytest.mark.parametrize("call, message", [
    (lambda: morvelan.loads("x = 1\ny = yes\n"),
     "TOML parse error at line 2, column 5\n  |\n2 | y = yes\n  |     ^^^\n"
     "string values must be quoted, expected literal string\n"),
    # A NUL byte on the source line: shown as its control picture, the report
    # reaches Python whole.
    (lambda: morvelan.loads("a = 1\x00"),
     "TOML parse error at line 1, column 6\n  |\n1 | a = 1\u2400\n  |      ^\ninvalid integer number\n"),
    (lambda: morvelan.load(io.BytesIO("a = 1".encode("utf-16-le"))),
     "TOML parse error at line 1, column 2\n  |\n1 | a\u2400 \u2400=\u2400 \u24001\u2400\n  |  ^\n"
     "invalid unquoted key, expected letters, numbers, `-`, `_`\n"),
    (lambda: morvelan.Item.parse("[1,\x00]"),
     "TOML parse error at line 1, column 4\n  |\n1 | [1,\u2400]\n  |    ^\n"
     "string values must be quoted, expected literal string\n"),
    (lambda: morvelan.Document.parse('a = "\x00"'),
     'TOML parse error at line 1, column 6\n  |\n1 | a = "\u2400"\n  |      ^\n'
     "invalid basic string, expected non-double-quote visible characters, `\\`\n"),
])
def test_parse_error_report_is_the_message(call, message):
    e = _exc(call)
    assert type(e) is morvelan.TOMLDecodeError and str(e) == message


PARSERS = {
    "loads": morvelan.loads,
    "load": lambda text: morvelan.load(io.BytesIO(text.encode())),
    "Document.parse": morvelan.Document.parse,
    "Item.parse": morvelan.Item.parse,
}


# (text, pos, lineno, colno): pos indexes the str (characters, not bytes);
# an error at the end of a text that ends in a newline is shown, and placed,
# after the last character of its last line.
@pytest.mark.parametrize("text, pos, lineno, colno", [
    ("a = ", 4, 1, 5),
    ('e = "ü" 1', 8, 1, 9),
    ("a = 1\nb = [1,\n", 14, 2, 9),
    ("a = 1\r\na = 2\r\n", 7, 2, 1),
    ("[t]\nx = 1\n[t]\n", 11, 3, 2),
])
@pytest.mark.parametrize("parser", PARSERS)
def test_decode_error_attributes(parser, text, pos, lineno, colno):
    if parser == "Item.parse":
        text = text.partition(" = ")[2] or "{ x = "
        pos, lineno, colno = None, None, None
    e = _exc(PARSERS[parser], text)
    assert isinstance(e, ValueError) and type(e) is morvelan.TOMLDecodeError
    assert (e.doc, e.msg) == (text, str(e).splitlines()[-1])
    assert str(e).startswith(f"TOML parse error at line {e.lineno}, column {e.colno}\n")
    if pos is not None:
        assert (e.pos, e.lineno, e.colno) == (pos, lineno, colno)
    again = pickle.loads(pickle.dumps(e))
    assert (type(again), str(again), again.args) == (type(e), str(e), e.args)
    assert (again.msg, again.doc, again.pos, again.lineno, again.colno) == (e.msg, e.doc, e.pos, e.lineno, e.colno)


def test_decode_error_made_by_hand():
    e = morvelan.TOMLDecodeError("bad value", "a = 1\nb = é x\n", 10)
    assert isinstance(e, ValueError)
    assert (e.msg, e.pos, e.lineno, e.colno) == ("bad value", 10, 2, 5)
    assert str(e) == "TOML parse error at line 2, column 5\n  |\n2 | b = é x\n  |     ^\nbad value\n"
    with pytest.raises(TypeError, match="missing 2 required positional arguments"):
        morvelan.TOMLDecodeError("bad value")


def test_version_is_the_package_version():
    with open(Path(__file__).resolve().parents[1] / "pyproject.toml", "rb") as f:
        version = tomllib.load(f)["project"]["version"]
    assert morvelan.__version__ == version
    try:   # an installed wheel records it in its metadata too
        dist = importlib.metadata.distribution("morvelan")
    except importlib.metadata.PackageNotFoundError:
        dist = None
    if dist is not None and Path(dist.locate_file("morvelan")) == Path(morvelan.__file__).parent:
        assert dist.version == version
    done = subprocess.run([sys.executable, "-m", "morvelan", "--version"], capture_output=True, text=True)
    assert (done.returncode, done.stdout, done.stderr) == (0, f"morvelan {version}\n", "")


# ---- Document --------------------------------------------------------------

def test_empty_document():
    d = morvelan.Document()
    assert len(d) == 0 and not d
    assert repr(d) == "Document(0 keys)"
    assert d.as_toml() == "" and d.value == {}
    assert morvelan.Document(None).as_toml() == ""
    assert morvelan.loads("").as_toml() == ""


def test_document_from_mapping():
    d = morvelan.Document({"a": 1, "b": {"c": 2}})
    assert d.as_toml() == "a = 1\n\n[b]\nc = 2\n"
    assert repr(d) == "Document(2 keys)" and len(d) == 2 and d
    assert morvelan.Document(data={"x": [1, 2]}).as_toml() == "x = [1, 2]\n"


@pytest.mark.parametrize("data, exc_type, message", [
    (5, TypeError, "Document() takes a mapping or None, not int"),
    ([("a", 1)], TypeError, "Document() takes a mapping or None, not list"),
    ({1: 2}, TypeError, "keys must be strings"),
    ({"a": None}, TypeError, "None is not a valid TOML value (TOML has no null type)"),
])
def test_document_conversion_errors_get_a_note(data, exc_type, message):
    e = _exc(morvelan.Document, data)
    assert type(e) is exc_type
    if message:
        assert str(e) == message
    assert e.__notes__ == ["while processing 'data'"]


TEXT = "# top\ntitle = 'x'  # note\n\n[server]\nport = 0x50\nhosts = [ 'a', 'b', ]\n"


def test_parse_round_trip_and_value():
    d = morvelan.Document.parse(TEXT)
    assert d.as_toml() == TEXT
    assert morvelan.dumps(d) == TEXT
    assert d.value == {"title": "x", "server": {"port": 80, "hosts": ["a", "b"]}}
    assert str(d) == str(d.value)


def test_copies_are_independent_and_equal():
    d = morvelan.loads(TEXT)
    d["server"]["hosts"].append("c")   # an edited document pickles as its text
    text = d.as_toml()
    for c in (copy.copy(d), copy.deepcopy(d), d.__deepcopy__({}), pickle.loads(pickle.dumps(d))):
        assert c is not d and c == d and c.as_toml() == d.as_toml()
    for c in (copy.copy(d), pickle.loads(pickle.dumps(d))):
        c.clear()
        assert d.as_toml() == text and c.as_toml() == ""


def test_fmt_normalises_root_entries_only():
    d = morvelan.loads("a   =   1   # gone\nb=[1,2]\n[t]\nx   =   2\n")
    assert d.fmt() is None
    assert d.as_toml() == "a = 1\nb = [1,2]\n[t]\nx   =   2\n"


def test_clear_keeps_trailing_text():
    d = morvelan.loads("a = 1\n[t]\nb = 2\n# end\n")
    assert d.clear() is None
    assert len(d) == 0 and d.as_toml() == "# end\n"


@pytest.mark.parametrize("other, equal", [
    ({"a": 1}, True), ({"a": 1.0}, True), ({"a": 2}, False), ({}, False), (object(), False),
    ([("a", 1)], False), ({"a": None}, False), ({"a": 2 ** 70}, False),
    # an offset with seconds, which no TOML value has
    ({"a": datetime.datetime(2024, 1, 2, tzinfo=datetime.timezone(datetime.timedelta(seconds=30)))}, False),
])
def test_equality_with_values(other, equal):
    d = morvelan.loads("a = 1")
    assert (d == other) is equal
    assert (d != other) is (not equal)


def test_equality_between_documents_and_hash():
    a, b = morvelan.loads("a = 1"), morvelan.loads("a=1 # c")
    assert a == b and a == a and not (a != b)
    assert a != morvelan.loads("a = 2")
    with pytest.raises(TypeError):
        hash(a)
    with pytest.raises(TypeError):
        a < b


def test_value_converts_nan_and_dates():
    d = morvelan.loads("f = nan\nt = 1979-05-27T07:32:00Z\n")
    v = d.value
    assert math.isnan(v["f"])
    assert v["t"].utcoffset().total_seconds() == 0


# ---- module functions ------------------------------------------------------

def test_load_and_dump_with_files(tmp_path):
    p = tmp_path / "c.toml"
    p.write_bytes(TEXT.encode())
    with open(p, "rb") as f:
        d = morvelan.load(f)
    assert d.as_toml() == TEXT
    out = tmp_path / "o.toml"
    with open(out, "wb") as f:
        assert morvelan.dump(d, f) is None
        assert morvelan.dump({"k": "v"}, fp=f) is None
    assert out.read_bytes() == TEXT.encode() + b'k = "v"\n'


def test_file_mode_errors(tmp_path):
    p = tmp_path / "c.toml"
    p.write_text("a = 1\n")
    with open(p, "r") as f:
        e = _exc(morvelan.load, f)
    assert type(e) is TypeError and str(e) == 'File must be opened in binary mode, e.g. use "rb"'
    with open(tmp_path / "o.toml", "w") as f:
        e = _exc(morvelan.dump, {"a": 1}, f)
    assert type(e) is TypeError and str(e) == 'File must be opened in binary mode, e.g. use "wb"'


@pytest.mark.parametrize("data, start, end", [
    (b"a = '\xff'", 5, 6),
    (b"a = '\xe2\x82'", 5, 7),
    (b"a = 1 \xe2\x82", 6, 8),
    (b"\xed\xa0\x80", 0, 1),
])
def test_load_invalid_utf8(data, start, end):
    e = _exc(morvelan.load, io.BytesIO(data))
    assert type(e) is UnicodeDecodeError
    assert (e.encoding, e.object, e.start, e.end, e.reason) == ("utf-8", data, start, end, "invalid utf-8")


class _Reader:
    def __init__(self, result):
        self.result = result

    def read(self):
        if isinstance(self.result, Exception):
            raise self.result
        return self.result


def test_load_read_errors_propagate_and_types_are_checked():
    boom = OSError("disk")
    assert _exc(morvelan.load, _Reader(boom)) is boom
    assert type(_exc(morvelan.load, _Reader(5))) is TypeError
    assert type(_exc(morvelan.load, object())) is AttributeError


def test_dump_write_errors():
    class W:
        def write(self, data):
            raise OSError("full")
    assert str(_exc(morvelan.dump, {}, W())) == "full"


@pytest.mark.parametrize("obj, exc_type, message", [
    ([("a", 1)], TypeError, "{f}() takes a Document or a mapping, not list"),
    ({"a": None}, TypeError, "None is not a valid TOML value (TOML has no null type)"),
    (5, TypeError, "{f}() takes a Document or a mapping, not int"),
    (None, TypeError, "{f}() takes a Document or a mapping, not NoneType"),
    (morvelan.loads("a = [1]")["a"], TypeError, "{f}() takes a Document or a mapping, not ListItem"),
])
@pytest.mark.parametrize("f", ["dumps", "dump"])
def test_dumps_errors_have_no_note(obj, exc_type, message, f):
    e = _exc(morvelan.dumps, obj) if f == "dumps" else _exc(morvelan.dump, obj, io.BytesIO())
    assert type(e) is exc_type
    assert str(e) == message.format(f=f)
    assert not getattr(e, "__notes__", None)


def test_dumps_plain_mappings():
    assert morvelan.dumps({"a": {"b": 1}}) == "[a]\nb = 1\n"
    assert morvelan.dumps({"x": 1, "p": [{"n": 1}, {"n": 2}]}) == "x = 1\n\n[[p]]\nn = 1\n\n[[p]]\nn = 2\n"
    assert morvelan.dumps({}) == ""
