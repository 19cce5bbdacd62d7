// A dry run through the tool: the same events, errors and counts as the real
// run, and a ledger left exactly as it was; the counts of every kind.
#include <gtest/gtest.h>

#include <map>

#include "cli/commands.h"
#include "store/ledger_store.h"
#include "tests/cli/tool.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

const char* const kDryRunLine =
    R"({"event":"DryRun","rolledBack":true,"text":"预演：全部改动已撤销，账套中未保存任何记录"})";

// Each kind's summary without its time, by code.
std::map<int, nlohmann::ordered_json> Summaries(const std::string& out) {
  std::map<int, nlohmann::ordered_json> m;
  for (auto j : Lines(out))
    if (j["event"] == "Summary") {
      j.erase("seconds");
      m[j["code"].get<int>()] = j;
    }
  return m;
}

class DryRunTool : public ::testing::Test {
 protected:
  std::string Stderr() const { return ReadFile(home.file("stderr.txt")); }
  Outcome Tool(const std::string& args) { return RunTool(home, args); }
  ProgramHome home;
};

TEST_F(DryRunTool, GivesTheRealRunsEventsAndLeavesTheLedgerAsItWas) {
  const std::string ledger = home.file("l.db"), data = home.file("d.xml");
  ASSERT_EQ(Tool("ledger init " + Quote(ledger)).status, 0);
  WriteFile(data,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DepartmentList>\n"
            "<Department><Number>01</Number><Name>总部</Name></Department>\n"
            "<Department><Number>01.02</Number><Name>孤儿</Name></Department>\n"
            "<Department><Number>02</Number><Name>分部</Name></Department>\n"
            "</DepartmentList>\n");
  const std::string import = "import --ledger " + Quote(ledger) + " --type 120 --file " + Quote(data) +
                             " --on-error skip --events jsonl";
  auto before = Tool("export --ledger " + Quote(ledger) + " --all " + Quote(home.file("before")));
  ASSERT_EQ(before.status, 0) << Stderr();

  auto dry = Tool(import + " --dry-run");
  EXPECT_EQ(dry.status, 4) << Stderr();
  auto dryLines = Lines(dry.out);
  ASSERT_FALSE(dryLines.empty());
  EXPECT_EQ(dryLines.back().dump(), kDryRunLine);
  dryLines.pop_back();
  ASSERT_EQ(Tool("export --ledger " + Quote(ledger) + " --all " + Quote(home.file("after"))).status, 0);
  auto cmp = Tool("compare " + Quote(home.file("before")) + " " + Quote(home.file("after")));
  EXPECT_EQ(cmp.status, 0) << cmp.out;

  auto real = Tool(import);
  EXPECT_EQ(real.status, 4);
  auto realLines = Lines(real.out);
  EXPECT_EQ(dryLines, realLines);
  EXPECT_EQ(realLines.back().dump(), R"({"event":"Result","value":true,"created":2,"kept":0,"overwritten":0,"failed":1})");
  auto log = ReadLogEntries(home.file("Morvent_log.xml"));
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].message, log[1].message);
}

// One whole-ledger run, dry and real, then again keeping and overwriting:
// every kind's records land in exactly one count, and the dry run's counts
// are the real run's though later kinds lean on earlier ones.
TEST_F(DryRunTool, WholeLedgerCountsEveryKindAndTheDryRunStoresNothing) {
  const std::string src = home.file("src.db"), dst = home.file("dst.db"), a = home.file("a");
  ASSERT_EQ(Tool("ledger demo " + Quote(src)).status, 0);
  ASSERT_EQ(Tool("ledger init " + Quote(dst)).status, 0);
  ASSERT_EQ(Tool("export --ledger " + Quote(src) + " --all " + Quote(a)).status, 0);
  ASSERT_EQ(Tool("export --ledger " + Quote(dst) + " --all " + Quote(home.file("empty"))).status, 0);
  const std::string import = "import --ledger " + Quote(dst) + " --all " + Quote(a) + " --events jsonl";

  auto dry = Tool(import + " --dry-run");
  ASSERT_EQ(dry.status, 0) << Stderr();
  EXPECT_EQ(Lines(dry.out).back().dump(), kDryRunLine);
  ASSERT_EQ(Tool("export --ledger " + Quote(dst) + " --all " + Quote(home.file("still"))).status, 0);
  auto cmp = Tool("compare " + Quote(home.file("empty")) + " " + Quote(home.file("still")));
  EXPECT_EQ(cmp.status, 0) << cmp.out;

  auto first = Summaries(Tool(import).out);
  EXPECT_EQ(Summaries(dry.out), first);
  auto kept = Summaries(Tool(import).out);
  auto overwritten = Summaries(Tool(import + " --imp-style 2").out);
  ASSERT_EQ(first.size(), 15u);
  for (auto& [code, s] : first) {
    SCOPED_TRACE(s.dump());
    const int64_t records = s["created"].get<int64_t>() + s["kept"].get<int64_t>();
    EXPECT_GT(records, 0);
    EXPECT_EQ(s["failed"], 0);
    EXPECT_EQ(s["overwritten"], 0);
    const std::vector<std::pair<nlohmann::ordered_json*, const char*>> reruns = {{&kept[code], "kept"},
                                                                                 {&overwritten[code], "overwritten"}};
    for (auto [again, count] : reruns) {
      SCOPED_TRACE(again->dump());
      for (const char* key : {"created", "kept", "overwritten", "failed"})
        EXPECT_EQ((*again)[key].get<int64_t>(), std::string(key) == count ? records : 0) << key;
    }
  }
}

