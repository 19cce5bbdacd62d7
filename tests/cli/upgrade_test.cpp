// `morvent ledger upgrade` on a ledger made by the program of schema version
// 1 (tests/fixtures/ledger_v1, with the whole-ledger exports and counts that
// program gave): refused before, every object, field and count the same
// after.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <map>
#include <tuple>

#include "store/ledger_schema.h"
#include "tests/cli/tool.h"

namespace morvent::test {
namespace {

namespace fs = std::filesystem;

std::string OldFixture(const std::string& name) { return FixtureDir() + "/ledger_v1/" + name; }

// Every field row SQL reads from t_ItemValue, as stored: type and exact
// value (a double by its bits), keyed by item and field.
using FieldRows = std::map<std::pair<int64_t, std::string>, std::tuple<int, std::string>>;
FieldRows ReadFieldRows(const std::string& path) {
  FieldRows rows;
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* q = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, "SELECT FItemID, FField, FValue FROM t_ItemValue", -1, &q, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db);
  while (q && sqlite3_step(q) == SQLITE_ROW) {
    const int type = sqlite3_column_type(q, 2);
    std::string value;
    if (type == SQLITE_FLOAT) {
      const double d = sqlite3_column_double(q, 2);
      value.assign(reinterpret_cast<const char*>(&d), sizeof d);
    } else if (type != SQLITE_NULL) {
      value.assign(reinterpret_cast<const char*>(sqlite3_column_text(q, 2)), sqlite3_column_bytes(q, 2));
    }
    rows[{sqlite3_column_int64(q, 0), reinterpret_cast<const char*>(sqlite3_column_text(q, 1))}] = {type, value};
  }
  sqlite3_finalize(q);
  sqlite3_close(db);
  return rows;
}

// The files of a whole-ledger export folder by name.
std::map<std::string, std::string> Folder(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& f : fs::directory_iterator(dir)) files[f.path().filename().string()] = ReadFile(f.path().string());
  return files;
}

// The object counts `ledger info` prints, after its version line.
std::string Counts(const std::string& info) { return info.substr(info.find("对象数：")); }

TEST(LedgerUpgrade, AVersionOneLedgerIsRefusedUntilUpgradedThenKeepsEveryObjectFieldAndCount) {
  ProgramHome home;
  const std::string ledger = home.file("old.db");
  fs::copy_file(OldFixture("ledger.db"), ledger);
  const std::string path = fs::canonical(ledger).string();
  const std::string refusal =
      "失败：账套 " + path + " 的结构版本为 1，需要先运行“morvent ledger upgrade " + path + "”升级到版本 2\n";
  const std::string original = ReadFile(ledger);

  // Before: a run is refused with the command that helps, and reads nothing.
  const std::string runs[] = {
      "export --ledger " + Quote(ledger) + " --type 部门 --file " + Quote(home.file("d.xml")),
      "import --ledger " + Quote(ledger) + " --type 部门 --file " + Quote(OldFixture("export_gy/Department.xml")),
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(run);
    EXPECT_EQ(RunTool(home, run).status, 5);
    EXPECT_EQ(ReadFile(home.file("stderr.txt")), refusal);
  }
  EXPECT_FALSE(fs::exists(home.file("d.xml")));
  // A whole-ledger run says it once, not once per kind, and runs no kind.
  for (const std::string& all : {"export --all " + Quote(home.file("all")), "import --all " + Quote(OldFixture("export_gy"))}) {
    SCOPED_TRACE(all);
    EXPECT_EQ(RunTool(home, all + " --ledger " + Quote(ledger)).status, 5);
    EXPECT_EQ(ReadFile(home.file("stderr.txt")), refusal);
  }
  EXPECT_FALSE(fs::exists(home.file("all")));
  // Info still describes it, saying what it needs.
  auto info = RunTool(home, "ledger info " + Quote(ledger));
  EXPECT_EQ(info.status, 0);
  EXPECT_NE(info.out.find("\n结构版本：1（需要先运行“morvent ledger upgrade " + path + "”升级到版本 2）\n"),
            std::string::npos)
      << info.out;
  EXPECT_EQ(Counts(info.out), ReadFile(OldFixture("counts.txt")));
  EXPECT_EQ(ReadFile(ledger), original);

  auto upgrade = RunTool(home, "ledger upgrade " + Quote(ledger));
  EXPECT_EQ(upgrade.status, 0);
  EXPECT_EQ(ReadFile(home.file("stderr.txt")),
            "已升级账套 " + path + "：结构版本 1 → 2；54 个核算项目的 438 个字段值移入各自的行\n");

  // After: the whole ledger exports as the old program exported it, in
  // both field sets; the counts and every field row SQL reads are the same.
  for (const char* kind : {"GY", "QY"}) {
    SCOPED_TRACE(kind);
    const std::string out = home.file(std::string("export_") + kind);
    auto run = RunTool(home, "export --ledger " + Quote(ledger) + " --all " + Quote(out) + " --acct-type " + kind);
    ASSERT_EQ(run.status, 0) << ReadFile(home.file("stderr.txt"));
    const auto expected = Folder(OldFixture(std::string("export_") + (kind[0] == 'G' ? "gy" : "qy")));
    const auto got = Folder(out);
    ASSERT_EQ(got.size(), expected.size());
    for (const auto& [name, content] : expected) EXPECT_EQ(got.at(name), content) << name;
  }
  info = RunTool(home, "ledger info " + Quote(ledger));
  EXPECT_NE(info.out.find("\n结构版本：2\n"), std::string::npos) << info.out;
  EXPECT_EQ(Counts(info.out), ReadFile(OldFixture("counts.txt")));
  fs::copy_file(OldFixture("ledger.db"), home.file("copy.db"));
  const FieldRows before = ReadFieldRows(home.file("copy.db")), after = ReadFieldRows(ledger);
  EXPECT_EQ(before.size(), 438u);
  EXPECT_TRUE(after == before);

  // Once more: nothing to do, and no failure.
  EXPECT_EQ(RunTool(home, "ledger upgrade " + Quote(ledger)).status, 0);
  EXPECT_EQ(ReadFile(home.file("stderr.txt")), "账套 " + path + " 的结构版本已是 2，无需升级\n");
}

TEST(LedgerUpgrade, WhatCannotBeUpgradedIsRefusedAndLeftAlone) {
  ProgramHome home;
  const std::string newer = home.file("newer.db"), text = home.file("note.txt");
  ASSERT_EQ(RunTool(home, "ledger init " + Quote(newer)).status, 0);
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(newer.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "UPDATE ledger_meta SET FValue = '3' WHERE FKey = 'schema_version'", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  WriteFile(text, "不是账套");
  const std::string newerPath = fs::canonical(newer).string();
  const struct {
    std::string path, message;
  } cases[] = {
      {home.file("none.db"), "失败：账套文件不存在：" + home.file("none.db")},
      {text, "失败：不是账套文件：" + text},
      {newer, "失败：账套 " + newerPath + " 的结构版本为 3，高于本程序支持的版本 2，无法打开"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const std::string before = fs::exists(c.path) ? ReadFile(c.path) : "";
    EXPECT_EQ(RunTool(home, "ledger upgrade " + Quote(c.path)).status, 5);
    EXPECT_EQ(ReadFile(home.file("stderr.txt")), c.message + "\n");
    EXPECT_EQ(fs::exists(c.path) ? ReadFile(c.path) : "", before);
  }
}

}  // namespace
}  // namespace morvent::test
