// One table of exit statuses, kept by every command.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/cli/tool.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

TEST(ExitStatus, EveryCommandKeepsTheTable) {
  ProgramHome home;
  const std::string ledger = home.file("l.db"), missing = home.file("missing"), out = home.file("out.xml");
  const std::string orphan = home.file("orphan.xml");
  ASSERT_EQ(RunTool(home, "ledger demo " + Quote(ledger)).status, 0);
  WriteFile(orphan,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DepartmentList>\n"
            "<Department><Number>X1.02</Number><Name>孤儿</Name></Department>\n"
            "<Department><Number>X2</Number><Name>分部</Name></Department>\n"
            "</DepartmentList>\n");
  const std::string withLedger = " --ledger " + Quote(ledger) + " --type 120 --file ";
  struct Case {
    std::string args;
    int status;
    std::string stderrHas;
  };
  const std::vector<Case> cases = {
      {"export" + withLedger + Quote(out), 0, "部门 导出完成"},
      {"export" + withLedger + Quote(out), 1, "询问："},  // declined to overwrite
      {"import" + withLedger + Quote(orphan), 1, "（已停止）"},
      {"import" + withLedger + Quote(orphan) + " --on-error skip", 4, "（已跳过）"},
      {"export --bogus", 2, "用法错误"},
      {"ledger init " + Quote(ledger), 3, "失败："},
      // Could not open: the ledger or the data file alike.
      {"export --ledger " + Quote(missing + ".db") + " --type 120 --file " + Quote(out), 5, "失败：账套文件不存在："},
      {"import --props " + Quote("Data Source=" + missing + ".db") + " --type 120 --file " + Quote(orphan), 5,
       "失败：账套文件不存在："},
      {"import" + withLedger + Quote(missing + ".xml"), 5, "警告：数据文件 " + missing + ".xml 不存在！"},
      {"export" + withLedger + Quote(missing + "/out.xml"), 5, "无法在 " + missing + " 中建立临时文件"},
      {"import --ledger " + Quote(ledger) + " --all " + Quote(missing), 5, "无法使用文件夹："},
      {"ledger info " + Quote(missing + ".db"), 5, "失败：账套文件不存在："},
      {"compare " + Quote(missing) + " " + Quote(home.path()), 5, "不是文件夹："},
  };
  auto help = RunTool(home, "--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("退出状态：0 全部完成，1 已停止（返回 False、拒绝覆盖），2 用法错误，3 失败，"
                          "4 完成但有错误被跳过，5 无法打开账套或数据文件，130 被 Ctrl-C 中断。详见 docs/cli.md。"),
            std::string::npos)
      << help.out;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    EXPECT_EQ(RunTool(home, c.args).status, c.status);
    const std::string err = ReadFile(home.file("stderr.txt"));
    EXPECT_NE(err.find(c.stderrHas), std::string::npos) << err;
  }
}

// --all exits with the worst of its kinds: a kind whose file cannot be read
// outranks a kind that stopped.
TEST(ExitStatus, AWholeLedgerRunExitsWithItsWorstKind) {
  ProgramHome home;
  const std::string ledger = home.file("l.db"), folder = home.file("all");
  ASSERT_EQ(RunTool(home, "ledger init " + Quote(ledger)).status, 0);
  ASSERT_EQ(RunTool(home, "ledger demo " + Quote(home.file("src.db"))).status, 0);
  ASSERT_EQ(RunTool(home, "export --ledger " + Quote(home.file("src.db")) + " --all " + Quote(folder)).status, 0);
  WriteFile(folder + "/Department.xml",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DepartmentList>\n"
            "<Department><Number>X1.02</Number><Name>孤儿</Name></Department>\n</DepartmentList>\n");
  EXPECT_EQ(RunTool(home, "import --ledger " + Quote(ledger) + " --all " + Quote(folder) + " --on-error skip").status, 4);
  std::filesystem::remove(folder + "/Customer.xml");
  std::filesystem::create_directory(folder + "/Customer.xml");  // present, but no file to read
  EXPECT_EQ(RunTool(home, "import --ledger " + Quote(ledger) + " --all " + Quote(folder)).status, 5);
}

}  // namespace
}  // namespace morvent::test