TEST_F(DryRunTool, CountsTellCreatedKeptOverwrittenAndFailedRecordsApart) {
  const std::string base = home.file("base.xml"), data = home.file("d.xml");
  WriteFile(base,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DepartmentList>\n"
            "<Department><Number>01</Number><Name>总部</Name></Department>\n"
            "</DepartmentList>\n");
  WriteFile(data,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DepartmentList>\n"
            "<Department><Number>01</Number><Name>总部新名</Name></Department>\n"
            "<Department><Number>01.02</Number><Name>孤儿</Name></Department>\n"
            "<Department><Number> </Number><Name>无码</Name></Department>\n"
            "<Department><Number>02</Number><Name>分部</Name></Department>\n"
            "</DepartmentList>\n");
  struct Case {
    std::string options;
    std::string result;
  };
  const std::vector<Case> cases = {
      {"", R"("created":1,"kept":1,"overwritten":0,"failed":2})"},
      {"--imp-style 2", R"("created":1,"kept":0,"overwritten":1,"failed":2})"},
      {"--imp-style 2 --dry-run", R"("created":1,"kept":0,"overwritten":1,"failed":2})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    const std::string ledger = home.file("l" + std::to_string(&c - &cases[0]) + ".db");
    ASSERT_EQ(Tool("ledger init " + Quote(ledger)).status, 0);
    ASSERT_EQ(Tool("import --ledger " + Quote(ledger) + " --type 120 --file " + Quote(base)).status, 0);
    auto o = Tool("import --ledger " + Quote(ledger) + " --type 120 --file " + Quote(data) +
                  " --on-error skip --events jsonl " + c.options);
    EXPECT_EQ(o.status, 4) << Stderr();
    auto lines = Lines(o.out);
    ASSERT_GE(lines.size(), 2u);
    const auto& result = lines[lines.size() - (c.options.find("dry") != std::string::npos ? 2 : 1)];
    EXPECT_EQ(result.dump(), R"({"event":"Result","value":true,)" + c.result);
  }
  // Failing on a field after its first save: the record failed, and its
  // first save is undone with it.
  const std::string gy = home.file("gy.db");
  ASSERT_EQ(Tool("ledger init " + Quote(gy) + " --acct-type GY").status, 0);
  WriteFile(data,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CustomerList>\n"
            "<Customer><Number>C1</Number><Name>甲</Name><CreditLimit>abc</CreditLimit></Customer>\n"
            "</CustomerList>\n");
  auto o = Tool("import --ledger " + Quote(gy) + " --type 110 --file " + Quote(data) + " --on-error skip --events jsonl");
  EXPECT_EQ(Lines(o.out).back().dump(), R"({"event":"Result","value":true,"created":0,"kept":0,"overwritten":0,"failed":1})");
  ASSERT_EQ(Tool("export --ledger " + Quote(gy) + " --type 110 --file " + Quote(home.file("c.xml"))).status, 0);
  EXPECT_EQ(ReadFile(home.file("c.xml")).find("<Number>C1</Number>"), std::string::npos);
}

// A rollback that fails is said as such, never as undone, and ends with
// status 3 whatever the run's own status. The commands run in-process here:
// only so can the rollback be made to fail.
TEST_F(DryRunTool, ARollbackThatFailsIsSaidAndGivesStatusThree) {
  const std::string ledger = home.file("l.db"), data = home.file("d.xml");
  ASSERT_EQ(Tool("ledger init " + Quote(ledger)).status, 0);
  WriteFile(data,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DepartmentList>\n"
            "<Department><Number>01</Number><Name>总部</Name></Department>\n"
            "<Department><Number>01.02</Number><Name>孤儿</Name></Department>\n"
            "</DepartmentList>\n");
  const std::string failure = "失败：预演的改动未能撤销：读写磁盘出错（disk I/O error）";
  struct RollbackFault {
    RollbackFault() { LedgerStore::SetRollbackFaultForTesting([] { return true; }); }
    ~RollbackFault() { LedgerStore::SetRollbackFaultForTesting(nullptr); }
  };
  for (const std::string events : {"text", "jsonl"}) {
    SCOPED_TRACE(events);
    cli::RunOptions o;
    o.ledger = ledger;
    o.type = "120";
    o.file = data;
    o.onError = "skip";  // the run's own status would be 4
    o.events = events;
    o.dryRun = true;
    int status;
    {
      RollbackFault fault;
      ::testing::internal::CaptureStdout();
      ::testing::internal::CaptureStderr();
      status = cli::RunImport(o);
    }
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 3);
    EXPECT_EQ((events == "text" ? err : out).find("已撤销"), std::string::npos) << out << err;
    if (events == "text") {
      ASSERT_GE(err.size(), failure.size() + 1);
      EXPECT_EQ(err.substr(err.size() - failure.size() - 1), failure + "\n");
    } else {
      EXPECT_EQ(Lines(out).back().dump(),
                nlohmann::ordered_json({{"event", "DryRun"}, {"rolledBack", false}, {"text", failure}}).dump());
    }
  }
  // Never committed all the same.
  ASSERT_EQ(Tool("export --ledger " + Quote(ledger) + " --type 120 --file " + Quote(home.file("o.xml"))).status, 0);
  EXPECT_EQ(ReadFile(home.file("o.xml")).find("<Department>"), std::string::npos);
}

}  // namespace
}  // namespace morvent::test
