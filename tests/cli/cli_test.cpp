// The tool as a user runs it: real processes, real ledgers, real files.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/progdir.h"
#include "tests/cli/tool.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

TEST(Tool, ExportsAccountTypesOfANewLedger) {
  ProgramHome home;
  std::string ledger = home.file("l.db"), file = home.file("t.xml");
  ASSERT_EQ(RunTool(home, "ledger init " + Quote(ledger)).status, 0) << ReadFile(home.file("stderr.txt"));
  auto o = RunTool(home, "export --ledger " + Quote(ledger) + " --type 101 --file " + Quote(file) + " --events jsonl");
  ASSERT_EQ(o.status, 0) << ReadFile(home.file("stderr.txt"));
  auto lines = Lines(o.out);
  ASSERT_EQ(lines.size(), 7u);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(lines[static_cast<size_t>(i)]["event"], "ExportOneRow");
    EXPECT_EQ(lines[static_cast<size_t>(i)]["lRow"], i + 1);
  }
  EXPECT_EQ(lines[0].dump(), R"({"event":"ExportOneRow","lRow":1,"dblRate":16})");
  EXPECT_EQ(lines[5]["dblRate"], 100);
  EXPECT_EQ(lines[6].dump(), R"({"event":"Result","value":true})");
  std::string lint = "xmllint --noout --nonet --schema " + Quote(home.file("SchemaAccountType.xml")) + " " +
                     Quote(file) + " 2>/dev/null";
  EXPECT_EQ(std::system(lint.c_str()), 0);
  std::string xml = ReadFile(file);
  EXPECT_NE(xml.find("<Name>所有者权益</Name>"), std::string::npos);
}

TEST(Tool, MissingLedgerIsAnErrorAndCreatesNothing) {
  ProgramHome home;
  std::string ledger = home.file("missing.db");
  auto o = RunTool(home, "export --ledger " + Quote(ledger) + " --type 101 --file " + Quote(home.file("t.xml")));
  EXPECT_EQ(o.status, 5) << "could not open";
  EXPECT_FALSE(FileExist(ledger));
  EXPECT_NE(ReadFile(home.file("stderr.txt")).find(ledger), std::string::npos);
  // Through a client's own property string too.
  o = RunTool(home, "export --props " + Quote("Data Source=" + ledger + ";AcctType=GY") + " --type 101 --file " +
                    Quote(home.file("t.xml")));
  EXPECT_EQ(o.status, 5);
  EXPECT_FALSE(FileExist(ledger));
}

TEST(Tool, UnassignedCodeAnswersFalseWithoutEvents) {
  ProgramHome home;
  std::string ledger = home.file("l.db");
  ASSERT_EQ(RunTool(home, "ledger init " + Quote(ledger)).status, 0);
  auto o = RunTool(home, "export --ledger " + Quote(ledger) + " --type 109 --file " + Quote(home.file("t.xml")) +
                         " --events jsonl");
  EXPECT_EQ(o.status, 1);
  auto lines = Lines(o.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].dump(), R"({"event":"Warning","text":"109 不是已分配的基础资料代码（见 morvent types）"})");
  EXPECT_EQ(lines[1].dump(), R"({"event":"Result","value":false})");
  EXPECT_FALSE(FileExist(home.file("t.xml")));
}

TEST(Tool, UsageErrors) {
  ProgramHome home;
  EXPECT_EQ(RunTool(home, "export --type 101").status, 2);
  EXPECT_EQ(RunTool(home, "export --ledger a.db --props x --type 101 --file f").status, 2);
  EXPECT_EQ(RunTool(home, "export --ledger a.db --type Nonsense --file f").status, 2);
  EXPECT_EQ(RunTool(home, "frobnicate").status, 2);
  EXPECT_EQ(RunTool(home, "--help").status, 0);
}

TEST(Tool, ExistingTargetIsKeptWithoutConsent) {
  ProgramHome home;
  std::string ledger = home.file("l.db"), file = home.file("t.xml");
  ASSERT_EQ(RunTool(home, "ledger init " + Quote(ledger)).status, 0);
  WriteFile(file, "keep me");
  auto o = RunTool(home, "export --ledger " + Quote(ledger) + " --type 101 --file " + Quote(file) + " --events jsonl");
  EXPECT_EQ(o.status, 1);
  auto lines = Lines(o.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]["event"], "Question");
  EXPECT_EQ(lines[0]["answer"], "no");
  EXPECT_EQ(ReadFile(file), "keep me");
  o = RunTool(home, "export --ledger " + Quote(ledger) + " --type AccountType --file " + Quote(file) + " --overwrite");
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(ReadFile(file).find("AccountTypeList"), std::string::npos);
}

TEST(Tool, OnErrorStopsOrSkipsAndEveryErrorIsLogged) {
  ProgramHome home;
  std::string ledger = home.file("l.db"), file = home.file("d.xml");
  ASSERT_EQ(RunTool(home, "ledger init " + Quote(ledger)).status, 0);
  WriteFile(file,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DepartmentList>\n"
            "<Department><Number>01</Number><Name>总部</Name></Department>\n"
            "<Department><Number>01.02</Number><Name>孤儿</Name></Department>\n"
            "<Department><Number>02</Number><Name>分部</Name></Department>\n"
            "</DepartmentList>\n");
  const std::string message = "引入部门资料错误，当前记录名称为：孤儿\r错误信息：\r代码01.02 编码中不能打点，该记录无法引入！";

  auto stop = RunTool(home, "import --ledger " + Quote(ledger) + " --type 120 --file " + Quote(file) + " --events jsonl");
  EXPECT_EQ(stop.status, 1);
  auto lines = Lines(stop.out);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0]["event"], "ImportOneRow");
  EXPECT_EQ(lines[1].dump(),
            nlohmann::ordered_json({{"event", "Error"},
                                    {"sErrMsg", message},
                                    {"cancel", true},
                                    {"row", 2},
                                    {"element", "Department"},
                                    {"number", "01.02"},
                                    {"hint", "记录中没有上级键 DeptGroup：带点的代码表示下级，请在 DeptGroup 中给出它的上级"}})
                .dump());
  EXPECT_EQ(lines[2].dump(), R"({"event":"Result","value":false,"created":1,"kept":0,"overwritten":0,"failed":1})");

  auto skip = RunTool(home, "import --ledger " + Quote(ledger) + " --type 120 --file " + Quote(file) +
                                " --on-error skip --events jsonl");
  EXPECT_EQ(skip.status, 4) << "True, but an error was let pass";
  lines = Lines(skip.out);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1]["cancel"], false);
  EXPECT_EQ(lines[2].dump(), R"({"event":"ImportOneRow","lRow":2,"dblRate":66})");
  EXPECT_EQ(lines[4].dump(), R"({"event":"Result","value":true,"created":1,"kept":1,"overwritten":0,"failed":1})");

  auto log = ReadLogEntries(home.file("Morvent_log.xml"));
  ASSERT_EQ(log.size(), 2u);
  for (const auto& entry : log) {
    EXPECT_EQ(entry.direct, "导入基础资料数据");
    EXPECT_EQ(entry.message, message);
  }
}

}  // namespace
}  // namespace morvent::test
