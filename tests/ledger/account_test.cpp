// Accounts: the chart derived from numbers, ordering, extended properties.
#include <optional>

#include "platform/call_scope.h"
#include "store/ledger_store.h"
#include "tests/support/ledger_fixture.h"

namespace morvent::test {
namespace {

class AccountTest : public LedgerTest {
 protected:
  void SetUp() override {
    LedgerTest::SetUp();
    accounts = Set(kAccountSet);
    accounts->SetListOptions(100);
    accounts->Refresh();
  }
  LedgerObjectPtr Add(const std::string& number, const std::string& name = "科目") {
    auto a = accounts->CreateNew({}, {{"Number", Variant(number)}});
    a->Let("Name", Variant(name));
    a->SaveChanges();
    return a;
  }
  int32_t Id(const std::string& number) { return accounts->ExistenceCheck({{"Number", Variant(number)}}); }
  ObjectSetPtr accounts;
};

TEST_F(AccountTest, ParentLevelAndDetailFollowFromTheNumber) {
  auto cash = Add("1001", "库存现金");
  EXPECT_EQ(cash->Get("ParentID").ToLong(), 0);
  EXPECT_EQ(cash->Get("Level").ToLong(), 1);
  EXPECT_TRUE(cash->Get("Detail").ToBool());

  auto rmb = Add("1001.01", "人民币");
  auto note = Add("1001.01.001", "零钱");
  EXPECT_EQ(rmb->Get("ParentID").ToLong(), cash->Get("AccountID").ToLong());
  EXPECT_EQ(rmb->Properties("FParentID").ToLong(), cash->Get("AccountID").ToLong());
  EXPECT_EQ(note->Get("Level").ToLong(), 3);
  EXPECT_TRUE(note->Get("Detail").ToBool());

  // Stored parents are no longer detail accounts.
  EXPECT_FALSE(accounts->Item(Id("1001"))->Get("Detail").ToBool());
  EXPECT_FALSE(accounts->Item(Id("1001.01"))->Get("Detail").ToBool());
  EXPECT_EQ(accounts->Item(Id("1001.01.001"))->Properties("FLevel").ToLong(), 3);
}

TEST_F(AccountTest, MissingParentIsRefusedAndNothingIsStored) {
  Add("1002", "银行存款");
  auto orphan = accounts->CreateNew({}, {{"Number", Variant("1002.01.001")}});
  EXPECT_EQ(ErrorOf([&] { orphan->SaveChanges(); }), "科目代码 1002.01.001 的上级科目 1002.01 不存在");
  EXPECT_EQ(orphan->Get("AccountID").ToLong(), 0);
  EXPECT_EQ(accounts->Count(), 1);
  EXPECT_TRUE(accounts->Item(Id("1002"))->Get("Detail").ToBool());
}

// A new account is stored whole or not at all, whichever step refuses it,
// grouped in a call or alone, and a taken number is named first.
TEST_F(AccountTest, ANewAccountIsStoredWholeOrNotAtAll) {
  auto store = LedgerStore::ForProps(props);
  Add("1001", "库存现金");
  // Rows another program stored: one whose parent is missing, and a
  // trigger refusing any change of a parent's Detail.
  store->Exec("INSERT INTO t_Account (FNumber, FName) VALUES ('9.1', '孤')");
  store->Exec("CREATE TRIGGER keep_detail BEFORE UPDATE OF FDetail ON t_Account "
              "BEGIN SELECT RAISE(ABORT, '不许改明细'); END");
  const struct {
    const char* number;
    std::string error;
  } cases[] = {
      {"9.1", "科目代码 9.1 已存在"},  // its parent is missing too
      {"1001", "科目代码 1001 已存在"},
      {"8.1", "科目代码 8.1 的上级科目 8 不存在"},
      {"1001.01", "账套操作失败：不许改明细"},  // refused after the row was in
  };
  for (bool grouped : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.number) + (grouped ? " in a call" : " alone"));
      std::optional<PublicCallScope> call;
      if (grouped) call.emplace();
      auto a = accounts->CreateNew({}, {{"Number", Variant(c.number)}});
      EXPECT_EQ(ErrorOf([&] { a->SaveChanges(); }), c.error);
      EXPECT_EQ(a->Get("AccountID").ToLong(), 0);
      EXPECT_FALSE(LostWritePending()) << "only the account's own work is undone";
      call.reset();
      EXPECT_EQ(accounts->Count(), 2);
      EXPECT_EQ(OutsideCount(path, "SELECT count(*) FROM t_Account"), 2);
      EXPECT_TRUE(accounts->Item(Id("1001"))->Get("Detail").ToBool());
    }
  }
  store->Exec("DROP TRIGGER keep_detail");
  auto child = Add("1001.01");
  EXPECT_GT(child->Get("AccountID").ToLong(), Id("9.1"));
  EXPECT_FALSE(accounts->Item(Id("1001"))->Get("Detail").ToBool());
}

