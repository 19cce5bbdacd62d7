// Branch companies (108) through the public classes: golden round trips,
// parents named by plain keys (in the ledger, later in the file, nowhere)
// under both coding styles, the accounting mode and the other fields, and
// the error paths.
#include "context/glfunc.h"
#include "front/walks.h"
#include "platform/registry.h"
#include "store/ledger_admin.h"
#include "store/ledger_store.h"
#include "tests/handlers/fixture.h"

namespace morvent::test {
namespace {

// A record with the parent as the plain keys; no parent keys when
// parentNumber is null.
DataRecordPtr Co(const std::string& number, const std::string& name, const char* parentNumber = nullptr,
                 const std::string& parentName = "") {
  auto r = Rec({{"Number", number}, {"Name", name}});
  if (parentNumber) {
    r->SetValue("ParentName", parentName);
    r->SetValue("ParentNumber", std::string(parentNumber));
  }
  return r;
}

class SonCompanyTest : public RecordsTest {
 protected:
  SonCompanyTest() { code = 108; }
  // Each company as "number<parent:name", in number order.
  std::vector<std::string> Tree() {
    std::vector<std::string> out;
    for (const auto& [number, item] : Items(ledger, 10)) out.push_back(number + "<" + item.parentNumber + ":" + item.name);
    return out;
  }
  std::string Field(const std::string& number, const std::string& field) {
    return TextOf(ItemField(ledger, 10, number, field));
  }
};

TEST_F(SonCompanyTest, DemoCompaniesRoundTripUnderEitherLedgerKind) {
  for (const char* kind : {"GY", "QY"}) {
    SCOPED_TRACE(kind);
    const std::string k = kind;
    std::string demo = DemoLedger(k + "-demo.db", kind);
    // The assist data the companies refer to travels first.
    ledger = CopyKinds(demo, {122}, k + "-target");
    const std::string first = home.file(k + "-1.xml"), second = home.file(k + "-2.xml");
    RunResult out = Export(demo, 108, first);
    ASSERT_TRUE(out.result);
    EXPECT_EQ(out.rows.size(), 7u);
    EXPECT_TRUE(Clean(Import(ledger, 108, first, 1, 1)));
    ASSERT_TRUE(Export(ledger, 108, second).result);
    EXPECT_EQ(ReadFile(first), ReadFile(FixtureDir() + "/sonco/companies.xml"));
    EXPECT_EQ(ReadFile(second), ReadFile(first));
  }
}

TEST_F(SonCompanyTest, ParentsAreFoundImportedOrCreatedUnderBothCodingStyles) {
  const struct {
    int coding;
    std::vector<DataRecordPtr> stored;  // imported first, under the same style
    std::vector<DataRecordPtr> file;
    std::vector<std::string> tree;
  } cases[] = {
      // Dotted numbers: the parent in the ledger, later in the file, nowhere.
      {1, {Co("01", "华北")}, {Co("01.01", "北京", "01", "别名")}, {"01<:华北", "01.01<01:北京"}},
      {1,
       {},
       {Co("01.01.01", "海淀", "01.01"), Co("01.01", "北京", "01"), Co("01", "华北", "")},
       {"01<:华北", "01.01<01:北京", "01.01.01<01.01:海淀"}},
      {1, {}, {Co("05.01", "广州", " 05 ", "华南（暂）")}, {"05<:华南（暂）", "05.01<05:广州"}},
      {1, {}, {Co(" 06 ", "西南", "  ")}, {"06<:西南"}},
      // Undotted numbers: every child's number starts with its parent's as
      // stored, at every level and in any file order.
      {2,
       {},
       {Co("010101", "海淀", "0101"), Co("0101", "北京", "01"), Co("01", "华北")},
       {"01<:华北", "01.01<01:北京", "01.01.01<01.01:海淀"}},
      {2,
       {Co("01", "华北"), Co("0101", "北京", "01")},
       {Co("010101", "海淀", "0101"), Co("010102", "朝阳", "0101")},
       {"01<:华北", "01.01<01:北京", "01.01.01<01.01:海淀", "01.01.02<01.01:朝阳"}},
      // A parent created bare keeps the number the file gives it.
      {2, {}, {Co("050101", "天河", "0501", "广州")}, {"0501<:广州", "0501.01<0501:天河"}},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(++n);
    ledger = NewLedger("p" + std::to_string(n) + ".db");
    if (!c.stored.empty()) ASSERT_TRUE(Run(c.stored, 1, c.coding).result);
    RunResult run = Run(c.file, 1, c.coding);
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.errors, std::vector<std::string>{});
    EXPECT_EQ(Tree(), c.tree);
  }
}

TEST_F(SonCompanyTest, FieldsImportWithTheirDefaults) {
  ledger = DemoLedger("demo.db", "GY");
  const std::string number85(85, '7');
  auto mode = [](const std::string& number, const char* acctMode, const char* isDetail = nullptr) {
    auto r = Co(number, "分支" + number);
    if (acctMode) r->SetValue("AcctMode", std::string(acctMode));
    if (isDetail) r->SetValue("IsDetail", std::string(isDetail));
    return r;
  };
  ASSERT_TRUE(Run({mode("07", "非独立核算"), mode("08", "   ", "0"), mode("09", "无此模式", "1"), mode(number85, nullptr),
                   mode("01", " ")},
                  2)
                  .result);
  const struct {
    std::string number, field, value;
  } cases[] = {
      {"07", "FAcctModeID", "非独立核算"},
      {"07", "FDetail", "True"},  // absent: detail
      {"07", "FInvestAmt", "0"},  // absent plain keys write 0
      {"07", "FLevel", "0"},
      {"08", "FAcctModeID_ID", ""},  // blanks write nothing
      {"08", "FDetail", "False"},
      {"09", "FAcctModeID_ID", "0"},  // an unknown mode writes 0
      {"09", "FDetail", "True"},
      {std::string(80, '7'), "FDetail", "True"},  // the number cut at 80
      // An overwrite with a blank mode keeps the stored one; absent figures
      // and references are cleared or left alone as the keys say.
      {"01", "FAcctModeID", "独立核算"},
      {"01", "FInvestAmt", "0"},
      {"01", "FRegionID", "华北"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number + " " + c.field);
    EXPECT_EQ(Field(c.number, c.field), c.value);
  }
}

// The plain figures are stored as the record gives them: a Null stays
// Null (it exports as "0"), an absent key writes 0, a new or an
// overwritten company alike.
TEST_F(SonCompanyTest, PlainFiguresAreStoredAsTheRecordGivesThem) {
  ledger = NewLedger("plain.db");
  const char* keys[][2] = {{"InvestAmt", "FInvestAmt"},
                           {"InvestRate", "FInvestRate"},
                           {"BadDebtsRate", "FBadDebtsRate"},
                           {"BondInvestAmt", "FBondInvestAmt"},
                           {"Level", "FLevel"}};
  auto company = [&](const std::string& number, const std::optional<Variant>& value) {
    auto r = Co(number, "分支" + number);
    if (value)
      for (const auto& k : keys) r->SetValue(k[0], *value);
    return r;
  };
  ASSERT_TRUE(Run({company("01", Variant("7")), company("02", Variant("7"))}, 1).result);
  const struct {
    std::string number;
    std::optional<Variant> value;  // nullopt: the keys are left out
    int imp;
    std::string stored;
  } cases[] = {
      {"01", Variant::Null(), 2, "<null>"}, {"02", std::nullopt, 2, "0"},
      {"03", Variant::Null(), 1, "<null>"}, {"04", Variant("12.5"), 1, "12.5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    EXPECT_TRUE(Clean(Run({company(c.number, c.value)}, c.imp)));
    for (const auto& k : keys) EXPECT_EQ(ItemText(ledger, 10, c.number, k[1]), c.stored) << k[0];
  }
  const std::string file = home.file("plain.xml");
  ASSERT_TRUE(Clean(Export(ledger, 108, file)));
  const std::string text = ReadFile(file);
  const size_t at = text.find("<Number>03</Number>");
  ASSERT_NE(at, std::string::npos);
  EXPECT_NE(text.find("<InvestAmt>0</InvestAmt>", at), std::string::npos);
}

TEST_F(SonCompanyTest, FailuresAreReportedAndNothingHalfDoneStays) {
  if (onServer) GTEST_SKIP() << "the server's integer IDs end where the largest ID is: its sequence cannot go past it";
  const std::string prefix = "引入分支机构资料错误，当前记录名称为：";
  const struct {
    DataRecordPtr bad;
    int imp, coding;
    std::string message;
  } cases[] = {
      {Co("01.01", "无上级", "  "), 1, 1, prefix + "无上级\r错误信息：\r代码01.01 编码中不能打点，该记录无法引入！"},
      {Co("02.01", "错位", "01"), 1, 1, prefix + "错位\r错误信息：\r代码02.01 与其上级代码01 编码不一致，无法引入！"},
      {Co("0302", "错位", "01"), 1, 2, prefix + "错位\r错误信息：\r代码0302 与其上级代码01 编码不一致，无法引入！"},
      {Co(" ", "无代码"), 1, 1, prefix + "无代码\r错误信息：\r代码不能为空"},
      {Co("01", "重名"), 5, 1, prefix + "重名\r错误信息：\r对象变量未设置"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(++n);
    ledger = NewLedger("e" + std::to_string(n) + ".db");
    ASSERT_TRUE(Run({Co("01", "华北")}, 1).result);
    RunResult run = Run({c.bad, Co("03", "华南")}, c.imp, c.coding, Client{.letErrorsPass = true});
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.errors, std::vector<std::string>{c.message});
    EXPECT_EQ(run.rows.size(), 2u);
    EXPECT_EQ(Tree(), (std::vector<std::string>{"01<:华北", "03<:华南"}));
    run = Run({c.bad}, c.imp, c.coding);
    EXPECT_FALSE(run.result);
    EXPECT_TRUE(run.rows.empty());
  }

  // The ledger's item IDs are used up: neither the bare parent nor the
  // company stays.
  Bind(ledger);
  LedgerStore::ForProps(Props(ledger))
      ->Exec("INSERT INTO t_Item (FItemID, FItemClassID, FNumber, FName) VALUES (2147483647, 99, '满', '满')");
  const auto before = Tree();
  RunResult run = Run({Co("05.01", "广州", "05", "华南")}, 1);
  EXPECT_FALSE(run.result);
  ASSERT_EQ(run.errors.size(), 1u);
  EXPECT_EQ(run.errors[0], prefix + "广州\r错误信息：\r核算项目的编号已用尽（上限 2147483647），不能再新增");
  EXPECT_EQ(Tree(), before);

  const std::string target = home.file("s.xml");
  ScopedFactory broken(kItemSet, nullptr);
  run = Export(ledger, 108, target);
  EXPECT_FALSE(run.result);
  EXPECT_EQ(run.errors,
            std::vector<std::string>{"导出分支机构资料出错，当前记录名称为：\r错误信息：\r部件不能创建对象：Corabin.ItemSet"});
  EXPECT_FALSE(FileExist(target));
}

}  // namespace
}  // namespace morvent::test
