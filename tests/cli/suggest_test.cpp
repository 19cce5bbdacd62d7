// "Did you mean": a misspelt command, option or kind is answered with the
// closest one, and the argument library's English never stands alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/suggest.h"
#include "tests/cli/tool.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

TEST(DidYouMean, ClosestIsWithinAFewEdits) {
  const std::vector<std::string> commands = {"export", "import", "ledger", "compare", "types", "log"};
  const std::vector<std::string> kinds = {"Department", "部门", "Employee", "职员"};
  struct Case {
    std::string word;
    const std::vector<std::string>& candidates;
    std::optional<std::string> closest;
  };
  const std::vector<Case> cases = {
      {"importt", commands, "import"}, {"IMPORT", commands, "import"}, {"exprot", commands, "export"},
      {"lgo", commands, "log"},        {"frobnicate", commands, std::nullopt}, {"xy", commands, std::nullopt},
      {"Departmen", kinds, "Department"}, {"depratment", kinds, "Department"}, {"部们", kinds, "部门"},
      {"Employer", kinds, "Employee"},  {"Dep", kinds, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(cli::Closest(c.word, c.candidates), c.closest) << c.word;
}

TEST(DidYouMean, TheToolAnswersWithTheClosestCommandOptionOrKind) {
  ProgramHome home;
  const std::string help = "运行 morvent --help 查看用法\n";
  struct Case {
    std::string args, stderrText;
  };
  const std::vector<Case> cases = {
      {"importt", "用法错误：没有命令“importt”，是否应为 import？\n" + help},
      {"ledger inti x.db", "用法错误：没有命令“inti”，是否应为 init？\n" + help},
      {"frobnicate", "用法错误：没有命令“frobnicate”（可用的命令：export、import、check、template、ledger、compare、types、log、serve）\n" + help},
      {"export --ledger x.db --type Departmen --file y.xml",
       "未知的基础资料类型：Departmen，是否应为 Department？（见 morvent types）\n"},
      {"export --leger x.db",
       "用法错误：有无法识别的参数\nThe following arguments were not expected: x.db --leger\n--leger：是否应为 --ledger？\n" +
           help},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    EXPECT_EQ(RunTool(home, c.args).status, 2);
    EXPECT_EQ(ReadFile(home.file("stderr.txt")), c.stderrText);
  }
}

}  // namespace
}  // namespace morvent::test
