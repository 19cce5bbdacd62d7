// Measure-unit groups and their units.
#include "tests/support/ledger_fixture.h"

namespace morvent::test {
namespace {

class UnitsTest : public LedgerTest {
 protected:
  int32_t NewGroup(const std::string& name) {
    auto g = groups->CreateNew({}, {});
    g->Let("Name", Variant(name));
    g->SaveChanges();
    return g->Get("GroupID").ToLong();
  }
  int32_t NewUnit(int32_t group, const std::string& name, double coefficient) {
    units->SetRestriction("UnitGroupID", Variant(group));
    units->Refresh();
    auto u = units->CreateNew({}, {});
    u->Let("Name", Variant(name));
    u->Let("Number", Variant(name + "#"));
    u->Let("Coefficient", Variant(coefficient));
    u->SaveChanges();
    return u->Get("MeasureUnitID").ToLong();
  }
  void SetUp() override {
    LedgerTest::SetUp();
    groups = Set(kMeasureUnitGroupSet);
    groups->Refresh();
    units = Set(kMeasureUnitSet);
  }
  ObjectSetPtr groups, units;
};

TEST_F(UnitsTest, NewUnitBelongsToTheGroupLastWrittenToTheSet) {
  int32_t weight = NewGroup("重量");
  int32_t count = NewGroup("数量");
  int32_t kg = NewUnit(weight, "千克", 1);
  units->SetRestriction("UnitGroupID", Variant(count));  // written, no Refresh
  auto piece = units->CreateNew({}, {{"Name", Variant("个")}});
  piece->SaveChanges();
  EXPECT_EQ(piece->Get("UnitGroupID").ToLong(), count);
  EXPECT_EQ(units->GetUnit(kg)->Get("UnitGroupID").ToLong(), weight);
  EXPECT_EQ(units->Item(kg)->Get("Coefficient").ToDouble(), 1.0);
  EXPECT_TRUE(units->Item(kg)->Get("AuxClass").IsNull());
  EXPECT_EQ(units->Item(9999), nullptr);
  EXPECT_EQ(units->GetUnit(9999), nullptr);
}

TEST_F(UnitsTest, RestrictionSelectsOneGroupsUnitsForCountAndEnumeration) {
  int32_t weight = NewGroup("重量");
  int32_t length = NewGroup("长度");
  int32_t empty = NewGroup("空组");
  int32_t kg = NewUnit(weight, "千克", 1);
  NewUnit(length, "米", 1);
  int32_t g = NewUnit(weight, "克", 0.001);
  NewUnit(length, "厘米", 0.01);

  units->SetRestriction("UnitGroupID", Variant(weight));
  units->Refresh();
  EXPECT_EQ(units->Count(), 2);
  std::vector<int32_t> seen;
  for (auto c = units->Enumerate(); auto u = c->Next();) seen.push_back(u->Get("MeasureUnitID").ToLong());
  EXPECT_EQ(seen, (std::vector<int32_t>{kg, g}));
  EXPECT_EQ(units->ExistenceCheck({{"Name", Variant("克")}}), g);
  EXPECT_EQ(units->ExistenceCheck({{"Name", Variant("米")}}), 0);  // another group's unit

  units->SetRestriction("UnitGroupID", Variant(empty));
  units->Refresh();
  EXPECT_EQ(units->Count(), 0);
  EXPECT_EQ(units->GetNext(), nullptr);
  // Moving a unit to another group moves its count too.
  auto moved = units->Item(g);
  moved->Let("UnitGroupID", Variant(empty));
  moved->SaveChanges();
  EXPECT_EQ(units->Count(), 1);
  units->SetRestriction("UnitGroupID", Variant(weight));
  EXPECT_EQ(units->Count(), 1);
  EXPECT_EQ(groups->Count(), 3);
}

TEST_F(UnitsTest, UnitNamesAreUniqueWithinAGroupOnly) {
  int32_t weight = NewGroup("重量");
  int32_t other = NewGroup("重量");  // group names may repeat
  NewUnit(weight, "千克", 1);
  EXPECT_EQ(ErrorOf([&] { NewUnit(weight, "千克", 2); }), "计量单位组“重量”中已有名称为“千克”的计量单位");
  EXPECT_NO_THROW(NewUnit(other, "千克", 1));
  units->SetRestriction("UnitGroupID", Variant(weight));
  EXPECT_EQ(units->Count(), 1);
}

TEST_F(UnitsTest, GroupFindsItsUnitsByNameAndKeepsADefaultUnit) {
  int32_t weight = NewGroup("重量");
  int32_t length = NewGroup("长度");
  int32_t kg = NewUnit(weight, "千克", 1);
  int32_t ton = NewUnit(weight, "吨", 1000);
  NewUnit(length, "米", 1);

  auto group = groups->Item(weight);
  EXPECT_EQ(group->Call("ExistenceCheck", {}, {{"Name", Variant("吨")}}).ToLong(), ton);
  EXPECT_LT(group->Call("ExistenceCheck", {}, {{"Name", Variant("米")}}).ToLong(), 1);
  EXPECT_EQ(group->Get("DefaultUnitID").ToLong(), 0);
  group->Call("SetDefaultUnit", {Variant(kg)}, {});
  EXPECT_EQ(group->Get("DefaultUnitID").ToLong(), kg);
  // Stored at once, without SaveChanges.
  EXPECT_EQ(Set(kMeasureUnitGroupSet)->Item(weight)->Get("DefaultUnitID").ToLong(), kg);

  EXPECT_EQ(ErrorOf([&] { group->Call("Delete", {}, {}); }), "对象不支持该属性或方法：Delete");
  EXPECT_EQ(ErrorOf([&] { group->Call("ExistenceCheck", {}, {{"Number", Variant("t")}}); }),
            "ExistenceCheck 不接受参数“Number”");
  auto unsaved = groups->CreateNew({}, {});
  EXPECT_EQ(ErrorOf([&] { unsaved->Call("SetDefaultUnit", {Variant(kg)}, {}); }),
            "计量单位组尚未保存，不能设置默认计量单位");
  EXPECT_EQ(groups->ExistenceCheck({{"Name", Variant("长度")}}), length);
}

TEST_F(UnitsTest, GroupCreatedAfterTheSetWasLoadedIsFoundById) {
  auto loaded = Set(kMeasureUnitGroupSet);
  loaded->Refresh();
  int32_t late = NewGroup("体积");
  auto g = loaded->Item(late);
  ASSERT_TRUE(g);
  EXPECT_EQ(g->Name(), "体积");
}

}  // namespace
}  // namespace morvent::test
