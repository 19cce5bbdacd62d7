// The library's spreadsheet calls: the events and answers of the XML calls,
// a sheet read back into a new ledger as the XML route would, templates,
// and the refusals.
#include <gtest/gtest.h>

#include <thread>

#include "context/property_string.h"
#include "sheets/exchange.h"
#include "sheets/sheet_files.h"
#include "store/ledger_admin.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

// Currency: the demo ledger has a Null Scale among them.
constexpr int32_t kCurrency = 103, kDepartment = 120, kCustomer = 110;

struct Events {
  int32_t rows = 0;
  std::vector<std::string> errors;
};

bool Export(const std::string& ledger, int32_t code, const std::string& file, Events& ev, bool sheet) {
  ExportBase exp;
  exp.ExportOneRow = [&](int32_t row, double, bool&) { ev.rows = row; };
  exp.Error = [&](const std::string& m, bool& cancel) {
    ev.errors.push_back(m);
    cancel = false;
  };
  const std::string props = LedgerPropertyString(ledger, "QY");
  return sheet ? ExportSheet(exp, props, code, file) : exp.ExportXMLData(props, code, file);
}

bool Import(const std::string& ledger, int32_t code, const std::string& file, Events& ev, const std::string& encoding = "") {
  ImportBase imp;
  imp.ImportOneRow = [&](int32_t row, double, bool&) { ev.rows = row; };
  imp.Error = [&](const std::string& m, bool& cancel) {
    ev.errors.push_back(m);
    cancel = false;
  };
  return ImportSheet(imp, LedgerPropertyString(ledger, "QY"), code, file, nullptr, encoding);
}

TEST(SheetCalls, ASheetCarriesAKindIntoANewLedgerAsAnXmlFileWould) {
  ProgramHome home;
  const std::string demo = home.file("demo.db");
  CreateLedger(demo);
  FillDemoLedger(demo);
  for (const int32_t code : {kCurrency, kDepartment, kCustomer}) {
    for (const std::string ext : {".xlsx", ".csv"}) {
      SCOPED_TRACE(std::to_string(code) + ext);
      const std::string fresh = home.file(std::to_string(code) + ext + ".db");
      CreateLedger(fresh);
      const std::string sheet = home.file(std::to_string(code) + ext);
      Events out, in, again;
      ASSERT_TRUE(Export(demo, code, sheet, out, true));
      EXPECT_GT(out.rows, 0);
      EXPECT_EQ(out.errors, std::vector<std::string>{});
      ASSERT_TRUE(Import(fresh, code, sheet, in));
      EXPECT_EQ(in.rows, out.rows);
      EXPECT_EQ(in.errors, std::vector<std::string>{});
      // Both ledgers now export the same data file.
      ASSERT_TRUE(Export(demo, code, sheet + ".a.xml", again, false));
      ASSERT_TRUE(Export(fresh, code, sheet + ".b.xml", again, false));
      EXPECT_EQ(ReadFile(sheet + ".a.xml"), ReadFile(sheet + ".b.xml"));
    }
  }
}

TEST(SheetCalls, CallsOnSeveralThreadsAtOnceEachWriteTheirSheet) {
  ProgramHome home;
  const std::string demo = home.file("demo.db");
  CreateLedger(demo);
  FillDemoLedger(demo);
  Events first, second;
  bool done[2] = {};
  std::thread a([&] { done[0] = Export(demo, kDepartment, home.file("a.csv"), first, true); });
  std::thread b([&] { done[1] = Export(demo, kCustomer, home.file("b.xlsx"), second, true); });
  a.join();
  b.join();
  EXPECT_TRUE(done[0] && done[1]);
  Events xml;
  // Once both ended, a file named .csv is an XML file again to the XML call.
  EXPECT_TRUE(Export(demo, kDepartment, home.file("c.csv"), xml, false));
  EXPECT_TRUE(ReadFile(home.file("c.csv")).starts_with("<?xml"));
  long rows = 0;
  sheets::ReadXlsx(home.file("b.xlsx"), {"Customer"}, [&](long, sheets::Row&) { return ++rows, true; });
  EXPECT_EQ(rows, second.rows + 2);
  EXPECT_EQ(ReadFile(home.file("a.csv")).substr(0, 3), "\xEF\xBB\xBF");
}

