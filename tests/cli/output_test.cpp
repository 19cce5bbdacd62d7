// What the tool prints off a terminal: progress paced so that a log stays
// short, counts that match the files, and a whole-ledger run that ends with
// its total.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include "cli/file_records.h"
#include "cli/pace.h"
#include "context/datafile.h"
#include "platform/registry.h"
#include "tests/cli/tool.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

using cli::ProgressPace;
using std::chrono::milliseconds;

TEST(Progress, PaceIsAfterTheFirstSecondAtMostOncePerTenthAndPerSecond) {
  struct Event {
    int ms;
    double rate;
    bool due;
  };
  struct Case {
    const char* name;
    std::vector<Event> events;
  };
  const std::vector<Case> cases = {
      {"a run within its first second shows nothing", {{100, 10, false}, {500, 50, false}, {999, 100, false}}},
      {"after it, a new tenth shows", {{999, 30, false}, {1000, 30, true}, {1500, 39, false}, {2500, 40, true}}},
      {"tenths faster than seconds are dropped",
       {{1000, 10, true}, {1200, 20, false}, {1900, 30, false}, {2000, 40, true}, {2001, 90, false}}},
      {"seconds without a new tenth show nothing", {{1000, 12, true}, {5000, 13, false}, {9000, 19, false}}},
      {"a rate past 100 counts as 100", {{1000, 250, true}, {3000, 100, false}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto start = ProgressPace::Clock::time_point{};
    ProgressPace pace(start);
    for (const auto& e : c.events) EXPECT_EQ(pace.Due(e.rate, start + milliseconds(e.ms)), e.due) << e.ms << " ms";
  }
}

TEST(Counts, RowsAndRecordsNameTheGroupsOnlyWhenTheyDiffer) {
  struct Case {
    std::string element;
    int64_t rows;
    std::optional<int64_t> records;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"Department", 14, 14, "14 行"},
      {"Department", 14, std::nullopt, "14 行"},
      {"MeasureUnit", 4, 12, "4 组，12 条"},
      {"AssistDetail", 18, 59, "18 类，59 条"},
  };
  for (const auto& c : cases) EXPECT_EQ(cli::RowsAndRecords(c.element, c.rows, c.records), c.text) << c.element;
}

// Counted as they go out, through whatever writer is registered when the
// count begins, and only for a file that came out whole.
TEST(Counts, WrittenRecordsAreThoseOfTheLastWholeFile) {
  ProgramHome home;
  auto record = [] {
    auto r = NewRecord();
    r->SetValue("Number", Variant(std::string("01")));
    return r;
  };
  cli::WrittenRecords written;
  EXPECT_EQ(written.Last(), std::nullopt);
  std::string error;
  auto stream = CreateObjectAs<DataFileWriter>(kWriterProgId)->OpenStream(home.file("a.xml"), "", "Department");
  for (int i = 0; i < 3; ++i) stream->Add(record());
  stream->Close(error);
  EXPECT_EQ(written.Last(), 3);
  auto two = std::make_shared<RecordCollection>();
  two->Add(record());
  two->Add(record());
  CreateObjectAs<DataFileWriter>(kWriterProgId)->OutputXML(two, home.file("b.xml"), "", "Department", error);
  EXPECT_EQ(written.Last(), 2);
  auto broken = CreateObjectAs<DataFileWriter>(kWriterProgId)->OpenStream(home.file("none/c.xml"), "", "Department");
  broken->Add(record());
  EXPECT_THROW(broken->Close(error), Error);
  EXPECT_EQ(written.Last(), std::nullopt);
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t from = 0;
  for (size_t at; (at = text.find('\n', from)) != std::string::npos; from = at + 1) lines.push_back(text.substr(from, at - from));
  return lines;
}

// The main job's steps on the demo ledger: no progress line at all, a line
// per kind and the total last; the units count their groups and records.
TEST(WholeLedgerOutput, KindsFinishingWithinASecondShowNoProgressAndTheTotalComesLast) {
  ProgramHome home;
  const std::string src = home.file("src.db"), dst = home.file("dst.db"), a = home.file("a");
  ASSERT_EQ(RunTool(home, "ledger demo " + Quote(src) + " --acct-type GY").status, 0);
  ASSERT_EQ(RunTool(home, "ledger init " + Quote(dst) + " --acct-type GY").status, 0);
  struct Step {
    std::string args;
    size_t lines;  // kinds, warnings, skipped kinds and the total
    std::string total;
  };
  const std::vector<Step> steps = {
      {"export --ledger " + Quote(src) + " --all " + Quote(a), 17, "整账套导出完成：运行 16 种，跳过 0 种；共 236 条记录，0 个错误，0 个警告，用时 "},
      {"import --ledger " + Quote(dst) + " --all " + Quote(a), 0, "整账套引入完成：运行 15 种，跳过 1 种；共 230 条记录，0 个错误，"},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.args);
    ASSERT_EQ(RunTool(home, s.args).status, 0);
    const std::string err = ReadFile(home.file("stderr.txt"));
    const auto lines = SplitLines(err);
    ASSERT_FALSE(lines.empty());
    EXPECT_FALSE(std::regex_search(err, std::regex("[0-9]+%"))) << err;
    if (s.lines) EXPECT_EQ(lines.size(), s.lines) << err;
    EXPECT_EQ(lines.back().rfind(s.total, 0), 0u) << err;
  }
}

TEST(WholeLedgerOutput, AnExportCountsTheRecordsItsFileHolds) {
  ProgramHome home;
  const std::string src = home.file("src.db");
  ASSERT_EQ(RunTool(home, "ledger demo " + Quote(src)).status, 0);
  ASSERT_EQ(RunTool(home, "export --ledger " + Quote(src) + " --all " + Quote(home.file("a"))).status, 0);
  const std::string err = ReadFile(home.file("stderr.txt"));
  EXPECT_TRUE(std::regex_search(err, std::regex("\n计量单位 导出完成：4 组，12 条，0 个错误，用时 [0-9.]+ 秒\n"))) << err;
  EXPECT_TRUE(std::regex_search(err, std::regex("\n辅助资料 导出完成：18 类，59 条，0 个错误"))) << err;
  auto jsonl = RunTool(home, "export --ledger " + Quote(src) + " --all " + Quote(home.file("a")) + " --overwrite --events jsonl");
  ASSERT_EQ(jsonl.status, 0);
  int units = 0;
  for (const auto& j : Lines(jsonl.out))
    if (j["event"] == "Summary" && j["element"] == "MeasureUnit") {
      ++units;
      EXPECT_EQ(j["rows"], 4);
      EXPECT_EQ(j["records"], 12);
    }
  EXPECT_EQ(units, 1);
}

}  // namespace
}  // namespace morvent::test
