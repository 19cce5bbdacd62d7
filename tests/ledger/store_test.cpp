// Opening, creating and transacting on ledger files.
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "platform/call_scope.h"
#include "store/ledger_recordset.h"
#include "store/ledger_schema.h"
#include "store/ledger_services.h"
#include "store/ledger_store.h"
#include "tests/support/ledger_fixture.h"

namespace morvent::test {
namespace {

namespace fs = std::filesystem;

TEST(LedgerCreation, NewLedgerHasStandardAccountTypesAndKind) {
  TempDir dir;
  std::string path = dir.file("a.db");
  CreateLedger(path);
  EXPECT_EQ(LedgerKind(path), "QY");
  auto list = LedgerAccountInfo().GetAccountGroupList("Data Source=" + path);
  ASSERT_EQ(list->RecordCount(), 6);
  std::vector<std::string> names;
  for (list->MoveFirst(); !list->EOF_(); list->MoveNext()) {
    EXPECT_EQ(list->Field("fgroupid").ToLong(), static_cast<int32_t>(names.size()) + 1);
    names.push_back(list->Field("FName").ToText());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"资产", "负债", "共同", "所有者权益", "成本", "损益"}));

  std::string gy = dir.file("gy.db");
  CreateLedger(gy, " GY ");
  EXPECT_EQ(LedgerKind(gy), "GY");
}

TEST(LedgerCreation, ExistingFileIsRefusedAndKept) {
  TempDir dir;
  std::string path = dir.file("x.db");
  WriteFile(path, "keep me");
  EXPECT_EQ(ErrorOf([&] { CreateLedger(path); }), "文件已存在，不能新建账套：" + path);
  EXPECT_EQ(ReadFile(path), "keep me");
}

