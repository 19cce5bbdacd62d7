// The tool tells the truth about a run: how a code is spelled never changes
// what is called, a reader that goes away stops the run cleanly, the exit
// status tells errors let pass from a clean run, and a False with nothing
// to show says why.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/cli/tool.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

class ToolHonesty : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RunTool(home, "ledger init " + Quote(ledger)).status, 0) << Stderr();
  }
  std::string Stderr() const { return ReadFile(home.file("stderr.txt")); }
  // How many departments the ledger holds, as an export of them tells.
  size_t StoredDepartments() {
    const std::string out = home.file("stored.xml");
    auto o = RunTool(home, "export --ledger " + Quote(ledger) + " --type 120 --overwrite --file " + Quote(out));
    EXPECT_EQ(o.status, 0) << Stderr();
    const std::string xml = ReadFile(out);
    size_t n = 0;
    for (size_t at = xml.find("<Department>"); at != std::string::npos; at = xml.find("<Department>", at + 1)) ++n;
    return n;
  }
  ProgramHome home;
  std::string ledger = home.file("l.db");
  std::string data = home.file("d.xml");
};

TEST_F(ToolHonesty, EverySpellingOfACodeIsThatCode) {
  WriteFile(data, DepartmentsXml(2));
  struct Case {
    const char* spelling;
    int status;
  };
  const std::vector<Case> cases = {
      {"120", 0},   {"0120", 0}, {"+120", 0}, {" 120", 0},  {"120 ", 0}, {"00000120", 0}, {"Department", 0},
      {" 部门", 0}, {"12O", 2},  {"+", 2},    {"1 20", 2},  {"", 2},     {"99999999999", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("--type '") + c.spelling + "'");
    auto o = RunTool(home, "import --ledger " + Quote(ledger) + " --type " + Quote(c.spelling) + " --file " +
                               Quote(data) + " --events jsonl");
    EXPECT_EQ(o.status, c.status) << o.out << Stderr();
    if (c.status == 0) {
      auto lines = Lines(o.out);
      ASSERT_EQ(lines.size(), 3u) << o.out;
      EXPECT_EQ(lines[2]["event"], "Result");
      EXPECT_EQ(lines[2]["value"], true);
    }
  }
  EXPECT_EQ(StoredDepartments(), 2u);
}

TEST_F(ToolHonesty, AReaderThatGoesAwayStopsTheRunAndKeepsWhatWasStored) {
  // More progress lines than a pipe holds, so the tool is still importing
  // when the reader leaves.
  WriteFile(data, DepartmentsXml(3000));
  auto o = RunToolReadingOneLine(home, "import --ledger " + Quote(ledger) + " --type 120 --file " + Quote(data) +
                                           " --events jsonl");
  EXPECT_EQ(o.out, "{\"event\":\"ImportOneRow\",\"lRow\":1,\"dblRate\":0}\n");
  EXPECT_EQ(o.status, 1) << "the run did not finish";
  std::smatch m;
  const std::string err = Stderr();
  ASSERT_TRUE(std::regex_search(err, m, std::regex("输出已无法写入（Broken pipe），运行在第 ([0-9]+) 行后取消\n")))
      << err;
  const size_t rows = std::stoul(m[1]);
  EXPECT_GT(rows, 1u);
  EXPECT_LT(rows, 3000u);
  EXPECT_EQ(StoredDepartments(), rows);
}

TEST_F(ToolHonesty, ErrorsLetPassGiveStatusFourAndAreCounted) {
  WriteFile(data,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DepartmentList>\n"
            "<Department><Number>01</Number><Name>总部</Name></Department>\n"
            "<Department><Number>01.02</Number><Name>孤儿</Name></Department>\n"
            "</DepartmentList>\n");
  auto o = RunTool(home, "import --ledger " + Quote(ledger) + " --type 120 --file " + Quote(data) + " --on-error skip");
  EXPECT_EQ(o.status, 4);
  EXPECT_TRUE(std::regex_search(Stderr(), std::regex("\n部门 引入完成：2 行，1 个错误，用时 [0-9.]+ 秒；新建 1 条，保留 0 条，覆盖 0 条，失败 1 条\n$"))) << Stderr();
  // The same run without errors (the bad record gone) is a clean 0.
  WriteFile(data, DepartmentsXml(1));
  EXPECT_EQ(RunTool(home, "import --ledger " + Quote(ledger) + " --type 120 --file " + Quote(data)).status, 0);
}

TEST_F(ToolHonesty, AFalseWithoutEventsSaysWhy) {
  WriteFile(data, DepartmentsXml(1));
  struct Case {
    std::string args, why;
  };
  const std::vector<Case> cases = {
      {"export --ledger " + Quote(ledger) + " --type 0109", "109 不是已分配的基础资料代码（见 morvent types）"},
      {"import --ledger " + Quote(ledger) + " --type 101", "科目大类（101）只能导出，不能引入"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    auto o = RunTool(home, c.args + " --file " + Quote(data) + " --events jsonl");
    EXPECT_EQ(o.status, 1) << Stderr();
    auto lines = Lines(o.out);
    ASSERT_EQ(lines.size(), 2u) << o.out;
    EXPECT_EQ(lines[0]["event"], "Warning");
    EXPECT_EQ(lines[0]["text"], c.why);
    EXPECT_EQ(lines[1]["event"], "Result");
    EXPECT_EQ(lines[1]["value"], false);
  }
  auto text = RunTool(home, "import --ledger " + Quote(ledger) + " --type AccountType --file " + Quote(data));
  EXPECT_EQ(text.status, 1);
  EXPECT_EQ(Stderr().rfind("警告：科目大类（101）只能导出，不能引入\n科目大类 引入未完成：0 行，0 个错误", 0), 0u) << Stderr();
}

// A data file cannot steer the terminal through the errors it causes: the
// record's name arrives harmless, and its line break cannot forge a line.
TEST_F(ToolHonesty, ErrorsShowTheFilesTextsHarmless) {
  WriteFile(data, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DepartmentList>\n"
                  "<Department><Number>01.02</Number><Name>孤儿&#10;部门 引入完成&#x202E;&#x9B;</Name></Department>\n"
                  "</DepartmentList>\n");
  auto o = RunTool(home, "import --ledger " + Quote(ledger) + " --type 120 --file " + Quote(data) + " --on-error skip");
  EXPECT_EQ(o.status, 4);
  const std::string R = "\xEF\xBF\xBD";
  EXPECT_EQ(Stderr().rfind("错误（第 1 条记录）：引入部门资料错误，当前记录名称为：孤儿\n  部门 引入完成" + R + R +
                               "\n  错误信息：\n  代码01.02 ",
                           0),
            0u)
      << Stderr();
}

}  // namespace
}  // namespace morvent::test
