"""Moving a ledger's base data between the ledger and XML data files.

    import morvent

    with morvent.Ledger("books.db") as ledger:
        trial = ledger.import_(morvent.Kind.DEPARTMENT, "Department.xml", dry_run=True)
        for e in trial.errors:
            print(e.row, e.key, e.message)
        ledger.import_("Department", "Department.xml")
        ledger.export_all("out")

Every export and import releases the interpreter's lock while the library
works; callbacks run on the calling thread. Errors inside a run are let pass
and collected unless ``on_error="stop"`` or the error callback says stop; a
run that stopped raises :class:`Stopped` carrying its :class:`Result`.
"""

from __future__ import annotations

import enum
import os
import re
from dataclasses import dataclass, field
from typing import Any, Callable, Iterable, Optional, Union

from . import _morvent
from ._morvent import Error

Error.__module__ = __name__

__all__ = [
    "Kind", "Ledger", "Result", "KindResult", "RunError", "Error", "Stopped",
    "read", "write", "create_ledger", "program_directory", "schema_directories", "schema_path", "log_path",
]


def _member_name(element: str) -> str:
    # "MeasureUnitGroup" -> "MEASURE_UNIT_GROUP"
    return re.sub(r"(?<!^)(?=[A-Z])", "_", element).upper()


class _KindBase(enum.IntEnum):
    @property
    def element(self) -> str:
        """The data file's element name, "Department"; the file is ELEMENT.xml in a folder."""
        return _KIND_TABLE[self.value][0]

    @property
    def title(self) -> str:
        """What people call the kind, "部门"."""
        return _KIND_TABLE[self.value][1]

    @property
    def importable(self) -> bool:
        """False for a kind that is exported only (account types)."""
        return _KIND_TABLE[self.value][2]

    @classmethod
    def of(cls, kind: Union["Kind", int, str]) -> "Kind":
        """The kind given as a member, a code (120 or "120"), an element name in any
        letter case ("Department"), a member name ("DEPARTMENT") or a title ("部门").
        Raises ValueError for anything else."""
        if isinstance(kind, cls):
            return kind
        if isinstance(kind, bool) or not isinstance(kind, (int, str)):
            raise TypeError(f"基础资料类型应为 Kind、代码或名称，而不是 {type(kind).__name__}")
        if isinstance(kind, int):
            if kind in _KIND_TABLE:
                return cls(kind)
        else:
            text = kind.strip()
            # A code however written ("0120"), as the tool takes it.
            code = int(text) if text.isascii() and text.isdigit() else _morvent.find_kind(text)
            if code is not None and code in _KIND_TABLE:
                return cls(code)
            for member in cls:
                if text.upper() == member.name or text == member.title:
                    return member
        raise ValueError(f"未知的基础资料类型：{kind}")


_KIND_TABLE = {code: (element, title, importable) for code, element, title, importable, served
               in _morvent.kinds() if served}

Kind = _KindBase("Kind", [(_member_name(element), code) for code, (element, _, _) in _KIND_TABLE.items()],
                 module=__name__)
Kind.__doc__ = "The kinds of base data, valued by their codes (Kind.DEPARTMENT == 120)."

KindLike = Union[Kind, int, str]


@dataclass(frozen=True)
class RunError:
    """One error of a run: the Error event's message and what it was about."""
    kind: Kind
    row: int          # the record's row in the data file (0: not about a record)
    number: str       # the record's Number, or the key it is matched by
    key: str          # the key whose value failed; "Sub/Key" in a nested record
    value: Optional[str]  # that value as text (cut to 100 characters); None for nil
    message: str      # the event's message, as the exchange log keeps it
    expected: str = ""  # "number", "date", "flag", "range", "object", "text" or ""
    hint: str = ""      # a remedy in one line
    line: str = ""      # the whole in one line: 键 CreditAmount 的值“5万”不是数字


@dataclass(frozen=True)
class KindResult:
    """What one kind's export or import did."""
    kind: Kind
    ok: bool
    rows: int = 0          # progress events: records exported, or handled by the import
    created: int = 0
    kept: int = 0
    overwritten: int = 0
    failed: int = 0
    bare_parents: int = 0


