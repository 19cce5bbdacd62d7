// The account, voucher-group and item-class sets driven the way their
// handlers drive them: import stores an account twice and then its item
// classes through the update service; export reads every property back with
// the defaults the handlers apply to Null.
#include <algorithm>
#include <tuple>
#include <vector>

#include "tests/ledger_contract/contract_fixture.h"

namespace morvent::test {
namespace {

class AccountContract : public ContractTest {
 protected:
  ObjectSetPtr Accounts() { return Open(kAccountSet, int16_t{100}); }

  // The import's first store: name, number and account type only.
  LedgerObjectPtr FirstStore(const ObjectSetPtr& set, const std::string& number, const std::string& name,
                             int32_t groupId) {
    EXPECT_LT(set->ExistenceCheck({{"Number", Variant(number)}}), 1);
    auto acct = set->CreateNew({}, {{"Number", Variant(number)}});
    acct->Let("Name", Variant(name));
    acct->Let("Number", Variant(number));
    acct->Let("GroupID", Variant(groupId));
    acct->SaveChanges();
    return acct;
  }
  int32_t NewCurrency(const std::string& number) {
    auto c = Open(kCurrencySet, int16_t{2})->CreateNew({}, {{"Number", Variant(number)}});
    c->Let("Name", Variant(number));
    c->SaveChanges();
    return c->Get("CurrencyID").ToLong();
  }
  int32_t NewUnit(const std::string& name) {
    auto g = Open(kMeasureUnitGroupSet)->CreateNew({}, {});
    g->Let("Name", Variant("组" + name));
    g->SaveChanges();
    auto units = CreateObjectAs<ObjectSet>(kMeasureUnitSet);
    units->SetRestriction("UnitGroupID", Variant(g->Get("GroupID").ToLong()));
    units->Refresh();
    auto u = units->CreateNew({}, {});
    u->Let("Name", Variant(name));
    u->SaveChanges();
    return u->Get("MeasureUnitID").ToLong();
  }
  // The item-class rows the import hands to the update service.
  static RecordCollectionPtr Attached(std::initializer_list<int32_t> classIds) {
    auto out = std::make_shared<RecordCollection>();
    for (int32_t id : classIds) out->Add(Rec({{"FItemClassID", Variant(id)}, {"FBalChecked", Variant(true)}}));
    return out;
  }
  void SendItemClasses(const ObjectSetPtr& set, int32_t id, const RecordCollectionPtr& out) {
    auto obj = set->Item(id);
    ASSERT_TRUE(obj);
    auto dict = obj->Dictionary();
    dict->SetValue("FAccountItem", Variant(out));
    CreateObjectAs<AccountUpdate>(kAccountUpdate)->Update(props, id, dict);
  }
};

TEST_P(AccountContract, ImportStoresTwiceThenItemClassesAndExportReadsItAllBack) {
  int32_t usd = NewCurrency("USD");
  int32_t kg = NewUnit("千克");
  auto set = Accounts();
  auto acct = FirstStore(set, "1001", "现金", 1);
  EXPECT_GT(acct->Get("AccountID").ToLong(), 0) << "the first store must give the account its ID";

  // The record's texts as the data file gives them, flags as the handler
  // computes them.
  acct->Let("HelperCode", Variant("XJ"));
  acct->Let("DC", Variant("0"));
  acct->Let("AdjustRate", Variant(true));
  acct->Let("Contact", Variant(false));
  acct->Let("Quantities", Variant(true));
  acct->Let("IsCash", Variant(true));
  acct->Let("IsBank", Variant(false));
  acct->Let("Journal", Variant(true));
  acct->Let("IsCashFlow", Variant(true));
  acct->Let("Acctint", Variant(false));
  acct->Let("IntRate", Variant("0.035"));
  acct->Let("CurrencyID", Variant(usd));
  acct->Let("MeasureUnitID", Variant(kg));
  acct->SaveChanges();
  int32_t id = acct->Get("AccountID").ToLong();
  SendItemClasses(set, id, Attached({1, 2}));

  auto again = Accounts();
  EXPECT_EQ(again->Count(), 1);
  auto cursor = again->Enumerate();
  auto listed = cursor->Next();
  ASSERT_TRUE(listed);
  EXPECT_FALSE(cursor->Next());
  auto obj = again->Item(listed->Get("AccountID").ToLong());
  ASSERT_TRUE(obj);
  EXPECT_EQ(obj->Number(), "1001");
  EXPECT_EQ(obj->Name(), "现金");
  EXPECT_EQ(NullToDefault(obj->Get("HelperCode"), Variant("")).ToText(), "XJ");
  EXPECT_EQ(NullToDefault(obj->Get("DC"), Variant(int32_t{1})).ToLong(), 0);
  EXPECT_EQ(NullToDefault(obj->Get("Level"), Variant("")).ToText(), "1");
  EXPECT_TRUE(NullToDefault(obj->Get("Detail"), Variant(true)).ToBool());
  EXPECT_TRUE(obj->Get("AdjustRate").ToBool());
  EXPECT_FALSE(obj->Get("Contact").ToBool());
  EXPECT_TRUE(obj->Get("IsCashFlow").ToBool());
  EXPECT_FALSE(obj->Get("Acctint").ToBool());
  EXPECT_DOUBLE_EQ(obj->Get("IntRate").ToDouble(), 0.035);
  EXPECT_EQ(obj->Get("CurrencyID").ToLong(), usd);
  EXPECT_EQ(obj->Get("GroupID").ToLong(), 1);
  EXPECT_EQ(obj->Get("MeasureUnitID").ToLong(), kg);
  EXPECT_EQ(NullToDefault(obj->Get("ParentID"), Variant(int32_t{0})).ToLong(), 0);

  auto items = obj->Get("_Items").As<RecordCollection>();
  ASSERT_TRUE(items);
  ASSERT_EQ(items->UBound() - items->LBound() + 1, 2);
  EXPECT_EQ(items->Item(items->LBound())->Value("FItemClassName").ToText(), "客户");
  EXPECT_EQ(items->Item(items->LBound())->Value("FItemClassNumber").ToText(), "001");
  EXPECT_EQ(items->Item(items->UBound())->Value("FItemClassName").ToText(), "部门");
}

TEST_P(AccountContract, AccountWithNothingButNumberAndNameReadsAsNoneForEveryReference) {
  auto set = Accounts();
  auto acct = set->CreateNew({}, {{"Number", Variant("2001")}});
  acct->Let("Name", Variant("短期借款"));
  acct->Let("Number", Variant("2001"));
  acct->SaveChanges();

  auto obj = Accounts()->Item(acct->Get("AccountID").ToLong());
  ASSERT_TRUE(obj);
  for (const char* ref : {"CurrencyID", "GroupID", "MeasureUnitID", "ParentID"})
    EXPECT_EQ(NullToDefault(obj->Get(ref), Variant(int32_t{0})).ToLong(), 0) << ref;
  for (const char* flag : {"AdjustRate", "Contact", "Quantities", "IsCash", "IsBank", "Journal"})
    EXPECT_TRUE(NullToDefault(obj->Get(flag), Variant(true)).ToBool()) << flag;
  EXPECT_EQ(NullToDefault(obj->Get("DC"), Variant(int32_t{1})).ToLong(), 1);
  EXPECT_EQ(NullToDefault(obj->Get("IntRate"), Variant(int32_t{0})).ToDouble(), 0);
  // "_Items" exists for every account, so its "ItemClass" list is written
  // even when empty.
  auto items = obj->Get("_Items").As<RecordCollection>();
  ASSERT_TRUE(items);
  EXPECT_EQ(items->UBound(), items->LBound() - 1);
}

TEST_P(AccountContract, ChildFindsItsParentThroughFParentIdAndParentIsNoLongerDetail) {
  auto set = Accounts();
  FirstStore(set, "1002", "银行存款", 1);
  auto child = FirstStore(set, "1002.01", "工商银行", 1);

  auto again = Accounts();
  auto obj = again->Item(child->Get("AccountID").ToLong());
  ASSERT_TRUE(obj);
  ASSERT_GT(NullToDefault(obj->Get("ParentID"), Variant(int32_t{0})).ToLong(), 0);
  auto parent = again->Item(obj->Properties("FParentID").ToLong());
  ASSERT_TRUE(parent);
  EXPECT_EQ(parent->Number(), "1002");
  EXPECT_FALSE(parent->Get("Detail").ToBool());
  EXPECT_EQ(obj->Get("Level").ToLong(), 2);

  // Export order puts the parent first.
  auto cursor = again->Enumerate();
  EXPECT_EQ(cursor->Next()->Number(), "1002");
  EXPECT_EQ(cursor->Next()->Number(), "1002.01");
}

TEST_P(AccountContract, OverwritingAParentWithChildrenAndClearingItsItemClasses) {
  auto set = Accounts();
  auto parent = FirstStore(set, "1122", "应收账款", 1);
  FirstStore(set, "1122.01", "甲公司", 1);
  int32_t id = parent->Get("AccountID").ToLong();
  SendItemClasses(set, id, Attached({1}));

  // Overwrite as the import does: found by number, fetched by ID, written
  // with the same number, stored twice, then an empty class list sent.
  auto again = Accounts();
  int32_t found = again->ExistenceCheck({{"Number", Variant("1122")}});
  ASSERT_EQ(found, id);
  auto acct = again->Item(found);
  acct->Let("Name", Variant("应收账款（新）"));
  acct->Let("Number", Variant("1122"));
  acct->Let("GroupID", Variant(int32_t{0}));  // a type the ledger lacks: none
  EXPECT_EQ(ErrorOf([&] { acct->SaveChanges(); }), "");
  acct->Let("HelperCode", Variant(""));
  acct->SaveChanges();
  SendItemClasses(again, id, Attached({}));

  auto obj = Accounts()->Item(id);
  EXPECT_EQ(obj->Name(), "应收账款（新）");
  EXPECT_EQ(obj->Get("GroupID").ToLong(), 0);
  EXPECT_EQ(obj->Get("_Items").As<RecordCollection>()->UBound(), 0);
}

TEST_P(AccountContract, ItemClassWithIdZeroAttachesNothingAndUnknownAccountIsRefused) {
  auto set = Accounts();
  int32_t id = FirstStore(set, "1123", "预付账款", 1)->Get("AccountID").ToLong();
  SendItemClasses(set, id, Attached({0, 8}));
  auto items = Accounts()->Item(id)->Get("_Items").As<RecordCollection>();
  ASSERT_EQ(items->UBound(), 1);
  EXPECT_EQ(items->Item(1)->Value("FItemClassName").ToText(), "供应商");

  auto lone = NewRecord();
  lone->SetValue("FAccountItem", Variant(Attached({1})));
  EXPECT_EQ(ErrorOf([&] { CreateObjectAs<AccountUpdate>(kAccountUpdate)->Update(props, 9999, lone); }),
            "科目（内码 9999）不存在");
  EXPECT_FALSE(Accounts()->Item(9999)) << "CheckID and GetInfo rely on nothing for an unknown ID";
}

// ---- voucher groups --------------------------------------------------------

class VoucherGroupContract : public ContractTest {
 protected:
  static constexpr const char* kRanges[] = {"CRange", "DRange", "NCRange", "NDRange", "NDCRange", "DCRange"};
  ObjectSetPtr Groups() { return Open(kVoucherGroupSet, int16_t{1}); }
};

TEST_P(VoucherGroupContract, ImportMatchesByNameAndOverwritingClearsRanges) {
  auto set = Groups();
  ASSERT_LT(set->ExistenceCheck({{"Name", Variant("记")}}), 1);
  auto g = set->CreateNew({}, {{"Name", Variant("记")}});
  g->Let("Name", Variant("记"));
  for (const char* r : kRanges) g->Let(r, Variant(std::string(r) + ":1001"));
  g->SaveChanges();
  int32_t id = g->Get("VoucherGroupID").ToLong();
  ASSERT_GT(id, 0);

  auto again = Groups();
  EXPECT_EQ(again->ExistenceCheck({{"Name", Variant("记")}}), id);
  auto obj = again->Item(id);
  ASSERT_TRUE(obj);
  EXPECT_EQ(obj->Get("DCRange").ToText(), "DCRange:1001");
  // Overwrite from a record without range keys: empty texts everywhere.
  obj->Let("Name", Variant("记"));
  for (const char* r : kRanges) obj->Let(r, Variant(""));
  obj->SaveChanges();
  auto read = Groups()->Item(id);
  for (const char* r : kRanges) EXPECT_EQ(NullToDefault(read->Get(r), Variant("")).ToText(), "") << r;
}

TEST_P(VoucherGroupContract, ExportCountsAndEnumeratesAndNullRangesReadAsNull) {
  auto set = Groups();
  auto g = set->CreateNew({}, {{"Name", Variant("收")}});
  g->SaveChanges();
  auto again = Groups();
  EXPECT_EQ(again->Count(), 1);
  auto obj = again->Enumerate()->Next();
  ASSERT_TRUE(obj);
  EXPECT_EQ(obj->Name(), "收");
  for (const char* r : kRanges) EXPECT_TRUE(obj->Get(r).IsNull()) << r;
  EXPECT_FALSE(again->Item(obj->Get("VoucherGroupID").ToLong() + 1));
}

// A data file may hold a Null key (xsi:nil); matching on it finds nothing
// rather than failing, on every set the handlers match by a record value.
TEST_P(ContractTest, MatchingOnANullKeyFindsNothing) {
  const Variant null = Variant::Null();
  EXPECT_LT(Open(kAccountSet, int16_t{100})->ExistenceCheck({{"Number", null}}), 1);
  EXPECT_LT(Open(kVoucherGroupSet, int16_t{1})->ExistenceCheck({{"Name", null}}), 1);
  auto groups = Open(kMeasureUnitGroupSet);
  EXPECT_LT(groups->ExistenceCheck({{"Name", null}}), 1);
  auto g = groups->CreateNew({}, {});
  g->Let("Name", Variant("重量"));
  g->SaveChanges();
  EXPECT_LT(g->Call("ExistenceCheck", {}, {{"Name", null}}).ToLong(), 1);
  EXPECT_LT(Items(1)->ExistenceCheck({{"Number", null}, {"ItemClassID", Variant(int16_t{1})}}), 1);
}

// ---- item classes ----------------------------------------------------------

TEST_P(ContractTest, ItemClassLookupWalksNamesAndNumbersOfEveryClass) {
  auto set = Open(kItemClassSet, int16_t{1});
  set->Refresh();
  std::vector<std::tuple<int32_t, std::string, std::string>> seen;
  auto cursor = set->Enumerate();
  while (auto c = cursor->Next()) {
    ASSERT_FALSE(c->Get("Name").IsNull());
    ASSERT_FALSE(c->Get("Number").IsNull());
    seen.emplace_back(c->Get("ItemClassID").ToLong(), c->Name(), c->Number());
  }
  // Matching needs both name and number; the standard classes are these.
  EXPECT_NE(std::find(seen.begin(), seen.end(), std::make_tuple(8, std::string("供应商"), std::string("008"))),
            seen.end());
  EXPECT_NE(std::find(seen.begin(), seen.end(), std::make_tuple(1, std::string("客户"), std::string("001"))),
            seen.end());
  auto one = set->Item(int32_t{2});
  ASSERT_TRUE(one);
  EXPECT_EQ(one->Name(), "部门");
  EXPECT_FALSE(set->Item(int32_t{9999}));
}

}  // namespace
INSTANTIATE_TEST_SUITE_P(Engines, AccountContract, BothEngines(), EngineName);
INSTANTIATE_TEST_SUITE_P(Engines, VoucherGroupContract, BothEngines(), EngineName);
INSTANTIATE_TEST_SUITE_P(Engines, ContractTest, BothEngines(), EngineName);

}  // namespace morvent::test
