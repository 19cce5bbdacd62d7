#pragma once
// How the tool shows a run: a progress bar with errors above it on a
// terminal; otherwise errors and progress lines paced by ProgressPace
// (cli/pace.h), so a log file does not fill with rows; or one JSON object
// per event. Quiet text output shows no progress at all.
//
// Output that can no longer be written (a reader that went away), and
// Ctrl-C (cli/signals.h), answer the next event's cancel, so the run stops
// cleanly instead of going on unseen; the tool then says so and exits with
// a status other than 0.
//
// Every error that belongs to a record names its row in the file. A walk
// raises a record's row event after the record's work, so an error belongs
// to the row after the last row event; an error before the first row event
// or after the last one (reading the file, writing it, a lost ledger write)
// names no record and has no row.
//
// Beside an error's message, what the library knows of it: with
// --events jsonl the fields "element", "number" (the record's), "key",
// "value", "kind" (what the value should have been: number, date, flag,
// range, object, text) and "hint"; as text, one line such as
// "键 CreditAmount 的值“5万”不是数字" and a "提示：" line.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "cli/pace.h"
#include "front/import_base.h"
#include "platform/msgbox.h"

namespace morvent::cli {

enum class EventFormat { Text, Jsonl };

class Reporter {
 public:
  Reporter(EventFormat format, std::string kindTitle, bool exporting, bool quiet = false);

  // Each shows the event and sets Cancel once the output is lost, the
  // ledger is in use by another program or after Ctrl-C.
  void Row(int32_t lRow, double dblRate, bool& Cancel);
  // detail: what the library says the failure was about (its
  // CurrentErrorDetail), shown beside the message.
  void ErrorEvent(const std::string& sErrMsg, bool& Cancel, const ErrorDetail* detail = nullptr);
  void Warning(const std::string& text);
  // Answers the answer to show, No once the output is lost or after Ctrl-C.
  bool Question(const std::string& text, bool answer);
  // Why a call answered False with nothing else to show for it: a warning
  // line, without the bell of a message box.
  void Notice(const std::string& text);
  void Result(bool value);
  // An import's outcome counts, shown from then on in the result line and
  // in the summary.
  void SetImportCounts(const ImportCounts& counts) { counts_ = counts; }
  // The records an export's file holds, counted in the result line and the
  // summary beside the rows, which for some kinds count groups.
  void SetFileRecords(std::string element, std::optional<int64_t> records) {
    element_ = std::move(element);
    fileRecords_ = records;
  }
  // One kind's line of a whole-ledger run, with --events jsonl (the text
  // result line already says as much).
  void Summary(int32_t code, const std::string& element, int status);
  // A failure that left the call as an error.
  void Failure(const std::string& description);
  void Diagnostic(const std::string& text);
  // After a run Ctrl-C stopped, what it kept: an import the records stored
  // so far, an export no file, a dry run nothing. On stderr in every format.
  void Interruption(bool dryRun);
  // Advice of the tool's own, on stderr in every format (the JSON events
  // stay the library's): "提示：" and the text.
  void Hint(const std::string& text);

  int64_t Errors() const { return errors_; }
  int64_t Warnings() const { return warnings_; }
  // Warnings about the file's content (a number given twice…), not the
  // notices of keys this ledger never reads, which every exported file
  // draws.
  int64_t FileWarnings() const { return fileWarnings_; }
  // What the run handled: an export's file records when counted, else rows.
  int64_t Records() const { return fileRecords_.value_or(rows_); }
  // Events shown so far: rows, errors, warnings, questions.
  int64_t Events() const { return events_; }
  // Whether a write failed, and why (the system's text).
  bool OutputLost() const { return !lostReason_.empty(); }
  const std::string& LostReason() const { return lostReason_; }
  int32_t Rows() const { return rows_; }
  // Rows handled without an error of their own: for an import, the records
  // that are in the ledger when the run stops.
  int64_t RowsWithoutError() const { return rows_ - failedRows_; }
  // Whether an error or failure said that another program holds the
  // ledger: the kinds after this one would only wait for it in vain.
  bool LedgerInUse() const { return ledgerInUse_; }
  // Whether an error's description says another program holds the ledger.
  static bool SaysLedgerInUse(const std::string& description);
  // Whether Ctrl-C answered a cancel.
  bool StoppedByInterrupt() const { return stoppedByInterrupt_; }
  // Whether an error said that an undotted number does not match its
  // undotted parent: numbers written for "CodingStyle" 2.
  bool SawUndottedNumbers() const { return undotted_; }
  double Seconds() const;

 private:
  void ClearBar();
  void Json(const std::string& line);
  void Text(const std::string& line);
  void Check(std::ostream& out);
  void Progress(int32_t lRow, double dblRate);
  // Sets Cancel when the run must stop whatever the client answered.
  void MustStop(bool& Cancel);
  std::optional<int32_t> ErrorRow(const std::string& sErrMsg) const;
  EventFormat format_;
  std::string kindTitle_;
  bool exporting_;
  bool quiet_;
  bool terminal_;
  bool barShown_ = false;
  int32_t rows_ = 0;
  double lastRate_ = 0;
  int64_t errors_ = 0;
  int64_t warnings_ = 0;
  int64_t fileWarnings_ = 0;
  int64_t events_ = 0;
  int64_t failedRows_ = 0;
  int32_t failedRow_ = 0;
  bool stoppedByInterrupt_ = false;
  bool ledgerInUse_ = false;
  bool undotted_ = false;
  std::string lostReason_;
  std::optional<ImportCounts> counts_;
  std::string element_;
  std::optional<int64_t> fileRecords_;
  std::chrono::steady_clock::time_point start_;
  ProgressPace pace_;
};

// Message boxes of the tool: warnings and questions go to the reporter; a
// question is answered Yes only with --overwrite or by the user on a
// terminal. A No because nobody could be asked is followed, once per
// process, by a hint naming --overwrite.
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

// Whether an error event says that a number without dots does not match a
// parent number without dots that it contains: the mismatch undotted
// numbers meet under "CodingStyle" 1, and that "CodingStyle" 2 accepts.
bool IsUndottedMismatch(const std::string& sErrMsg);

}  // namespace morvent::cli