@dataclass
class Result:
    """The outcome of a call: counts summed over its kinds, every error and
    warning, each kind's own result and the kinds a whole-ledger run left out."""
    ok: bool = True
    created: int = 0
    kept: int = 0
    overwritten: int = 0
    failed: int = 0
    bare_parents: int = 0
    rows: int = 0
    errors: list[RunError] = field(default_factory=list)
    warnings: list[str] = field(default_factory=list)
    kinds: list[KindResult] = field(default_factory=list)
    skipped: list[tuple[Kind, str]] = field(default_factory=list)
    dry_run: bool = False

    @property
    def counts(self) -> dict[str, int]:
        """The record outcomes and bare parents as a dict."""
        return {"created": self.created, "kept": self.kept, "overwritten": self.overwritten,
                "failed": self.failed, "bare_parents": self.bare_parents}


class Stopped(Error):
    """A run that stopped before its end: an error not let pass, a warning that
    ended it (a missing schema, a data file the reader refused) or a refused
    overwrite. ``result`` holds what was done until then."""

    def __init__(self, message: str, result: Result):
        super().__init__(message)
        self.number = 0
        self.source = "morvent"
        self.description = message
        self.result = result


def _error(t: tuple) -> RunError:
    code, row, number, key, value, message, expected, hint, line = t
    return RunError(Kind(code), row, number, key, value, message, expected, hint, line)


def _result(raw: dict, skipped: list, dry_run: bool) -> Result:
    r = Result(ok=raw["ok"], warnings=list(raw["warnings"]), skipped=skipped, dry_run=dry_run,
               errors=[_error(t) for t in raw["errors"]])
    for code, ok, rows, imported, created, kept, overwritten, failed, bare in raw["kinds"]:
        r.kinds.append(KindResult(Kind(code), ok, rows, created, kept, overwritten, failed, bare))
        r.rows += rows
        r.created += created
        r.kept += kept
        r.overwritten += overwritten
        r.failed += failed
        r.bare_parents += bare
    if not r.ok:
        raise Stopped(raw["why"], r)
    return r


ProgressCallback = Callable[[Kind, int, float], Any]
ErrorCallback = Callable[[RunError], Any]
OnError = Union[str, ErrorCallback]


def _callbacks(progress: Optional[ProgressCallback], on_error: OnError):
    if progress is not None and not callable(progress):
        raise TypeError("progress 应为可调用对象或 None")
    step = None if progress is None else (lambda code, row, rate: progress(Kind(code), row, rate))
    if callable(on_error):
        return step, (lambda t: on_error(_error(t)) == "stop"), False
    if on_error not in ("pass", "stop"):
        raise ValueError(f"on_error 应为 \"pass\"、\"stop\" 或可调用对象，而不是 {on_error!r}")
    return step, None, on_error == "stop"


def _style(name: str, value: int) -> int:
    if isinstance(value, bool) or value not in (1, 2):
        raise ValueError(f"{name} 应为 1 或 2，而不是 {value!r}")
    return value


def _file_to_read(path: Union[str, os.PathLike]) -> str:
    path = os.fspath(path)
    if not os.path.isfile(path):
        raise FileNotFoundError(f"数据文件不存在：{path}")
    return path


def _folder(path: Union[str, os.PathLike]) -> str:
    path = os.fspath(path)
    if not os.path.isdir(path):
        raise FileNotFoundError(f"文件夹不存在：{path}")
    return path


def _server_source(source: str) -> bool:
    # A connection URI or a key/value connection string ("host=... dbname=...");
    # a file path holding "=" is still a path.
    return source.startswith(("postgresql://", "postgres://")) or re.match(r"\s*\w+\s*=", source) is not None


