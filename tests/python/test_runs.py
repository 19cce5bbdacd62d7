import os
import shutil
import subprocess
from pathlib import Path

import pytest

import morvent
from morvent import Kind


def set_value(path, kind, row, key, value):
    records = morvent.read(path, kind)
    records[row - 1][key] = value
    morvent.write(path, kind, records)
    return records


@pytest.mark.parametrize("second_style, outcome", [(1, "kept"), (2, "overwritten")])
def test_export_then_import_counts_each_record_once(demo, empty, tmp_path, second_style, outcome):
    file = tmp_path / "Department.xml"
    exported = demo.export(Kind.DEPARTMENT, file)
    assert exported.ok and exported.rows == len(morvent.read(file, Kind.DEPARTMENT)) > 0
    assert [(k.kind, k.rows) for k in exported.kinds] == [(Kind.DEPARTMENT, exported.rows)]
    first = empty.import_("Department", file)
    assert first.counts == {"created": exported.rows, "kept": 0, "overwritten": 0, "failed": 0, "bare_parents": 0}
    second = empty.import_(120, file, imp_style=second_style)
    assert second.counts[outcome] == exported.rows and second.created == 0 and second.errors == []


def test_a_dry_run_counts_as_the_real_run_and_stores_nothing(empty, data, tmp_path):
    set_value(data / "Customer.xml", Kind.CUSTOMER, 3, "CreditAmount", "5万")
    dry = empty.import_all(data, dry_run=True)
    assert dry.dry_run and dry.created > 0 and dry.failed == 1
    fresh = morvent.create_ledger(tmp_path / "fresh.db")
    assert empty.export_all(tmp_path / "after-dry").kinds == fresh.export_all(tmp_path / "fresh").kinds
    real = empty.import_all(data)
    assert (dry.counts, dry.kinds, dry.errors) == (real.counts, real.kinds, real.errors)
    again = empty.import_(Kind.CUSTOMER, data / "Customer.xml", imp_style=2, dry_run=True)
    assert again.counts == empty.import_(Kind.CUSTOMER, data / "Customer.xml", imp_style=2).counts


def test_the_whole_ledger_round_trips_through_export_all_and_import_all(demo, empty, tmp_path):
    first = demo.export_all(tmp_path / "first")
    assert [k.kind for k in first.kinds] == [Kind(c) for c in morvent._morvent.import_order()]
    imported = empty.import_all(tmp_path / "first")
    assert imported.skipped == [(Kind.ACCOUNT_TYPE, "只能导出")]
    assert imported.failed == 0 and imported.errors == []
    second = empty.export_all(tmp_path / "second")
    assert [(k.kind, k.rows) for k in second.kinds] == [(k.kind, k.rows) for k in first.kinds]
    tool = os.path.join(os.environ.get("MORVENT_BIN", ""), "morvent")
    if os.access(tool, os.X_OK):
        compared = subprocess.run([tool, "compare", str(tmp_path / "first"), str(tmp_path / "second")],
                                  capture_output=True, text=True)
        assert compared.returncode == 0, compared.stdout + compared.stderr


def test_import_all_skips_kinds_without_a_file(empty, data):
    (data / "Material.xml").unlink()
    result = empty.import_all(data)
    assert result.skipped == [(Kind.ACCOUNT_TYPE, "只能导出"),
                              (Kind.MATERIAL, f"文件 {data / 'Material.xml'} 不存在")]
    assert Kind.MATERIAL not in [k.kind for k in result.kinds]


STOP = "stop"


@pytest.mark.parametrize("on_error, stops", [
    ("pass", False),
    ("stop", True),
    (lambda e: None, False),
    (lambda e: STOP, True),
    (lambda e: "go on", False),
])
def test_errors_are_collected_and_stop_only_when_asked(empty, data, on_error, stops):
    file = data / "Customer.xml"
    records = set_value(file, Kind.CUSTOMER, 3, "CreditAmount", "5万")
    seen = []
    handler = (lambda e: seen.append(e) or on_error(e)) if callable(on_error) else on_error
    if stops:
        with pytest.raises(morvent.Stopped) as raised:
            empty.import_(Kind.CUSTOMER, file, on_error=handler)
        result = raised.value.result
        assert str(raised.value) == result.errors[0].message
        assert (result.ok, result.created, result.failed) == (False, 2, 1)
    else:
        result = empty.import_(Kind.CUSTOMER, file, on_error=handler)
        assert (result.ok, result.created, result.failed) == (True, len(records) - 1, 1)
    error = result.errors[0]
    assert len(result.errors) == 1
    assert (error.kind, error.row, error.number, error.key, error.value, error.expected) == \
        (Kind.CUSTOMER, 3, records[2]["Number"], "CreditAmount", "5万", "number")
    assert error.line == "键 CreditAmount 的值“5万”不是数字"
    assert error.message == f"引入客户资料错误，当前记录名称为：{records[2]['Name']}\r错误信息：\r类型不匹配"
    if callable(on_error):
        assert seen == [error]


