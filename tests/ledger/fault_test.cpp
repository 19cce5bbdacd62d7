// The ledger under faults: commits that fail, a record's saves that must not
// be split by a commit, IDs of lost work, and files it cannot open as asked.
#include <sqlite3.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <filesystem>
#include <optional>
#include <thread>

#include "platform/call_scope.h"
#include "store/ledger_store.h"
#include "tests/support/ledger_fixture.h"

namespace morvent::test {
namespace {

namespace fs = std::filesystem;

const std::string kFull = "磁盘已满（database or disk is full）";

class LedgerFaults : public LedgerTest {
 protected:
  void TearDown() override {
    LedgerStore::SetCommitFaultForTesting(nullptr);
    LedgerStore::SetBusyTimeoutForTesting(0);
    LedgerTest::TearDown();
  }
  int64_t Groups() { return OutsideCount(path, "SELECT count(*) FROM t_AccountGroup"); }
  void AddGroup(LedgerStore& store, int id) {
    store.Write([&] { store.Exec("INSERT INTO t_AccountGroup VALUES (" + std::to_string(id) + ", '组')"); });
  }
};

TEST_F(LedgerFaults, ADueCommitWaitsForTheEndOfTheRecord) {
  PublicCallScope call;
  auto store = LedgerStore::ForPath(path);
  {
    RecordScope record;
    AddGroup(*store, 7);
    std::this_thread::sleep_for(LedgerStore::kCommitInterval + std::chrono::milliseconds(20));
    AddGroup(*store, 8);
    EXPECT_TRUE(store->InTransaction());
    EXPECT_EQ(Groups(), 6);
  }
  EXPECT_FALSE(store->InTransaction());
  EXPECT_EQ(Groups(), 8);
}

TEST_F(LedgerFaults, OutsideACallAFailedCommitRollsBackAndIsRaised) {
  auto store = LedgerStore::ForPath(path);
  LedgerStore::SetCommitFaultForTesting([] { return true; });
  EXPECT_EQ(ErrorOf([&] { AddGroup(*store, 7); }), "账套不能写入：" + kFull);
  EXPECT_FALSE(store->InTransaction());
  LedgerStore::SetCommitFaultForTesting(nullptr);
  EXPECT_EQ(Groups(), 6);
  EXPECT_EQ(store->CountRows("t_AccountGroup"), 6);
}

TEST_F(LedgerFaults, InsideACallEveryCommitPathNotesTheLossOnceAndRefusesLaterWrites) {
  struct Case {
    const char* name;
    std::function<void(LedgerStorePtr&)> commit;
  };
  const std::vector<Case> cases = {
      {"call end", [](LedgerStorePtr&) { RunCallEndHooks(); }},
      {"client wait", [](LedgerStorePtr&) { BeforeClientWait(); }},
      {"record end",
       [](LedgerStorePtr&) {
         RecordScope record;
         std::this_thread::sleep_for(LedgerStore::kCommitInterval + std::chrono::milliseconds(20));
       }},
      {"closing", [](LedgerStorePtr& store) { store.reset(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PublicCallScope call;
    auto store = LedgerStore::ForPath(path);
    {
      RecordScope record;
      AddGroup(*store, 7);
      record.Stored();
    }
    LedgerStore::SetCommitFaultForTesting([] { return true; });
    c.commit(store);
    LedgerStore::SetCommitFaultForTesting(nullptr);
    EXPECT_TRUE(LostWritePending());
    EXPECT_EQ(TakeLostWrite(), LostWriteMessage(kFull, 0));
    EXPECT_EQ(TakeLostWrite(), std::nullopt);
    if (!store) store = LedgerStore::ForPath(path);
    EXPECT_EQ(ErrorOf([&] { AddGroup(*store, 8); }), "账套不能写入：本次调用中已有保存失败，不再保存");
    EXPECT_EQ(Groups(), 6);
  }
  // The next call starts clean.
  PublicCallScope call;
  EXPECT_FALSE(LostWritePending());
}

TEST_F(LedgerFaults, ASaveWithoutSavepointLeavesNothingHalfDone) {
  auto insert = [](LedgerStore& store, int id) {
    store.Exec("INSERT INTO t_AccountGroup VALUES (" + std::to_string(id) + ", '组')");
  };
  struct Case {
    const char* what;
    bool inCall;
    std::function<void(LedgerStore&)> save;
    int64_t groupsAfter;  // 6 standard groups; 7 is stored before, in the same call
    bool lost;
  };
  const std::vector<Case> cases = {
      {"its one statement fails: only it is undone", true, [&](LedgerStore& s) { insert(s, 1); }, 7, false},
      {"it fails after a change: the grouped work goes and the call learns", true,
       [&](LedgerStore& s) {
         insert(s, 8);
         insert(s, 1);
       },
       6, true},
      {"the same outside a call: nothing stays", false,
       [&](LedgerStore& s) {
         insert(s, 8);
         insert(s, 1);
       },
       7, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::optional<PublicCallScope> call;
    if (c.inCall) call.emplace();
    auto store = LedgerStore::ForPath(path);
    AddGroup(*store, 7);
    EXPECT_EQ(ErrorOf([&] { store->WriteOne([&] { c.save(*store); }); }),
              "账套操作失败：UNIQUE constraint failed: t_AccountGroup.FGroupID");
    EXPECT_EQ(LostWritePending(), c.lost);
    if (c.lost) EXPECT_EQ(TakeLostWrite(), LostWriteMessage("提交失败（UNIQUE constraint failed: t_AccountGroup.FGroupID）", 0));
    call.reset();
    EXPECT_EQ(Groups(), c.groupsAfter);
    EXPECT_EQ(store->CountRows("t_AccountGroup"), c.groupsAfter);
    store->Exec("DELETE FROM t_AccountGroup WHERE FGroupID > 6");
  }
}

// The loss counted with the records committed before it, and IDs never
// handed out twice: Guarantees (both engines).

TEST_F(LedgerFaults, ALedgerLockedByAnotherProgramIsReportedAsInUse) {
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other,
                         "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE; "
                         "UPDATE ledger_meta SET FValue = FValue WHERE FKey = 'kind'; COMMIT;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  LedgerStore::SetBusyTimeoutForTesting(50);
  const std::string canonical = fs::canonical(path).string();
  EXPECT_EQ(ErrorOf([&] { LedgerStore::ForPath(path); }),
            "账套 " + canonical + " 正被其他程序使用，无法打开：database is locked");
  sqlite3_close(other);
  EXPECT_EQ(ErrorOf([&] { LedgerStore::ForPath(path); }), "");
}

// In a child that may not grow a file past limit bytes (SIGXFSZ ignored, as
// a shell may leave it), departments are saved in one record until the
// ledger refuses: what the call learns names the limit, whether the write
// that hit it was a save spilling the cache or the commit.
std::string LostUnderFileLimit(const std::string& props, rlim_t limit, int perCommit) {
  return InChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    rlimit r{limit, limit};
    setrlimit(RLIMIT_FSIZE, &r);
    Context().gPropsString = props;
    std::string message = "nothing lost";
    std::string refused;
    {
      PublicCallScope call;
      auto set = CreateObjectAs<ObjectSet>(kItemSet);
      // Without commits between records the grouped work outgrows the cache.
      std::optional<RecordScope> whole;
      if (perCommit == 0) whole.emplace();
      for (int i = 0; i < 200000 && !LostWritePending() && refused.empty(); ++i) {
        {
          RecordScope record;
          refused = ErrorOf([&] {
            auto number = Variant("D" + std::to_string(i));
            auto item = set->CreateNew({Variant(int16_t{2}), Variant(0)}, {{"Number", number}});
            item->Let("Name", Variant(std::string(200, 'n')));
            item->SaveChanges();
          });
          if (refused.empty()) record.Stored();
        }
        if (perCommit > 0 && i % perCommit == perCommit - 1) CommitThreadStores();
      }
      whole.reset();
      RunCallEndHooks();
      if (auto lost = TakeLostWrite()) message = *lost;
    }
    return refused + "|" + message;
  });
}

TEST_F(LedgerFaults, AFileSizeLimitIsNamedAsTheReasonALostWriteGives) {
  struct Case {
    const char* what;
    int perCommit;  // 0: one transaction, the cache spills inside a save
  };
  for (const Case& c : {Case{"spilled inside a save", 0}, Case{"at a commit", 50}}) {
    SCOPED_TRACE(c.what);
    const std::string ledger = dir.file(std::string(c.what) + ".db");
    CreateLedger(ledger);
    const std::string message = LostUnderFileLimit("Data Source=" + ledger, 2 * 1024 * 1024, c.perCommit);
    const int64_t stored = OutsideCount(ledger, "SELECT count(*) FROM t_Item WHERE FItemClassID = 2");
    const std::string why = "账套文件已达到系统允许的大小上限（File too large）";
    EXPECT_EQ(message, (c.perCommit == 0 ? "账套不能写入：" + why : "") + "|" + LostWriteMessage(why, stored));
  }
}

// What fn answers in a child process that may not write the folder or
// read the file: root gives up its rights there first, so the system, not
// the ledger's own care, decides what may be written.
std::string AsUnprivileged(const std::function<std::string()>& fn) {
  return InChild([&] {
    if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    return fn();
  });
}

std::string OpenAsUnprivileged(const std::string& ledger) {
  return AsUnprivileged([&] { return ErrorOf([&] { LedgerStore::ForPath(ledger); }); });
}

// Reads the currencies, then tries to store one: "count / error of the save".
std::string ReadAndWriteAsUnprivileged(const std::string& ledger) {
  return AsUnprivileged([&] {
    std::string count;
    std::string error = ErrorOf([&] {
      Context().gPropsString = "Data Source=" + ledger;
      PublicCallScope call;
      auto set = CreateObjectAs<ObjectSet>(kCurrencySet);
      set->Refresh();
      count = std::to_string(set->Count());
      set->CreateNew({}, {{"Number", Variant("JPY")}})->SaveChanges();
    });
    return count + " / " + error;
  });
}

// A ledger in a folder nobody may write, or on read-only media, can be read
// (whatever its journal mode) and refuses only the save; an unreadable
// file says why.
TEST(LedgerOpeningRights, ReadOnlyFolderReadsAndUnreadableFileSaysWhy) {
  TempDir dir;
  chmod(dir.path().c_str(), 0755);
  for (const char* mode : {"WAL", "DELETE"}) {
    SCOPED_TRACE(mode);
    const std::string folder = dir.file(std::string("ro-") + mode);
    fs::create_directory(folder);
    const std::string ledger = folder + "/l.db";
    CreateLedger(ledger);
    {
      Context().gPropsString = "Data Source=" + ledger;
      PublicCallScope call;
      CreateObjectAs<ObjectSet>(kCurrencySet)->CreateNew({}, {{"Number", Variant("RMB")}})->SaveChanges();
    }
    Context().gPropsString.clear();
    sqlite3* db = nullptr;
    sqlite3_open(ledger.c_str(), &db);
    sqlite3_exec(db, (std::string("PRAGMA journal_mode = ") + mode).c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    const std::string canonical = fs::canonical(ledger).string();
    const std::string before = ReadFile(ledger);
    for (mode_t file : {0666, 0444}) {
      chmod(ledger.c_str(), file);
      chmod(folder.c_str(), 0555);
      const std::string readOnly = "账套 " + canonical + " 是只读的，不能保存：attempt to write a readonly database";
      EXPECT_EQ(ReadAndWriteAsUnprivileged(ledger), "1 / " + readOnly) << std::oct << file;
      chmod(folder.c_str(), 0755);
    }
    EXPECT_EQ(ReadFile(ledger), before);
    EXPECT_EQ(fs::directory_iterator(folder)->path(), fs::path(ledger)) << "nothing made beside the ledger";
    chmod(ledger.c_str(), 0000);
    EXPECT_EQ(OpenAsUnprivileged(ledger),
              "无法打开账套文件 " + canonical + "：Permission denied，unable to open database file");
    chmod(ledger.c_str(), 0644);
  }
}

}  // namespace
}  // namespace morvent::test
