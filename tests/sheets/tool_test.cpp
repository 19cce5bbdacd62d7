// The tool's spreadsheet route: templates, whole-ledger workbooks, CSV in
// the encodings spreadsheet programs save, and the errors workbook.
#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "platform/progdir.h"
#include "sheets/sheet_files.h"
#include "tests/cli/tool.h"
#include "tests/sheets/workbook.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

// Data rows of a sheet (from the third row), cells joined by "|".
std::vector<std::string> DataRows(const std::string& file, const std::string& sheet, std::vector<std::string>* header = nullptr) {
  std::vector<std::string> out;
  auto each = [&](long number, sheets::Row& row) {
    std::string s;
    for (size_t i = 0; i < row.size(); ++i) s += (i ? "|" : "") + row[i].text;
    if (number == 1 && header)
      for (auto& c : row) header->push_back(c.text);
    if (number > 2) out.push_back(s);
    return true;
  };
  if (sheets::SheetFormat(file) == "csv") sheets::ReadCsv(file, "", each);
  else sheets::ReadXlsx(file, {sheet}, each);
  return out;
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(SheetTool, WholeLedgerWorkbookRoundTripEqualsTheXmlRoute) {
  for (const std::string kind : {"GY", "QY"}) {
    SCOPED_TRACE(kind);
    ProgramHome home;
    const std::string src = home.file("src.db"), dst = home.file("dst.db"), book = home.file("book.xlsx");
    ASSERT_EQ(RunTool(home, "ledger demo " + Quote(src) + " --acct-type " + kind).status, 0);
    ASSERT_EQ(RunTool(home, "ledger init " + Quote(dst) + " --acct-type " + kind).status, 0);
    ASSERT_EQ(RunTool(home, "export --ledger " + Quote(src) + " --all " + Quote(home.file("a"))).status, 0);
    ASSERT_EQ(RunTool(home, "export --ledger " + Quote(src) + " --all " + Quote(book)).status, 0)
        << ReadFile(home.file("stderr.txt"));
    for (const auto& e : std::filesystem::directory_iterator(home.path()))
      EXPECT_EQ(e.path().string().find(".kinds"), std::string::npos) << e.path();
    auto again = RunTool(home, "export --ledger " + Quote(src) + " --all " + Quote(book));
    EXPECT_EQ(again.status, 3);
    EXPECT_EQ(ReadFile(home.file("stderr.txt")), "目标文件已存在：" + book + "（要覆盖请加 --overwrite）\n");
    ASSERT_EQ(RunTool(home, "import --ledger " + Quote(dst) + " --all " + Quote(book)).status, 0)
        << ReadFile(home.file("stderr.txt"));
    ASSERT_EQ(RunTool(home, "export --ledger " + Quote(dst) + " --all " + Quote(home.file("b"))).status, 0);
    auto same = RunTool(home, "compare " + Quote(home.file("a")) + " " + Quote(home.file("b")) + " --acct-type " + kind);
    EXPECT_EQ(same.status, 0) << same.out;

    // The template has the export's columns, sheet for sheet, and no rows;
    // export-only kinds have no sheet to fill.
    ASSERT_EQ(RunTool(home, "template --all " + Quote(home.file("t.xlsx"))).status, 0);
    auto names = sheets::XlsxSheetNames(home.file("t.xlsx"));
    auto exported = sheets::XlsxSheetNames(book);
    exported.erase(std::remove(exported.begin(), exported.end(), "AccountType"), exported.end());
    EXPECT_EQ(names, exported);
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.front(), "说明");
    for (size_t i = 1; i < names.size(); ++i) {
      std::vector<std::string> filled, blank;
      EXPECT_FALSE(DataRows(book, names[i], &filled).empty()) << names[i];
      EXPECT_EQ(DataRows(home.file("t.xlsx"), names[i], &blank), std::vector<std::string>{}) << names[i];
      EXPECT_EQ(blank, filled) << names[i];
    }
  }
}

