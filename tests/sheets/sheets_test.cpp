// The spreadsheet files: columns, CSV and XLSX reading, and the round trip
// of records through the sheet components.
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/stat.h>

#include <filesystem>

#include <functional>

#include "sheets/sheet_files.h"
#include "tests/sheets/workbook.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

using sheets::Cell;
using sheets::Row;

std::string Schema(const std::string& element) { return SourceSchemaDir() + "/Schema" + element + ".xml"; }

// Every row of a CSV file as "text|text" with absent cells as "·", empty texts as "".
std::vector<std::string> CsvRows(const std::string& path, const std::string& encoding = "") {
  std::vector<std::string> out;
  sheets::ReadCsv(path, encoding, [&](long, Row& row) {
    std::string s;
    for (size_t i = 0; i < row.size(); ++i) s += (i ? "|" : "") + (row[i].present ? row[i].text : "·");
    out.push_back(s);
    return true;
  });
  return out;
}

std::string Describe(const Variant& v) {
  if (v.IsNull()) return "null";
  if (auto r = v.As<DataRecord>()) {
    std::string s = "{";
    for (const auto& [k, x] : r->Entries()) s += k + "=" + Describe(x) + ",";
    return s + "}";
  }
  if (auto c = v.As<RecordCollection>()) {
    std::string s = "[";
    for (int32_t i = 1; i <= c->UBound(); ++i) s += Describe(Variant(c->Item(i))) + ",";
    return s + "]";
  }
  return "\"" + v.ToText() + "\"";
}

std::string Read(const std::string& file, const std::string& element, RecordCollectionPtr& records) {
  sheets::SheetFileReader reader;
  std::string error;
  reader.InputXML(records, file, Schema(element), element, error);
  return error;
}

