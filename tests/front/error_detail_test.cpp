// What an import says beside its messages: the detail of a failed record
// (its key, value and what the value should have been), the parents it
// created bare, and the warnings about a file's repeated match keys and
// keys this ledger never reads.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "front/import_base.h"
#include "front/import_warnings.h"
#include "platform/registry.h"
#include "store/ledger_admin.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

std::string Xml(const std::string& element, const std::string& records) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + element + "List>\n" + records + "</" + element + "List>\n";
}

class ErrorDetailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureComponentsRegistered();
    ledger = home.file("l.db");
    CreateLedger(ledger);
    imp.Error = [this](const std::string& m, bool& cancel) {
      messages.push_back(m);
      const ErrorDetail* d = imp.CurrentErrorDetail();
      details.push_back(d ? std::optional<ErrorDetail>(*d) : std::nullopt);
      cancel = false;
    };
  }
  bool Import(int32_t code, const std::string& element, const std::string& records, const std::string& kind = "QY") {
    const std::string file = home.file("d.xml");
    WriteFile(file, Xml(element, records));
    return imp.ImportXMLData("Data Source=" + ledger + ";AcctType=" + kind, code, file);
  }

  ProgramHome home;
  std::string ledger;
  ImportBase imp;
  std::vector<std::string> messages;
  std::vector<std::optional<ErrorDetail>> details;
};

TEST_F(ErrorDetailTest, AFailedConversionNamesItsRecordKeyValueAndWhatWasExpected) {
  const std::string longText(130, 'x');
  struct Case {
    std::string fields;  // of the second customer
    std::string message, key, value, line;
    Expected expected;
  };
  const std::vector<Case> cases = {
      {"<CreditAmount>5万</CreditAmount>", "类型不匹配", "CreditAmount", "5万", "键 CreditAmount 的值“5万”不是数字",
       Expected::Number},
      {"<CreditDays>" + longText + "</CreditDays>", "类型不匹配", "CreditDays", std::string(100, 'x'),
       "键 CreditDays 的值“" + std::string(100, 'x') + "”不是数字", Expected::Number},
      {"<CreditDays>1e999</CreditDays>", "溢出", "CreditDays", "1e999", "键 CreditDays 的值“1e999”超出了允许的范围",
       Expected::InRange},
      // The same bad text under two keys: the one being converted is named.
      {"<CreditLevel>abc</CreditLevel><CreditAmount>abc</CreditAmount>", "类型不匹配",
       "CreditAmount", "abc", "键 CreditAmount 的值“abc”不是数字", Expected::Number},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    messages.clear();
    details.clear();
    // A number of its own each time, apart from the first record's.
    const std::string number = "1" + std::to_string(++n);
    ASSERT_TRUE(Import(110, "Customer",
                       "<Customer><Number>01</Number><Name>甲</Name></Customer>\n"
                       "<Customer><Number>" + number + "</Number><Name>乙公司</Name>" +
                           c.fields + "</Customer>\n"));
    // The message stays as it always was; the detail comes beside it.
    ASSERT_EQ(messages, std::vector<std::string>{"引入客户资料错误，当前记录名称为：乙公司\r错误信息：\r" + c.message});
    ASSERT_TRUE(details[0]);
    const ErrorDetail& d = *details[0];
    EXPECT_EQ(d.element, "Customer");
    EXPECT_EQ(d.row, 2);
    EXPECT_EQ(d.number, number);
    EXPECT_EQ(d.key, c.key);
    EXPECT_EQ(d.value, c.value);
    EXPECT_EQ(d.expected, c.expected);
    EXPECT_EQ(d.Line(), c.line);
  }
  // Outside the event there is nothing to ask for.
  EXPECT_EQ(imp.CurrentErrorDetail(), nullptr);
}

TEST_F(ErrorDetailTest, AFlagThatIsNoNumberIsAskedToBeZeroOrOne) {
  ASSERT_TRUE(Import(102, "Account",
                     "<Account><Number>1001</Number><Name>现金</Name><IsCash>是</IsCash></Account>\n"));
  ASSERT_EQ(messages.size(), 1u);
  ASSERT_TRUE(details[0]);
  EXPECT_EQ(details[0]->Line(), "键 IsCash 的值“是”不是 0 或 1");
  EXPECT_EQ(details[0]->number, "1001");
}

