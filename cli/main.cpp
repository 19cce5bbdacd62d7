// morvent: the command-line tool around ExportBase and ImportBase.
#include <CLI/CLI.hpp>
#include <sqlite3.h>

#include <csignal>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "cli/check.h"
#include "cli/commands.h"
#include "cli/compare.h"
#include "cli/help.h"
#include "cli/inspect.h"
#include "cli/sheets.h"
#include "cli/upgrade.h"
#include "web/server.h"

int main(int argc, char** argv) {
  using namespace morvent::cli;
  // A reader that goes away must not kill the run half-way: a failed write
  // is noticed by the reporter, which stops the run cleanly.
  std::signal(SIGPIPE, SIG_IGN);
  // The tool reads no memory statistics of SQLite: without them, SQLite's
  // allocations skip a process-wide lock. Only the program may choose this,
  // before SQLite starts, so the library leaves it alone.
  sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  CLI::App app{"Morvent：在账套与 XML 数据文件之间交换基础资料"};
  app.require_subcommand(1);
  const std::string kinds = "：" + LedgerKindsHelp();

  RunOptions exp, imp;
  // One kind and its file, or a whole folder of them.
  auto addTargetOptions = [](CLI::App* cmd, RunOptions& o, const std::string& allHelp) {
    auto* type = cmd->add_option("-t,--type", o.type, "基础资料代码或名称（见 morvent types）");
    auto* file = cmd->add_option("-f,--file", o.file, "数据文件路径");
    auto* all = cmd->add_option("--all", o.all, allHelp);
    all->excludes(type)->excludes(file);
    type->needs(file);
    file->needs(type);
  };
  auto addRunOptions = [&kinds, &addTargetOptions](CLI::App* cmd, RunOptions& o) {
    auto* ledger = cmd->add_option("-l,--ledger", o.ledger, "账套文件（SQLite）");
    auto* props = cmd->add_option("--props", o.props, "原样传入的属性串");
    ledger->excludes(props);
    addTargetOptions(cmd, o, "整个账套：每种基础资料一个文件，在此文件夹中按元素名命名");
    cmd->add_option("--acct-type", o.acctType, "覆盖账套记录的类型（AcctType）" + kinds)->transform(KnownLedgerKind());
    cmd->add_option("--on-error", o.onError, "错误事件的回答：stop（默认）或 skip")
        ->check(CLI::IsMember({"stop", "skip"}));
    cmd->add_option("--events", o.events, "事件输出：text（默认）或 jsonl")->check(CLI::IsMember({"text", "jsonl"}));
    cmd->add_flag("--quiet", o.quiet, "只显示错误与结果，不显示进度（jsonl 事件不受影响）");
  };

  auto* exportCmd = app.add_subcommand("export", "把一种基础资料从账套导出到数据文件");
  addRunOptions(exportCmd, exp);
  exportCmd->add_flag("-y,--yes,--overwrite", exp.overwrite, "目标文件已存在时直接覆盖（每个覆盖的询问都回答是）");

  auto* importCmd = app.add_subcommand("import", "把数据文件引入账套");
  addRunOptions(importCmd, imp);
  importCmd->add_option("--imp-style", imp.impStyle, "1 保留已有对象，2 覆盖")->check(OneOf({"1", "2"}));
  importCmd->add_option("--coding-style", imp.codingStyle, "1 带点代码，2 不带点代码")->check(OneOf({"1", "2"}));
  importCmd->add_option("--encoding", imp.encoding, "CSV 文件的编码（如 GB18030），默认自动识别 UTF-8 或 GB18030");
  importCmd->add_option("--errors-out", imp.errorsOut, "把出错的行连同“错误”列写入此 .xlsx 或 .csv 文件");
  importCmd->add_flag("--dry-run", imp.dryRun, "预演：照常运行并报告全部事件与错误，最后撤销，不保存任何记录");

  RunOptions chk;
  auto* checkCmd = app.add_subcommand("check", "不用账套检查数据文件：结构、每个值的转换、重复的代码、找不到的上级，报告全部问题");
  addTargetOptions(checkCmd, chk, "整个文件夹：每种基础资料一个文件，按元素名命名");
  checkCmd->add_option("--acct-type", chk.acctType, "按哪种账套检查" + kinds)->transform(KnownLedgerKind());
  checkCmd->add_option("--events", chk.events, "事件输出：text（默认）或 jsonl")->check(CLI::IsMember({"text", "jsonl"}));
  checkCmd->add_flag("--quiet", chk.quiet, "只显示问题与结果，不显示进度");

  auto* templateCmd = app.add_subcommand("template", "写出待填写的 .xlsx 或 .csv 模板");
  std::string templateType, templateFile, templateAll;
  auto* tType = templateCmd->add_option("--type", templateType, "基础资料代码或名称（见 morvent types）");
  auto* tFile = templateCmd->add_option("--file", templateFile, "模板文件（.xlsx 或 .csv）");
  auto* tAll = templateCmd->add_option("--all", templateAll, "整个账套：一个 .xlsx 工作簿，每种基础资料一张工作表");
  tAll->excludes(tType)->excludes(tFile);
  bool templateExample = false;
  templateCmd->add_flag("--example", templateExample, "填入示例账套中每种资料的前 5 行");
  tType->needs(tFile);
  tFile->needs(tType);

  auto* ledgerCmd = app.add_subcommand("ledger", "创建、查看或升级账套");
  ledgerCmd->require_subcommand(1);
  std::string ledgerPath, ledgerKind;
  auto* initCmd = ledgerCmd->add_subcommand("init", "创建只含标准资料的新账套");
  initCmd->add_option("PATH", ledgerPath, "新账套文件，或空数据库的连接串（postgresql://…）")->required();
  initCmd->add_option("--acct-type", ledgerKind, "账套类型" + kinds)->transform(KnownLedgerKind());
  auto* demoCmd = ledgerCmd->add_subcommand("demo", "创建满是示例资料的新账套");
  demoCmd->add_option("PATH", ledgerPath, "新账套文件，或空数据库的连接串（postgresql://…）")->required();
  demoCmd->add_option("--acct-type", ledgerKind, "账套类型" + kinds)->transform(KnownLedgerKind());
  auto* upgradeCmd = ledgerCmd->add_subcommand("upgrade", "把较旧结构版本的账套就地升级到本程序的版本（一个事务，失败则不作改动）");
  upgradeCmd->add_option("PATH", ledgerPath, "账套文件，或账套所在数据库的连接串")->required();
  auto* infoCmd = ledgerCmd->add_subcommand("info", "只读查看账套：类型、结构版本、各类对象数");
  infoCmd->add_option("PATH", ledgerPath, "账套文件，或账套所在数据库的连接串")->required();

  auto* compareCmd = app.add_subcommand("compare", "逐个文件、逐条记录比较两次整账套导出的文件夹");
  std::string dir1, dir2, compareKind;
  compareCmd->add_option("DIR1", dir1, "第一个文件夹")->required();
  compareCmd->add_option("DIR2", dir2, "第二个文件夹")->required();
  compareCmd->add_option("--acct-type", compareKind, "导出时的账套类型" + kinds)->transform(KnownLedgerKind());

  auto* typesCmd = app.add_subcommand("types", "列出基础资料代码");
  bool servedOnly = false;
  typesCmd->add_flag("--served", servedOnly, "只列出已能交换的代码，每行一个");

  auto* logCmd = app.add_subcommand("log", "显示交换日志的条目（时间、方向、信息）及其位置");
  std::optional<int> tail;
  logCmd->add_option("--tail", tail, "只显示最后 N 条")->type_name("N")->check(Count());

  auto* serveCmd = app.add_subcommand("serve", "在本机提供交换网页：浏览、引入（预演、进度、取消）、导出、模板与日志");
  morvent::web::ServeOptions serve;
  int64_t maxUploadMb = morvent::web::kDefaultMaxUploadMb;
  serveCmd->add_option("-l,--ledger", serve.ledger, "账套文件（启动后不再改变）")->required();
  serveCmd->add_option("--port", serve.port, "端口（默认 8080，0 为任一空闲端口）")->check(CLI::Range(0, 65535));
  serveCmd->add_option("--bind", serve.bind, "监听地址（默认 127.0.0.1，只有本机能连接）");
  serveCmd->add_option("--max-upload", maxUploadMb, "上传文件的大小上限，单位 MB（默认 200）")
      ->type_name("MB")->check(CLI::Range(int64_t{1}, int64_t{1} << 20));

  Localize(app);  // after every option, so each is put into Chinese

  if (auto unknown = UnknownCommand(app, argc, argv)) {
    std::cerr << *unknown << std::flush;
    return kExitUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version end with success; every other parse error is usage.
    return app.exit(e) == 0 ? kExitTrue : kExitUsage;
  }

  for (auto [cmd, o] : {std::pair{exportCmd, &exp}, std::pair{importCmd, &imp}, std::pair{checkCmd, &chk}})
    if (*cmd && o->all.empty() && o->type.empty()) {
      std::cerr << cmd->get_name() << "：需要 --type 与 --file，或 --all" << std::endl;
      return kExitUsage;
    }
  if (*templateCmd) {
    if (templateAll.empty() && templateType.empty()) {
      std::cerr << "template：需要 --type 与 --file，或 --all" << std::endl;
      return kExitUsage;
    }
    return RunTemplate(templateType, templateFile, templateAll, templateExample);
  }
  if (*importCmd && !imp.errorsOut.empty() &&
      (!imp.all.empty() || SheetFormatOf(imp.file).empty() || SheetFormatOf(imp.errorsOut).empty())) {
    std::cerr << "import：--errors-out 需要 --type 与 .xlsx 或 .csv 的 --file，错误文件也应为 .xlsx 或 .csv" << std::endl;
    return kExitUsage;
  }
  if (*serveCmd) {
    serve.maxUploadBytes = maxUploadMb * 1024 * 1024;
    return morvent::web::RunServe(serve);
  }
  if (*exportCmd) return RunExport(exp);
  if (*importCmd) return RunImport(imp);
  if (*checkCmd) return RunCheck(chk);
  if (*compareCmd) return RunCompare(dir1, dir2, compareKind);
  if (*initCmd) return RunLedgerInit(ledgerPath, ledgerKind, false);
  if (*demoCmd) return RunLedgerInit(ledgerPath, ledgerKind, true);
  if (*infoCmd) return RunLedgerInfo(ledgerPath);
  if (*upgradeCmd) return RunLedgerUpgrade(ledgerPath);
  if (*typesCmd) return RunTypes(servedOnly);
  if (*logCmd) return RunLog(tail);
  return kExitUsage;
}
