#include "cli/commands.h"

#include <climits>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string_view>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/reporter.h"
#include "cli/signals.h"
#include "context/record.h"
#include "front/code_table.h"
#include "front/exchange_log.h"
#include "front/export_base.h"
#include "front/import_base.h"
#include "platform/error.h"
#include "platform/progdir.h"
#include "platform/text.h"
#include "store/ledger_admin.h"

namespace morvent::cli {

namespace {

// A value holding ";" must be braced to survive the property-string parser.
std::string PropValue(const std::string& v) { return v.find(';') != std::string::npos ? "{" + v + "}" : v; }

struct Target {
  int32_t code = 0;
  std::string title;
  const BaseType* type = nullptr;  // null for an unassigned code
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// A code however it is spelled (blanks around it, a sign, leading zeros),
// so that "0120" is 120 in every respect; nullopt when not a number.
std::optional<int32_t> ParseCode(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > int64_t{INT32_MAX} + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

// A code (assigned or not) or a known name; anything else is a usage error.
// Whatever the spelling, an assigned code resolves through the code table.
std::optional<Target> ResolveType(const std::string& text) {
  if (auto code = ParseCode(text)) {
    const BaseType* b = FindBaseType(*code);
    return Target{*code, b ? b->title : "代码 " + std::to_string(*code), b};
  }
  if (const BaseType* b = FindBaseType(TrimBlanks(text))) return Target{b->code, b->title, b};
  return std::nullopt;
}

// Why a call answered False without a single event, in one line.
std::string WhyFalse(const Target& t, bool exporting) {
  if (!t.type) return std::to_string(t.code) + " 不是已分配的基础资料代码（见 morvent types）";
  const std::string named = t.type->title + "（" + std::to_string(t.code) + "）";
  if (!t.type->create) return named + "尚未提供，调用返回 False";
  if (!exporting && !t.type->importable) return named + "只能导出，不能引入";
  return "调用返回 False，没有任何事件说明原因";
}

int Run(const RunOptions& o, bool exporting, bool summary = false) {
  auto target = ResolveType(o.type);
  if (!target) {
    std::cerr << "未知的基础资料类型：" << o.type << "（见 morvent types）" << std::endl;
    return kExitUsage;
  }
  if (o.ledger.empty() && o.props.empty()) {
    std::cerr << "需要 --ledger 或 --props" << std::endl;
    return kExitUsage;
  }
  Reporter reporter(o.events == "jsonl" ? EventFormat::Jsonl : EventFormat::Text, target->title, exporting, o.quiet);
  auto previousSink = SetDiagnosticSink([&](const std::string& m) { reporter.Diagnostic(m); });
  auto previousBoxes = SetMessageBoxes(std::make_shared<ToolBoxes>(reporter, o.overwrite, o.events != "jsonl"));
  const bool skip = o.onError == "skip";
  int status = kExitError;
  try {
    std::string props = o.props;
    if (!o.ledger.empty()) {
      props = "Data Source=" + PropValue(o.ledger);
      std::string kind = o.acctType;
      // An unassigned code never reaches the ledger, so it needs no kind.
      if (kind.empty() && target->type) kind = LedgerKind(o.ledger);
      if (!kind.empty()) props += ";AcctType=" + PropValue(kind);
    } else if (!o.acctType.empty()) {
      props += ";AcctType=" + PropValue(o.acctType);
    }
    bool result;
    if (exporting) {
      ExportBase exp;
      exp.ExportOneRow = [&](int32_t r, double rate, bool& c) { reporter.Row(r, rate, c); };
      exp.Error = [&](const std::string& m, bool& c) {
        if (skip) c = false;
        reporter.ErrorEvent(m, c);
      };
      result = exp.ExportXMLData(props, target->code, o.file);
    } else {
      ImportBase imp;
      imp.ImportOneRow = [&](int32_t r, double rate, bool& c) { reporter.Row(r, rate, c); };
      imp.Error = [&](const std::string& m, bool& c) {
        if (skip) c = false;
        reporter.ErrorEvent(m, c);
      };
      std::shared_ptr<DataRecord> dict;
      if (o.impStyle || o.codingStyle) {
        dict = NewRecord();
        if (o.impStyle) dict->SetValue("ImpStyle", int32_t{*o.impStyle});
        if (o.codingStyle) dict->SetValue("CodingStyle", int32_t{*o.codingStyle});
      }
      result = imp.ImportXMLData(props, target->code, o.file, dict.get());
      reporter.SetImportCounts(imp.LastCounts());
    }
    if (!result && reporter.Events() == 0) reporter.Notice(WhyFalse(*target, exporting));
    static bool undottedHinted = false;
    if (reporter.SawUndottedNumbers() && o.codingStyle.value_or(1) == 1 && !undottedHinted) {
      undottedHinted = true;
      reporter.Hint("文件中的代码不带点，上级由代码前缀表示：请加 --coding-style 2 重新引入。");
    }
    reporter.Result(result);
    if (!result && reporter.StoppedByInterrupt()) reporter.Interruption(o.dryRun);
    if (reporter.OutputLost()) {
      std::cerr << "输出已无法写入（" << reporter.LostReason() << "），"
                << (result ? "运行已完成，但结果未能输出" : "运行在第 " + std::to_string(reporter.Rows()) + " 行后取消")
                << std::endl;
      status = result ? kExitError : kExitFalse;
    } else {
      status = !result ? kExitFalse : reporter.Errors() > 0 ? kExitLetPass : kExitTrue;
    }
  } catch (const std::exception& e) {
    reporter.Failure(ToError(e).Description());
    status = kExitError;
  }
  if (summary && target->type && !reporter.OutputLost()) {
    reporter.Summary(target->code, target->type->element, status);
    if (reporter.OutputLost()) status = kExitError;
  }
  SetMessageBoxes(previousBoxes);
  SetDiagnosticSink(previousSink);
  return status;
}

// Ranks the exit statuses from best to worst.
int Severity(int status) {
  switch (status) {
    case kExitTrue: return 0;
    case kExitLetPass: return 1;
    case kExitFalse: return 2;
    default: return 3;
  }
}

// A line of the tool's own beside the events: JSON j on stdout, or the text
// on stderr; false once it could not be written.
bool Say(const RunOptions& o, const nlohmann::ordered_json& j, const std::string& text) {
  errno = 0;
  if (o.events == "jsonl") {
    std::cout << j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << std::endl;
    return static_cast<bool>(std::cout);
  }
  std::cerr << text << std::endl;
  return static_cast<bool>(std::cerr);
}

// A kind left out of a whole-ledger run, said in one line.
bool Skipped(const RunOptions& o, const BaseType& b, const std::string& why) {
  const std::string text = b.title + "（" + std::to_string(b.code) + "）" + why + "，跳过";
  return Say(o, {{"event", "Skipped"}, {"code", b.code}, {"element", b.element}, {"text", text}}, text);
}

// Every kind in import order, one file per kind named by its element; the
// run goes on after a kind that failed and exits with the worst status.
int RunAll(const RunOptions& o, bool exporting) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (exporting) fs::create_directories(o.all, ec);
  if (ec || !fs::is_directory(o.all, ec)) {
    std::cerr << "无法使用文件夹：" << o.all << (ec ? "（" + ec.message() + "）" : "") << std::endl;
    return exporting ? kExitError : kExitUsage;
  }
  int worst = kExitTrue;
  for (const BaseType* b : BaseTypesInImportOrder()) {
    // Ctrl-C: the kinds not run yet stay undone, so the run did not finish.
    if (Interrupted()) return Severity(worst) > Severity(kExitFalse) ? worst : kExitFalse;
    const std::string file = (fs::path(o.all) / (b->element + ".xml")).string();
    std::string why;
    if (!b->create)
      why = "尚未提供";
    else if (!exporting && !b->importable)
      why = "只能导出";
    else if (!exporting && !fs::exists(file, ec))
      why = "的文件 " + file + " 不存在";
    if (!why.empty()) {
      if (!Skipped(o, *b, why)) return kExitError;
      continue;
    }
    RunOptions one = o;
    one.type = std::to_string(b->code);
    one.file = file;
    int status = Run(one, exporting, true);
    if (Severity(status) > Severity(worst)) worst = status;
    // Nobody sees the rest any more: stop rather than run on unseen.
    if (status == kExitError && (std::cout.fail() || std::cerr.fail())) break;
  }
  return worst;
}

}  // namespace

int RunExport(const RunOptions& options) {
  CatchInterrupt();
  return options.all.empty() ? Run(options, true) : RunAll(options, true);
}
int RunImport(const RunOptions& options) {
  CatchInterrupt();
  if (!options.dryRun) return options.all.empty() ? Run(options, false) : RunAll(options, false);
  int status = kExitError;
  try {
    DryRun dry;
    status = options.all.empty() ? Run(options, false) : RunAll(options, false);
    dry.Finish();
  } catch (const std::exception& e) {
    const std::string text = "失败：" + ToError(e).Description();
    Say(options, {{"event", "DryRun"}, {"rolledBack", false}, {"text", text}}, text);
    return kExitError;
  }
  const std::string text = "预演：全部改动已撤销，账套中未保存任何记录";
  if (!Say(options, {{"event", "DryRun"}, {"rolledBack", true}, {"text", text}}, text)) return kExitError;
  return status;
}

int RunLedgerInit(const std::string& path, const std::string& kind, bool demo) {
  try {
    CreateLedger(path, kind);
    if (demo) FillDemoLedger(path);
    std::cerr << (demo ? "已创建示例账套：" : "已创建账套：") << path << "（类型 " << LedgerKind(path) << "）" << std::endl;
    return kExitTrue;
  } catch (const std::exception& e) {
    std::cerr << "失败：" << ToError(e).Description() << std::endl;
    return kExitError;
  }
}

int RunTypes(bool servedOnly) {
  for (const auto& b : BaseTypes()) {
    if (servedOnly) {
      if (b.create) std::cout << b.code << "\n";
      continue;
    }
    std::cout << b.code << "\t" << b.element << "\t" << b.title << "\t" << (b.create ? "可用" : "尚未提供") << "\n";
  }
  std::cout.flush();
  return std::cout ? kExitTrue : kExitError;
}

}  // namespace morvent::cli
