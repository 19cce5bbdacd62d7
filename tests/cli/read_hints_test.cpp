// What a user who edited a data file by hand, or who lost a schema file, is
// told by the tool.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/cli/tool.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

std::string WarningOf(const Outcome& o) {
  auto lines = Lines(o.out);
  return lines.empty() || lines[0]["event"] != "Warning" ? o.out : lines[0]["text"].get<std::string>();
}

TEST(ToolHints, AHandEditedFileIsExplainedWithItsLine) {
  const std::pair<std::string, std::string> cases[] = {
      {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CustomerList><Customer>\n<Name>\xC9\xCF\xBA\xA3</Name></Customer>"
       "</CustomerList>",
       "第 3 行：文件声明为 UTF-8，内容却像 GBK 编码：请把第一行的声明改为 encoding=\"GBK\"，或用编辑器把文件另存为 "
       "UTF-8（解析器原文：Input is not proper UTF-8, indicate encoding ! Bytes: 0xC9 0xCF 0xBA 0xA3）"},
      {"<CustomerList><Customer>\n<Nmae>a</Nmae></Customer></CustomerList>",
       "第 2 行：元素 Customer 中有未知的键 Nmae：接口定义文件中没有这个键（键名区分大小写），是否应为 Name？"},
      {"<CustomerList><Customer><Name>a</Name>\n<Name>b</Name></Customer></CustomerList>",
       "第 2 行：元素 Customer 中的键 Name 出现了两次：一条记录中每个键只能写一次，请删去多余的一个"},
      {"<CustomerList><Customer>\n<SettleCurrency>RMB</SettleCurrency></Customer></CustomerList>",
       "第 2 行：键 SettleCurrency 是一条嵌套的记录，其中只能写它的键（如 <Name>…</Name>），不能直接写文本（解析器原文："
       "Element 'SettleCurrency': Character content other than whitespace is not allowed because the content type "
       "is 'element-only'.）"},
      {"<CustomerList><Customer>\n<Name>张三 & 李四</Name></Customer></CustomerList>",
       "第 2 行：文本中有单独的“&”：XML 中的 & 须写成 &amp;（例如 A&amp;B）（解析器原文：xmlParseEntityRef: no name）"},
      {"<CustomerList><Customer>\n<Name>张",
       "第 2 行：文件不完整：到文件末尾时元素 Name 还没有结束，可能没有保存完或复制时被截断，请找回完整的文件"},
  };
  ProgramHome home;
  std::string ledger = home.file("l.db"), file = home.file("c.xml");
  ASSERT_EQ(RunTool(home, "ledger init " + Quote(ledger)).status, 0) << ReadFile(home.file("stderr.txt"));
  for (const auto& [content, problem] : cases) {
    WriteFile(file, content);
    auto o = RunTool(home, "import --ledger " + Quote(ledger) + " --type 110 --file " + Quote(file) + " --events jsonl");
    EXPECT_EQ(o.status, 1) << problem;
    EXPECT_EQ(WarningOf(o), "读取数据文件 " + file + " 出错：" + problem);
  }
}

TEST(ToolHints, AMissingSchemaNamesWhereItWasLookedFor) {
  ProgramHome home;
  std::string ledger = home.file("l.db"), file = home.file("c.xml");
  ASSERT_EQ(RunTool(home, "ledger init " + Quote(ledger)).status, 0) << ReadFile(home.file("stderr.txt"));
  WriteFile(file, "<CustomerList/>");
  home.RemoveSchema("SchemaCustomer.xml");
  const std::string where = "不存在！已在环境变量 MORVENT_HOME 指定的 " + home.path() + " 中查找。";
  EXPECT_EQ(WarningOf(RunTool(home, "import --ledger " + Quote(ledger) + " --type 110 --file " + Quote(file) +
                                        " --events jsonl")),
            "Morvent接口定义文件 " + home.file("SchemaCustomer.xml") + " " + where);
  auto o = RunTool(home, "export --ledger " + Quote(ledger) + " --type 110 --file " + Quote(home.file("out.xml")) +
                             " --events jsonl");
  EXPECT_EQ(WarningOf(o), "Morvent接口定义文件 SchemaCustomer.xml " + where);

  // A tool with no schema beside it and no MORVENT_HOME names both places
  // it looks in and the variable.
  namespace fs = std::filesystem;
  fs::create_directories(home.file("bin"));
  std::error_code linked;
  fs::create_hard_link(Tool(), home.file("bin/morvent"), linked);
  if (linked) fs::copy_file(Tool(), home.file("bin/morvent"));
  std::string cmd = "env -u MORVENT_HOME " + Quote(home.file("bin/morvent")) + " export --ledger " + Quote(ledger) +
                    " --type 110 --file " + Quote(home.file("out.xml")) + " --events jsonl </dev/null 2>/dev/null";
  Outcome bare;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) bare.out.append(buf, n);
    pclose(p);
  }
  EXPECT_EQ(WarningOf(bare), "Morvent接口定义文件 SchemaCustomer.xml 不存在！已在 " + home.file("bin") + "、" +
                                 home.file("share/morvent/schemas") +
                                 " 中查找；可用环境变量 MORVENT_HOME 指定接口定义文件所在的文件夹。");
}

}  // namespace
}  // namespace morvent::test
