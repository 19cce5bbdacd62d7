#pragma once
// How the tool shows a run: a progress bar with errors above it on a
// terminal, plain lines otherwise, or one JSON object per event.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/msgbox.h"

namespace morvent::cli {

enum class EventFormat { Text, Jsonl };

class Reporter {
 public:
  Reporter(EventFormat format, std::string kindTitle, bool exporting);

  void Row(int32_t lRow, double dblRate, bool cancel);
  void ErrorEvent(const std::string& sErrMsg, bool cancel);
  void Warning(const std::string& text);
  void Question(const std::string& text, bool answer);
  void Result(bool value);
  // A failure that left the call as an error.
  void Failure(const std::string& description);
  void Diagnostic(const std::string& text);

 private:
  void ClearBar();
  EventFormat format_;
  std::string kindTitle_;
  bool exporting_;
  bool terminal_;
  bool barShown_ = false;
  int32_t rows_ = 0;
  int32_t errors_ = 0;
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
