import importlib.util
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))


def pytest_collection_modifyitems(config, items):
    """Python-facing tests need the extension module; say so clearly when it
    cannot be imported instead of failing every test."""
    if importlib.util.find_spec("morvelan") is not None:
        return
    skip = pytest.mark.skip(reason="morvelan is not importable (build it, or set PYTHONPATH=build/release)")
    for item in items:
        if "needs_module" in item.keywords:
            item.add_marker(skip)


def pytest_configure(config):
    config.addinivalue_line("markers", "needs_module: the test imports the morvelan extension module")
