// Assist-data types (121) and entries (122) through the public classes:
// golden round trips, matching on import, error paths, progress texts.
#include "context/glfunc.h"
#include "items/assist_detail.h"
#include "items/assist_type.h"
#include "platform/registry.h"
#include "store/ledger_admin.h"
#include "store/ledger_store.h"
#include "tests/handlers/fixture.h"

namespace morvent::test {
namespace {

std::string AssistFixture(const std::string& name) { return FixtureDir() + "/assist/" + name; }

DataRecordPtr TypeRec(const std::string& name) { return Rec({{"Name", name}, {"Number", "0"}}); }
DataRecordPtr EntryRec(const std::string& type, const std::string& number, const std::string& name,
                       const std::string& typeNumber = "0") {
  return Rec({{"Name", name}, {"Number", number}, {"AssistType", Rec({{"Name", type}, {"Number", typeNumber}})}});
}

const std::string kLong31 = "一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十甲";

class AssistExchangeTest : public RecordsTest {
 protected:
  std::vector<std::string> TypeNames() {
    std::vector<std::string> out;
    for (const auto& t : Objects(ledger, kSubMesTypeSet, 0)) out.push_back(t->Name());
    return out;
  }
  // Entries as "type/number/name", in the ledger's order.
  std::vector<std::string> Entries() {
    std::map<int32_t, std::string> types;
    for (const auto& t : Objects(ledger, kSubMesTypeSet, 0)) types[t->Get("TypeID").ToLong()] = t->Name();
    std::vector<std::string> out;
    for (const auto& e : Objects(ledger, kSubMesSet, 1))
      out.push_back(types[e->Get("TypeID").ToLong()] + "/" + e->Number() + "/" + e->Name());
    return out;
  }
};

TEST_F(AssistExchangeTest, FilesRoundTripThroughANewLedger) {
  std::string demo = DemoLedger();
  const struct {
    int32_t code;
    const char* in;      // imported into a new ledger first; nullptr: the demo ledger
    const char* golden;  // the first export; nullptr: not compared
  } cases[] = {{121, "types_in.xml", "types.xml"}, {122, "details_in.xml", "details.xml"}, {121, nullptr, nullptr},
               {122, nullptr, nullptr}};
  int n = 0;
  for (const auto& c : cases) {
    const std::string tag = "rt" + std::to_string(++n);
    SCOPED_TRACE(tag);
    std::string source = c.in ? Seeded(NewLedger(tag + ".db"), c.code, AssistFixture(c.in)) : demo;
    auto [first, second] = RoundTrip(source, c.code, tag);
    if (c.golden) EXPECT_EQ(first, ReadFile(AssistFixture(c.golden)));
    EXPECT_EQ(second, first);
  }
}

TEST_F(AssistExchangeTest, TypesBeyondTheMatchWidthAreMetAgainByTheirWholeName) {
  const std::string first30 = LeftChars(kLong31, 30);
  const struct {
    std::vector<std::string> stored;  // stored first
    std::string record;               // then imported twice
    int imp;
    std::vector<std::string> after;   // the types besides the standard ones
  } cases[] = {
      {{}, kLong31, 1, {kLong31}},
      {{}, kLong31, 2, {kLong31}},
      {{first30}, kLong31, 1, {first30}},   // the cut key still matches as before
      {{first30}, kLong31, 2, {kLong31}},   // and the overwrite writes the whole name
      {{first30, kLong31}, kLong31, 2, {first30, kLong31}},  // the whole name goes first
      {{"Region"}, "region", 1, {"Region", "region"}},
      {{"区域 "}, "区域", 1, {"区域 "}},    // the standard type, not the blank-ended one
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(++n);
    ledger = NewLedger("long" + std::to_string(n) + ".db");
    const auto standard = TypeNames();
    for (const auto& s : c.stored) {
      auto t = CreateObjectAs<ObjectSet>(kSubMesTypeSet)->CreateNew({}, {});
      t->Let("Name", s);
      t->SaveChanges();
    }
    ASSERT_TRUE(Run(121, {TypeRec(c.record)}, c.imp).result);
    ASSERT_TRUE(Run(121, {TypeRec(c.record)}, c.imp).result);
    auto expected = standard;
    expected.insert(expected.end(), c.after.begin(), c.after.end());
    EXPECT_EQ(TypeNames(), expected);
  }
  // An entry's long type name is met again too.
  ASSERT_TRUE(Run(122, {EntryRec(kLong31, "01", "甲")}, 1).result);
  ASSERT_TRUE(Run(122, {EntryRec(kLong31, "01", "甲")}, 1).result);
  auto entries = Entries();
  EXPECT_EQ(std::count(entries.begin(), entries.end(), kLong31 + "/01/甲"), 1);
}

TEST_F(AssistExchangeTest, EntriesMatchByCutNumberWithinTheTypeNamedInTheFile) {
  const std::string long34 = "0102030405060708091011121314151617";
  ASSERT_TRUE(Run(122, {EntryRec("区域", "01", "华南", "999"), EntryRec("行业", "01", "制造业"),
                        EntryRec("客户等级", long34, "甲级")},
                  1).result);
  ASSERT_TRUE(Run(122, {EntryRec("区域", "01", "华南（旧）"), EntryRec("客户等级", LeftChars(long34, 30), "乙级")}, 1)
                  .result);
  ASSERT_TRUE(Run(122, {EntryRec("行业", "01", "工业"), EntryRec("行业", "01", "重工业")}, 2).result);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"性别/01/男", "性别/02/女", "区域/01/华南", "行业/01/重工业",
                                                  "客户等级/" + LeftChars(long34, 30) + "/甲级"}));
  const auto types = TypeNames();
  EXPECT_EQ(std::count(types.begin(), types.end(), "客户等级"), 1) << "made once, then met by name";
}

