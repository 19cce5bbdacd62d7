// The shipped schema files: valid XSD, consistent with each other, and a
// record holding every key of its element validates and reads back.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/xmlschemas.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "tests/datafile/helpers.h"

namespace morvent::test {
namespace {

const char* const kElements[] = {"AccountType", "Account",    "Currency", "VoucherGroup", "MeasureUnitGroup", "MeasureUnit",
                                 "Settle",      "SonCompany", "Customer", "Stock",        "Supplier",         "Material",
                                 "Employee",    "Department", "AssistType", "AssistDetail", "ItemClass"};

// Every key a handler writes or reads, both field sets where an element has
// two, nested references with their own full records.
DataRecordPtr Parent() { return Rec({{"Name", "上级"}, {"Number", "01"}}); }
DataRecordPtr AssistType() { return Rec({{"Name", "区域"}, {"Number", "12"}}); }
DataRecordPtr AssistDetail() { return Rec({{"Name", "华东"}, {"Number", "HD"}, {"AssistType", AssistType()}}); }
DataRecordPtr Currency() {
  return Rec({{"Name", "美元"}, {"Number", "USD"}, {"ExchangeRate", 7.1}, {"Operator", "*"}, {"Scale", 2}});
}
DataRecordPtr Settle() { return Rec({{"Name", "电汇"}, {"Number", "DH"}, {"CompanyCode", "B1"}}); }
DataRecordPtr AccountType() { return Rec({{"Name", "资产"}, {"Number", "1"}}); }
DataRecordPtr MeasureUnitGroup() { return Rec({{"Name", "重量组"}, {"Number", "2"}}); }
DataRecordPtr MeasureUnit() {
  return Rec({{"Name", "千克"}, {"Number", "kg"}, {"Coefficient", 1}, {"AuxClass", ""}, {"Standard", "1"},
              {"MeasureUnitGroup", MeasureUnitGroup()}});
}
DataRecordPtr ItemClass() { return Rec({{"Name", "客户"}, {"Number", "001"}}); }
DataRecordPtr VoucherGroup() {
  return Rec({{"Name", "记"}, {"CRange", "1001"}, {"DRange", "1002"}, {"NCRange", ""}, {"NDRange", ""},
              {"DCRange", "1"}, {"NDCRange", "2"}});
}
DataRecordPtr Account() {
  return Rec({{"Number", "1001.01"}, {"Name", "现金"}, {"HelperCode", "XJ"}, {"IsDebit", "1"}, {"Level", "2"},
              {"Detail", "1"}, {"AdjustRate", "0"}, {"Contact", "0"}, {"Quantities", "0"}, {"IsCash", "1"},
              {"IsBank", "0"}, {"Journal", "1"}, {"IsCashFlow", "0"}, {"Acctint", "0"}, {"IntRate", "0"},
              {"Currency", Currency()}, {"GroupName", AccountType()}, {"MeasureUnit", MeasureUnit()},
              {"ItemClass", List({ItemClass(), Rec({{"Name", "部门"}, {"Number", "002"}})})}, {"ParentAcct", "1001"}});
}
DataRecordPtr Customer() {
  return Rec({{"Number", "01.01"}, {"Name", "甲"}, {"ShortName", "甲"}, {"LinkMan", "张三"}, {"CreditLimit", "0"},
              {"CIQNumber", ""}, {"SettleCurrency", Currency()}, {"Region", AssistDetail()}, {"Trade", AssistDetail()},
              {"SettleMode", Settle()}, {"Status", AssistDetail()}, {"CreditDays", "30"}, {"CreditAmount", "1000"},
              {"CreditLevel", "A"}, {"Address", "上海"}, {"Phone", "021"}, {"Fax", ""}, {"PostalCode", "200000"},
              {"Email", "a@b.c"}, {"Bank", "工行"}, {"Account", "622"}, {"TaxNum", "91"}, {"City", "上海"},
              {"Province", "上海"}, {"Country", "中国"}, {"HomePage", "http://x"}, {"CompanyCode", "B1"},
              {"CustomerType", Parent()}});
}
DataRecordPtr Supplier() {
  return Rec({{"Number", "02.01"}, {"Name", "乙"}, {"ShortName", "乙"}, {"LinkMan", "李四"}, {"PostalCode", "0"},
              {"Email", ""}, {"CreditLimit", "0"}, {"City", "0"}, {"Province", "0"}, {"Country", "0"},
              {"HomePage", "0"}, {"SettleCurrency", Currency()}, {"Region", AssistDetail()}, {"Trade", AssistDetail()},
              {"SettleMode", Settle()}, {"Status", AssistDetail()}, {"CreditDays", "0"}, {"CreditAmount", "0"},
              {"CreditLevel", ""}, {"Address", "北京"}, {"Phone", "010"}, {"Fax", ""}, {"Bank", ""}, {"Account", ""},
              {"TaxNum", ""}, {"CompanyCode", "B2"}, {"SupplierType", Parent()}});
}
DataRecordPtr Department() {
  return Rec({{"Number", "03"}, {"Name", "财务部"}, {"Manager", " "}, {"Phone", " "}, {"Fax", " "}, {"Note", ""},
              {"CompanyCode", ""}, {"DeptGroup", Parent()}});
}
DataRecordPtr Employee() {
  return Rec({{"Number", "E1"}, {"Name", "王五"}, {"Gender", "男"}, {"Birthday", "1980-01-02"}, {"Email", ""},
              {"Address", ""}, {"Phone", ""}, {"ID", "310"}, {"HireDate", "2001-02-03"}, {"LeaveDate", ""},
              {"Bank", " "}, {"BankAccount", " "}, {"Note", ""}, {"CompanyCode", "B1"}, {"Duty", AssistDetail()},
              {"Degree", AssistDetail()}, {"Department", Department()}, {"EmpType", AssistDetail()},
              {"EmpGroup", Parent()}});
}
DataRecordPtr Stock() {
  return Rec({{"Number", "S1"}, {"Name", "一号库"}, {"Address", ""}, {"Phone", ""}, {"CompanyCode", "B1"},
              {"StockAdmin", Employee()}, {"Property", AssistDetail()}, {"Type", AssistDetail()},
              {"StockType", Parent()}});
}
DataRecordPtr Material() {
  return Rec({{"Number", "M1"}, {"Name", "钢板"}, {"Model", "Q235"}, {"CompanyCode", "B1"}, {"Track", AssistDetail()},
              {"LowLimit", "0"}, {"HighLimit", "9"}, {"IsBatch", "1"}, {"SecInv", "9"}, {"LeadTime", "3"},
              {"PlanPrice", "1.5"}, {"SalePrice", "2"}, {"PriceDecimal", "2"}, {"QtyDecimal", "0"},
              {"ErpCls", AssistDetail()}, {"Unit", MeasureUnit()}, {"DefaultLoc", Stock()}, {"Source", Supplier()},
              {"GoodSpec", AssistDetail()}, {"OrderRector", Employee()}, {"AcctID", Account()},
              {"SaleAcctID", Account()}, {"CostAcctID", Account()}, {"APAcctID", Account()}, {"IsSpecialTax", "0"},
              {"IsKeepTime", "0"}, {"IsStockTime", "0"}, {"TaxRate", "17"}, {"MaterialType", Parent()}});
}
DataRecordPtr SonCompany() {
  return Rec({{"Number", "B.1"}, {"Name", "分公司"}, {"AcctMode", "独立核算"}, {"InvestAmt", "0"}, {"InvestRate", "0"},
              {"BadDebtsRate", "0"}, {"BondInvestAmt", "0"}, {"Level", "2"}, {"IsDetail", "1"}, {"Trade", AssistDetail()},
              {"Region", AssistDetail()}, {"OwnerShip", AssistDetail()}, {"AssetShip", AssistDetail()},
              {"SuperDept", AssistDetail()}, {"ParentName", "总公司"}, {"ParentNumber", "B"}});
}

const std::map<std::string, std::function<DataRecordPtr()>> kFullRecord = {
    {"AccountType", AccountType}, {"Account", Account},       {"Currency", Currency},   {"VoucherGroup", VoucherGroup},
    {"MeasureUnitGroup", MeasureUnitGroup}, {"MeasureUnit", MeasureUnit}, {"Settle", Settle},
    {"SonCompany", SonCompany},   {"Customer", Customer},     {"Stock", Stock},         {"Supplier", Supplier},
    {"Material", Material},       {"Employee", Employee},     {"Department", Department},
    {"AssistType", AssistType},   {"AssistDetail", AssistDetail}, {"ItemClass", ItemClass}};

std::string SchemaFile(const std::string& element) { return SourceSchemaDir() + "/Schema" + element + ".xml"; }

TEST(Schemas, EveryElementHasAValidSchemaAndNothingElseIsShipped) {
  std::set<std::string> expected, shipped;
  for (const char* e : kElements) expected.insert(std::string("Schema") + e + ".xml");
  for (const auto& f : std::filesystem::directory_iterator(SourceSchemaDir())) shipped.insert(f.path().filename().string());
  EXPECT_EQ(shipped, expected);
  for (const char* e : kElements) {
    std::string problem;
    xmlSchemaParserCtxt* pc = xmlSchemaNewParserCtxt(SchemaFile(e).c_str());
    xmlSchemaSetParserStructuredErrors(
        pc, [](void* p, xmlError* err) { *static_cast<std::string*>(p) += err->message ? err->message : "?"; }, &problem);
    xmlSchema* s = xmlSchemaParse(pc);
    EXPECT_NE(s, nullptr) << e;
    EXPECT_EQ(problem, "") << e;
    if (s) xmlSchemaFree(s);
    xmlSchemaFreeParserCtxt(pc);
  }
}

TEST(Schemas, RecordsWithEveryKeyValidateAndReadBack) {
  TempDir dir;
  for (const char* e : kElements) {
    auto in = List({kFullRecord.at(e)(), Rec({})});
    std::string file = dir.file(std::string(e) + ".xml");
    WriteWithComponent(in, file, e, SourceSchemaDir());
    EXPECT_EQ(ValidateWithLibxml(file, SchemaFile(e)), "") << e;
    auto out = std::make_shared<RecordCollection>();
    EXPECT_EQ(ReadWithComponent(out, file, e, SourceSchemaDir()), "") << e;
    EXPECT_EQ(Describe(*out), Describe(*in)) << e;
  }
}

TEST(Schemas, AKeyOfAnotherElementIsRejected) {
  TempDir dir;
  std::string file = dir.file("c.xml");
  WriteWithComponent(List({Rec({{"Name", "x"}, {"Model", "m"}})}), file, "Customer", SourceSchemaDir());
  EXPECT_EQ(ValidateWithLibxml(file, SchemaFile("Customer")), "5: Element 'Model': This element is not expected.\n");
}

// A named type means the same in every file that carries it, so a nested
// record reads the same whichever file it sits in.
TEST(Schemas, NamedTypesAreTheSameInEveryFile) {
  std::map<std::string, std::pair<std::string, std::string>> seen;  // type -> (file, text)
  for (const char* e : kElements) {
    xmlDoc* doc = xmlReadFile(SchemaFile(e).c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOBLANKS);
    ASSERT_NE(doc, nullptr) << e;
    for (xmlNode* n = xmlDocGetRootElement(doc)->children; n; n = n->next) {
      if (n->type != XML_ELEMENT_NODE || xmlStrcmp(n->name, BAD_CAST "complexType") != 0) continue;
      xmlChar* name = xmlGetProp(n, BAD_CAST "name");
      xmlBuffer* buf = xmlBufferCreate();
      xmlNodeDump(buf, doc, n, 0, 0);
      std::string text(reinterpret_cast<const char*>(xmlBufferContent(buf)));
      auto [it, fresh] = seen.emplace(reinterpret_cast<const char*>(name), std::make_pair(std::string(e), text));
      if (!fresh) EXPECT_EQ(it->second.second, text) << name << " differs between " << it->second.first << " and " << e;
      xmlBufferFree(buf);
      xmlFree(name);
    }
    xmlFreeDoc(doc);
  }
  EXPECT_GE(seen.size(), 18u);
}

}  // namespace
}  // namespace morvent::test
