// Several connections on one ledger, and what a public call commits.
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "platform/call_scope.h"
#include "store/ledger_counts.h"
#include "tests/cli/tool.h"
#include "tests/support/ledger_fixture.h"

namespace morvent::test {
namespace {

using namespace std::chrono_literals;

int64_t CountOutside(const std::string& path, const char* table) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  int64_t n = -1;
  std::string sql = std::string("SELECT count(*) FROM ") + table;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
    n = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  sqlite3_close(db);
  return n;
}

using LedgerCalls = LedgerTest;

TEST_F(LedgerCalls, WorkOfAPublicCallIsCommittedWhenTheCallEnds) {
  {
    PublicCallScope call;
    auto set = Set(kCurrencySet);
    for (const char* n : {"RMB", "USD", "EUR"}) {
      auto c = set->CreateNew({}, {{"Number", Variant(n)}});
      c->SaveChanges();
    }
    EXPECT_EQ(set->Count(), 3);  // the call sees its own work
  }
  EXPECT_EQ(CountOutside(path, "t_Currency"), 3);
}

TEST_F(LedgerCalls, WorkIsCommittedBeforeTheClientIsAskedAnything) {
  PublicCallScope call;
  auto set = Set(kCurrencySet);
  set->CreateNew({}, {{"Number", Variant("RMB")}})->SaveChanges();
  EXPECT_EQ(CountOutside(path, "t_Currency"), 0);  // grouped, not yet committed
  BeforeClientWait();                              // an error event or a box is next
  EXPECT_EQ(CountOutside(path, "t_Currency"), 1);
}

TEST_F(LedgerCalls, FailedCallKeepsWhatWasStoredBeforeTheFailure) {
  try {
    PublicCallScope call;
    auto set = Set(kCurrencySet);
    set->CreateNew({}, {{"Number", Variant("RMB")}})->SaveChanges();
    set->CreateNew({}, {{"Number", Variant("RMB")}})->SaveChanges();  // refused
  } catch (const Error& e) {
    EXPECT_EQ(e.Description(), "币别代码 RMB 已存在");
  }
  EXPECT_EQ(CountOutside(path, "t_Currency"), 1);
}

TEST_F(LedgerCalls, TwoThreadsShareOneLedgerFileWithoutLosingWork) {
  const int perThread = 150;
  std::atomic<int> failures{0};
  auto work = [&](const std::string& prefix) {
    try {
      Context().gPropsString = props;
      auto set = CreateObjectAs<ObjectSet>(kCurrencySet);
      for (int i = 0; i < perThread; ++i) {
        PublicCallScope call;  // each save waits for the other thread's open transaction
        auto c = set->CreateNew({}, {{"Number", Variant(prefix + std::to_string(i))}});
        c->SaveChanges();
      }
    } catch (const std::exception&) {
      ++failures;
    }
  };
  std::thread a(work, "A"), b(work, "B");
  a.join();
  b.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(Set(kCurrencySet)->Count(), 2 * perThread);
  EXPECT_EQ(CountOutside(path, "t_Currency"), 2 * perThread);
}

TEST_F(LedgerCalls, SecondConnectionWaitsForAnOpenCallAndSeesUniquenessAcrossConnections) {
  std::atomic<bool> stored{false};
  std::thread holder([&] {
    Context().gPropsString = props;
    PublicCallScope call;
    auto set = CreateObjectAs<ObjectSet>(kCurrencySet);
    set->CreateNew({}, {{"Number", Variant("JPY")}})->SaveChanges();
    stored = true;
    std::this_thread::sleep_for(300ms);  // keeps the write transaction open
  });
  while (!stored) std::this_thread::sleep_for(1ms);
  auto started = std::chrono::steady_clock::now();
  auto set = Set(kCurrencySet);
  auto twin = set->CreateNew({}, {{"Number", Variant("JPY")}});
  // Waits for the holder's call to end, then sees its currency.
  EXPECT_EQ(ErrorOf([&] { twin->SaveChanges(); }), "币别代码 JPY 已存在");
  EXPECT_GE(std::chrono::steady_clock::now() - started, 200ms);
  holder.join();
  EXPECT_EQ(set->Count(), 1);
}

// Rows per counted table, and the rows that share their kind's key with
// another (the same object stored twice), as text to compare.
std::string Census(const std::string& path) {
  std::string sql;
  for (const auto& t : CountKeeper::Tables())
    sql += std::string(sql.empty() ? "" : " || ") + "'" + t.table + "=' || (SELECT count(*) FROM " + t.table + ") || ' '";
  const char* const twice[] = {
      "SELECT FNumber FROM t_Account GROUP BY 1 HAVING count(*) > 1",
      "SELECT FNumber FROM t_Currency GROUP BY 1 HAVING count(*) > 1",
      "SELECT FName FROM t_VoucherGroup GROUP BY 1 HAVING count(*) > 1",
      "SELECT FName FROM t_SettleType GROUP BY 1 HAVING count(*) > 1",
      "SELECT FName FROM t_MeasureUnitGroup GROUP BY 1 HAVING count(*) > 1",
      "SELECT FUnitGroupID, FName FROM t_MeasureUnit GROUP BY 1, 2 HAVING count(*) > 1",
      "SELECT FName FROM t_ItemClass GROUP BY 1 HAVING count(*) > 1",
      "SELECT FItemClassID, FNumber FROM t_Item GROUP BY 1, 2 HAVING count(*) > 1",
      "SELECT FName FROM t_SubMesType GROUP BY 1 HAVING count(*) > 1",
      "SELECT FTypeID, FName FROM t_SubMes GROUP BY 1, 2 HAVING count(*) > 1",
  };
  std::string dups;
  for (const char* q : twice) dups += std::string(dups.empty() ? "" : " + ") + "(SELECT count(*) FROM (" + q + "))";
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  std::string out = "?";
  if (sqlite3_prepare_v2(db, ("SELECT " + sql + " || 'twice=' || (" + dups + ")").c_str(), -1, &st, nullptr) ==
          SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW)
    out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  else
    out = sqlite3_errmsg(db);
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

// Two processes of the tool import the same whole ledger into one new
// ledger at once: each object is stored once, as by one import alone.
TEST(LedgerProcesses, TwoImportsAtOnceStoreEveryObjectOnce) {
  ProgramHome home, other;
  const std::string demo = home.file("demo.db"), files = home.file("all");
  ASSERT_EQ(RunTool(home, "ledger demo " + Quote(demo)).status, 0);
  ASSERT_EQ(RunTool(home, "export --ledger " + Quote(demo) + " --all " + Quote(files)).status, 0);
  const std::string alone = home.file("alone.db");
  ASSERT_EQ(RunTool(home, "ledger init " + Quote(alone)).status, 0);
  ASSERT_EQ(RunTool(home, "import --ledger " + Quote(alone) + " --all " + Quote(files)).status, 0);
  const std::string expected = Census(alone);
  ASSERT_NE(expected.find("twice=0"), std::string::npos) << expected;
  ASSERT_EQ(expected.find("t_Item=0 "), std::string::npos) << expected;
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    const std::string ledger = home.file("both" + std::to_string(round) + ".db");
    ASSERT_EQ(RunTool(home, "ledger init " + Quote(ledger)).status, 0);
    const std::string import = "import --ledger " + Quote(ledger) + " --all " + Quote(files);
    Outcome a, b;
    std::thread first([&] { a = RunTool(home, import); });
    std::thread second([&] { b = RunTool(other, import); });
    first.join();
    second.join();
    EXPECT_EQ(a.status, 0) << ReadFile(home.file("stderr.txt"));
    EXPECT_EQ(b.status, 0) << ReadFile(other.file("stderr.txt"));
    EXPECT_EQ(Census(ledger), expected);
  }
}

// Looking at a ledger through the tool leaves its file as it was, in the
// journal mode another program left it in.
TEST(LedgerProcesses, InfoAndExportLeaveTheLedgerFileAsItWas) {
  ProgramHome home;
  const std::string ledger = home.file("demo.db");
  ASSERT_EQ(RunTool(home, "ledger demo " + Quote(ledger)).status, 0);
  sqlite3* db = nullptr;
  sqlite3_open(ledger.c_str(), &db);
  ASSERT_EQ(sqlite3_exec(db, "PRAGMA journal_mode = DELETE", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  const std::string before = ReadFile(ledger);
  for (const std::string& look : {"ledger info " + Quote(ledger),
                                  "export --ledger " + Quote(ledger) + " --all " + Quote(home.file("out")),
                                  "export --ledger " + Quote(ledger) + " --type 120 --file " + Quote(home.file("d.xml"))}) {
    SCOPED_TRACE(look);
    EXPECT_EQ(RunTool(home, look).status, 0) << ReadFile(home.file("stderr.txt"));
    EXPECT_TRUE(ReadFile(ledger) == before);
    EXPECT_FALSE(std::filesystem::exists(ledger + "-wal"));
  }
}

}  // namespace
}  // namespace morvent::test
