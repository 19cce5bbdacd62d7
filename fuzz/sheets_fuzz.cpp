// The spreadsheet reader on any bytes: a CSV file, a whole XLSX archive, or
// one part of an otherwise sound workbook (the sheet or its shared
// strings), since mutated archives rarely get past their checksums. The
// reader answers records or an error text and never crashes; a sheet it
// accepted is written back in its own format and read again to the same
// records. Byte 0 picks the form, byte 1 the kind; the rest is the input.
#include <zip.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/reader_check.h"
#include "sheets/sheet_files.h"

namespace {

using namespace morvent;
using namespace morvent::fuzz;

const char kMain[] = R"( xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main")";
const char kRel[] = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

// A workbook with one sheet named after the kind, its parts stored
// uncompressed; sheet and strings are the parts' whole texts.
void WriteWorkbook(const std::string& path, const Kind& kind, std::string_view sheet, std::string_view strings) {
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  if (!z) std::abort();
  std::vector<std::string> parts;  // libzip reads the buffers at close
  parts.reserve(5);
  auto add = [&](const char* name, std::string text) {
    parts.push_back(std::move(text));
    zip_source_t* s = zip_source_buffer(z, parts.back().data(), parts.back().size(), 0);
    const zip_int64_t at = s ? zip_file_add(z, name, s, ZIP_FL_OVERWRITE) : -1;
    if (at < 0 || zip_set_file_compression(z, static_cast<zip_uint64_t>(at), ZIP_CM_STORE, 0) < 0) std::abort();
  };
  add("xl/workbook.xml", std::string("<?xml version=\"1.0\"?><workbook") + kMain + " xmlns:r=\"" + kRel +
                             "\"><sheets><sheet name=\"" + kind.element +
                             "\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>");
  add("xl/_rels/workbook.xml.rels",
      std::string("<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                  "relationships\"><Relationship Id=\"rId1\" Type=\"") +
          kRel + "/worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>");
  add("xl/styles.xml", std::string("<?xml version=\"1.0\"?><styleSheet") + kMain +
                           R"(><numFmts count="1"><numFmt numFmtId="164" formatCode="yyyy\-mm\-dd"/></numFmts>)"
                           R"(<cellXfs count="3"><xf numFmtId="0"/><xf numFmtId="49"/><xf numFmtId="164"/></cellXfs></styleSheet>)");
  add("xl/sharedStrings.xml", std::string(strings));
  add("xl/worksheets/sheet1.xml", std::string(sheet));
  if (zip_close(z) < 0) std::abort();
}

// A sheet of two header rows (Number, Name) and rows of shared strings 2..
std::string PlainSheet(size_t rows) {
  std::string s = std::string("<?xml version=\"1.0\"?><worksheet") + kMain + "><sheetData>";
  s += R"(<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c></row>)";
  for (size_t r = 0; r < rows; ++r) {
    const std::string n = std::to_string(r + 2);
    s += "<row r=\"" + n + "\"><c r=\"A" + n + "\" t=\"s\"><v>" + std::to_string(2 + 2 * r) + "</v></c><c r=\"B" + n +
         "\" t=\"s\"><v>" + std::to_string(3 + 2 * r) + "</v></c></row>";
  }
  return s + "</sheetData></worksheet>";
}

const std::string kStrings = std::string("<?xml version=\"1.0\"?><sst") + kMain +
                             "><si><t>Number</t></si><si><t>Name</t></si><si><t>01</t></si><si><t>甲</t></si></sst>";

RecordCollectionPtr Read(const std::string& file, const Kind& kind, std::string& error) {
  const std::string schema = SchemaDir() + "/Schema" + kind.element + ".xml";
  sheets::SheetFileReader reader;
  RecordCollectionPtr records = std::make_shared<RecordCollection>();
  reader.InputXML(records, file, schema, kind.element, error);
  if (!records) std::abort();
  return records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const Kind& kind = KindOf(data[1]);
  const std::string_view input(reinterpret_cast<const char*>(data) + 2, size - 2);
  const int form = data[0] % 4;
  const std::string file = WorkDir() + (form == 0 ? "/in.csv" : "/in.xlsx");
  const std::string again = WorkDir() + (form == 0 ? "/again.csv" : "/again.xlsx");
  switch (form) {
    case 0:
    case 1:
      WriteBytes(file, input);
      break;
    case 2:
      WriteWorkbook(file, kind, input, kStrings);
      break;
    default:
      WriteWorkbook(file, kind, PlainSheet(8), input);
  }

  std::string error;
  RecordCollectionPtr records = Read(file, kind, error);
  if (!error.empty()) return 0;

  // A value the writer refuses (too long for a cell, say) is a refusal,
  // not a loss.
  const std::string schema = SchemaDir() + "/Schema" + kind.element + ".xml";
  sheets::SheetFileWriter writer;
  std::string writeError;
  try {
    writer.OutputXML(records, again, schema, kind.element, writeError);
  } catch (const std::exception&) {
    return 0;
  }
  if (!writeError.empty()) return 0;
  RecordCollectionPtr back = Read(again, kind, error);
  if (!error.empty() || Describe(*records) != Describe(*back)) std::abort();
  return 0;
}
