// XLSX read through libzip and libxml2's streaming reader: the sheet is
// decompressed as it is parsed, so memory follows one row at a time (and
// the shared strings, which the workbook keeps apart from the sheets).
#include <libxml/xmlreader.h>
#include <zip.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "sheets/table.h"

namespace morvent::sheets {

namespace {

struct Archive {
  explicit Archive(const std::string& path) : path(path) {
    int err = 0;
    zip = zip_open(path.c_str(), ZIP_RDONLY, &err);
    if (!zip) throw SheetError("无法打开 XLSX 文件 " + path + "（不是有效的工作簿）");
  }
  ~Archive() { zip_discard(zip); }
  std::string path;
  zip_t* zip;
};

int ReadZip(void* ctx, char* buffer, int len) {
  return static_cast<int>(zip_fread(static_cast<zip_file_t*>(ctx), buffer, static_cast<zip_uint64_t>(len)));
}
int CloseZip(void* ctx) { return zip_fclose(static_cast<zip_file_t*>(ctx)); }

using ReaderPtr = std::unique_ptr<xmlTextReader, decltype(&xmlFreeTextReader)>;

// A streaming reader over one part; null when the workbook has no such part.
ReaderPtr OpenPart(Archive& a, const std::string& name) {
  zip_file_t* f = zip_fopen(a.zip, name.c_str(), 0);
  if (!f) return ReaderPtr(nullptr, &xmlFreeTextReader);
  xmlTextReader* r = xmlReaderForIO(ReadZip, CloseZip, f, name.c_str(), nullptr,
                                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_HUGE);
  if (!r) {
    zip_fclose(f);
    throw SheetError("内存不足");
  }
  return ReaderPtr(r, &xmlFreeTextReader);
}

std::string Local(xmlTextReader* r) {
  const xmlChar* n = xmlTextReaderConstLocalName(r);
  return n ? reinterpret_cast<const char*>(n) : "";
}
std::string AttrOf(xmlTextReader* r, const char* name) {
  xmlChar* v = xmlTextReaderGetAttribute(r, BAD_CAST name);
  if (!v) return {};
  std::string s(reinterpret_cast<const char*>(v));
  xmlFree(v);
  return s;
}
bool IsStart(xmlTextReader* r) { return xmlTextReaderNodeType(r) == XML_READER_TYPE_ELEMENT; }
bool IsEnd(xmlTextReader* r) { return xmlTextReaderNodeType(r) == XML_READER_TYPE_END_ELEMENT; }
bool IsText(xmlTextReader* r) {
  int t = xmlTextReaderNodeType(r);
  return t == XML_READER_TYPE_TEXT || t == XML_READER_TYPE_CDATA || t == XML_READER_TYPE_SIGNIFICANT_WHITESPACE ||
         t == XML_READER_TYPE_WHITESPACE;
}
std::string Value(xmlTextReader* r) {
  const xmlChar* v = xmlTextReaderConstValue(r);
  return v ? reinterpret_cast<const char*>(v) : "";
}

// Text in a workbook writes the characters XML cannot carry (a carriage
// return among them) as _xHHHH_, and a literal "_x" that looks like one as
// _x005F_ followed by the rest.
std::string Unescape(const std::string& s) {
  if (s.find("_x") == std::string::npos) return s;
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '_' && i + 6 < s.size() && s[i + 1] == 'x' && s[i + 6] == '_' &&
        std::isxdigit(static_cast<unsigned char>(s[i + 2])) && std::isxdigit(static_cast<unsigned char>(s[i + 3])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 4])) && std::isxdigit(static_cast<unsigned char>(s[i + 5]))) {
      const unsigned cp = std::stoul(s.substr(i + 2, 4), nullptr, 16);
      if (cp < 0x80) {
        out += static_cast<char>(cp);
      } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
      } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
      }
      i += 6;
    } else {
      out += s[i];
    }
  }
  return out;
}

void Broken(const Archive& a, const std::string& part) {
  throw SheetError("XLSX 文件 " + a.path + " 的 " + part + " 无法解析");
}

struct Workbook {
  std::vector<std::pair<std::string, std::string>> sheets;  // name, part
  bool date1904 = false;
};

