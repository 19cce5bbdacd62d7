// Measure-unit groups (105) and units (106) through the public classes:
// golden round trips, the two-pass import of default units, matching,
// failed records, and the lookups accounts and materials use.
#include "context/glfunc.h"
#include "front/walks.h"
#include "platform/registry.h"
#include "store/ledger_admin.h"
#include "store/ledger_store.h"
#include "tests/handlers/fixture.h"
#include "units/measure_unit.h"
#include "units/unit_group.h"

namespace morvent::test {
namespace {

std::string UnitsFixture(const std::string& name) { return FixtureDir() + "/units/" + name; }

DataRecordPtr GroupRec(const std::string& name) { return Rec({{"Name", name}, {"Number", "9"}}); }
// A unit record; coefficient and standard left out when empty.
DataRecordPtr UnitRec(const std::string& group, const std::string& name, const std::string& number,
                      const std::string& coefficient = "", const std::string& standard = "") {
  auto r = Rec({{"Name", name}, {"Number", number}});
  if (!coefficient.empty()) r->SetValue("Coefficient", coefficient);
  if (!standard.empty()) r->SetValue("Standard", standard);
  r->SetValue("MeasureUnitGroup", GroupRec(group));
  return r;
}

// The ledger's group set, except that one group cannot be fetched by ID.
class GroupSetHiding : public ObjectSet {
 public:
  GroupSetHiding(ObjectSetPtr inner, int32_t hidden) : inner_(std::move(inner)), hidden_(hidden) {}
  void SetListOptions(int16_t o) override { inner_->SetListOptions(o); }
  void SetRestriction(const std::string& n, const Variant& v) override { inner_->SetRestriction(n, v); }
  void Refresh() override { inner_->Refresh(); }
  int32_t Count() override { return inner_->Count(); }
  std::unique_ptr<ObjectCursor> Enumerate() override { return inner_->Enumerate(); }
  LedgerObjectPtr GetNext() override { return inner_->GetNext(); }
  LedgerObjectPtr Item(int32_t id, const std::optional<Variant>& second) override {
    return id == hidden_ ? nullptr : inner_->Item(id, second);
  }
  LedgerObjectPtr GetUnit(int32_t id) override { return inner_->GetUnit(id); }
  int32_t ExistenceCheck(const NamedArgs& named) override { return inner_->ExistenceCheck(named); }
  LedgerObjectPtr CreateNew(const std::vector<Variant>& a, const NamedArgs& n) override { return inner_->CreateNew(a, n); }

