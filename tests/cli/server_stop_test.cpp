// The server stopped as a crash would while the tool imports into it: one
// clear error saying so and how many records were stored, a failing exit,
// and after a restart every record reported stored is there, whole.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <string>
#include <thread>

#include "store/driver.h"
#include "store/pg_driver.h"
#include "tests/cli/tool.h"
#include "tests/support/own_cluster.h"
#include "tests/support/server_fixture.h"

namespace morvent::test {
namespace {

// Several seconds of importing on the server.
constexpr int kRecords = 100000;

// Departments S1 部门1 .. Scount 部门count.
std::string Departments(int count) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DepartmentList>\n";
  for (int i = 1; i <= count; ++i) {
    const std::string n = std::to_string(i);
    xml += "<Department><Number>S" + n + "</Number><Name>部门" + n + "</Name></Department>\n";
  }
  return xml + "</DepartmentList>\n";
}

TEST(ServerStop, AnImportWhoseServerStopsEndsWithOneErrorAndKeepsWhatItReported) {
  if (!OwnCluster::Available()) GTEST_SKIP() << "NO POSTGRESQL SERVER PROGRAMS: /usr/lib/postgresql/*/bin";
  OwnCluster cluster;
  ASSERT_TRUE(cluster.ok()) << cluster.Log();
  ASSERT_TRUE(ConnectServer(cluster.Uri())->Exec("CREATE DATABASE ledger"));
  const std::string ledger = cluster.Uri("ledger");
  ProgramHome home;
  ASSERT_EQ(RunTool(home, "ledger init " + Quote(ledger)).status, 0);
  WriteFile(home.file("dept.xml"), Departments(kRecords));

  FILE* run = popen(ToolCommand(home, "import --ledger " + Quote(ledger) + " --type 部门 --file " +
                                          Quote(home.file("dept.xml")) + " --quiet")
                        .c_str(),
                    "r");
  ASSERT_NE(run, nullptr);
  // Well into the run, several groups of records committed.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (OutsideCount(ledger, "SELECT count(*) FROM t_Item WHERE FItemClassID = 2") < kRecords / 20 &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(cluster.StopImmediately()) << cluster.Log();
  const int rc = pclose(run);
  const int status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  EXPECT_NE(status, 0);
  const std::string said = ReadFile(home.file("stderr.txt"));

  // One error, saying the connection went and how many records it had stored.
  static const std::regex error(
      "错误：账套不能写入：与数据库服务器的连接已断开（[^\\n]*）；此前已保存 ([0-9]+) 条记录。（已停止）");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(said, m, error)) << said;
  EXPECT_EQ(said.find("错误：", m.position(0) + m.length(0)), std::string::npos) << said;
  const int64_t reported = std::stoll(m[1].str());
  EXPECT_GT(reported, 0) << said;
  EXPECT_LT(reported, kRecords) << "the run ended before the server stopped";

  ASSERT_TRUE(cluster.Start()) << cluster.Log();
  const int64_t stored = OutsideCount(ledger, "SELECT count(*) FROM t_Item WHERE FItemClassID = 2");
  // A commit the server made just as it went may not have been answered.
  EXPECT_GE(stored, reported);
  EXPECT_EQ(OutsideCount(ledger, "SELECT count(*) FROM t_Item WHERE FItemClassID = 2 AND FName <> '部门' || "
                                 "substr(FNumber, 2)"),
            0);
  EXPECT_EQ(OutsideCount(ledger, "SELECT FCount FROM ledger_counts WHERE FTable = 't_Item' AND FScope = 0"), stored);
  // The ledger goes on: the run again keeps what is there and adds the rest.
  EXPECT_EQ(RunTool(home, "import --ledger " + Quote(ledger) + " --type 部门 --file " + Quote(home.file("dept.xml")) +
                              " --quiet")
                .status,
            0)
      << ReadFile(home.file("stderr.txt"));
  EXPECT_EQ(OutsideCount(ledger, "SELECT count(*) FROM t_Item WHERE FItemClassID = 2"), kRecords);
}

}  // namespace
}  // namespace morvent::test