TEST_F(ErrorDetailTest, AParentThatCannotBeHadIsAFailedLookupOfItsKey) {
  ASSERT_TRUE(Import(102, "Account",
                     "<Account><Number>1002.01</Number><Name>工行</Name><ParentAcct>1002</ParentAcct></Account>\n"));
  ASSERT_EQ(messages, std::vector<std::string>{"引入科目错误，当前科目代码为：1002.01\r错误信息：\r引入1002.01 的上级代码出现错误！"});
  ASSERT_TRUE(details[0]);
  EXPECT_EQ(details[0]->key, "ParentAcct");
  EXPECT_EQ(details[0]->value, "1002");
  EXPECT_EQ(details[0]->expected, Expected::Object);
  EXPECT_EQ(details[0]->Line(), "键 ParentAcct 的值“1002”不是已有的上级");
}

TEST_F(ErrorDetailTest, ADottedNumberWithoutAParentKeyIsToldWhichKeyIsMissing) {
  struct Case {
    int32_t code;
    std::string element, record, message, hint;
  };
  const std::vector<Case> cases = {
      {120, "Department", "<Department><Number>05.01</Number><Name>销售一部</Name></Department>",
       "代码05.01 编码中不能打点，该记录无法引入！",
       "记录中没有上级键 DeptGroup：带点的代码表示下级，请在 DeptGroup 中给出它的上级"},
      {102, "Account", "<Account><Number>1002.01</Number><Name>工行</Name></Account>",
       "代码1002.01 编码中不能打点，该记录无法引入！",
       "记录中没有上级键 ParentAcct：带点的代码表示下级，请在 ParentAcct 中给出它的上级"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.element);
    messages.clear();
    details.clear();
    ASSERT_TRUE(Import(c.code, c.element, c.record + "\n"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].ends_with("\r错误信息：\r" + c.message)) << messages[0];
    ASSERT_TRUE(details[0]);
    EXPECT_EQ(details[0]->hint, c.hint);
    EXPECT_FALSE(details[0]->AboutValue());
  }
}

TEST_F(ErrorDetailTest, BareParentsAreCountedApartFromTheRecords) {
  ASSERT_TRUE(Import(120, "Department",
                     "<Department><Number>01.01</Number><Name>一部</Name><DeptGroup><Name>总部</Name>"
                     "<Number>01</Number></DeptGroup></Department>\n"
                     "<Department><Number>01.02</Number><Name>二部</Name><DeptGroup><Name>总部</Name>"
                     "<Number>01</Number></DeptGroup></Department>\n"
                     "<Department><Number>02.01</Number><Name>三部</Name><DeptGroup><Name>分部</Name>"
                     "<Number>02</Number></DeptGroup></Department>\n"));
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(imp.LastCounts(), (ImportCounts{.created = 3, .bareParents = 2}));
  // Found in the ledger the second time: nothing is bare any more.
  ASSERT_TRUE(Import(120, "Department",
                     "<Department><Number>01.03</Number><Name>四部</Name><DeptGroup><Name>总部</Name>"
                     "<Number>01</Number></DeptGroup></Department>\n"));
  EXPECT_EQ(imp.LastCounts(), (ImportCounts{.created = 1}));
}

