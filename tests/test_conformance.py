"""Conformance of the Python module against the toml-test suite and the
real-world corpus: decoded values, byte-exact round trips, rejected inputs,
and the encoder direction (Python values written and read back)."""

import copy
import tomllib

import pytest
from toml_cases import (CORPUS_FILES, INVALID, VALID, case_id, python_value, same_value,
                        tagged_json)

pytestmark = pytest.mark.needs_module
morvelan = pytest.importorskip("morvelan")


def _expected_value(path):
    try:
        return python_value(tagged_json(path)), None
    except ValueError as e:  # a value Python's datetime cannot hold (a leap second)
        return None, e


def _round_trips(doc, data):
    # An unchanged parsed document gives back its source; a copy of it is
    # written by the writer: both must be the input, byte for byte.
    assert morvelan.dumps(doc).encode("utf-8") == data
    assert copy.copy(doc).as_toml().encode("utf-8") == data


@pytest.mark.parametrize("path", VALID, ids=case_id)
def test_valid_case(path):
    text = path.read_bytes().decode("utf-8")
    doc = morvelan.loads(text)
    expected, unrepresentable = _expected_value(path)
    if unrepresentable:
        with pytest.raises(ValueError):
            doc.value
    else:
        assert same_value(doc.value, expected)
    _round_trips(doc, path.read_bytes())


@pytest.mark.parametrize("path", VALID, ids=case_id)
def test_encoder_direction(path):
    value, unrepresentable = _expected_value(path)
    if unrepresentable:
        pytest.skip(f"not representable in Python: {unrepresentable}")
    assert same_value(morvelan.loads(morvelan.dumps(value)).value, value)


@pytest.mark.parametrize("path", INVALID, ids=case_id)
def test_invalid_case(path):
    data = path.read_bytes()
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        import io
        with pytest.raises(UnicodeDecodeError):
            morvelan.load(io.BytesIO(data))
        return
    with pytest.raises(ValueError) as info:
        morvelan.loads(text)
    assert str(info.value).startswith("TOML parse error at line ")


@pytest.mark.parametrize("path", CORPUS_FILES, ids=case_id)
def test_corpus_file(path):
    data = path.read_bytes()
    doc = morvelan.loads(data.decode("utf-8"))
    _round_trips(doc, data)
    assert same_value(doc.value, tomllib.loads(data.decode("utf-8")))
