// The item set and the item-class set: creation by name, the calling
// protocol the handlers use, ordering and the uniqueness rule.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <tuple>
#include <vector>

#include "items/item_parent.h"
#include "platform/call_scope.h"
#include "tests/support/ledger_fixture.h"

namespace morvent::test {
namespace {

std::vector<std::string> Numbers(ObjectSet& set) {
  std::vector<std::string> out;
  auto cursor = set.Enumerate();
  while (auto item = cursor->Next()) out.push_back(item->Number());
  return out;
}

using ItemSetTest = LedgerTest;

TEST_F(ItemSetTest, EveryComponentIsCreatedByName) {
  for (const char* name : {kItemClassSet, kItemSet, kSubMesTypeSet, kSubMesSet})
    EXPECT_NE(CreateObjectAs<ObjectSet>(name), nullptr) << name;
  EXPECT_NE(CreateObjectAs<ItemClassInfo>(kItemClassInfo), nullptr);
  EXPECT_NE(CreateObjectAs<ItemInfo>(kItemInfo), nullptr);
}

TEST_F(ItemSetTest, SetsRefuseToOpenWithoutALedger) {
  Context().gPropsString = "Data Source=" + dir.file("missing.db");
  EXPECT_THROW(Set(kItemSet), Error);
  EXPECT_FALSE(std::filesystem::exists(dir.file("missing.db")));
}

TEST_F(ItemSetTest, CreateNewTakesClassParentAndNumber) {
  auto parent = NewItem(1, "01", "华北客户");
  int32_t parentId = parent->Get("ItemID").ToLong();
  EXPECT_GT(parentId, 0);

  auto set = Items(1);
  auto child = set->CreateNew({Variant(int16_t{1}), Variant(parentId)}, {{"Number", Variant("01.01")}});
  EXPECT_EQ(child->Get("ItemID").ToLong(), 0) << "no ID before the first save";
  child->Let("Name", Variant("北京地区"));
  child->SaveChanges();
  int32_t childId = child->Get("ItemID").ToLong();
  EXPECT_GT(childId, parentId);
  EXPECT_EQ(child->Properties("FParentID").ToLong(), parentId);

  // The positional form the parent search uses for a bare parent.
  auto bare = set->CreateNew({Variant(int16_t{1}), Variant(0), Variant("09"), Variant("未分类")}, {});
  bare->SaveChanges();
  auto again = set->Item(bare->Get("ItemID").ToLong());
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->Number(), "09");
  EXPECT_EQ(again->Name(), "未分类");
  EXPECT_EQ(again->Properties("FParentID").ToLong(), 0);
}

TEST_F(ItemSetTest, CreateNewRefusesWhatTheLedgerCannotHold) {
  auto set = Set(kItemSet);
  EXPECT_EQ(ErrorOf([&] { set->CreateNew({}, {{"Number", Variant("01")}}); }),
            "新增核算项目时没有指定核算项目类别");
  EXPECT_EQ(ErrorOf([&] { set->CreateNew({Variant(int16_t{1})}, {{"Numbr", Variant("01")}}); }),
            "CreateNew 不接受参数 Numbr");
  auto orphan = set->CreateNew({Variant(int16_t{1}), Variant(4242)}, {{"Number", Variant("01.01")}});
  EXPECT_EQ(ErrorOf([&] { orphan->SaveChanges(); }), "上级核算项目（ID 4242）不在类别“客户”中");
  auto dept = NewItem(2, "01", "财务部");
  auto wrongClass = set->CreateNew({Variant(int16_t{1}), dept->Get("ItemID")}, {{"Number", Variant("01.01")}});
  EXPECT_EQ(ErrorOf([&] { wrongClass->SaveChanges(); }),
            "上级核算项目（ID " + dept->Get("ItemID").ToText() + "）不在类别“客户”中");
  auto noClass = set->CreateNew({Variant(int16_t{77})}, {{"Number", Variant("01")}});
  EXPECT_EQ(ErrorOf([&] { noClass->SaveChanges(); }), "核算项目类别（ID 77）不存在");
  EXPECT_EQ(Items(1)->Count(), 0);
}

TEST_F(ItemSetTest, ExistenceCheckByNumberOrNameWithinTheClass) {
  int32_t a = NewItem(1, "01", "华联商厦")->Get("ItemID").ToLong();
  int32_t b = NewItem(8, "01", "宝山钢铁")->Get("ItemID").ToLong();
  NewItem(8, "02", "华联商厦");
  auto set = Set(kItemSet);
  EXPECT_EQ(set->ExistenceCheck({{"Number", Variant("01")}, {"ItemClassID", Variant(int16_t{1})}}), a);
  EXPECT_EQ(set->ExistenceCheck({{"Number", Variant("01")}, {"ItemClassID", Variant(int16_t{8})}}), b);
  EXPECT_LT(set->ExistenceCheck({{"Number", Variant("03")}, {"ItemClassID", Variant(int16_t{8})}}), 1);
  EXPECT_LT(set->ExistenceCheck({{"Number", Variant("01")}, {"ItemClassID", Variant(int16_t{2})}}), 1);
  // Numbers match exactly: no trimming, no case folding.
  EXPECT_LT(set->ExistenceCheck({{"Number", Variant("01 ")}, {"ItemClassID", Variant(int16_t{1})}}), 1);
  // The restriction stands in for a missing ItemClassID.
  EXPECT_EQ(Items(8)->ExistenceCheck({{"Name", Variant("华联商厦")}}),
            Items(8)->ExistenceCheck({{"Number", Variant("02")}}));
  EXPECT_EQ(Items(1)->ExistenceCheck({{"name", Variant("华联商厦")}}), a);
  EXPECT_EQ(ErrorOf([&] { set->ExistenceCheck({}); }), "ExistenceCheck 需要参数 Number 或 Name");
}

TEST_F(ItemSetTest, ItemFindsByIdWithinTheRestrictedClass) {
  int32_t customer = NewItem(1, "01", "客户甲")->Get("ItemID").ToLong();
  int32_t dept = NewItem(2, "01", "部门甲")->Get("ItemID").ToLong();
  auto customers = Items(1);
  ASSERT_NE(customers->Item(customer), nullptr);
  EXPECT_EQ(customers->Item(customer)->Name(), "客户甲");
  EXPECT_EQ(customers->Item(dept), nullptr);
  EXPECT_EQ(customers->Item(999999), nullptr);
  EXPECT_NE(Set(kItemSet)->Item(dept), nullptr) << "an unrestricted set finds any class";
}

TEST_F(ItemSetTest, ItemsEnumerateInNumberOrderParentsFirst) {
  int32_t p1 = NewItem(2, "02", "销售部")->Get("ItemID").ToLong();
  NewItem(2, "10", "后勤部");
  int32_t p0 = NewItem(2, "01", "财务部")->Get("ItemID").ToLong();
  NewItem(2, "02.02", "华东区", p1);
  NewItem(2, "01.01", "会计科", p0);
  NewItem(2, "02.01", "华北区", p1);
  NewItem(1, "00", "另一类别");
  auto set = Items(2);
  const std::vector<std::string> expected = {"01", "01.01", "02", "02.01", "02.02", "10"};
  EXPECT_EQ(Numbers(*set), expected);
  EXPECT_EQ(set->Count(), 6);

  std::vector<std::string> viaGetNext;
  while (auto item = set->GetNext()) viaGetNext.push_back(item->Number());
  EXPECT_EQ(viaGetNext, expected);
  EXPECT_EQ(set->GetNext(), nullptr);
  set->Refresh();
  ASSERT_NE(set->GetNext(), nullptr);
  set->Refresh();
  EXPECT_EQ(set->GetNext()->Number(), "01") << "Refresh restarts GetNext";

  // Across pages of the streaming cursor, in order and each once.
  auto many = Items(5);
  for (int i = 600; i >= 1; --i) {
    char number[8];
    std::snprintf(number, sizeof number, "%04d", i);
    NewItem(5, number, "仓库");
  }
  auto all = Numbers(*many);
  ASSERT_EQ(all.size(), 600u);
  EXPECT_TRUE(std::is_sorted(all.begin(), all.end()));
  EXPECT_EQ(all.front(), "0001");
  EXPECT_EQ(many->Count(), 600);
  EXPECT_EQ(Set(kItemSet)->Count(), 607) << "an unrestricted set counts every class";
}

TEST_F(ItemSetTest, EnumeratedItemsCarryTheirOwnStoredFields) {
  // Enough items of two classes that pages end inside a class and across one.
  for (int16_t cls : {int16_t{1}, int16_t{8}})
    for (int i = 1; i <= 300; ++i) {
      char number[8];
      std::snprintf(number, sizeof number, "%03d", i);
      auto item = NewItem(cls, number, "单位");
      if (i % 2) item->SetProperties("FAddress", Variant(std::to_string(cls) + "-" + number));
      if (i % 3 == 0) item->SetProperties("FCreditDays", Variant(i));
      item->SaveChanges();
    }
  for (int16_t restriction : {int16_t{0}, int16_t{8}}) {
    auto set = Set(kItemSet);
    set->SetRestriction("ItemClassID", Variant(restriction));
    int seen = 0;
    auto cursor = set->Enumerate();
    while (auto item = cursor->Next()) {
      ++seen;
      int cls = item->Get("ItemClassID").ToLong();
      int i = std::stoi(item->Number());
      if (i % 2)
        EXPECT_EQ(item->Properties("FAddress").ToText(), std::to_string(cls) + "-" + item->Number());
      else
        EXPECT_TRUE(item->Properties("FAddress").IsNull()) << item->Number();
      if (i % 3 == 0)
        EXPECT_EQ(item->Properties("FCreditDays").ToLong(), i);
      else
        EXPECT_TRUE(item->Properties("FCreditDays").IsNull());
    }
    EXPECT_EQ(seen, restriction == 0 ? 600 : 300);
  }
}

TEST_F(ItemSetTest, NumbersAreUniqueWithinAClassOnly) {
  auto first = NewItem(1, "01", "华联商厦");
  NewItem(8, "01", "华联商厦");   // another class: allowed
  NewItem(1, "02", "华联商厦");   // names may repeat
  auto dup = Items(1)->CreateNew({Variant(int16_t{1}), Variant(0)}, {{"Number", Variant("01")}});
  dup->Let("Name", Variant("重复"));
  EXPECT_EQ(ErrorOf([&] { dup->SaveChanges(); }), "核算项目类别“客户”中代码“01”已存在");
  EXPECT_EQ(dup->Get("ItemID").ToLong(), 0);
  EXPECT_EQ(Items(1)->Count(), 2);

  // Renumbering onto a taken number fails as a whole: the fields written
  // with it are not stored either.
  auto second = Items(1)->Item(Items(1)->ExistenceCheck({{"Number", Variant("02")}}));
  second->Let("Number", Variant("01"));
  second->SetProperties("FAddress", Variant("上海市"));
  EXPECT_EQ(ErrorOf([&] { second->SaveChanges(); }), "核算项目类别“客户”中代码“01”已存在");
  auto stored = Items(1)->Item(second->Get("ItemID").ToLong());
  EXPECT_EQ(stored->Number(), "02");
  EXPECT_TRUE(stored->Properties("FAddress").IsNull());

  // Saving an item again under its own number is no conflict.
  first->Let("Name", Variant("北京华联商厦"));
  EXPECT_NO_THROW(first->SaveChanges());
  EXPECT_EQ(Items(1)->Item(first->Get("ItemID").ToLong())->Name(), "北京华联商厦");
}

TEST_F(ItemSetTest, RestrictionsOtherSetsDoNotKnowAreRefused) {
  EXPECT_EQ(ErrorOf([&] { Set(kItemSet)->SetRestriction("TypeID", Variant(1)); }),
            "对象不支持该属性或方法：TypeID");
  EXPECT_EQ(ErrorOf([&] { Set(kItemClassSet)->SetRestriction("ItemClassID", Variant(1)); }),
            "对象不支持该属性或方法：ItemClassID");
  EXPECT_EQ(ErrorOf([&] { Set(kItemSet)->GetUnit(1); }), "对象不支持该属性或方法：GetUnit");
}

TEST_F(ItemSetTest, StandardItemClassesAreTheSameInEveryLedger) {
  auto classes = Set(kItemClassSet);
  classes->SetListOptions(1);
  classes->Refresh();
  std::vector<std::tuple<int32_t, std::string, std::string>> seen;
  auto cursor = classes->Enumerate();
  while (auto c = cursor->Next()) seen.emplace_back(c->Get("ItemClassID").ToLong(), c->Number(), c->Name());
  const std::vector<std::tuple<int32_t, std::string, std::string>> expected = {
      {1, "001", "客户"}, {2, "002", "部门"},   {3, "003", "职员"},     {4, "004", "物料"},
      {5, "005", "仓库"}, {8, "008", "供应商"}, {10, "010", "分支机构"},
  };
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(classes->Count(), 7);
  EXPECT_EQ(classes->Item(8)->Name(), "供应商");
  EXPECT_EQ(classes->Item(6), nullptr);
  EXPECT_EQ(classes->ExistenceCheck({{"Number", Variant("010")}}), 10);
  EXPECT_EQ(classes->ExistenceCheck({{"Name", Variant("职员")}}), 3);
  EXPECT_EQ(classes->GetNext()->Get("ItemClassID").ToLong(), 1);
  EXPECT_EQ(classes->GetNext()->Get("ItemClassID").ToLong(), 2);
  classes->Refresh();
  EXPECT_EQ(classes->GetNext()->Get("ItemClassID").ToLong(), 1);

  // A second ledger gives the same numbers for the same names.
  CreateLedger(dir.file("other.db"));
  Context().gPropsString = "Data Source=" + dir.file("other.db");
  auto other = Set(kItemClassSet);
  for (const auto& [id, number, name] : expected) EXPECT_EQ(other->Item(id)->Number(), number);
}

TEST_F(ItemSetTest, ANewItemClassGetsANewSmallId) {
  auto classes = Set(kItemClassSet);
  auto c = classes->CreateNew({}, {{"Number", Variant("011")}, {"Name", Variant("项目")}});
  c->SaveChanges();
  EXPECT_EQ(c->Get("ItemClassID").ToLong(), 11);
  // A class without a catalogue carries the fields every item has.
  auto item = NewItem(11, "01", "研发项目");
  EXPECT_EQ(item->Properties("FNumber").ToText(), "01");
  EXPECT_EQ(ErrorOf([&] { item->Properties("FAddress"); }), "核算项目类别“项目”没有字段“FAddress”");
}

}  // namespace
}  // namespace morvent::test

