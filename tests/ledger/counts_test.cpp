// Counts kept by the connection in grouped work: whatever happens inside a
// call, ledger_counts ends up saying what the rows say, as the triggers
// would have.
#include <sqlite3.h>

#include <functional>
#include <optional>
#include <set>

#include "platform/call_scope.h"
#include "store/ledger_counts.h"
#include "store/ledger_store.h"
#include "tests/support/ledger_fixture.h"

namespace morvent::test {
namespace {

// Runs SQL on a connection of its own, as another program would.
std::vector<std::vector<std::string>> Outside(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_stmt* st = nullptr;
  std::vector<std::vector<std::string>> rows;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK)
    while (sqlite3_step(st) == SQLITE_ROW) {
      rows.emplace_back();
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
        rows.back().push_back(text ? text : "");
      }
    }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rows;
}

class Counts : public LedgerTest {
 protected:
  void TearDown() override {
    LedgerStore::SetCommitFaultForTesting(nullptr);
    LedgerTest::TearDown();
  }
  // Every count row against the rows themselves; empty when they agree.
  std::vector<std::vector<std::string>> Disagreeing() {
    return Outside(path, "WITH " + RealCountsCte() +
                             " SELECT t, s, n, FCount FROM real LEFT JOIN ledger_counts ON FTable = t AND FScope = s "
                             "WHERE coalesce(FCount, 0) <> n");
  }
  std::string Items(int classId) {
    return Outside(path, "SELECT count(*) FROM t_Item WHERE FItemClassID = " + std::to_string(classId))[0][0];
  }
};

TEST_F(Counts, EveryCountTriggerOfANewLedgerIsKeptByTheConnection) {
  std::set<std::string> triggers, kept;
  for (const auto& row : Outside(path, "SELECT name FROM sqlite_master WHERE type = 'trigger' AND name LIKE 'tc_%_ins'"))
    triggers.insert(row[0].substr(3, row[0].size() - 7));
  for (const auto& t : CountKeeper::Tables()) {
    kept.insert(t.table);
    if (*t.scopeColumn)
      EXPECT_EQ(Outside(path, std::string("SELECT instr(sql, 'NEW.") + t.scopeColumn +
                                  "') > 0 FROM sqlite_master WHERE name = 'tc_" + t.table + "_ins'")[0][0],
                "1")
          << t.table;
  }
  EXPECT_EQ(kept, triggers);
}

