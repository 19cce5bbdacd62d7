// What the store relies on from a driver: statements, transaction state,
// change counts and failures in the store's classes. Run per engine.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "store/driver.h"
#include "store/sqlite_driver.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

struct Engine {
  const char* name;
  // A fresh, empty database in dir; a second connection to the same one.
  std::function<std::unique_ptr<DbConnection>(TempDir& dir)> create;
  std::function<std::unique_ptr<DbConnection>(TempDir& dir)> second;
};

std::unique_ptr<DbConnection> SqliteSecond(TempDir& dir) {
  // The ledger checks of an opening need ledger_meta and the mark; a plain
  // second connection is what another program holding the file is.
  return OpenSqliteLedger(dir.file("d.db")).connection;
}

const Engine kEngines[] = {
    {"sqlite", [](TempDir& dir) { return CreateSqliteLedger(dir.file("d.db")); }, SqliteSecond},
};

class DriverTest : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    SetSqliteBusyTimeout(50);  // a lock wait that runs out soon
    db = GetParam().create(dir);
    Run("CREATE TABLE ledger_meta (FKey TEXT PRIMARY KEY, FValue TEXT);"
        "INSERT INTO ledger_meta VALUES ('schema_version', '1');"
        "CREATE TABLE t (FID INTEGER PRIMARY KEY, FName TEXT NOT NULL UNIQUE, FRate REAL)");
    Run(db->StampVersionSql(1).c_str());
  }
  void TearDown() override { SetSqliteBusyTimeout(0); }

  void Run(const char* sql) { ASSERT_TRUE(db->Exec(sql)) << db->LastFailure().message; }
  std::unique_ptr<DbStatement> Prepare(const char* sql) {
    std::unique_ptr<DbStatement> stmt(db->Prepare(sql, std::char_traits<char>::length(sql)));
    EXPECT_NE(stmt, nullptr) << db->LastFailure().message;
    return stmt;
  }

  TempDir dir;
  std::unique_ptr<DbConnection> db;
};

TEST_P(DriverTest, ValuesGoInAndComeOutWithTheirTypes) {
  auto insert = Prepare("INSERT INTO t (FName, FRate) VALUES (?, ?)");
  EXPECT_TRUE(insert->BindText(1, "部门甲"));
  EXPECT_TRUE(insert->BindReal(2, 0.25));
  EXPECT_FALSE(insert->ReadOnly());
  EXPECT_EQ(insert->Next(), DbStatement::Step::Done);
  EXPECT_EQ(db->Changes(), 1);
  const int64_t first = db->LastInsertId();
  insert->Reset();
  insert->ClearBindings();
  EXPECT_TRUE(insert->BindText(1, std::string_view("乙\0丙", 5)));
  EXPECT_TRUE(insert->BindNull(2));
  EXPECT_EQ(insert->Next(), DbStatement::Step::Done);
  EXPECT_GT(db->LastInsertId(), first);

  auto read = Prepare("SELECT FID, FName, FRate FROM t ORDER BY FID");
  EXPECT_TRUE(read->ReadOnly());
  EXPECT_FALSE(read->Running());
  ASSERT_EQ(read->Next(), DbStatement::Step::Row);
  EXPECT_TRUE(read->Running());
  EXPECT_EQ(read->Columns(), 3);
  EXPECT_EQ(read->ColumnName(1), "FName");
  EXPECT_EQ(read->ColumnType(0), DbStatement::Type::Integer);
  EXPECT_EQ(read->Int(0), first);
  EXPECT_EQ(read->ColumnType(1), DbStatement::Type::Text);
  EXPECT_EQ(read->Text(1), "部门甲");
  EXPECT_EQ(read->ColumnType(2), DbStatement::Type::Real);
  EXPECT_DOUBLE_EQ(read->Real(2), 0.25);
  ASSERT_EQ(read->Next(), DbStatement::Step::Row);
  EXPECT_EQ(read->Text(1), std::string_view("乙\0丙", 5));
  EXPECT_EQ(read->ColumnType(2), DbStatement::Type::Null);
  EXPECT_EQ(read->Next(), DbStatement::Step::Done);
}

TEST_P(DriverTest, TransactionsAndSavepointsAreSeenAsTheyStand) {
  EXPECT_FALSE(db->InTransaction());
  EXPECT_FALSE(db->ReadOnly());
  const int64_t before = db->TotalChanges();
  Run("BEGIN IMMEDIATE");
  EXPECT_TRUE(db->InTransaction());
  Run("INSERT INTO t (FName) VALUES ('a'); SAVEPOINT w; INSERT INTO t (FName) VALUES ('b')");
  Run("ROLLBACK TO w; RELEASE w");
  Run("COMMIT");
  EXPECT_FALSE(db->InTransaction());
  EXPECT_EQ(db->TotalChanges() - before, 2);  // the undone row was a change too
  auto count = Prepare("SELECT count(*) FROM t");
  ASSERT_EQ(count->Next(), DbStatement::Step::Row);
  EXPECT_EQ(count->Int(0), 1);

  auto exists = Prepare(db->TableExistsSql());
  for (const auto& [table, found] : {std::pair{"t", true}, std::pair{"missing", false}}) {
    exists->Reset();
    exists->BindText(1, table);
    EXPECT_EQ(exists->Next() == DbStatement::Step::Row, found) << table;
  }
}

TEST_P(DriverTest, FailuresComeInTheStoresClasses) {
  // A constraint is no fault of the medium; the engine's words stay.
  Run("INSERT INTO t (FName) VALUES ('a')");
  EXPECT_FALSE(db->Exec("INSERT INTO t (FName) VALUES ('a')"));
  DbFailure f = db->LastFailure();
  EXPECT_EQ(f.fault, DbFault::Other);
  EXPECT_NE(f.message.find("FName"), std::string::npos) << f.message;

  EXPECT_EQ(db->Prepare("SELECT nothing FROM nowhere", 27), nullptr);
  EXPECT_EQ(db->LastFailure().fault, DbFault::Other);

  // Another connection holding the write lock: a wait that runs out.
  auto other = GetParam().second(dir);
  ASSERT_TRUE(other->Exec("BEGIN IMMEDIATE; INSERT INTO t (FName) VALUES ('z')"));
  EXPECT_FALSE(db->Exec("BEGIN IMMEDIATE"));
  f = db->LastFailure();
  EXPECT_EQ(f.fault, DbFault::Busy);
  EXPECT_FALSE(db->InTransaction());
  ASSERT_TRUE(other->Exec("COMMIT"));
  Run("BEGIN IMMEDIATE");
  Run("COMMIT");
}

INSTANTIATE_TEST_SUITE_P(Engines, DriverTest, ::testing::ValuesIn(kEngines),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace morvent::test