namespace morvent::test {
namespace {

// The parent search remembers what the ledger answered only while that
// answer cannot have gone stale.
TEST(ParentMemory, ALedgerParentIsAskedForOncePerRunAndAgainAfterALostWrite) {
  struct Case {
    const char* what;
    std::function<void(ParentResolver&)> between;
    int asks;
  };
  const Case cases[] = {
      {"same run", [](ParentResolver&) {}, 1},
      {"a new run", [](ParentResolver& r) { r.SetCollection(std::make_shared<RecordCollection>()); }, 2},
      {"a lost write", [](ParentResolver&) { NoteLostWrite("磁盘已满"); }, 2},
  };
  const auto saved = Context();
  Context().gCodingStyle = 1;
  Context().gImpStyle = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    int asks = 0;
    ParentResolver r({.existenceCheck = [&](const std::string& n) { return ++asks, n == "01" ? 5 : 0; }});
    PublicCallScope call;
    r.SetCollection(std::make_shared<RecordCollection>());
    const ParentRef parent{.present = true, .number = "01", .name = Variant("中心")};
    for (const char* child : {"01.01", "01.02"}) {
      if (std::string(child) == "01.02") c.between(r);
      int32_t id = 0;
      std::string number = child;
      r.CheckNumber(parent, id, number);
      EXPECT_EQ(id, 5);
    }
    EXPECT_EQ(asks, c.asks);
  }
  Context() = saved;
}

}  // namespace
}  // namespace morvent::test