TEST_F(AssistExchangeTest, FailedRecordsAreReportedAndTheRestImported) {
  const struct {
    int32_t code;
    DataRecordPtr bad;
    int imp;
    std::string message;
  } cases[] = {
      {121, TypeRec("区域"), 5, "引入辅助资料类别错误，当前记录名称为：区域\r错误信息：\r对象变量未设置"},
      {122, Rec({{"Name", "华南"}, {"Number", "01"}}), 1, "引入辅助资料错误，当前记录名称为：华南\r错误信息：\r对象变量未设置"},
      // An existing type under ImpStyle 5 fails before its entry is looked at.
      {122, EntryRec("性别", "01", "男性"), 5, "引入辅助资料错误，当前记录名称为：男性\r错误信息：\r对象变量未设置"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(++n);
    ledger = NewLedger("err" + std::to_string(n) + ".db");
    const auto good = c.code == 121 ? TypeRec("好类别") : EntryRec("好类别", "09", "好");
    const int logged = LogEntries();
    RunResult run = Run(c.code, {c.bad, good}, c.imp, 1, Client{.letErrorsPass = true});
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.errors, std::vector<std::string>{c.message});
    EXPECT_EQ(run.rows.size(), 2u);
    EXPECT_EQ(c.code == 121 ? TypeNames().back() : Entries().back(), c.code == 121 ? "好类别" : "好类别/09/好");
    EXPECT_EQ(LogEntries(), logged + 1);
    run = Run(c.code, {c.bad}, c.imp);
    EXPECT_FALSE(run.result);
    EXPECT_TRUE(run.rows.empty());
  }
}

