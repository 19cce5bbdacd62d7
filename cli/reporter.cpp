#include "cli/reporter.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>

#include "platform/text.h"

namespace morvent::cli {

namespace {
std::string Dump(const nlohmann::ordered_json& j) {
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}
// A whole rate prints without a fraction.
nlohmann::ordered_json Number(double d) {
  if (std::floor(d) == d && std::fabs(d) < 1e15) return static_cast<int64_t>(d);
  return d;
}
// Rates and seconds must not follow the process locale's decimal mark.
std::string Fixed(double d, int decimals) {
  std::array<char, 64> buf{};
  auto r = std::to_chars(buf.data(), buf.data() + buf.size(), d, std::chars_format::fixed, decimals);
  return std::string(buf.data(), r.ptr);
}
void AddCounts(nlohmann::ordered_json& j, const std::optional<ImportCounts>& c) {
  if (!c) return;
  j["created"] = c->created;
  j["kept"] = c->kept;
  j["overwritten"] = c->overwritten;
  j["failed"] = c->failed;
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
    errno = 0;
    std::cerr << "\r\033[K";
    Check(std::cerr);
    barShown_ = false;
  }
}

void Reporter::Check(std::ostream& out) {
  if (out.good() || OutputLost()) return;
  lostReason_ = std::strerror(errno ? errno : EIO);
}

void Reporter::Json(const std::string& line) {
  errno = 0;
  std::cout << line << std::endl;
  Check(std::cout);
}

void Reporter::Text(const std::string& line) {
  ClearBar();
  errno = 0;
  std::cerr << line << std::endl;
  Check(std::cerr);
}

void Reporter::Row(int32_t lRow, double dblRate, bool& Cancel) {
  rows_ = lRow;
  ++events_;
  if (format_ == EventFormat::Jsonl) {
    Json(Dump({{"event", exporting_ ? "ExportOneRow" : "ImportOneRow"}, {"lRow", lRow}, {"dblRate", Number(dblRate)}}));
  } else if (terminal_) {
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    int width = 30;
    int filled = static_cast<int>(std::clamp(dblRate, 0.0, 100.0) * width / 100);
    std::string rate = Fixed(secs > 0 ? lRow / secs : 0.0, 0) + " 行/秒";
    errno = 0;
    std::cerr << "\r" << kindTitle_ << " [" << std::string(static_cast<size_t>(filled), '#')
              << std::string(static_cast<size_t>(width - filled), '.') << "] " << lRow << " 行 "
              << static_cast<int>(dblRate) << "% " << rate << "\033[K" << std::flush;
    Check(std::cerr);
    barShown_ = true;
  }
  if (OutputLost()) Cancel = true;
}

void Reporter::ErrorEvent(const std::string& sErrMsg, bool& Cancel) {
  ++errors_;
  ++events_;
  if (OutputLost()) Cancel = true;
  if (format_ == EventFormat::Jsonl)
    Json(Dump({{"event", "Error"}, {"sErrMsg", sErrMsg}, {"cancel", Cancel}}));
  else
    Text("错误：" + ForTerminal(sErrMsg) + (Cancel ? "（已停止）" : "（已跳过）"));
  if (OutputLost()) Cancel = true;
}

void Reporter::Warning(const std::string& text) {
  ++events_;
  if (format_ == EventFormat::Jsonl)
    Json(Dump({{"event", "Warning"}, {"text", text}}));
  else
    Text("\a警告：" + ForTerminal(text));
}

void Reporter::Notice(const std::string& text) {
  if (format_ == EventFormat::Jsonl)
    Json(Dump({{"event", "Warning"}, {"text", text}}));
  else
    Text("警告：" + text);
}

bool Reporter::Question(const std::string& text, bool answer) {
  ++events_;
  if (OutputLost()) answer = false;
  if (format_ == EventFormat::Jsonl)
    Json(Dump({{"event", "Question"}, {"text", text}, {"answer", answer ? "yes" : "no"}}));
  else
    Text("询问：" + text + " → " + (answer ? "是" : "否"));
  return answer && !OutputLost();
}

void Reporter::Result(bool value) {
  if (format_ == EventFormat::Jsonl) {
    nlohmann::ordered_json j = {{"event", "Result"}, {"value", value}};
    AddCounts(j, counts_);
    Json(Dump(j));
    return;
  }
  std::string t = Fixed(Seconds(), 2);
  std::string counts;
  if (counts_)
    counts = "；新建 " + std::to_string(counts_->created) + " 条，保留 " + std::to_string(counts_->kept) + " 条，覆盖 " +
             std::to_string(counts_->overwritten) + " 条，失败 " + std::to_string(counts_->failed) + " 条";
  Text(kindTitle_ + (exporting_ ? " 导出" : " 引入") + (value ? "完成" : "未完成") + "：" + std::to_string(rows_) +
       " 行，" + std::to_string(errors_) + " 个错误，用时 " + t + " 秒" + counts);
}

double Reporter::Seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void Reporter::Summary(int32_t code, const std::string& element, int status) {
  if (format_ != EventFormat::Jsonl) return;
  nlohmann::ordered_json j = {{"event", "Summary"},
                              {"code", code},
                              {"element", element},
                              {"rows", rows_},
                              {"errors", errors_},
                              {"seconds", std::round(Seconds() * 100) / 100},
                              {"status", status}};
  AddCounts(j, counts_);
  Json(Dump(j));
}

void Reporter::Failure(const std::string& description) { Text("失败：" + ForTerminal(description)); }

void Reporter::Diagnostic(const std::string& text) { Text("诊断：" + text); }

void ToolBoxes::Warning(const std::string& text) { reporter_.Warning(text); }

bool ToolBoxes::Question(const std::string& text) {
  bool answer = overwrite_;
  if (!answer && interactive_ && isatty(STDIN_FILENO)) {
    std::cerr << text << " [y/N] " << std::flush;
    std::string line;
    answer = std::getline(std::cin, line) && (line == "y" || line == "Y" || line == "yes" || line == "是");
  }
  return reporter_.Question(text, answer);
}

}  // namespace morvent::cli
