// Assist-data types and entries, and the two item information services.
#include <algorithm>
#include <map>
#include <vector>

#include "store/ledger_store.h"
#include "tests/support/ledger_fixture.h"

namespace morvent::test {
namespace {

using AssistTest = LedgerTest;

TEST_F(AssistTest, TypesAreCreatedWithoutArgumentsAndListedInIdOrder) {
  auto types = Set(kSubMesTypeSet);
  types->Refresh();
  int32_t seeded = types->Count();
  EXPECT_EQ(seeded, 17);
  auto t = types->CreateNew({}, {});
  t->Let("Name", Variant("客户等级"));
  t->SaveChanges();
  int32_t id = t->Get("TypeID").ToLong();
  EXPECT_EQ(id, seeded + 1);
  EXPECT_EQ(types->Count(), seeded + 1);
  EXPECT_EQ(types->Item(id)->Name(), "客户等级");
  EXPECT_EQ(types->ExistenceCheck({{"Name", Variant("客户等级")}}), id);
  EXPECT_LT(types->ExistenceCheck({{"Name", Variant("客户等级 ")}}), 1);

  // The walk of a type-set handler: Count, Refresh, then GetNext n times.
  types->Refresh();
  std::vector<int32_t> ids;
  for (int i = 0; i < types->Count(); ++i) ids.push_back(types->GetNext()->Get("TypeID").ToLong());
  EXPECT_EQ(ids.front(), 1);
  EXPECT_EQ(ids.back(), id);
  EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
  EXPECT_EQ(types->GetNext(), nullptr);
  types->Refresh();
  EXPECT_EQ(types->GetNext()->Get("TypeID").ToLong(), 1);

  // Names of types may repeat.
  auto twin = types->CreateNew({}, {});
  twin->Let("Name", Variant("客户等级"));
  EXPECT_NO_THROW(twin->SaveChanges());
  EXPECT_EQ(types->ExistenceCheck({{"Name", Variant("客户等级")}}), id) << "the first by ID";
}

TEST_F(AssistTest, EntriesOfOneTypeFollowTheRestriction) {
  int32_t region = TypeId("区域");
  int32_t trade = TypeId("行业");
  int32_t north = NewEntry("区域", "01", "华北");
  NewEntry("行业", "01", "制造业");
  int32_t east = NewEntry("区域", "02", "华东");
  auto entries = Set(kSubMesSet);
  entries->SetListOptions(1);
  entries->SetRestriction("TypeID", Variant(region));
  entries->Refresh();
  EXPECT_EQ(entries->Count(), 2);
  auto first = entries->GetNext();
  EXPECT_EQ(first->Get("ItemID").ToLong(), north);
  EXPECT_EQ(first->Get("TypeID").ToLong(), region);
  EXPECT_EQ(first->Number(), "01");
  EXPECT_EQ(entries->GetNext()->Get("ItemID").ToLong(), east);
  EXPECT_EQ(entries->GetNext(), nullptr);

  entries->SetRestriction("TypeID", Variant(trade));
  entries->Refresh();
  EXPECT_EQ(entries->Count(), 1);
  EXPECT_EQ(entries->GetNext()->Name(), "制造业");
  EXPECT_EQ(entries->ExistenceCheck({{"Number", Variant("02")}}), 0);
  EXPECT_EQ(entries->ExistenceCheck({{"Number", Variant("02")}, {"TypeID", Variant(region)}}), east);
  EXPECT_EQ(entries->ExistenceCheck({{"Name", Variant("华北")}, {"TypeID", Variant(region)}}), north);
}

TEST_F(AssistTest, ItemWith866FindsAnEntryOfAnyTypeWithoutRefresh) {
  int32_t trade = TypeId("行业");
  int32_t maker = NewEntry("行业", "01", "制造业");
  auto entries = Set(kSubMesSet);  // neither restricted nor refreshed
  auto e = entries->Item(maker, Variant(int16_t{866}));
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Name(), "制造业");
  EXPECT_EQ(e->Get("TypeID").ToLong(), trade);
  EXPECT_NE(entries->Item(maker, Variant(trade)), nullptr);
  EXPECT_EQ(entries->Item(maker, Variant(TypeId("区域"))), nullptr) << "another type restricts";
  EXPECT_EQ(entries->Item(maker + 1000, Variant(int16_t{866})), nullptr);
  entries->SetRestriction("TypeID", Variant(TypeId("区域")));
  EXPECT_EQ(entries->Item(maker), nullptr) << "without a second argument the restriction holds";
  EXPECT_NE(entries->Item(maker, Variant(int16_t{866})), nullptr);
}

TEST_F(AssistTest, EntryNumbersAreUniqueWithinATypeOnly) {
  NewEntry("区域", "01", "华北");
  NewEntry("行业", "01", "制造业");  // another type: allowed
  NewEntry("区域", "02", "华北");    // names may repeat
  auto entries = Set(kSubMesSet);
  auto dup = entries->CreateNew({Variant(TypeId("区域"))}, {{"Number", Variant("01")}});
  dup->Let("Name", Variant("华南"));
  EXPECT_EQ(ErrorOf([&] { dup->SaveChanges(); }), "辅助资料类别“区域”中代码“01”已存在");
  EXPECT_EQ(dup->Get("ItemID").ToLong(), 0);
  entries->SetRestriction("TypeID", Variant(TypeId("区域")));
  EXPECT_EQ(entries->Count(), 2);

  // Overwriting an entry keeps its own number without conflict.
  auto existing = entries->Item(entries->ExistenceCheck({{"Number", Variant("02")}}), Variant(TypeId("区域")));
  existing->Let("Name", Variant("华东"));
  EXPECT_NO_THROW(existing->SaveChanges());
  existing->Let("Number", Variant("01"));
  EXPECT_EQ(ErrorOf([&] { existing->SaveChanges(); }), "辅助资料类别“区域”中代码“01”已存在");

  auto lost = entries->CreateNew({Variant(999)}, {{"Number", Variant("01")}});
  EXPECT_EQ(ErrorOf([&] { lost->SaveChanges(); }), "辅助资料类别（ID 999）不存在");
  EXPECT_EQ(ErrorOf([&] { entries->CreateNew({}, {{"Number", Variant("01")}, {"TypeID", Variant(0)}}); }),
            "新增辅助资料时没有指定辅助资料类别");
}

TEST_F(AssistTest, IdsStayWithinTheRangeTheProtocolCarries) {
  // Type IDs travel as 16-bit "FSearch" codes, item IDs as Longs.
  auto store = LedgerStore::ForPath(path);
  store->Exec("INSERT INTO t_SubMesType (FTypeID, FName) VALUES (32767, '最后')");
  auto types = Set(kSubMesTypeSet);
  int32_t before = types->Count();
  auto t = types->CreateNew({}, {});
  t->Let("Name", Variant("溢出"));
  EXPECT_EQ(ErrorOf([&] { t->SaveChanges(); }), "辅助资料类别的编号已用尽（上限 32767），不能再新增");
  EXPECT_EQ(types->Count(), before);
  EXPECT_EQ(t->Get("TypeID").ToLong(), 0);

  store->Exec("INSERT INTO t_Item (FItemID, FItemClassID, FNumber, FName) VALUES (2147483647, 1, '99', '最后')");
  auto item = Items(1)->CreateNew({Variant(int16_t{1}), Variant(0)}, {{"Number", Variant("01")}});
  EXPECT_EQ(ErrorOf([&] { item->SaveChanges(); }), "核算项目的编号已用尽（上限 2147483647），不能再新增");
  EXPECT_LT(Items(1)->ExistenceCheck({{"Number", Variant("01")}}), 1);
}

TEST_F(AssistTest, GetDetailDescribesTheClassPropertiesBoundToTypesOfTheirName) {
  auto info = CreateObjectAs<ItemClassInfo>(kItemClassInfo);
  const std::map<int, std::vector<std::string>> expected = {
      {1, {"区域", "行业", "状态"}},
      {2, {}},
      {3, {"性别", "职务", "文化程度", "职员类别"}},
      {4, {"计价方法", "物料属性", "商品属性", "税目代码"}},
      {5, {"仓库属性", "仓库类型"}},
      {8, {"区域", "行业", "状态"}},
      {10, {"核算模式", "行业", "区域", "所有制", "资产关系", "上级主管"}},
  };
  for (const auto& [cls, names] : expected) {
    auto detail = info->GetDetail(props, cls);
    auto list = detail->Value("_PropDesc").As<RecordCollection>();
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->UBound(), static_cast<int32_t>(names.size())) << "class " << cls;
    for (int32_t i = list->LBound(); i <= list->UBound(); ++i) {
      auto row = list->Item(i);
      EXPECT_EQ(row->Value("FName").ToText(), names[i - 1]);
      EXPECT_EQ(row->Value("FSearch").Type(), VarType::Integer);
      EXPECT_EQ(row->Value("FSearch").ToLong(), TypeId(names[i - 1])) << names[i - 1];
    }
  }
  EXPECT_EQ(ErrorOf([&] { info->GetDetail(props, 6); }), "核算项目类别（ID 6）不存在");
}

