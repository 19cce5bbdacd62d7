// UpgradeLedger on copies of the version-1 fixture ledger: one transaction
// that a failure anywhere leaves undone, and field rows of every sort kept.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "store/ledger_admin.h"
#include "store/ledger_schema.h"
#include "store/ledger_store.h"
#include "store/pg_driver.h"
#include "tests/support/server_fixture.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

namespace fs = std::filesystem;

// Rows of a query on the file, read past the store, each as its columns'
// quote() joined by "|" (quote() keeps types apart: 1, 1.0 and '1').
std::vector<std::string> Rows(const std::string& path, const std::string& sql) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* q = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &q, nullptr), SQLITE_OK) << sqlite3_errmsg(db) << ": " << sql;
  while (q && sqlite3_step(q) == SQLITE_ROW)
    rows.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(q, 0)));
  sqlite3_finalize(q);
  sqlite3_close(db);
  return rows;
}

void RunSql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

// Everything the upgrade touches, as SQL sees it. printf('%!.17g') tells
// doubles apart that quote() would print alike.
std::vector<std::string> State(const std::string& path) {
  std::vector<std::string> state;
  for (const char* sql : {
           "SELECT FValue FROM ledger_meta WHERE FKey = 'schema_version'",
           "SELECT type || ' ' || name FROM sqlite_master WHERE name IN ('t_Item', 't_ItemValue') ORDER BY name",
           "SELECT group_concat(name) FROM pragma_table_info('t_Item')",
           "SELECT FTable || ' ' || FScope || ' ' || FCount FROM ledger_counts ORDER BY 1",
           "SELECT FItemID || ' ' || FItemClassID || ' ' || FNumber || ' ' || FName || ' ' || FParentID FROM t_Item "
           "ORDER BY FItemID",
           "SELECT FItemID || ' ' || FField || ' ' || typeof(FValue) || ' ' || coalesce(CASE typeof(FValue) WHEN "
           "'real' THEN printf('%!.17g', FValue) ELSE quote(FValue) END, 'NULL') FROM t_ItemValue ORDER BY FItemID, "
           "FField",
       })
    for (auto& row : Rows(path, sql)) state.push_back(std::move(row));
  return state;
}

std::string OldLedgerCopy(const TempDir& dir, const std::string& name) {
  const std::string path = dir.file(name);
  fs::copy_file(FixtureDir() + "/ledger_v1/ledger.db", path);
  return path;
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.Description();
  }
  return "";
}