// Every kind: its template filled by a script (with the rows its CSV
// export holds), the folder imported, exported as a workbook, that imported
// into a new ledger and exported as data files: the XML route's files.
TEST(SheetTool, EveryKindsTemplateFilledByAScriptComesBackAsTheXmlRoute) {
  for (const std::string kind : {"GY", "QY"}) {
    SCOPED_TRACE(kind);
    ProgramHome home;
    const std::string src = home.file("src.db"), mid = home.file("mid.db"), dst = home.file("dst.db");
    const std::string filled = home.file("filled"), book = home.file("mid.xlsx");
    ASSERT_EQ(RunTool(home, "ledger demo " + Quote(src) + " --acct-type " + kind).status, 0);
    for (const auto& db : {mid, dst}) ASSERT_EQ(RunTool(home, "ledger init " + Quote(db) + " --acct-type " + kind).status, 0);
    ASSERT_EQ(RunTool(home, "export --ledger " + Quote(src) + " --all " + Quote(home.file("a"))).status, 0);
    ASSERT_EQ(RunTool(home, "export --ledger " + Quote(src) + " --all " + Quote(home.file("src.xlsx"))).status, 0);
    std::filesystem::create_directories(filled);
    int kinds = 0;
    for (const auto& element : sheets::XlsxSheetNames(home.file("src.xlsx"))) {
      if (element == "说明" || element == "AccountType") continue;  // export only
      SCOPED_TRACE(element);
      const std::string t = home.file(element + ".t.csv"), e = home.file(element + ".e.csv");
      ASSERT_EQ(RunTool(home, "template --type " + element + " --file " + Quote(t)).status, 0);
      ASSERT_EQ(RunTool(home, "export --ledger " + Quote(src) + " --type " + element + " --file " + Quote(e)).status, 0);
      const std::string header = ReadFile(t), exported = ReadFile(e);
      ASSERT_TRUE(exported.starts_with(header)) << header;
      WriteFile(filled + "/" + element + ".csv", header + exported.substr(header.size()));
      ++kinds;
    }
    EXPECT_EQ(kinds, 15);
    ASSERT_EQ(RunTool(home, "import --ledger " + Quote(mid) + " --all " + Quote(filled)).status, 0)
        << ReadFile(home.file("stderr.txt"));
    ASSERT_EQ(RunTool(home, "export --ledger " + Quote(mid) + " --all " + Quote(book)).status, 0);
    ASSERT_EQ(RunTool(home, "import --ledger " + Quote(dst) + " --all " + Quote(book)).status, 0)
        << ReadFile(home.file("stderr.txt"));
    ASSERT_EQ(RunTool(home, "export --ledger " + Quote(dst) + " --all " + Quote(home.file("b"))).status, 0);
    auto same = RunTool(home, "compare " + Quote(home.file("a")) + " " + Quote(home.file("b")) + " --acct-type " + kind);
    EXPECT_EQ(same.status, 0) << same.out;
  }
}

TEST(SheetTool, TemplateKeepsCodesAsTextAndOffersZeroOrOne) {
  ProgramHome home;
  const std::string t = home.file("a.xlsx");
  ASSERT_EQ(RunTool(home, "template --type 科目 --file " + Quote(t)).status, 0);
  EXPECT_EQ(sheets::XlsxSheetNames(t), (std::vector<std::string>{"说明", "Account"}));
  std::vector<std::string> header;
  DataRows(t, "Account", &header);
  const std::string sheet = ReadZipPart(t, "xl/worksheets/sheet2.xml");
  const std::string styles = ReadZipPart(t, "xl/styles.xml");
  // Column A (Number) carries a style whose number format is text ("@", 49).
  const size_t col = sheet.find("<col min=\"1\" max=\"1\"");
  ASSERT_NE(col, std::string::npos) << sheet;
  const std::string colTag = sheet.substr(col, sheet.find('>', col) - col);
  EXPECT_NE(colTag.find("style="), std::string::npos) << colTag;
  EXPECT_NE(styles.find("numFmtId=\"49\""), std::string::npos) << styles;
  // Every 0/1 column, and only those, has the list 0,1 from row 3 down.
  for (size_t i = 0; i < header.size(); ++i) {
    const bool flag = header[i].starts_with("Is") || header[i] == "Journal" || header[i] == "Quantities";
    const std::string range = "sqref=\"" + sheets::ColumnLetter(i) + "3:" + sheets::ColumnLetter(i) + "1048576\"><formula1>\"0,1\"";
    EXPECT_EQ(sheet.find(range) != std::string::npos, flag) << header[i];
  }
}