 private:
  ObjectSetPtr inner_;
  int32_t hidden_;
};

class UnitExchangeTest : public RecordsTest {
 protected:
  std::vector<std::string> Groups() {
    std::vector<std::string> out;
    for (const auto& g : Objects(ledger, kMeasureUnitGroupSet, 0)) out.push_back(g->Name());
    return out;
  }
  // Units in the ledger's (ID) order as "group/name/number/coefficient",
  // "*" marking a group's default unit.
  std::vector<std::string> Units() {
    std::map<int32_t, std::pair<std::string, int32_t>> groups;
    for (const auto& g : Objects(ledger, kMeasureUnitGroupSet, 0))
      groups[g->Get("GroupID").ToLong()] = {g->Name(), g->Get("DefaultUnitID").ToLong()};
    std::vector<std::string> out;
    for (const auto& u : Objects(ledger, kMeasureUnitSet, 0)) {
      const auto& [group, standard] = groups[u->Get("UnitGroupID").ToLong()];
      out.push_back(group + "/" + u->Name() + "/" + TextOf(u->Get("Number")) + "/" + TextOf(u->Get("Coefficient")) +
                    (standard == u->Get("MeasureUnitID").ToLong() ? "*" : ""));
    }
    return out;
  }
};

TEST_F(UnitExchangeTest, FilesRoundTripThroughANewLedger) {
  std::string demo = DemoLedger();
  const struct {
    int32_t code;
    const char* in;      // imported into a new ledger first; nullptr: the demo ledger
    const char* golden;  // the first export
  } cases[] = {{105, nullptr, "groups.xml"}, {106, nullptr, "units.xml"}, {106, "units_in.xml", "units_in_out.xml"}};
  int n = 0;
  for (const auto& c : cases) {
    const std::string tag = "rt" + std::to_string(++n);
    SCOPED_TRACE(tag);
    std::string source = c.in ? Seeded(NewLedger(tag + ".db"), c.code, UnitsFixture(c.in)) : demo;
    auto [first, second] = RoundTrip(source, c.code, tag);
    EXPECT_EQ(first, ReadFile(UnitsFixture(c.golden)));
    // "AuxClass" is exported only. The import stores each group's default
    // unit first, so files round-trip exactly when defaults lead their group.
    EXPECT_EQ(WithoutElement(second, "AuxClass"), WithoutElement(first, "AuxClass"));
  }
}

TEST_F(UnitExchangeTest, DefaultUnitsComeFirstAndUnitsMatchWithinTheirGroup) {
  const struct {
    std::vector<DataRecordPtr> stored;  // imported first, ImpStyle 1
    std::vector<DataRecordPtr> file;
    int imp;
    std::vector<std::string> units;
  } cases[] = {
      // The default placed last is created first and made the default.
      {{},
       {UnitRec("重量", "克", "G", "0.001", "0"), UnitRec("重量", "千克", "KG", "1", "1")},
       1,
       {"重量/千克/KG/1*", "重量/克/G/0.001"}},
      // The same name in another group is another unit; a missing group is made.
      {{UnitRec("数量", "个", "PCS", "1", "1")},
       {UnitRec("包装", "个", "GE"), UnitRec("数量", "个", "X", "5")},
       1,
       {"数量/个/PCS/1*", "包装/个/GE/1"}},
      // Kept as stored, default included.
      {{UnitRec("重量", "千克", "KG", "1", "1"), UnitRec("重量", "克", "G", "0.001")},
       {UnitRec("重量", "克", "G2", "2", "1")},
       1,
       {"重量/千克/KG/1*", "重量/克/G/0.001"}},
      // Overwritten; the default moves; an absent coefficient is 1.
      {{UnitRec("重量", "千克", "KG", "1", "1"), UnitRec("重量", "克", "G", "0.001")},
       {UnitRec("重量", "克", "G2", "", "1"), UnitRec("重量", "千克", "KG2", "1000")},
       2,
       {"重量/千克/KG2/1000", "重量/克/G2/1*"}},
      // A name beyond 80 characters is cut before it is matched.
      {{UnitRec("长度", std::string(80, 'm'), "M", "1", "1")},
       {UnitRec("长度", std::string(80, 'm') + "x", "M2", "3")},
       2,
       {"长度/" + std::string(80, 'm') + "/M2/3*"}},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(++n);
    ledger = NewLedger("match" + std::to_string(n) + ".db");
    if (!c.stored.empty()) ASSERT_TRUE(Run(106, c.stored, 1).result);
    RunResult run = Run(106, c.file, c.imp);
    EXPECT_TRUE(run.result);
    EXPECT_TRUE(run.errors.empty()) << run.errors.front();
    EXPECT_EQ(run.rows.size(), c.file.size()) << "the first pass raises no progress";
    EXPECT_EQ(Units(), c.units);
  }
  // Groups are matched by name, their file numbers never read.
  ASSERT_TRUE(Run(105, {GroupRec("长度"), GroupRec("体积"), GroupRec("体积")}, 2).result);
  EXPECT_EQ(Groups(), (std::vector<std::string>{"长度", "体积"}));
}

TEST_F(UnitExchangeTest, FailedUnitsAreReportedOnceAndStoreNothing) {
  if (onServer) GTEST_SKIP() << "a trigger of another program is written in the file engine's dialect";
  ASSERT_TRUE(Run(106, {UnitRec("数量", "个", "PCS", "1", "1")}, 1).result);
  auto noGroup = Rec({{"Name", "台"}, {"Number", "TAI"}});
  const std::string prefix = "引入计量单位资料错误，当前记录名称为：";
  const struct {
    DataRecordPtr bad;
    int imp;
    std::string message;
  } cases[] = {
      {noGroup, 1, prefix + "台\r错误信息：\r对象变量未设置"},
      {UnitRec("新组", "吨", "T", "很多", "1"), 1, prefix + "吨\r错误信息：\r类型不匹配"},
      {UnitRec("新组", "  ", "T"), 1, prefix + "  \r错误信息：\r名称不能为空"},
      {UnitRec("新组", "吨", "T", "1", "是"), 1, prefix + "吨\r错误信息：\r类型不匹配"},
  };
  const auto before = Units();
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(++n);
    const int logged = LogEntries();
    RunResult run = Run(106, {c.bad, UnitRec("数量", "双", "SHUANG")}, c.imp, 1, Client{.letErrorsPass = true});
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.errors, std::vector<std::string>{c.message});
    EXPECT_EQ(run.rows.size(), 2u);
    EXPECT_EQ(LogEntries(), logged + 1);
    EXPECT_EQ(Groups(), (std::vector<std::string>{"数量"})) << "no group made for a unit that failed";
    run = Run(106, {c.bad}, c.imp);
    EXPECT_FALSE(run.result);
    EXPECT_TRUE(run.rows.empty());
  }
  auto after = before;
  after.push_back("数量/双/SHUANG/1");
  EXPECT_EQ(Units(), after);