TEST_F(AssistExchangeTest, FailedWritesAreReportedAndLeaveNothingBehind) {
  // The ledger's type IDs are used up: the next new type cannot be stored.
  Bind(ledger);
  {
    // Stored with an ID of its own, as the ledger's seeds are: new IDs follow.
    auto store = LedgerStore::ForProps(Props(ledger));
    store->Exec("INSERT INTO t_SubMesType (FTypeID, FName) VALUES (32767, '满')");
    store->SettleSequences();
  }
  const std::string full = "辅助资料类别的编号已用尽（上限 32767），不能再新增";
  const auto types = TypeNames();
  const auto entries = Entries();
  RunResult run = Run(121, {TypeRec("新类别")}, 1);
  EXPECT_FALSE(run.result);
  EXPECT_EQ(run.errors, std::vector<std::string>{"引入辅助资料类别错误，当前记录名称为：新类别\r错误信息：\r" + full});
  run = Run(122, {EntryRec("新类别", "01", "甲")}, 1);
  EXPECT_FALSE(run.result);
  EXPECT_EQ(run.errors, std::vector<std::string>{"引入辅助资料错误，当前记录名称为：甲\r错误信息：\r" + full});
  EXPECT_EQ(TypeNames(), types);
  EXPECT_EQ(Entries(), entries);

  // Exports that fail before any type is current, or after the last.
  const std::string target = home.file("missing/out.xml");
  const std::string unwritable = "写数据文件 " + target + " 出错：无法在 " + home.file("missing") +
                                 " 中建立临时文件：No such file or directory";
  const struct {
    int32_t code;
    const char* broken;  // a set that cannot be created, or none
    std::string message;
  } exports[] = {
      {121, nullptr, "导出辅助资料类别出错，当前类别名称为：\r错误信息：\r" + unwritable},
      {122, nullptr, "导出辅助资料出错，当前类别名称为：\r错误信息：\r" + unwritable},
      {121, kSubMesTypeSet, "导出辅助资料类别出错，当前类别名称为：\r错误信息：\r部件不能创建对象：Corabin.SubMesTypeSet"},
      {122, kSubMesSet, "导出辅助资料出错，当前类别名称为：\r错误信息：\r部件不能创建对象：Corabin.SubMesSet"},
  };
  for (const auto& e : exports) {
    std::optional<ScopedFactory> broken;
    if (e.broken) broken.emplace(e.broken, nullptr);
    run = Export(ledger, e.code, target);
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.errors, std::vector<std::string>{e.message});
    EXPECT_FALSE(FileExist(target));
  }
}

TEST_F(AssistExchangeTest, ProgressNamesTheTypeOnExportAndTheNumberOnEntryImport) {
  Bind(ledger);
  const std::string types = home.file("t.xml"), entries = home.file("e.xml");
  const auto typeCount = static_cast<int32_t>(TypeNames().size());
  CAssistType t;
  CAssistDetail d;
  std::vector<std::string> messages;
  std::vector<int32_t> rows;
  auto row = [&](int32_t r, double, const std::string& m, bool&) {
    rows.push_back(r);
    messages.push_back(m);
  };
  t.events = {row, nullptr, row, nullptr};
  d.events = {row, nullptr, row, nullptr};
  const struct {
    std::function<bool()> run;
    int32_t rows;
    const char* first;
  } cases[] = {
      {[&] { return t.Export("", types); }, typeCount, "正在导出辅助资料类别，当前记录名称为：区域"},
      {[&] { return d.Export("", entries); }, typeCount, "正在导出辅助资料，当前类别名称为：区域"},
      {[&] { return t.Import(types); }, typeCount, "引入辅助资料类别，当前记录名称为区域"},
      {[&] { return d.Import(WriteRecords("one.xml", "AssistDetail", {EntryRec("区域", "07", "华中")})); }, 1,
       "引入辅助资料，代码为07"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    messages.clear();
    rows.clear();
    EXPECT_TRUE(c.run());
    ASSERT_EQ(static_cast<int32_t>(rows.size()), c.rows);
    EXPECT_EQ(rows.back(), c.rows);
    EXPECT_EQ(messages.front(), c.first);
  }
}

}  // namespace
}  // namespace morvent::test