TEST(SheetTool, TemplateFilledByAScriptImports) {
  ProgramHome home;
  const std::string db = home.file("l.db"), t = home.file("t.csv");
  ASSERT_EQ(RunTool(home, "ledger init " + Quote(db) + " --acct-type QY").status, 0);
  ASSERT_EQ(RunTool(home, "template --type 客户 --file " + Quote(t)).status, 0);
  std::vector<std::string> header;
  DataRows(t, "", &header);
  ASSERT_GT(header.size(), 3u);
  // Fill the columns by name, in whatever order the template has them.
  auto row = [&](std::map<std::string, std::string> cells) {
    std::string line;
    for (size_t i = 0; i < header.size(); ++i) line += (i ? "," : "") + cells[header[i]];
    return line + "\r\n";
  };
  WriteFile(t, ReadFile(t) + row({{"Number", "001"}, {"Name", "华东"}}) +
                   row({{"Number", "002"}, {"Name", "\"上海, 浦东\""}, {"CreditAmount", "500"}}));
  auto in = RunTool(home, "import --ledger " + Quote(db) + " --type 客户 --file " + Quote(t));
  ASSERT_EQ(in.status, 0) << ReadFile(home.file("stderr.txt"));
  ASSERT_EQ(RunTool(home, "export --ledger " + Quote(db) + " --type 客户 --file " + Quote(home.file("c.xml"))).status, 0);
  const std::string xml = ReadFile(home.file("c.xml"));
  EXPECT_EQ(Count(xml, "<Customer>"), 2);
  EXPECT_NE(xml.find("<Number>002</Number>\n    <Name>上海, 浦东</Name>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<CreditAmount>500</CreditAmount>"), std::string::npos) << xml;
}

TEST(SheetTool, ExampleTemplateImportsIntoADemoLedgersKinds) {
  ProgramHome home;
  const std::string t = home.file("t.xlsx"), db = home.file("l.db");
  ASSERT_EQ(RunTool(home, "template --all " + Quote(t) + " --example").status, 0) << ReadFile(home.file("stderr.txt"));
  const auto names = sheets::XlsxSheetNames(t);
  ASSERT_GT(names.size(), 10u);
  for (size_t i = 1; i < names.size(); ++i) {
    const auto rows = DataRows(t, names[i]);
    EXPECT_GE(rows.size(), 1u) << names[i];
    EXPECT_LE(rows.size(), 5u) << names[i];
  }
  ASSERT_EQ(RunTool(home, "ledger init " + Quote(db)).status, 0);
  auto in = RunTool(home, "import --ledger " + Quote(db) + " --all " + Quote(t) + " --events jsonl");
  EXPECT_EQ(in.status, 0) << in.out;
  ASSERT_EQ(RunTool(home, "template --type 币别 --file " + Quote(home.file("c.csv")) + " --example").status, 0);
  EXPECT_EQ(DataRows(home.file("c.csv"), "").size(), 5u);
}

TEST(SheetTool, Gb18030CsvAsASpreadsheetProgramSavesIt) {
  ProgramHome home;
  const std::string db = home.file("l.db"), f = home.file("c.csv");
  ASSERT_EQ(RunTool(home, "ledger init " + Quote(db) + " --acct-type QY").status, 0);
  const std::string utf8 = "Number,Name,Address\r\n01,华北客户,\"北京市, 海淀区\"\r\n";
  iconv_t cd = iconv_open("GB18030", "UTF-8");
  std::string gb(utf8.size() * 2, '\0');
  char* in = const_cast<char*>(utf8.data());
  char* out = gb.data();
  size_t inLeft = utf8.size(), outLeft = gb.size();
  iconv(cd, &in, &inLeft, &out, &outLeft);
  iconv_close(cd);
  gb.resize(gb.size() - outLeft);
  WriteFile(f, gb);
  for (const std::string option : {"", " --encoding GB18030"}) {
    SCOPED_TRACE(option);
    ASSERT_EQ(RunTool(home, "import --ledger " + Quote(db) + " --type 客户 --imp-style 2 --file " + Quote(f) + option).status, 0)
        << ReadFile(home.file("stderr.txt"));
    ASSERT_EQ(RunTool(home, "export --overwrite --ledger " + Quote(db) + " --type 客户 --file " + Quote(home.file("c.xml"))).status, 0);
    const std::string xml = ReadFile(home.file("c.xml"));
    EXPECT_NE(xml.find("<Name>华北客户</Name>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<Address>北京市, 海淀区</Address>"), std::string::npos) << xml;
  }
  auto wrong = RunTool(home, "import --ledger " + Quote(db) + " --type 客户 --file " + Quote(f) + " --encoding UTF-8");
  EXPECT_EQ(wrong.status, 1);
}

TEST(SheetTool, ReadErrorsNameTheCell) {
  ProgramHome home;
  const std::string db = home.file("l.db"), f = home.file("c.csv");
  ASSERT_EQ(RunTool(home, "ledger init " + Quote(db) + " --acct-type QY").status, 0);
  WriteFile(f, "Number,Name,Credit\r\n01,甲,1\r\n");
  auto run = RunTool(home, "import --ledger " + Quote(db) + " --type 客户 --file " + Quote(f) + " --events jsonl");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("读取数据文件 " + f + " 出错：第 1 行 C 列（Credit）：接口定义文件中没有这一列（列名区分大小写）"),
            std::string::npos)
      << run.out;
}

