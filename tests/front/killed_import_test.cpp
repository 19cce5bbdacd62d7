// An import killed at a random moment leaves only whole objects: commits
// fall between records, never between the saves of one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "context/glfunc.h"
#include "front/import_base.h"
#include "platform/registry.h"
#include "store/ledger_admin.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

constexpr int kDepartments = 5000;
constexpr const char* kItems = "SELECT count(*) FROM t_Item WHERE FItemClassID = 2";
// Items whose note, written by the record's second save, is not there.
constexpr const char* kHalfItems =
    "SELECT count(*) FROM t_Item i WHERE i.FItemClassID = 2 AND NOT EXISTS (SELECT 1 FROM t_ItemValue v "
    "WHERE v.FItemID = i.FItemID AND v.FField = 'FNote' AND v.FValue = 'N' || i.FNumber)";

int64_t Count(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);  // may recover the killed writer's journal
  sqlite3_stmt* st = nullptr;
  int64_t n = -1;
  if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
    n = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  sqlite3_close(db);
  return n;
}

TEST(KilledImport, EveryStoredDepartmentIsWhole) {
  ProgramHome home;
  EnsureComponentsRegistered();
  auto collection = std::make_shared<RecordCollection>();
  for (int i = 1; i <= kDepartments; ++i) {
    std::string number = "D" + std::to_string(100000 + i);
    collection->Add(Rec({{"Number", number}, {"Name", "部门" + number}, {"Note", "N" + number}}));
  }
  const std::string file = home.file("d.xml");
  std::string err;
  WriteDataFile(collection, file, SchemaPath("SchemaDepartment.xml"), "Department", err);

  std::mt19937 rng(std::random_device{}());
  std::uniform_int_distribution<int> delayMs(0, 400);
  for (int trial = 0; trial < 5; ++trial) {
    const std::string ledger = home.file("l" + std::to_string(trial) + ".db");
    CreateLedger(ledger);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ImportBase imp;
      bool done = imp.ImportXMLData("Data Source=" + ledger + ";AcctType=QY", 120, file);
      _exit(done ? 0 : 1);
    }
    // Strikes while the records are being stored, once the first commit is in.
    int status = 0;
    bool exited = false;
    for (int i = 0; i < 2000 && Count(ledger, kItems) <= 0; ++i) {
      if ((exited = waitpid(pid, &status, WNOHANG) == pid)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const int delay = delayMs(rng);
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    kill(pid, SIGKILL);
    if (!exited) waitpid(pid, &status, 0);
    SCOPED_TRACE("killed " + std::to_string(delay) + " ms after the first commit, " + std::to_string(Count(ledger, kItems)) +
                 " departments stored");
    EXPECT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0));
    EXPECT_EQ(Count(ledger, kHalfItems), 0);
  }
}

}  // namespace
}  // namespace morvent::test