  // A default unit refused after its group was made (here by another
  // program's trigger) takes the group with it, in both passes.
  LedgerStore::ForProps(Props(ledger))
      ->Exec("CREATE TRIGGER no_ton BEFORE INSERT ON t_MeasureUnit WHEN NEW.FName = '吨' "
             "BEGIN SELECT RAISE(ABORT, '不收吨'); END");
  RunResult refused = Run(106, {UnitRec("新组", "吨", "T", "1", "1")}, 1, 1, Client{.letErrorsPass = true});
  EXPECT_TRUE(refused.result);
  EXPECT_EQ(refused.errors, std::vector<std::string>{prefix + "吨\r错误信息：\r账套操作失败：不收吨"});
  EXPECT_EQ(Groups(), (std::vector<std::string>{"数量"}));
  EXPECT_EQ(Units(), after);

  // A blank group name fails the group import in its own right.
  RunResult run = Run(105, {GroupRec(" ")}, 1);
  EXPECT_EQ(run.errors, std::vector<std::string>{"引入计量单位组错误，当前记录名称为： \r错误信息：\r名称不能为空"});
}

TEST_F(UnitExchangeTest, LookupsFindAnyUnitAndGetIdAnswersZeroForAFailure) {
  ASSERT_TRUE(Run(106, {UnitRec("数量", "个", "PCS", "1", "1"), UnitRec("重量", "克", "G", "0.001")}, 1).result);
  Bind(ledger);
  CMeasureUnit units;
  CMeasureUnitGroup groups;
  const int32_t gram = units.GetID(*UnitRec("重量", "克", "other"));
  ASSERT_GT(gram, 0);
  EXPECT_TRUE(units.CheckID(gram));
  EXPECT_FALSE(units.CheckID(gram + 100));
  auto info = units.GetInfo(gram);
  EXPECT_EQ(info->Value("Number").ToText(), "G") << "ImpStyle 1 kept the unit";
  EXPECT_EQ(info->Value("Standard").ToText(), "0");
  const int32_t weight = info->Record("MeasureUnitGroup")->Value("Number").ToLong();
  EXPECT_TRUE(groups.CheckID(weight));
  EXPECT_EQ(groups.GetInfo(weight)->Value("Name").ToText(), "重量");
  EXPECT_EQ(groups.GetInfo(weight + 100)->Count(), 0u);
  EXPECT_EQ(groups.GetID(*GroupRec("重量")), weight);

  EXPECT_EQ(units.GetID(*Rec({{"Name", "台"}})), 0);
  EXPECT_EQ(units.GetID(UnitRec("重量", "吨", "T", "很多")), 0);
  EXPECT_EQ(units.GetID(DataRecordPtr()), 0);
  EXPECT_EQ(Units(), (std::vector<std::string>{"数量/个/PCS/1*", "重量/克/G/0.001"}));
}

