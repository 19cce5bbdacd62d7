// Customers and suppliers through whole data files: round trips against
// golden files under both field sets, files of one set imported under the
// other, and a property string without the ledger's kind.
#include "context/glfunc.h"
#include "context/props.h"
#include "front/export_base.h"
#include "front/import_base.h"
#include "ledger/currency.h"
#include "platform/registry.h"
#include "store/ledger_admin.h"
#include "tests/handlers/fixture.h"

namespace morvent::test {
namespace {

struct Kind {
  int32_t code;
  int16_t cls;
  const char* name;  // fixture folder and file prefix
};
constexpr Kind kCustomers{110, 1, "customer"}, kSuppliers{114, 8, "supplier"};

class PartnerFiles : public HandlerTest {
 protected:
  static std::string File(const Kind& k, const std::string& tail) {
    return Fixture("../" + std::string(k.name) + "/" + k.name + "s_" + tail + ".xml");
  }
  std::string Field(const std::string& ledger, const Kind& k, const std::string& number, const std::string& field) {
    return ItemText(ledger, k.cls, number, field);
  }
  // A new ledger of the kind holding the assist-data values the files name.
  std::string Ledger(const std::string& name, const std::string& acctType) {
    std::string l = NewLedger(name + ".db", acctType);
    EXPECT_TRUE(Import(l, 122, Fixture("../customer/assist_entries.xml"), 1, 1).result);
    return l;
  }
  // Such a ledger holding the input file, with 01.002's references pointing
  // to objects that no longer exist.
  std::string Loaded(const Kind& k, const std::string& acctType) {
    std::string l = Ledger(std::string(k.name) + acctType, acctType);
    EXPECT_TRUE(Clean(Import(l, k.code, File(k, "in"), 1, 1)));
    for (const char* ref : {"FCyID", "FSetID", "FRegionID"}) SetItemField(l, k.cls, "01.002", ref, int32_t{99999});
    return l;
  }
};

// Export, import into a new ledger, export again: both files as golden.
TEST_F(PartnerFiles, RoundTripsMatchTheGoldenFiles) {
  for (const Kind& k : {kCustomers, kSuppliers})
    for (const std::string acctType : {"GY", "QY"}) {
      SCOPED_TRACE(std::string(k.name) + " " + acctType);
      const std::string tag = std::string(k.name) + acctType;
      std::string source = Loaded(k, acctType), first = home.file(tag + "-1.xml"), second = home.file(tag + "-2.xml");
      std::string target = Ledger(tag + "-target", acctType);
      for (const auto& run : {Export(source, k.code, first), Import(target, k.code, first, 1, 1),
                              Export(target, k.code, second)})
        EXPECT_TRUE(Clean(run));
      EXPECT_EQ(ReadFile(first), ReadFile(File(k, acctType == "GY" ? "gy" : "qy")));
      EXPECT_EQ(ReadFile(second), ReadFile(first));
      // A value name that no ledger holds was stored as 0.
      if (acctType == "GY") EXPECT_EQ(Field(source, k, "01.002", "FTrade_ID"), "0");
    }
}

// A file of one field set overwriting items of a ledger of the other kind:
// only the common keys and the ledger's own set are written, absent keys
// of that set giving their defaults; references are left as they were.
TEST_F(PartnerFiles, AFileOfTheOtherSetWritesOnlyTheLedgersOwnSet) {
  using Fields = std::vector<std::pair<const char*, const char*>>;
  const Fields gyIntoOther = {{"FCreditDays", "0"}, {"FCreditAmount", "0"}, {"FCreditLevel", ""},
                              {"FShortName", "<null>"}, {"FPhone", "021-58881234"}};
  const Fields otherIntoGY = {{"FShortName", ""}, {"FContact", ""}, {"FCreditLimit", "0"}, {"FCreditDays", "<null>"}};
  struct Case {
    Kind k;
    std::string ledgerKind, file;
    Fields expected;
  } cases[] = {
      {kCustomers, "QY", "gy", gyIntoOther},
      {kCustomers, "GY", "qy", otherIntoGY},
      {kSuppliers, "QY", "gy", gyIntoOther},
      {kSuppliers, "GY", "qy", otherIntoGY},
  };
  cases[0].expected.push_back({"FCity", "上海"});
  cases[1].expected.push_back({"FCIQNumber", ""});
  cases[2].expected.insert(cases[2].expected.end(), {{"FCity", "<null>"}, {"FTypeID", "0"}});
  cases[3].expected.insert(cases[3].expected.end(), {{"FCity", ""}, {"FPostalCode", ""}, {"FTypeID", "5"}});
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.k.name) + " " + c.ledgerKind);
    std::string l = Loaded(c.k, c.ledgerKind);
    if (c.k.code == kSuppliers.code) SetItemField(l, c.k.cls, "01.001", "FTypeID", int32_t{5});
    const std::string currency = Field(l, c.k, "01.001", "FCyID_ID");
    EXPECT_TRUE(Clean(Import(l, c.k.code, File(c.k, c.file), 2, 1)));
    for (const auto& [field, expected] : c.expected) EXPECT_EQ(Field(l, c.k, "01.001", field), expected) << field;
    EXPECT_EQ(Field(l, c.k, "01.001", "FCyID_ID"), currency);
  }
}

