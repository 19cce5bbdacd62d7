// The XLSX writer: texts that stress the cell writer come back as written,
// and a write that fails leaves nothing behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <xlsxwriter.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "sheets/sheet_files.h"
#include "tests/sheets/workbook.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

using sheets::Cell;
using sheets::Row;

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

sheets::Column TextColumn(const std::string& header, const std::string& type = "文本") {
  sheets::Column c;
  c.path = {header};
  c.header = header;
  c.type = type;
  return c;
}

// The <c> element of cell `ref` in a sheet part ("" when there is none).
std::string CellXml(const std::string& sheet, const std::string& ref) {
  const size_t at = sheet.find("<c r=\"" + ref + "\"");
  if (at == std::string::npos) return "";
  const size_t empty = sheet.find("/>", at), full = sheet.find("</c>", at), open = sheet.find('>', at);
  return sheet.substr(at, (open == empty + 1 ? empty + 2 : full + 4) - at);
}

// What the rows come back as: "text", "#" before a number cell's, "null", "·" absent.
std::vector<std::string> CellsOf(const std::string& book, const std::string& sheet) {
  std::vector<std::string> out;
  sheets::ReadXlsx(book, {sheet}, [&](long number, Row& row) {
    for (size_t i = 0; number > 2 && i < row.size(); ++i)
      out.push_back(!row[i].present ? "·" : row[i].null ? "null" : (row[i].numeric ? "#" : "") + row[i].text);
    return true;
  });
  return out;
}

// Letters that deflate cannot shrink much, so that a workbook of several
// sheets outgrows what one sheet's rows take.
std::string Noise(uint32_t& seed, size_t n) {
  std::string s(n, ' ');
  for (char& c : s) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>('A' + (seed >> 16) % 58);
  }
  return s;
}

// Each text in a text column written once by our writer and once by
// libxlsxwriter as the writer handed texts to it before: the cells are the
// same bytes, and read back as the text.
TEST(SheetXlsxWriter, TextsAreEscapedAsLibxlsxwriterEscapesThemAndComeBack) {
  TempDir dir;
  struct Case {
    std::string text;
    std::string lxwInput;  // what libxlsxwriter was given: a literal "_xHHHH_" kept
  };
  const std::string longest(32767, 'z'), longestWide = [] {
    std::string s;
    for (int i = 0; i < 32767; ++i) s += "字";
    return s;
  }();
  const std::vector<Case> cases = {
      {"plain", "plain"},
      {"a\x01" "b\x08" "c\x0B" "d\x0C" "e\x1F" "f\x7F", ""},
      {"\r\n第二行\r", ""},
      {"\ttab first", ""},
      {"last line\n", ""},
      {" both ", ""},
      {"\rnot kept as space", ""},
      {"_x0041_", "_x005F_x0041_"},
      {"a_x000D_b and _x12_", "a_x005F_x000D_b and _x12_"},
      {"<tag a=\"1\" b='2'>&amp;</tag>", ""},
      {"四字节：😀𠀀", ""},
      {longest, ""},
      {longestWide, ""},
  };
  const std::string ours = dir.file("ours.xlsx"), theirs = dir.file("theirs.xlsx");
  auto writer = sheets::OpenSheetWriter(ours);
  writer->Sheet("S", {TextColumn("A"), TextColumn("B")});
  lxw_workbook_options options = {};
  options.constant_memory = LXW_TRUE;
  lxw_workbook* book = workbook_new_opt(theirs.c_str(), &options);
  lxw_worksheet* sheet = workbook_add_worksheet(book, "S");
  for (size_t i = 0; i < cases.size(); ++i) {
    // Column B alone, so that both name the cell.
    writer->Add({Cell{}, Cell{cases[i].text, true}});
    const std::string& input = cases[i].lxwInput.empty() ? cases[i].text : cases[i].lxwInput;
    ASSERT_EQ(worksheet_write_string(sheet, static_cast<lxw_row_t>(i + 2), 1, input.c_str(), nullptr), LXW_NO_ERROR);
  }
  writer->Close();
  ASSERT_EQ(workbook_close(book), LXW_NO_ERROR);
  const std::string a = ReadZipPart(ours, "xl/worksheets/sheet1.xml"), b = ReadZipPart(theirs, "xl/worksheets/sheet1.xml");
  std::vector<std::string> expected;
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string ref = "B" + std::to_string(i + 3);
    SCOPED_TRACE(ref);
    EXPECT_NE(CellXml(a, ref), "");
    EXPECT_EQ(CellXml(a, ref), CellXml(b, ref));
    expected.insert(expected.end(), {"·", cases[i].text});
  }
  EXPECT_EQ(CellsOf(ours, "S"), expected);
  EXPECT_NE(a.find("<dimension ref=\"A1:B" + std::to_string(cases.size() + 2) + "\"/>"), std::string::npos);
}