TEST(LedgerOpening, BadPropertyStringsAndFilesAreRefusedWithoutCreatingFiles) {
  TempDir dir;
  std::string missing = dir.file("missing.db");
  EXPECT_EQ(ErrorOf([&] { LedgerStore::ForProps("Provider=x;AcctType=GY"); }),
            "属性串中没有指定账套文件（Data Source），无法打开账套");
  EXPECT_EQ(ErrorOf([&] { LedgerStore::ForProps("data source=" + missing); }), "账套文件不存在：" + missing);
  EXPECT_FALSE(fs::exists(missing));

  std::string text = dir.file("text.db");
  WriteFile(text, "this is no database at all, just some words to fill a page");
  EXPECT_EQ(ErrorOf([&] { LedgerStore::ForPath(text); }), "不是账套文件：" + text);
  EXPECT_EQ(ReadFile(text), "this is no database at all, just some words to fill a page");

  std::string empty = dir.file("empty.db");
  WriteFile(empty, "");
  EXPECT_EQ(ErrorOf([&] { LedgerStore::ForPath(empty); }), "不是账套文件：" + empty);
  EXPECT_EQ(fs::file_size(empty), 0u);

  // An SQLite database of some other program.
  std::string other = dir.file("other.db");
  sqlite3* db = nullptr;
  sqlite3_open(other.c_str(), &db);
  sqlite3_exec(db, "CREATE TABLE ledger_meta (FKey, FValue)", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  EXPECT_EQ(ErrorOf([&] { LedgerStore::ForPath(other); }), "不是账套文件：" + other);

  // Creating a set by name goes through the same check.
  Context().gPropsString = "Data Source=" + missing;
  EXPECT_EQ(ErrorOf([&] { CreateObject(kCurrencySet); }), "账套文件不存在：" + missing);
  Context().gPropsString.clear();
  EXPECT_FALSE(fs::exists(missing));
}

// Runs SQL on the file with a connection of its own.
void Damage(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
  sqlite3_close(db);
}

// A ledger whose stored version is newer says so however large it is; one
// that lost its version, its meta table or part of the file is damaged,
// never "upgraded", and never called no ledger at all.
TEST(LedgerOpening, NewerAndDamagedLedgersSaySo) {
  TempDir dir;
  const std::string newer = " 的结构版本为 ";
  struct Case {
    const char* what;
    std::function<void(const std::string&)> harm;
    std::string message;  // after the path: "" for the damaged one
  };
  auto version = [](const std::string& v) {
    return [v](const std::string& p) {
      Damage(p, "UPDATE ledger_meta SET FValue = '" + v + "' WHERE FKey = 'schema_version'");
    };
  };
  auto cut = [](const std::string& p) { fs::resize_file(p, fs::file_size(p) / 2); };
  auto scribble = [](const std::string& p) {
    // Page 1 past its header holds the schema.
    std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(100);
    const std::string junk(3000, '\x5a');
    f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
  };
  const std::string ours = std::to_string(kLedgerSchemaVersion);
  const std::vector<Case> cases = {
      {"newer", version("99"), newer + "99，高于本程序支持的版本 " + ours + "，无法打开"},
      {"2^40", version("1099511627776"), newer + "1099511627776，高于本程序支持的版本 " + ours + "，无法打开"},
      {"past 64 bits", version("99999999999999999999999"),
       newer + "99999999999999999999999，高于本程序支持的版本 " + ours + "，无法打开"},
      // Older: the path is filled in below.
      {"older", version("1"), newer + "1，需要先运行“morvent ledger upgrade PATH”升级到版本 " + ours},
      {"no number", version("一"), ""},
      {"zero", version("0"), ""},
      {"negative", version("-3"), ""},
      {"version gone", [](const std::string& p) { Damage(p, "DELETE FROM ledger_meta WHERE FKey = 'schema_version'"); }, ""},
      {"meta table gone", [](const std::string& p) { Damage(p, "DROP TABLE ledger_meta"); }, ""},
      {"cut in half", cut, ""},
      {"schema scribbled over", scribble, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir.file(std::string(c.what) + ".db");
    CreateLedger(path);
    // Enough rows that the file has pages past its first few.
    {
      Context().gPropsString = "Data Source=" + path;
      PublicCallScope call;
      auto set = CreateObjectAs<ObjectSet>(kCurrencySet);
      for (int i = 0; i < 300; ++i) set->CreateNew({}, {{"Number", Variant("C" + std::to_string(i))}})->SaveChanges();
    }
    Context().gPropsString.clear();
    Damage(path, "PRAGMA journal_mode = DELETE");
    c.harm(path);
    const std::string canonical = fs::canonical(path).string();
    std::string expected = c.message.empty() ? "账套文件已损坏：" + canonical : "账套 " + canonical + c.message;
    if (auto at = expected.find("PATH"); at != std::string::npos) expected.replace(at, 4, canonical);
    EXPECT_EQ(ErrorOf([&] { LedgerStore::ForPath(path); }), expected);
    EXPECT_EQ(ErrorOf([&] { LedgerStore::ForPath(path); }), expected);
  }
}

TEST(LedgerOpening, OneStorePerFileAndThreadWalMode) {
  TempDir dir;
  std::string path = dir.file("s.db");
  CreateLedger(path);
  auto a = LedgerStore::ForProps("Data Source=" + path);
  auto b = LedgerStore::ForProps("DATA SOURCE = " + dir.path() + "/./s.db ;x=1");
  EXPECT_EQ(a.get(), b.get());
  std::shared_ptr<LedgerStore> other;
  std::thread([&] { other = LedgerStore::ForPath(path); }).join();
  EXPECT_NE(other.get(), a.get());
  auto q = a->Prepare("PRAGMA journal_mode");
  ASSERT_TRUE(q.Next());
  EXPECT_EQ(q.Text(0), "wal");
}

TEST(LedgerTransactions, WritesOutsideACallCommitAtOnceAndFailuresRollBack) {
  TempDir dir;
  std::string path = dir.file("t.db");
  CreateLedger(path);
  auto store = LedgerStore::ForPath(path);
  store->Write([&] { store->Exec("INSERT INTO t_AccountGroup VALUES (7, '表外')"); });
  EXPECT_FALSE(store->InTransaction());
  EXPECT_EQ(OutsideCount(path, "SELECT count(*) FROM t_AccountGroup"), 7);

  EXPECT_THROW(store->Write([&] {
    store->Exec("INSERT INTO t_AccountGroup VALUES (8, '其他')");
    throw Error(1, "test", "boom");
  }),
               Error);
  EXPECT_EQ(OutsideCount(path, "SELECT count(*) FROM t_AccountGroup"), 7);
  EXPECT_EQ(store->CountRows("t_AccountGroup"), 7);
}

TEST(LedgerTransactions, GroupedInsideACallCommittedWhenTheCallEnds) {
  TempDir dir;
  std::string path = dir.file("g.db");
  CreateLedger(path);
  EnsureComponentsRegistered();  // installs the call-end hook
  {
    PublicCallScope call;
    auto store = LedgerStore::ForPath(path);
    store->Write([&] { store->Exec("INSERT INTO t_AccountGroup VALUES (7, '表外')"); });
    store->Write([&] { store->Exec("INSERT INTO t_AccountGroup VALUES (8, '其他')"); });
    EXPECT_TRUE(store->InTransaction());
    // A failed save inside the call undoes only itself.
    EXPECT_THROW(store->Write([&] {
      store->Exec("INSERT INTO t_AccountGroup VALUES (9, '错')");
      store->Exec("INSERT INTO no_such_table VALUES (1)");
    }),
                 Error);
    EXPECT_EQ(OutsideCount(path, "SELECT count(*) FROM t_AccountGroup"), 6);
  }
  EXPECT_EQ(OutsideCount(path, "SELECT count(*) FROM t_AccountGroup"), 8);
}

TEST(LedgerTransactions, ReadsOfACallShareOneSnapshotUntilAWriteOrTheCallEnds) {
  TempDir dir;
  std::string path = dir.file("r.db");
  CreateLedger(path);
  EnsureComponentsRegistered();  // installs the call-end hook
  auto store = LedgerStore::ForPath(path);
  auto otherAdds = [&](int id) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    int rc = sqlite3_exec(db, ("INSERT INTO t_AccountGroup VALUES (" + std::to_string(id) + ", '外')").c_str(),
                          nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return rc;
  };
  {
    PublicCallScope call;
    EXPECT_EQ(store->CountRows("t_AccountGroup"), 6);
    EXPECT_EQ(otherAdds(7), SQLITE_OK);  // the call's reads hold no writer off
    EXPECT_FALSE(store->InTransaction());
    EXPECT_EQ(store->CountRows("t_AccountGroup"), 6);
    store->Write([&] { store->Exec("INSERT INTO t_AccountGroup VALUES (8, '内')"); });
    EXPECT_EQ(store->CountRows("t_AccountGroup"), 8);
  }
  EXPECT_EQ(otherAdds(9), SQLITE_OK);
  EXPECT_EQ(store->CountRows("t_AccountGroup"), 9);
  EXPECT_EQ(OutsideCount(path, "SELECT count(*) FROM t_AccountGroup"), 9);
}

TEST(LedgerTransactions, GroupedWritesCommitAfterAQuarterSecond) {
  TempDir dir;
  std::string path = dir.file("q.db");
  CreateLedger(path);
  PublicCallScope call;
  auto store = LedgerStore::ForPath(path);
  store->Write([&] { store->Exec("INSERT INTO t_AccountGroup VALUES (7, '表外')"); });
  EXPECT_TRUE(store->InTransaction());
  std::this_thread::sleep_for(LedgerStore::kCommitInterval + std::chrono::milliseconds(20));
  store->Write([&] { store->Exec("INSERT INTO t_AccountGroup VALUES (8, '其他')"); });
  EXPECT_FALSE(store->InTransaction());
  EXPECT_EQ(OutsideCount(path, "SELECT count(*) FROM t_AccountGroup"), 8);
}

TEST(LedgerTransactions, ReleasingTheLastObjectKeepsGroupedWork) {
  TempDir dir;
  std::string path = dir.file("r.db");
  CreateLedger(path);
  {
    PublicCallScope call;
    auto store = LedgerStore::ForPath(path);
    store->Write([&] { store->Exec("INSERT INTO t_AccountGroup VALUES (7, '表外')"); });
    store.reset();
    EXPECT_EQ(OutsideCount(path, "SELECT count(*) FROM t_AccountGroup"), 7);
  }
}

TEST(LedgerStatements, CachedStatementsCanBeBorrowedTwiceAtOnce) {
  TempDir dir;
  std::string path = dir.file("c.db");
  CreateLedger(path);
  auto store = LedgerStore::ForPath(path);
  const std::string sql = "SELECT FName FROM t_AccountGroup WHERE FGroupID >= ? ORDER BY FGroupID";
  auto outer = store->Prepare(sql);
  outer.Bind(1, 5);
  ASSERT_TRUE(outer.Next());
  {
    auto inner = store->Prepare(sql);
    inner.Bind(1, 1);
    ASSERT_TRUE(inner.Next());
    EXPECT_EQ(inner.Text(0), "资产");
  }
  EXPECT_EQ(outer.Text(0), "成本");
  ASSERT_TRUE(outer.Next());
  EXPECT_EQ(outer.Text(0), "损益");
  EXPECT_FALSE(outer.Next());
}

}  // namespace
}  // namespace morvent::test
