// What the tool says about itself and how it refuses what it cannot use.
#include <gtest/gtest.h>

#include "platform/progdir.h"
#include "store/ledger_admin.h"
#include "tests/cli/tool.h"

namespace morvent::test {
namespace {

TEST(ToolWords, BadValuesAreUsageErrorsBeforeAnyWork) {
  ProgramHome home;
  // The ledger does not exist: any work started would end with status 3.
  const std::string run = " --ledger " + Quote(home.file("none.db")) + " --type 120 --file d.xml";
  const struct {
    std::string args, message;
  } cases[] = {
      {"import" + run + " --imp-style 3", "--imp-style：只能是以下之一：1、2，不能是“3”"},
      {"import" + run + " --coding-style x", "--coding-style：只能是以下之一：1、2，不能是“x”"},
      {"import" + run + " --on-error go", "选项的值不合要求\n--on-error: go not in {stop,skip}\n运行 morvent --help 查看用法"},
      {"export" + run + " --acct-type XY", "--acct-type：只能是以下之一：QY、GY，不能是“XY”"},
      {"ledger init " + Quote(home.file("n.db")) + " --acct-type q", "--acct-type：只能是以下之一：QY、GY，不能是“q”"},
      {"ledger demo " + Quote(home.file("n.db")) + " --acct-type ''", "--acct-type：只能是以下之一：QY、GY，不能是“”"},
      {"compare a b --acct-type G", "--acct-type：只能是以下之一：QY、GY，不能是“G”"},
      {"log --tail -1", "--tail：需要 0 或正整数，不能是“-1”"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    EXPECT_EQ(RunTool(home, c.args).status, 2);
    EXPECT_EQ(ReadFile(home.file("stderr.txt")), "用法错误：" + c.message + "\n");
  }
  EXPECT_FALSE(FileExist(home.file("n.db")));

  EXPECT_EQ(RunTool(home, "types --bogus").status, 2);
  EXPECT_EQ(ReadFile(home.file("stderr.txt")),
            "用法错误：有无法识别的参数\nThe following argument was not expected: --bogus\n运行 morvent --help 查看用法\n");
}

TEST(ToolWords, VersionAndHelpInChinese) {
  ProgramHome home;
  auto v = RunTool(home, "--version");
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out, std::string("morvent ") + MORVENT_VERSION + "\n");

  for (const std::string cmd : {"", "export", "import", "ledger", "ledger init", "ledger demo", "ledger info",
                                "compare", "types", "log"}) {
    SCOPED_TRACE(cmd);
    auto h = RunTool(home, cmd + " --help");
    EXPECT_EQ(h.status, 0);
    EXPECT_NE(h.out.find("用法: morvent " + cmd), std::string::npos);
    EXPECT_NE(h.out.find("-h,--help                   显示此帮助并退出\n"), std::string::npos);
    EXPECT_NE(h.out.find("示例：\n  morvent ledger demo books.db --acct-type GY\n"), std::string::npos);
    for (const char* english : {"Usage", "OPTIONS", "Options", "SUBCOMMAND", "Subcommands", "Positionals",
                                "REQUIRED", "TEXT", "INT", "Excludes", "Needs", "Print", "bin/"})
      EXPECT_EQ(h.out.find(english), std::string::npos) << english;
  }
  const std::string help = RunTool(home, "import --help").out;
  EXPECT_NE(help.find("--imp-style 整数:{1,2}      1 保留已有对象，2 覆盖\n"), std::string::npos);
  for (const auto& kind : kLedgerKinds)
    EXPECT_NE(help.find(std::string(kind.code) + " " + kind.meaning), std::string::npos) << kind.code;
}

}  // namespace
}  // namespace morvent::test
