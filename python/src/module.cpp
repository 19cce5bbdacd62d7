// morvent._morvent: the library as the Python package `morvent` uses it.
// The Pythonic surface (Ledger, Kind, results) is morvent/__init__.py; this
// module only runs the library with the interpreter's lock released and
// hands back plain values.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "context/property_string.h"
#include "front/code_table.h"
#include "front/exchange_log.h"
#include "platform/error.h"
#include "platform/progdir.h"
#include "platform/registry.h"
#include "python/src/records.h"
#include "python/src/runs.h"
#include "store/ledger_admin.h"

namespace py = pybind11;
using namespace morvent;
using namespace morvent::python;

namespace {

py::dict ReportToPython(RunReport& report) {
  if (report.raised) std::rethrow_exception(report.raised);
  py::list kinds, errors;
  for (const KindOutcome& k : report.kinds)
    kinds.append(py::make_tuple(k.code, k.ok, k.rows, k.imported, k.counts.created, k.counts.kept,
                                k.counts.overwritten, k.counts.failed, k.counts.bareParents));
  for (const RunError& e : report.errors) errors.append(ErrorTuple(e));
  py::dict d;
  d["ok"] = report.ok;
  d["why"] = report.why;
  d["kinds"] = kinds;
  d["errors"] = errors;
  d["warnings"] = report.warnings;
  return d;
}

RunOptions Options(py::object progress, py::object onError, bool stopAtFirst) {
  RunOptions o;
  o.progress = std::move(progress);
  o.onError = std::move(onError);
  o.stopAtFirst = stopAtFirst;
  return o;
}

void CheckFiles(const std::vector<int32_t>& codes, const std::vector<std::string>& files) {
  if (codes.size() != files.size()) throw py::value_error("codes and files differ in length");
}

}  // namespace

PYBIND11_MODULE(_morvent, m) {
  m.doc() = "The Morvent library, as the morvent package runs it (use morvent, not this module).";
  EnsureComponentsRegistered();
  InstallRunBoxes();

  static py::exception<Error> error(m, "Error", PyExc_RuntimeError);
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const Error& e) {
      py::object instance = py::handle(error.ptr())(e.Description());
      instance.attr("number") = e.Number();
      instance.attr("source") = e.Source();
      instance.attr("description") = e.Description();
      PyErr_SetObject(error.ptr(), instance.ptr());
    }
  });

  m.def("kinds", [] {
    py::list list;
    for (const BaseType& b : BaseTypes())
      list.append(py::make_tuple(b.code, b.element, b.title, b.importable, static_cast<bool>(b.create)));
    return list;
  }, "(code, element, title, importable, served) of every kind, in the code table's order.");
  m.def("import_order", [] {
    std::vector<int32_t> codes;
    for (const BaseType* b : BaseTypesInImportOrder()) codes.push_back(b->code);
    return codes;
  }, "The codes in the order a whole ledger is imported in.");
  m.def("find_kind", [](const std::string& text) -> py::object {
    const BaseType* b = FindBaseType(text);
    return b ? py::object(py::int_(b->code)) : py::object(py::none());
  }, "The code of an element name (any case) or of a code written as text; None when unknown.");

  m.def("property_string", [](const std::string& path, const std::string& kind) {
    return LedgerPropertyString(path, kind);
  });
  m.def("ledger_kind", [](const std::string& path) {
    py::gil_scoped_release release;
    return LedgerKind(path);
  });
  m.def("create_ledger", [](const std::string& path, const std::string& kind, bool demo) {
    py::gil_scoped_release release;
    CreateLedger(path, kind);
    if (demo) FillDemoLedger(path);
  });

  m.def("export", [](const std::string& props, const std::vector<int32_t>& codes, const std::vector<std::string>& files,
                     py::object progress, py::object onError, bool stopAtFirst, bool overwrite) {
    CheckFiles(codes, files);
    RunOptions o = Options(std::move(progress), std::move(onError), stopAtFirst);
    o.overwrite = overwrite;
    RunReport report = RunExport(props, codes, files, o);
    return ReportToPython(report);
  });
  m.def("import_", [](const std::string& props, const std::vector<int32_t>& codes, const std::vector<std::string>& files,
                      py::object progress, py::object onError, bool stopAtFirst, int32_t impStyle,
                      int32_t codingStyle, bool dryRun) {
    CheckFiles(codes, files);
    RunOptions o = Options(std::move(progress), std::move(onError), stopAtFirst);
    o.impStyle = impStyle;
    o.codingStyle = codingStyle;
    o.dryRun = dryRun;
    RunReport report = RunImport(props, codes, files, o);
    return ReportToPython(report);
  });

  m.def("read", &ReadRecords);
  m.def("write", &WriteRecords);

  m.def("program_directory", &ProgramDirectory);
  m.def("schema_directories", &SchemaDirectories);
  m.def("schema_path", [](int32_t code) {
    const BaseType* b = FindBaseType(code);
    if (!b) throw py::value_error(std::to_string(code) + " 不是已分配的基础资料代码");
    return SchemaFilePath(b->schemaFile);
  });
  m.def("log_path", &ExchangeLogPath);
}
