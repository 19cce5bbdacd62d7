#pragma once
// A minimal XLSX workbook written part by part with libzip, the way another
// program writes one: shared strings, a date style, one sheet "Sheet1".
#include <zip.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace morvent::test {

// The what() of the std::exception fn raises, or "" when it raises none.
template <class F>
std::string ErrorOfStd(F&& fn) {
  try {
    fn();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

// One part of a zip archive as text ("" when absent).
inline std::string ReadZipPart(const std::string& path, const std::string& name) {
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_RDONLY, &err);
  if (!z) return "";
  std::string out;
  if (zip_file_t* f = zip_fopen(z, name.c_str(), 0)) {
    char buf[4096];
    zip_int64_t n;
    while ((n = zip_fread(f, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    zip_fclose(f);
  }
  zip_discard(z);
  return out;
}

struct HandMadeWorkbook {
  std::vector<std::string> sharedStrings;
  std::vector<std::string> rows;  // <row> elements of sheetData

  void Write(const std::string& path) const {
    int err = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (!z) throw std::runtime_error("zip_open");
    std::vector<std::string> keep;  // libzip reads the buffers at close
    auto add = [&](const char* name, std::string text) {
      keep.push_back(std::move(text));
      zip_source_t* s = zip_source_buffer(z, keep.back().data(), keep.back().size(), 0);
      if (!s || zip_file_add(z, name, s, ZIP_FL_OVERWRITE) < 0) throw std::runtime_error("zip_file_add");
    };
    keep.reserve(8);
    const std::string ns = R"( xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main")";
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    add("[Content_Types].xml",
        R"(<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="xml" ContentType="application/xml"/></Types>)");
    add("xl/workbook.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><workbook" + ns + " xmlns:r=\"" + rel +
                               "\"><sheets><sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>");
    add("xl/_rels/workbook.xml.rels",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
        "relationships\"><Relationship Id=\"rId1\" Type=\"" + rel + "/worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>");
    std::string sst = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><sst" + ns + ">";
    for (const auto& s : sharedStrings) sst += "<si><t>" + s + "</t></si>";
    add("xl/sharedStrings.xml", sst + "</sst>");
    add("xl/styles.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><styleSheet" + ns +
                             R"(><numFmts count="1"><numFmt numFmtId="164" formatCode="yyyy\-mm\-dd\ hh:mm"/></numFmts>)"
                             R"(<cellXfs count="4"><xf numFmtId="0"/><xf numFmtId="14"/><xf numFmtId="164"/><xf numFmtId="2"/></cellXfs></styleSheet>)");
    std::string sheet = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><worksheet" + ns + "><sheetData>";
    for (const auto& r : rows) sheet += r;
    add("xl/worksheets/sheet1.xml", sheet + "</sheetData></worksheet>");
    if (zip_close(z) < 0) throw std::runtime_error("zip_close");
  }
};

}  // namespace morvent::test
