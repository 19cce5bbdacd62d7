// A ledger other programs have put triggers on: the tool's imports fire
// them on every save, a refusing one fails that record with its own words,
// and the exit status never claims a clean run.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "tests/cli/tool.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

int64_t Scalar(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_stmt* st = nullptr;
  int64_t v = -1;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
    v = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  sqlite3_close(db);
  return v;
}

TEST(ToolForeignTriggers, AnAbortFailsItsRecordAndAnAuditSeesEverySave) {
  ProgramHome home;
  const std::string ledger = home.file("l.db"), data = home.file("d.xml");
  ASSERT_EQ(RunTool(home, "ledger init " + Quote(ledger)).status, 0);
  sqlite3* db = nullptr;
  sqlite3_open(ledger.c_str(), &db);
  ASSERT_EQ(sqlite3_exec(db,
                         "CREATE TABLE audit (FNumber TEXT);"
                         "CREATE TRIGGER audit_items AFTER INSERT ON t_Item BEGIN "
                         "INSERT INTO audit VALUES (NEW.FNumber); END;"
                         "CREATE TRIGGER guard_items BEFORE INSERT ON t_Item WHEN NEW.FNumber LIKE 'X%' "
                         "BEGIN SELECT RAISE(ABORT, '代码 X 开头的部门不许新建'); END;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);

  // 2,000 departments, every hundredth refused by the guard.
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DepartmentList>\n";
  for (int i = 1; i <= 2000; ++i) {
    const std::string n = (i % 100 == 0 ? "X" : "D") + std::to_string(i);
    xml += "<Department><Number>" + n + "</Number><Name>部门" + n + "</Name></Department>\n";
  }
  WriteFile(data, xml + "</DepartmentList>\n");

  auto o = RunTool(home, "import --ledger " + Quote(ledger) + " --type 120 --file " + Quote(data) + " --on-error skip");
  const std::string err = ReadFile(home.file("stderr.txt"));
  EXPECT_EQ(o.status, 4) << err;
  EXPECT_NE(err.find("代码 X 开头的部门不许新建"), std::string::npos) << err;
  EXPECT_NE(err.find("失败 20 条"), std::string::npos) << err;
  EXPECT_EQ(Scalar(ledger, "SELECT count(*) FROM t_Item WHERE FNumber LIKE 'D%'"), 1980);
  EXPECT_EQ(Scalar(ledger, "SELECT count(*) FROM t_Item WHERE FNumber LIKE 'X%'"), 0);
  EXPECT_EQ(Scalar(ledger, "SELECT count(*) FROM audit"), 1980);

  // Stopping at the first refusal is no success either, and keeps what came before.
  auto stop = RunTool(home, "import --ledger " + Quote(ledger) + " --type 120 --imp-style 2 --file " + Quote(data));
  EXPECT_NE(stop.status, 0);
  EXPECT_NE(stop.status, 4);
  EXPECT_EQ(Scalar(ledger, "SELECT count(*) FROM t_Item WHERE FNumber LIKE 'X%'"), 0);
}

}  // namespace
}  // namespace morvent::test
