// The ledger's promises about storing, held on every engine: grouped commits
// between records, a failed save or record undone alone, dry runs rolled
// back, failed commits reported with what was stored before them, IDs of
// lost work never handed out again, counts that match the rows.
#include <functional>
#include <optional>
#include <thread>

#include "platform/call_scope.h"
#include "store/ledger_counts.h"
#include "store/ledger_schema.h"
#include "store/ledger_store.h"
#include "store/pg_driver.h"
#include "tests/support/ledger_fixture.h"

namespace morvent::test {
namespace {

const std::string kFull = "磁盘已满（database or disk is full）";

class Guarantees : public LedgerTest, public ::testing::WithParamInterface<LedgerEngine> {
 protected:
  void SetUp() override {
    engine = GetParam();
    LedgerTest::SetUp();
  }
  void TearDown() override {
    LedgerStore::SetCommitFaultForTesting(nullptr);
    LedgerTest::TearDown();
  }
  int64_t Groups() { return OutsideCount(path, "SELECT count(*) FROM t_AccountGroup"); }
  void AddGroup(LedgerStore& store, int id) {
    store.Write([&] { store.Exec("INSERT INTO t_AccountGroup VALUES (" + std::to_string(id) + ", '组')"); });
  }
  // Every counted table's count (and each scope's) against its rows.
  void ExpectCountsMatchRows() {
    auto store = LedgerStore::ForPath(path);
    for (const auto& t : CountKeeper::Tables()) {
      SCOPED_TRACE(t.table);
      EXPECT_EQ(store->CountRows(t.table), OutsideCount(path, std::string("SELECT count(*) FROM ") + t.table));
      if (*t.scopeColumn == '\0') continue;
      auto scopes = store->Prepare(std::string("SELECT DISTINCT ") + t.scopeColumn + " FROM " + t.table);
      while (scopes.Next()) {
        const int64_t scope = scopes.Int(0);
        EXPECT_EQ(store->CountRows(t.table, t.scopeColumn, scope),
                  OutsideCount(path, std::string("SELECT count(*) FROM ") + t.table + " WHERE " + t.scopeColumn +
                                         " = " + std::to_string(scope)));
      }
    }
  }
};

TEST_P(Guarantees, GroupedWorkIsSeenOnlyOnceCommittedAndAFailedSaveGoesAlone) {
  {
    PublicCallScope call;
    auto store = LedgerStore::ForPath(path);
    AddGroup(*store, 7);
    // One statement failing without a savepoint of the save's own: the
    // engine undoes that statement only, the grouped work stays.
    EXPECT_FALSE(ErrorOf([&] { store->WriteOne([&] { store->Exec("INSERT INTO t_AccountGroup VALUES (7, 'x')"); }); })
                     .empty());
    EXPECT_FALSE(LostWritePending());
    // A save failing after a change of its own is rolled back to its savepoint.
    EXPECT_FALSE(ErrorOf([&] {
                   store->Write([&] {
                     store->Exec("INSERT INTO t_AccountGroup VALUES (9, '错')");
                     store->Exec("INSERT INTO no_such_table VALUES (1)");
                   });
                 }).empty());
    AddGroup(*store, 8);
    EXPECT_TRUE(store->InTransaction());
    EXPECT_EQ(Groups(), 6);  // not yet committed
  }
  EXPECT_EQ(Groups(), 8);
  EXPECT_EQ(OutsideCount(path, "SELECT count(*) FROM t_AccountGroup WHERE FGroupID = 9"), 0);
  ExpectCountsMatchRows();
}

TEST_P(Guarantees, AFailedRecordIsUndoneAndTheOthersAreKept) {
  {
    PublicCallScope call;
    auto store = LedgerStore::ForPath(path);
    for (int id : {7, 8, 9}) {
      // The record left by an error, as a walk's failed record is.
      ErrorOf([&] {
        RecordScope record;
        AddGroup(*store, id);
        NewItem(2, "D" + std::to_string(id), "部门");
        if (id == 8) ThrowLedgerError("记录失败");
        record.Stored();
      });
    }
  }
  EXPECT_EQ(Groups(), 8);
  EXPECT_EQ(OutsideCount(path, "SELECT count(*) FROM t_AccountGroup WHERE FGroupID = 8"), 0);
  EXPECT_EQ(OutsideCount(path, "SELECT count(*) FROM t_Item WHERE FNumber = 'D8'"), 0);
  EXPECT_EQ(OutsideCount(path, "SELECT count(*) FROM t_Item WHERE FNumber IN ('D7', 'D9')"), 2);
  ExpectCountsMatchRows();
}

TEST_P(Guarantees, ADryRunLeavesNothingBehind) {
  const int64_t items = OutsideCount(path, "SELECT count(*) FROM t_Item");
  {
    PublicCallScope call;
    BeginDryRun();
    auto store = LedgerStore::ForPath(path);
    AddGroup(*store, 7);
    NewItem(2, "01", "销售部");
    store->Commit();  // never commits a dry run's work
    EndDryRun();
  }
  EXPECT_EQ(Groups(), 6);
  EXPECT_EQ(OutsideCount(path, "SELECT count(*) FROM t_Item"), items);
  ExpectCountsMatchRows();
}

TEST_P(Guarantees, AFailedCommitIsReportedWithTheRecordsStoredBeforeIt) {
  PublicCallScope call;
  auto store = LedgerStore::ForPath(path);
  for (int id : {7, 8}) {
    RecordScope record;
    AddGroup(*store, id);
    record.Stored();
  }
  store->Commit();
  {
    RecordScope record;
    AddGroup(*store, 9);
    record.Stored();
  }
  LedgerStore::SetCommitFaultForTesting([] { return true; });
  RunCallEndHooks();
  EXPECT_EQ(TakeLostWrite(), LostWriteMessage(kFull, 2));
  EXPECT_EQ(Groups(), 8);
}

TEST_P(Guarantees, IdsOfLostWorkAndOfRemovedRowsAreNeverHandedOutAgain) {
  int32_t lostCurrency = 0, lostItem = 0;
  {
    PublicCallScope call;
    auto c = Set(kCurrencySet)->CreateNew({}, {{"Number", Variant("USD")}});
    c->SaveChanges();
    lostCurrency = c->Get("CurrencyID").ToLong();
    lostItem = NewItem(2, "01", "销售部")->Get("ItemID").ToLong();
    LedgerStore::SetCommitFaultForTesting([] { return true; });
    RunCallEndHooks();
    LedgerStore::SetCommitFaultForTesting(nullptr);
    EXPECT_EQ(TakeLostWrite(), LostWriteMessage(kFull, 0));
  }
  EXPECT_EQ(OutsideCount(path, "SELECT count(*) FROM t_Currency"), 0);
  auto c = Set(kCurrencySet)->CreateNew({}, {{"Number", Variant("EUR")}});
  c->SaveChanges();
  const int32_t kept = c->Get("CurrencyID").ToLong();
  EXPECT_GT(kept, lostCurrency);
  EXPECT_GT(NewItem(2, "01", "销售部")->Get("ItemID").ToLong(), lostItem);
  ExpectCountsMatchRows();
  // Another program removes the newest currency; its ID stays used.
  OutsideExec(path, "DELETE FROM t_Currency WHERE FCurrencyID = " + std::to_string(kept));
  auto next = Set(kCurrencySet)->CreateNew({}, {{"Number", Variant("JPY")}});
  next->SaveChanges();
  EXPECT_GT(next->Get("CurrencyID").ToLong(), kept);
}

TEST_P(Guarantees, RowsSeededWithTheirOwnIdsAreFollowedByNewOnes) {
  // The standard assist types (1..17) and item classes come with their IDs.
  const int64_t types = OutsideCount(path, "SELECT max(FTypeID) FROM t_SubMesType");
  const int64_t classes = OutsideCount(path, "SELECT max(FItemClassID) FROM t_ItemClass");
  auto type = Set(kSubMesTypeSet)->CreateNew({}, {{"Name", Variant("新类别")}});
  type->SaveChanges();
  EXPECT_EQ(type->Get("TypeID").ToLong(), types + 1);
  auto cls = Set(kItemClassSet)->CreateNew({}, {{"Number", Variant("99")}});
  cls->Let("Name", Variant("新核算项目类别"));
  cls->SaveChanges();
  EXPECT_EQ(cls->Get("ItemClassID").ToLong(), classes + 1);
}

TEST_P(Guarantees, TheDemoLedgersCountsMatchItsRows) {
  FillDemoLedger(path);
  ExpectCountsMatchRows();
}

INSTANTIATE_TEST_SUITE_P(Engines, Guarantees, BothEngines(), EngineName);

TEST(ServerLedger, InitTakesOnlyAnEmptyDatabaseAndOpeningNeedsALedger) {
  if (!TestServer()) GTEST_SKIP() << kNoServer;
  const std::string tables = "SELECT count(*) FROM information_schema.tables WHERE table_schema = current_schema()";
  ServerDatabase foreign;
  ASSERT_TRUE(ConnectServer(foreign.Source())->Exec("CREATE TABLE other (a INTEGER)"));
  EXPECT_EQ(ErrorOf([&] { CreateLedger(foreign.Source()); }),
            "数据库中已有数据表，不能新建账套：" + MaskPassword(foreign.Source()));
  EXPECT_EQ(ErrorOf([&] { LedgerStore::ForPath(foreign.Source()); }),
            "数据库中没有账套：" + MaskPassword(foreign.Source()));
  EXPECT_EQ(OutsideCount(foreign.Source(), tables), 1);

  ServerDatabase db;
  CreateLedger(db.Source(), "GY");
  const int64_t made = OutsideCount(db.Source(), tables);
  EXPECT_EQ(ErrorOf([&] { CreateLedger(db.Source()); }), "数据库中已有数据表，不能新建账套：" + MaskPassword(db.Source()));
  EXPECT_EQ(OutsideCount(db.Source(), tables), made);
  EXPECT_EQ(LedgerKind(db.Source()), "GY");
  EXPECT_EQ(LedgerStore::ForPath(db.Source())->Meta("schema_version"), std::to_string(kLedgerSchemaVersion));
}

}  // namespace
}  // namespace morvent::test
