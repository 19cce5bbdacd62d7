// Several connections on one ledger, and what a public call commits.
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/call_scope.h"
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

}  // namespace
}  // namespace morvent::test
