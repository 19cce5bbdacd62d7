// The tool on a ledger in a PostgreSQL database: the main job's round trip
// and what it shows of a connection string. Needs the test server.
#include <gtest/gtest.h>

#include <string>

#include "store/pg_driver.h"
#include "tests/cli/tool.h"
#include "tests/support/server_fixture.h"

namespace morvent::test {
namespace {

#define NEED_SERVER() \
  if (!TestServer()) GTEST_SKIP() << kNoServer

// The counts part of `ledger info` (everything after the version line).
std::string Counts(const std::string& info) { return info.substr(info.find("对象数：")); }

TEST(ServerTool, WholeLedgerRoundTripIsEqualOnTheServerAndBetweenTheEngines) {
  NEED_SERVER();
  for (const std::string kind : {"GY", "QY"}) {
    SCOPED_TRACE(kind);
    ProgramHome home;
    ServerDatabase db;
    const std::string file = home.file("source.db"), first = home.file("first"), second = home.file("second");
    const std::string server = Quote(db.Source());
    ASSERT_EQ(RunTool(home, "ledger demo " + Quote(file) + " --acct-type " + kind).status, 0);
    ASSERT_EQ(RunTool(home, "export --ledger " + Quote(file) + " --all " + Quote(first) + " --quiet").status, 0);
    ASSERT_EQ(RunTool(home, "ledger init " + server + " --acct-type " + kind).status, 0);
    ASSERT_EQ(RunTool(home, "import --ledger " + server + " --all " + Quote(first) + " --quiet").status, 0)
        << ReadFile(home.file("stderr.txt"));
    ASSERT_EQ(RunTool(home, "export --ledger " + server + " --all " + Quote(second) + " --quiet").status, 0)
        << ReadFile(home.file("stderr.txt"));
    const Outcome compared = RunTool(home, "compare " + Quote(first) + " " + Quote(second) + " --acct-type " + kind);
    const std::string said = compared.out + ReadFile(home.file("stderr.txt"));
    EXPECT_EQ(compared.status, 0) << said;
    EXPECT_NE(said.find("比较了 16 个文件，0 处不同"), std::string::npos) << said;
    // Every kind holds as many objects on the server as in the file.
    const Outcome onFile = RunTool(home, "ledger info " + Quote(file));
    const Outcome onServer = RunTool(home, "ledger info " + server);
    ASSERT_EQ(onServer.status, 0);
    EXPECT_EQ(Counts(onServer.out), Counts(onFile.out));
  }
}

TEST(ServerTool, APasswordIsNeverShownLoggedOrSentInEvents) {
  NEED_SERVER();
  ProgramHome home;
  ServerDatabase db;
  // The test server trusts its clients: the password is carried, unused.
  const bool uri = db.Source().find("://") != std::string::npos;
  const std::string secret = "topsecret";
  std::string withPassword = db.Source();
  if (uri)
    withPassword.replace(withPassword.find("://") + 3, 0, "morvent:" + secret + "@");
  else
    withPassword += " password=" + secret;
  const std::string ledger = Quote(withPassword);
  WriteFile(home.file("dept.xml"), DepartmentsXml(3));
  // A record without a number: an error event and a log entry.
  WriteFile(home.file("orphan.xml"),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DepartmentList><Department><Number></Number>"
            "<Name>无代码</Name></Department></DepartmentList>\n");
  std::string shown;
  auto run = [&](const std::string& args) {
    const Outcome o = RunTool(home, args);
    shown += o.out + ReadFile(home.file("stderr.txt"));
    return o;
  };
  EXPECT_EQ(run("ledger init " + ledger).status, 0);
  EXPECT_EQ(run("ledger info " + ledger).status, 0);
  for (const char* events : {"text", "jsonl"}) {
    run("import --ledger " + ledger + " --type 部门 --file " + Quote(home.file("dept.xml")) + " --events " + events);
    run("import --ledger " + ledger + " --type 部门 --file " + Quote(home.file("orphan.xml")) +
        " --on-error skip --events " + events);
    run("export --ledger " + ledger + " --type 部门 --file " + Quote(home.file("out.xml")) + " --events " + events);
  }
  // A database that is not there: the failure names the server, masked.
  std::string missing = withPassword;
  missing.replace(missing.find(db.Name()), db.Name().size(), db.Name() + "_missing");
  const Outcome refused = run("ledger info " + Quote(missing));
  EXPECT_NE(refused.status, 0);
  const std::string masked = MaskPassword(missing);
  const std::string stderrText = ReadFile(home.file("stderr.txt"));
  EXPECT_EQ(stderrText.rfind("失败：无法连接账套服务器 " + masked + "：", 0), 0u) << stderrText;

  EXPECT_NE(shown.find("\"event\":\"Error\""), std::string::npos) << "no error event was produced";
  const std::string log = ReadFile(home.file("Morvent_log.xml"));
  EXPECT_FALSE(log.empty()) << "no exchange log was written";
  EXPECT_EQ(shown.find(secret), std::string::npos) << shown;
  EXPECT_EQ(log.find(secret), std::string::npos) << log;
}

}  // namespace
}  // namespace morvent::test