class Ledger:
    """A ledger named by its file (or a server's connection URI).

    ``kind`` is the ledger's kind ("QY", "GY", ...), which chooses the field set
    of customers, suppliers, departments, stocks and materials; None reads the
    kind the ledger file records. Use it as a context manager; after close()
    every call raises ValueError. Each call opens the ledger for its own
    time and closes it again, so two Ledger objects in two threads work at once.
    """

    def __init__(self, path_or_uri: Union[str, os.PathLike], kind: Optional[str] = None):
        source = os.fspath(path_or_uri)
        if not source:
            raise ValueError("需要账套文件")
        if not _server_source(source) and not os.path.isfile(source):
            raise FileNotFoundError(f"账套文件不存在：{source}")
        if kind is None:
            kind = _morvent.ledger_kind(source)
        elif not isinstance(kind, str) or not kind.strip():
            raise ValueError(f"账套类型应为非空文本，如 \"QY\" 或 \"GY\"，而不是 {kind!r}")
        try:
            self._props = _morvent.property_string(source, kind)
        except Error as e:
            raise ValueError(e.description) from None
        self.path = source
        self.kind = kind
        self._closed = False

    def __enter__(self) -> "Ledger":
        self._check()
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"morvent.Ledger({self.path!r}, kind={self.kind!r}{', closed' if self._closed else ''})"

    def close(self) -> None:
        """Ends the use of this object; the ledger itself needs no closing."""
        self._closed = True

    @property
    def closed(self) -> bool:
        return self._closed

    def _check(self) -> None:
        if self._closed:
            raise ValueError("账套对象已关闭")

    def export(self, kind: KindLike, path: Union[str, os.PathLike], *, overwrite: bool = False,
               progress: Optional[ProgressCallback] = None, on_error: OnError = "pass") -> Result:
        """Writes every object of one kind into the data file at path.

        An existing file raises FileExistsError unless overwrite; the file is
        written whole or not at all. progress(kind, row, rate) is called after
        each record; on_error is "pass" (collect errors and go on), "stop" or
        callable(RunError) answering "stop" to stop. What a callback raises
        cancels the run (nothing is written) and comes out of this call.
        """
        self._check()
        k = Kind.of(kind)
        path = os.fspath(path)
        folder = os.path.dirname(path) or "."
        if not os.path.isdir(folder):
            raise FileNotFoundError(f"文件夹不存在：{folder}")
        if os.path.exists(path) and not overwrite:
            raise FileExistsError(f"目标文件已存在：{path}（要覆盖请用 overwrite=True）")
        step, err, stop = _callbacks(progress, on_error)
        return _result(_morvent.export(self._props, [int(k)], [path], step, err, stop, overwrite), [], False)

    def import_(self, kind: KindLike, path: Union[str, os.PathLike], imp_style: int = 1, coding_style: int = 1,
                dry_run: bool = False, *, progress: Optional[ProgressCallback] = None,
                on_error: OnError = "pass") -> Result:
        """Reads the data file at path into the ledger, record by record.

        imp_style 1 keeps objects the ledger has, 2 overwrites them;
        coding_style 1: numbers carry the ledger's "." separators, 2: they do
        not and a child's number begins with its parent's. A dry run does all
        the work and stores nothing; its counts are those of the real run.
        Callbacks as for export(); what a callback raises cancels the run, and
        records stored before stay (in a dry run nothing stays).
        """
        self._check()
        k = Kind.of(kind)
        if not k.importable:
            raise ValueError(f"{k.title}（{int(k)}）只能导出，不能引入")
        path = _file_to_read(path)
        step, err, stop = _callbacks(progress, on_error)
        raw = _morvent.import_(self._props, [int(k)], [path], step, err, stop, _style("imp_style", imp_style),
                               _style("coding_style", coding_style), bool(dry_run))
        return _result(raw, [], bool(dry_run))

    def export_all(self, folder: Union[str, os.PathLike], *, overwrite: bool = False,
                   progress: Optional[ProgressCallback] = None, on_error: OnError = "pass") -> Result:
        """Exports every kind into folder (made when missing), one file
        ELEMENT.xml each, in import order. Existing files raise
        FileExistsError, naming them, unless overwrite. A kind that stops ends
        the run with Stopped."""
        self._check()
        folder = os.fspath(folder)
        os.makedirs(folder, exist_ok=True)
        kinds = [Kind(code) for code in _morvent.import_order() if code in _KIND_TABLE]
        files = [os.path.join(folder, k.element + ".xml") for k in kinds]
        present = [f for f in files if os.path.exists(f)]
        if present and not overwrite:
            raise FileExistsError(f"文件夹中已有 {len(present)} 个数据文件（要覆盖请用 overwrite=True）：" +
                                  "、".join(os.path.basename(f) for f in present))
        step, err, stop = _callbacks(progress, on_error)
        raw = _morvent.export(self._props, [int(k) for k in kinds], files, step, err, stop, overwrite)
        return _result(raw, [], False)

    def import_all(self, folder: Union[str, os.PathLike], imp_style: int = 1, coding_style: int = 1,
                   dry_run: bool = False, *, progress: Optional[ProgressCallback] = None,
                   on_error: OnError = "pass") -> Result:
        """Imports every ELEMENT.xml of folder in dependency order (assist data
        before the items using it, units before accounts, ...). Kinds without a
        file, and kinds that are exported only, are listed in result.skipped.
        A dry run covers all kinds at once: later kinds find what earlier ones
        would have stored. A kind that stops ends the run with Stopped."""
        self._check()
        folder = _folder(folder)
        codes, files, skipped = [], [], []
        for code in _morvent.import_order():
            if code not in _KIND_TABLE:
                continue
            k = Kind(code)
            file = os.path.join(folder, k.element + ".xml")
            if not k.importable:
                skipped.append((k, "只能导出"))
            elif not os.path.isfile(file):
                skipped.append((k, f"文件 {file} 不存在"))
            else:
                codes.append(code)
                files.append(file)
        step, err, stop = _callbacks(progress, on_error)
        raw = _morvent.import_(self._props, codes, files, step, err, stop, _style("imp_style", imp_style),
                               _style("coding_style", coding_style), bool(dry_run))
        return _result(raw, skipped, bool(dry_run))