Workbook ReadWorkbook(Archive& a) {
  std::map<std::string, std::string> targets;
  if (auto r = OpenPart(a, "xl/_rels/workbook.xml.rels")) {
    int rc;
    while ((rc = xmlTextReaderRead(r.get())) == 1)
      if (IsStart(r.get()) && Local(r.get()) == "Relationship") {
        std::string t = AttrOf(r.get(), "Target");
        targets[AttrOf(r.get(), "Id")] = t.starts_with("/") ? t.substr(1) : "xl/" + t;
      }
    if (rc < 0) Broken(a, "xl/_rels/workbook.xml.rels");
  }
  Workbook w;
  auto r = OpenPart(a, "xl/workbook.xml");
  if (!r) throw SheetError("无法打开 XLSX 文件 " + a.path + "（不是有效的工作簿）");
  int rc;
  while ((rc = xmlTextReaderRead(r.get())) == 1) {
    if (!IsStart(r.get())) continue;
    const std::string name = Local(r.get());
    if (name == "workbookPr") {
      std::string d = AttrOf(r.get(), "date1904");
      w.date1904 = d == "1" || d == "true";
    } else if (name == "sheet") {
      // The relationship id is r:id in the relationships namespace.
      xmlChar* id = xmlTextReaderGetAttributeNs(
          r.get(), BAD_CAST "id", BAD_CAST "http://schemas.openxmlformats.org/officeDocument/2006/relationships");
      std::string rid = id ? reinterpret_cast<const char*>(id) : "";
      if (id) xmlFree(id);
      auto t = targets.find(rid);
      w.sheets.emplace_back(AttrOf(r.get(), "name"), t != targets.end() ? t->second : "");
    }
  }
  if (rc < 0) Broken(a, "xl/workbook.xml");
  return w;
}

std::vector<std::string> SharedStrings(Archive& a) {
  std::vector<std::string> out;
  auto r = OpenPart(a, "xl/sharedStrings.xml");
  if (!r) return out;
  std::string current;
  bool inT = false, inPhonetic = false;
  int rc;
  while ((rc = xmlTextReaderRead(r.get())) == 1) {
    const std::string name = IsStart(r.get()) || IsEnd(r.get()) ? Local(r.get()) : "";
    if (IsStart(r.get())) {
      if (name == "si") current.clear();
      if (name == "rPh") inPhonetic = !xmlTextReaderIsEmptyElement(r.get());
      if (name == "t") inT = !xmlTextReaderIsEmptyElement(r.get());
    } else if (IsEnd(r.get())) {
      if (name == "si") out.push_back(Unescape(current));
      if (name == "rPh") inPhonetic = false;
      if (name == "t") inT = false;
    } else if (inT && !inPhonetic && IsText(r.get())) {
      current += Value(r.get());
    }
  }
  if (rc < 0) Broken(a, "xl/sharedStrings.xml");
  return out;
}

bool DateFormatCode(const std::string& code) {
  bool quoted = false;
  for (size_t i = 0; i < code.size(); ++i) {
    char c = code[i];
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    if (c == '[') {
      i = code.find(']', i);
      if (i == std::string::npos) return false;
      continue;
    }
    if (c == '\\') {
      ++i;
      continue;
    }
    if (c == 'y' || c == 'Y' || c == 'd' || c == 'D') return true;
  }
  return false;
}

enum class StyleKind : char { Plain, Date, EmptyText };

