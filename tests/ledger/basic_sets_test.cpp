// Currencies, settlement methods and voucher groups through their sets.
#include <vector>

#include "store/ledger_store.h"
#include "tests/support/ledger_fixture.h"

namespace morvent::test {
namespace {

using CurrencySetTest = LedgerTest;

LedgerObjectPtr NewCurrency(ObjectSet& set, const std::string& number, const std::string& name, double rate) {
  auto c = set.CreateNew({}, {{"Number", Variant(number)}});
  c->Let("Name", Variant(name));
  c->Let("ExchangeRate", Variant(rate));
  c->Let("Operator", Variant("*"));
  c->Let("ScaleX", Variant(int32_t{2}));
  c->SaveChanges();
  return c;
}

TEST_F(CurrencySetTest, StoresAndReadsBackEveryProperty) {
  auto set = Set(kCurrencySet);
  set->SetListOptions(2);
  set->Refresh();
  auto usd = set->CreateNew({}, {{"number", Variant("USD")}});
  EXPECT_EQ(usd->Get("CurrencyID").ToLong(), 0);
  usd->Let("Name", Variant("美元"));
  usd->Let("exchangerate", Variant("7.12"));  // text converts like any variant
  usd->Let("Operator", Variant("/"));
  usd->SaveChanges();
  int32_t id = usd->Get("CurrencyID").ToLong();
  EXPECT_GT(id, 0);

  auto again = Set(kCurrencySet)->Item(id);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->Name(), "美元");
  EXPECT_EQ(again->Number(), "USD");
  EXPECT_EQ(again->Get("ExchangeRate").Type(), VarType::Double);
  EXPECT_DOUBLE_EQ(again->Get("ExchangeRate").ToDouble(), 7.12);
  EXPECT_EQ(again->Get("Operator").ToText(), "/");
  EXPECT_TRUE(again->Get("ScaleX").IsNull());  // never written
  EXPECT_EQ(again->Properties("FNumber").ToText(), "USD");
  EXPECT_EQ(again->Properties("FCurrencyID").ToLong(), id);

