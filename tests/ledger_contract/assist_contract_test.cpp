// Assist-data types and entries driven the way their handlers and the item
// handlers' lookups drive them: types found by walking GetNext, entries
// walked type by type with the type check sharing the type walk, entries
// fetched by ID with the constant 866 or their type, and the lookup of an
// item property's entry by name through the two information services.
#include <string>
#include <utility>
#include <vector>

#include "tests/ledger_contract/contract_fixture.h"

namespace morvent::test {
namespace {

class AssistContract : public ContractTest {
 protected:
  // The type handler's search: Refresh, Count, GetNext, exact name.
  static int32_t FindTypeByName(const ObjectSetPtr& types, const std::string& name) {
    types->Refresh();
    int32_t n = types->Count();
    for (int32_t i = 1; i <= n; ++i) {
      auto t = types->GetNext();
      if (t->Name() == name) return t->Get("TypeID").ToLong();
    }
    return 0;
  }
  int32_t ImportType(const ObjectSetPtr& types, const std::string& name) {
    int32_t id = FindTypeByName(types, name.substr(0, 30));
    if (id >= 1) return id;
    auto t = types->CreateNew({}, {});
    t->Let("Name", Variant(name));
    t->SaveChanges();
    return t->Get("TypeID").ToLong();
  }
  // The entry handler's search within the restricted type.
  static int32_t FindDetail(const ObjectSetPtr& entries, int32_t typeId, const std::string& number) {
    entries->Refresh();
    int32_t n = entries->Count();
    for (int32_t i = 1; i <= n; ++i) {
      auto e = entries->GetNext();
      if (e->Number() == number && e->Get("TypeID").ToLong() == typeId) return e->Get("ItemID").ToLong();
    }
    return 0;
  }
  int32_t ImportEntry(const ObjectSetPtr& entries, int32_t typeId, const std::string& number,
                      const std::string& name, bool overwrite) {
    entries->SetRestriction("TypeID", Variant(typeId));
    entries->Refresh();
    int32_t id = FindDetail(entries, typeId, number);
    LedgerObjectPtr e;
    if (id < 1) {
      e = entries->CreateNew({Variant(typeId)}, {{"Number", Variant(number)}});
    } else {
      if (!overwrite) return id;
      e = entries->Item(id, Variant(typeId));
    }
    e->Let("Name", Variant(name));
    e->Let("Number", Variant(number));
    e->SaveChanges();
    return e->Get("ItemID").ToLong();
  }
  // The item handlers' lookup: the property's search code from the class
  // description, then the first entry of that name in the service's list.
  int32_t LookUp(const std::string& name, int32_t classId, const std::string& property) {
    auto detail = CreateObjectAs<ItemClassInfo>(kItemClassInfo)->GetDetail(props, classId);
    auto desc = detail->Value("_PropDesc").As<RecordCollection>();
    EXPECT_TRUE(desc);
    int16_t search = 0;
    for (int32_t i = desc->LBound(); i <= desc->UBound(); ++i) {
      auto row = desc->Item(i);
      if (row->Value("FName").ToText() == property) {
        search = row->Value("FSearch").ToInteger();
        break;
      }
    }
    auto rows = CreateObjectAs<ItemInfo>(kItemInfo)->GetSubMesList(props, search);
    if (rows->BOF() && rows->EOF_()) return 0;
    for (; !rows->EOF_(); rows->MoveNext())
      if (rows->Field("FName").ToText() == name) return rows->Field("FItemID").ToLong();
    return 0;
  }
};

TEST_P(AssistContract, TypesAreFoundByWalkingAndCreatedWithoutArguments) {
  auto types = Open(kSubMesTypeSet);
  int32_t region = FindTypeByName(types, "区域");
  EXPECT_GT(region, 0);
  int32_t before = types->Count();
  std::string longName(35, 'x');
  int32_t made = ImportType(types, longName);
  EXPECT_EQ(types->Count(), before + 1) << "the walk's bound counts a type made in this run";
  ASSERT_GT(made, 0);
  EXPECT_EQ(types->Item(made)->Name(), longName) << "stored whole";
  EXPECT_NE(ImportType(types, longName), made) << "a name beyond the match width is never matched again";
  EXPECT_EQ(ImportType(types, "区域"), region);
  // Overwrite: fetched by ID, renamed with the same text.
  auto t = types->Item(region);
  t->Let("Name", Variant("区域"));
  t->SaveChanges();
  EXPECT_EQ(FindTypeByName(types, "区域"), region);
  EXPECT_FALSE(types->Item(32000)) << "GetInfo of an unknown type meets nothing";
}

TEST_P(AssistContract, ExportWalkSharesTheTypeWalkWithTheTypeCheck) {
  auto types = Open(kSubMesTypeSet);
  auto entries = CreateObjectAs<ObjectSet>(kSubMesSet);
  int32_t region = FindTypeByName(types, "区域");
  int32_t status = FindTypeByName(types, "状态");
  ImportEntry(entries, region, "01", "华南", false);
  ImportEntry(entries, region, "02", "华北", false);
  ImportEntry(entries, status, "01", "正常", false);

  auto exportTypes = Open(kSubMesTypeSet);
  auto exportEntries = CreateObjectAs<ObjectSet>(kSubMesSet);
  auto typeExists = [&](int32_t typeId) {
    int32_t n = exportTypes->Count();
    exportTypes->Refresh();
    for (int32_t i = 1; i <= n; ++i)
      if (exportTypes->GetNext()->Get("TypeID").ToLong() == typeId) return true;
    return false;
  };
  std::vector<std::string> rows;
  int32_t n = exportTypes->Count();
  int32_t walked = 0;
  for (int32_t j = 1; j <= n; ++j) {
    auto type = exportTypes->GetNext();
    ASSERT_TRUE(type) << "type " << j << " of " << n;
    ++walked;
    exportEntries->SetListOptions(int16_t{1});
    exportEntries->SetRestriction("TypeID", type->Get("TypeID"));
    exportEntries->Refresh();
    int32_t m = exportEntries->Count();
    for (int32_t k = 1; k <= m; ++k) {
      auto e = exportEntries->GetNext();
      int32_t typeId = e->Get("TypeID").ToLong();
      ASSERT_TRUE(typeExists(typeId));
      rows.push_back(exportTypes->Item(typeId)->Name() + "/" + e->Number() + "/" + e->Name());
    }
  }
  EXPECT_EQ(walked, n);
  EXPECT_FALSE(exportTypes->GetNext());
  // Every new ledger has the two gender entries.
  EXPECT_EQ(rows, (std::vector<std::string>{"区域/01/华南", "区域/02/华北", "状态/01/正常", "性别/01/男", "性别/02/女"}));
}

TEST_P(AssistContract, EntriesAreMatchedByNumberWithinTheirTypeAndFetchedBy866OrType) {
  auto types = Open(kSubMesTypeSet);
  auto entries = CreateObjectAs<ObjectSet>(kSubMesSet);
  int32_t region = FindTypeByName(types, "区域");
  int32_t trade = FindTypeByName(types, "行业");
  int32_t south = ImportEntry(entries, region, "01", "华南", false);
  int32_t other = ImportEntry(entries, trade, "01", "制造", false);
  EXPECT_NE(south, other) << "numbers repeat across types";
  EXPECT_EQ(ImportEntry(entries, region, "01", "华南（旧）", false), south);
  EXPECT_EQ(ImportEntry(entries, region, "01", "华南（新）", true), south);

  auto lookups = CreateObjectAs<ObjectSet>(kSubMesSet);
  auto any = lookups->Item(south, Variant(int32_t{866}));
  ASSERT_TRUE(any) << "CheckID needs no restriction and no Refresh";
  EXPECT_EQ(any->Name(), "华南（新）");
  EXPECT_EQ(any->Get("TypeID").ToLong(), region);
  EXPECT_TRUE(lookups->Item(south, Variant(region)));
  EXPECT_FALSE(lookups->Item(south, Variant(trade)));
  EXPECT_FALSE(lookups->Item(south + 100, Variant(int32_t{866})));
}

TEST_P(AssistContract, ItemLookupFindsEntriesOfEveryPropertyTheItemHandlersName) {
  const std::vector<std::pair<int32_t, std::vector<const char*>>> used = {
      {1, {"区域", "行业", "状态"}},
      {8, {"区域", "行业", "状态"}},
      {3, {"性别", "职务", "文化程度", "职员类别"}},
      {5, {"仓库属性", "仓库类型"}},
      {4, {"计价方法", "物料属性", "税目代码"}},
      {10, {"核算模式", "行业", "区域", "所有制", "资产关系", "上级主管"}},
  };
  int n = 0;
  for (const auto& [classId, properties] : used)
    for (const char* property : properties) {
      std::string name = std::string("值") + std::to_string(++n);
      int32_t id = NewEntry(property, std::to_string(n), name);
      EXPECT_EQ(LookUp(name, classId, property), id) << classId << " " << property;
    }
  EXPECT_GT(LookUp("男", 3, "性别"), 0);
}

TEST_P(AssistContract, ItemLookupComparesNamesExactlyAndAnswersZeroOtherwise) {
  NewEntry("区域", "01", "华南");
  EXPECT_EQ(LookUp("华南 ", 1, "区域"), 0);
  EXPECT_EQ(LookUp("华北", 1, "区域"), 0);
  EXPECT_EQ(LookUp("华南", 1, "没有的属性"), 0) << "search 0 lists nothing";
  EXPECT_EQ(LookUp("华南", 2, "区域"), 0) << "departments have no such property";
  EXPECT_EQ(ErrorOf([&] { CreateObjectAs<ItemClassInfo>(kItemClassInfo)->GetDetail(props, 77); }),
            "核算项目类别（ID 77）不存在");
}

}  // namespace
INSTANTIATE_TEST_SUITE_P(Engines, AssistContract, BothEngines(), EngineName);

}  // namespace morvent::test
