// Accounts (102) and the item classes they attach, through the public
// classes: round trips of a deep chart, nested references, parents later in
// the file under both coding styles, number checks, cut widths, failures.
#include <algorithm>

#include "context/glfunc.h"
#include "front/walks.h"
#include "items/item_class.h"
#include "ledger/account.h"
#include "platform/registry.h"
#include "store/ledger_admin.h"
#include "store/ledger_store.h"
#include "tests/handlers/fixture.h"

namespace morvent::test {
namespace {

// An account record: number, name, and the parent's number when given.
DataRecordPtr Acct(const std::string& number, const std::string& name, const std::string& parent = "") {
  auto r = Rec({{"Number", number}, {"Name", name}});
  if (!parent.empty()) r->SetValue("ParentAcct", parent);
  return r;
}
std::shared_ptr<RecordCollection> Classes(std::vector<std::pair<std::string, std::string>> nameNumber) {
  auto list = std::make_shared<RecordCollection>();
  for (const auto& [name, number] : nameNumber) list->Add(Rec({{"Name", name}, {"Number", number}}));
  return list;
}
std::string Err(const std::string& number, const std::string& description) {
  return "引入科目错误，当前科目代码为：" + number + "\r错误信息：\r" + description;
}

struct Stored {
  std::string name;
  std::string parent;  // the parent's number; empty at the top level
  LedgerObjectPtr obj;
};

class AccountTest : public RecordsTest {
 protected:
  AccountTest() { code = 102; }
  std::map<std::string, Stored> Accounts() {
    std::map<int32_t, std::string> numbers;
    auto all = Objects(ledger, kAccountSet, 100);
    for (const auto& a : all) numbers[a->Get("AccountID").ToLong()] = a->Number();
    std::map<std::string, Stored> out;
    for (const auto& a : all)
      out[a->Number()] = {a->Name(), numbers[NullToDefault(a->Get("ParentID"), int32_t{0}).ToLong()], a};
    return out;
  }
  // "name/number" of the classes attached to an account.
  std::vector<std::string> Attached(const std::string& number) {
    std::vector<std::string> out;
    auto items = Accounts().at(number).obj->Get("_Items").As<RecordCollection>();
    for (int32_t i = items->LBound(); i <= items->UBound(); ++i)
      out.push_back(TextOf(items->Item(i)->Value("FItemClassName")) + "/" +
                    TextOf(items->Item(i)->Value("FItemClassNumber")));
    return out;
  }
};

TEST_F(AccountTest, TheDeepDemoChartRoundTripsWithItsReferencesAndAttachedClasses) {
  std::string demo = DemoLedger();
  // Units go first, as a user would move them: a unit record names its
  // group by the group's ID, which the target then shares.
  ASSERT_TRUE(Export(demo, 106, home.file("units.xml")).result);
  ASSERT_TRUE(Import(ledger, 106, home.file("units.xml"), 1, 1).result);
  const std::string first = home.file("first.xml"), second = home.file("second.xml");
  ASSERT_TRUE(Export(demo, 102, first).result);
  RunResult in = Import(ledger, 102, first, 1, 1);
  EXPECT_TRUE(in.result);
  EXPECT_EQ(in.errors, std::vector<std::string>{});
  ASSERT_TRUE(Export(ledger, 102, second).result);
  EXPECT_EQ(ReadFile(second), ReadFile(first));

  // What the first file carried, looked at through the target's records.
  Bind(ledger);
  CAccount accounts;
  auto byNumber = Accounts();
  ASSERT_EQ(byNumber.size(), Objects(demo, kAccountSet, 100).size());
  const struct {
    const char* number;
    const char* parent;
    const char* currency;  // nullptr: no "Currency" key
    bool unit;
    size_t classes;
  } cases[] = {{"6602.02.01.01", "6602.02.01", nullptr, false, 2},
               {"1002.01.01", "1002.01", "RMB", false, 0},
               {"1403", nullptr, nullptr, true, 1},
               {"1001", nullptr, nullptr, false, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    auto r = accounts.GetInfo(byNumber.at(c.number).obj->Get("AccountID").ToLong());
    EXPECT_EQ(r->GetValue("ParentAcct", "-").ToText(), c.parent ? c.parent : "-");
    auto currency = r->Record("Currency");
    EXPECT_EQ(currency ? currency->Value("Number").ToText() : "", c.currency ? c.currency : "");
    EXPECT_TRUE(r->Record("GroupName")->Has("Name"));
    EXPECT_EQ(r->Has("MeasureUnit"), c.unit);
    auto classes = r->Value("ItemClass").As<RecordCollection>();
    ASSERT_TRUE(classes) << "an account without classes still carries an empty list";
    EXPECT_EQ(static_cast<size_t>(classes->UBound()), c.classes);
  }
}

TEST_F(AccountTest, ParentsLaterInTheFileImportOnceUnderBothCodingStyles) {
  // Four levels, three children per parent, every child before its parent.
  struct Node {
    std::string dotted, undotted, parentDotted, parentUndotted;
  };
  std::vector<Node> nodes;
  std::function<void(const Node*, int)> grow = [&](const Node* parent, int depth) {
    for (int k = 1; k <= 3; ++k) {
      Node n{parent ? parent->dotted + "." + std::to_string(k) : std::to_string(k),
             parent ? parent->undotted + std::to_string(k) : std::to_string(k), parent ? parent->dotted : "",
             parent ? parent->undotted : ""};
      if (depth < 4) grow(&n, depth + 1);
      nodes.push_back(n);
    }
  };
  grow(nullptr, 1);
  for (int coding : {1, 2}) {
    for (int imp : {1, 2}) {
      SCOPED_TRACE(std::to_string(coding) + "/" + std::to_string(imp));
      ledger = NewLedger("tree" + std::to_string(coding) + std::to_string(imp) + ".db");
      std::vector<DataRecordPtr> records;
      for (const auto& n : nodes)
        records.push_back(coding == 1 ? Acct(n.dotted, "科目" + n.dotted, n.parentDotted)
                                      : Acct(n.undotted, "科目" + n.dotted, n.parentUndotted));
      RunResult run = Run(records, imp, coding);
      EXPECT_TRUE(run.result);
      EXPECT_EQ(run.errors, std::vector<std::string>{});
      EXPECT_EQ(run.rows.size(), nodes.size());
      auto stored = Accounts();
      ASSERT_EQ(stored.size(), nodes.size());
      for (const auto& n : nodes) {
        EXPECT_EQ(stored.at(n.dotted).name, "科目" + n.dotted);
        EXPECT_EQ(stored.at(n.dotted).parent, n.parentDotted);
      }
    }
  }
}

TEST_F(AccountTest, NumbersThatDoNotFitTheirParentFailWithExactMessages) {
  ASSERT_TRUE(Run({Acct("1", "资产"), Acct("1.1", "流动资产", "1")}, 1, 1).result);
  const struct {
    int coding;
    DataRecordPtr record;
    std::string number;  // as the message shows it
    std::string description;
  } cases[] = {
      {1, Acct("1.2", "无上级"), "1.2", "代码1.2 编码中不能打点，该记录无法引入！"},
      {2, Acct(" 1.2 ", "无上级"), " 1.2 ", "代码1.2 编码中不能打点，该记录无法引入！"},
      {1, Acct("1.1.1", "两级", "1"), "1.1.1", "代码1.1.1 与其上级代码1 编码不一致，无法引入！"},
      {1, Acct("2.1.1", "别处", "1"), "2.1.1", "代码2.1.1 与其上级代码1 编码不一致，无法引入！"},
      {2, Acct("1.3", "打点", "1"), "1.3", "代码1.3 编码中不能打点，该记录无法引入！"},
      {2, Acct("113", "上级打点", "1.1"), "113", "代码113 的上级代码的编码中不能打点，当前记录无法引入！"},
      {2, Acct("23", "不含上级", "4"), "23", "代码23 与其上级代码4 编码不一致，无法引入！"},
      {1, Acct("9.1", "上级不在", "9"), "9.1", "引入9.1 的上级代码出现错误！"},
      {2, Acct("91", "上级不在", "9"), "91", "引入91 的上级代码出现错误！"},
      // A record naming itself as its parent is under way when asked for.
      {2, Acct("7", "自己", "7"), "7", "引入7 的上级代码出现错误！"},
      {1, Acct("", "无代码"), "", "代码不能为空"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.description);
    const auto before = Accounts();
    RunResult run = Run({c.record, Acct("8", "好")}, 1, c.coding, Client{.letErrorsPass = true});
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.errors, std::vector<std::string>{Err(c.number, c.description)});
    EXPECT_EQ(run.rows.size(), 2u);
    EXPECT_EQ(Accounts().size(), before.size() + (before.count("8") ? 0 : 1));
    run = Run({c.record}, 1, c.coding);
    EXPECT_FALSE(run.result);
    EXPECT_TRUE(run.rows.empty());
  }
  // Under undotted numbering the parent may stand anywhere in the number.
  ASSERT_TRUE(Run({Acct("21", "任意处", "1")}, 1, 2).result);
  EXPECT_EQ(Accounts().at("1.1").name, "流动资产") << "1.1 exists: kept";
  ASSERT_TRUE(Run({Acct("31", "任意处", "3"), Acct("3", "三")}, 1, 2).result);
  EXPECT_EQ(Accounts().at("3.1").parent, "3");
}

// Blanks around the parent's number are not part of it, under both coding
// styles, whether the parent is in the ledger or later in the file.
TEST_F(AccountTest, BlanksAroundTheParentNumberAreTrimmed) {
  ASSERT_TRUE(Run({Acct("1", "资产")}, 1, 1).result);
  const struct {
    int coding;
    std::vector<DataRecordPtr> records;
    const char* stored;  // the child's number as stored
    const char* parent;
  } cases[] = {
      {1, {Acct("1.1", "流动资产", "  1  ")}, "1.1", "1"},
      {2, {Acct("12", "长期资产", "   1")}, "1.2", "1"},
      {1, {Acct("2.1", "流动负债", " 2"), Acct("2", "负债")}, "2.1", "2"},
      {2, {Acct("32", "资本", "3 "), Acct("3", "权益")}, "3.2", "3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    RunResult run = Run(c.records, 1, c.coding);
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.errors, std::vector<std::string>{});
    auto stored = Accounts();
    ASSERT_EQ(stored.count(c.stored), 1u);
    EXPECT_EQ(stored.at(c.stored).parent, c.parent);
  }
}

TEST_F(AccountTest, NumbersAreCutAtFortyAndNamesAtEighty) {
  const std::string ones40(40, '1'), name90(90, 'N');
  const std::string child40 = "1." + std::string(38, '2');
  ASSERT_TRUE(Run({Acct(ones40 + "12345", name90), Acct(child40 + "999", "下级", "1"), Acct("1", "一")}, 1, 1).result);
  auto stored = Accounts();
  ASSERT_EQ(stored.size(), 3u);
  EXPECT_EQ(stored.at(ones40).name, std::string(80, 'N'));
  // The child's number is cut before it is checked against its parent.
  EXPECT_EQ(stored.at(child40).parent, "1");
  // Met again by the cut number: ImpStyle 2 overwrites, nothing new.
  ASSERT_TRUE(Run({Acct(ones40 + "9", "改名")}, 2, 1).result);
  EXPECT_EQ(Accounts().size(), 3u);
  EXPECT_EQ(Accounts().at(ones40).name, "改名");
}

}  // namespace
}  // namespace morvent::test