// Every kind of cell of every kind of column, cells following each other
// without a reference and after a gap with one.
TEST(SheetXlsxWriter, EveryKindOfCellComesBackAsWritten) {
  TempDir dir;
  const std::vector<sheets::Column> columns = {TextColumn("Code", "代码"), TextColumn("Text"), TextColumn("Number", "数字"),
                                               TextColumn("Day", "日期")};
  // The cells of a row, and what the reader gives back for them.
  struct Case {
    Row row;
    std::vector<std::string> back;
  };
  const Cell none{}, null{"", true, false, true}, empty{"", true};
  auto text = [](const std::string& t) { return Cell{t, true}; };
  const std::vector<Case> cases = {
      {{text("007"), text("0.3"), text("-12.5"), text("2024-02-29")}, {"007", "#0.3", "#-12.5", "2024-02-29"}},
      {{text("1"), text("1.50"), text("99999999999999.9"), text("1990-02-28 08:30:05")},
       {"1", "1.50", "#99999999999999.9", "1990-02-28 08:30:05"}},
      {{null, null, null, null}, {"null", "null", "null", "null"}},
      {{empty, empty, empty, empty}, {"", "", "", ""}},
      {{none, text(" x "), none, text("1900-02-28")}, {"·", " x ", "·", "1900-02-28"}},
      {{none, none, none, text("2024-01-05 00:00:00")}, {"·", "·", "·", "2024-01-05 00:00:00"}},
      {{text("_x0041_"), none, text("0.0001"), none}, {"_x0041_", "·", "#0.0001"}},
  };
  auto writer = sheets::OpenSheetWriter(dir.file("k.xlsx"));
  writer->Sheet("K", columns);
  std::vector<std::string> expected;
  for (const auto& c : cases) {
    writer->Add(c.row);
    expected.insert(expected.end(), c.back.begin(), c.back.end());
  }
  // A row with no cell is no row, as libxlsxwriter writes it.
  writer->Add({none, none});
  writer->Add({text("last")});
  expected.push_back("last");
  writer->Close();
  EXPECT_EQ(CellsOf(dir.file("k.xlsx"), "K"), expected);
  // The formats the cells name are in styles.xml: code text, empty text, the two dates.
  const std::string styles = ReadZipPart(dir.file("k.xlsx"), "xl/styles.xml");
  EXPECT_NE(styles.find("<cellXfs count=\"7\">"), std::string::npos);
  const std::string sheet = ReadZipPart(dir.file("k.xlsx"), "xl/worksheets/sheet1.xml");
  EXPECT_NE(sheet.find("<row r=\"11\"><c s=\"3\" t=\"inlineStr\"><is><t>last</t></is></c></row></sheetData>"), std::string::npos);
  EXPECT_NE(sheet.find("<dimension ref=\"A1:D11\"/>"), std::string::npos);
}

TEST(SheetXlsxWriter, ATextOverTheCellLimitIsRefusedAndNothingIsLeft) {
  TempDir dir;
  const std::string target = dir.file("long.xlsx");
  std::string wide;
  for (int i = 0; i < 32768; ++i) wide += "字";
  auto writer = sheets::OpenSheetWriter(target);
  writer->Sheet("L", {TextColumn("A")});
  writer->Add({Cell{"fits", true}});
  EXPECT_EQ(ErrorOfStd([&] { writer->Add({Cell{wide, true}}); }),
            "无法写入文件 " + target + "（String exceeds Excel's limit of 32,767 characters.）");
  writer.reset();
  EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{});
}

