#include "python/src/runs.h"

#include <iostream>
#include <memory>
#include <mutex>
#include <optional>

#include "front/exchange_log.h"
#include "front/export_base.h"
#include "platform/msgbox.h"

namespace morvent::python {

namespace {

// The run on this thread, for the process-wide boxes and sink: events and
// boxes are raised on the caller's thread, inside the call.
struct Current {
  RunReport* report = nullptr;
  bool overwrite = false;
  std::vector<std::string>* questions = nullptr;
};
thread_local Current current;

class Scope {
 public:
  Scope(RunReport& report, bool overwrite, std::vector<std::string>& questions) : saved_(current) {
    current = {&report, overwrite, &questions};
  }
  ~Scope() { current = saved_; }

 private:
  Current saved_;
};

// Warnings become the run's; outside a run of this module (another thread
// of the host using the library) the boxes found at install answer.
class RunBoxes : public MessageBoxes {
 public:
  explicit RunBoxes(std::shared_ptr<MessageBoxes> outside) : outside_(std::move(outside)) {}
  void Warning(const std::string& text) override {
    if (!current.report) return outside_->Warning(text);
    current.report->warnings.push_back(text);
  }
  bool Question(const std::string& text) override {
    if (!current.report) return outside_->Question(text);
    current.questions->push_back(text);
    return current.overwrite;
  }

 private:
  std::shared_ptr<MessageBoxes> outside_;
};

// Calls into Python with the lock held. What the script raises cancels the
// call and is kept for the caller; nothing more is called once it raised.
template <class F>
void CallPython(RunReport& report, bool& cancel, F&& call) {
  if (report.raised) {
    cancel = true;
    return;
  }
  py::gil_scoped_acquire gil;
  try {
    call();
    // Ctrl-C reaches the interpreter as a flag only it looks at, so it
    // stops a run at its next callback.
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
  } catch (...) {
    report.raised = std::current_exception();
    cancel = true;
  }
}

RunError Describe(int32_t code, const std::string& message, const ErrorDetail* d) {
  RunError e;
  e.code = code;
  e.message = message;
  if (!d) return e;
  e.row = d->row;
  e.number = d->number;
  e.key = d->key;
  e.value = d->value;
  e.valueIsNull = d->valueIsNull;
  e.expected = ErrorDetail::KindName(d->expected);
  e.hint = d->hint;
  e.line = d->Line();
  return e;
}

// The events of one kind's call, shared by export and import.
struct Events {
  RunReport& report;
  const RunOptions& options;
  bool hasProgress, hasOnError;
  int32_t code;
  KindOutcome& outcome;
  std::string stoppedBy;  // the error left cancelled

  // Without a callback the lock is not taken at all: waiting for it behind
  // a busy Python thread would cost a switch interval a record.
  void Row(int32_t row, double rate, bool& cancel) {
    ++outcome.rows;
    if (hasProgress) CallPython(report, cancel, [&] { options.progress(code, row, rate); });
  }
  void Error(const std::string& message, const ErrorDetail* detail, bool& cancel) {
    report.errors.push_back(Describe(code, message, detail));
    if (hasOnError)
      CallPython(report, cancel, [&] { cancel = py::cast<bool>(options.onError(ErrorTuple(report.errors.back()))); });
    else
      cancel = options.stopAtFirst;
    if (cancel && stoppedBy.empty()) stoppedBy = message;
  }
};

// Why a kind answered False, in one line.
std::string WhyFalse(const Events& events, size_t warningsBefore, const std::vector<std::string>& questions) {
  if (!events.stoppedBy.empty()) return events.stoppedBy;
  const auto& warnings = events.report.warnings;
  if (warnings.size() > warningsBefore) return warnings.back();
  if (!questions.empty()) return questions.back() + " → 否";
  return "调用返回 False，没有任何事件说明原因";
}

template <class Call>
RunReport RunKinds(const std::vector<int32_t>& codes, const std::vector<std::string>& files, const RunOptions& options,
                   bool dryRun, Call&& call) {
  RunReport report;
  const bool hasProgress = !options.progress.is_none(), hasOnError = !options.onError.is_none();
  {
    py::gil_scoped_release release;
    std::vector<std::string> questions;
    Scope scope(report, options.overwrite, questions);
    try {
      std::optional<DryRun> dry;
      if (dryRun) dry.emplace();
      for (size_t i = 0; i < codes.size() && report.ok; ++i) {
        KindOutcome& outcome = report.kinds.emplace_back();
        outcome.code = codes[i];
        Events events{report, options, hasProgress, hasOnError, codes[i], outcome, {}};
        const size_t warningsBefore = report.warnings.size();
        questions.clear();
        outcome.ok = call(events, files[i], outcome);
        if (!outcome.ok) {
          report.ok = false;
          report.why = WhyFalse(events, warningsBefore, questions);
        }
      }
      if (dry) dry->Finish();
    } catch (...) {
      report.ok = false;
      if (!report.raised) report.raised = std::current_exception();
    }
  }
  return report;
}

}  // namespace

py::tuple ErrorTuple(const RunError& e) {
  return py::make_tuple(e.code, e.row, e.number, e.key, e.valueIsNull ? py::object(py::none()) : py::str(e.value),
                        e.message, e.expected, e.hint, e.line);
}

void InstallRunBoxes() {
  static std::once_flag once;
  std::call_once(once, [] {
    SetMessageBoxes(std::make_shared<RunBoxes>(CurrentMessageBoxes()));
    auto outside = std::make_shared<DiagnosticSink>();
    *outside = SetDiagnosticSink([outside](const std::string& message) {
      if (current.report)
        current.report->warnings.push_back(message);
      else if (*outside)
        (*outside)(message);
      else
        std::cerr << message << std::endl;
    });
  });
}

RunReport RunExport(const std::string& props, const std::vector<int32_t>& codes, const std::vector<std::string>& files,
                    const RunOptions& options) {
  return RunKinds(codes, files, options, false, [&](Events& events, const std::string& file, KindOutcome&) {
    ExportBase exp;
    exp.ExportOneRow = [&](int32_t row, double rate, bool& cancel) { events.Row(row, rate, cancel); };
    exp.Error = [&](const std::string& message, bool& cancel) {
      events.Error(message, exp.CurrentErrorDetail(), cancel);
    };
    return exp.ExportXMLData(props, events.code, file);
  });
}

RunReport RunImport(const std::string& props, const std::vector<int32_t>& codes, const std::vector<std::string>& files,
                    const RunOptions& options) {
  return RunKinds(codes, files, options, options.dryRun, [&](Events& events, const std::string& file,
                                                             KindOutcome& outcome) {
    ImportBase imp;
    imp.ImportOneRow = [&](int32_t row, double rate, bool& cancel) { events.Row(row, rate, cancel); };
    imp.Error = [&](const std::string& message, bool& cancel) {
      events.Error(message, imp.CurrentErrorDetail(), cancel);
    };
    DataRecord dict;
    dict.SetValue("ImpStyle", options.impStyle);
    dict.SetValue("CodingStyle", options.codingStyle);
    const bool ok = imp.ImportXMLData(props, events.code, file, &dict);
    outcome.imported = true;
    outcome.counts = imp.LastCounts();
    return ok;
  });
}

}  // namespace morvent::python
