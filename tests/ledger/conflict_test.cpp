// Records that meet another client's conflicting work (a deadlock, a
// serialization failure) run again a bounded number of times: forced on a
// ledger file, and a real deadlock made on purpose on the test server.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <chrono>
#include <string>
#include <thread>

#include "platform/call_scope.h"
#include "platform/error.h"
#include "store/ledger_store.h"
#include "store/pg_driver.h"
#include "tests/support/ledger_fixture.h"

namespace morvent::test {
namespace {

constexpr const char* kGroups = "SELECT count(*) FROM t_AccountGroup WHERE FGroupID >= 100";

void AddGroup(LedgerStore& store, int id) {
  store.Write([&] { store.Exec("INSERT INTO t_AccountGroup VALUES (" + std::to_string(id) + ", '组')"); });
}

class RecordConflicts : public LedgerTest {
 protected:
  void TearDown() override {
    LedgerStore::SetConflictFaultForTesting(nullptr);
    LedgerTest::TearDown();
  }
};

TEST_F(RecordConflicts, ARecordMeetingAConflictRunsAgainAtMostThreeTimes) {
  struct Case {
    const char* what;
    int conflicts;  // the record's insert fails so often, then runs
    int runs;
    bool stored;
    const char* error;
  };
  const Case cases[] = {
      {"none", 0, 1, true, ""},
      {"twice", 2, 3, true, ""},
      {"three times", 3, 4, true, ""},
      {"always", 100, 4, false, " 上的保存与另一个客户端冲突：deadlock detected（已重试 3 次）"},
  };
  int id = 100;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const int before = id++, record = id++;
    int conflicts = c.conflicts;
    LedgerStore::SetConflictFaultForTesting([&](std::string_view sql) {
      return sql.find("VALUES (" + std::to_string(record) + ",") != std::string_view::npos && conflicts-- > 0;
    });
    PublicCallScope call;
    auto store = LedgerStore::ForPath(path);
    RunRecordRetryingConflicts([&] {
      RecordScope scope;
      AddGroup(*store, before);
      scope.Stored();
    });
    int runs = 0;
    std::string error;
    try {
      RunRecordRetryingConflicts([&] {
        ++runs;
        RecordScope scope;
        AddGroup(*store, record);
        scope.Stored();
      });
    } catch (const Error& e) {
      error = e.Description();
    }
    EXPECT_EQ(runs, c.runs);
    EXPECT_EQ(error, *c.error ? "账套 " + store->Path() + c.error : "");
    // A retry commits the records before it first: the other client can go on.
    if (c.conflicts > 0) EXPECT_EQ(OutsideCount(path, "SELECT count(*) FROM t_AccountGroup WHERE FGroupID = " +
                                                          std::to_string(before)),
                                   1);
    store->Commit();
    EXPECT_EQ(OutsideCount(path, "SELECT count(*) FROM t_AccountGroup WHERE FGroupID = " + std::to_string(record)),
              c.stored ? 1 : 0);
  }
}

TEST_F(RecordConflicts, OtherFailuresRunOnceAndAnInnerRecordRunsWithTheOutermost) {
  PublicCallScope call;
  auto store = LedgerStore::ForPath(path);
  AddGroup(*store, 100);
  struct Case {
    const char* what;
    std::function<void()> body;
    int runs;  // of the innermost work
  };
  int runs = 0;
  LedgerStore::SetConflictFaultForTesting([](std::string_view sql) { return sql.find("(101,") != std::string_view::npos; });
  const Case cases[] = {
      {"a number taken", [&] {
         ++runs;
         AddGroup(*store, 100);
       }, 1},
      // The outermost record's retries run the inner one again.
      {"inside a record", [&] {
         RunRecordRetryingConflicts([&] {
           ++runs;
           AddGroup(*store, 101);
         });
       }, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    runs = 0;
    EXPECT_THROW(RunRecordRetryingConflicts([&] {
                   RecordScope scope;
                   c.body();
                   scope.Stored();
                 }),
                 Error);
    EXPECT_EQ(runs, c.runs);
  }
}

class ServerConflicts : public RecordConflicts {
 protected:
  ServerConflicts() { engine = LedgerEngine::Server; }
};

// A deadlock made on purpose: the record holds a row the other client
// wants and waits for one the other client holds. The other client waits
// longer before it looks for deadlocks, so the server breaks the record.
TEST_F(ServerConflicts, ARealDeadlockIsBrokenAndTheRecordStoredOnItsSecondRun) {
  auto other = ConnectServer(path);
  ASSERT_TRUE(other->Exec("SET deadlock_timeout = '20s'"));
  ASSERT_TRUE(other->Exec("BEGIN"));
  ASSERT_TRUE(other->Exec("INSERT INTO t_AccountGroup VALUES (102, '组')"));
  bool waited = false;
  std::thread otherClient([&] {
    // Once the record waits for 102, take 101, which it holds; when the
    // record is undone this insert goes through, and the rollback after it
    // lets the record's second run in.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!(waited = OutsideCount(path, "SELECT count(*) FROM pg_stat_activity WHERE datname = current_database() "
                                         "AND wait_event_type = 'Lock'") > 0) &&
           std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(other->Exec("INSERT INTO t_AccountGroup VALUES (101, '组')")) << other->LastFailure().message;
    EXPECT_TRUE(other->Exec("ROLLBACK"));
  });
  int runs = 0;
  std::string error;
  try {
    PublicCallScope call;
    auto store = LedgerStore::ForPath(path);
    RunRecordRetryingConflicts([&] {
      ++runs;
      RecordScope scope;
      AddGroup(*store, 101);
      AddGroup(*store, 102);
      scope.Stored();
    });
  } catch (const Error& e) {
    error = e.Description();
  }
  otherClient.join();
  EXPECT_EQ(error, "");
  EXPECT_TRUE(waited);
  // Undone, the record may take 101 again before the other client's waiting
  // insert does, and meet the same deadlock once more: two runs or three.
  EXPECT_GE(runs, 2);
  EXPECT_LE(runs, 3);
  EXPECT_EQ(OutsideCount(path, kGroups), 2);
}