std::string Gb18030(const std::string& utf8) {
  iconv_t cd = iconv_open("GB18030", "UTF-8");
  std::string out(utf8.size() * 2, '\0');
  char* in = const_cast<char*>(utf8.data());
  char* o = out.data();
  size_t inLeft = utf8.size(), outLeft = out.size();
  iconv(cd, &in, &inLeft, &o, &outLeft);
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

TEST(SheetColumns, LettersAndCellNames) {
  const std::vector<std::pair<size_t, std::string>> cases = {{0, "A"}, {3, "D"}, {25, "Z"}, {26, "AA"}, {701, "ZZ"}, {702, "AAA"}};
  for (const auto& [i, letters] : cases) EXPECT_EQ(sheets::ColumnLetter(i), letters) << i;
  EXPECT_EQ(sheets::CellName(5, 3, "CreditAmount"), "第 5 行 D 列（CreditAmount）");
}

TEST(SheetColumns, FollowTheSchemaWithDottedReferencesAndCollections) {
  auto customer = sheets::ColumnsOf(Schema("Customer"), "Customer");
  ASSERT_GE(customer.size(), 3u);
  EXPECT_EQ(customer[0].header, "Number");
  EXPECT_EQ(customer[0].Description(), "代码 | 代码 | 必填");
  EXPECT_EQ(customer[1].header, "Name");
  auto find = [](const std::vector<sheets::Column>& cs, const std::string& h) -> const sheets::Column* {
    for (const auto& c : cs)
      if (c.header == h) return &c;
    return nullptr;
  };
  const auto* currency = find(customer, "SettleCurrency.Number");
  ASSERT_TRUE(currency);
  EXPECT_TRUE(currency->IsCode());
  EXPECT_EQ(currency->Description(), "SettleCurrency 的代码 | 代码");
  EXPECT_TRUE(find(customer, "CustomerType.Number"));
  EXPECT_FALSE(find(customer, "SettleCurrency"));

  auto account = sheets::ColumnsOf(Schema("Account"), "Account");
  const auto* items = find(account, "ItemClass");
  ASSERT_TRUE(items);
  EXPECT_TRUE(items->collection);
  ASSERT_TRUE(find(account, "IsCash"));
  EXPECT_TRUE(find(account, "IsCash")->IsFlag());

  EXPECT_EQ(ErrorOfStd([] { sheets::ColumnsOf(Schema("Customer"), "Nobody"); }),
            "接口定义文件 " + Schema("Customer") + " 中没有记录元素 Nobody");
}

TEST(SheetCsv, QuotingEncodingsAndByteOrderMarks) {
  TempDir dir;
  const std::string body = "Number,Name,Address\r\n"
                           "001,\"上海, 浦东\",\"第一行\r\n第二行 \"\"引号\"\"\"\r\n"
                           "002, 带空格 ,\"\"\r\n";
  const std::vector<std::string> expected = {"Number|Name|Address", "001|上海, 浦东|第一行\r\n第二行 \"引号\"",
                                             "002| 带空格 |"};
  struct Case {
    const char* what;
    std::string bytes, encoding;
  };
  const std::vector<Case> cases = {
      {"UTF-8", body, ""},
      {"UTF-8 with BOM", "\xEF\xBB\xBF" + body, ""},
      {"GB18030 detected", Gb18030(body), ""},
      {"GB18030 named", Gb18030(body), "GB18030"},
      {"GBK named", Gb18030(body), "GBK"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(dir.file("a.csv"), c.bytes);
    EXPECT_EQ(CsvRows(dir.file("a.csv"), c.encoding), expected);
  }
  WriteFile(dir.file("a.csv"), "a,,b\n");
  EXPECT_EQ(CsvRows(dir.file("a.csv")), std::vector<std::string>{"a|·|b"});
  EXPECT_EQ(ErrorOfStd([&] { CsvRows(dir.file("a.csv"), "NO-SUCH-CODE"); }), "不认识的编码 NO-SUCH-CODE");
}

TEST(SheetCsv, LongFilesReadInChunksWhateverStraddlesTheirEdges) {
  TempDir dir;
  // Rows of odd lengths put characters, quotes and line ends across every
  // chunk edge somewhere; a GB18030 character only late in the file must
  // still switch the whole file.
  std::string body;
  std::vector<std::string> expected;
  for (int i = 0; i < 6000; ++i) {
    const std::string name = "客户" + std::string(i % 7, 'x') + "，\"甲\"\r\n乙" + std::to_string(i);
    std::string quoted;
    for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    body += std::to_string(i) + ",\"" + quoted + "\"\r\n";
    expected.push_back(std::to_string(i) + "|" + name);
  }
  ASSERT_GT(body.size(), 3u * 65536);
  struct Case {
    const char* what;
    std::string bytes, encoding;
  };
  const std::vector<Case> cases = {{"UTF-8", body, ""}, {"GB18030", Gb18030(body), ""}, {"GB18030 named", Gb18030(body), "GB18030"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(dir.file("a.csv"), c.bytes);
    EXPECT_EQ(CsvRows(dir.file("a.csv"), c.encoding), expected);
  }
  // Broken bytes in a named encoding are found where they stand.
  const std::string gb = Gb18030(body);
  const size_t cut = gb.find("\r\n", 70000) + 2;
  WriteFile(dir.file("a.csv"), gb.substr(0, cut) + "\x81\x20" + "\r\n");
  const std::string at = std::to_string(cut + 1);
  EXPECT_EQ(ErrorOfStd([&] { CsvRows(dir.file("a.csv"), "GB18030"); }),
            "文件 " + dir.file("a.csv") + " 不是有效的 GB18030 文本（第 " + at + " 个字节）");
}

TEST(SheetCsv, ImportErrorsNameRowAndColumn) {
  TempDir dir;
  struct Case {
    const char* what;
    std::string csv, error;
  };
  const std::string f = dir.file("c.csv");
  const std::string head = "读取数据文件 " + f + " 出错：";
  const std::vector<Case> cases = {
      {"unknown column", "Number,Name,Credit\r\n", head + "第 1 行 C 列（Credit）：接口定义文件中没有这一列（列名区分大小写）"},
      {"repeated column", "Number,Name,Number\r\n", head + "第 1 行 C 列（Number）：这一列与 A 列重复"},
      {"cell past the header", "Number,Name\r\n01,甲\r\n02,乙,多余\r\n", head + "第 3 行 C 列（）：这一列没有列名"},
      {"control character", "Number,Name\r\n01,甲\r\n\r\n02,\"a\x01\"\r\n", head + "第 4 行 B 列（Name）：含有数据文件不能容纳的控制字符"},
      {"no header", "", head + "文件中没有列名行"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(f, c.csv);
    RecordCollectionPtr records;
    EXPECT_EQ(Read(f, "Customer", records), c.error);
  }
  WriteFile(dir.file("a.csv"), "Number,ItemClass\r\n1001,\"[{\"\"Number\"\":1}\"\r\n");
  RecordCollectionPtr records;
  const std::string error = Read(dir.file("a.csv"), "Account", records);
  EXPECT_EQ(error.substr(0, error.find("（", error.find("ItemClass）") + 12)),
            "读取数据文件 " + dir.file("a.csv") + " 出错：第 2 行 B 列（ItemClass）：不是有效的记录列表");
  // What the data-file reader finds names the sheet's row, past blank rows.
  WriteFile(dir.file("a.csv"), "Number,Name,ItemClass\r\n,,\r\n,,\r\n1002,银行,\"[{\"\"Bogus\"\":\"\"1\"\"}]\"\r\n");
  EXPECT_EQ(Read(dir.file("a.csv"), "Account", records),
            "读取数据文件 " + dir.file("a.csv") +
                " 出错：第 4 行：元素 Record 中有未知的键 Bogus：接口定义文件中没有这个键（键名区分大小写）");
}

TEST(SheetCsv, RowsBecomeTheRecordsOfADataFile) {
  TempDir dir;
  const std::string f = dir.file("c.csv");
  // The description row is skipped by its shape, even in other words;
  // blank rows are skipped but counted.
  WriteFile(f, "Name,Number,SettleCurrency.Number,Phone,ShortName\r\n"
                   "名字 | 文本 | 必填,旧的含义 | 代码,,,\r\n"
                   "甲,001,RMB,\"\",\r\n"
                   ",,,,\r\n"
                   "乙,002,,, 乙 \r\n");
  RecordCollectionPtr records;
  ASSERT_EQ(Read(f, "Customer", records), "");
  ASSERT_EQ(records->UBound(), 2);
  EXPECT_EQ(Describe(Variant(records->Item(1))), "{Name=\"甲\",Number=\"001\",SettleCurrency={Number=\"RMB\",},Phone=\"\",}");
  EXPECT_EQ(Describe(Variant(records->Item(2))), "{Name=\"乙\",Number=\"002\",ShortName=\" 乙 \",}");
  EXPECT_EQ(records->Item(2)->FileRow(), 2);
  // A second row of data is data.
  WriteFile(f, "Name,Number\r\n丙 | 文本,003\r\n");
  ASSERT_EQ(Read(f, "Customer", records), "");
  ASSERT_EQ(records->UBound(), 1);
  EXPECT_EQ(Describe(Variant(records->Item(1))), "{Name=\"丙 | 文本\",Number=\"003\",}");
  // A long text in that row is judged by its shape too, not by a
  // recursion as deep as the text is long.
  const std::string meaning(200000, 'x');
  WriteFile(f, "Name,Number\r\n" + meaning + " | 文本 | 必填," + meaning + " | 代码\r\n丁,004\r\n");
  ASSERT_EQ(Read(f, "Customer", records), "");
  ASSERT_EQ(records->UBound(), 1);
  EXPECT_EQ(Describe(Variant(records->Item(1))), "{Name=\"丁\",Number=\"004\",}");
  // A line break ends the meaning's shape, as it always did.
  WriteFile(f, "Name,Number\r\n\"a\nb | 文本\",005\r\n");
  ASSERT_EQ(Read(f, "Customer", records), "");
  EXPECT_EQ(records->UBound(), 1);
}

TEST(SheetFiles, RecordsComeBackFromCsvAndXlsxAsWritten) {
  TempDir dir;
  auto nested = Rec({{"Name", Variant("人民币")}, {"Number", Variant("RMB")}, {"Scale", Variant::Null()}});
  auto items = std::make_shared<RecordCollection>();
  items->Add(Rec({{"Name", Variant("客户")}, {"Number", Variant("001")}}));
  items->Add(Rec({{"Name", Variant::Null()}, {"Number", Variant("002")}}));
  auto list = std::make_shared<RecordCollection>();
  list->Add(Rec({{"Number", Variant("001.01")},
                 {"Name", Variant("现金\r\n第二行 & <x>")},
                 {"Currency", Variant(nested)},
                 {"ItemClass", Variant(items)},
                 {"IsCash", Variant("1")},
                 {"Contact", Variant("")},
                 {"Quantities", Variant("0.3")}}));
  list->Add(Rec({{"Number", Variant("0012")}, {"Name", Variant("2024-01-05")}, {"HelperCode", Variant("a_x000D_b")},
                 {"AdjustRate", Variant("1.50")}}));
  for (const std::string file : {"a.xlsx", "a.csv"}) {
    SCOPED_TRACE(file);
    sheets::SheetFileWriter writer;
    std::string error;
    writer.OutputXML(list, dir.file(file), Schema("Account"), "Account", error);
    ASSERT_EQ(error, "");
    RecordCollectionPtr back;
    ASSERT_EQ(Read(dir.file(file), "Account", back), "");
    ASSERT_EQ(back->UBound(), 2);
    // Keys come back in column order, Null as Null.
    EXPECT_EQ(Describe(Variant(back->Item(1))),
              "{Number=\"001.01\",Name=\"现金\r\n第二行 & <x>\",Contact=\"\",Quantities=\"0.3\",IsCash=\"1\","
              "Currency={Name=\"人民币\",Number=\"RMB\",Scale=null,"
              "},ItemClass=[{Name=\"客户\",Number=\"001\",},{Name=null,Number=\"002\",},],}");
    EXPECT_EQ(Describe(Variant(back->Item(2))), "{Number=\"0012\",Name=\"2024-01-05\",HelperCode=\"a_x000D_b\",AdjustRate=\"1.50\",}");
  }
}

TEST(SheetCsv, NullIsNaAndNoTextIsTakenForIt) {
  TempDir dir;
  // A value, the field the writer gives it, and the value read back.
  struct Case {
    Variant value;
    std::string field;
  };
  const std::vector<Case> cases = {
      {Variant::Null(), "#N/A"},      {Variant("#N/A"), "\\#N/A"},    {Variant("\\#N/A"), "\\\\#N/A"},
      {Variant("\\\\#N/A"), "\\\\\\#N/A"}, {Variant("#n/a"), "#n/a"},    {Variant("x#N/A"), "x#N/A"},
      {Variant("#N/A\\"), "#N/A\\"},  {Variant("\\"), "\\"},           {Variant("\\N"), "\\N"},
      {Variant(""), "\"\""},
  };
  auto list = std::make_shared<RecordCollection>();
  for (const auto& c : cases) list->Add(Rec({{"Number", Variant("01")}, {"Name", c.value}}));
  sheets::SheetFileWriter writer;
  std::string error;
  writer.OutputXML(list, dir.file("n.csv"), Schema("Customer"), "Customer", error);
  ASSERT_EQ(error, "");
  const std::vector<std::string> lines = CsvRows(dir.file("n.csv"));
  ASSERT_EQ(lines.size(), cases.size() + 2);
  RecordCollectionPtr back;
  ASSERT_EQ(Read(dir.file("n.csv"), "Customer", back), "");
  ASSERT_EQ(back->UBound(), static_cast<int32_t>(cases.size()));
  const std::string text = ReadFile(dir.file("n.csv"));
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].field);
    EXPECT_NE(text.find("\r\n01," + cases[i].field + ","), std::string::npos);
    EXPECT_EQ(Describe(back->Item(static_cast<int32_t>(i + 1))->Value("Name")), Describe(cases[i].value));
  }
  // Quoted as a spreadsheet program may quote it, #N/A is Null still.
  WriteFile(dir.file("q.csv"), "Number,Name\r\n\"02\",\"#N/A\"\r\n");
  ASSERT_EQ(Read(dir.file("q.csv"), "Customer", back), "");
  EXPECT_EQ(Describe(Variant(back->Item(1))), "{Number=\"02\",Name=null,}");
}

TEST(SheetFiles, TargetsAreCheckedAsDataFilesAre) {
  TempDir dir;
  auto list = std::make_shared<RecordCollection>();
  list->Add(Rec({{"Number", Variant("01")}}));
  for (const std::string name : {"p.csv", "p.xlsx"}) {
    SCOPED_TRACE(name);
    const std::string fifo = dir.file(name);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    sheets::SheetFileWriter writer;
    std::string error;
    EXPECT_THROW(writer.OutputXML(list, fifo, Schema("Currency"), "Currency", error), Error);
    EXPECT_EQ(error, "写数据文件 " + fifo + " 出错：目标不是普通文件（命名管道）");
  }
  // A link keeps pointing at the file, which is written.
  const std::string real = dir.file("real.csv"), link = dir.file("link.csv");
  WriteFile(real, "old");
  std::filesystem::create_symlink(real, link);
  sheets::SheetFileWriter writer;
  std::string error;
  writer.OutputXML(list, link, Schema("Currency"), "Currency", error);
  EXPECT_EQ(error, "");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFile(real).substr(0, 8), "\xEF\xBB\xBFName,");
}

