// An import whose record meets another client's conflicting work (forced
// here, as a deadlock on the server would come) runs that record again: a
// few conflicts cost nothing, endless ones fail that record alone.
#include <string>
#include <string_view>

#include "platform/call_scope.h"
#include "store/ledger_store.h"
#include "tests/handlers/fixture.h"

namespace morvent::test {
namespace {

class ConflictRetry : public RecordsTest {
 protected:
  ConflictRetry() { code = 120; }
  void TearDown() override { LedgerStore::SetConflictFaultForTesting(nullptr); }
};

TEST_F(ConflictRetry, ARecordIsRunAgainAfterAConflictAndFailsAloneWhenItNeverGoesThrough) {
  struct Case {
    const char* what;
    int conflicts;  // the second record's insert fails so often
    std::vector<std::string> stored;
    std::vector<std::string> errors;  // what each error event ends with
  };
  const Case cases[] = {
      {"two conflicts", 2, {"D1", "D2", "D3"}, {}},
      {"endless", 4, {"D1", "D3"}, {"上的保存与另一个客户端冲突：deadlock detected（已重试 3 次）"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ledger = NewLedger(std::string("l") + std::to_string(c.conflicts) + ".db");
    int inserts = 0, ahead = 0;
    LedgerStore::SetConflictFaultForTesting([&](std::string_view sql) {
      if (sql.rfind("INSERT INTO t_Item ", 0) != 0) return false;
      // Records sent ahead to a server: the second one's conflict sends
      // the window back, and the records run again one at a time.
      if (InRecordWindow()) return ++ahead == 2;
      ++inserts;
      return inserts >= 2 && inserts < 2 + c.conflicts;
    });
    const RunResult run = Run({ItemRecord("D1", "一部"), ItemRecord("D2", "二部"), ItemRecord("D3", "三部")}, 1, 1,
                               Client{.letErrorsPass = true});
    LedgerStore::SetConflictFaultForTesting(nullptr);
    EXPECT_TRUE(run.result);
    ASSERT_EQ(run.errors.size(), c.errors.size());
    for (size_t i = 0; i < c.errors.size(); ++i) {
      const std::string& e = run.errors[i];
      EXPECT_TRUE(e.size() >= c.errors[i].size() && e.compare(e.size() - c.errors[i].size(), std::string::npos,
                                                              c.errors[i]) == 0)
          << e;
    }
    std::vector<std::string> stored;
    for (const auto& [number, item] : Items(ledger, 2)) stored.push_back(number);
    EXPECT_EQ(stored, c.stored);
  }
}

}  // namespace
}  // namespace morvent::test