TEST_F(AccountTest, NumbersAreUniqueAndNamesMayRepeat) {
  Add("1001", "库存现金");
  EXPECT_EQ(ErrorOf([&] { Add("1001", "现金"); }), "科目代码 1001 已存在");
  EXPECT_NO_THROW(Add("1002", "库存现金"));
  EXPECT_EQ(accounts->Count(), 2);
}

TEST_F(AccountTest, DerivedPropertiesAreReadOnly) {
  auto a = Add("1001");
  EXPECT_EQ(ErrorOf([&] { a->Let("ParentID", Variant(3)); }), "科目的属性“ParentID”是只读的");
  EXPECT_EQ(ErrorOf([&] { a->Let("Level", Variant(3)); }), "科目的属性“Level”是只读的");
  EXPECT_EQ(ErrorOf([&] { a->SetProperties("FParentID", Variant(3)); }), "科目的字段“FParentID”是只读的");
  EXPECT_EQ(ErrorOf([&] { a->Let("AccountID", Variant(3)); }), "科目的属性“AccountID”是只读的");
  EXPECT_EQ(ErrorOf([&] { a->Get("Parent"); }), "科目没有属性“Parent”");
}

TEST_F(AccountTest, RenumberingMovesALeafAndRefusesAParent) {
  Add("1001");
  Add("1002");
  auto leaf = Add("1001.01");
  leaf->Let("Number", Variant("1002.01"));
  leaf->SaveChanges();
  EXPECT_EQ(leaf->Get("ParentID").ToLong(), Id("1002"));
  EXPECT_TRUE(accounts->Item(Id("1001"))->Get("Detail").ToBool());  // lost its only child
  EXPECT_FALSE(accounts->Item(Id("1002"))->Get("Detail").ToBool());

  auto parent = accounts->Item(Id("1002"));
  parent->Let("Number", Variant("1003"));
  EXPECT_EQ(ErrorOf([&] { parent->SaveChanges(); }), "科目 1002 有下级科目，不能修改科目代码");
  EXPECT_EQ(Id("1003"), 0);
}

TEST_F(AccountTest, EnumerationFollowsNumbersParentsFirst) {
  for (const char* n : {"2001", "1001", "1002", "1001.02", "1001.01", "1001.01.01", "1002.01"}) Add(n);
  std::vector<std::string> order;
  for (auto c = accounts->Enumerate(); auto a = c->Next();) order.push_back(a->Number());
  EXPECT_EQ(order, (std::vector<std::string>{"1001", "1001.01", "1001.01.01", "1001.02", "1002", "1002.01", "2001"}));
  EXPECT_EQ(accounts->Count(), 7);
  EXPECT_EQ(accounts->GetNext()->Number(), "1001");
  EXPECT_EQ(accounts->GetNext()->Number(), "1001.01");
  accounts->Refresh();
  EXPECT_EQ(accounts->GetNext()->Number(), "1001");
}

TEST_F(AccountTest, FieldsRoundTripWithNullsAndConversions) {
  auto a = accounts->CreateNew({}, {{"Number", Variant("1122")}});
  a->Let("Name", Variant("应收账款"));
  a->Let("DC", Variant("0"));  // as read from a data file
  a->Let("IsCash", Variant(false));
  a->Let("Contact", Variant(int32_t{1}));
  a->Let("IntRate", Variant("0.035"));
  a->Let("CurrencyID", Variant::Null());
  a->Let("GroupID", Variant(int32_t{1}));
  a->SaveChanges();
  auto b = accounts->Item(a->Get("AccountID").ToLong());
  EXPECT_EQ(b->Get("DC").Type(), VarType::Long);
  EXPECT_EQ(b->Get("DC").ToLong(), 0);
  EXPECT_EQ(b->Get("IsCash").Type(), VarType::Boolean);
  EXPECT_FALSE(b->Get("IsCash").ToBool());
  EXPECT_TRUE(b->Get("Contact").ToBool());
  EXPECT_DOUBLE_EQ(b->Get("IntRate").ToDouble(), 0.035);
  EXPECT_EQ(b->Get("CurrencyID").ToLong(), 0);  // a reference to nothing reads 0
  EXPECT_EQ(b->Properties("FCurrencyID_ID").ToLong(), 0);
  EXPECT_EQ(b->Get("GroupID").ToLong(), 1);
  EXPECT_TRUE(b->Get("HelperCode").IsNull());
  EXPECT_TRUE(b->Get("Journal").IsNull());
  // A reference to an object that does not exist is kept as stored.
  b->Let("MeasureUnitID", Variant(int32_t{777}));
  b->SaveChanges();
  EXPECT_EQ(accounts->Item(b->Get("AccountID").ToLong())->Get("MeasureUnitID").ToLong(), 777);
}

// The ID, name and number of an item class of the new ledger, read directly
// so the test does not depend on which classes the ledger seeds.
struct ClassRow {
  int32_t id;
  std::string name, number;
};
std::vector<ClassRow> ItemClasses(const std::string& props) {
  auto q = LedgerStore::ForProps(props)->Prepare("SELECT FItemClassID, FName, FNumber FROM t_ItemClass ORDER BY 1");
  std::vector<ClassRow> out;
  while (q.Next()) out.push_back({static_cast<int32_t>(q.Int(0)), q.Text(1), q.Text(2)});
  return out;
}

