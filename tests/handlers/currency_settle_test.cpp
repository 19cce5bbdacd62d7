// Currencies and settlement methods: import rules, lookups, round trips.
#include "context/glfunc.h"
#include "ledger/currency.h"
#include "ledger/settle.h"
#include "platform/registry.h"
#include "store/ledger_admin.h"
#include "tests/handlers/fixture.h"

namespace morvent::test {
namespace {

struct Currency {
  std::string name, number, op;
  double rate = 0;
  Variant scale;
};

class CurrencySettleTest : public RecordsTest {
 protected:
  std::map<std::string, Currency> Currencies() {
    std::map<std::string, Currency> out;
    for (const auto& o : Objects(ledger, kCurrencySet, 2)) {
      Currency c{o->Name(), o->Number(), o->Get("Operator").ToText(), o->Get("ExchangeRate").ToDouble(), o->Get("ScaleX")};
      out[c.number] = c;
    }
    return out;
  }
  std::map<std::string, LedgerObjectPtr> Settles() {
    std::map<std::string, LedgerObjectPtr> out;
    for (const auto& o : Objects(ledger, kSettTypeSet, 1)) out[o->Number()] = o;
    return out;
  }
};

DataRecordPtr Cur(const std::string& number, const std::string& name) { return Rec({{"Number", number}, {"Name", name}}); }

TEST_F(CurrencySettleTest, CurrencyNumbersAreCutToThreeCharacters) {
  auto a = Cur("USDX", "美元");
  a->SetValue("ExchangeRate", "7.1");
  auto b = Cur("USDY", "美元（新）");
  b->SetValue("ExchangeRate", "7.2");
  RunResult run = Run(103, {a, b}, 1);
  EXPECT_TRUE(run.result);
  auto cs = Currencies();
  ASSERT_EQ(cs.size(), 1u);
  EXPECT_EQ(cs["USD"].name, "美元");  // the second record met the first and kept it
  EXPECT_EQ(cs["USD"].rate, 7.1);

  ASSERT_TRUE(Run(103, {b}, 2).result);
  cs = Currencies();
  ASSERT_EQ(cs.size(), 1u);
  EXPECT_EQ(cs["USD"].name, "美元（新）");
  EXPECT_EQ(cs["USD"].rate, 7.2);
  // Characters, not bytes.
  ASSERT_TRUE(Run(103, {Cur("人民币元", "人民币")}, 1).result);
  EXPECT_TRUE(Currencies().count("人民币"));
}

TEST_F(CurrencySettleTest, OperatorRateAndScaleDefaults) {
  auto star = Cur("AAA", "星");
  star->SetValue("Operator", "*");
  auto slash = Cur("BBB", "斜");
  slash->SetValue("Operator", "/");
  auto other = Cur("CCC", "其他");
  other->SetValue("Operator", "÷");
  auto blank = Cur("DDD", "带空格");
  blank->SetValue("Operator", " *");
  auto absent = Cur("EEE", "缺省");
  RunResult run = Run(103, {star, slash, other, blank, absent}, 1);
  EXPECT_TRUE(run.result);
  EXPECT_TRUE(run.errors.empty());
  auto cs = Currencies();
  EXPECT_EQ(cs["AAA"].op, "*");
  EXPECT_EQ(cs["BBB"].op, "/");
  EXPECT_EQ(cs["CCC"].op, "/");
  EXPECT_EQ(cs["DDD"].op, "/");
  EXPECT_EQ(cs["EEE"].op, "*");
  // No "ExchangeRate": 1; no "Scale": 0.
  EXPECT_EQ(cs["EEE"].rate, 1);
  EXPECT_EQ(cs["EEE"].scale.ToLong(), 0);
}

TEST_F(CurrencySettleTest, ExistingCurrencyIsKeptOrOverwrittenWhole) {
  auto first = Rec({{"Number", "EUR"}, {"Name", "欧元"}, {"ExchangeRate", "7.8"}, {"Operator", "*"}, {"Scale", "2"}});
  ASSERT_TRUE(Run(103, {first}, 1).result);
  auto second = Rec({{"Number", "EUR"}, {"Name", "欧元区"}, {"ExchangeRate", "0.128"}, {"Operator", "/"}, {"Scale", "4"}});
  ASSERT_TRUE(Run(103, {second}, 1).result);
  auto c = Currencies()["EUR"];
  EXPECT_EQ(c.name, "欧元");
  EXPECT_EQ(c.rate, 7.8);
  EXPECT_EQ(c.op, "*");
  EXPECT_EQ(c.scale.ToLong(), 2);

  ASSERT_TRUE(Run(103, {second}, 2).result);
  c = Currencies()["EUR"];
  EXPECT_EQ(c.name, "欧元区");
  EXPECT_EQ(c.rate, 0.128);
  EXPECT_EQ(c.op, "/");
  EXPECT_EQ(c.scale.ToLong(), 4);
  // An overwrite from a record lacking keys writes their defaults.
  ASSERT_TRUE(Run(103, {Cur("EUR", "欧元")}, 2).result);
  c = Currencies()["EUR"];
  EXPECT_EQ(c.rate, 1);
  EXPECT_EQ(c.op, "*");
  EXPECT_EQ(c.scale.ToLong(), 0);
}

TEST_F(CurrencySettleTest, OtherImportStyleFailsOnExistingObjectsAndGoesOn) {
  ASSERT_TRUE(Run(103, {Cur("JPY", "日元")}, 1).result);
  RunResult run = Run(103, {Cur("JPY", "日圆"), Cur("KRW", "韩元"), Cur("GBP", "英镑")}, 5, 1, Client{.letErrorsPass = true});
  EXPECT_TRUE(run.result);
  ASSERT_EQ(run.errors.size(), 1u);
  EXPECT_EQ(run.errors[0], "引入币别资料错误，当前记录名称为：日圆\r错误信息：\r对象变量未设置");
  ASSERT_EQ(run.rows.size(), 3u);  // the failed record still reports progress
  EXPECT_EQ(run.rows[0].rate, 33);
  EXPECT_EQ(run.rows[1].rate, 66);
  EXPECT_EQ(run.rows[2].rate, 100);
  EXPECT_EQ(Currencies().size(), 3u);

  ASSERT_TRUE(Run(107, {Rec({{"Number", "JF01"}, {"Name", "现金"}})}, 1).result);
  run = Run(107, {Rec({{"Number", "JF01"}, {"Name", "库存现金"}})}, 5);
  EXPECT_FALSE(run.result);
  ASSERT_EQ(run.errors.size(), 1u);
  EXPECT_EQ(run.errors[0], "引入结算方式错误，当前记录名称为：库存现金\r错误信息：\r对象变量未设置");
  EXPECT_EQ(LogEntries(), 2);
}

TEST_F(CurrencySettleTest, CurrencyLookups) {
  ASSERT_TRUE(Import(ledger, 103, Fixture("currencies_in.xml"), 1, 1).result);
  auto cs = Objects(ledger, kCurrencySet, 2);
  ASSERT_EQ(cs.size(), 4u);
  int32_t usd = 0;
  for (const auto& c : cs)
    if (c->Number() == "USD") usd = c->Get("CurrencyID").ToLong();
  Bind(ledger);
  CCurrency h;
  EXPECT_TRUE(h.CheckID(usd));
  EXPECT_FALSE(h.CheckID(4711));
  auto info = h.GetInfo(usd);
  ASSERT_EQ(info->Count(), 5u);
  const char* keys[] = {"Name", "Number", "ExchangeRate", "Operator", "Scale"};
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(info->Entries()[i].first, keys[i]);
  EXPECT_EQ(info->Value("Name").ToText(), "美元");
  EXPECT_EQ(h.GetInfo(4711)->Count(), 0u);
  // GetID answers an existing currency and imports a new one.
  EXPECT_EQ(h.GetID(*Cur("USD", "别名")), usd);
  int32_t chf = h.GetID(*Rec({{"Number", "CHF"}, {"Name", "瑞士法郎"}, {"ExchangeRate", "8.1"}}));
  EXPECT_GT(chf, 0);
  EXPECT_TRUE(h.CheckID(chf));
  // CheckID never raises.
  ScopedFactory broken(kCurrencySet, nullptr);
  CCurrency fresh;
  EXPECT_FALSE(fresh.CheckID(usd));
}

TEST_F(CurrencySettleTest, SettleNumbersAreCutAt80AndCompanyCodeIsNeverImported) {
  std::string number(100, 'J'), name;
  for (int i = 0; i < 120; ++i) name += "结";
  auto r = Rec({{"Number", number}, {"Name", name}, {"CompanyCode", "009"}});
  ASSERT_TRUE(Run(107, {r}, 1).result);
  auto ss = Settles();
  ASSERT_EQ(ss.size(), 1u);
  const auto& [stored, method] = *ss.begin();
  EXPECT_EQ(stored, std::string(80, 'J'));
  EXPECT_EQ(method->Name(), name);
  EXPECT_TRUE(method->Get("BrNo").IsNull());
}

TEST_F(CurrencySettleTest, ExistingSettleIsKeptOrRenamed) {
  ASSERT_TRUE(Run(107, {Rec({{"Number", "JF02"}, {"Name", "转账支票"}})}, 1).result);
  ASSERT_TRUE(Run(107, {Rec({{"Number", "JF02"}, {"Name", "支票"}})}, 1).result);
  EXPECT_EQ(Settles()["JF02"]->Name(), "转账支票");
  ASSERT_TRUE(Run(107, {Rec({{"Number", "JF02"}, {"Name", "支票"}})}, 2).result);
  EXPECT_EQ(Settles()["JF02"]->Name(), "支票");
  EXPECT_EQ(Settles().size(), 1u);
}

TEST_F(CurrencySettleTest, SettleLookups) {
  ASSERT_TRUE(Import(ledger, 107, Fixture("settles_in.xml"), 1, 1).result);
  int32_t id = Settles()["JF03.A"]->Get("ItemID").ToLong();
  Bind(ledger);
  CSettle h;
  EXPECT_TRUE(h.CheckID(id));
  EXPECT_FALSE(h.CheckID(-3));
  auto info = h.GetInfo(id);
  ASSERT_EQ(info->Count(), 3u);
  EXPECT_EQ(info->Entries()[2].first, "CompanyCode");
  EXPECT_EQ(info->Value("Name").ToText(), "电汇（加急）");
  EXPECT_EQ(h.GetInfo(-3)->Count(), 0u);
  EXPECT_EQ(h.GetID(*Rec({{"Number", "JF03.A"}, {"Name", "x"}})), id);
}

TEST_F(CurrencySettleTest, ExportsReportProgressAndHonourCancel) {
  std::string demo = DemoLedger();
  size_t settles = Objects(demo, kSettTypeSet, 1).size();
  ASSERT_GT(settles, 2u);
  std::string file = home.file("s.xml");
  RunResult run = Export(demo, 107, file);
  EXPECT_TRUE(run.result);
  ASSERT_EQ(run.rows.size(), settles);
  for (size_t i = 0; i < settles; ++i) {
    EXPECT_EQ(run.rows[i].row, static_cast<int32_t>(i + 1));
    EXPECT_EQ(run.rows[i].rate, std::floor((i + 1) * 100.0 / settles));
  }
  std::string cancelled = home.file("c.xml");
  run = Export(demo, 103, cancelled, Client{.cancelAtRow = 2});
  EXPECT_FALSE(run.result);
  EXPECT_EQ(run.rows.size(), 2u);
  EXPECT_FALSE(FileExist(cancelled));
  // An empty set still writes its (empty) file.
  run = Export(ledger, 103, cancelled);
  EXPECT_TRUE(run.result);
  EXPECT_TRUE(run.rows.empty());
  EXPECT_TRUE(FileExist(cancelled));
}

TEST_F(CurrencySettleTest, GoldenFilesRoundTrip) {
  ASSERT_TRUE(Import(ledger, 103, Fixture("currencies_in.xml"), 1, 1).result);
  ASSERT_TRUE(Import(ledger, 107, Fixture("settles_in.xml"), 1, 1).result);
  auto [c1, c2] = RoundTrip(ledger, 103, "cur");
  EXPECT_EQ(c1, ReadFile(Fixture("currencies.xml")));
  EXPECT_EQ(c2, c1);
  auto [s1, s2] = RoundTrip(ledger, 107, "set");
  EXPECT_EQ(s1, ReadFile(Fixture("settles.xml")));
  EXPECT_EQ(s2, s1);
}

TEST_F(CurrencySettleTest, DemoLedgerRoundTrips) {
  std::string demo = DemoLedger("demo.db", "GY");
  auto [c1, c2] = RoundTrip(demo, 103, "cur");
  EXPECT_EQ(c2, c1);
  auto [s1, s2] = RoundTrip(demo, 107, "set");
  EXPECT_NE(s1.find("<CompanyCode>"), std::string::npos);
  EXPECT_EQ(WithoutElement(s2, "CompanyCode"), WithoutElement(s1, "CompanyCode"));
}

}  // namespace
}  // namespace morvent::test
