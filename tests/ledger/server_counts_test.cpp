// The server's count rows say what the rows say after any statement: a
// bulk one, a delete, a move to another scope, a rollback; made in the
// ledger's own transactions (counts pending until the commit) or by
// another program (counted at once).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "store/ledger_admin.h"
#include "store/pg_driver.h"
#include "tests/support/server_fixture.h"

namespace morvent::test {
namespace {

// Count rows that disagree with the rows themselves (zero rows may be
// missing); 0 when every count is right.
int64_t Disagreeing(const std::string& source) {
  return OutsideCount(source, "WITH " + RealCountsCte() +
                                  " SELECT count(*) FROM real FULL JOIN ledger_counts ON FTable = t AND FScope = s "
                                  "WHERE coalesce(FCount, 0) <> coalesce(n, 0)");
}

TEST(ServerCounts, EveryStatementLeavesTheCountsAsTheRowsAre) {
  if (!TestServer()) GTEST_SKIP() << kNoServer;
  ServerDatabase db;
  CreateLedger(db.Source());
  // BEGIN opens one of the ledger's own transactions (counts pending until
  // the commit); START TRANSACTION and bare statements are another
  // program's.
  const std::vector<std::string> opens = {"BEGIN", "START TRANSACTION", ""};
  struct Case {
    const char* what;
    std::vector<std::string> statements;
  };
  const std::vector<Case> cases = {
      {"a bulk insert into two scopes",
       {"INSERT INTO t_Item (FItemClassID, FNumber, FName) SELECT 1 + g % 2, 'B' || g, 'n' FROM generate_series(1, 40) g"}},
      {"a bulk delete", {"DELETE FROM t_Item WHERE FItemClassID = 1"}},
      {"moves to another scope", {"UPDATE t_Item SET FItemClassID = 3 WHERE FNumber IN ('A2', 'A4', 'A5')"}},
      {"statements that touch no row",
       {"INSERT INTO t_Item (FItemClassID, FNumber, FName) SELECT 2, 'x', 'x' WHERE false",
        "DELETE FROM t_Item WHERE false", "UPDATE t_Item SET FItemClassID = FItemClassID"}},
      {"one row at a time, then most of them gone",
       {"INSERT INTO t_Item (FItemClassID, FNumber, FName) VALUES (5, 'S1', 'n')",
        "INSERT INTO t_Item (FItemClassID, FNumber, FName) VALUES (5, 'S2', 'n')",
        "INSERT INTO t_SubMes (FTypeID, FNumber, FName) VALUES (1, 'S3', 'n'), (2, 'S3', 'n')",
        "DELETE FROM t_Item WHERE FItemClassID IN (2, 3)"}},
  };
  for (const std::string& open : opens) {
    for (const Case& c : cases) {
      for (const bool commit : {false, true}) {
        SCOPED_TRACE(std::string(c.what) + " in " + (open.empty() ? "no transaction" : open) +
                     (commit ? ", committed" : ", rolled back"));
        if (open.empty() && !commit) continue;  // nothing to roll back
        auto conn = ConnectServer(db.Source());
        ASSERT_TRUE(conn->Exec(
            "INSERT INTO t_Item (FItemClassID, FNumber, FName) SELECT 1 + g % 2, 'A' || g, 'n' FROM generate_series(1, 9) g"));
        const auto before = OutsideCount(db.Source(), "SELECT count(*) FROM t_Item");
        if (!open.empty()) ASSERT_TRUE(conn->Exec(open.c_str()));
        for (const std::string& s : c.statements) ASSERT_TRUE(conn->Exec(s.c_str())) << s << ": " << conn->LastFailure().message;
        if (!open.empty()) ASSERT_TRUE(conn->Exec(commit ? "COMMIT" : "ROLLBACK"));
        EXPECT_EQ(Disagreeing(db.Source()), 0);
        if (!commit) EXPECT_EQ(OutsideCount(db.Source(), "SELECT count(*) FROM t_Item"), before);
        // The next round starts from the same rows.
        ASSERT_TRUE(conn->Exec("DELETE FROM t_Item"));
        ASSERT_TRUE(conn->Exec("DELETE FROM t_SubMes WHERE FNumber = 'S3'"));
      }
    }
  }
  EXPECT_EQ(Disagreeing(db.Source()), 0);
}

}  // namespace
}  // namespace morvent::test
