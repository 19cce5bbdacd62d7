// What the walks claim when things go wrong: a ledger commit that fails, an
// export that cannot read its ledger or write its file, records that lack
// the key their objects are matched by, and a dry run that must leave
// nothing even when its rollback fails or it is killed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <thread>

#include "context/datafile.h"
#include "context/glfunc.h"
#include "front/exchange_log.h"
#include "front/handler.h"
#include "front/export_base.h"
#include "front/import_base.h"
#include "front/walks.h"
#include "platform/call_scope.h"
#include "platform/registry.h"
#include "store/ledger_admin.h"
#include "store/ledger_store.h"
#include "tests/support/server_fixture.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

class WalkFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureComponentsRegistered();
    ledger = home.file("l.db");
    CreateLedger(ledger);
    props = "Data Source=" + ledger + ";AcctType=QY";
    auto error = [this](const std::string& m, bool& cancel) {
      errors.push_back(m);
      cancel = false;  // every error is let pass
    };
    imp.Error = error;
    exp.Error = error;
    imp.ImportOneRow = [this](int32_t row, double, bool&) {
      rows.push_back(row);
      // Lets the quarter second pass, so the next record's end commits.
      if (pauseAfter.count(row)) std::this_thread::sleep_for(LedgerStore::kCommitInterval + std::chrono::milliseconds(30));
    };
  }
  void TearDown() override {
    LedgerStore::SetCommitFaultForTesting(nullptr);
    LedgerStore::SetRollbackFaultForTesting(nullptr);
  }

  std::string Write(const std::string& name, const std::string& element, const std::vector<DataRecordPtr>& records) {
    auto collection = std::make_shared<RecordCollection>();
    for (const auto& r : records) collection->Add(r);
    std::string path = home.file(name);
    std::string err;
    WriteDataFile(collection, path, SchemaPath("Schema" + element + ".xml"), element, err);
    return path;
  }
  std::vector<DataRecordPtr> Departments(int n) {
    std::vector<DataRecordPtr> list;
    for (int i = 1; i <= n; ++i)
      list.push_back(Rec({{"Number", "D" + std::to_string(i)}, {"Name", "部门" + std::to_string(i)}, {"Note", "备注"}}));
    return list;
  }
  int64_t StoredDepartments() { return OutsideCount(ledger, "SELECT count(*) FROM t_Item WHERE FItemClassID = 2"); }

  ProgramHome home;
  std::string ledger, props;
  ImportBase imp;
  ExportBase exp;
  std::vector<std::string> errors;
  std::vector<int32_t> rows;
  std::set<int32_t> pauseAfter;
};

TEST_F(WalkFaults, AFailedCommitEndsTheImportWithOneErrorAndFalseWhateverTheClientAnswers) {
  struct Case {
    const char* name;
    std::vector<DataRecordPtr> records;
    std::set<int32_t> pauseAfter;
    int failingCommit;  // 1-based
    int64_t stored;
    std::vector<int32_t> rows;
    std::vector<std::string> errors;
    ImportCounts counts;  // what was lost with the commit counts as failed
    int32_t style = 0;    // 2: the records are there already and overwritten
  };
  auto blank = Rec({{"Number", " "}, {"Name", "无码"}});
  auto five = Departments(5);
  std::vector<DataRecordPtr> withBlank{five[0], five[1], blank, five[2], five[3]};
  const std::vector<Case> cases = {
      {"call end", Departments(5), {}, 1, 0, {1, 2, 3, 4, 5},
       {"账套不能写入：磁盘已满（database or disk is full）；此前已保存 0 条记录。"}, {.failed = 5}},
      {"grouped, between records", Departments(6), {2, 4}, 2, 3, {1, 2, 3, 4},
       {LostWriteMessage("磁盘已满（database or disk is full）", 3)}, {.created = 3, .failed = 2}},
      {"before the client hears of another error", withBlank, {}, 1, 0, {1, 2},
       {"引入部门资料错误，当前记录名称为：无码\r错误信息：\r代码不能为空",
        LostWriteMessage("磁盘已满（database or disk is full）", 0)}, {.failed = 3}},
      {"overwriting, between records", Departments(6), {2, 4}, 2, 6, {1, 2, 3, 4},
       {LostWriteMessage("磁盘已满（database or disk is full）", 3)}, {.overwritten = 3, .failed = 2}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string l = home.file(std::string("c") + std::to_string(&c - &cases[0]) + ".db");
    CreateLedger(l);
    std::string file = Write("d.xml", "Department", c.records);
    if (c.style == 2) ASSERT_TRUE(imp.ImportXMLData("Data Source=" + l + ";AcctType=QY", 120, file));
    int commits = 0;
    LedgerStore::SetCommitFaultForTesting([&, fail = c.failingCommit] { return ++commits == fail; });
    errors.clear();
    rows.clear();
    pauseAfter = c.pauseAfter;
    auto style = Rec({{"ImpStyle", c.style}});
    EXPECT_FALSE(imp.ImportXMLData("Data Source=" + l + ";AcctType=QY", 120, file, style.get()));
    LedgerStore::SetCommitFaultForTesting(nullptr);
    EXPECT_EQ(rows, c.rows);
    EXPECT_EQ(errors, c.errors);
    EXPECT_EQ(imp.LastCounts(), c.counts);
    // Exactly the records reported as stored are in the file, and whole.
    int64_t stored = OutsideCount(l, "SELECT count(*) FROM t_Item WHERE FItemClassID = 2");
    EXPECT_EQ(stored, c.stored);
    EXPECT_EQ(OutsideCount(l, "SELECT count(*) FROM t_Item i JOIN t_ItemValue v USING (FItemID) "
                         "WHERE i.FItemClassID = 2 AND v.FField = 'FNote' AND v.FValue = '备注'"),
              stored);
    auto log = ReadLogEntries(home.file(kLogFileName));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().message, c.errors.back());
  }
}

