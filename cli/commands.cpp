#include "cli/commands.h"

#include <unistd.h>

#include <array>
#include <charconv>
#include <chrono>
#include <climits>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <vector>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/file_records.h"
#include "cli/reporter.h"
#include "cli/sheets.h"
#include "cli/signals.h"
#include "cli/suggest.h"
#include "context/property_string.h"
#include "context/props.h"
#include "context/record.h"
#include "datafile/target_file.h"
#include "front/code_table.h"
#include "front/exchange_log.h"
#include "front/export_base.h"
#include "front/import_base.h"
#include "platform/error.h"
#include "platform/progdir.h"
#include "platform/text.h"
#include "sheets/table.h"
#include "store/ledger_admin.h"
#include "store/ledger_store.h"
#include "store/pg_driver.h"

namespace morvent::cli {

namespace {

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

// How one call ended, and whether the runs after it would be in vain.
struct Outcome {
  int status = kExitError;
  bool outputLost = false;
  bool ledgerInUse = false;
  int64_t records = 0;
  int64_t errors = 0;
  int64_t warnings = 0;
};

// The run names its ledger; with --ledger, the very file given: a path the
// property string cannot carry exactly is refused, before any work, rather
// than let another file be used in its place.
bool LedgerUsable(const RunOptions& o) {
  if (o.ledger.empty() && o.props.empty()) {
    std::cerr << "需要 --ledger 或 --props" << std::endl;
    return false;
  }
  if (o.ledger.empty()) return true;
  try {
    PropertyValue(o.ledger);
    return true;
  } catch (const std::exception& e) {
    std::cerr << "无法使用这个账套路径：" << ForTerminal(ToError(e).Description()) << std::endl;
    return false;
  }
}

// The ledger's file: --ledger, or the Data Source of --props ("" when the
// string does not parse; the call says why).
std::string LedgerPath(const RunOptions& o) {
  if (!o.ledger.empty()) return o.ledger;
  try {
    const PropertyTable table = ParsePropertyString(o.props);
    const auto at = table.find("Data Source");
    return at == table.end() ? "" : at->second;
  } catch (const std::exception&) {
    return "";
  }
}

// Whether the data file can be read (import) or made in its folder (export):
// when not, a False call could not open it.
bool DataFileOpens(const std::string& file, bool exporting) {
  namespace fs = std::filesystem;
  if (!exporting) return std::ifstream(file).good() && !fs::is_directory(file);
  const fs::path folder = fs::path(file).parent_path().empty() ? fs::path(".") : fs::path(file).parent_path();
  std::error_code ec;
  return fs::is_directory(folder, ec) && access(folder.c_str(), W_OK) == 0;
}

// wholeLedger: one kind of an --all run, which ends with its summary.
Outcome Run(const RunOptions& o, bool exporting, bool wholeLedger = false) {
  auto target = ResolveType(o.type);
  if (!target) {
    std::vector<std::string> names;
    for (const auto& b : BaseTypes()) names.insert(names.end(), {b.element, b.title});
    const auto closest = Closest(TrimBlanks(o.type), names);
    std::cerr << "未知的基础资料类型：" << ForTerminal(o.type)
              << (closest ? "，是否应为 " + *closest + "？" : std::string()) << "（见 morvent types）" << std::endl;
    return {kExitUsage};
  }
  Reporter reporter(o.events == "jsonl" ? EventFormat::Jsonl : EventFormat::Text, target->title, exporting, o.quiet);
  auto previousSink = SetDiagnosticSink([&](const std::string& m) { reporter.Diagnostic(m); });
  auto previousBoxes = SetMessageBoxes(std::make_shared<ToolBoxes>(reporter, o.overwrite, o.events != "jsonl"));
  const bool skip = o.onError == "skip";
  SheetSession sheet(o, target->type ? target->type->element : "");
  int status = kExitError;
  bool noOpen = false;
  std::optional<bool> result;
  try {
    std::string props = o.props;
    const std::string ledgerPath = LedgerPath(o);
    if (!ledgerPath.empty() && target->type) {
      // A ledger that cannot be opened is said apart from a run that failed.
      try {
        LedgerKind(ledgerPath);
      } catch (...) {
        noOpen = true;
        throw;
      }
    }
    if (!o.ledger.empty()) {
      std::string kind = o.acctType;
      // An unassigned code never reaches the ledger, so it needs no kind.
      if (kind.empty() && target->type) kind = LedgerKind(o.ledger);
      props = LedgerPropertyString(o.ledger, kind);
    } else if (!o.acctType.empty()) {
      props += ";AcctType=" + PropertyValue(o.acctType);
    }
    if (exporting) {
      ExportBase exp;
      exp.ExportOneRow = [&](int32_t r, double rate, bool& c) { reporter.Row(r, rate, c); };
      exp.Error = [&](const std::string& m, bool& c) {
        if (skip) c = false;
        reporter.ErrorEvent(m, c, exp.CurrentErrorDetail());
      };
      WrittenRecords written;
      result = exp.ExportXMLData(props, target->code, o.file);
      if (*result && target->type) reporter.SetFileRecords(target->type->element, written.Last());
    } else {
      ImportBase imp;
      imp.ImportOneRow = [&](int32_t r, double rate, bool& c) {
        sheet.Row(r, rate);
        reporter.Row(r, rate, c);
      };
      imp.Error = [&](const std::string& m, bool& c) {
        if (skip) c = false;
        reporter.ErrorEvent(sheet.Error(m, imp.CurrentErrorDetail()), c, imp.CurrentErrorDetail());
      };
      std::shared_ptr<DataRecord> dict;
      if (o.impStyle || o.codingStyle) {
        dict = NewRecord();
        if (o.impStyle) dict->SetValue("ImpStyle", int32_t{*o.impStyle});
        if (o.codingStyle) dict->SetValue("CodingStyle", int32_t{*o.codingStyle});
      }
      result = imp.ImportXMLData(props, target->code, o.file, dict.get());
      reporter.SetImportCounts(imp.LastCounts());
      if (const std::string said = sheet.Finish(); !said.empty()) reporter.Notice(said);
    }
    if (!*result && reporter.Events() == 0) reporter.Notice(WhyFalse(*target, exporting));
    static bool undottedHinted = false;
    if (reporter.SawUndottedNumbers() && o.codingStyle.value_or(1) == 1 && !undottedHinted) {
      undottedHinted = true;
      reporter.Hint("文件中的代码不带点，上级由代码前缀表示：请加 --coding-style 2 重新引入。");
    }
    reporter.Result(*result);
    if (!*result && reporter.StoppedByInterrupt()) reporter.Interruption(o.dryRun);
    status = !*result ? kExitFalse : reporter.Errors() > 0 ? kExitLetPass : kExitTrue;
    if (!*result && reporter.StoppedByInterrupt())
      status = kExitInterrupted;
    else if (!*result && !DataFileOpens(o.file, exporting))
      status = kExitNoOpen;
  } catch (const std::exception& e) {
    reporter.Failure(ToError(e).Description());
    // A ledger another program holds opened well enough: only waiting helps.
    status = noOpen && !reporter.LedgerInUse() ? kExitNoOpen : kExitError;
  }
  if (wholeLedger && target->type && !reporter.OutputLost()) reporter.Summary(target->code, target->type->element, status);
  if (reporter.OutputLost()) {
    // Said once, on stderr whichever output broke; an --all run ends here.
    std::cerr << "输出已无法写入（" << reporter.LostReason() << "），"
              << (!result              ? std::string("运行未完成")
                  : *result            ? std::string("运行已完成，但结果未能输出")
                                       : "运行在第 " + std::to_string(reporter.Rows()) + " 行后取消")
              << (wholeLedger ? "；整账套运行到此为止，后面的种类不再运行" : "") << std::endl;
    status = result && !*result ? kExitFalse : kExitError;
  }
  if (o.warningIsFinding && status == kExitTrue && reporter.FileWarnings() > 0) status = kExitLetPass;
  SetMessageBoxes(previousBoxes);
  SetDiagnosticSink(previousSink);
  return {status, reporter.OutputLost(), reporter.LedgerInUse(), reporter.Records(), reporter.Errors(), reporter.Warnings()};
}

// Ranks the exit statuses from best to worst.
int Severity(int status) {
  switch (status) {
    case kExitTrue: return 0;
    case kExitLetPass: return 1;
    case kExitFalse: return 2;
    case kExitNoOpen: return 3;
    case kExitInterrupted: return 5;
    default: return 4;
  }
}

// A line of the tool's own beside the events: JSON j on stdout, or the text
// (made harmless) on stderr; false once it could not be written, and then
// said on stderr.
bool Say(const RunOptions& o, const nlohmann::ordered_json& j, const std::string& text) {
  errno = 0;
  const bool json = o.events == "jsonl";
  std::ostream& out = json ? std::cout : std::cerr;
  if (json)
    out << j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << std::endl;
  else
    out << ForTerminal(text, false) << std::endl;
  if (out) return true;
  std::cerr << "输出已无法写入（" << std::strerror(errno ? errno : EIO) << "）" << std::endl;
  return false;
}

// A kind left out of a whole-ledger run, said in one line.
bool Skipped(const RunOptions& o, const BaseType& b, const std::string& why) {
  const std::string text = b.title + "（" + std::to_string(b.code) + "）" + why + "，跳过";
  return Say(o, {{"event", "Skipped"}, {"code", b.code}, {"element", b.element}, {"text", text}}, text);
}

// The status of an --all run that ended before its last kind: it did not
// finish, so at best 1.
int Unfinished(int worst) { return Severity(worst) > Severity(kExitFalse) ? worst : kExitFalse; }

// Seconds with two decimals, whatever the process locale's decimal mark.
std::string Seconds(double secs) {
  std::array<char, 32> buf{};
  auto r = std::to_chars(buf.data(), buf.data() + buf.size(), secs, std::chars_format::fixed, 2);
  return std::string(buf.data(), r.ptr);
}

// Why the store will not open the run's ledger (not a ledger, damaged, of
// another version, no server), or "" when it opens, or is only held by
// another program: the first kind then waits for it and ends the run.
std::string LedgerRefusal(const RunOptions& o) {
  const std::string path = LedgerPath(o);
  if (path.empty()) return "";
  try {
    LedgerStore::ForPath(path);
    return "";
  } catch (const std::exception& e) {
    const std::string why = ToError(e).Description();
    return Reporter::SaysLedgerInUse(why) ? "" : why;
  }
}

// Every kind in import order, one file per kind named by its element; the
// run goes on after a kind that failed and exits with the worst status. It
// ends early, as Ctrl-C ends it, when nobody sees the output any more or
// another program holds the ledger: the kinds after would run unseen or
// only wait in vain.
int RunAll(const RunOptions& o, bool exporting) {
  namespace fs = std::filesystem;
  std::error_code ec;
  // A workbook: one sheet per kind; an export writes them apart and gathers.
  const bool book = sheets::SheetFormat(o.all) == "xlsx";
  if (book && exporting) xml::RemoveStaleTemps(fs::path(o.all).parent_path().string());
  const std::string folder = !book ? o.all : exporting ? xml::TempNameBeside(o.all) : fs::path(o.all).parent_path().string();
  if (book && exporting && fs::exists(o.all, ec) && !o.overwrite) {
    std::cerr << "目标文件已存在：" << ForTerminal(o.all) << "（要覆盖请加 --overwrite）" << std::endl;
    return kExitError;
  }
  // Every kind would be refused alike: said once, before anything is made.
  if (const std::string refused = LedgerRefusal(o); !refused.empty()) {
    Say(o, {{"event", "Stopped"}, {"text", "失败：" + refused}}, "失败：" + refused);
    return kExitNoOpen;
  }
  if (exporting) fs::create_directories(folder, ec);
  // The kinds' workbooks are gathered from a folder of the run's own, gone
  // however the run ends (after a kill, with the next run's).
  struct DropFolder {
    std::string dir;
    ~DropFolder() {
      std::error_code e;
      if (!dir.empty()) std::filesystem::remove_all(dir, e);
    }
  } dropFolder{book && exporting ? folder : std::string()};
  std::vector<std::pair<std::string, std::string>> gathered;
  if (ec || !fs::is_directory(folder.empty() ? "." : folder, ec) || (book && !exporting && !fs::exists(o.all, ec))) {
    std::cerr << "无法使用文件夹：" << ForTerminal(o.all) << (ec ? "（" + ec.message() + "）" : "") << std::endl;
    return kExitNoOpen;
  }
  RunOptions each = o;
  // Files already in the folder are asked about once, for all of them.
  if (exporting && !o.overwrite) {
    int present = 0;
    for (const BaseType* b : BaseTypesInImportOrder())
      present += b->create && fs::exists(fs::path(o.all) / (b->element + ".xml"), ec);
    if (present > 0) {
      Reporter reporter(o.events == "jsonl" ? EventFormat::Jsonl : EventFormat::Text, "", true, o.quiet);
      ToolBoxes boxes(reporter, false, o.events != "jsonl");
      const bool yes = boxes.Question("文件夹 " + o.all + " 中已有 " + std::to_string(present) + " 个数据文件，是否全部覆盖？");
      if (reporter.StoppedByInterrupt()) return kExitInterrupted;
      if (!yes) {
        const std::string text = "已有的文件保持不变，整账套导出没有进行";
        Say(o, {{"event", "Stopped"}, {"text", text}}, text);
        return kExitFalse;
      }
      each.overwrite = true;
    }
  }
  const auto start = std::chrono::steady_clock::now();
  int worst = kExitTrue;
  int ran = 0, skipped = 0;
  Outcome total;
  // The run's last line as text: what it did in all, so a log of it can be
  // read from its end.
  auto finish = [&](int status) {
    if (o.events == "jsonl" || total.outputLost) return status;
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cerr << "整账套" << (exporting ? "导出" : "引入")
              << (status == kExitTrue || status == kExitLetPass ? "完成" : "未完成") << "：运行 " << ran << " 种，跳过 "
              << skipped << " 种；共 " << total.records << " 条记录，" << total.errors << " 个错误，" << total.warnings
              << " 个警告，用时 " << Seconds(secs) << " 秒" << std::endl;
    return status;
  };
  for (const BaseType* b : BaseTypesInImportOrder()) {
    // Ctrl-C: the kinds not run yet stay undone.
    if (Interrupted()) return finish(kExitInterrupted);
    std::string file = (fs::path(folder) / (b->element + (book ? ".xlsx" : ".xml"))).string();
    if (book && !exporting) file = o.all;
    // A folder of CSV files named after the kinds serves as well.
    if (!book && !exporting && !fs::exists(file, ec) && fs::exists(fs::path(o.all) / (b->element + ".csv"), ec))
      file = (fs::path(o.all) / (b->element + ".csv")).string();
    std::string why;
    if (!b->create)
      why = "尚未提供";
    else if (!exporting && !b->importable)
      why = "只能导出";
    else if (!exporting && book && !WorkbookHasSheet(file, b->element))
      why = "的工作表 " + b->element + " 不存在";
    else if (!exporting && !fs::exists(file, ec))
      why = "的文件 " + file + " 不存在";
    if (!why.empty()) {
      if (!Skipped(o, *b, why)) return kExitError;
      ++skipped;
      continue;
    }
    RunOptions one = each;
    one.type = std::to_string(b->code);
    one.file = file;
    const Outcome kind = Run(one, exporting, true);
    ++ran;
    total.records += kind.records;
    total.errors += kind.errors;
    total.warnings += kind.warnings;
    total.outputLost = kind.outputLost;
    if (book && exporting && fs::exists(file, ec)) gathered.emplace_back(b->element, file);
    if (Severity(kind.status) > Severity(worst)) worst = kind.status;
    if (kind.outputLost) return Unfinished(worst);
    if (kind.ledgerInUse) {
      const std::string text = "账套正被其他程序使用，整账套运行到此为止，后面的种类不再运行";
      Say(o, {{"event", "Stopped"}, {"code", b->code}, {"element", b->element}, {"text", text}}, text);
      return finish(Unfinished(worst));
    }
  }
  if (book && exporting) {
    try {
      GatherWorkbook(gathered, o.all);
      fs::remove_all(folder, ec);
    } catch (const std::exception& e) {
      std::cerr << "无法写入工作簿 " << ForTerminal(o.all) << "：" << ForTerminal(e.what()) << std::endl;
      return finish(kExitError);
    }
  }
  return finish(worst);
}

}  // namespace

int RunExport(const RunOptions& options) {
  if (!LedgerUsable(options)) return kExitUsage;
  CatchInterrupt();
  return options.all.empty() ? Run(options, true).status : RunAll(options, true);
}
int RunImport(const RunOptions& options) {
  if (!LedgerUsable(options)) return kExitUsage;
  CatchInterrupt();
  if (!options.dryRun) return options.all.empty() ? Run(options, false).status : RunAll(options, false);
  int status = kExitError;
  try {
    DryRun dry;
    status = options.all.empty() ? Run(options, false).status : RunAll(options, false);
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
    // A server's connection string is shown without its password.
    const std::string shown = IsServerSource(path) ? MaskPassword(path) : path;
    std::cerr << (demo ? "已创建示例账套：" : "已创建账套：") << ForTerminal(shown) << "（类型 "
              << ForTerminal(LedgerKind(path)) << "）" << std::endl;
    return kExitTrue;
  } catch (const std::exception& e) {
    std::cerr << "失败：" << ForTerminal(ToError(e).Description(), false) << std::endl;
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