TEST(SheetXlsx, AWorkbookOfAnotherWriterReadsAsTheDataFilesWriteIt) {
  ProgramHome dir;
  const std::string book = dir.file("other.xlsx");
  HandMadeWorkbook wb;
  wb.sharedStrings = {"Number", "Name", "CreditAmount", "CreditDays", "Address", "上海", "001", "Phone", ""};
  // Style 1 shows a built-in date, style 2 a custom one; style 3 is plain.
  wb.rows = {
      R"(<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c><c r="C1" t="s"><v>2</v></c><c r="D1" t="s"><v>3</v></c><c r="E1" t="s"><v>4</v></c><c r="F1" t="s"><v>7</v></c></row>)",
      R"(<row r="3"><c r="A3" t="s"><v>6</v></c><c r="B3" t="inlineStr"><is><t>内联</t></is></c><c r="C3"><v>0.30000000000000004</v></c><c r="D3" s="3"><v>30.0</v></c><c r="E3" s="1"><v>45356</v></c></row>)",
      R"(<row r="4"><c r="A4" t="str"><f>"00"&amp;"2"</f><v>002</v></c><c r="B4" t="b"><v>1</v></c><c r="C4"><f>1+1</f><v>2</v></c><c r="E4" s="2"><v>45356.75</v></c><c r="F4" t="str"><f>""</f><v></v></c></row>)",
      R"(<row r="5"><c r="A5"><v>3</v></c><c r="B5" t="s"><v>5</v></c><c r="C5"><v>1E-3</v></c><c r="E5" s="1"><v>59</v></c><c r="F5" t="s"><v>8</v></c></row>)",
  };
  wb.Write(book);
  RecordCollectionPtr records;
  const std::string error = Read(book, "Customer", records);
  ASSERT_EQ(error, "");
  ASSERT_EQ(records->UBound(), 3);
  EXPECT_EQ(Describe(Variant(records->Item(1))),
            "{Number=\"001\",Name=\"内联\",CreditAmount=\"0.3\",CreditDays=\"30\",Address=\"2024-03-05\",}");
  EXPECT_EQ(Describe(Variant(records->Item(2))), "{Number=\"002\",Name=\"1\",CreditAmount=\"2\",Address=\"2024-03-05 18:00:00\",Phone=\"\",}");
  EXPECT_EQ(Describe(Variant(records->Item(3))), "{Number=\"3\",Name=\"上海\",CreditAmount=\"0.001\",Address=\"1900-02-28\",Phone=\"\",}");
  EXPECT_EQ(dir.boxes().warnings, std::vector<std::string>{book + " 第 5 行 A 列（Number）是数字单元格，代码的前导零可能已丢失：3"});
}

