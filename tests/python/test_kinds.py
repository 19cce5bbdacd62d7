import ast
import pathlib

import pytest

import morvent
from morvent import Kind

STUBS = pathlib.Path(morvent.__file__).with_name("__init__.pyi")


def test_kind_has_every_kind_of_the_code_table_valued_by_code():
    table = {code: element for code, element, _, _, served in morvent._morvent.kinds() if served}
    assert len(Kind) == 16
    assert {int(k): k.element for k in Kind} == table
    assert Kind.DEPARTMENT == 120 and Kind.DEPARTMENT.element == "Department" and Kind.DEPARTMENT.title == "部门"
    assert [k for k in Kind if not k.importable] == [Kind.ACCOUNT_TYPE]


def test_stubs_list_the_same_kinds_as_the_package():
    tree = ast.parse(STUBS.read_text(encoding="utf-8"))
    kind = next(n for n in tree.body if isinstance(n, ast.ClassDef) and n.name == "Kind")
    members = {t.id: node.value.value for node in kind.body if isinstance(node, ast.Assign)
               for t in node.targets}
    assert members == {k.name: int(k) for k in Kind}


def test_stubs_declare_every_public_name():
    tree = ast.parse(STUBS.read_text(encoding="utf-8"))
    declared = {n.name for n in tree.body if isinstance(n, (ast.ClassDef, ast.FunctionDef))}
    assert set(morvent.__all__) <= declared


@pytest.mark.parametrize("given", [Kind.DEPARTMENT, 120, "120", " 0120 ", "Department", "department",
                                   "DEPARTMENT", "部门"])
def test_kind_of_finds_a_kind_however_named(given):
    assert Kind.of(given) is Kind.DEPARTMENT


@pytest.mark.parametrize("given, error, message", [
    (109, ValueError, "未知的基础资料类型：109"),
    ("Departments", ValueError, "未知的基础资料类型：Departments"),
    ("", ValueError, "未知的基础资料类型："),
    (True, TypeError, "基础资料类型应为 Kind、代码或名称，而不是 bool"),
    (120.0, TypeError, "基础资料类型应为 Kind、代码或名称，而不是 float"),
])
def test_kind_of_refuses_what_names_no_kind(given, error, message):
    with pytest.raises(error) as e:
        Kind.of(given)
    assert str(e.value) == message
