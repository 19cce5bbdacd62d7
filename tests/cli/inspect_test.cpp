// Looking inside a ledger and the exchange log through the tool.
#include <gtest/gtest.h>

#include <algorithm>

#include "front/code_table.h"
#include "platform/text.h"
#include "store/ledger_schema.h"
#include "store/ledger_store.h"
#include "tests/cli/tool.h"

namespace morvent::test {
namespace {

TEST(ToolInspect, LedgerInfoCountsEveryKindAndChangesNothing) {
  ProgramHome home;
  const std::string ledger = home.file("l.db"), file = home.file("d.xml");
  ASSERT_EQ(RunTool(home, "ledger init " + Quote(ledger) + " --acct-type gy").status, 0);
  WriteFile(file, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DepartmentList>\n"
                  "<Department><Number>01</Number><Name>总部</Name></Department>\n"
                  "<Department><Number>02</Number><Name>分部</Name></Department>\n</DepartmentList>\n");
  auto fresh = RunTool(home, "ledger info " + Quote(ledger));
  EXPECT_EQ(fresh.status, 0) << ReadFile(home.file("stderr.txt"));
  std::string lines = "账套：" + ledger + "\n类型（AcctType）：GY\n结构版本：" + std::to_string(kLedgerSchemaVersion) +
                      "\n对象数：\n";
  for (const auto& b : BaseTypes()) {
    const std::string line = std::to_string(b.code) + "\t" + b.element + "\t" + b.title + "\t";
    ASSERT_EQ(fresh.out.compare(lines.size(), line.size(), line), 0) << line;
    lines = fresh.out.substr(0, fresh.out.find('\n', lines.size()) + 1);
  }
  EXPECT_EQ(fresh.out, lines);
  EXPECT_NE(fresh.out.find("\t科目大类\t6\n"), std::string::npos);

  // Two departments and a class of the user's own later.
  ASSERT_EQ(RunTool(home, "import --ledger " + Quote(ledger) + " --type 120 --file " + Quote(file)).status, 0);
  LedgerStore::ForPath(ledger)->Exec("INSERT INTO t_ItemClass VALUES (30, '030', '项目');"
                                     "INSERT INTO t_Item (FItemClassID, FNumber, FName) VALUES (30, '01', '一期')");
  const std::string before = ReadFile(ledger);
  auto o = RunTool(home, "ledger info " + Quote(ledger));
  EXPECT_EQ(o.out, Replace(fresh.out, "\t部门\t0\n", "\t部门\t2\n") + "-\t-\t项目\t1\n");
  EXPECT_EQ(ReadFile(ledger), before);

  const struct {
    std::string path, message;
  } refused[] = {{home.file("none.db"), "账套文件不存在："}, {file, "不是账套文件："}};
  for (const auto& r : refused) {
    EXPECT_EQ(RunTool(home, "ledger info " + Quote(r.path)).status, 5);
    EXPECT_EQ(ReadFile(home.file("stderr.txt")), "失败：" + r.message + r.path + "\n");
  }
}

TEST(ToolInspect, LogPrintsEntriesAsUtf8Lines) {
  ProgramHome home;
  const std::string log = home.file("Morvent_log.xml"), head = "交换日志：" + log + "\n";
  auto none = RunTool(home, "log");
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, head + "还没有交换日志：尚未记录过任何错误\n");

  // Two errors logged by a real import, in the GB2312 a new log is written in.
  const std::string ledger = home.file("l.db"), file = home.file("d.xml");
  ASSERT_EQ(RunTool(home, "ledger init " + Quote(ledger)).status, 0);
  WriteFile(file, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DepartmentList>\n"
                  "<Department><Number>01.02</Number><Name>孤儿</Name></Department>\n"
                  "<Department><Number>01.03</Number><Name>孤儿二</Name></Department>\n</DepartmentList>\n");
  ASSERT_EQ(RunTool(home, "import --ledger " + Quote(ledger) + " --type 120 --file " + Quote(file) + " --on-error skip")
                .status,
            4);
  ASSERT_NE(ReadFile(log).find("encoding=\"GB2312\""), std::string::npos);
  std::string lines;
  for (auto e : ReadLogEntries(log)) {
    std::replace(e.message.begin(), e.message.end(), '\r', ' ');
    lines += e.time + "\t" + e.direct + "\t" + e.message + "\n";
  }
  EXPECT_NE(lines.find("\t导入基础资料数据\t引入部门资料错误，当前记录名称为：孤儿 错误信息： 代码01.02 编码中不能打点"),
            std::string::npos);
  EXPECT_EQ(RunTool(home, "log").out, head + lines);
  EXPECT_EQ(RunTool(home, "log --tail 1").out, head + lines.substr(lines.find('\n') + 1));
  EXPECT_EQ(RunTool(home, "log --tail 0").out, head);

