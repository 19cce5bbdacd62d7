# The tool's XLSX export read by an independent reader (openpyxl): every
# cell of every sheet holds what the XML export of the same ledger holds.
import json
import os
import re
import subprocess
import xml.etree.ElementTree as ET

import pytest

openpyxl = pytest.importorskip("openpyxl")

NIL = "{http://www.w3.org/2001/XMLSchema-instance}nil"
TOOL = os.path.join(os.environ.get("MORVENT_BIN", ""), "morvent")

# Texts that stress the cell writer, as a data file holds them.
STRESS = [
    "line1&#13;&#10;line2&#13;",
    "&#9;tab first",
    " lead and trail ",
    "_x0041_ and a_x000D_b _x12_",
    "&lt;a b=&quot;1&quot; c='2'&gt;&amp;",
    "四字节😀𠀀",
    "长" * 32767,
]


def run(*args):
    done = subprocess.run([TOOL, *args], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr


def standard_text(s):
    """A cell text as the standard reads it: _xHHHH_ is that character,
    and _x005F_ an underscore, so a literal escape stays literal."""
    return re.sub(r"_x([0-9A-Fa-f]{4})_", lambda m: chr(int(m.group(1), 16)), s)


def record_of(element):
    return {c.tag: (None if c.get(NIL) == "true" else record_of(c) if len(c) else c.text or "") for c in element}


def expected(record, header):
    """What the data file holds under a column: absent, None for Null,
    a text, or a list of records for a collection column."""
    value = record
    for key in header.split("."):
        node = value.find(key)
        if node is None:
            return "absent"
        if node.get(NIL) == "true":
            return None
        value = node
    if len(value) and value[0].tag == "Record":
        return [record_of(r) for r in value]
    return value.text or ""


def cell_value(cell):
    """The text a cell shows, as the data files write it."""
    v = cell.value
    if v is None:
        return "" if cell.number_format == '@""' else "absent"
    if v == "#N/A":
        return None
    if hasattr(v, "hour"):
        return v.strftime("%Y-%m-%d" if cell.number_format == "yyyy-mm-dd" else "%Y-%m-%d %H:%M:%S")
    if isinstance(v, (int, float)):
        return v
    if v.startswith("["):
        return json.loads(v)
    return standard_text(v)


def test_every_cell_of_the_export_holds_what_the_data_file_holds(tmp_path, monkeypatch):
    monkeypatch.setenv("MORVENT_HOME", str(tmp_path))
    ledger = str(tmp_path / "demo.db")
    run("ledger", "demo", ledger, "--acct-type", "QY")
    stress = tmp_path / "stress.xml"
    rows = "".join(f"<Employee><Number>9{i:02d}</Number><Name>职员{i}</Name><Note>{t}</Note><Address></Address>"
                   f"<Birthday>1990-02-2{i} 08:30:05</Birthday><HireDate>2024-02-29</HireDate></Employee>\n"
                   for i, t in enumerate(STRESS))
    stress.write_text('<?xml version="1.0" encoding="UTF-8"?>\n<EmployeeList>\n' + rows + "</EmployeeList>\n",
                      encoding="utf-8")
    run("import", "--quiet", "--ledger", ledger, "--type", "职员", "--file", str(stress))
    run("export", "--quiet", "--ledger", ledger, "--all", str(tmp_path / "xml"))
    run("export", "--quiet", "--ledger", ledger, "--all", str(tmp_path / "book.xlsx"))

    book = openpyxl.load_workbook(tmp_path / "book.xlsx", data_only=True)
    checked = set()
    for sheet in book.worksheets:
        if sheet.title == "说明":
            continue
        records = ET.parse(tmp_path / "xml" / f"{sheet.title}.xml").getroot()
        headers = [c.value for c in sheet[1]]
        rows = list(sheet.iter_rows(min_row=3))
        assert len(rows) == len(records), sheet.title
        for row, record in zip(rows, records):
            for header, cell in zip(headers, row):
                want, got = expected(record, header), cell_value(cell)
                if isinstance(got, (int, float)):
                    # A number cell only for a text that reads back as itself.
                    assert float(want) == got and want == f"{got:.15g}", (sheet.title, cell.coordinate)
                elif got == []:
                    # An empty collection: an empty element in the data file.
                    assert want in ("", []), (sheet.title, cell.coordinate)
                else:
                    assert got == want, (sheet.title, cell.coordinate)
                checked.add(type(got).__name__ if got not in ("", "absent", None) else repr(got))
    # Every kind of cell was met: texts, numbers, dates (as texts), empty
    # texts, absent cells, Null and collections.
    assert checked >= {"str", "int", "float", "''", "'absent'", "None", "list"}

    employees = {r.find("Number").text: r for r in ET.parse(tmp_path / "xml" / "Employee.xml").getroot()}
    for i, text in enumerate(STRESS):
        note = ET.fromstring(f"<Note>{text}</Note>").text
        assert employees[f"9{i:02d}"].find("Note").text == note
