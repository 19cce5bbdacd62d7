import os
import subprocess
import sys

import pytest

BUILD = os.environ.get("MORVENT_BUILD")

SCRIPT = """
import morvent, sys
ledger = morvent.create_ledger("demo.db", demo=True)
print(ledger.export(morvent.Kind.CURRENCY, "Currency.xml").rows, len(morvent.read("Currency.xml", "Currency")))
print(morvent.schema_path("Currency"))
print(morvent.__file__)
print(morvent.program_directory())
"""


@pytest.mark.skipif(not BUILD, reason="needs MORVENT_BUILD, the build folder (set by ctest)")
def test_the_installed_package_finds_its_schemas_without_help(tmp_path):
    prefix = tmp_path / "prefix"
    subprocess.run(["cmake", "--install", BUILD, "--component", "python", "--prefix", str(prefix)], check=True,
                   capture_output=True)
    site = prefix / "lib" / f"python{sys.version_info.major}.{sys.version_info.minor}" / "site-packages"
    package = site / "morvent"
    installed = set(os.listdir(package))
    assert {"__init__.py", "__init__.pyi", "_morvent.pyi", "py.typed", "SchemaCurrency.xml"} <= installed
    assert "__pycache__" not in installed
    env = {"PATH": os.environ["PATH"], "PYTHONPATH": str(site), "HOME": str(tmp_path)}
    work = tmp_path / "work"
    work.mkdir()
    run = subprocess.run([sys.executable, "-c", SCRIPT], cwd=work, env=env, capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    rows, schema, module, home = run.stdout.split("\n")[:4]
    exported, read = map(int, rows.split())
    assert exported == read > 0
    assert schema == str(package / "SchemaCurrency.xml")
    assert module == str(package / "__init__.py") and home == str(package)