  // Line breaks, tabs and controls that would steer a terminal stay on one line.
  WriteFile(log, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Morvent>\n"
                 "  <ErrLog Direct=\"导出基础资料数据\" Time=\"t\" ErrMsg=\"a&#13;&#10;b&#9;c&#x9B;d&#x7F;\"/>\n</Morvent>\n");
  EXPECT_EQ(RunTool(home, "log").out, head + "t\t导出基础资料数据\ta b c\xEF\xBF\xBD" "d\xEF\xBF\xBD\n");
}

// A hostile ledger or log cannot steer the terminal through what the tool
// prints of it: escapes, titles, bells, C1 controls and reordering become
// U+FFFD, and a line break cannot forge a line or an entry.
TEST(ToolInspect, HostileValuesArePrintedHarmless) {
  ProgramHome home;
  const std::string ledger = home.file("l.db"), R = "\xEF\xBF\xBD";
  ASSERT_EQ(RunTool(home, "ledger init " + Quote(ledger)).status, 0);
  LedgerStore::ForPath(ledger)->Exec(
      "UPDATE ledger_meta SET FValue = 'QY' || char(27) || '[2J' || char(8238) WHERE FKey = 'kind';"
      "INSERT INTO t_ItemClass VALUES (30, '030', '项目' || char(27) || ']0;title' || char(7) || char(10) ||"
      " '101' || char(9) || 'AccountType' || char(13) || char(155) || '31m');");
  auto info = RunTool(home, "ledger info " + Quote(ledger));
  EXPECT_EQ(info.status, 0) << ReadFile(home.file("stderr.txt"));
  EXPECT_NE(info.out.find("\n类型（AcctType）：QY" + R + "[2J" + R + "\n"), std::string::npos) << info.out;
  EXPECT_EQ(info.out.substr(info.out.rfind("-\t-\t")), "-\t-\t项目" + R + "]0;title" + R + " 101 AccountType " + R + "31m\t0\n");

  const std::string log = home.file("Morvent_log.xml");
  WriteFile(log, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Morvent>\n"
                 "  <ErrLog Direct=\"导入&#x202E;数据&#x85;&#x9B;\" Time=\"t&#10;2024-01-01&#9;导入&#9;伪造\" "
                 "ErrMsg=\"m&#x2066;&#x200F;\"/>\n</Morvent>\n");
  auto o = RunTool(home, "log");
  EXPECT_EQ(o.status, 0) << ReadFile(home.file("stderr.txt"));
  EXPECT_EQ(o.out, "交换日志：" + log + "\nt 2024-01-01 导入 伪造\t导入" + R + "数据" + R + R + "\tm" + R + R + "\n");
}

// Counts past 2^31 print whole, as they are.
TEST(ToolInspect, LedgerInfoPrintsCountsPastThirtyTwoBits) {
  ProgramHome home;
  const std::string ledger = home.file("l.db");
  ASSERT_EQ(RunTool(home, "ledger init " + Quote(ledger)).status, 0);
  LedgerStore::ForPath(ledger)->Exec(
      "UPDATE ledger_counts SET FCount = 3000000000 WHERE FTable = 't_AccountGroup' AND FScope = 0;"
      "INSERT INTO t_ItemClass VALUES (30, '030', '项目');"
      "INSERT INTO ledger_counts VALUES ('t_Item:FItemClassID', 30, 4294967301);");
  auto o = RunTool(home, "ledger info " + Quote(ledger));
  EXPECT_EQ(o.status, 0) << ReadFile(home.file("stderr.txt"));
  EXPECT_NE(o.out.find("\n101\tAccountType\t科目大类\t3000000000\n"), std::string::npos) << o.out;
  EXPECT_EQ(o.out.substr(o.out.rfind("-\t-\t")), "-\t-\t项目\t4294967301\n");
}

TEST(ToolInspect, DamagedLogIsAnErrorAfterTheWholeEntries) {
  ProgramHome home;
  const std::string log = home.file("Morvent_log.xml"), head = "交换日志：" + log + "\n";
  const std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", entry = "<ErrLog Direct=\"d\" Time=\"t\" ErrMsg=\"m\"/>\n";
  const struct {
    std::string content, printed, damage;
  } cases[] = {
      {decl + "<Other/>\n", "", "根元素应为 Morvent，而不是 Other\n"},
      {decl + "<!DOCTYPE Morvent>\n<Morvent/>\n", "", "日志中不能有文档类型声明\n"},
      {decl + "<!-- notes -->\n<Morvent>\n" + entry + "</Morvent>\n", "t\td\tm\n",
       "开头须是 XML 声明，随后直接是没有属性的根元素 Morvent\n"},
      {decl + "<Morvent>\n" + entry + "<ErrLog Direct=\"d", "t\td\tm\n", "第 4 行："},
      {"", "", "第 1 行："},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    WriteFile(log, c.content);
    auto o = RunTool(home, "log");
    EXPECT_EQ(o.status, 3);
    EXPECT_EQ(o.out, head + c.printed);
    // The parser's own words follow a place; ours end the line.
    const std::string expected = "交换日志 " + log + " 无法读取：" + c.damage;
    EXPECT_EQ(ReadFile(home.file("stderr.txt")).substr(0, expected.size()), expected);
  }
}

}  // namespace
}  // namespace morvent::test
