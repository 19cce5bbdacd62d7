#include "cli/reporter.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "platform/text.h"

namespace morvent::cli {

namespace {
void PrintJson(const nlohmann::ordered_json& j) {
  std::cout << j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << std::endl;
}
// A whole rate prints without a fraction.
nlohmann::ordered_json Number(double d) {
  if (std::floor(d) == d && std::fabs(d) < 1e15) return static_cast<int64_t>(d);
  return d;
}
// CR inside messages would garble a terminal line.
std::string ForTerminal(const std::string& s) { return Replace(s, "\r", "\n  "); }
}  // namespace

Reporter::Reporter(EventFormat format, std::string kindTitle, bool exporting)
    : format_(format),
      kindTitle_(std::move(kindTitle)),
      exporting_(exporting),
      terminal_(isatty(STDERR_FILENO)),
      start_(std::chrono::steady_clock::now()) {}

void Reporter::ClearBar() {
  if (barShown_) {
    std::cerr << "\r\033[K";
    barShown_ = false;
  }
}

void Reporter::Row(int32_t lRow, double dblRate, bool cancel) {
  rows_ = lRow;
  if (format_ == EventFormat::Jsonl) {
    PrintJson({{"event", exporting_ ? "ExportOneRow" : "ImportOneRow"}, {"lRow", lRow}, {"dblRate", Number(dblRate)}});
    (void)cancel;
    return;
  }
  if (!terminal_) return;
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  int width = 30;
  int filled = static_cast<int>(std::clamp(dblRate, 0.0, 100.0) * width / 100);
  char rate[64];
  std::snprintf(rate, sizeof rate, "%.0f 行/秒", secs > 0 ? lRow / secs : 0.0);
  std::cerr << "\r" << kindTitle_ << " [" << std::string(static_cast<size_t>(filled), '#')
            << std::string(static_cast<size_t>(width - filled), '.') << "] " << lRow << " 行 "
            << static_cast<int>(dblRate) << "% " << rate << "\033[K" << std::flush;
  barShown_ = true;
}

void Reporter::ErrorEvent(const std::string& sErrMsg, bool cancel) {
  ++errors_;
  if (format_ == EventFormat::Jsonl) {
    PrintJson({{"event", "Error"}, {"sErrMsg", sErrMsg}, {"cancel", cancel}});
    return;
  }
  ClearBar();
  std::cerr << "错误：" << ForTerminal(sErrMsg) << (cancel ? "（已停止）" : "（已跳过）") << std::endl;
}

void Reporter::Warning(const std::string& text) {
  if (format_ == EventFormat::Jsonl) {
    PrintJson({{"event", "Warning"}, {"text", text}});
    return;
  }
  ClearBar();
  std::cerr << "\a警告：" << ForTerminal(text) << std::endl;
}

void Reporter::Question(const std::string& text, bool answer) {
  if (format_ == EventFormat::Jsonl) {
    PrintJson({{"event", "Question"}, {"text", text}, {"answer", answer ? "yes" : "no"}});
    return;
  }
  ClearBar();
  std::cerr << "询问：" << text << " → " << (answer ? "是" : "否") << std::endl;
}

void Reporter::Result(bool value) {
  if (format_ == EventFormat::Jsonl) {
    PrintJson({{"event", "Result"}, {"value", value}});
    return;
  }
  ClearBar();
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  char t[32];
  std::snprintf(t, sizeof t, "%.2f", secs);
  std::cerr << kindTitle_ << (exporting_ ? " 导出" : " 引入") << (value ? "完成" : "未完成") << "：" << rows_ << " 行，"
            << errors_ << " 个错误，用时 " << t << " 秒" << std::endl;
}

void Reporter::Failure(const std::string& description) {
  ClearBar();
  std::cerr << "失败：" << ForTerminal(description) << std::endl;
}

void Reporter::Diagnostic(const std::string& text) {
  ClearBar();
  std::cerr << "诊断：" << text << std::endl;
}

void ToolBoxes::Warning(const std::string& text) { reporter_.Warning(text); }

bool ToolBoxes::Question(const std::string& text) {
  bool answer = overwrite_;
  if (!answer && interactive_ && isatty(STDIN_FILENO)) {
    std::cerr << text << " [y/N] " << std::flush;
    std::string line;
    answer = std::getline(std::cin, line) && (line == "y" || line == "Y" || line == "yes" || line == "是");
  }
  reporter_.Question(text, answer);
  return answer;
}

}  // namespace morvent::cli