// For each cell format index, whether it shows a date or marks an empty text.
std::vector<StyleKind> CellStyles(Archive& a) {
  std::vector<StyleKind> out;
  std::set<int> emptyTexts;
  auto r = OpenPart(a, "xl/styles.xml");
  if (!r) return out;
  std::set<int> dateFormats = {14, 15, 16, 17, 22, 27, 30, 36, 45, 46, 47, 50, 57};
  bool inXfs = false;
  int rc;
  while ((rc = xmlTextReaderRead(r.get())) == 1) {
    const std::string name = IsStart(r.get()) || IsEnd(r.get()) ? Local(r.get()) : "";
    if (IsStart(r.get()) && name == "numFmt") {
      const std::string code = AttrOf(r.get(), "formatCode");
      const int id = std::atoi(AttrOf(r.get(), "numFmtId").c_str());
      if (code == kEmptyTextFormat) emptyTexts.insert(id);
      else if (DateFormatCode(code)) dateFormats.insert(id);
    } else if (name == "cellXfs") {
      inXfs = IsStart(r.get()) && !xmlTextReaderIsEmptyElement(r.get());
    } else if (inXfs && IsStart(r.get()) && name == "xf") {
      const int id = std::atoi(AttrOf(r.get(), "numFmtId").c_str());
      out.push_back(emptyTexts.count(id) ? StyleKind::EmptyText : dateFormats.count(id) ? StyleKind::Date : StyleKind::Plain);
    }
  }
  if (rc < 0) Broken(a, "xl/styles.xml");
  return out;
}

std::string NumberText(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15g", v);
  std::string s = buf;
  return s == "-0" ? "0" : s;
}

// Days since 1970-01-01 and back (the civil calendar, proleptic Gregorian).
long DaysFromCivil(long y, long m, long d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const long yoe = y - era * 400;
  const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}
void CivilFromDays(long z, long& y, long& m, long& d) {
  z += 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const long doe = z - era * 146097;
  const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = yoe + era * 400 + (m <= 2);
}

// The data files' date text of a serial number. In the 1900 system serial
// 60 is a 1900-02-29 that never was, so serials after it count from
// 1899-12-30 and those before from 1899-12-31.
std::string DateText(double serial, bool date1904) {
  double whole = std::floor(serial);
  long seconds = std::lround((serial - whole) * 86400.0);
  if (seconds == 86400) whole += 1, seconds = 0;
  const long days = static_cast<long>(whole);
  const long base = date1904 ? DaysFromCivil(1904, 1, 1) : days > 60 ? DaysFromCivil(1899, 12, 30) : DaysFromCivil(1899, 12, 31);
  long y, m, d;
  CivilFromDays(base + days, y, m, d);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04ld-%02ld-%02ld", y, m, d);
  std::string s = buf;
  if (seconds) {
    std::snprintf(buf, sizeof buf, " %02ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60, seconds % 60);
    s += buf;
  }
  return s;
}

// The columns a sheet can have (A to XFD).
constexpr size_t kMaxColumns = 16384;

// "D5" -> column 3; a reference without letters answers `fallback`, one
// past the last column kMaxColumns.
size_t ColumnOf(const std::string& ref, size_t fallback) {
  size_t col = 0, i = 0;
  for (; i < ref.size() && ref[i] >= 'A' && ref[i] <= 'Z'; ++i) {
    col = col * 26 + (ref[i] - 'A' + 1);
    if (col > kMaxColumns) return kMaxColumns;
  }
  return i == 0 ? fallback : col - 1;
}

}  // namespace

std::vector<std::string> XlsxSheetNames(const std::string& path) {
  Archive a(path);
  std::vector<std::string> names;
  for (auto& s : ReadWorkbook(a).sheets) names.push_back(s.first);
  return names;
}

