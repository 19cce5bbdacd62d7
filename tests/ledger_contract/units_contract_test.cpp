// Measure-unit groups and units driven the way the group, unit and material
// handlers drive them: groups matched by name, units matched by name within
// their group through the group object, default units set through the
// group, and the material's two group lookups.
#include <set>
#include <string>

#include "tests/ledger_contract/contract_fixture.h"

namespace morvent::test {
namespace {

class UnitContract : public ContractTest {
 protected:
  // The group import: found by name, else created bare and named.
  int32_t ImportGroup(const std::string& name) {
    auto groups = Open(kMeasureUnitGroupSet);
    int32_t id = groups->ExistenceCheck({{"Name", Variant(name)}});
    if (id >= 1) return id;
    auto g = groups->CreateNew({}, {});
    g->Let("Name", Variant(name));
    g->SaveChanges();
    return g->Get("GroupID").ToLong();
  }

  // The unit import against sets made before the group existed, as the unit
  // handler's are.
  int32_t ImportUnit(const ObjectSetPtr& groups, const ObjectSetPtr& units, const std::string& groupName,
                     const std::string& name, const Variant& number, const Variant& coefficient, bool standard,
                     bool overwrite = false) {
    int32_t gid = ImportGroup(groupName);
    units->SetRestriction("UnitGroupID", Variant(gid));
    units->Refresh();
    auto group = groups->Item(gid);
    if (!group) return 0;
    int32_t id = group->Call("ExistenceCheck", {}, {{"Name", Variant(name)}}).ToLong();
    LedgerObjectPtr unit;
    if (id < 1) {
      unit = units->CreateNew({}, {});
    } else {
      if (!overwrite) return id;
      unit = units->Item(id);
    }
    unit->Let("Name", Variant(name));
    unit->Let("Number", number);
    unit->Let("Coefficient", coefficient);
    unit->SaveChanges();
    if (standard) group->Call("SetDefaultUnit", {unit->Get("MeasureUnitID")}, {});
    return unit->Get("MeasureUnitID").ToLong();
  }
};

TEST_P(UnitContract, GroupsAreMatchedByNameAndListedByGetNext) {
  int32_t weight = ImportGroup("重量");
  EXPECT_GT(weight, 0);
  EXPECT_EQ(ImportGroup("重量"), weight);
  int32_t length = ImportGroup("长度");

  auto groups = Open(kMeasureUnitGroupSet);
  ASSERT_EQ(groups->Count(), 2);
  std::vector<int32_t> ids;
  for (int i = 1; i <= groups->Count(); ++i) ids.push_back(groups->GetNext()->Get("GroupID").ToLong());
  EXPECT_EQ(ids, (std::vector<int32_t>{weight, length}));
  EXPECT_FALSE(groups->GetNext());
  groups->Refresh();
  EXPECT_EQ(groups->GetNext()->Name(), "重量");

  // Overwrite: fetched by ID and renamed to the same name.
  auto g = groups->Item(weight);
  g->Let("Name", Variant("重量"));
  g->SaveChanges();
  EXPECT_EQ(groups->Count(), 2);
}

TEST_P(UnitContract, TwoPassImportSetsDefaultsThroughGroupsMadeAfterTheSetsWereLoaded) {
  auto groups = Open(kMeasureUnitGroupSet);
  auto units = CreateObjectAs<ObjectSet>(kMeasureUnitSet);
  // Data-file values: the number and coefficient arrive as texts, an absent
  // coefficient as the integer 1.
  int32_t kg = ImportUnit(groups, units, "重量", "千克", Variant("KG"), Variant(int32_t{1}), true);
  int32_t g = ImportUnit(groups, units, "重量", "克", Variant("G"), Variant("0.001"), false);
  int32_t again = ImportUnit(groups, units, "重量", "千克", Variant("KG"), Variant(int32_t{1}), true);
  ASSERT_GT(kg, 0);
  EXPECT_EQ(again, kg) << "matched by name within the group";
  EXPECT_NE(g, kg);
  // The same name in another group is another unit.
  int32_t other = ImportUnit(groups, units, "包装", "千克", Variant("KG"), Variant(int32_t{1}), false);
  EXPECT_NE(other, kg);

  int32_t gid = ImportGroup("重量");
  auto group = Open(kMeasureUnitGroupSet)->Item(gid);
  EXPECT_EQ(group->Get("DefaultUnitID").ToLong(), kg);
  auto unit = CreateObjectAs<ObjectSet>(kMeasureUnitSet)->GetUnit(g);
  ASSERT_TRUE(unit);
  EXPECT_EQ(unit->Number(), "G");
  EXPECT_DOUBLE_EQ(unit->Get("Coefficient").ToDouble(), 0.001);
  EXPECT_EQ(unit->Get("UnitGroupID").ToLong(), gid);

  // Overwrite keeps the unit and rewrites its fields.
  ImportUnit(groups, units, "重量", "克", Variant("G2"), Variant(int32_t{1}), true, true);
  EXPECT_EQ(CreateObjectAs<ObjectSet>(kMeasureUnitSet)->GetUnit(g)->Number(), "G2");
  EXPECT_EQ(Open(kMeasureUnitGroupSet)->Item(gid)->Get("DefaultUnitID").ToLong(), g);
}

TEST_P(UnitContract, ExportWalksUnitsGroupByGroupAndLookupsFindAnyUnit) {
  auto groups = Open(kMeasureUnitGroupSet);
  auto units = CreateObjectAs<ObjectSet>(kMeasureUnitSet);
  int32_t kg = ImportUnit(groups, units, "重量", "千克", Variant("KG"), Variant(int32_t{1}), true);
  ImportUnit(groups, units, "长度", "米", Variant("M"), Variant(int32_t{1}), false);
  ImportGroup("空组");

  auto exportGroups = Open(kMeasureUnitGroupSet);
  auto exportUnits = CreateObjectAs<ObjectSet>(kMeasureUnitSet);
  std::vector<std::string> rows;
  auto cursor = exportGroups->Enumerate();
  int groupCount = 0;
  while (auto group = cursor->Next()) {
    ++groupCount;
    exportUnits->SetRestriction("UnitGroupID", Variant(group->Get("GroupID").ToLong()));
    exportUnits->Refresh();
    auto unitCursor = exportUnits->Enumerate();
    while (auto unit = unitCursor->Next()) {
      auto own = exportGroups->Item(unit->Get("UnitGroupID").ToLong());
      bool standard = own->Get("DefaultUnitID").ToLong() == unit->Get("MeasureUnitID").ToLong();
      EXPECT_TRUE(unit->Get("AuxClass").IsNull());
      rows.push_back(own->Name() + "/" + unit->Name() + (standard ? "*" : ""));
    }
  }
  EXPECT_EQ(groupCount, exportGroups->Count());
  EXPECT_EQ(groupCount, 3);
  EXPECT_EQ(rows, (std::vector<std::string>{"重量/千克*", "长度/米"}));

  // CheckID and GetInfo reach any unit, whatever group the set was left on.
  EXPECT_TRUE(exportUnits->Item(kg));
  EXPECT_TRUE(exportUnits->GetUnit(kg));
  EXPECT_FALSE(exportUnits->Item(kg + 100));
}

TEST_P(UnitContract, MaterialFindsADefaultUnitByGroupAndAGroupByUnitName) {
  auto groups = Open(kMeasureUnitGroupSet);
  auto units = CreateObjectAs<ObjectSet>(kMeasureUnitSet);
  ImportUnit(groups, units, "数量", "个", Variant("PCS"), Variant(int32_t{1}), false);
  int32_t box = ImportUnit(groups, units, "包装", "箱", Variant("BOX"), Variant(int32_t{12}), true);
  ImportUnit(groups, units, "包装", "个", Variant("PCS"), Variant(int32_t{1}), false);
  int32_t counted = ImportGroup("数量");
  int32_t packed = ImportGroup("包装");

  // The default unit of a group: a fresh set, Refresh, the group by ID.
  auto fresh = Open(kMeasureUnitGroupSet);
  EXPECT_EQ(fresh->Item(packed)->Get("DefaultUnitID").ToLong(), box);
  EXPECT_EQ(NullToDefault(fresh->Item(counted)->Get("DefaultUnitID"), Variant(int32_t{0})).ToLong(), 0);
  EXPECT_FALSE(fresh->Item(packed + 100));

  // The group of a unit name: the first group in the set's order that has it.
  auto findGroup = [&](const std::string& name) {
    auto set = Open(kMeasureUnitGroupSet);
    auto cursor = set->Enumerate();
    while (auto g = cursor->Next())
      if (g->Call("ExistenceCheck", {}, {{"Name", Variant(name)}}).ToLong() > 0) return g->Get("GroupID").ToLong();
    return int32_t{0};
  };
  EXPECT_EQ(findGroup("个"), counted);
  EXPECT_EQ(findGroup("箱"), packed);
  EXPECT_EQ(findGroup("吨"), 0);
}

// A caller that changes a restriction and forgets Refresh must not walk on
// in the old list, nor skip the start of the new one.
TEST_P(UnitContract, ChangingARestrictionRestartsGetNextOnTheNewList) {
  auto groups = Open(kMeasureUnitGroupSet);
  auto units = CreateObjectAs<ObjectSet>(kMeasureUnitSet);
  ImportUnit(groups, units, "重量", "千克", Variant("KG"), Variant(int32_t{1}), false);
  ImportUnit(groups, units, "重量", "克", Variant("G"), Variant(int32_t{1}), false);
  ImportUnit(groups, units, "长度", "米", Variant("M"), Variant(int32_t{1}), false);
  units->SetRestriction("UnitGroupID", Variant(ImportGroup("重量")));
  units->Refresh();
  EXPECT_EQ(units->GetNext()->Name(), "千克");
  units->SetRestriction("UnitGroupID", Variant(ImportGroup("长度")));
  auto next = units->GetNext();
  ASSERT_TRUE(next);
  EXPECT_EQ(next->Name(), "米");
  EXPECT_FALSE(units->GetNext());

  // Items: the class's list starts from its first number.
  NewItem(1, "09", "客户九");
  NewItem(2, "01", "部门一");
  auto items = Items(1);
  EXPECT_EQ(items->GetNext()->Number(), "09");
  items->SetRestriction("ItemClassID", Variant(int16_t{2}));
  next = items->GetNext();
  ASSERT_TRUE(next);
  EXPECT_EQ(next->Name(), "部门一");

  // Entries: another type's entries from the first.
  auto entries = CreateObjectAs<ObjectSet>(kSubMesSet);
  int32_t first = NewEntry("区域", "01", "华南");
  entries->SetRestriction("TypeID", Variant(TypeId("性别")));
  entries->Refresh();
  EXPECT_EQ(entries->GetNext()->Name(), "男");
  entries->SetRestriction("TypeID", Variant(TypeId("区域")));
  next = entries->GetNext();
  ASSERT_TRUE(next);
  EXPECT_EQ(next->Get("ItemID").ToLong(), first);
}

}  // namespace
INSTANTIATE_TEST_SUITE_P(Engines, UnitContract, BothEngines(), EngineName);

}  // namespace morvent::test
