// morvent check: data files looked over without a ledger, every problem
// told, the status saying whether any was found.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "tests/cli/tool.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

const std::string kClean = "检查完毕：没有发现问题";
const std::string kFound = "检查完毕：发现问题，见上";

// A material file of the demo ledger with one price scale that is no number.
std::string MaterialsWithABadScale() {
  const char* fixtures = std::getenv("MORVENT_FIXTURES");
  std::string xml = ReadFile(std::string(fixtures ? fixtures : "tests/fixtures") + "/material/materials_gy.xml");
  return std::regex_replace(xml, std::regex("<PriceDecimal>[^<]*</PriceDecimal>"), "<PriceDecimal>abc</PriceDecimal>",
                            std::regex_constants::format_first_only);
}

TEST(ToolCheck, FindingsAreToldAndSetTheStatus) {
  const std::string twice = "<DepartmentList><Department><Number>D1</Number><Name>甲</Name></Department>"
                            "<Department><Number>D1</Number><Name>乙</Name></Department></DepartmentList>";
  const struct {
    const char* what;
    std::string args, content;
    int status;
    std::string said;  // a line the run must show
  } cases[] = {
      {"a clean file", "-t 部门 -f F", DepartmentsXml(3), 0, kClean},
      {"a misspelt key", "-t 部门 -f F", "<DepartmentList><Department>\n<Nmae/></Department></DepartmentList>", 4,
       "第 2 行：元素 Department 中有未知的键 Nmae"},
      {"a number given twice", "-t 部门 -f F", twice, 4,
       "警告：第 1 条和第 2 条记录的代码都是“D1”：后一条记录遇到的是前一条引入的对象，按引入方式保留或覆盖它"},
      {"a value that is no number", "-t 物料 -f F --acct-type GY", MaterialsWithABadScale(), 4,
       "键 PriceDecimal 的值“abc”不是数字"},
      {"an exported file whose keys the ledger does not all read", "-t 物料 -f F --acct-type GY",
       ReadFile(std::string(std::getenv("MORVENT_FIXTURES") ? std::getenv("MORVENT_FIXTURES") : "tests/fixtures") +
                "/material/materials_gy.xml"),
       0, kClean},
      {"a folder", "--all D", DepartmentsXml(2), 0, "整账套引入完成"},
      {"a folder with a misspelt key", "--all D", "<DepartmentList><Department><Nmae/></Department></DepartmentList>",
       4, kFound},
      {"a missing file", "-t 部门 -f M", "", 5, "数据文件 M 不存在"},
      {"a type without a file", "-t 部门", "", 2, "--type requires --file"},
  };
  ProgramHome home;
  const std::string scratch = home.file("tmp"), dir = home.file("d");
  std::filesystem::create_directories(scratch);
  std::filesystem::create_directories(dir);
  const std::string file = home.file("f.xml"), missing = home.file("none.xml");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(file, c.content);
    WriteFile(dir + "/Department.xml", c.content);
    std::string args = std::regex_replace(c.args, std::regex(" F\\b"), " " + Quote(file));
    args = std::regex_replace(args, std::regex(" D\\b"), " " + Quote(dir));
    args = std::regex_replace(args, std::regex(" M\\b"), " " + Quote(missing));
    auto o = RunCommand("TMPDIR=" + Quote(scratch) + " " + ToolCommand(home, "check " + args));
    const std::string said = ReadFile(home.file("stderr.txt"));
    EXPECT_EQ(o.status, c.status) << said;
    EXPECT_NE(said.find(std::regex_replace(c.said, std::regex("\\bM\\b"), missing)), std::string::npos) << said;
    if (c.status == 4) EXPECT_NE(said.find(kFound), std::string::npos) << said;
    // The ledger of the check is gone with its folder.
    EXPECT_TRUE(std::filesystem::is_empty(scratch));
  }
}

}  // namespace
}  // namespace morvent::test