TEST_F(ErrorDetailTest, AMatchKeyGivenTwiceIsNamedWithBothRows) {
  struct Case {
    int32_t code;
    std::string element, records;
    std::vector<std::string> warnings;
    ImportCounts counts;
  };
  const std::string group = "<MeasureUnitGroup><Name>重量</Name><Number>9</Number></MeasureUnitGroup>";
  const std::string other = "<MeasureUnitGroup><Name>长度</Name><Number>8</Number></MeasureUnitGroup>";
  const std::string twice = "”：后一条记录遇到的是前一条引入的对象，按引入方式保留或覆盖它";
  const std::vector<Case> cases = {
      {120, "Department",
       "<Department><Number>D1</Number><Name>一部</Name></Department>\n"
       "<Department><Number>D2</Number><Name>二部</Name></Department>\n"
       "<Department><Number>D1</Number><Name>一部又一次</Name></Department>\n",
       {"第 1 条和第 3 条记录的代码都是“D1" + twice},
       {.created = 2, .kept = 1}},
      // In record order, a record's repeated key told before its unread keys.
      {120, "Department",
       "<Department><Number>D1</Number><Name>一部</Name></Department>\n"
       "<Department><Number>D2</Number><Name>二部</Name></Department>\n"
       "<Department><Number>D1</Number><Name>一部</Name><Manager>李</Manager></Department>\n"
       "<Department><Number>D2</Number><Name>二部</Name></Department>\n"
       "<Department><Number>D1</Number><Name>一部</Name></Department>\n",
       {"第 1 条和第 3 条记录的代码都是“D1" + twice, "第 3 条记录起的键 Manager 不会被引入：只导出，引入时不读取",
        "第 2 条和第 4 条记录的代码都是“D2" + twice, "第 1 条和第 5 条记录的代码都是“D1" + twice},
       {.kept = 5}},  // stored by the case above
      {104, "VoucherGroup",
       "<VoucherGroup><Name>记</Name></VoucherGroup>\n<VoucherGroup><Name>记</Name></VoucherGroup>\n",
       {"第 1 条和第 2 条记录的名称都是“记" + twice},
       {.created = 1, .kept = 1}},
      // A unit's name is its own within its group only.
      {106, "MeasureUnit",
       "<MeasureUnit><Name>千克</Name><Number>1</Number><Coefficient>1</Coefficient>" + group + "</MeasureUnit>\n" +
           "<MeasureUnit><Name>千克</Name><Number>2</Number><Coefficient>1</Coefficient>" + other +
           "</MeasureUnit>\n",
       {"第 1 条记录起的键 MeasureUnitGroup/Number 不会被引入：是导出它的账套中的内码，引入时不读取"},
       {.created = 2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.element);
    home.boxes().warnings.clear();
    ASSERT_TRUE(Import(c.code, c.element, c.records));
    EXPECT_EQ(home.boxes().warnings, c.warnings);
    EXPECT_EQ(imp.LastCounts(), c.counts);
  }
  EXPECT_TRUE(messages.empty());
}

TEST_F(ErrorDetailTest, AKeyThisLedgerNeverReadsIsNamedOncePerRun) {
  const std::string gyOnly = "<ShortName>甲</ShortName><LinkMan>张三</LinkMan>";
  const std::string customers = "<Customer><Number>01</Number><Name>甲</Name>" + gyOnly + "</Customer>\n" +
                                "<Customer><Number>02</Number><Name>乙</Name>" + gyOnly +
                                "<CreditDays>3</CreditDays></Customer>\n";
  struct Case {
    int32_t code;
    std::string element, records, kind;
    std::vector<std::string> warnings;
  };
  const std::vector<Case> cases = {
      {110, "Customer", customers, "QY",
       {"第 1 条记录起的键 ShortName 不会被引入：只有 GY 账套读取它",
        "第 1 条记录起的键 LinkMan 不会被引入：只有 GY 账套读取它"}},
      {110, "Customer", customers, "GY", {"第 2 条记录起的键 CreditDays 不会被引入：只有非 GY 账套读取它"}},
      {120, "Department", "<Department><Number>D1</Number><Name>一部</Name><Manager>李</Manager></Department>\n",
       "QY", {"第 1 条记录起的键 Manager 不会被引入：只导出，引入时不读取"}},
      {102, "Account",
       "<Account><Number>1001</Number><Name>现金</Name><Level>1</Level><Detail>1</Detail></Account>\n", "QY",
       {"第 1 条记录起的键 Level 不会被引入：由科目代码得出，引入时不读取",
        "第 1 条记录起的键 Detail 不会被引入：由科目代码得出，引入时不读取"}},
      // Keys the ledger reads say nothing.
      {120, "Department", "<Department><Number>D2</Number><Name>二部</Name><Note>1</Note></Department>\n", "QY",
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.element + " " + c.kind);
    home.boxes().warnings.clear();
    ASSERT_TRUE(Import(c.code, c.element, c.records, c.kind));
    EXPECT_EQ(home.boxes().warnings, c.warnings);
  }
  EXPECT_TRUE(messages.empty());
}

TEST(UnreadKeys, NestedRecordsAreKnownByTheKeyTheyStandUnder) {
  EXPECT_EQ(UnreadKeyReason("SettleMode", "CompanyCode"), "由分支机构代码写出，引入时不读取");
  EXPECT_EQ(UnreadKeyReason("Unit", "AuxClass"), "只导出，引入时不读取");
  EXPECT_EQ(UnreadKeyReason("SettleMode", "Name"), "");
  EXPECT_EQ(UnreadKeyReason("Customer", "CompanyCode"), "");
}

}  // namespace
}  // namespace morvent::test