// A serialization failure at a group's COMMIT: the whole transaction is
// gone, which is a failed commit as ever, its records not counted stored.
TEST_F(ServerConflicts, ASerializationFailureAtTheCommitLosesTheGroupAndSaysSo) {
  auto other = ConnectServer(path);
  ASSERT_TRUE(other->Exec(("ALTER DATABASE \"" + server->Name() + "\" SET default_transaction_isolation = "
                           "'serializable'").c_str()));
  auto raceTheOther = [&](LedgerStore& store) {
    // Each reads the range the other writes into; the other commits first.
    ASSERT_TRUE(other->Exec("BEGIN"));
    ASSERT_TRUE(other->Exec("SELECT count(*) FROM t_AccountGroup WHERE FGroupID >= 100"));
    ASSERT_TRUE(other->Exec("INSERT INTO t_AccountGroup VALUES (102, '组')"));
    RecordScope scope;
    auto q = store.Prepare(kGroups);
    ASSERT_TRUE(q.Next());
    AddGroup(store, 101);
    ASSERT_TRUE(other->Exec("COMMIT")) << other->LastFailure().message;
    scope.Stored();
  };
  std::string error;
  std::optional<std::string> lost;
  {
    PublicCallScope call;
    auto store = LedgerStore::ForPath(path);
    raceTheOther(*store);
    try {
      store->Commit();
    } catch (const Error& e) {
      error = e.Description();
    }
    lost = TakeLostWrite();
  }
  // The counts reach their row at the commit, after the other's.
  const std::string reason = "与另一个客户端的保存冲突（could not serialize access due to concurrent update）";
  EXPECT_EQ(error, "账套不能写入：" + reason);
  EXPECT_EQ(lost, "账套不能写入：" + reason + "；此前已保存 0 条记录。");
  EXPECT_EQ(OutsideCount(path, "SELECT count(*) FROM t_AccountGroup WHERE FGroupID = 101"), 0);
  EXPECT_EQ(OutsideCount(path, "SELECT count(*) FROM t_AccountGroup WHERE FGroupID = 102"), 1);
}

}  // namespace
}  // namespace morvent::test