TEST(LedgerUpgradeStep, AFailureAnywhereLeavesTheVersionOneLedgerAsItWas) {
  TempDir dir;
  // The fixture itself is only ever copied: opening it would leave a
  // journal beside it.
  const std::vector<std::string> original = State(OldLedgerCopy(dir, "original.db"));
  ASSERT_EQ(original.front(), "1");
  struct Case {
    const char* what;
    std::string setUp;  // SQL run on the copy first
    bool failCommit;
    std::string message;  // after the path
  };
  const Case cases[] = {
      {"the commit fails", "", true, "账套不能写入：磁盘已满（database or disk is full）"},
      // Another program's trigger refuses the moved fields half way.
      {"a statement fails midway",
       "CREATE TRIGGER refuse BEFORE UPDATE ON t_Item WHEN NEW.FNumber = '02.01' BEGIN "
       "SELECT RAISE(ABORT, 'refused'); END",
       false, "账套操作失败：refused"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = OldLedgerCopy(dir, std::string(c.what) + ".db");
    if (!c.setUp.empty()) RunSql(path, c.setUp);
    const std::vector<std::string> before = State(path);
    {
      auto store = LedgerStore::ForPathAnyVersion(path);
      if (c.failCommit) LedgerStore::SetCommitFaultForTesting([] { return true; });
      EXPECT_EQ(ErrorOf([&] { UpgradeLedger(*store); }), c.message);
      LedgerStore::SetCommitFaultForTesting(nullptr);
    }
    EXPECT_EQ(State(path), before);
    EXPECT_EQ(State(path).size(), original.size());
    if (c.setUp.empty()) EXPECT_EQ(State(path), original);
  }
}

TEST(LedgerUpgradeStep, RowsOfEverySortAreKeptAndRowsOfGoneItemsAreCounted) {
  TempDir dir;
  const std::string path = OldLedgerCopy(dir, "odd.db");
  // Written by other programs: a NULL value, a field no class carries, a
  // whole number past 32 bits, and a row whose item is gone.
  RunSql(path,
      "INSERT INTO t_ItemValue VALUES (1, 'FNullByHand', NULL), (1, 'FOwn', 'x'), (2, 'FWide', 9007199254740993), "
      "(999999, 'FNote', 'gone')");
  std::vector<std::string> expected = State(path);
  std::erase(expected, "999999 FNote text 'gone'");
  auto store = LedgerStore::ForPathAnyVersion(path);
  const LedgerUpgrade done = UpgradeLedger(*store);
  EXPECT_EQ(done.from, 1);
  EXPECT_EQ(done.to, 2);
  EXPECT_EQ(done.items, 54);
  EXPECT_EQ(done.fields, 438 + 3);
  EXPECT_EQ(done.orphans, 1);
  store.reset();
  std::vector<std::string> after = State(path);
  // Only the version and the layout differ.
  ASSERT_GE(after.size(), 3u);
  EXPECT_EQ(after[0], "2");
  EXPECT_EQ(after[1], "table t_Item");
  EXPECT_EQ(after[2], "view t_ItemValue");
  EXPECT_EQ(after[3], "FItemID,FItemClassID,FNumber,FName,FParentID,FValues");
  expected[0] = "2";
  expected[1] = "table t_Item";
  expected[2] = "view t_ItemValue";
  expected[3] = after[3];
  EXPECT_EQ(after, expected);
  // And the store opens it as any ledger of its version.
  EXPECT_EQ(ErrorOf([&] { LedgerStore::ForPath(path); }), "");
}

// No program of version 1 runs against the test server, so the server ledger
// of version 1 is the demo put back into version 1's layout by SQL.
TEST(LedgerUpgradeStep, AServerLedgerOfVersionOneIsRefusedThenUpgradedWithEveryFieldAndCount) {
  if (!TestServer()) GTEST_SKIP() << kNoServer;
  ServerDatabase db;
  CreateLedger(db.Source(), "GY");
  FillDemoLedger(db.Source());
  auto read = [](LedgerStore& store, const char* sql) {
    std::vector<std::string> rows;
    auto q = store.Prepare(sql);
    while (q.Next()) rows.push_back(q.Text(0) + "|" + q.Text(1) + "|" + (q.IsNull(2) ? "NULL" : q.Text(2)));
    return rows;
  };
  const char* fieldRows = "SELECT FItemID, FField, FValue FROM t_ItemValue ORDER BY FItemID, FField";
  const char* countRows = "SELECT FTable, FScope, FCount FROM ledger_counts ORDER BY FTable, FScope";
  std::vector<std::string> fields, counts;
  {
    auto store = LedgerStore::ForPath(db.Source());
    fields = read(*store, fieldRows);
    counts = read(*store, countRows);
    store->Write([&] {
      store->Exec(R"SQL(
CREATE TABLE t_ItemValue_v1 (
  FItemID INTEGER NOT NULL,
  FField TEXT NOT NULL,
  FValue,
  PRIMARY KEY (FItemID, FField)) WITHOUT ROWID;
INSERT INTO t_ItemValue_v1 SELECT FItemID, FField, FValue FROM t_ItemValue;
DROP VIEW t_ItemValue;
DROP FUNCTION json_patch(TEXT, TEXT);
ALTER TABLE t_ItemValue_v1 RENAME TO t_ItemValue;
ALTER TABLE t_Item DROP COLUMN FValues;
UPDATE ledger_meta SET FValue = '1' WHERE FKey = 'schema_version';
CREATE OR REPLACE FUNCTION tc_t_Item_ins() RETURNS trigger LANGUAGE plpgsql AS $f$BEGIN
IF current_setting('morvent.counts', true) = 'deferred' THEN
INSERT INTO ledger_counts_pending VALUES ('t_Item', 0, 1)
  ON CONFLICT (FTable, FScope) DO UPDATE SET FCount = ledger_counts_pending.FCount + excluded.FCount;
INSERT INTO ledger_counts_pending VALUES ('t_Item:FItemClassID', coalesce(NEW.FItemClassID, 0), 1)
  ON CONFLICT (FTable, FScope) DO UPDATE SET FCount = ledger_counts_pending.FCount + excluded.FCount;
ELSE
INSERT INTO ledger_counts VALUES ('t_Item', 0, 1)
  ON CONFLICT (FTable, FScope) DO UPDATE SET FCount = ledger_counts.FCount + excluded.FCount;
INSERT INTO ledger_counts VALUES ('t_Item:FItemClassID', coalesce(NEW.FItemClassID, 0), 1)
  ON CONFLICT (FTable, FScope) DO UPDATE SET FCount = ledger_counts.FCount + excluded.FCount;
END IF;
RETURN NULL; END$f$;
DROP TRIGGER tc_t_Item_ins ON t_Item;
CREATE TRIGGER tc_t_Item_ins AFTER INSERT ON t_Item FOR EACH ROW EXECUTE FUNCTION tc_t_Item_ins();
)SQL");
    });
  }
  ASSERT_GT(fields.size(), 300u);
  const std::string shown = MaskPassword(db.Source());
  EXPECT_EQ(ErrorOf([&] { LedgerStore::ForPath(db.Source()); }),
            "账套 " + shown + " 的结构版本为 1，需要先运行“morvent ledger upgrade " + shown + "”升级到版本 2");
  {
    auto store = LedgerStore::ForPathAnyVersion(db.Source());
    const LedgerUpgrade done = UpgradeLedger(*store);
    EXPECT_EQ(done.from, 1);
    EXPECT_EQ(done.fields, static_cast<int64_t>(fields.size()));
    EXPECT_EQ(done.orphans, 0);
  }
  auto store = LedgerStore::ForPath(db.Source());
  EXPECT_EQ(read(*store, fieldRows), fields);
  EXPECT_EQ(read(*store, countRows), counts);
  EXPECT_EQ(store->Meta("schema_version"), "2");
  // Version 1's row triggers are gone: an insert of the ledger's own counts
  // right (theirs wrote a pending table whose key the connection no longer
  // has) and so does a bulk insert of another program's.
  EXPECT_EQ(OutsideCount(db.Source(), "SELECT count(*) FROM pg_trigger WHERE tgname LIKE 'tc\\_%' AND tgtype & 1 = 1 "
                                      "AND tgname NOT LIKE '%\\_upd'"),
            0);
  store->Write([&] { store->Exec("INSERT INTO t_Item (FItemClassID, FNumber, FName) VALUES (2, 'V2', '新')"); });
  OutsideExec(db.Source(), "INSERT INTO t_Item (FItemClassID, FNumber, FName) SELECT 3, 'V' || g, 'n' FROM generate_series(1, 3) g");
  EXPECT_EQ(OutsideCount(db.Source(), "SELECT FCount FROM ledger_counts WHERE FTable = 't_Item' AND FScope = 0"),
            OutsideCount(db.Source(), "SELECT count(*) FROM t_Item"));
  // A NUL the fields' JSON escapes, which the server's text cannot hold,
  // does not stop the view; an escaped backslash before "u0000" is no NUL.
  store->Exec(
      R"(UPDATE t_Item SET FValues = json_patch(FValues, '{"FNote":"a\u0000b","FPhone":"\\u0000"}') WHERE FItemID = 1)");
  auto note = store->Prepare(
      "SELECT FValue FROM t_ItemValue WHERE FItemID = 1 AND FField IN ('FNote', 'FPhone') ORDER BY FField");
  ASSERT_TRUE(note.Next());
  EXPECT_EQ(note.Text(0), "ab");
  ASSERT_TRUE(note.Next());
  EXPECT_EQ(note.Text(0), "\\u0000");
}

}  // namespace
}  // namespace morvent::test
