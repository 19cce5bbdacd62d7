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

#include "cli/file_records.h"
#include "cli/signals.h"
#include "front/import_warnings.h"
#include "front/trap.h"
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
  // Not a record's outcome, so said only when there are any.
  if (c->bareParents > 0) j["bareParents"] = c->bareParents;
}
void AddDetail(nlohmann::ordered_json& j, const ErrorDetail& d) {
  if (!d.element.empty()) j["element"] = d.element;
  if (d.row > 0 || !d.number.empty()) j["number"] = d.number;
  if (d.AboutValue()) {
    if (!d.key.empty()) j["key"] = d.key;
    j["value"] = d.valueIsNull ? nlohmann::ordered_json() : nlohmann::ordered_json(d.value);
    j["kind"] = ErrorDetail::KindName(d.expected);
    j["detail"] = d.Line();
  }
  if (!d.hint.empty()) j["hint"] = d.hint;
}
// What the ledger says when another program holds it (open, statement or
// commit); nothing but waiting can help then.
constexpr std::string_view kLedgerInUse = "正被其他程序使用";

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}
}  // namespace

bool IsUndottedMismatch(const std::string& sErrMsg) {
  static const std::string kLead = "代码", kMid = " 与其上级代码", kTail = " 编码不一致，无法引入！";
  if (!EndsWith(sErrMsg, kTail)) return false;
  const size_t mid = sErrMsg.rfind(kMid);
  if (mid == std::string::npos) return false;
  const size_t lead = sErrMsg.rfind(kLead, mid);
  if (lead == std::string::npos) return false;
  const std::string number = sErrMsg.substr(lead + kLead.size(), mid - lead - kLead.size());
  const size_t from = mid + kMid.size();
  const std::string parent = sErrMsg.substr(from, sErrMsg.size() - kTail.size() - from);
  return !parent.empty() && number.size() > parent.size() && number.find(parent) != std::string::npos &&
         number.find('.') == std::string::npos && parent.find('.') == std::string::npos;
}

Reporter::Reporter(EventFormat format, std::string kindTitle, bool exporting, bool quiet)
    : format_(format),
      kindTitle_(std::move(kindTitle)),
      exporting_(exporting),
      quiet_(quiet),
      terminal_(isatty(STDERR_FILENO)),
      start_(std::chrono::steady_clock::now()),
      pace_(start_) {}

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

void Reporter::MustStop(bool& Cancel) {
  if (OutputLost() || ledgerInUse_) {
    Cancel = true;
  } else if (!Cancel && Interrupted()) {
    Cancel = true;
    stoppedByInterrupt_ = true;
  }
}

// A message the error trap composed names the current record after the
// prefix; before the first record and after the last that name is empty.
std::optional<int32_t> Reporter::ErrorRow(const std::string& sErrMsg) const {
  const std::string info = std::string(1, kCR) + kErrInfo + kCR;
  const size_t at = sErrMsg.find(info);
  if (at == std::string::npos) return std::nullopt;  // about the run, not a record
  const bool unnamed = EndsWith(sErrMsg.substr(0, at), "当前记录名称为：");
  if (unnamed && (rows_ == 0 || lastRate_ >= 100)) return std::nullopt;
  return rows_ + 1;
}

void Reporter::Progress(int32_t lRow, double dblRate) {
  if (quiet_) return;
  const auto now = std::chrono::steady_clock::now();
  if (!terminal_) {
    if (!pace_.Due(dblRate, now)) return;
    Text(kindTitle_ + (exporting_ ? " 导出 " : " 引入 ") + std::to_string(static_cast<int>(dblRate)) + "%，" +
         std::to_string(lRow) + " 行");
    return;
  }
  const double secs = std::chrono::duration<double>(now - start_).count();
  const int width = 30;
  const int filled = static_cast<int>(std::clamp(dblRate, 0.0, 100.0) * width / 100);
  const std::string rate = Fixed(secs > 0 ? lRow / secs : 0.0, 0) + " 行/秒";
  errno = 0;
  std::cerr << "\r" << kindTitle_ << " [" << std::string(static_cast<size_t>(filled), '#')
            << std::string(static_cast<size_t>(width - filled), '.') << "] " << lRow << " 行 "
            << static_cast<int>(dblRate) << "% " << rate << "\033[K" << std::flush;
  Check(std::cerr);
  barShown_ = true;
}

void Reporter::Row(int32_t lRow, double dblRate, bool& Cancel) {
  if (lRow == failedRow_) ++failedRows_;
  failedRow_ = 0;
  rows_ = lRow;
  lastRate_ = dblRate;
  ++events_;
  if (format_ == EventFormat::Jsonl)
    Json(Dump({{"event", exporting_ ? "ExportOneRow" : "ImportOneRow"}, {"lRow", lRow}, {"dblRate", Number(dblRate)}}));
  else
    Progress(lRow, dblRate);
  MustStop(Cancel);
}

