// A hand-edited data file with several mistakes: one run of the tool names
// them all, each on its own line, and brings in nothing.
#include <gtest/gtest.h>

#include "tests/cli/tool.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

TEST(ToolFileErrors, EveryMisspeltKeyIsToldInOneRun) {
  ProgramHome home;
  std::string ledger = home.file("l.db"), file = home.file("c.xml");
  ASSERT_EQ(RunTool(home, "ledger init " + Quote(ledger)).status, 0) << ReadFile(home.file("stderr.txt"));
  WriteFile(file,
            "<CustomerList>\n<Customer><Number>C1</Number>\n<Nmae>a</Nmae></Customer>\n"
            "<Customer><Number>C2</Number><Name>b</Name>\n<ShortNmae/></Customer>\n"
            "<Customer><Number>C3</Number>\n<name>c</name></Customer>\n</CustomerList>\n");
  auto o = RunTool(home, "import --ledger " + Quote(ledger) + " --type 客户 --file " + Quote(file));
  EXPECT_EQ(o.status, 1);
  const std::string said = ReadFile(home.file("stderr.txt"));
  const std::string unknown = "：接口定义文件中没有这个键（键名区分大小写），是否应为 ";
  EXPECT_NE(said.find("警告：读取数据文件 " + file + " 出错：共发现 3 处问题：\n"
                       "  第 3 行：元素 Customer 中有未知的键 Nmae" + unknown + "Name？\n"
                       "  第 5 行：元素 Customer 中有未知的键 ShortNmae" + unknown + "ShortName？\n"
                       "  第 7 行：元素 Customer 中有未知的键 name" + unknown + "Name？\n"),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("新建 0 条"), std::string::npos) << said;
}

}  // namespace
}  // namespace morvent::test