TEST_F(Counts, GroupedWorkLeavesTheCountsAsTheRowsAre) {
  struct Case {
    const char* what;
    std::function<void(LedgerStore&)> work;
  };
  auto fails = [](const std::function<void()>& fn) { EXPECT_FALSE(ErrorOf(fn).empty()); };
  const std::vector<Case> cases = {
      {"new items and entries",
       [&](LedgerStore&) {
         auto top = NewItem(2, "01", "总部");
         NewItem(2, "01.01", "财务部", top->Get("ItemID").ToLong());
         NewItem(1, "C01", "客户");
         NewEntry("区域", "01", "华东");
       }},
      {"a save rolled back to its savepoint",
       [&](LedgerStore& s) {
         fails([&] {
           s.Write([&] {
             s.Exec("INSERT INTO t_Item (FItemClassID, FNumber, FName) VALUES (2, '09', '撤')");
             ThrowLedgerError("撤销");
           });
         });
       }},
      {"a number refused by the ledger", [&](LedgerStore&) { fails([&] { NewItem(2, "01", "重复"); }); }},
      {"rows deleted and moved to another class",
       [&](LedgerStore& s) {
         s.Write([&] { s.Exec("UPDATE t_Item SET FItemClassID = 3 WHERE FNumber = '01.01'"); });
         s.Write([&] { s.Exec("DELETE FROM t_Item WHERE FNumber = 'C01'; DELETE FROM t_SubMes WHERE FNumber = '01'"); });
       }},
      {"a dry run",
       [&](LedgerStore&) {
         BeginDryRun();
         NewItem(2, "02", "预演");
         EndDryRun();
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    {
      PublicCallScope call;
      auto store = LedgerStore::ForPath(path);
      c.work(*store);
      // Inside the call the counts already include the work not committed.
      auto rows = store->Prepare("SELECT count(*) FROM t_Item WHERE FItemClassID = 2");
      ASSERT_TRUE(rows.Next());
      EXPECT_EQ(store->CountRows("t_Item", "FItemClassID", 2), rows.Int(0));
    }
    EXPECT_EQ(Disagreeing(), (std::vector<std::vector<std::string>>{}));
  }
  EXPECT_EQ(Items(2), "1");
  EXPECT_EQ(Items(3), "1");
}

TEST_F(Counts, CountsSeenInsideTheCallIncludeItsUncommittedWork) {
  PublicCallScope call;
  auto store = LedgerStore::ForPath(path);
  NewItem(2, "01", "总部");
  NewItem(2, "02", "分部");
  EXPECT_TRUE(store->InTransaction());
  EXPECT_EQ(Items(2), "0");
  EXPECT_EQ(store->CountRows("t_Item", "FItemClassID", 2), 2);
  EXPECT_EQ(store->CountRows("t_Item"), 2);
}

TEST_F(Counts, ACountThatCannotBeWrittenFailsTheCommitAndNothingStays) {
  // The item counts would both become 1 and break this index, so writing
  // them at the commit fails as a full disk would fail it.
  Outside(path, "CREATE UNIQUE INDEX one_of_each ON ledger_counts (FCount) WHERE FTable LIKE 't_Item%'");
  ASSERT_EQ(Outside(path, "SELECT count(*) FROM sqlite_master WHERE name = 'one_of_each'")[0][0], "1");
  {
    PublicCallScope call;
    NewItem(2, "01", "总部");
    RunCallEndHooks();
    EXPECT_EQ(TakeLostWrite(),
              LostWriteMessage("提交失败（UNIQUE constraint failed: ledger_counts.FCount）", 0));
  }
  EXPECT_EQ(Items(2), "0");
  Outside(path, "DROP INDEX one_of_each");
  EXPECT_EQ(Disagreeing(), (std::vector<std::vector<std::string>>{}));
}

TEST_F(Counts, AnotherProgramsRowsAreCountedByTheTriggers) {
  {
    PublicCallScope call;
    NewItem(2, "01", "总部");
  }
  Outside(path, "INSERT INTO t_Item (FItemClassID, FNumber, FName) VALUES (2, '02', '外')");
  PublicCallScope call;
  auto store = LedgerStore::ForPath(path);
  EXPECT_EQ(store->CountRows("t_Item", "FItemClassID", 2), 2);
  EXPECT_EQ(Disagreeing(), (std::vector<std::vector<std::string>>{}));
}

}  // namespace
}  // namespace morvent::test

namespace morvent::test {
namespace {

// Triggers another program put on the ledger fire on every save, grouped
// or alone, exactly as for that program; the counts stay right beside them.
TEST_F(Counts, OtherProgramsTriggersFireOnEverySave) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  const int made = sqlite3_exec(db,
          "CREATE TABLE audit (FNumber TEXT);"
          "CREATE TRIGGER audit_items AFTER INSERT ON t_Item BEGIN INSERT INTO audit VALUES (NEW.FNumber); END;"
          "CREATE TRIGGER guard_items BEFORE INSERT ON t_Item WHEN NEW.FNumber LIKE 'X%' "
          "BEGIN SELECT RAISE(ABORT, '代码 X 开头的部门不许新建'); END;",
          nullptr, nullptr, nullptr);
  sqlite3_close(db);
  ASSERT_EQ(made, SQLITE_OK);
  struct Case {
    const char* what;
    bool grouped;
  };
  int stored = 0;
  for (const Case& c : {Case{"grouped in a call", true}, Case{"each save alone", false}}) {
    SCOPED_TRACE(c.what);
    const std::string prefix = c.grouped ? "G" : "S";
    std::vector<std::string> refused;
    {
      std::optional<PublicCallScope> call;
      if (c.grouped) call.emplace();
      for (int i = 1; i <= 50; ++i) {
        RecordScope record;
        NewItem(2, prefix + std::to_string(i), "部门");
        ++stored;
        refused.push_back(ErrorOf([&] { NewItem(2, "X" + prefix + std::to_string(i), "禁"); }));
      }
    }
    EXPECT_EQ(refused, std::vector<std::string>(50, "账套操作失败：代码 X 开头的部门不许新建"));
    EXPECT_EQ(Outside(path, "SELECT count(*) FROM audit")[0][0], std::to_string(stored));
    EXPECT_EQ(Items(2), std::to_string(stored));
    EXPECT_EQ(Outside(path, "SELECT count(*) FROM audit a JOIN t_Item i USING (FNumber)")[0][0], std::to_string(stored));
    EXPECT_TRUE(Disagreeing().empty());
  }
}

}  // namespace
}  // namespace morvent::test