void Reporter::ErrorEvent(const std::string& sErrMsg, bool& Cancel, const ErrorDetail* detail) {
  if (Contains(sErrMsg, kLedgerInUse)) ledgerInUse_ = true;
  ++errors_;
  ++events_;
  const auto row = ErrorRow(sErrMsg);
  if (row) failedRow_ = *row;
  if (IsUndottedMismatch(sErrMsg)) undotted_ = true;
  MustStop(Cancel);
  if (format_ == EventFormat::Jsonl) {
    nlohmann::ordered_json j = {{"event", "Error"}, {"sErrMsg", sErrMsg}, {"cancel", Cancel}};
    if (row) j["row"] = *row;
    if (detail) AddDetail(j, *detail);
    Json(Dump(j));
  } else {
    const std::string where = row ? "（第 " + std::to_string(*row) + " 条记录）" : "";
    std::string text = "错误" + where + "：" + ForTerminal(sErrMsg, false) + (Cancel ? "（已停止）" : "（已跳过）");
    if (detail && detail->AboutValue()) text += "\n  " + ForTerminal(detail->Line());
    if (detail && !detail->hint.empty()) text += "\n  提示：" + ForTerminal(detail->hint);
    Text(text);
  }
  if (OutputLost()) Cancel = true;
}

void Reporter::Warning(const std::string& text) {
  ++events_;
  ++warnings_;
  if (text.find(kUnreadKeyMark) == std::string::npos) ++fileWarnings_;
  if (format_ == EventFormat::Jsonl)
    Json(Dump({{"event", "Warning"}, {"text", text}}));
  else
    Text("\a警告：" + ForTerminal(text, false));
}

void Reporter::Notice(const std::string& text) {
  if (format_ == EventFormat::Jsonl)
    Json(Dump({{"event", "Warning"}, {"text", text}}));
  else
    Text("警告：" + ForTerminal(text, false));
}

bool Reporter::Question(const std::string& text, bool answer) {
  ++events_;
  if (OutputLost()) {
    answer = false;
  } else if (answer && Interrupted()) {
    answer = false;
    stoppedByInterrupt_ = true;
  }
  if (format_ == EventFormat::Jsonl)
    Json(Dump({{"event", "Question"}, {"text", text}, {"answer", answer ? "yes" : "no"}}));
  else
    Text("询问：" + ForTerminal(text, false) + " → " + (answer ? "是" : "否"));
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
             std::to_string(counts_->overwritten) + " 条，失败 " + std::to_string(counts_->failed) + " 条" +
             (counts_->bareParents > 0 ? "，新建上级 " + std::to_string(counts_->bareParents) + " 条" : "");
  Text(kindTitle_ + (exporting_ ? " 导出" : " 引入") + (value ? "完成" : "未完成") + "：" +
       RowsAndRecords(element_, rows_, fileRecords_) + "，" + std::to_string(errors_) + " 个错误，用时 " + t + " 秒" + counts);
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
  if (fileRecords_) j["records"] = *fileRecords_;
  AddCounts(j, counts_);
  Json(Dump(j));
}

bool Reporter::SaysLedgerInUse(const std::string& description) { return Contains(description, kLedgerInUse); }

void Reporter::Failure(const std::string& description) {
  if (SaysLedgerInUse(description)) ledgerInUse_ = true;
  Text("失败：" + ForTerminal(description, false));
}

void Reporter::Diagnostic(const std::string& text) { Text("诊断：" + ForTerminal(text, false)); }

void Reporter::Interruption(bool dryRun) {
  if (dryRun) return Text("已中断：预演到此为止，未保存任何记录。");
  Text(exporting_ ? "已中断：导出未完成，没有写入文件。"
                  : "已中断：已保存 " + std::to_string(RowsWithoutError()) + " 条记录；再次运行同一引入可以继续。");
}

void Reporter::Hint(const std::string& text) { Text("提示：" + ForTerminal(text, false)); }

void ToolBoxes::Warning(const std::string& text) { reporter_.Warning(text); }

bool ToolBoxes::Question(const std::string& text) {
  bool answer = overwrite_;
  const bool canAsk = interactive_ && isatty(STDIN_FILENO);
  if (!answer && canAsk) {
    std::cerr << ForTerminal(text, false) << " [y/N] " << std::flush;
    std::string line;
    answer = std::getline(std::cin, line) && (line == "y" || line == "Y" || line == "yes" || line == "是");
  }
  const bool shown = reporter_.Question(text, answer);
  static bool hinted = false;
  if (!answer && !canAsk && !Interrupted() && !hinted) {
    hinted = true;
    reporter_.Hint("没有人能回答是否覆盖，已有的文件保持不变；如需覆盖，请加 --overwrite。");
  }
  return shown;
}

}  // namespace morvent::cli