TEST(SheetXlsx, DatesOfDateColumnsAreDateCellsThatReadBackAsWritten) {
  TempDir dir;
  const std::vector<std::pair<std::string, bool>> cases = {
      {"2024-02-29", true},          {"1990-02-28 08:30:05", true}, {"1900-03-01", true},
      {"1900-02-28", false},         {"2023-02-29", false},         {"2024-01-05 00:00:00", false},
      {"2024-1-5", false},           {"明天", false},
  };
  auto list = std::make_shared<RecordCollection>();
  for (const auto& c : cases) list->Add(Rec({{"Number", Variant("01")}, {"Birthday", Variant(c.first)}}));
  sheets::SheetFileWriter writer;
  std::string error;
  writer.OutputXML(list, dir.file("e.xlsx"), Schema("Employee"), "Employee", error);
  ASSERT_EQ(error, "");
  RecordCollectionPtr back;
  ASSERT_EQ(Read(dir.file("e.xlsx"), "Employee", back), "");
  ASSERT_EQ(back->UBound(), static_cast<int32_t>(cases.size()));
  // A date cell is a number cell with a date format: the sheet holds no text for it.
  const std::string sheet = ReadZipPart(dir.file("e.xlsx"), "xl/worksheets/sheet1.xml");
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].first);
    EXPECT_EQ(back->Item(static_cast<int32_t>(i + 1))->Value("Birthday").ToText(), cases[i].first);
    EXPECT_EQ(sheet.find(">" + cases[i].first + "<") == std::string::npos, cases[i].second);
  }
}