def read(path: Union[str, os.PathLike], kind: KindLike) -> list[dict[str, Any]]:
    """The records of a data file of the kind, checked against its schema, as
    dicts in file order: values as text (None for nil), nested records as
    dicts, nested lists as lists of dicts. A file the reader refuses raises
    ValueError with its words (the file, the line, the problem)."""
    k = Kind.of(kind)
    return _morvent.read(_file_to_read(path), int(k))


def write(path: Union[str, os.PathLike], kind: KindLike, records: Iterable[dict[str, Any]]) -> int:
    """Writes records (dicts, as read() gives them) as a data file of the kind;
    answers how many. Values may be str, int, float, bool (written 1 or 0),
    datetime.date/datetime, decimal.Decimal or None (nil). Records the schema
    refuses, characters XML cannot hold and floats that are no finite number
    raise ValueError (other types TypeError) and leave the file as it was; an
    existing file is replaced."""
    k = Kind.of(kind)
    path = os.fspath(path)
    folder = os.path.dirname(path) or "."
    if not os.path.isdir(folder):
        raise FileNotFoundError(f"文件夹不存在：{folder}")
    if isinstance(records, (str, bytes, dict)):
        raise TypeError("records 应为记录（dict）的列表")
    return _morvent.write(path, int(k), list(records))


def create_ledger(path: Union[str, os.PathLike], kind: str = "QY", *, demo: bool = False) -> Ledger:
    """Creates a new ledger file (refusing an existing one with FileExistsError),
    filled with sample data when demo, and answers it opened."""
    path = os.fspath(path)
    if os.path.exists(path):
        raise FileExistsError(f"文件已存在：{path}")
    folder = os.path.dirname(path) or "."
    if not os.path.isdir(folder):
        raise FileNotFoundError(f"文件夹不存在：{folder}")
    _morvent.create_ledger(path, kind, demo)
    return Ledger(path)


def program_directory() -> str:
    """The program directory: MORVENT_HOME when set, else this package's folder."""
    return _morvent.program_directory()


def schema_directories() -> list[str]:
    """The folders schema files are looked for in, in order."""
    return _morvent.schema_directories()


def schema_path(kind: KindLike) -> str:
    """The schema file the kind's files are checked against."""
    return _morvent.schema_path(int(Kind.of(kind)))


def log_path() -> str:
    """Where the exchange log Morvent_log.xml is (or would be) written."""
    return _morvent.log_path()
