import datetime
import decimal
import os

import pytest

import morvent
from morvent import Kind


@pytest.fixture(scope="session", params=["QY", "GY"])
def exported(request, tmp_path_factory):
    """Every kind exported from a demo ledger of each kind of ledger."""
    root = tmp_path_factory.mktemp("demo-" + request.param)
    os.environ["MORVENT_HOME"] = str(root)
    try:
        morvent.create_ledger(root / "demo.db", request.param, demo=True).export_all(root / "out")
    finally:
        del os.environ["MORVENT_HOME"]
    return root / "out"


@pytest.mark.parametrize("kind", list(Kind), ids=lambda k: k.element)
def test_read_and_write_round_trip_every_kinds_demo_export(exported, tmp_path, kind):
    original = exported / (kind.element + ".xml")
    records = morvent.read(original, kind)
    assert records and all(isinstance(r, dict) for r in records)
    copy = tmp_path / "copy.xml"
    assert morvent.write(copy, kind, records) == len(records)
    assert morvent.read(copy, kind) == records
    assert copy.read_bytes() == original.read_bytes()


def test_nested_references_come_as_nested_dicts_and_lists(demo_export):
    unit = morvent.read(demo_export / "MeasureUnit.xml", Kind.MEASURE_UNIT)[0]
    assert isinstance(unit["MeasureUnitGroup"], dict) and unit["MeasureUnitGroup"]["Name"]
    account = next(a for a in morvent.read(demo_export / "Account.xml", "Account") if a.get("ItemClass"))
    assert isinstance(account["ItemClass"], list) and all("Name" in c for c in account["ItemClass"])


@pytest.mark.parametrize("value, text", [
    ("客户甲", "客户甲"),
    (12345678901234567890, "12345678901234567890"),
    (-7, "-7"),
    (0.1, "0.1"),
    (decimal.Decimal("1.50"), "1.50"),
    (True, "1"),
    (False, "0"),
    (datetime.date(2024, 2, 29), "2024-02-29"),
    (datetime.datetime(2024, 2, 29, 13, 5, 9), "2024-02-29 13:05:09"),
    (None, None),
])
def test_python_values_are_written_as_the_data_file_text(tmp_path, value, text):
    file = tmp_path / "c.xml"
    morvent.write(file, Kind.CUSTOMER, ({"Number": "01", "Address": value},))
    assert morvent.read(file, Kind.CUSTOMER) == [{"Number": "01", "Address": text}]


def refusals(path):
    unknown = f"读取数据文件 {path} 出错：第 5 行：元素 Customer 中有未知的键 Nope：接口定义文件中没有这个键（键名区分大小写）"
    return [
        ([{"Number": "01", "Nope": "1"}], ValueError, unknown),
        (["01"], TypeError, "第 1 条记录不是 dict"),
        ("01", TypeError, "records 应为记录（dict）的列表"),
        ({"Number": "01"}, TypeError, "records 应为记录（dict）的列表"),
        ([{"Number": "01"}, {"Number": object()}], TypeError, "第 2 条记录的键 Number：不能写入 object 类型的值"),
        ([{1: "x"}], TypeError, "第 1 条记录的键 1：键必须是文本"),
        ([{"Department": {"Name": b"x"}}], TypeError, "第 1 条记录的键 Department/Name：不能写入 bytes 类型的值"),
        ([{"ItemClass": ["x"]}], TypeError, "第 1 条记录的键 ItemClass：列表中只能是记录（dict）"),
        ([{"Number": "01", "Name": "a\x01b"}], ValueError,
         f"写数据文件 {path} 出错：第 1 条记录的键 Name 含有 XML 不能保存的字符 U+0001"),
        ([{"Number": "01", "CreditAmount": float("nan")}], ValueError, "第 1 条记录的键 CreditAmount：nan 不是可以写入的数"),
        ([{"Number": "01", "CreditAmount": float("-inf")}], ValueError, "第 1 条记录的键 CreditAmount：-inf 不是可以写入的数"),
    ]


def test_records_that_cannot_be_written_leave_the_file_as_it_was(tmp_path):
    file = tmp_path / "Customer.xml"
    file.write_text("old")
    for records, error, message in refusals(file):
        with pytest.raises(error) as raised:
            morvent.write(file, Kind.CUSTOMER, records)
        assert str(raised.value) == message
        assert file.read_text() == "old"
    assert sorted(os.listdir(tmp_path)) == ["Customer.xml", "home"]


def test_read_refuses_what_the_reader_refuses(tmp_path):
    file = tmp_path / "c.xml"
    file.write_text('<?xml version="1.0" encoding="UTF-8"?>\n<CustomerList>\n<Customer><Nope>1</Nope></Customer>\n'
                    "</CustomerList>\n", encoding="utf-8")
    with pytest.raises(ValueError) as refused:
        morvent.read(file, Kind.CUSTOMER)
    assert str(refused.value) == (f"读取数据文件 {file} 出错：第 3 行：元素 Customer 中有未知的键 Nope：接口定义文件中没有这个键"
                                  "（键名区分大小写）")
    with pytest.raises(FileNotFoundError) as missing:
        morvent.read(tmp_path / "none.xml", Kind.CUSTOMER)
    assert str(missing.value) == f"数据文件不存在：{tmp_path / 'none.xml'}"
    with pytest.raises(FileNotFoundError) as no_folder:
        morvent.write(tmp_path / "no" / "c.xml", Kind.CUSTOMER, [])
    assert str(no_folder.value) == f"文件夹不存在：{tmp_path / 'no'}"


def test_a_transformed_file_imports(empty, demo_export, tmp_path):
    customers = morvent.read(demo_export / "Customer.xml", Kind.CUSTOMER)
    renamed = [dict(c, Name=c["Name"] + "（新）") for c in customers]
    morvent.write(tmp_path / "Customer.xml", Kind.CUSTOMER, renamed)
    assert empty.import_(Kind.CUSTOMER, tmp_path / "Customer.xml").created == len(customers)
    empty.export(Kind.CUSTOMER, tmp_path / "back.xml")
    assert {c["Name"] for c in morvent.read(tmp_path / "back.xml", "Customer")} == {c["Name"] for c in renamed}