TEST(SheetXlsx, OnlyTextsThatReadBackUnchangedBecomeNumberCells) {
  TempDir dir;
  // Text, and whether a number cell gives it back as it is.
  const std::vector<std::pair<std::string, bool>> cases = {
      {"1", true},          {"-12.5", true},      {"0.3", true},         {"0.0001", true},
      {"123456789012345", true},                  {"99999999999999.9", true},
      {"1.50", false},      {"007", false},       {"-0", false},         {"1.", false},
      {".5", false},        {"0.00001", false},   {"1e5", false},        {"1234567890123456", false},
      {"0.12345678901234567", false},             {"+1", false},         {" 1", false},
      {"1,000", false},     {"--1", false},       {"1.2.3", false},
  };
  auto list = std::make_shared<RecordCollection>();
  for (const auto& c : cases) list->Add(Rec({{"Number", Variant("01")}, {"CreditAmount", Variant(c.first)}}));
  sheets::SheetFileWriter writer;
  std::string error;
  writer.OutputXML(list, dir.file("n.xlsx"), Schema("Customer"), "Customer", error);
  ASSERT_EQ(error, "");
  std::vector<Cell> cells;
  sheets::ReadXlsx(dir.file("n.xlsx"), {"Customer"}, [&](long number, Row& row) {
    for (size_t i = 0; number > 2 && i < row.size(); ++i)
      if (row[i].present && row[i].text != "01") cells.push_back(row[i]);
    return true;
  });
  ASSERT_EQ(cells.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].first);
    EXPECT_EQ(cells[i].text, cases[i].first);
    EXPECT_EQ(cells[i].numeric, cases[i].second);
  }
}

