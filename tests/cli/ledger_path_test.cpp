// The ledger a run uses is the very file the user named: a path the
// property string cannot carry exactly is refused before any work, and the
// ledgers it could be mistaken for stay as they were.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli/tool.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

namespace fs = std::filesystem;

class LedgerPath : public ::testing::Test {
 protected:
  void SetUp() override {
    // Decoys: what a mangled path would name instead.
    for (const char* decoy : {"x", "x.db", "decoy"})
      ASSERT_EQ(Tool("ledger demo " + Quote(decoy)).status, 0) << Stderr();
    for (const char* decoy : {"x", "x.db", "decoy"}) decoys.push_back({decoy, ReadFile(home.file(decoy))});
    fs::create_directory(home.file("in"));
    WriteFile(home.file("in/Department.xml"), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DepartmentList>\n"
                                  "<Department><Number>Z1</Number><Name>新部门</Name></Department>\n"
                                  "</DepartmentList>\n");
  }
  // Relative paths are found in the program home.
  Outcome Tool(const std::string& args) { return RunToolIn(home, home.path(), args); }
  std::string Stderr() const { return ReadFile(home.file("stderr.txt")); }
  void ExpectDecoysUntouched() {
    for (const auto& [name, bytes] : decoys) EXPECT_TRUE(ReadFile(home.file(name)) == bytes) << name << " changed";
  }
  // The departments line of `ledger info`.
  std::string Departments(const std::string& ledger) {
    auto o = Tool("ledger info " + Quote(ledger));
    EXPECT_EQ(o.status, 0) << Stderr();
    const size_t at = o.out.find("\t部门\t");
    return at == std::string::npos ? "" : o.out.substr(at + 1, o.out.find('\n', at) - at - 1);
  }
  ProgramHome home;
  std::vector<std::pair<std::string, std::string>> decoys;
};

TEST_F(LedgerPath, EveryPathIsTheFileGivenOrIsRefused) {
  const std::string refusal = "无法使用这个账套路径：属性串无法原样容纳这个值（";
  const struct {
    std::string path, why;  // why: empty when the path is carried
  } cases[] = {
      {"{x}.db", "以 { 开头又含有 }"},
      {"{decoy}", "以 { 开头又含有 }"},
      {" x.db", "首尾有空格，读取时会被去掉"},
      {"x.db ", "首尾有空格，读取时会被去掉"},
      {"a;b}.db", "含有 ; 又含有 }"},
      {"a;b.db", ""},
      {"a}b.db", ""},
      {"{x.db", ""},
      {"Data Source=decoy", ""},
      {"x.db;Data Source=decoy", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("'" + c.path + "'");
    // ledger init and info take the path as it is, never through the
    // property string.
    ASSERT_EQ(Tool("ledger init " + Quote(c.path)).status, 0) << Stderr();
    ASSERT_TRUE(fs::is_regular_file(home.file(c.path)));
    const std::string fresh = ReadFile(home.file(c.path));
    const std::vector<std::string> runs = {
        "import --ledger " + Quote(c.path) + " --type 120 --file in/Department.xml",
        "import --ledger " + Quote(c.path) + " --type 120 --file in/Department.xml --dry-run --events jsonl",
        "import --ledger " + Quote(c.path) + " --all in",
        "export --ledger " + Quote(c.path) + " --type 120 --file out.xml",
        "export --ledger " + Quote(c.path) + " --all out",
    };
    for (const auto& run : runs) {
      SCOPED_TRACE(run);
      auto o = Tool(run);
      if (!c.why.empty()) {
        EXPECT_EQ(o.status, 2);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(Stderr(), refusal + c.why + "）：「" + c.path + "」\n");
        EXPECT_FALSE(fs::exists(home.file("out.xml")));
        EXPECT_FALSE(fs::exists(home.file("out")));
      } else {
        EXPECT_EQ(o.status, 0) << Stderr();
      }
    }
    if (c.why.empty()) {
      EXPECT_EQ(Departments(c.path), "部门\t1");
      EXPECT_NE(ReadFile(home.file("out.xml")).find("<Number>Z1</Number>"), std::string::npos);
      EXPECT_TRUE(fs::is_regular_file(home.file("out/Department.xml")));
    } else {
      EXPECT_EQ(ReadFile(home.file(c.path)), fresh);
    }
    ExpectDecoysUntouched();
    fs::remove(home.file("out.xml"));
    fs::remove_all(home.file("out"));
  }
}

}  // namespace
}  // namespace morvent::test