// A real full disk: the child may not grow any file past a quarter megabyte,
// so the ledger's journal runs out of room part way through the import.
TEST_F(WalkFaults, AFullDiskEndsTheImportWithOneErrorAndOnlyWholeRecords) {
  const std::string file = Write("many.xml", "Department", Departments(5000));
  const std::string messages = InChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{256 * 1024, 256 * 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::string joined = imp.ImportXMLData(props, 120, file) ? "the import answered True\n" : "";
    for (const auto& e : errors) joined += e + "\n";
    return joined;
  });
  const int64_t stored = StoredDepartments();
  EXPECT_LT(stored, 5000);
  // The system refuses with EFBIG, which SQLite reports as a write error:
  // the message names the limit.
  EXPECT_EQ(messages, LostWriteMessage("账套文件已达到系统允许的大小上限（File too large）", stored) + "\n");
  EXPECT_EQ(OutsideCount(ledger, "SELECT count(*) FROM t_Item i WHERE FItemClassID = 2 AND NOT EXISTS (SELECT 1 FROM "
                            "t_ItemValue v WHERE v.FItemID = i.FItemID AND v.FField = 'FNote')"),
            0);
}

TEST_F(WalkFaults, WalksThatCannotOpenTheirLedgerStopWithFalseAndWriteNothing) {
  struct Case {
    int32_t code;
    const char* prefix;
  };
  const std::string missing = home.file("gone.db");
  const std::string target = home.file("keep.xml");
  home.boxes().answer = true;  // overwrite allowed
  for (const Case& c : {Case{120, "导出部门资料出错，当前记录名称为："}, Case{103, "导出币别资料出错，当前记录名称为："},
                        Case{107, "导出结算方式资料出错，当前记录名称为："}}) {
    SCOPED_TRACE(c.code);
    WriteFile(target, "good old file");
    errors.clear();
    EXPECT_FALSE(exp.ExportXMLData("Data Source=" + missing, c.code, target));
    EXPECT_EQ(errors, std::vector<std::string>{std::string(c.prefix) + "\r错误信息：\r账套文件不存在：" + missing});
    EXPECT_EQ(ReadFile(target), "good old file");
  }
  // An import without its ledger stops at once instead of failing each record.
  errors.clear();
  EXPECT_FALSE(imp.ImportXMLData("Data Source=" + missing, 120, Write("two.xml", "Department", Departments(2))));
  EXPECT_EQ(errors, std::vector<std::string>{"引入部门资料错误，当前记录名称为：\r错误信息：\r账套文件不存在：" + missing});
}

// A writer that fails as a full disk would, after touching nothing.
class FailingWriter : public DataFileWriter {
 public:
  void OutputXML(RecordCollectionPtr&, const std::string& dataFile, const std::string&, const std::string&,
                 std::string& errorText) override {
    errorText = "写数据文件 " + dataFile + " 出错：No space left on device";
    throw Error(kErrDataFile, "XMLPellam.Write", errorText);
  }
};

TEST_F(WalkFaults, ExportWhoseFileCouldNotBeWrittenAnswersFalse) {
  ASSERT_TRUE(imp.ImportXMLData(props, 120, Write("in.xml", "Department", Departments(2))));
  ScopedFactory writer(kWriterProgId, [] { return std::make_shared<FailingWriter>(); });
  const std::string target = home.file("out.xml");
  errors.clear();
  EXPECT_FALSE(exp.ExportXMLData(props, 120, target));
  EXPECT_EQ(errors, std::vector<std::string>{"导出部门资料出错，当前记录名称为：\r错误信息：\r写数据文件 " + target +
                                             " 出错：No space left on device"});
}