TEST(SheetXlsx, NumericCodesBeyondTheTenthAreCounted) {
  ProgramHome home;
  HandMadeWorkbook wb;
  wb.sharedStrings = {"Number"};
  wb.rows = {R"(<row r="1"><c r="A1" t="s"><v>0</v></c></row>)"};
  for (int r = 3; r < 15; ++r)
    wb.rows.push_back("<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r) + "\"><v>" + std::to_string(r) + "</v></c></row>");
  wb.Write(home.file("n.xlsx"));
  RecordCollectionPtr records;
  ASSERT_EQ(Read(home.file("n.xlsx"), "Customer", records), "");
  const auto& w = home.boxes().warnings;
  ASSERT_EQ(w.size(), 11u);
  EXPECT_EQ(w[9], home.file("n.xlsx") + " 第 12 行 A 列（Number）是数字单元格，代码的前导零可能已丢失：12");
  EXPECT_EQ(w[10], home.file("n.xlsx") + " 另有 2 个代码单元格是数字单元格，前导零可能已丢失");
}

TEST(SheetXlsx, CellsThatHoldNoValueAreErrorsNamingTheCell) {
  TempDir dir;
  const std::string book = dir.file("bad.xlsx");
  struct Case {
    const char* what;
    std::string row, error;
  };
  const std::vector<Case> cases = {
      {"formula without value", R"(<row r="2"><c r="B2"><f>A1*2</f></c></row>)", "工作表 Sheet1 的 B2 单元格是没有计算结果的公式"},
      {"error value", R"(<row r="2"><c r="C2" t="e"><v>#DIV/0!</v></c></row>)", "工作表 Sheet1 的 C2 单元格是错误值 #DIV/0!"},
      {"missing shared string", R"(<row r="2"><c r="A2" t="s"><v>9</v></c></row>)", "工作表 Sheet1 的 A2 单元格引用了不存在的共享文本"},
      {"column past XFD", R"(<row r="2"><c r="XFE2"><v>1</v></c></row>)", "工作表 Sheet1 的 XFE2 单元格超出了工作表的列（最多到 XFD 列）"},
      {"absurd column", R"(<row r="2"><c r="ZZZZZZZZZZZZZZZZ2"><v>1</v></c></row>)",
       "工作表 Sheet1 的 ZZZZZZZZZZZZZZZZ2 单元格超出了工作表的列（最多到 XFD 列）"},
      {"cell without a reference", R"(<row r="2"><c><v>1</v></c><c t="e"><v>#DIV/0!</v></c></row>)",
       "工作表 Sheet1 的 B2 单元格是错误值 #DIV/0!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    HandMadeWorkbook wb;
    wb.sharedStrings = {"Number"};
    wb.rows = {R"(<row r="1"><c r="A1" t="s"><v>0</v></c></row>)", c.row};
    wb.Write(book);
    RecordCollectionPtr records;
    EXPECT_EQ(Read(book, "Customer", records), "读取数据文件 " + book + " 出错：" + c.error);
  }
  WriteFile(book, "not a zip");
  RecordCollectionPtr records;
  EXPECT_EQ(Read(book, "Customer", records),
            "读取数据文件 " + book + " 出错：无法打开 XLSX 文件 " + book + "（不是有效的工作簿）");
}

}  // namespace
}  // namespace morvent::test