def test_errors_reach_the_exchange_log(empty, data, home):
    import xml.etree.ElementTree as ET
    set_value(data / "Customer.xml", Kind.CUSTOMER, 3, "CreditAmount", "5万")
    message = empty.import_(Kind.CUSTOMER, data / "Customer.xml").errors[0].message
    assert (morvent.program_directory(), morvent.log_path()) == (str(home), str(home / "Morvent_log.xml"))
    text = (home / "Morvent_log.xml").read_bytes().decode("gb2312")
    root = ET.fromstring(text[text.index("?>") + 2:])
    assert [(e.get("Direct"), e.get("ErrMsg")) for e in root] == [("导入基础资料数据", message)]


class Boom(Exception):
    pass


def raise_boom(*args):
    raise Boom(args)


@pytest.mark.parametrize("run, callback", [
    ("import", "progress"), ("import", "on_error"), ("export", "progress"), ("export_all", "progress"),
])
def test_a_callback_that_raises_cancels_the_run_and_its_exception_comes_out(demo, empty, data, tmp_path, run,
                                                                            callback):
    set_value(data / "Customer.xml", Kind.CUSTOMER, 3, "CreditAmount", "5万")
    calls = []

    def once(*args):
        calls.append(args)
        raise Boom(args)

    kwargs = {callback: once}
    with pytest.raises(Boom) as raised:
        if run == "import":
            empty.import_(Kind.CUSTOMER, data / "Customer.xml", **kwargs)
        elif run == "export":
            demo.export(Kind.CUSTOMER, tmp_path / "c.xml", **kwargs)
        else:
            demo.export_all(tmp_path / "all", **kwargs)
    assert len(calls) == 1 and raised.value.args == (calls[0],)
    if run == "import":
        stored = empty.export(Kind.CUSTOMER, tmp_path / "stored.xml").rows
        assert stored == (1 if callback == "progress" else 2)
    else:
        assert not (tmp_path / "c.xml").exists() and not (tmp_path / "all" / "AccountType.xml").exists()


def test_progress_runs_on_the_calling_thread_with_kind_row_and_rate(demo, tmp_path):
    import threading
    seen = []
    result = demo.export(Kind.CURRENCY, tmp_path / "c.xml",
                         progress=lambda kind, row, rate: seen.append((kind, row, rate, threading.get_ident())))
    assert [s[1] for s in seen] == list(range(1, result.rows + 1))
    assert {(s[0], s[3]) for s in seen} == {(Kind.CURRENCY, threading.get_ident())}
    assert seen[-1][2] == 100


def test_a_missing_schema_stops_the_run_with_the_warning(demo, home, tmp_path):
    shipped = os.path.dirname(morvent.schema_path(Kind.CURRENCY))
    for name in os.listdir(shipped):
        if name.startswith("Schema") and name != "SchemaDepartment.xml":
            shutil.copy(os.path.join(shipped, name), home)
    assert morvent.schema_directories() == [str(home)]
    with pytest.raises(morvent.Stopped) as raised:
        demo.export(Kind.DEPARTMENT, tmp_path / "d.xml")
    assert str(raised.value) == (f"Morvent接口定义文件 SchemaDepartment.xml 不存在！已在环境变量 MORVENT_HOME 指定的 "
                                 f"{home} 中查找。")
    assert raised.value.result.warnings == [str(raised.value)]
    with pytest.raises(FileNotFoundError) as missing:
        morvent.write(tmp_path / "d.xml", Kind.DEPARTMENT, [])
    assert str(missing.value) == str(raised.value) and not (tmp_path / "d.xml").exists()


def test_import_warnings_are_collected(empty, data):
    records = morvent.read(data / "Department.xml", Kind.DEPARTMENT)
    morvent.write(data / "Department.xml", Kind.DEPARTMENT, records + [records[0]])
    result = empty.import_(Kind.DEPARTMENT, data / "Department.xml")
    assert result.warnings == [f"第 1 条和第 {len(records) + 1} 条记录的代码都是“{records[0]['Number']}”：后一条记录遇到的是"
                               "前一条引入的对象，按引入方式保留或覆盖它"]
    assert result.kept == 1


def test_export_replaces_a_file_only_when_told(demo, tmp_path):
    file = tmp_path / "Currency.xml"
    file.write_text("old")
    with pytest.raises(FileExistsError) as refused:
        demo.export(Kind.CURRENCY, file)
    assert str(refused.value) == f"目标文件已存在：{file}（要覆盖请用 overwrite=True）"
    assert file.read_text() == "old"
    assert demo.export(Kind.CURRENCY, file, overwrite=True).rows == len(morvent.read(file, Kind.CURRENCY))
    with pytest.raises(FileExistsError) as all_refused:
        demo.export_all(tmp_path)
    assert str(all_refused.value) == "文件夹中已有 1 个数据文件（要覆盖请用 overwrite=True）：Currency.xml"
    assert len(demo.export_all(tmp_path, overwrite=True).kinds) == len(Kind)