// Without "AcctType" the field-set test fails for every item: on export
// each leaves an empty record; on import nothing of either stays (a
// customer's first save is undone with its record).
TEST_F(PartnerFiles, WithoutAcctTypeEveryRecordFailsThroughTheErrorEvent) {
  for (const Kind& k : {kCustomers, kSuppliers}) {
    SCOPED_TRACE(k.name);
    std::string l = Loaded(k, "GY");
    const std::string props = "Data Source=" + l;
    const std::string missing = ErrorOf([&] {
      ParseProps(props);
      GetProp("AcctType");
    });
    ASSERT_FALSE(missing.empty());
    const std::string what = k.code == kCustomers.code ? "客户" : "供应商";
    const Client pass{.letErrorsPass = true};
    RunResult out = ExportWith(props, k.code, home.file(std::string(k.name) + "-out.xml"), pass);
    EXPECT_TRUE(out.result);
    ASSERT_EQ(out.errors.size(), 5u);
    EXPECT_EQ(out.errors[0], "导出" + what + "资料出错，当前记录名称为：华东" + what + "\r错误信息：\r" + missing);

    std::string in = WriteRecords(std::string(k.name) + "-in.xml", k.code == kCustomers.code ? "Customer" : "Supplier",
                                  {Rec({{"Number", "07"}, {"Name", "新户"}, {"Phone", "1"}}),
                                   Rec({{"Number", "08"}, {"Name", "另一户"}})});
    RunResult imp = ImportWith(props, k.code, in, nullptr, pass);
    EXPECT_TRUE(imp.result);
    const std::string prefix = "引入" + what + "资料错误，当前记录名称为：";
    EXPECT_EQ(imp.errors, (std::vector<std::string>{prefix + "新户\r错误信息：\r" + missing,
                                                    prefix + "另一户\r错误信息：\r" + missing}));
    auto items = Items(l, k.cls);
    EXPECT_EQ(items.count("07"), 0u);
    EXPECT_EQ(items.count("08"), 0u);
  }
}

// The demonstration ledger's customers and suppliers carry every kind of
// reference, and a ledger given its assist data takes them over unchanged.
TEST_F(PartnerFiles, TheDemoLedgersPartnersRoundTripWithEveryReference) {
  std::string demo = DemoLedger("demo.db", "GY"), target = CopyKinds(demo, {122}, "target");
  for (const Kind& k : {kCustomers, kSuppliers}) {
    SCOPED_TRACE(k.name);
    std::string first = home.file(std::string(k.name) + "-1.xml"), second = home.file(std::string(k.name) + "-2.xml");
    ASSERT_TRUE(Export(demo, k.code, first).errors.empty());
    ASSERT_TRUE(Import(target, k.code, first, 1, 1).errors.empty());
    ASSERT_TRUE(Export(target, k.code, second).errors.empty());
    const std::string text = ReadFile(first);
    for (const std::string key : {"SettleCurrency", "Region", "Trade", "SettleMode", "Status", "CompanyCode",
                                  k.code == kCustomers.code ? "CustomerType" : "SupplierType"})
      EXPECT_NE(text.find("<" + key + ">"), std::string::npos) << key;
    // A settlement method's branch code is exported but never imported.
    EXPECT_EQ(WithoutElement(ReadFile(second), "CompanyCode"), WithoutElement(text, "CompanyCode"));
  }
}

// A reference that cannot be had ends the record after its first save: the
// failure is reported with the record's name, and the item is gone with
// the record, the run stopped there or not.
TEST_F(PartnerFiles, AFailingLookupLeavesNothing) {
  for (const Kind& k : {kCustomers, kSuppliers}) {
    SCOPED_TRACE(k.name);
    std::string l = Ledger(std::string(k.name) + "-lookup", "GY");
    auto r = Rec({{"Number", "09"}, {"Name", "坏币别"}, {"Phone", "020-1"}, {"ShortName", "坏"}});
    r->SetValue("SettleCurrency", Rec({{"Number", Variant::Null()}, {"Name", "无代码"}}));
    std::string file = WriteRecords(std::string(k.name) + "-bad.xml", k.code == kCustomers.code ? "Customer" : "Supplier",
                                    {r});
    Bind(l);
    const std::string failure = ErrorOf([&] { CCurrency().GetID(*r->Record("SettleCurrency")); });
    ASSERT_FALSE(failure.empty());
    RunResult in = Import(l, k.code, file, 1, 1);
    EXPECT_FALSE(in.result);
    const std::string what = k.code == kCustomers.code ? "客户" : "供应商";
    EXPECT_EQ(in.errors, std::vector<std::string>{"引入" + what + "资料错误，当前记录名称为：坏币别\r错误信息：\r" + failure});
    EXPECT_EQ(Items(l, k.cls).count("09"), 0u);
    EXPECT_EQ(Objects(l, kCurrencySet, 2).size(), 0u);
  }
}

}  // namespace
}  // namespace morvent::test