TEST_F(AssistTest, GetSubMesListListsTheEntriesOfOneSearchCode) {
  auto info = CreateObjectAs<ItemInfo>(kItemInfo);
  int16_t gender = static_cast<int16_t>(TypeId("性别"));
  auto list = info->GetSubMesList(props, gender);
  ASSERT_EQ(list->RecordCount(), 2);
  EXPECT_FALSE(list->BOF());
  EXPECT_EQ(list->Field("FName").ToText(), "男");
  int32_t male = list->Field("FItemID").ToLong();
  list->MoveNext();
  EXPECT_EQ(list->Field("FName").ToText(), "女");
  EXPECT_GT(list->Field("FItemID").ToLong(), male);
  list->MoveNext();
  EXPECT_TRUE(list->EOF_());
  EXPECT_EQ(Set(kSubMesSet)->Item(male, Variant(int16_t{866}))->Name(), "男");

  // The lookup an assist-data handler makes: the property's FSearch, then Find.
  auto detail = CreateObjectAs<ItemClassInfo>(kItemClassInfo)->GetDetail(props, 3);
  auto desc = detail->Value("_PropDesc").As<RecordCollection>();
  int16_t search = 0;
  for (int32_t i = desc->LBound(); i <= desc->UBound(); ++i)
    if (desc->Item(i)->Value("FName").ToText() == "性别") search = desc->Item(i)->Value("FSearch").ToInteger();
  auto genders = info->GetSubMesList(props, search);
  genders->Find("FName='女'");
  ASSERT_FALSE(genders->EOF_());
  EXPECT_GT(genders->Field("FItemID").ToLong(), male);

  auto none = info->GetSubMesList(props, 0);
  EXPECT_TRUE(none->BOF());
  EXPECT_TRUE(none->EOF_());
  EXPECT_EQ(none->RecordCount(), 0);
}

TEST_F(AssistTest, ServicesOpenTheLedgerTheirPropertyStringNames) {
  CreateLedger(dir.file("second.db"));
  std::string second = "Data Source=" + dir.file("second.db");
  int16_t region = static_cast<int16_t>(TypeId("区域"));
  NewEntry("区域", "01", "华北");  // only in the first ledger
  auto info = CreateObjectAs<ItemInfo>(kItemInfo);
  EXPECT_EQ(info->GetSubMesList(props, region)->RecordCount(), 1);
  EXPECT_EQ(info->GetSubMesList(second, region)->RecordCount(), 0);
  EXPECT_EQ(ErrorOf([&] { info->GetSubMesList("Provider=x", region); }),
            "属性串中没有指定账套文件（Data Source），无法打开账套");
}

}  // namespace
}  // namespace morvent::test