def test_a_ledger_is_a_context_manager_closed_at_the_end(demo, tmp_path):
    with morvent.Ledger(demo.path) as ledger:
        assert ledger.kind == "QY" and not ledger.closed
    assert ledger.closed
    with pytest.raises(ValueError) as closed:
        ledger.export(Kind.CURRENCY, tmp_path / "c.xml")
    assert str(closed.value) == "账套对象已关闭"


def test_the_ledger_kind_is_read_from_the_ledger_or_given(tmp_path):
    gy = morvent.create_ledger(tmp_path / "gy.db", "GY")
    assert gy.kind == "GY"
    assert morvent.Ledger(gy.path, kind="QY").kind == "QY"


def test_a_failure_of_the_library_raises_its_error(tmp_path):
    junk = tmp_path / "junk.db"
    junk.write_text("not a ledger")
    with pytest.raises(morvent.Error) as raised:
        morvent.Ledger(junk)
    assert (raised.value.number, raised.value.source, raised.value.description) == \
        (-2147217408, "MorventLedger", f"不是账套文件：{junk}")


def test_a_ledger_of_the_schema_before_raises_with_the_command_that_upgrades_it(tmp_path):
    old = tmp_path / "old.db"
    shutil.copyfile(Path(__file__).parent.parent / "fixtures" / "ledger_v1" / "ledger.db", old)
    with pytest.raises(morvent.Error) as raised:
        morvent.Ledger(old)
    path = os.path.realpath(old)
    assert raised.value.description == f"账套 {path} 的结构版本为 1，需要先运行“morvent ledger upgrade {path}”升级到版本 2"


def usage_errors(tmp_path, demo):
    missing = tmp_path / "missing.xml"
    return [
        (lambda: morvent.Ledger(tmp_path / "none.db"), FileNotFoundError, f"账套文件不存在：{tmp_path / 'none.db'}"),
        (lambda: morvent.Ledger(""), ValueError, "需要账套文件"),
        (lambda: morvent.Ledger(tmp_path / "a=b.db"), FileNotFoundError, f"账套文件不存在：{tmp_path / 'a=b.db'}"),
        (lambda: morvent.Ledger(demo.path, kind=" "), ValueError, "账套类型应为非空文本，如 \"QY\" 或 \"GY\"，而不是 ' '"),
        (lambda: morvent.Ledger(demo.path, kind="Q;Y}"), ValueError,
         "属性串无法原样容纳这个值（含有 ; 又含有 }）：「Q;Y}」"),
        (lambda: morvent.create_ledger(demo.path), FileExistsError, f"文件已存在：{demo.path}"),
        (lambda: morvent.create_ledger(tmp_path / "no" / "x.db"), FileNotFoundError,
         f"文件夹不存在：{tmp_path / 'no'}"),
        (lambda: demo.import_(Kind.ACCOUNT_TYPE, missing), ValueError, "科目大类（101）只能导出，不能引入"),
        (lambda: demo.import_(Kind.CURRENCY, missing), FileNotFoundError, f"数据文件不存在：{missing}"),
        (lambda: demo.import_(Kind.CURRENCY, tmp_path), FileNotFoundError, f"数据文件不存在：{tmp_path}"),
        (lambda: demo.import_all(tmp_path / "nowhere"), FileNotFoundError, f"文件夹不存在：{tmp_path / 'nowhere'}"),
        (lambda: demo.export(Kind.CURRENCY, tmp_path / "no" / "c.xml"), FileNotFoundError,
         f"文件夹不存在：{tmp_path / 'no'}"),
        (lambda: demo.export("Nothing", tmp_path / "c.xml"), ValueError, "未知的基础资料类型：Nothing"),
        (lambda: demo.export(Kind.CURRENCY, tmp_path / "c.xml", on_error="skip"), ValueError,
         "on_error 应为 \"pass\"、\"stop\" 或可调用对象，而不是 'skip'"),
        (lambda: demo.export(Kind.CURRENCY, tmp_path / "c.xml", progress=3), TypeError, "progress 应为可调用对象或 None"),
        (lambda: demo.import_all(tmp_path, imp_style=3), ValueError, "imp_style 应为 1 或 2，而不是 3"),
        (lambda: demo.import_all(tmp_path, coding_style=True), ValueError, "coding_style 应为 1 或 2，而不是 True"),
    ]


def test_usage_errors_raise_before_any_work(demo, tmp_path):
    for call, error, message in usage_errors(tmp_path, demo):
        with pytest.raises(error) as raised:
            call()
        assert str(raised.value) == message
    assert sorted(os.listdir(tmp_path)) == ["demo.db", "home"]