TEST(SheetCalls, TemplatesHoldTheColumnsOfTheKind) {
  ProgramHome home;
  for (const std::string name : {"t.csv", "t.xlsx"}) {
    SCOPED_TRACE(name);
    WriteSheetTemplate(kDepartment, home.file(name));
    std::vector<std::string> header;
    auto each = [&](long number, sheets::Row& row) {
      for (auto& c : row)
        if (number == 1) header.push_back(c.text);
      return true;
    };
    if (name == "t.csv") sheets::ReadCsv(home.file(name), "", each);
    else sheets::ReadXlsx(home.file(name), {"Department"}, each);
    std::vector<std::string> want;
    for (const auto& c : sheets::ColumnsOf(SourceSchemaDir() + "/SchemaDepartment.xml", "Department")) want.push_back(c.header);
    EXPECT_EQ(header, want);
  }
}

TEST(SheetCalls, ImportErrorsNameTheSheetRowAndCell) {
  ProgramHome home;
  const std::string ledger = home.file("l.db");
  CreateLedger(ledger);
  const std::string csv = home.file("c.csv");
  WriteFile(csv, "Number,Name,CreditAmount\r\n\r\n001,甲,100\r\n002,乙,很多\r\n");
  Events ev;
  ImportBase imp;
  imp.ImportOneRow = [&](int32_t row, double, bool&) { ev.rows = row; };
  imp.Error = [&](const std::string& m, bool& cancel) {
    ev.errors.push_back(m);
    cancel = false;
  };
  EXPECT_TRUE(ImportSheet(imp, LedgerPropertyString(ledger, "QY"), kCustomer, csv));
  ASSERT_EQ(ev.errors.size(), 1u);
  EXPECT_TRUE(ev.errors[0].ends_with("\r表格位置：第 4 行 C 列（CreditAmount）")) << ev.errors[0];
  EXPECT_EQ(imp.LastCounts().created, 1);
  EXPECT_EQ(imp.LastCounts().failed, 1);
  // The events are the caller's again: an XML import's message stays as it is.
  const std::string xml = home.file("c.xml");
  WriteFile(xml, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><CustomerList><Customer><Number>003</Number>"
                 "<Name>丙</Name><CreditAmount>很多</CreditAmount></Customer></CustomerList>");
  imp.ImportXMLData(LedgerPropertyString(ledger, "QY"), kCustomer, xml);
  ASSERT_EQ(ev.errors.size(), 2u);
  EXPECT_EQ(ev.errors[1].find("表格位置"), std::string::npos);
}

TEST(SheetCalls, RefusalsAreErrorsOfTheDataFileKind) {
  ProgramHome home;
  const std::string demo = home.file("demo.db");
  CreateLedger(demo);
  Events ev;
  const std::string xml = home.file("d.xml");
  struct Case {
    const char* what;
    std::function<void()> call;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"export to XML", [&] { Export(demo, kDepartment, xml, ev, true); }, "不认识的表格文件类型（应为 .xlsx 或 .csv）：" + xml},
      {"import from XML", [&] { Import(demo, kDepartment, xml, ev); }, "不认识的表格文件类型（应为 .xlsx 或 .csv）：" + xml},
      {"template of no kind", [&] { WriteSheetTemplate(9999, home.file("t.xlsx")); }, "没有可引入的基础资料类型 9999"},
      {"template of no sheet type", [&] { WriteSheetTemplate(kDepartment, xml); },
       "写模板文件 " + xml + " 出错：不认识的表格文件类型（应为 .xlsx 或 .csv）：" + xml},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      c.call();
      ADD_FAILURE() << "no Error raised";
    } catch (const Error& e) {
      EXPECT_EQ(e.Number(), kErrDataFile);
      EXPECT_EQ(e.Description(), c.error);
    }
  }
  EXPECT_EQ(ev.rows, 0);
}

}  // namespace
}  // namespace morvent::test
