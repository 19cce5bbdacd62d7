// The demonstration ledger is consistent by the ledger's own rules.
#include <set>

#include "store/ledger_store.h"
#include "tests/support/ledger_fixture.h"

namespace morvent::test {
namespace {

using DemoLedgerTest = LedgerTest;

TEST_F(DemoLedgerTest, ChartIsFourLevelsDeepWithConsistentParentsAndItemClasses) {
  FillDemoLedger(path);
  auto accounts = Set(kAccountSet);
  std::set<int32_t> seen;
  int maxLevel = 0, withItems = 0, nullHelpers = 0;
  for (auto c = accounts->Enumerate(); auto a = c->Next();) {
    int32_t parent = a->Get("ParentID").ToLong();
    if (parent) {
      EXPECT_TRUE(seen.count(parent)) << a->Number() << " comes after its parent";
      auto p = accounts->Item(parent);
      EXPECT_EQ(p->Number() + a->Number().substr(p->Number().size()), a->Number());
      EXPECT_FALSE(p->Get("Detail").ToBool());
    }
    seen.insert(a->Get("AccountID").ToLong());
    maxLevel = std::max(maxLevel, static_cast<int>(a->Get("Level").ToLong()));
    auto items = a->Get("_Items").As<RecordCollection>();
    if (items->UBound() > 0) {
      ++withItems;
      for (int i = 1; i <= items->UBound(); ++i) EXPECT_FALSE(items->Item(i)->Value("FItemClassName").IsNull());
    }
    if (a->Get("HelperCode").IsNull()) ++nullHelpers;
    EXPECT_GE(a->Get("GroupID").ToLong(), 1);
    EXPECT_LE(a->Get("GroupID").ToLong(), 6);
  }
  EXPECT_EQ(maxLevel, 4);
  EXPECT_GT(withItems, 5);
  EXPECT_GT(nullHelpers, 0);
  auto receivable = accounts->Item(accounts->ExistenceCheck({{"Number", Variant("1122")}}));
  auto items = receivable->Get("_Items").As<RecordCollection>();
  ASSERT_EQ(items->UBound(), 1);
  EXPECT_EQ(items->Item(1)->Value("FItemClassName").ToText(), "客户");
}

TEST_F(DemoLedgerTest, CurrenciesVoucherGroupsAndUnitsAreFilled) {
  FillDemoLedger(path);
  auto currencies = Set(kCurrencySet);
  for (const char* n : {"RMB", "USD", "EUR", "HKD", "JPY"}) {
    int32_t id = currencies->ExistenceCheck({{"Number", Variant(n)}});
    ASSERT_GT(id, 0) << n;
    EXPECT_GT(currencies->Item(id)->Get("ExchangeRate").ToDouble(), 0);
  }
  auto vouchers = Set(kVoucherGroupSet);
  for (const char* n : {"记", "收", "付", "转"}) EXPECT_GT(vouchers->ExistenceCheck({{"Name", Variant(n)}}), 0) << n;
  EXPECT_GT(Set(kSettTypeSet)->Count(), 3);

  auto groups = Set(kMeasureUnitGroupSet);
  auto units = Set(kMeasureUnitSet);
  EXPECT_GE(groups->Count(), 3);
  for (auto c = groups->Enumerate(); auto g = c->Next();) {
    auto unit = units->GetUnit(g->Get("DefaultUnitID").ToLong());
    ASSERT_TRUE(unit) << g->Name();
    EXPECT_EQ(unit->Get("UnitGroupID").ToLong(), g->Get("GroupID").ToLong());
  }
  // The item side's demo items come with it.
  auto q = LedgerStore::ForPath(path)->Prepare("SELECT count(*) FROM t_Item");
  ASSERT_TRUE(q.Next());
  EXPECT_GT(q.Int(0), 0);
}

TEST_F(DemoLedgerTest, FillingTwiceFailsWithoutChangingTheLedger) {
  FillDemoLedger(path);
  int32_t before = Set(kCurrencySet)->Count();
  int32_t accountsBefore = Set(kAccountSet)->Count();
  EXPECT_EQ(ErrorOf([&] { FillDemoLedger(path); }), "币别代码 RMB 已存在");
  EXPECT_EQ(Set(kCurrencySet)->Count(), before);
  EXPECT_EQ(Set(kAccountSet)->Count(), accountsBefore);
}

}  // namespace
}  // namespace morvent::test
