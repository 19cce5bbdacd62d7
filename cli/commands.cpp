#include "cli/commands.h"

#include <cstdlib>
#include <iostream>

#include "cli/reporter.h"
#include "context/record.h"
#include "front/code_table.h"
#include "front/exchange_log.h"
#include "front/export_base.h"
#include "front/import_base.h"
#include "platform/error.h"
#include "platform/progdir.h"
#include "store/ledger_admin.h"

namespace morvent::cli {

namespace {

// A value holding ";" must be braced to survive the property-string parser.
std::string PropValue(const std::string& v) { return v.find(';') != std::string::npos ? "{" + v + "}" : v; }

struct Target {
  int32_t code = 0;
  std::string title;
  bool assigned = false;
};

// A code (assigned or not) or a known name; anything else is a usage error.
std::optional<Target> ResolveType(const std::string& text) {
  if (const BaseType* b = FindBaseType(text)) return Target{b->code, b->title, true};
  char* end = nullptr;
  long code = std::strtol(text.c_str(), &end, 10);
  if (!text.empty() && end && *end == 0 && code >= INT32_MIN && code <= INT32_MAX)
    return Target{static_cast<int32_t>(code), "代码 " + text, false};
  return std::nullopt;
}

int Run(const RunOptions& o, bool exporting) {
  auto target = ResolveType(o.type);
  if (!target) {
    std::cerr << "未知的基础资料类型：" << o.type << "（见 morvent types）" << std::endl;
    return kExitUsage;
  }
  if (o.ledger.empty() && o.props.empty()) {
    std::cerr << "需要 --ledger 或 --props" << std::endl;
    return kExitUsage;
  }
  Reporter reporter(o.events == "jsonl" ? EventFormat::Jsonl : EventFormat::Text, target->title, exporting);
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
      if (kind.empty() && target->assigned) kind = LedgerKind(o.ledger);
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
    }
    reporter.Result(result);
    status = result ? kExitTrue : kExitFalse;
  } catch (const std::exception& e) {
    reporter.Failure(ToError(e).Description());
    status = kExitError;
  }
  SetMessageBoxes(previousBoxes);
  SetDiagnosticSink(previousSink);
  return status;
}

}  // namespace

int RunExport(const RunOptions& options) { return Run(options, true); }
int RunImport(const RunOptions& options) { return Run(options, false); }

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
  return kExitTrue;
}

}  // namespace morvent::cli