// Groups of records from a walk that collects: the second group fails after
// adding its first record.
class GroupWalk : public EntityHandler {
 public:
  struct Group : LedgerObject {
    Variant Get(const std::string&) const override { return "组"; }
    void Let(const std::string&, const Variant&) override {}
    Variant Properties(const std::string&) const override { return Variant(); }
    void SetProperties(const std::string&, const Variant&) override {}
    std::shared_ptr<DataRecord> Dictionary() override { return nullptr; }
    Variant Call(const std::string&, const std::vector<Variant>&, const NamedArgs&) override { return Variant(); }
    void SaveChanges() override {}
  };
  bool Export(const std::string&, const std::string& sFile) override {
    int k = 0;
    return RunExportWalk({.schemaFile = "SchemaMeasureUnit.xml",
                          .element = "MeasureUnit",
                          .errorPrefix = "坏：",
                          .open = [] {},
                          .count = [] { return 2; },
                          .next = [&]() -> LedgerObjectPtr { return ++k <= 2 ? std::make_shared<Group>() : nullptr; },
                          .collect =
                              [&](LedgerObject&, RecordCollection& c) {
                                c.Add(Rec({{"Name", std::to_string(k) + "-1"}}));
                                if (k == 2) throw Error(kErrLedger, "Fake", "读不出");
                                c.Add(Rec({{"Name", std::to_string(k) + "-2"}}));
                              }},
                         sFile);
  }
  bool Import(const std::string&) override { return false; }
};

// What a failing group collected before it failed still reaches the file
// when the client lets the error pass.
TEST_F(WalkFaults, AFailingGroupKeepsWhatItCollected) {
  GroupWalk walk;
  walk.events.ExpErr = [this](const std::string& m, bool& cancel) {
    errors.push_back(m);
    cancel = false;
  };
  const std::string target = home.file("groups.xml");
  EXPECT_TRUE(walk.Export(props, target));
  EXPECT_EQ(errors, std::vector<std::string>{"坏：组\r错误信息：\r读不出"});
  const std::string text = ReadFile(target);
  for (const char* name : {"<Name>1-1</Name>", "<Name>1-2</Name>", "<Name>2-1</Name>"})
    EXPECT_NE(text.find(name), std::string::npos) << name;
  EXPECT_EQ(text.find("2-2"), std::string::npos);
}

TEST_F(WalkFaults, RecordsWithoutTheirKeyFailAndStoreNothing) {
  struct Kind {
    int32_t code;
    const char* element;
    const char* prefix;
    const char* count;
  };
  const std::vector<std::optional<Variant>> blanks = {Variant(""), Variant("   "), Variant("\t"), Variant("　"),
                                                      Variant::Null(), std::nullopt};
  for (const Kind& k : {Kind{120, "Department", "引入部门资料错误，当前记录名称为：",
                             "SELECT count(*) FROM t_Item WHERE FItemClassID = 2"},
                        Kind{103, "Currency", "引入币别资料错误，当前记录名称为：", "SELECT count(*) FROM t_Currency"},
                        Kind{107, "Settle", "引入结算方式错误，当前记录名称为：", "SELECT count(*) FROM t_SettleType"}}) {
    SCOPED_TRACE(k.element);
    std::vector<DataRecordPtr> records{Rec({{"Number", "01"}, {"Name", "甲"}})};
    std::vector<std::string> expected;
    for (size_t i = 0; i < blanks.size(); ++i) {
      std::string name = "坏" + std::to_string(i);
      auto r = Rec({{"Name", name}});
      if (blanks[i]) r->SetValue("Number", *blanks[i]);
      records.push_back(r);
      expected.push_back(k.prefix + name + "\r错误信息：\r代码不能为空");
    }
    records.push_back(Rec({{"Number", "02"}, {"Name", "乙"}}));
    errors.clear();
    EXPECT_TRUE(imp.ImportXMLData(props, k.code, Write("k.xml", k.element, records)));
    EXPECT_EQ(errors, expected);
    EXPECT_EQ(OutsideCount(ledger, k.count), 2);
  }
}

// A parent the file gives after its child is imported ahead, within the
// child's record: each record walked counts once, by its own first choice.
TEST_F(WalkFaults, RecordsImportedAheadCountByTheirFirstChoice) {
  const std::string file = Write(
      "ahead.xml", "Department",
      {Rec({{"Number", "D1.1"}, {"Name", "一部"}, {"Note", ""}, {"DeptGroup", Rec({{"Name", "总部"}, {"Number", "D1"}})}}),
       Rec({{"Number", "D1"}, {"Name", "总部"}, {"Note", ""}}), Rec({{"Number", "D2"}, {"Name", "二部"}, {"Note", ""}})});
  struct Case {
    int32_t style;
    ImportCounts counts;
  };
  for (const Case& c : {Case{1, {.created = 2}}, Case{1, {.kept = 2}}, Case{2, {.overwritten = 2}}}) {
    auto dict = Rec({{"ImpStyle", c.style}});
    ASSERT_TRUE(imp.ImportXMLData(props, 120, file, dict.get()));
    EXPECT_EQ(imp.LastCounts(), c.counts);
  }
  EXPECT_EQ(StoredDepartments(), 3);
  EXPECT_TRUE(errors.empty());
}

