# Shared fixtures of the Python package's tests: every test gets its own
# program directory for the exchange log, and ledgers live in tmp_path.
import os
import shutil

import pytest

import morvent


@pytest.fixture(autouse=True)
def home(tmp_path, monkeypatch):
    """A fresh MORVENT_HOME holding no schema: the exchange log goes there,
    the schemas are still found beside the package."""
    folder = tmp_path / "home"
    folder.mkdir()
    monkeypatch.setenv("MORVENT_HOME", str(folder))
    return folder


@pytest.fixture(scope="session")
def demo_export(tmp_path_factory):
    """A folder with every kind exported from a demo ledger (read-only for tests)."""
    root = tmp_path_factory.mktemp("demo")
    os.environ["MORVENT_HOME"] = str(root)
    try:
        ledger = morvent.create_ledger(root / "demo.db", demo=True)
        ledger.export_all(root / "out")
    finally:
        del os.environ["MORVENT_HOME"]
    return root / "out"


@pytest.fixture
def demo(tmp_path):
    return morvent.create_ledger(tmp_path / "demo.db", demo=True)


@pytest.fixture
def empty(tmp_path):
    return morvent.create_ledger(tmp_path / "empty.db")


@pytest.fixture
def data(tmp_path, demo_export):
    """A private copy of the demo export, to change at will."""
    folder = tmp_path / "data"
    shutil.copytree(demo_export, folder)
    return folder
