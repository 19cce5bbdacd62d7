#pragma once
// How the tool shows a run: a progress bar with errors above it on a
// terminal, plain lines otherwise, or one JSON object per event.
//
// Output that can no longer be written (a reader that went away) answers
// the next event's cancel, so the run stops cleanly instead of going on
// unseen; the tool then says so and exits with a status other than 0.
#include <chrono>
#include <cstdint>
#include <memory>
#include <ostream>
#include <optional>
#include <string>

#include "front/import_base.h"
#include "platform/msgbox.h"

namespace morvent::cli {

enum class EventFormat { Text, Jsonl };

class Reporter {
 public:
  Reporter(EventFormat format, std::string kindTitle, bool exporting);

  // Each shows the event and sets Cancel once the output is lost.
  void Row(int32_t lRow, double dblRate, bool& Cancel);
  void ErrorEvent(const std::string& sErrMsg, bool& Cancel);
  void Warning(const std::string& text);
  // Answers the answer to show, No once the output is lost.
  bool Question(const std::string& text, bool answer);
  // Why a call answered False with nothing else to show for it: a warning
  // line, without the bell of a message box.
  void Notice(const std::string& text);
  void Result(bool value);
  // An import's outcome counts, shown from then on in the result line and
  // in the summary.
  void SetImportCounts(const ImportCounts& counts) { counts_ = counts; }
  // One kind's line of a whole-ledger run, with --events jsonl (the text
  // result line already says as much).
  void Summary(int32_t code, const std::string& element, int status);
  // A failure that left the call as an error.
  void Failure(const std::string& description);
  void Diagnostic(const std::string& text);

  int32_t Errors() const { return errors_; }
  // Events shown so far: rows, errors, warnings, questions.
  int32_t Events() const { return events_; }
  // Whether a write failed, and why (the system's text).
  bool OutputLost() const { return !lostReason_.empty(); }
  const std::string& LostReason() const { return lostReason_; }
  int32_t Rows() const { return rows_; }
  double Seconds() const;

 private:
  void ClearBar();
  void Json(const std::string& line);
  void Text(const std::string& line);
  void Check(std::ostream& out);
  EventFormat format_;
  std::string kindTitle_;
  bool exporting_;
  bool terminal_;
  bool barShown_ = false;
  int32_t rows_ = 0;
  int32_t errors_ = 0;
  int32_t events_ = 0;
  std::string lostReason_;
  std::optional<ImportCounts> counts_;
  std::chrono::steady_clock::time_point start_;
};

// Message boxes of the tool: warnings and questions go to the reporter; a
// question is answered Yes only with --overwrite or by the user on a
// terminal.
class ToolBoxes : public MessageBoxes {
 public:
  ToolBoxes(Reporter& reporter, bool overwrite, bool interactive)
      : reporter_(reporter), overwrite_(overwrite), interactive_(interactive) {}
  void Warning(const std::string& text) override;
  bool Question(const std::string& text) override;

 private:
  Reporter& reporter_;
  bool overwrite_;
  bool interactive_;
};

}  // namespace morvent::cli
