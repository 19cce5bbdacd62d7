// Several tool processes importing into one server ledger at once: every
// record stored once, none lost, the counts right. Records per client:
// MORVENT_CLIENT_RECORDS (2,500 unless given; docs/ledger.md gives the
// 25,000 run). Needs the test server.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/cli/tool.h"
#include "tests/support/server_fixture.h"

namespace morvent::test {
namespace {

int RecordsPerClient() {
  const char* n = std::getenv("MORVENT_CLIENT_RECORDS");
  return n && std::atoi(n) > 0 ? std::atoi(n) : 2500;
}

// Departments <prefix>first .. <prefix>last, named after their numbers.
std::string Departments(const std::string& prefix, int first, int last) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DepartmentList>\n";
  for (int i = first; i <= last; ++i) {
    const std::string n = prefix + std::to_string(i);
    xml += "<Department><Number>" + n + "</Number><Name>部门" + n + "</Name></Department>\n";
  }
  return xml + "</DepartmentList>\n";
}

struct Client {
  std::string file;
  FILE* run = nullptr;
  int status = -1;
  std::string said;
};

TEST(ServerClients, ProcessesImportingAtOnceStoreEveryRecordOnceWithTheCountsRight) {
  if (!TestServer()) GTEST_SKIP() << kNoServer;
  const int n = RecordsPerClient();
  struct Case {
    const char* what;
    std::vector<std::string> prefixes;  // one client each; equal ones import the same numbers
    int64_t stored;
  };
  const std::vector<Case> cases = {
      {"four clients, numbers of their own", {"A", "B", "C", "D"}, 4LL * n},
      // The unique index decides: one of the two stores each number, the
      // other finds it taken.
      {"two clients, the same numbers", {"S", "S"}, n},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ProgramHome home;
    ServerDatabase db;
    const std::string ledger = Quote(db.Source());
    ASSERT_EQ(RunTool(home, "ledger init " + ledger).status, 0);
    std::vector<Client> clients(c.prefixes.size());
    for (size_t k = 0; k < clients.size(); ++k) {
      clients[k].file = home.file("dept" + std::to_string(k) + ".xml");
      WriteFile(clients[k].file, Departments(c.prefixes[k], 1, n));
    }
    for (size_t k = 0; k < clients.size(); ++k) {
      // Each its own stderr file: the shared one would mix them.
      const std::string command = "MORVENT_HOME=" + Quote(home.path()) + " " + Quote(Tool()) + " import --ledger " +
                                  ledger + " --type 部门 --file " + Quote(clients[k].file) +
                                  " --quiet --on-error skip </dev/null 2>" +
                                  Quote(home.file("stderr" + std::to_string(k) + ".txt"));
      clients[k].run = popen(command.c_str(), "r");
      ASSERT_NE(clients[k].run, nullptr);
    }
    for (size_t k = 0; k < clients.size(); ++k) {
      const int rc = pclose(clients[k].run);
      clients[k].status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
      clients[k].said = ReadFile(home.file("stderr" + std::to_string(k) + ".txt"));
    }
    const bool shared = c.prefixes.size() == 2;
    for (const auto& client : clients) {
      // A number found taken is that record's error; nothing else fails.
      if (!shared) EXPECT_EQ(client.status, 0) << client.said;
      EXPECT_EQ(client.said.find("失败："), std::string::npos) << client.said;
      EXPECT_EQ(client.said.find("连接已断开"), std::string::npos) << client.said;
    }
    const std::string items = "SELECT count(*) FROM t_Item WHERE FItemClassID = 2";
    EXPECT_EQ(OutsideCount(db.Source(), items), c.stored);
    EXPECT_EQ(OutsideCount(db.Source(), "SELECT count(DISTINCT FNumber) FROM t_Item WHERE FItemClassID = 2"), c.stored);
    EXPECT_EQ(OutsideCount(db.Source(), "SELECT count(*) FROM t_Item WHERE FItemClassID = 2 AND FName <> '部门' || FNumber"),
              0);
    EXPECT_EQ(OutsideCount(db.Source(), "SELECT FCount FROM ledger_counts WHERE FTable = 't_Item' AND FScope = 0"),
              c.stored);
    EXPECT_EQ(OutsideCount(db.Source(),
                           "SELECT FCount FROM ledger_counts WHERE FTable = 't_Item:FItemClassID' AND FScope = 2"),
              c.stored);
  }
}

}  // namespace
}  // namespace morvent::test