// A collection inside a nested record ("AcctID.ItemClass") is a column of
// its own, and the sheet carries it as a data file does.
TEST(SheetFiles, CollectionsOfNestedRecordsComeBack) {
  TempDir dir;
  auto items = std::make_shared<RecordCollection>();
  items->Add(Rec({{"Name", Variant("物料")}, {"Number", Variant("004")}}));
  items->Add(Rec({{"Name", Variant("部门")}, {"Number", Variant("002")}}));
  auto account = Rec({{"Number", Variant("1403")}, {"ItemClass", Variant(items)}});
  auto list = std::make_shared<RecordCollection>();
  list->Add(Rec({{"Number", Variant("01.01")}, {"AcctID", Variant(account)}}));
  for (const std::string file : {"m.xlsx", "m.csv"}) {
    SCOPED_TRACE(file);
    const std::string schema = SourceSchemaDir() + "/SchemaMaterial.xml";
    sheets::SheetFileWriter writer;
    std::string error;
    writer.OutputXML(list, dir.file(file), schema, "Material", error);
    ASSERT_EQ(error, "");
    sheets::SheetFileReader reader;
    RecordCollectionPtr back;
    reader.InputXML(back, dir.file(file), schema, "Material", error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(back->UBound(), 1);
    auto acct = back->Item(1)->Value("AcctID").As<DataRecord>();
    ASSERT_TRUE(acct);
    EXPECT_EQ(acct->Value("Number").ToText(), "1403");
    auto classes = acct->Has("ItemClass") ? acct->Value("ItemClass").As<RecordCollection>() : nullptr;
    ASSERT_TRUE(classes);
    ASSERT_EQ(classes->UBound(), 2);
    EXPECT_EQ(classes->Item(1)->Value("Name").ToText(), "物料");
    EXPECT_EQ(classes->Item(2)->Value("Number").ToText(), "002");
  }
}

// A write under a file-size limit of 300,000 bytes fails whole: the target
// keeps what it held and nothing is left beside it. Either the workbook
// outgrows the limit as libzip writes it, or the rows outgrow it where they
// wait (the workbook they make would fit), which used to cut the sheet short
// and be reported as written.
TEST(SheetXlsxWriter, AWriteThatFailsLeavesTheTargetAsItWasAndNoFileBeside) {
  struct Case {
    const char* name;
    std::function<void(sheets::SheetWriter&)> fill;
    const char* reason;
  };
  const Case cases[] = {
      {"the workbook outgrows the limit",
       [](sheets::SheetWriter& writer) {
         uint32_t seed = 7;
         for (int s = 0; s < 4; ++s) {
           writer.Sheet("S" + std::to_string(s), {TextColumn("A"), TextColumn("B")});
           for (int i = 0; i < 1000; ++i) writer.Add({Cell{Noise(seed, 100), true}, Cell{Noise(seed, 100), true}});
         }
       },
       "Zip generic error ZIP_ERRNO while creating the xlsx file."},
      {"the rows outgrow it where they wait",
       [](sheets::SheetWriter& writer) {
         writer.Sheet("S", {TextColumn("A")});
         std::string text;
         for (int i = 0; i < 100; ++i) text += "客户";
         for (int i = 0; i < 2000; ++i) writer.Add({Cell{text, true}});
       },
       "File too large"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string target = dir.file("t.xlsx");
    WriteFile(target, "old");
    const std::string error = InChild([&] {
      signal(SIGXFSZ, SIG_IGN);
      rlimit r{300000, 300000};
      setrlimit(RLIMIT_FSIZE, &r);
      return ErrorOfStd([&] {
        auto writer = sheets::OpenSheetWriter(target);
        c.fill(*writer);
        writer->Close();
      });
    });
    EXPECT_EQ(error, "无法写入文件 " + target + "（" + c.reason + "）");
    EXPECT_TRUE(ReadFile(target) == "old") << "the target was replaced";
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"t.xlsx"});
  }
}

// A run killed while it puts the workbook together leaves the target as it
// was; what it left beside it goes with the next write there.
TEST(SheetXlsxWriter, WhatAKilledWriteLeftBesideTheTargetGoesWithTheNext) {
  TempDir dir;
  const std::string target = dir.file("t.xlsx");
  WriteFile(target, "old");
  const pid_t child = ::fork();
  if (child == 0) {
    auto writer = sheets::OpenSheetWriter(target);
    writer->Sheet("S", {TextColumn("A"), TextColumn("B")});
    uint32_t seed = 1;
    for (int i = 0; i < 200000; ++i) writer->Add({Cell{Noise(seed, 60), true}, Cell{Noise(seed, 60), true}});
    writer->Close();
    ::_exit(0);
  }
  ASSERT_GT(child, 0);
  // Killed once the archive is being written: beside the target stand
  // libxlsxwriter's workbook and libzip's temporary.
  bool caught = false;
  for (int waited = 0; waited < 60000 && !caught; ++waited) {
    caught = FilesIn(dir.path()).size() >= 3;
    if (!caught) ::usleep(1000);
    if (!caught && ::waitpid(child, nullptr, WNOHANG) == child) break;
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ASSERT_TRUE(caught) << "the write ended before it could be killed while closing";
  EXPECT_EQ(ReadFile(target), "old");
  EXPECT_GT(FilesIn(dir.path()).size(), 1u) << "the kill left nothing to clear";

  auto writer = sheets::OpenSheetWriter(target);
  writer->Sheet("S", {TextColumn("A")});
  writer->Add({Cell{"new", true}});
  writer->Close();
  EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"t.xlsx"});
  EXPECT_EQ(CellsOf(target, "S"), std::vector<std::string>{"new"});
}

// A sheet replacing a file keeps that file's permissions, as a data file does.
TEST(SheetXlsxWriter, ATargetReplacedKeepsItsPermissions) {
  for (const std::string name : {"t.xlsx", "t.csv"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    const std::string target = dir.file(name);
    WriteFile(target, "old");
    std::filesystem::permissions(target, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                             std::filesystem::perms::group_read);
    auto writer = sheets::OpenSheetWriter(target);
    writer->Sheet("S", {TextColumn("A")});
    writer->Add({Cell{"new", true}});
    writer->Close();
    EXPECT_EQ(std::filesystem::status(target).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read);
    EXPECT_NE(ReadFile(target), "old");
  }
}

}  // namespace
}  // namespace morvent::test