TEST(SheetTool, ErrorsOutNeedsASpreadsheetOnBothSides) {
  ProgramHome home;
  const std::string usage = "import：--errors-out 需要 --type 与 .xlsx 或 .csv 的 --file，错误文件也应为 .xlsx 或 .csv\n";
  for (const std::string args : {"--type 客户 --file c.xml --errors-out e.csv", "--type 客户 --file c.csv --errors-out e.txt",
                                 "--all book.xlsx --errors-out e.csv"}) {
    SCOPED_TRACE(args);
    EXPECT_EQ(RunToolIn(home, home.path(), "import --ledger l.db " + args).status, 2);
    EXPECT_EQ(ReadFile(home.file("stderr.txt")), usage);
  }
}

TEST(SheetTool, ErrorsWorkbookHoldsTheFailedRowsAndImportsOnceFixed) {
  for (const std::string out : {"err.csv", "err.xlsx"}) {
    SCOPED_TRACE(out);
    ProgramHome home;
    const std::string db = home.file("l.db"), f = home.file("c.csv"), err = home.file(out);
    ASSERT_EQ(RunTool(home, "ledger init " + Quote(db) + " --acct-type QY").status, 0);
    WriteFile(f, "Number,Name,CreditAmount\r\n01,甲,1\r\n02,乙,5万\r\n03,丙,2\r\n04,丁,七\r\n05,戊,3\r\n06,己,x\r\n");
    auto run = RunTool(home, "import --ledger " + Quote(db) + " --type 客户 --on-error skip --file " + Quote(f) +
                                 " --errors-out " + Quote(err));
    EXPECT_EQ(run.status, 4) << ReadFile(home.file("stderr.txt"));
    // Each error names its sheet row as well as its record.
    const std::string said = ReadFile(home.file("stderr.txt"));
    for (const std::string where : {"（第 2 条记录）", "（第 4 条记录）", "（第 6 条记录）"})
      EXPECT_NE(said.find("错误" + where), std::string::npos) << said;
    for (const std::string row : {"表格位置：第 3 行 C 列（CreditAmount）", "表格位置：第 5 行 C 列（CreditAmount）",
                                  "表格位置：第 7 行 C 列（CreditAmount）"})
      EXPECT_NE(said.find(row), std::string::npos) << said;
    std::vector<std::string> header;
    const auto rows = DataRows(err, "Customer", &header);
    EXPECT_EQ(header, (std::vector<std::string>{"Number", "Name", "CreditAmount", "错误"}));
    ASSERT_EQ(rows.size(), 3u);
    const std::vector<std::string> bad = {"02|乙|5万|", "04|丁|七|", "06|己|x|"};
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(rows[i].substr(0, bad[i].size()), bad[i]);
      EXPECT_NE(rows[i].find("类型不匹配"), std::string::npos) << rows[i];
    }
    if (out == "err.csv") {
      EXPECT_EQ(ReadFile(err).substr(0, 3), "\xEF\xBB\xBF");
      // The user fixes the amounts; the 错误 column is ignored on import.
      std::string text = ReadFile(err);
      for (const std::string v : {"5万", "七", "x"}) text.replace(text.find("," + v + ","), v.size() + 2, ",9,");
      WriteFile(err, text);
    } else {
      // Fixed by dropping the bad column: those rows then import as they are.
      HandMadeWorkbook wb;
      wb.sharedStrings = {"Number", "Name", "02", "乙", "04", "丁", "06", "己"};
      wb.rows = {R"(<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c></row>)",
                 R"(<row r="3"><c r="A3" t="s"><v>2</v></c><c r="B3" t="s"><v>3</v></c></row>)",
                 R"(<row r="4"><c r="A4" t="s"><v>4</v></c><c r="B4" t="s"><v>5</v></c></row>)",
                 R"(<row r="5"><c r="A5" t="s"><v>6</v></c><c r="B5" t="s"><v>7</v></c></row>)"};
      wb.Write(err);
    }
    auto again = RunTool(home, "import --ledger " + Quote(db) + " --type 客户 --file " + Quote(err));
    EXPECT_EQ(again.status, 0) << ReadFile(home.file("stderr.txt"));
    EXPECT_NE(ReadFile(home.file("stderr.txt")).find("新建 3 条"), std::string::npos) << ReadFile(home.file("stderr.txt"));
  }
}

}  // namespace
}  // namespace morvent::test
