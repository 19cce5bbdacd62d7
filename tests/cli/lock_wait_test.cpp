// A client importing while another holds a lock on the ledger: it says it
// waits (once) instead of hanging silently, and finishes with every record
// once the lock goes. On a ledger file and on the test server (skipped
// without one).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "store/driver.h"
#include "store/ledger_store.h"
#include "store/pg_driver.h"
#include "store/sqlite_driver.h"
#include "tests/cli/tool.h"
#include "tests/support/server_fixture.h"

namespace morvent::test {
namespace {

constexpr int kRecords = 40;
constexpr const char* kWaiting = "正在等待另一个客户端释放账套";

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

class LockWait : public ::testing::TestWithParam<LedgerEngine> {};

TEST_P(LockWait, AnImportWaitingOnAnotherClientSaysSoOnceAndStoresEveryRecord) {
  const bool server = GetParam() == LedgerEngine::Server;
  if (server && !TestServer()) GTEST_SKIP() << kNoServer;
  struct Case {
    const char* what;
    bool hold;  // another client holds a lock when the import starts
  };
  const Case cases[] = {{"held by another client", true}, {"nobody holds it", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ProgramHome home;
    std::optional<ServerDatabase> db;
    if (server) db.emplace();
    const std::string source = server ? db->Source() : home.file("ledger.db");
    ASSERT_EQ(RunTool(home, "ledger init " + Quote(source)).status, 0);
    const std::string file = home.file("dept.xml");
    WriteFile(file, DepartmentsXml(kRecords));

    // The other client: an open transaction that wrote. On the server it
    // holds the row the import's commit adds its counts to; a file's writer
    // holds the whole file.
    std::unique_ptr<DbConnection> other =
        server ? ConnectServer(source) : std::move(OpenSqliteLedger(source).connection);
    if (c.hold) {
      ASSERT_TRUE(other->Exec(server ? "BEGIN" : "BEGIN IMMEDIATE"));
      ASSERT_TRUE(other->Exec(server ? "INSERT INTO ledger_counts VALUES ('t_Item', 0, 0) ON CONFLICT (FTable, FScope) "
                                       "DO UPDATE SET FCount = ledger_counts.FCount"
                                     : "UPDATE ledger_meta SET FValue = FValue WHERE FKey = 'schema_version'"))
          << other->LastFailure().message;
    }
    FILE* run = popen(ToolCommand(home, "import --ledger " + Quote(source) + " --type 部门 --file " + Quote(file) +
                                            " --quiet")
                          .c_str(),
                      "r");
    ASSERT_NE(run, nullptr);
    if (c.hold) {
      // Released as soon as the import says it waits (well inside the
      // file's busy timeout), never before.
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      std::string said;
      while (said.find(kWaiting) == std::string::npos && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        said = ReadFile(home.file("stderr.txt"));
      }
      EXPECT_NE(said.find("诊断：" + WaitingText(1)), std::string::npos) << said;
      EXPECT_TRUE(other->Exec("ROLLBACK"));
    }
    const int rc = pclose(run);
    const std::string said = ReadFile(home.file("stderr.txt"));
    EXPECT_EQ(WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, 0) << said;
    EXPECT_EQ(Occurrences(said, kWaiting), c.hold ? 1u : 0u) << said;
    other.reset();
    EXPECT_EQ(OutsideCount(source, "SELECT count(*) FROM t_Item WHERE FItemClassID = 2"), kRecords);
    EXPECT_EQ(OutsideCount(source, "SELECT FCount FROM ledger_counts WHERE FTable = 't_Item:FItemClassID' AND FScope = 2"),
              kRecords);
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, LockWait, BothEngines(), EngineName);

}  // namespace
}  // namespace morvent::test