  again->Let("ScaleX", Variant(int32_t{4}));
  again->Let("Name", Variant::Null());
  again->SaveChanges();
  auto third = set->Item(id);
  EXPECT_EQ(third->Get("ScaleX").ToLong(), 4);
  EXPECT_TRUE(third->Get("Name").IsNull());
  EXPECT_EQ(third->Get("CurrencyID").ToLong(), id);
}

TEST_F(CurrencySetTest, LookupsByNumberAndId) {
  auto set = Set(kCurrencySet);
  auto rmb = NewCurrency(*set, "RMB", "人民币", 1);
  auto usd = NewCurrency(*set, "USD", "美元", 7.1);
  EXPECT_EQ(set->ExistenceCheck({{"Number", Variant("USD")}}), usd->Get("CurrencyID").ToLong());
  EXPECT_EQ(set->ExistenceCheck({{"Name", Variant("人民币")}}), rmb->Get("CurrencyID").ToLong());
  EXPECT_LT(set->ExistenceCheck({{"Number", Variant("usd")}}), 1);  // exact match
  EXPECT_LT(set->ExistenceCheck({{"Number", Variant("EUR")}}), 1);
  EXPECT_EQ(set->Item(9999), nullptr);
  EXPECT_EQ(set->Count(), 2);
}

TEST_F(CurrencySetTest, DuplicateNumberIsRefusedAndNothingIsStored) {
  auto set = Set(kCurrencySet);
  NewCurrency(*set, "USD", "美元", 7.1);
  auto twin = set->CreateNew({}, {{"Number", Variant("USD")}});
  twin->Let("Name", Variant("美金"));
  EXPECT_EQ(ErrorOf([&] { twin->SaveChanges(); }), "币别代码 USD 已存在");
  EXPECT_EQ(twin->Get("CurrencyID").ToLong(), 0);
  EXPECT_EQ(set->Count(), 1);

  // Renaming an existing currency onto another's number is refused the same way.
  auto eur = NewCurrency(*set, "EUR", "欧元", 7.8);
  eur->Let("Number", Variant("USD"));
  EXPECT_EQ(ErrorOf([&] { eur->SaveChanges(); }), "币别代码 USD 已存在");
  EXPECT_EQ(set->Item(eur->Get("CurrencyID").ToLong())->Number(), "EUR");
  // Saving itself again is no conflict.
  auto same = set->Item(eur->Get("CurrencyID").ToLong());
  same->Let("Name", Variant("欧元区"));
  EXPECT_NO_THROW(same->SaveChanges());
}

TEST_F(CurrencySetTest, UnknownNamesAndReadOnlyIdsRaiseErrorsNamingThem) {
  auto set = Set(kCurrencySet);
  auto c = NewCurrency(*set, "HKD", "港币", 0.91);
  EXPECT_EQ(ErrorOf([&] { c->Get("Rate"); }), "币别没有属性“Rate”");
  EXPECT_EQ(ErrorOf([&] { c->Let("Scale", Variant(1)); }), "币别没有属性“Scale”");
  EXPECT_EQ(ErrorOf([&] { c->Properties("FRate"); }), "币别没有字段“FRate”");
  EXPECT_EQ(ErrorOf([&] { c->SetProperties("FRate", Variant(1)); }), "币别没有字段“FRate”");
  EXPECT_EQ(ErrorOf([&] { c->Let("CurrencyID", Variant(5)); }), "币别的属性“CurrencyID”是只读的");
  EXPECT_EQ(ErrorOf([&] { set->ExistenceCheck({{"Code", Variant("HKD")}}); }), "币别没有属性“Code”，不能按它查找");
  EXPECT_EQ(ErrorOf([&] { set->SetRestriction("UnitGroupID", Variant(1)); }),
            "对象不支持该属性或方法：UnitGroupID");
  EXPECT_EQ(ErrorOf([&] { c->Dictionary(); }), "对象不支持该属性或方法：Dictionary");
  EXPECT_EQ(ErrorOf([&] { c->Let("ScaleX", Variant("两位")); }), "类型不匹配");
  EXPECT_EQ(ErrorOf([&] { c->Let("Number", Variant::Null()); c->SaveChanges(); }), "币别代码不能为空值");
}

TEST_F(CurrencySetTest, EnumerationStreamsInIdOrderAcrossBatchesAndGetNextRestarts) {
  auto set = Set(kCurrencySet);
  const int n = 600;  // more than two batches
  for (int i = 0; i < n; ++i) {
    auto c = set->CreateNew({}, {{"Number", Variant("C" + std::to_string(n - i))}});
    c->SaveChanges();
  }
  set->Refresh();
  EXPECT_EQ(set->Count(), n);
  auto cursor = set->Enumerate();
  int seen = 0, lastId = 0;
  while (auto obj = cursor->Next()) {
    int id = obj->Get("CurrencyID").ToLong();
    EXPECT_GT(id, lastId);
    lastId = id;
    ++seen;
  }
  EXPECT_EQ(seen, n);
  EXPECT_EQ(cursor->Next(), nullptr);

  auto first = set->GetNext();
  auto second = set->GetNext();
  EXPECT_EQ(first->Number(), "C600");
  EXPECT_EQ(second->Number(), "C599");
  set->Refresh();
  EXPECT_EQ(set->GetNext()->Number(), "C600");
}

TEST_F(CurrencySetTest, ReleasingASetAfterGetNextClosesTheLedger) {
  std::weak_ptr<LedgerStore> weak;
  {
    auto set = Set(kCurrencySet);
    NewCurrency(*set, "RMB", "人民币", 1);
    EXPECT_TRUE(set->GetNext());
    auto cursor = set->Enumerate();
    set.reset();
    EXPECT_TRUE(cursor->Next());  // a cursor handed out keeps its set alive
    weak = LedgerStore::ForProps(props);
  }
  EXPECT_TRUE(weak.expired());
}

TEST_F(CurrencySetTest, EmptySetEnumeratesNothing) {
  auto set = Set(kCurrencySet);
  set->Refresh();
  EXPECT_EQ(set->Count(), 0);
  EXPECT_EQ(set->Enumerate()->Next(), nullptr);
  EXPECT_EQ(set->GetNext(), nullptr);
}

using SettleSetTest = LedgerTest;

TEST_F(SettleSetTest, NumbersMayRepeatAndLookupsAnswerTheFirst) {
  auto set = Set(kSettTypeSet);
  set->SetListOptions(1);
  set->Refresh();
  std::vector<int32_t> ids;
  for (const char* name : {"现金", "现金支票", "现金"}) {
    auto s = set->CreateNew({}, {{"Number", Variant("JS01")}});
    s->Let("Name", Variant(name));
    s->SaveChanges();
    ids.push_back(s->Get("ItemID").ToLong());
  }
  EXPECT_LT(ids[0], ids[1]);
  EXPECT_EQ(set->ExistenceCheck({{"Number", Variant("JS01")}}), ids[0]);
  EXPECT_EQ(set->ExistenceCheck({{"Name", Variant("现金支票")}}), ids[1]);
  EXPECT_EQ(set->Count(), 3);
  auto s = set->Item(ids[2]);
  EXPECT_TRUE(s->Get("BrNo").IsNull());
  s->Let("BrNo", Variant("001"));
  s->SaveChanges();
  EXPECT_EQ(set->Item(ids[2])->Get("brno").ToText(), "001");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(set->GetNext()->Get("ItemID").ToLong(), ids[i]);
  EXPECT_EQ(set->GetNext(), nullptr);
}

using VoucherGroupSetTest = LedgerTest;

TEST_F(VoucherGroupSetTest, RangesRoundTripAndNamesMayRepeat) {
  auto set = Set(kVoucherGroupSet);
  set->SetListOptions(1);
  set->Refresh();
  auto g = set->CreateNew({}, {{"Name", Variant("收")}});
  g->Let("CRange", Variant("1001,1002"));
  g->Let("NDCRange", Variant(""));
  g->SaveChanges();
  auto twin = set->CreateNew({}, {{"Name", Variant("收")}});
  EXPECT_NO_THROW(twin->SaveChanges());
  int32_t id = g->Get("VoucherGroupID").ToLong();
  EXPECT_EQ(set->ExistenceCheck({{"Name", Variant("收")}}), id);
  auto back = set->Item(id);
  EXPECT_EQ(back->Get("CRange").ToText(), "1001,1002");
  EXPECT_EQ(back->Get("NDCRange").ToText(), "");
  EXPECT_TRUE(back->Get("DRange").IsNull());
  EXPECT_EQ(back->Properties("FGroupID").ToLong(), id);
  EXPECT_EQ(set->Count(), 2);
}

}  // namespace
}  // namespace morvent::test
