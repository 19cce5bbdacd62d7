// Stocks through whole data files: the demonstration stocks round trip
// against golden files under both field sets, and the departures of stocks
// from the shared item frame (numbers cut at 40, the type preset outside GY).
#include "store/ledger_admin.h"
#include "tests/handlers/fixture.h"

namespace morvent::test {
namespace {

constexpr int32_t kStocks = 112;
constexpr int16_t kStockClass = 5;

class StockFiles : public HandlerTest {
 protected:
  // The demonstration ledger of the kind, and an empty one holding its
  // assist data (entries are looked up, never created, by stocks).
  std::pair<std::string, std::string> Ledgers(const std::string& kind, const std::string& tag = "") {
    std::string demo = DemoLedger("demo" + kind + tag + ".db", kind);
    return {demo, CopyKinds(demo, {122}, "target" + kind + tag)};
  }
  std::string Field(const std::string& ledger, const std::string& number, const std::string& field) {
    return ItemText(ledger, kStockClass, number, field);
  }
};

// Export, import into a ledger with the same assist data, export again.
TEST_F(StockFiles, DemoStocksRoundTripMatchingTheGoldenFiles) {
  for (const std::string kind : {"GY", "QY"}) {
    SCOPED_TRACE(kind);
    auto [demo, target] = Ledgers(kind);
    std::string first = home.file("stocks" + kind + "-1.xml"), second = home.file("stocks" + kind + "-2.xml");
    for (const auto& run : {Export(demo, kStocks, first), Import(target, kStocks, first, 1, 1),
                            Export(target, kStocks, second)})
      EXPECT_TRUE(Clean(run));
    EXPECT_EQ(ReadFile(first), ReadFile(Fixture("../stock/stocks_" + std::string(kind == "GY" ? "gy" : "qy") + ".xml")));
    // A department's manager, nested in the administrator, is never imported.
    EXPECT_EQ(WithoutElement(ReadFile(second), "Manager"), WithoutElement(ReadFile(first), "Manager"));
    // The administrator came over through the employee handler.
    if (kind == "GY") EXPECT_EQ(Items(target, 3).count("03.001"), 1u);
  }
}

// Overwriting stock 01.01 (type, property, administrator, address set) from
// one record of the file under each ledger kind.
TEST_F(StockFiles, OverwritingFollowsTheLedgerKind) {
  const std::string longNumber = "02." + std::string(45, '7');
  struct Case {
    std::string kind;
    DataRecordPtr record;
    std::vector<std::pair<const char*, const char*>> expected;  // field of 01.01, or "#items" checks below
  };
  auto plain = ItemRecord("01.01", "钢材库新", "StockType", "01", "原材料仓");
  auto withAdmin = Rec({{"Number", "01.01"}, {"Name", "钢材库"}, {"CompanyCode", "BJ09"}});
  withAdmin->SetValue("StockAdmin", Rec({{"Number", "09"}, {"Name", "新来的保管员"}}));
  withAdmin->SetValue("StockType", Rec({{"Name", "原材料仓"}, {"Number", "01"}}));
  const Case cases[] = {
      // Outside GY the type is reset when "Type" is absent; absent texts clear.
      {"QY", plain, {{"FTypeID_ID", "0"}, {"FAddress", ""}, {"FBrNo", ""}, {"FName", "钢材库新"}}},
      // In GY the stored type and the references without keys stay.
      {"GY", plain, {{"FTypeID_ID", "仓库类型"}, {"FProperty_ID", "仓库属性"}, {"FEmpID_ID", "keeper"}, {"FBrNo", ""}}},
      // Outside GY an administrator is ignored, and no employee is made.
      {"QY", withAdmin, {{"FEmpID_ID", "keeper"}, {"FBrNo", "BJ09"}, {"#employee 09", "0"}}},
      {"GY", withAdmin, {{"FEmpID_ID", "employee 09"}, {"FBrNo", "BJ09"}, {"#employee 09", "1"}}},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind + " " + c.record->Value("Name").ToText());
    auto [demo, target] = Ledgers(c.kind, std::to_string(++n));
    const std::string keeper = Field(demo, "01.01", "FEmpID_ID"), type = Field(demo, "01.01", "FTypeID_ID"),
                      property = Field(demo, "01.01", "FProperty_ID");
    std::string file = WriteRecords("in" + std::to_string(n) + ".xml", "Stock", {c.record});
    EXPECT_TRUE(Clean(Import(demo, kStocks, file, 2, 1)));
    auto employees = Items(demo, 3);
    for (const auto& [field, want] : c.expected) {
      std::string expected = want;
      if (expected == "keeper") expected = keeper;
      if (expected == "仓库类型") expected = type;
      if (expected == "仓库属性") expected = property;
      if (expected == "employee 09") expected = std::to_string(employees["09"].id);
      if (std::string(field) == "#employee 09")
        EXPECT_EQ(std::to_string(employees.count("09")), expected);
      else
        EXPECT_EQ(Field(demo, "01.01", field), expected) << field;
    }
  }
  // A number is cut to 40 characters before it is checked against its parent.
  std::string l = NewLedger("cut.db", "QY");
  auto longRecord = ItemRecord(longNumber, "长代码仓", "StockType", "02", "成品仓");
  RunResult in = Import(l, kStocks, WriteRecords("long.xml", "Stock", {longRecord}), 1, 1);
  EXPECT_TRUE(in.errors.empty()) << (in.errors.empty() ? "" : in.errors.front());
  auto items = Items(l, kStockClass);
  ASSERT_EQ(items.count(longNumber.substr(0, 40)), 1u);
  EXPECT_EQ(items[longNumber.substr(0, 40)].parentNumber, "02");
  RunResult bad = Import(l, kStocks, WriteRecords("bad.xml", "Stock", {ItemRecord("04.01", "无上级仓")}), 1, 1);
  EXPECT_FALSE(bad.result);
  EXPECT_EQ(bad.errors, std::vector<std::string>{"引入仓库资料错误，当前记录名称为：无上级仓\r错误信息：\r代码04.01 编码中不能打点，该记录无法引入！"});
}

}  // namespace
}  // namespace morvent::test