TEST_F(AccountTest, AccountUpdateStoresItemClassesReadBackAsItems) {
  auto classes = ItemClasses(props);
  ASSERT_GE(classes.size(), 2u) << "a new ledger has standard item classes";
  auto acct = Add("1122", "应收账款");
  int32_t id = acct->Get("AccountID").ToLong();
  auto empty = accounts->Item(id)->Get("_Items").As<RecordCollection>();
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->UBound(), 0);

  auto obj = accounts->Item(id);
  auto dict = obj->Dictionary();
  auto list = std::make_shared<RecordCollection>();
  for (int32_t classId : {classes[1].id, 0, classes[0].id}) {
    auto r = NewRecord();
    r->SetValue("FItemClassID", Variant(classId));
    r->SetValue("FBalChecked", Variant(true));
    list->Add(r);
  }
  dict->SetValue("FAccountItem", Variant(list));
  CreateObjectAs<AccountUpdate>(kAccountUpdate)->Update(props, id, dict);

  auto items = accounts->Item(id)->Properties("_Items").As<RecordCollection>();
  ASSERT_TRUE(items);
  ASSERT_EQ(items->UBound(), 2);  // the 0 entry attaches nothing
  EXPECT_EQ(items->Item(1)->Value("FItemClassID").ToLong(), classes[1].id);
  EXPECT_EQ(items->Item(1)->Value("FItemClassName").ToText(), classes[1].name);
  EXPECT_EQ(items->Item(1)->Value("FItemClassNumber").ToText(), classes[1].number);
  EXPECT_EQ(items->Item(2)->Value("FItemClassName").ToText(), classes[0].name);
  EXPECT_TRUE(items->Item(2)->Value("FBalChecked").ToBool());

  // The dictionary of a fresh object shows the stored list; an empty list clears it.
  auto again = accounts->Item(id)->Dictionary();
  auto stored = again->Value("FAccountItem").As<RecordCollection>();
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->UBound(), 2);
  again->SetValue("FAccountItem", Variant(std::make_shared<RecordCollection>()));
  CreateObjectAs<AccountUpdate>(kAccountUpdate)->Update(props, id, again);
  EXPECT_EQ(accounts->Item(id)->Get("_Items").As<RecordCollection>()->UBound(), 0);

  EXPECT_EQ(ErrorOf([&] { CreateObjectAs<AccountUpdate>(kAccountUpdate)->Update(props, 9999, again); }),
            "科目（内码 9999）不存在");
  EXPECT_EQ(ErrorOf([&] { CreateObjectAs<AccountUpdate>(kAccountUpdate)->Update(props, id, nullptr); }),
            "对象变量未设置");
}

TEST_F(AccountTest, ItemClassThatNoLongerExistsReadsBackAsStored) {
  auto acct = Add("1123");
  int32_t id = acct->Get("AccountID").ToLong();
  auto rec = NewRecord();
  auto list = std::make_shared<RecordCollection>();
  auto r = NewRecord();
  r->SetValue("FItemClassID", Variant(int32_t{30000}));
  list->Add(r);
  rec->SetValue("FAccountItem", Variant(list));
  CreateObjectAs<AccountUpdate>(kAccountUpdate)->Update(props, id, rec);
  auto items = accounts->Item(id)->Get("_Items").As<RecordCollection>();
  ASSERT_EQ(items->UBound(), 1);
  EXPECT_EQ(items->Item(1)->Value("FItemClassID").ToLong(), 30000);
  EXPECT_TRUE(items->Item(1)->Value("FItemClassName").IsNull());
  EXPECT_TRUE(items->Item(1)->Value("FBalChecked").ToBool());  // default when not given
}

TEST_F(AccountTest, DictionaryWritesAreStoredBySaveChanges) {
  auto acct = Add("1131");
  int32_t id = acct->Get("AccountID").ToLong();
  auto dict = acct->Dictionary();
  dict->SetValue("FNote", Variant("月末核对"));
  dict->SetValue("FLimit", Variant(2.5));
  dict->SetValue("FChecked", Variant(true));
  dict->SetValue("FNone", Variant::Null());
  EXPECT_FALSE(accounts->Item(id)->Dictionary()->Has("FNote"));  // not before SaveChanges
  acct->SaveChanges();
  auto back = accounts->Item(id)->Dictionary();
  EXPECT_EQ(back->GetValue("FNote").ToText(), "月末核对");
  EXPECT_EQ(back->GetValue("FLimit").Type(), VarType::Double);
  EXPECT_EQ(back->GetValue("FChecked").Type(), VarType::Boolean);
  EXPECT_TRUE(back->GetValue("FNone").IsNull());
  EXPECT_EQ(back->GetValue("FMissing", Variant(int32_t{7})).ToLong(), 7);

  dict->SetValue("FObject", Variant(NewRecord()));
  EXPECT_EQ(ErrorOf([&] { acct->SaveChanges(); }), "科目扩展属性“FObject”不能保存对象");
}

}  // namespace
}  // namespace morvent::test
