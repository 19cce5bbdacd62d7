#pragma once
// The exports and imports the Python module runs: one kind or the whole
// ledger, with the interpreter's lock released while the library works and
// taken again only to call the script's callbacks, on the calling thread.
#include <pybind11/pybind11.h>

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "front/import_base.h"

namespace morvent::python {

namespace py = pybind11;

// What the script asked for, beside the ledger and the files.
struct RunOptions {
  py::object progress;    // None, or callable(code, row, rate)
  py::object onError;     // None, or callable(error tuple) -> True to stop
  bool stopAtFirst = false;  // without onError: stop at the first error
  bool overwrite = false;    // export: replace existing files
  int32_t impStyle = 1;
  int32_t codingStyle = 1;
  bool dryRun = false;
};

// One Error event with what the library knew of it.
struct RunError {
  int32_t code = 0;  // the kind being run
  int32_t row = 0;
  std::string number, key, value;
  bool valueIsNull = false;
  std::string expected, hint, line, message;
};

struct KindOutcome {
  int32_t code = 0;
  bool ok = false;
  int64_t rows = 0;  // progress events: records exported or handled
  bool imported = false;
  ImportCounts counts;
};

// The whole of one call. `raised` holds what a callback raised; the caller
// rethrows it once the lock is held again.
struct RunReport {
  bool ok = true;
  std::string why;  // a stopped run: the first error or warning, or the cause
  std::vector<KindOutcome> kinds;
  std::vector<RunError> errors;
  std::vector<std::string> warnings;
  std::exception_ptr raised;
};

// (code, row, number, key, value or None, message, expected, hint, line),
// as morvent.RunError takes it.
py::tuple ErrorTuple(const RunError& e);

// Installs the message boxes and diagnostic sink that hand warnings and the
// overwrite question to the run on the calling thread; once per process.
void InstallRunBoxes();

// Each runs the kinds of `codes` in order, kind i on files[i], with the
// lock released, and answers with it held. A kind that answers False ends
// the run there. An import with dryRun runs all kinds in one dry run.
RunReport RunExport(const std::string& props, const std::vector<int32_t>& codes, const std::vector<std::string>& files,
                    const RunOptions& options);
RunReport RunImport(const std::string& props, const std::vector<int32_t>& codes, const std::vector<std::string>& files,
                    const RunOptions& options);

}  // namespace morvent::python