TEST_F(UnitExchangeTest, ExportsReportProgressPerGroupAndFailuresWithoutAFile) {
  ASSERT_TRUE(Run(106, {UnitRec("数量", "个", "PCS", "1", "1"), UnitRec("数量", "台", "TAI")}, 1).result);
  ASSERT_TRUE(Run(105, {GroupRec("空组")}, 1).result);
  const struct {
    int32_t code;
    std::vector<Row> rows;
    std::string records;  // what the file holds
  } cases[] = {{105, {{1, 50}, {2, 100}}, "<MeasureUnitGroup>"}, {106, {{1, 50}, {2, 100}}, "<MeasureUnit>"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    const std::string file = home.file("out" + std::to_string(c.code) + ".xml");
    RunResult run = Export(ledger, c.code, file);
    EXPECT_TRUE(run.result);
    ASSERT_EQ(run.rows.size(), c.rows.size());
    EXPECT_EQ(run.rows.back().rate, c.rows.back().rate);
    const std::string text = ReadFile(file);
    size_t count = 0;
    for (size_t p = text.find(c.records); p != std::string::npos; p = text.find(c.records, p + 1)) ++count;
    EXPECT_EQ(count, 2u);
  }

  // Each unit whose record cannot be built is named in an error of its own
  // and left out; the rest of its group and the other groups still reach
  // the file. An error left cancelled ends the export at once, without a
  // file.
  ASSERT_TRUE(Run(106, {UnitRec("重量", "克", "G", "0.001", "1")}, 1).result);
  {
    Factory real = ReplaceFactory(kMeasureUnitGroupSet, nullptr);
    ReplaceFactory(kMeasureUnitGroupSet, real);
    ScopedFactory hiding(kMeasureUnitGroupSet, [real] {
      return std::make_shared<GroupSetHiding>(std::dynamic_pointer_cast<ObjectSet>(real()), 1);
    });
    auto failed = [](const char* unit) {
      return std::string("导出计量单位资料出错，当前记录名称为：") + unit + "\r错误信息：\r对象变量未设置";
    };
    const struct {
      bool letPass;
      std::vector<std::string> errors;
      size_t rows;
    } cases[] = {{true, {failed("个"), failed("台")}, 3}, {false, {failed("个")}, 0}};
    for (const auto& c : cases) {
      SCOPED_TRACE(c.letPass);
      const std::string file = home.file(c.letPass ? "hidden.xml" : "stopped.xml");
      RunResult run = Export(ledger, 106, file, Client{.letErrorsPass = c.letPass});
      EXPECT_EQ(run.result, c.letPass);
      EXPECT_EQ(run.errors, c.errors);
      EXPECT_EQ(run.rows.size(), c.rows);
      EXPECT_EQ(FileExist(file), c.letPass);
    }
    const std::string text = ReadFile(home.file("hidden.xml"));
    EXPECT_EQ(text.find("<Name>个</Name>"), std::string::npos);
    EXPECT_EQ(text.find("<Name>台</Name>"), std::string::npos);
    EXPECT_NE(text.find("<Name>克</Name>"), std::string::npos);
  }

  const std::string target = home.file("missing/out.xml");
  const std::string unwritable = "写数据文件 " + target + " 出错：无法在 " + home.file("missing") +
                                 " 中建立临时文件：No such file or directory";
  const struct {
    int32_t code;
    const char* broken;
    std::string message;
  } failures[] = {
      {105, nullptr, "导出计量单位组出错，当前记录名称为：\r错误信息：\r" + unwritable},
      {106, nullptr, "导出计量单位资料出错，当前记录名称为：\r错误信息：\r" + unwritable},
      {106, kMeasureUnitSet, "导出计量单位资料出错，当前记录名称为：\r错误信息：\r部件不能创建对象：Corabin.MeasureUnitSet"},
  };
  for (const auto& f : failures) {
    std::optional<ScopedFactory> broken;
    if (f.broken) broken.emplace(f.broken, nullptr);
    RunResult run = Export(ledger, f.code, target);
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.errors, std::vector<std::string>{f.message});
    EXPECT_FALSE(FileExist(target));
  }
}

}  // namespace
}  // namespace morvent::test
