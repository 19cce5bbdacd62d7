// The tool importing an undotted department file under coding style 2.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

#include "tests/handlers/fixture.h"

namespace morvent::test {
namespace {

std::string Tool() {
  if (const char* bin = std::getenv("MORVENT_BIN")) return std::string(bin) + "/morvent";
  std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  return self.substr(0, self.find_last_of('/')) + "/morvent";
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

class ToolTest : public HandlerTest, public ::testing::WithParamInterface<const char*> {
 protected:
  // stdout of the tool; status in rc.
  std::string RunTool(const std::string& args, int& rc) {
    std::string cmd = "MORVENT_HOME=" + Quote(home.path()) + " " + Quote(Tool()) + " " + args + " </dev/null 2>" +
                      Quote(home.file("stderr.txt"));
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    std::array<char, 4096> buf{};
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
    int status = pclose(p);
    rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
  }
};

TEST_P(ToolTest, UndottedFileGivesDottedNumbersAndOneRowPerRecord) {
  std::string ledger = NewLedger("l.db", GetParam());
  std::string file = WriteRecords("d.xml", "Department",
                                  {ItemRecord("010101", "前端组", "DeptGroup", "0101"),
                                   ItemRecord("010102", "后端组", "DeptGroup", "0101"),
                                   ItemRecord("0101", "软件部", "DeptGroup", "01"), ItemRecord("01", "研发中心"),
                                   ItemRecord("0201", "会计部", "DeptGroup", "02", "财务中心")});
  int rc = -1;
  std::string out = RunTool("import --ledger " + Quote(ledger) + " --type 120 --file " + Quote(file) +
                                " --coding-style 2 --events jsonl",
                            rc);
  ASSERT_EQ(rc, 0) << ReadFile(home.file("stderr.txt"));
  int rows = 0;
  for (size_t p = out.find("\"event\":\"ImportOneRow\""); p != std::string::npos;
       p = out.find("\"event\":\"ImportOneRow\"", p + 1))
    ++rows;
  EXPECT_EQ(rows, 5);
  EXPECT_EQ(out.find("\"event\":\"Error\""), std::string::npos) << out;

  auto items = Items(ledger, 2);
  ASSERT_EQ(items.size(), 6u);
  EXPECT_EQ(items["01.01.01"].parentNumber, "01.01");
  EXPECT_EQ(items["01.01.02"].parentNumber, "01.01");
  EXPECT_EQ(items["01.01"].parentNumber, "01");
  EXPECT_EQ(items["02"].name, "财务中心");
  EXPECT_EQ(items["02.01"].parentNumber, "02");
}

INSTANTIATE_TEST_SUITE_P(EitherKind, ToolTest, ::testing::Values("GY", "QY"));

}  // namespace
}  // namespace morvent::test
