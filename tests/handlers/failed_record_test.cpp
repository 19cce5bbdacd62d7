// A record that fails leaves the ledger as it was before it: whatever it
// stored (a new object, an overwrite, bare parents, parent records imported
// for it) is undone, records before and after it are untouched, and later
// records look it up as if it were not in the file. Each case is checked
// against the same import of the file without the failing records.
#include <sqlite3.h>

#include <algorithm>
#include <optional>

#include "front/exchange_log.h"
#include "front/import_base.h"
#include "tests/handlers/fixture.h"

namespace morvent::test {
namespace {

constexpr int32_t kCustomers = 110;
const std::string kBadAmount = "5万";
const std::string kMismatch = "类型不匹配";

// A customer as a hand-written file gives it; the parent as its sub-record.
DataRecordPtr Customer(const std::string& number, const std::string& name, const std::string& amount,
                       const std::string& address, const std::string& parent = "", const std::string& parentName = "") {
  auto r = ItemRecord(number, name, parent.empty() ? "" : "CustomerType", parent, parentName);
  r->SetValue("CreditDays", "30");
  r->SetValue("CreditAmount", amount);
  r->SetValue("Address", address);
  return r;
}

// Everything the ledger holds of its items and counts, without IDs (a
// failed record's IDs are never handed out again, so they differ).
std::vector<std::string> Snapshot(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  std::vector<std::string> lines;
  auto each = [&](const char* sql) {
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &st, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    while (sqlite3_step(st) == SQLITE_ROW) {
      std::string line;
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        auto* t = sqlite3_column_text(st, c);
        line += (c ? "|" : "") + (t ? std::string(reinterpret_cast<const char*>(t)) : "<null>");
      }
      lines.push_back(line);
    }
    sqlite3_finalize(st);
  };
  each("SELECT i.FItemClassID, i.FNumber, i.FName, coalesce(p.FNumber, '') FROM t_Item i "
       "LEFT JOIN t_Item p ON p.FItemID = i.FParentID ORDER BY i.FItemClassID, i.FNumber");
  each("SELECT i.FNumber, v.FField, v.FValue FROM t_ItemValue v JOIN t_Item i USING (FItemID) "
       "ORDER BY i.FItemClassID, i.FNumber, v.FField");
  each("SELECT FTable, FScope, FCount FROM ledger_counts ORDER BY FTable, FScope");
  // The kept counts agree with the rows.
  each("SELECT 'count off', FCount, (SELECT count(*) FROM t_Item) FROM ledger_counts "
       "WHERE FTable = 't_Item' AND FScope = 0 AND FCount <> (SELECT count(*) FROM t_Item)");
  sqlite3_close(db);
  return lines;
}

class FailedRecord : public HandlerTest {
 protected:
  struct Outcome {
    bool result = false;
    std::vector<int32_t> rows;
    std::vector<std::string> errors;
    ImportCounts counts;
  };
  // A QY ledger (credit fields are read) holding the seed records.
  std::string Ledger(const std::string& name, const std::vector<DataRecordPtr>& seed) {
    std::string l = NewLedger(name, "QY");
    if (!seed.empty())
      EXPECT_TRUE(Clean(Import(l, kCustomers, WriteRecords(name + "-seed.xml", "Customer", seed), 1, 1)));
    return l;
  }
  Outcome Run(const std::string& ledger, const std::vector<DataRecordPtr>& records, int32_t impStyle, bool stop,
              bool dryRun = false) {
    Outcome o;
    ImportBase imp;
    imp.ImportOneRow = [&](int32_t row, double, bool&) { o.rows.push_back(row); };
    imp.Error = [&](const std::string& m, bool& cancel) {
      o.errors.push_back(m);
      cancel = stop;
    };
    auto options = Rec({{"ImpStyle", impStyle}, {"CodingStyle", 1}});
    const std::string file = WriteRecords("run" + std::to_string(++files_) + ".xml", "Customer", records);
    std::optional<DryRun> dry;
    if (dryRun) dry.emplace();
    o.result = imp.ImportXMLData(Props(ledger), kCustomers, file, options.get());
    if (dry) dry->Finish();
    o.counts = imp.LastCounts();
    return o;
  }
  int files_ = 0;
};

std::string Failure(const std::string& name) { return "引入客户资料错误，当前记录名称为：" + name + "\r错误信息：\r" + kMismatch; }

TEST_F(FailedRecord, LeavesTheLedgerAsTheFileWithoutItWouldAndAFixedFileCreatesItWhole) {
  if (onServer) GTEST_SKIP() << "compares the ledger files' rows through SQLite";
  const auto good01 = Customer("01", "甲公司", "50000", "上海");
  const auto bad01 = Customer("01", "甲公司", kBadAmount, "上海");
  const auto good02 = Customer("02", "乙公司", "800", "杭州");
  const auto bad02 = Customer("02", "乙公司", kBadAmount, "杭州");
  const auto good03 = Customer("03", "丙公司", "900", "南京");
  const auto badChild = Customer("01.001", "甲一", kBadAmount, "苏州", "01", "华东");
  const auto goodChild = Customer("01.001", "甲一", "100", "苏州", "01", "华东");
  const auto childOfBad01 = Customer("01.001", "甲一", "100", "苏州", "01", "上级甲");
  const auto old01 = Customer("01", "甲旧名", "1", "旧址");
  struct Case {
    const char* name;
    int32_t impStyle;
    std::vector<DataRecordPtr> seed, file;
    std::vector<size_t> failing;  // indexes into file
    ImportCounts counts;
    // The file with the failing records put right, imported again (ImpStyle 1).
    std::vector<DataRecordPtr> fixed;
    ImportCounts fixedCounts;
    bool stop = false;
    bool dryRun = false;
  };
  const std::vector<Case> cases = {
      {"new, the first record fails", 1, {}, {bad01, good02}, {0}, {.created = 1, .failed = 1},
       {good01, good02}, {.created = 1, .kept = 1}},
      {"new, the last record fails", 1, {}, {good01, bad02}, {1}, {.created = 1, .failed = 1},
       {good01, good02}, {.created = 1, .kept = 1}},
      {"new under ImpStyle 2, between two", 2, {}, {good01, bad02, good03}, {1}, {.created = 2, .failed = 1},
       {good01, good02, good03}, {.created = 1, .kept = 2}},
      {"overwritten under ImpStyle 2 is back as it was", 2, {old01}, {bad01, good02}, {0},
       {.created = 1, .failed = 1}, {}, {}},
      {"the bare parent it made goes with it", 1, {}, {badChild, good02}, {0}, {.created = 1, .failed = 1},
       {goodChild, good02}, {.created = 1, .kept = 1, .bareParents = 1}},
      {"a parent record imported for it is imported again in its own turn", 1, {}, {badChild, good01}, {0},
       {.created = 1, .failed = 1}, {good01, goodChild}, {.created = 1, .kept = 1}},
      {"a later child makes it bare, as any missing parent", 1, {}, {bad01, childOfBad01}, {0},
       {.created = 1, .failed = 1, .bareParents = 1}, {}, {}},
      {"the run stops at it: records before stay", 1, {}, {good01, bad02, good03}, {1},
       {.created = 1, .failed = 1}, {}, {}, true},
      {"a dry run sees it undone too", 1, {}, {bad01, childOfBad01}, {0},
       {.created = 1, .failed = 1, .bareParents = 1}, {}, {},
       false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string tag = "c" + std::to_string(&c - cases.data());
    const std::string ledger = Ledger(tag + ".db", c.seed);
    const std::string oracle = Ledger(tag + "-oracle.db", c.seed);

    Outcome run = Run(ledger, c.file, c.impStyle, c.stop, c.dryRun);
    std::vector<std::string> errors;
    for (size_t i : c.failing) errors.push_back(Failure(c.file[i]->Value("Name").ToText()));
    EXPECT_EQ(run.errors, errors);
    EXPECT_EQ(run.result, !c.stop);
    std::vector<int32_t> rows;
    for (int32_t r = 1; r <= static_cast<int32_t>(c.file.size()); ++r)
      if (!c.stop || r <= static_cast<int32_t>(c.failing.front())) rows.push_back(r);
    EXPECT_EQ(run.rows, rows);
    EXPECT_EQ(run.counts, c.counts);
    auto log = ReadLogEntries(home.file(kLogFileName));
    ASSERT_GE(log.size(), errors.size());
    for (size_t k = 0; k < errors.size(); ++k) EXPECT_EQ(log[log.size() - errors.size() + k].message, errors[k]);

    // The oracle: the records that did not fail (those the run reached).
    std::vector<DataRecordPtr> without;
    const size_t reached = c.stop ? c.failing.front() : c.file.size();
    for (size_t i = 0; i < reached; ++i)
      if (std::find(c.failing.begin(), c.failing.end(), i) == c.failing.end()) without.push_back(c.file[i]);
    if (!without.empty() && !c.dryRun) EXPECT_TRUE(Run(oracle, without, c.impStyle, true).errors.empty());
    EXPECT_EQ(Snapshot(ledger), Snapshot(oracle));

    if (c.fixed.empty()) continue;
    Outcome again = Run(ledger, c.fixed, 1, true);
    EXPECT_TRUE(again.errors.empty());
    EXPECT_EQ(again.counts, c.fixedCounts);
    const std::string fresh = Ledger(tag + "-fixed.db", c.seed);
    EXPECT_TRUE(Run(fresh, c.fixed, 1, true).errors.empty());
    EXPECT_EQ(Snapshot(ledger), Snapshot(fresh));
  }
}

// What a later record learns of the failed one: nothing. Shown on the
// stored parent rather than against an oracle, so the bare parent's name
// tells it from the failed record's.
TEST_F(FailedRecord, ALaterChildFindsNoTraceOfIt) {
  const std::string ledger = Ledger("l.db", {});
  Outcome run = Run(ledger, {Customer("01", "甲公司", kBadAmount, "上海"), Customer("01.001", "甲一", "100", "苏州", "01", "上级甲")},
                    1, false);
  EXPECT_EQ(run.errors, std::vector<std::string>{Failure("甲公司")});
  auto items = Items(ledger, 1);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items["01"].name, "上级甲");
  EXPECT_EQ(items["01.001"].parentNumber, "01");
  EXPECT_EQ(ItemText(ledger, 1, "01", "FAddress"), "<null>");
  EXPECT_EQ(ItemText(ledger, 1, "01.001", "FAddress"), "苏州");
}

}  // namespace
}  // namespace morvent::test
