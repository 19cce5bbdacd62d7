// A whole-ledger run ends at the first kind that shows it cannot go on, as
// Ctrl-C ends it: when nobody reads its output any more, and when another
// program holds the ledger. No kind after that one runs or stores anything.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "front/code_table.h"
#include "store/ledger_store.h"
#include "tests/cli/tool.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

class WholeLedgerStop : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RunTool(home, "ledger demo " + Quote(src)).status, 0);
    ASSERT_EQ(RunTool(home, "ledger init " + Quote(dst)).status, 0);
    ASSERT_EQ(RunTool(home, "export --ledger " + Quote(src) + " --all " + Quote(folder)).status, 0);
    before = Counts();
  }
  std::string Stderr() const { return ReadFile(home.file("stderr.txt")); }
  // The objects per kind code, as `ledger info` counts them.
  std::map<int32_t, int64_t> Counts() {
    auto o = RunTool(home, "ledger info " + Quote(dst));
    EXPECT_EQ(o.status, 0) << Stderr();
    std::map<int32_t, int64_t> counts;
    std::istringstream in(o.out);
    for (std::string line; std::getline(in, line);) {
      std::smatch m;
      if (std::regex_match(line, m, std::regex("([0-9]+)\t[^\t]+\t[^\t]+\t([0-9]+)")))
        counts[std::stoi(m[1])] = std::stoll(m[2]);
    }
    EXPECT_EQ(counts.size(), BaseTypes().size()) << o.out;
    return counts;
  }
  // Every kind after the given one in import order holds what it held.
  void ExpectNothingStoredAfter(int32_t code) {
    auto after = Counts();
    bool later = false;
    for (const BaseType* b : BaseTypesInImportOrder()) {
      if (later) EXPECT_EQ(after[b->code], before[b->code]) << b->title << " was stored after the run ended";
      later = later || b->code == code;
    }
    EXPECT_TRUE(later);
  }
  ProgramHome home;
  std::string src = home.file("src.db"), dst = home.file("dst.db"), folder = home.file("all");
  std::map<int32_t, int64_t> before;
};

TEST_F(WholeLedgerStop, ABrokenOutputEndsTheRunWithOneMessage) {
  // More events than a pipe holds, so the run is still in the departments
  // when the reader leaves after their first lines, as `| head -3` leaves.
  WriteFile(folder + "/Department.xml", DepartmentsXml(3000));
  const auto order = BaseTypesInImportOrder();
  const auto department = std::find_if(order.begin(), order.end(), [](const BaseType* b) { return b->code == 120; });
  ASSERT_NE(department, order.begin());
  const std::string kindBefore = "\"event\":\"Summary\",\"code\":" + std::to_string((*(department - 1))->code) + ",";
  auto o = RunToolReadingLines(home, "import --ledger " + Quote(dst) + " --all " + Quote(folder) + " --events jsonl", 3,
                               kindBefore);
  const std::string err = Stderr();
  EXPECT_EQ(Lines(o.out).size(), 3u);
  EXPECT_EQ(o.status, 1) << "the run did not finish";
  ExpectNothingStoredAfter(120);
  std::smatch m;
  ASSERT_TRUE(std::regex_match(
      err, m,
      std::regex("输出已无法写入（Broken pipe），运行在第 ([0-9]+) 行后取消；整账套运行到此为止，后面的种类不再运行\n")))
      << err;
  const int64_t rows = std::stoll(m[1]);
  EXPECT_GT(rows, 1);
  EXPECT_LT(rows, 3000);
  EXPECT_EQ(Counts()[120], before[120] + rows);
}

TEST_F(WholeLedgerStop, ALedgerInUseEndsTheRunAtTheFirstKindThatWaitsForIt) {
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open_v2(dst.c_str(), &other, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  const auto start = std::chrono::steady_clock::now();
  auto o = RunTool(home, "import --ledger " + Quote(dst) + " --all " + Quote(folder) + " --events jsonl");
  const auto waited = std::chrono::steady_clock::now() - start;
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);

  EXPECT_EQ(o.status, 1) << Stderr();
  // The wait is said, once.
  EXPECT_EQ(Stderr(), "诊断：" + WaitingText(1) + "\n");
  // One wait for the ledger, not one per kind.
  EXPECT_LT(waited, std::chrono::seconds(10));
  auto lines = Lines(o.out);
  ASSERT_FALSE(lines.empty());
  int errors = 0;
  for (const auto& j : lines)
    if (j["event"] == "Error") {
      ++errors;
      EXPECT_NE(j["sErrMsg"].get<std::string>().find("正被其他程序使用"), std::string::npos) << j.dump();
      EXPECT_EQ(j["cancel"], true);
    }
  EXPECT_EQ(errors, 1) << o.out;
  const auto& stop = lines.back();
  EXPECT_EQ(stop["event"], "Stopped");
  EXPECT_EQ(stop["text"], "账套正被其他程序使用，整账套运行到此为止，后面的种类不再运行");
  const auto& summary = lines[lines.size() - 2];
  EXPECT_EQ(summary["event"], "Summary");
  EXPECT_EQ(summary["code"], stop["code"]);
  EXPECT_EQ(summary["status"], 1);
  // Nobody could store anything while the ledger was held.
  EXPECT_EQ(Counts(), before);
}

}  // namespace
}  // namespace morvent::test