void ReadXlsx(const std::string& path, const std::vector<std::string>& sheetNames, const RowSink& each) {
  Archive a(path);
  const Workbook w = ReadWorkbook(a);
  std::string part, sheetName;
  for (const auto& wanted : sheetNames)
    for (const auto& s : w.sheets)
      if (part.empty() && s.first == wanted) part = s.second, sheetName = s.first;
  std::vector<const std::pair<std::string, std::string>*> data;
  for (const auto& s : w.sheets)
    if (s.first != "说明") data.push_back(&s);
  if (part.empty() && data.size() == 1) part = data[0]->second, sheetName = data[0]->first;
  if (part.empty())
    throw SheetError("XLSX 文件 " + path + " 中没有工作表 " + (sheetNames.empty() ? std::string() : sheetNames[0]));
  const std::vector<std::string> strings = SharedStrings(a);
  const std::vector<StyleKind> styles = CellStyles(a);
  auto styleOf = [&](int s) { return s >= 0 && static_cast<size_t>(s) < styles.size() ? styles[s] : StyleKind::Plain; };
  auto r = OpenPart(a, part);
  if (!r) throw SheetError("XLSX 文件 " + path + " 中缺少工作表 " + sheetName + " 的内容（" + part + "）");

  Row row;
  long rowNumber = 0;
  size_t col = 0;
  std::string type, ref, value, inlineText;
  int style = 0;
  bool inV = false, inT = false, formula = false, hasValue = false;
  auto where = [&] { return "工作表 " + sheetName + " 的 " + ref + " 单元格"; };
  auto finishCell = [&] {
    if (formula && !hasValue) throw SheetError(where() + "是没有计算结果的公式");
    Cell c;
    if (type == "s") {
      size_t i = std::strtoul(value.c_str(), nullptr, 10);
      if (value.empty() || i >= strings.size()) throw SheetError(where() + "引用了不存在的共享文本");
      c.text = strings[i];
    } else if (type == "inlineStr") {
      c.text = Unescape(inlineText);
    } else if (type == "str") {
      // Some writers keep the cached #N/A of =NA() as a text result.
      if (formula && value == "#N/A") c.null = true;
      else c.text = Unescape(value);
    } else if (type == "b") {
      c.text = value == "1" || value == "true" ? "1" : "0";
    } else if (type == "e") {
      if (value != "#N/A") throw SheetError(where() + "是错误值 " + value);
      c.null = true;
    } else if (!value.empty()) {
      char* end = nullptr;
      double v = std::strtod(value.c_str(), &end);
      if (*end) throw SheetError(where() + "不是有效的数字：" + value);
      // Beyond 9999-12-31 no date format shows a date either.
      const bool date = styleOf(style) == StyleKind::Date && v >= 0 && v < 2958466;
      c.text = date ? DateText(v, w.date1904) : NumberText(v);
      c.numeric = !date;
    }
    // A text cell holding nothing is an empty text, and so is a blank cell
    // the writer marked as one; a number cell always has a text.
    c.present = c.null || !c.text.empty() || (hasValue && (type == "s" || type == "str" || type == "inlineStr")) ||
                (!hasValue && styleOf(style) == StyleKind::EmptyText);
    if (col >= row.size()) row.resize(col + 1);
    row[col] = std::move(c);
  };
  int rc;
  while ((rc = xmlTextReaderRead(r.get())) == 1) {
    xmlTextReader* x = r.get();
    if (IsStart(x)) {
      const std::string name = Local(x);
      if (name == "row") {
        std::string rn = AttrOf(x, "r");
        rowNumber = rn.empty() ? rowNumber + 1 : std::atol(rn.c_str());
        row.clear();
        if (xmlTextReaderIsEmptyElement(x)) {
          if (!each(rowNumber, row)) return;
        }
      } else if (name == "c") {
        ref = AttrOf(x, "r");
        col = ColumnOf(ref, row.size());
        if (ref.empty()) ref = ColumnLetter(col) + std::to_string(rowNumber);
        if (col >= kMaxColumns) throw SheetError(where() + "超出了工作表的列（最多到 XFD 列）");
        type = AttrOf(x, "t");
        style = std::atoi(AttrOf(x, "s").c_str());
        value.clear();
        inlineText.clear();
        formula = hasValue = false;
        if (xmlTextReaderIsEmptyElement(x)) finishCell();
      } else if (name == "f") {
        formula = true;
      } else if (name == "v") {
        inV = !xmlTextReaderIsEmptyElement(x);
        hasValue = true;
      } else if (name == "t" && type == "inlineStr") {
        inT = !xmlTextReaderIsEmptyElement(x);
        hasValue = true;
      }
    } else if (IsText(x)) {
      if (inV) value += Value(x);
      if (inT) inlineText += Value(x);
    } else if (IsEnd(x)) {
      const std::string name = Local(x);
      if (name == "v") inV = false;
      if (name == "t") inT = false;
      if (name == "c") {
        finishCell();
      } else if (name == "row") {
        if (!each(rowNumber, row)) return;
      }
    }
  }
  if (rc < 0) Broken(a, part);
}

}  // namespace morvent::sheets
