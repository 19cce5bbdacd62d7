// Accounts' nested references, attached item classes and failing writes;
// the item-class lookup they rely on.
#include "context/glfunc.h"
#include "front/walks.h"
#include "context/props.h"
#include "items/item_class.h"
#include "ledger/account.h"
#include "platform/registry.h"
#include "store/ledger_store.h"
#include "tests/handlers/fixture.h"

namespace morvent::test {
namespace {

std::shared_ptr<RecordCollection> Classes(std::vector<std::pair<std::string, std::string>> nameNumber) {
  auto list = std::make_shared<RecordCollection>();
  for (const auto& [name, number] : nameNumber) list->Add(Rec({{"Name", name}, {"Number", number}}));
  return list;
}

class AccountRefsTest : public RecordsTest {
 protected:
  AccountRefsTest() { code = 102; }
  LedgerObjectPtr Account(const std::string& number) {
    for (const auto& a : Objects(ledger, kAccountSet, 100))
      if (a->Number() == number) return a;
    return nullptr;
  }
  std::vector<std::string> Attached(const std::string& number) {
    std::vector<std::string> out;
    auto items = Must(Account(number)).Get("_Items").As<RecordCollection>();
    for (int32_t i = items->LBound(); i <= items->UBound(); ++i)
      out.push_back(TextOf(items->Item(i)->Value("FItemClassName")));
    return out;
  }
};

TEST_F(AccountRefsTest, NestedReferencesPresentAbsentAndDangling) {
  auto full = Rec({{"Number", "1001"}, {"Name", "现金"}, {"IsDebit", "0"}, {"IsCashFlow", "1"}, {"IntRate", "0.5"}});
  full->SetValue("Currency", Rec({{"Name", "欧元"}, {"Number", "EUR"}, {"ExchangeRate", "7.5"}}));
  full->SetValue("GroupName", Rec({{"Name", "负债"}, {"Number", "2"}}));
  auto unit = Rec({{"Name", "千克"}, {"Number", "KG"}, {"Standard", "1"}});
  unit->SetValue("MeasureUnitGroup", Rec({{"Name", "重量组"}, {"Number", "7"}}));
  full->SetValue("MeasureUnit", unit);
  auto unknownType = Rec({{"Number", "1002"}, {"Name", "银行"}});
  unknownType->SetValue("GroupName", Rec({{"Name", "没有的类别"}, {"Number", "9"}}));
  ASSERT_TRUE(Run({full, unknownType, Rec({{"Number", "1003"}, {"Name", "空"}})}, 1).result);

  Bind(ledger);
  const struct {
    const char* number;
    int32_t group;         // 0: none
    const char* currency;  // nullptr: none
    const char* unit;      // nullptr: none
    int32_t dc;
    bool cashFlow, contact;
  } cases[] = {{"1001", 2, "EUR", "千克", 0, true, true},
                {"1002", 0, nullptr, nullptr, 1, false, true},
                {"1003", 0, nullptr, nullptr, 1, false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    auto a = Account(c.number);
    EXPECT_EQ(NullToDefault(a->Get("GroupID"), int32_t{0}).ToLong(), c.group);
    EXPECT_EQ(NullToDefault(a->Get("DC"), int32_t{-1}).ToLong(), c.dc);
    EXPECT_EQ(a->Get("IsCashFlow").ToBool(), c.cashFlow);
    EXPECT_EQ(a->Get("Contact").ToBool(), c.contact);
    CAccount accounts;
    auto r = accounts.GetInfo(a->Get("AccountID").ToLong());
    auto currency = r->Record("Currency");
    EXPECT_EQ(currency ? currency->Value("Number").ToText() : "-", c.currency ? c.currency : "-");
    EXPECT_EQ(r->Has("GroupName"), c.group > 0);
    auto unitRecord = r->Record("MeasureUnit");
    EXPECT_EQ(unitRecord ? unitRecord->Value("Name").ToText() : "-", c.unit ? c.unit : "-");
    EXPECT_FALSE(r->Has("ParentAcct"));
  }

  // References whose objects are gone: currency and unit are left out, the
  // type is asked for unchecked and gives a record without keys.
  LedgerStore::ForProps(Props(ledger))
      ->Exec("UPDATE t_Account SET FCurrencyID = 999, FGroupID = 999, FMeasureUnitID = 999 WHERE FNumber = '1001'");
  CAccount accounts;
  auto r = accounts.GetInfo(Account("1001")->Get("AccountID").ToLong());
  EXPECT_FALSE(r->Has("Currency"));
  EXPECT_FALSE(r->Has("MeasureUnit"));
  ASSERT_TRUE(r->Record("GroupName"));
  EXPECT_EQ(r->Record("GroupName")->Count(), 0u);
  EXPECT_EQ(accounts.GetInfo(4242)->Count(), 0u);
  EXPECT_FALSE(accounts.CheckID(4242));
}

TEST_F(AccountRefsTest, AttachedClassesAreReplacedOnlyWhenTheRecordCarriesAList) {
  auto withClasses = [](const char* name, std::shared_ptr<RecordCollection> classes) {
    auto r = Rec({{"Number", "1122"}, {"Name", name}});
    if (classes) r->SetValue("ItemClass", classes);
    return r;
  };
  const struct {
    int imp;
    std::shared_ptr<RecordCollection> classes;  // nullptr: no "ItemClass" key
    std::vector<std::string> after;
  } cases[] = {
      {2, nullptr, {"部门"}},
      {2, Classes({}), {}},  // an empty list still goes to the update service
      // A class the ledger lacks, or known by one of its keys only, attaches nothing.
      {2, Classes({{"客户", "001"}, {"不存在", "999"}, {"职员", "002"}, {"供应商", "008"}}), {"客户", "供应商"}},
      {1, Classes({{"客户", "001"}}), {"部门"}},  // an existing account stays untouched
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(++n);
    ledger = NewLedger("c" + std::to_string(n) + ".db");
    ASSERT_TRUE(Run({withClasses("旧", Classes({{"部门", "002"}}))}, 1).result);
    RunResult run = Run({withClasses("新", c.classes)}, c.imp);
    EXPECT_TRUE(run.result);
    EXPECT_TRUE(run.errors.empty());
    EXPECT_EQ(Attached("1122"), c.after);
    EXPECT_EQ(Account("1122")->Name(), c.imp == 2 ? "新" : "旧");
  }
}

TEST_F(AccountRefsTest, FailedWritesAreReported) {
  auto record = Rec({{"Number", "1001"}, {"Name", "现金"}});
  record->SetValue("ItemClass", Classes({{"客户", "001"}}));
  {
    ScopedFactory broken(kAccountUpdate, nullptr);
    RunResult run = Run({record}, 1);
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.errors, std::vector<std::string>{"引入科目错误，当前科目代码为：1001\r错误信息：\r"
                                                   "部件不能创建对象：VarnelAccount.AccountUpdate"});
  }
  EXPECT_TRUE(Objects(ledger, kAccountSet, 100).empty()) << "the failed record left its account";
  ASSERT_TRUE(Run({Rec({{"Number", "1001"}, {"Name", "现金"}})}, 1).result);
  EXPECT_TRUE(Attached("1001").empty()) << "the classes were never sent";

  // The store refuses a child whose parent is missing from the ledger.
  {
    Bind(ledger);
    CAccount accounts;
    try {
      accounts.GetID(Rec({{"Number", "9.1"}, {"Name", "孤"}, {"ParentAcct", "9"}}));
      ADD_FAILURE() << "a lookup of an account without its parent must fail";
    } catch (const Error& e) {
      EXPECT_EQ(e.Description(), "引入9.1 的上级代码出现错误！");
    }
    const int32_t id = accounts.GetID(Rec({{"Number", "1001.01"}, {"Name", "子"}, {"ParentAcct", "1001"}}));
    EXPECT_EQ(accounts.GetInfo(id)->GetValue("ParentAcct", "").ToText(), "1001");
  }

  const std::string target = home.file("missing/out.xml");
  const std::string unwritable = "写数据文件 " + target + " 出错：无法在 " + home.file("missing") +
                                 " 中建立临时文件：No such file or directory";
  const struct {
    const char* broken;
    std::string message;
  } exports[] = {
      {nullptr, "导出科目出错，当前科目代码为：\r错误信息：\r" + unwritable},
      {kAccountSet, "导出科目出错，当前科目代码为：\r错误信息：\r部件不能创建对象：Corabin.AccountSet"},
  };
  for (const auto& e : exports) {
    std::optional<ScopedFactory> broken;
    if (e.broken) broken.emplace(e.broken, nullptr);
    RunResult run = Export(ledger, 102, target);
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.errors, std::vector<std::string>{e.message});
    EXPECT_FALSE(FileExist(target));
  }
}

TEST_F(AccountRefsTest, MessagesNameTheAccountByItsNumber) {
  ASSERT_TRUE(Run({Rec({{"Number", "1001"}, {"Name", "现金"}})}, 1).result);
  Bind(ledger);
  std::vector<std::string> texts;
  CAccount accounts;
  accounts.events.ExpOneRow = [&](int32_t, double, const std::string& s, bool&) { texts.push_back(s); };
  accounts.events.ImpOneRow = accounts.events.ExpOneRow;
  const std::string file = home.file("out.xml");
  ASSERT_TRUE(accounts.Export("", file));
  ASSERT_TRUE(accounts.Import(file));
  EXPECT_EQ(texts, (std::vector<std::string>{"正在导出科目信息，科目代码为：1001", "引入科目，当前科目代码为1001"}));
}

TEST_F(AccountRefsTest, ItemClassesAreFoundByNameAndNumberTogether) {
  Bind(ledger);
  CItemClass classes;
  const struct {
    DataRecordPtr record;
    int32_t id;
  } cases[] = {
      {Rec({{"Name", "部门"}, {"Number", "002"}}), 2},
      {Rec({{"Name", "部门"}, {"Number", "003"}}), 0},
      {Rec({{"Name", "部门 "}, {"Number", "002"}}), 0},
      {Rec({{"Name", "部门"}}), 0},
      {Rec({{"Name", "部门"}, {"Number", Variant::Null()}}), 0},
      {Rec({}), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(classes.GetID(*c.record), c.id);
  EXPECT_EQ(classes.GetInfo(3)->Value("Name").ToText(), "职员");
  EXPECT_EQ(classes.GetInfo(4242)->Count(), 0u);

  const std::string file = home.file("classes.xml");
  ASSERT_TRUE(classes.Export("", file));
  auto read = std::make_shared<RecordCollection>();
  std::string err;
  ASSERT_TRUE(ReadDataFile(read, file, SchemaPath("SchemaItemClass.xml"), "ItemClass", err));
  ASSERT_EQ(read->UBound(), static_cast<int32_t>(Objects(ledger, kItemClassSet, 1).size()));
  EXPECT_EQ(read->Item(2)->Value("Number").ToText(), "002");
  EXPECT_FALSE(classes.Import(file));
}

TEST_F(AccountRefsTest, AClassFoundBeforeIsAnsweredOnlyWhileItStillMatches) {
  Bind(ledger);
  CItemClass classes;
  auto rename = [&](const char* name, const char* number) {
    auto c = Must(CreateObjectAs<ObjectSet>(kItemClassSet)).Item(2);
    Must(c).Let("Name", Variant(name));
    c->Let("Number", Variant(number));
    c->SaveChanges();
  };
  // Each step asks after the class has (or has not) changed since the
  // answer before it was found.
  const struct {
    const char* renameTo[2];  // nullptr: left as it is
    const char* name;
    const char* number;
    int32_t id;
  } steps[] = {
      {{nullptr, nullptr}, "部门", "002", 2},
      {{nullptr, nullptr}, "部门", "002", 2},
      {{"部门甲", "002"}, "部门", "002", 0},
      {{nullptr, nullptr}, "部门甲", "002", 2},
      {{"部门甲", "092"}, "部门甲", "002", 0},
      {{nullptr, nullptr}, "部门甲", "092", 2},
      {{"部门", "002"}, "部门甲", "092", 0},
      {{nullptr, nullptr}, "部门", "002", 2},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(std::string(s.name) + "/" + s.number);
    if (s.renameTo[0]) rename(s.renameTo[0], s.renameTo[1]);
    EXPECT_EQ(classes.GetID(*Rec({{"Name", s.name}, {"Number", s.number}})), s.id);
  }
}

}  // namespace
}  // namespace morvent::test