TEST(MatchKey, KindsMatchedByNameAskForTheName) {
  EXPECT_EQ(ErrorOf([] { CheckMatchKey(*Rec({{"Name", " 　"}, {"Number", "7"}}), "Name"); }), "名称不能为空");
  EXPECT_EQ(ErrorOf([] { CheckMatchKey(*Rec({{"Name", "x"}}), "Name"); }), "");
  EXPECT_EQ(ErrorOf([] { CheckMatchKey(DataRecord(), ""); }), "");
}

// Both ways of asking for a dry run: the object around several calls, and
// the option of one call.
TEST_F(WalkFaults, ADryRunSeesItsOwnWorkAndLeavesNothing) {
  const std::string file = Write("d.xml", "Department", Departments(4));
  auto dict = Rec({{"DryRun", true}});
  {
    DryRun dry;
    ASSERT_TRUE(imp.ImportXMLData(props, 120, file));
    EXPECT_EQ(imp.LastCounts(), ImportCounts{.created = 4});
    // The next call (its option joins the open dry run) finds the first's.
    ASSERT_TRUE(imp.ImportXMLData(props, 120, file, dict.get()));
    EXPECT_EQ(imp.LastCounts(), ImportCounts{.kept = 4});
    ASSERT_TRUE(exp.ExportXMLData(props, 120, home.file("seen.xml")));
    EXPECT_NE(ReadFile(home.file("seen.xml")).find("<Number>D4</Number>"), std::string::npos);
    EXPECT_EQ(StoredDepartments(), 0);
    dry.Finish();
  }
  EXPECT_EQ(StoredDepartments(), 0);
  ASSERT_TRUE(imp.ImportXMLData(props, 120, file, dict.get()));
  EXPECT_EQ(imp.LastCounts(), ImportCounts{.created = 4});
  EXPECT_EQ(StoredDepartments(), 0);
  EXPECT_TRUE(errors.empty());
  // The ledger is free again: a real run stores.
  ASSERT_TRUE(imp.ImportXMLData(props, 120, file));
  EXPECT_EQ(StoredDepartments(), 4);
}

TEST_F(WalkFaults, ARollbackThatFailsIsReportedAndItsWorkIsNeverCommitted) {
  const std::string file = Write("d.xml", "Department", Departments(3));
  const std::string message = "预演的改动未能撤销：读写磁盘出错（disk I/O error）";
  LedgerStore::SetRollbackFaultForTesting([] { return true; });
  auto dict = Rec({{"DryRun", true}});
  EXPECT_FALSE(imp.ImportXMLData(props, 120, file, dict.get()));
  EXPECT_EQ(errors, std::vector<std::string>{message});
  EXPECT_EQ(ReadLogEntries(home.file(kLogFileName)).back().message, message);
  EXPECT_EQ(StoredDepartments(), 0);
  // The connection outlives the dry run here: its later work must not
  // join the leftover transaction, whose end would commit both.
  auto store = LedgerStore::ForProps(props);
  {
    DryRun dry;
    ASSERT_TRUE(imp.ImportXMLData(props, 120, file));
    EXPECT_EQ(ErrorOf([&] { dry.Finish(); }), message);
  }
  EXPECT_EQ(StoredDepartments(), 0);
  LedgerStore::SetRollbackFaultForTesting(nullptr);
  ASSERT_TRUE(imp.ImportXMLData(props, 120, Write("one.xml", "Department", Departments(1))));
  EXPECT_EQ(imp.LastCounts(), ImportCounts{.created = 1});
  EXPECT_EQ(StoredDepartments(), 1);
}

TEST_F(WalkFaults, ADryRunKilledHalfWayLeavesNothing) {
  const std::string file = Write("d.xml", "Department", Departments(50));
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Past a quarter second, when a real run would have committed.
    imp.ImportOneRow = [](int32_t row, double, bool&) {
      if (row == 10) std::this_thread::sleep_for(LedgerStore::kCommitInterval + std::chrono::milliseconds(30));
      if (row == 20) kill(getpid(), SIGKILL);
    };
    DryRun dry;
    imp.ImportXMLData(props, 120, file);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(StoredDepartments(), 0);
  ASSERT_TRUE(imp.ImportXMLData(props, 120, file));
  EXPECT_EQ(StoredDepartments(), 50);
}

}  // namespace
}  // namespace morvent::test
