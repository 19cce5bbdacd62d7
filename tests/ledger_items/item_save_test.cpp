// Saving an item that is already stored: what each kind of change writes,
// and what a save finds when the stored row is gone or its number taken.
#include <functional>
#include <optional>
#include <string>

#include "platform/call_scope.h"
#include "store/ledger_store.h"
#include "tests/support/ledger_fixture.h"

namespace morvent::test {
namespace {

using ItemSaveTest = LedgerTest;

TEST_F(ItemSaveTest, ASaveStoresExactlyTheChangedRowAndFields) {
  struct Case {
    const char* what;
    std::function<void(LedgerObject&)> change;
    const char* number;
    const char* name;
    const char* address;  // nullptr: no stored address
  };
  const Case cases[] = {
      {"a field only", [](LedgerObject& i) { i.SetProperties("FAddress", Variant("上海市")); }, "01", "华联商厦",
       "上海市"},
      {"the name only", [](LedgerObject& i) { i.Let("Name", Variant("北京华联")); }, "01", "北京华联", "北京"},
      {"the number through its field", [](LedgerObject& i) { i.SetProperties("FNumber", Variant("09")); }, "09",
       "华联商厦", "北京"},
      {"the same name again, and a field", [](LedgerObject& i) {
         i.Let("Name", Variant("华联商厦"));
         i.SetProperties("FAddress", Variant("天津市"));
       },
       "01", "华联商厦", "天津市"},
      {"a field cleared", [](LedgerObject& i) { i.SetProperties("FAddress", Variant::Null()); }, "01", "华联商厦",
       nullptr},
      {"nothing", [](LedgerObject&) {}, "01", "华联商厦", "北京"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto made = NewItem(1, "01", "华联商厦");
    made->SetProperties("FAddress", Variant("北京"));
    made->SaveChanges();
    const int32_t id = made->Get("ItemID").ToLong();

    auto item = Items(1)->Item(id);
    c.change(*item);
    item->SaveChanges();
    auto stored = Items(1)->Item(id);
    EXPECT_EQ(stored->Number(), c.number);
    EXPECT_EQ(stored->Name(), c.name);
    if (c.address)
      EXPECT_EQ(stored->Properties("FAddress").ToText(), c.address);
    else
      EXPECT_TRUE(stored->Properties("FAddress").IsNull());
    EXPECT_EQ(Items(1)->Count(), 1);
    LedgerStore::ForPath(path)->Exec("DELETE FROM t_Item");
  }
}

// Two objects of one item, each read before the other saved: each save
// stores its own changes only, so neither undoes the other's fields.
TEST_F(ItemSaveTest, SavesOfTwoObjectsOfOneItemKeepEachOthersFields) {
  auto made = NewItem(1, "01", "华联商厦");
  made->SetProperties("FAddress", Variant("北京"));
  made->SetProperties("FPhone", Variant("010-1"));
  made->SaveChanges();
  const int32_t id = made->Get("ItemID").ToLong();
  auto first = Items(1)->Item(id), second = Items(1)->Item(id);
  EXPECT_EQ(first->Properties("FAddress").ToText(), "北京");
  EXPECT_EQ(second->Properties("FPhone").ToText(), "010-1");
  first->SetProperties("FAddress", Variant("上海"));
  first->SaveChanges();
  second->SetProperties("FPhone", Variant::Null());
  second->SetProperties("FFax", Variant("010-2"));
  second->Let("Name", Variant("华联"));
  second->SaveChanges();
  auto stored = Items(1)->Item(id);
  EXPECT_EQ(stored->Properties("FAddress").ToText(), "上海");
  EXPECT_TRUE(stored->Properties("FPhone").IsNull());
  EXPECT_EQ(stored->Properties("FFax").ToText(), "010-2");
  EXPECT_EQ(stored->Get("Name").ToText(), "华联");
}

// The object that inserted an item in the open transaction sets its whole
// field text on its next save, unless another object of the item wrote in
// between: then the two merge as above.
TEST_F(ItemSaveTest, TheMakerOfAnItemKeepsWhatAnotherObjectWroteInTheSameTransaction) {
  for (const bool other : {false, true}) {
    SCOPED_TRACE(other ? "another object wrote between" : "the maker alone");
    const std::string number = other ? "02" : "01";
    int32_t id = 0;
    {
      PublicCallScope call;
      auto made = NewItem(1, number, "华联商厦");
      made->SetProperties("FAddress", Variant("北京"));
      made->SaveChanges();
      id = made->Get("ItemID").ToLong();
      if (other) {
        auto second = Items(1)->Item(id);
        second->SetProperties("FFax", Variant("010-2"));
        second->SaveChanges();
      }
      made->SetProperties("FPhone", Variant("010-1"));
      made->SetProperties("FAddress", Variant::Null());
      made->SaveChanges();
    }
    auto stored = Items(1)->Item(id);
    EXPECT_TRUE(stored->Properties("FAddress").IsNull());
    EXPECT_EQ(stored->Properties("FPhone").ToText(), "010-1");
    EXPECT_EQ(stored->Properties("FFax").IsNull(), !other);
    if (other) EXPECT_EQ(stored->Properties("FFax").ToText(), "010-2");
  }
}

TEST_F(ItemSaveTest, ASaveOfAnItemNoLongerStoredFailsAndLeavesNoFields) {
  // Each save changes something else, so the failure is found however the
  // row is (or is not) rewritten.
  const std::function<void(LedgerObject&)> changes[] = {
      [](LedgerObject& i) { i.SetProperties("FAddress", Variant("上海市")); },
      [](LedgerObject& i) { i.Let("Name", Variant("北京华联")); },
      [](LedgerObject&) {},
  };
  auto store = LedgerStore::ForPath(path);
  // Gone by SQL of its own, or by the rollback of the save that stored it;
  // inside a call the item was stored in the transaction still open.
  const std::function<void(LedgerObject&)> removals[] = {
      [&](LedgerObject& i) { store->Exec("DELETE FROM t_Item WHERE FItemID = " + i.Get("ItemID").ToText()); },
      [&](LedgerObject& i) { ErrorOf([&] { store->Write([&] { i.SaveChanges(), ThrowLedgerError("撤销"); }); }); },
  };
  int n = 0;
  for (bool inCall : {false, true})
    for (const auto& remove : removals)
      for (const auto& change : changes) {
        std::optional<PublicCallScope> call;
        if (inCall) call.emplace();
        auto item = Items(1)->CreateNew({Variant(int16_t{1}), Variant(0)}, {{"Number", Variant("0" + std::to_string(++n))}});
        item->Let("Name", Variant("华联商厦"));
        if (&remove == &removals[0]) item->SaveChanges();
        remove(*item);
        const std::string id = item->Get("ItemID").ToText();
        change(*item);
        EXPECT_EQ(ErrorOf([&] { item->SaveChanges(); }), "核算项目（ID " + id + "）已不存在");
        auto left = store->Prepare("SELECT COUNT(*) FROM t_ItemValue WHERE FItemID = ?");
        left.Bind(1, item->Get("ItemID").ToLong());
        ASSERT_TRUE(left.Next());
        EXPECT_EQ(left.Int(0), 0) << "no field of a gone item is stored";
      }

  // Gone, and its number taken by another item since: the number is named
  // first, as for any save onto a taken number.
  auto gone = NewItem(1, "02", "华联商厦");
  store->Exec("DELETE FROM t_Item WHERE FItemID = " + gone->Get("ItemID").ToText());
  NewItem(1, "02", "百货大楼");
  gone->SetProperties("FAddress", Variant("上海市"));
  EXPECT_EQ(ErrorOf([&] { gone->SaveChanges(); }), "核算项目类别“客户”中代码“02”已存在");
}

TEST_F(ItemSaveTest, AFailedSaveCanBeMendedAndSavedAgain) {
  NewItem(1, "01", "华联商厦");
  auto item = Items(1)->CreateNew({Variant(int16_t{1}), Variant(0)}, {{"Number", Variant("01")}});
  item->Let("Name", Variant("百货大楼"));
  item->SetProperties("FAddress", Variant("上海市"));
  EXPECT_EQ(ErrorOf([&] { item->SaveChanges(); }), "核算项目类别“客户”中代码“01”已存在");
  item->Let("Number", Variant("02"));
  item->SaveChanges();
  auto stored = Items(1)->Item(item->Get("ItemID").ToLong());
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored->Number(), "02");
  EXPECT_EQ(stored->Name(), "百货大楼");
  EXPECT_EQ(stored->Properties("FAddress").ToText(), "上海市");

  // A renumbering refused by the index leaves the item usable as well.
  stored->Let("Number", Variant("01"));
  EXPECT_EQ(ErrorOf([&] { stored->SaveChanges(); }), "核算项目类别“客户”中代码“01”已存在");
  stored->Let("Number", Variant("03"));
  stored->SaveChanges();
  EXPECT_EQ(Items(1)->Item(item->Get("ItemID").ToLong())->Number(), "03");
}

}  // namespace
}  // namespace morvent::test
