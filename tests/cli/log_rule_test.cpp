// `morvent log` reads the log by the rule its writer keeps: an element of
// someone else's in the log is passed over, and what is written after it is
// shown.
#include <gtest/gtest.h>

#include "front/exchange_log.h"
#include "tests/cli/tool.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

TEST(ToolLog, EntriesWrittenAfterAnotherElementAreShown) {
  ProgramHome home;
  const std::string log = home.file(kLogFileName);
  WriteFile(log, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Morvent>\n"
                 "  <ErrLog Direct=\"d\" Time=\"t\" ErrMsg=\"m\"/>\n  <Note by=\"someone\"><ErrLog ErrMsg=\"x\"/></Note>\n"
                 "</Morvent>\n");
  ASSERT_EQ(ErrorOf([] { WriteErrLog(false, "新的"); }), "");
  auto o = RunTool(home, "log");
  EXPECT_EQ(o.status, 0) << ReadFile(home.file("stderr.txt"));
  const std::string head = "交换日志：" + log + "\nt\td\tm\n", tail = "\t导入基础资料数据\t新的\n";
  ASSERT_EQ(o.out.size(), head.size() + 19 + tail.size()) << o.out;  // the time is "yyyy-mm-dd hh:mm:ss"
  EXPECT_EQ(o.out.substr(0, head.size()), head);
  EXPECT_EQ(o.out.substr(o.out.size() - tail.size()), tail);
  EXPECT_EQ(ReadFile(home.file("stderr.txt")), "");
}

}  // namespace
}  // namespace morvent::test
