// The tool shows what an error was about, counts bare parents and passes on
// the warnings about a file, in both output formats.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/cli/tool.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

class ToolDetail : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(RunTool(home, "ledger init " + Quote(ledger)).status, 0) << Stderr(); }
  std::string Stderr() const { return ReadFile(home.file("stderr.txt")); }
  Outcome Import(const std::string& type, const std::string& list, const std::string& records,
                 const std::string& more = "--events jsonl") {
    WriteFile(data, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + list + ">\n" + records + "</" + list + ">\n");
    return RunTool(home, "import --ledger " + Quote(ledger) + " --acct-type QY --type " + type + " --file " +
                             Quote(data) + " --on-error skip " + more);
  }
  ProgramHome home;
  std::string ledger = home.file("l.db");
  std::string data = home.file("d.xml");
};

TEST_F(ToolDetail, ErrorEventsSayWhichKeyWhichValueAndWhatWasExpected) {
  struct Case {
    std::string type, list, records;
    nlohmann::ordered_json error;  // the event as a whole
  };
  const std::vector<Case> cases = {
      {"110", "CustomerList",
       "<Customer><Number>01</Number><Name>甲公司</Name><CreditAmount>5万</CreditAmount></Customer>\n",
       {{"event", "Error"},
        {"sErrMsg", "引入客户资料错误，当前记录名称为：甲公司\r错误信息：\r类型不匹配"},
        {"cancel", false},
        {"row", 1},
        {"element", "Customer"},
        {"number", "01"},
        {"key", "CreditAmount"},
        {"value", "5万"},
        {"kind", "number"},
        {"detail", "键 CreditAmount 的值“5万”不是数字"}}},
      {"102", "AccountList",
       "<Account><Number>1002.01</Number><Name>工行</Name><ParentAcct>1002</ParentAcct></Account>\n",
       {{"event", "Error"},
        {"sErrMsg", "引入科目错误，当前科目代码为：1002.01\r错误信息：\r引入1002.01 的上级代码出现错误！"},
        {"cancel", false},
        {"row", 1},
        {"element", "Account"},
        {"number", "1002.01"},
        {"key", "ParentAcct"},
        {"value", "1002"},
        {"kind", "object"},
        {"detail", "键 ParentAcct 的值“1002”不是已有的上级"}}},
      // A nested record's key is named by its path.
      {"102", "AccountList",
       "<Account><Number>1001</Number><Name>现金</Name><Currency><Name>美元</Name><Number>USD</Number>"
       "<ExchangeRate>七</ExchangeRate></Currency></Account>\n",
       {{"event", "Error"},
        {"sErrMsg", "引入科目错误，当前科目代码为：1001\r错误信息：\r类型不匹配"},
        {"cancel", false},
        {"row", 1},
        {"element", "Account"},
        {"number", "1001"},
        {"key", "Currency/ExchangeRate"},
        {"value", "七"},
        {"kind", "number"},
        {"detail", "键 Currency/ExchangeRate 的值“七”不是数字"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.list);
    auto o = Import(c.type, c.list, c.records);
    EXPECT_EQ(o.status, 4) << Stderr();
    auto lines = Lines(o.out);
    ASSERT_GE(lines.size(), 1u) << o.out;
    EXPECT_EQ(lines[0].dump(), c.error.dump());
  }
}

TEST_F(ToolDetail, TextOutputAddsOneLineAndTheHint) {
  auto o = Import("110", "CustomerList",
                  "<Customer><Number>01</Number><Name>甲公司</Name><CreditAmount>5万</CreditAmount></Customer>\n"
                  "<Customer><Number>05.01</Number><Name>乙</Name></Customer>\n",
                  "--quiet");
  EXPECT_EQ(o.status, 4);
  const std::string err = Stderr();
  EXPECT_NE(err.find("错误（第 1 条记录）：引入客户资料错误，当前记录名称为：甲公司\n  错误信息：\n  类型不匹配（已跳过）\n"
                     "  键 CreditAmount 的值“5万”不是数字\n"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("代码05.01 编码中不能打点，该记录无法引入！（已跳过）\n"
                     "  提示：记录中没有上级键 CustomerType：带点的代码表示下级，请在 CustomerType 中给出它的上级\n"),
            std::string::npos)
      << err;
}

TEST_F(ToolDetail, BareParentsAndWarningsAreCounted) {
  const std::string records =
      "<Department><Number>01.01</Number><Name>一部</Name><Manager>李</Manager>"
      "<DeptGroup><Name>总部</Name><Number>01</Number></DeptGroup></Department>\n"
      "<Department><Number>01.01</Number><Name>一部</Name><DeptGroup><Name>总部</Name><Number>01</Number>"
      "</DeptGroup></Department>\n";
  auto o = Import("120", "DepartmentList", records);
  EXPECT_EQ(o.status, 0) << Stderr();
  auto lines = Lines(o.out);
  ASSERT_EQ(lines.size(), 5u) << o.out;
  // In the order of the rows they are about.
  EXPECT_EQ(lines[0].dump(),
            nlohmann::ordered_json(
                {{"event", "Warning"}, {"text", "第 1 条记录起的键 Manager 不会被引入：只导出，引入时不读取"}})
                .dump());
  EXPECT_EQ(lines[1].dump(),
            nlohmann::ordered_json({{"event", "Warning"},
                                    {"text", "第 1 条和第 2 条记录的代码都是“01.01”：后一条记录遇到的是前一条引入的对象，"
                                             "按引入方式保留或覆盖它"}})
                .dump());
  EXPECT_EQ(lines[4].dump(),
            R"({"event":"Result","value":true,"created":1,"kept":1,"overwritten":0,"failed":0,"bareParents":1})");

  o = Import("120", "DepartmentList", records, "");
  EXPECT_NE(Stderr().find("新建 0 条，保留 2 条，覆盖 0 条，失败 0 条\n"), std::string::npos) << Stderr();
}

}  // namespace
}  // namespace morvent::test
