// Habits of the tool: -y answers every overwrite question yes, a folder of
// earlier files is asked about once, and -l, -t, -f name the ledger, the kind
// and the file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/cli/tool.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

TEST(Habits, ShortOptionsAndYesOverwriteWithoutAQuestion) {
  ProgramHome home;
  const std::string ledger = home.file("l.db"), file = home.file("d.xml"), folder = home.file("all");
  ASSERT_EQ(RunTool(home, "ledger demo " + Quote(ledger)).status, 0);
  WriteFile(file, "old");
  struct Case {
    std::string args;
    int status;
    std::string firstLine;  // of stderr
  };
  const std::vector<Case> cases = {
      {"export -l " + Quote(ledger) + " -t 部门 -f " + Quote(file), 1, "询问：" + file + "文件已存在，是否覆盖？ → 否"},
      {"export -l " + Quote(ledger) + " -t 部门 -f " + Quote(file) + " -y", 0, "询问：" + file + "文件已存在，是否覆盖？ → 是"},
      {"export -l " + Quote(ledger) + " -t 120 -f " + Quote(file) + " --yes", 0, "询问：" + file + "文件已存在，是否覆盖？ → 是"},
      {"export -l " + Quote(ledger) + " --all " + Quote(folder), 0, "科目大类 导出完成"},
      {"export -l " + Quote(ledger) + " --all " + Quote(folder) + " -y", 0, "询问：" + folder + "/"},
      {"import -l " + Quote(home.file("l.db")) + " -t Department -f " + Quote(file), 0, "部门 引入完成"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    EXPECT_EQ(RunTool(home, c.args).status, c.status);
    const std::string err = ReadFile(home.file("stderr.txt"));
    EXPECT_EQ(err.substr(0, err.find('\n')).rfind(c.firstLine, 0), 0u) << err;
  }
  EXPECT_NE(ReadFile(file).find("<DepartmentList"), std::string::npos);
}

}  // namespace
}  // namespace morvent::test
