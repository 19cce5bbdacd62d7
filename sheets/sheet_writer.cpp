// CSV written by hand (quoting is all RFC 4180 asks of a writer); XLSX by
// libxlsxwriter in its constant-memory mode, but for the data rows, which
// go through our own cell writer and are spliced into its workbook at Close
// (libxlsxwriter's per-cell printf and fixed deflate level cost four times
// the XML export).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <utility>

#include "datafile/target_file.h"
#include "sheets/sheet_rows.h"
#include "sheets/table.h"
#include "sheets/workbook_splice.h"

namespace morvent::sheets {

namespace {

namespace fs = std::filesystem;

// A temporary name beside the target, renamed into place at Close; what a
// killed run left there goes first.
std::string TempBeside(const std::string& path) {
  xml::RemoveStaleTemps(fs::path(path).parent_path().string());
  return xml::TempNameBeside(path);
}

// As a data file takes its target's place: with the target's permissions,
// on the disk before the rename, and the rename on the disk after it.
void Publish(const std::string& temp, const std::string& path) {
  std::error_code ec;
  int fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat old {};
  if (fd >= 0 && ::stat(path.c_str(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);
  if (fd < 0 || ::fsync(fd) != 0) ec.assign(errno, std::generic_category());
  if (fd >= 0) ::close(fd);
  if (!ec) fs::rename(temp, path, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    throw SheetError("无法写入文件 " + path + "（" + ec.message() + "）");
  }
  const fs::path dir = fs::path(path).parent_path();
  if (int d = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); d >= 0) {
    ::fsync(d);
    ::close(d);
  }
}

std::string CsvField(const Cell& cell) {
  if (cell.null) return kCsvNull;
  if (cell.text == kCsvNull || IsEscapedNull(cell.text)) return "\\" + cell.text;
  const std::string& text = cell.text;
  if (cell.present && text.empty()) return "\"\"";
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string q = "\"";
  for (char c : text) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

// The two header rows of a sheet: the column names, then what each holds.
std::pair<Row, Row> HeaderRows(const std::vector<Column>& columns, bool errorColumn) {
  Row keys, words;
  for (const auto& c : columns) {
    keys.push_back({c.header, true});
    words.push_back({c.Description(), true});
  }
  if (errorColumn) {
    keys.push_back({kErrorHeader, true});
    words.push_back({"错误信息 | 文本", true});
  }
  return {std::move(keys), std::move(words)};
}

class CsvWriter : public SheetWriter {
 public:
  explicit CsvWriter(std::string path) : path_(std::move(path)), temp_(TempBeside(path_)) {
    out_.open(temp_, std::ios::binary | std::ios::trunc);
    if (!out_) throw SheetError("无法写入文件 " + path_);
    out_ << "\xEF\xBB\xBF";
  }
  ~CsvWriter() override {
    if (!closed_) {
      out_.close();
      std::error_code ec;
      fs::remove(temp_, ec);
    }
  }
  void Sheet(const std::string&, const std::vector<Column>& columns, bool errorColumn) override {
    if (sheets_++) throw SheetError("CSV 文件只能容纳一种基础资料：" + path_);
    const auto [keys, words] = HeaderRows(columns, errorColumn);
    Add(keys);
    Add(words);
  }
  void Add(const Row& row) override {
    for (size_t i = 0; i < row.size(); ++i) out_ << (i ? "," : "") << CsvField(row[i]);
    out_ << "\r\n";
  }
  void Notes(const std::string&, const std::vector<std::string>&) override {}
  void Close() override {
    out_.close();
    if (!out_) throw SheetError("无法写入文件 " + path_);
    closed_ = true;
    Publish(temp_, path_);
  }

 private:
  std::string path_, temp_;
  std::ofstream out_;
  int sheets_ = 0;
  bool closed_ = false;
};

void Check(lxw_error e, const std::string& path) {
  if (e != LXW_NO_ERROR) throw SheetError("无法写入文件 " + path + "（" + lxw_strerror(e) + "）");
}

// Text that a number cell gives back unchanged: a plain decimal without
// leading zeros, exponent or trailing zeros, within 15 significant digits.
bool CanonicalNumber(const std::string& t, double& value) {
  if (t.empty() || t.size() > 17) return false;
  size_t i = t[0] == '-' ? 1 : 0;
  if (i == t.size() || (t[i] == '0' && i + 1 < t.size() && t[i + 1] != '.')) return false;
  bool dot = false;
  for (size_t k = i; k < t.size(); ++k) {
    if (t[k] == '.') {
      if (dot || k == i || k + 1 == t.size()) return false;
      dot = true;
    } else if (t[k] < '0' || t[k] > '9') {
      return false;
    }
  }
  if (dot && t.back() == '0') return false;
  if (t == "-0") return false;
  if (std::from_chars(t.data(), t.data() + t.size(), value).ec != std::errc()) return false;
  // As "%.15g" writes it, without a format string to read per cell.
  char back[32];
  const auto end = std::to_chars(back, back + sizeof back, value, std::chars_format::general, 15).ptr;
  return std::string_view(back, static_cast<size_t>(end - back)) == t;
}

// libxlsxwriter writes control characters as _xHHHH_ but leaves a literal
// text of that shape alone, which every reader would then decode: its
// underscore is written as _x005F_.
std::string KeepLiteral(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    bool escapeLike = s[i] == '_' && i + 6 < s.size() && s[i + 1] == 'x' && s[i + 6] == '_';
    for (size_t k = 2; escapeLike && k < 6; ++k) escapeLike = std::isxdigit(static_cast<unsigned char>(s[i + k]));
    out += escapeLike ? "_x005F_" : std::string(1, s[i]);
  }
  return out;
}

// A date text as the data files write it ("yyyy-mm-dd", with " hh:mm:ss"
// unless midnight), from 1900-03-01 on where every date system agrees;
// anything else stays text.
bool DateOf(const std::string& t, lxw_datetime& d) {
  int y, mo, da, h = 0, mi = 0, s = 0, used = 0;
  if (t.size() == 10) {
    if (std::sscanf(t.c_str(), "%4d-%2d-%2d%n", &y, &mo, &da, &used) != 3) return false;
  } else if (t.size() == 19) {
    if (std::sscanf(t.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%n", &y, &mo, &da, &h, &mi, &s, &used) != 6) return false;
    if (h == 0 && mi == 0 && s == 0) return false;
  } else {
    return false;
  }
  static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (static_cast<size_t>(used) != t.size() || y > 9999 || mo < 1 || mo > 12 || da < 1 ||
      da > days[mo - 1] - (mo == 2 && !leap) || h > 23 || mi > 59 || s > 59 || (y == 1900 && mo < 3) || y < 1900)
    return false;
  char back[24];
  std::snprintf(back, sizeof back, t.size() == 10 ? "%04d-%02d-%02d" : "%04d-%02d-%02d %02d:%02d:%02d", y, mo, da, h, mi, s);
  if (t != back) return false;
  d = {y, mo, da, h, mi, static_cast<double>(s)};
  return true;
}

class XlsxWriter : public SheetWriter {
 public:
  explicit XlsxWriter(std::string path) : path_(std::move(path)), temp_(TempBeside(path_)) {
    lxw_workbook_options options = {};
    options.constant_memory = LXW_TRUE;
    workbook_ = workbook_new_opt(temp_.c_str(), &options);
    if (!workbook_) throw SheetError("无法写入文件 " + path_);
    text_ = workbook_add_format(workbook_);
    format_set_num_format_index(text_, 49);  // the built-in text format "@"
    bold_ = workbook_add_format(workbook_);
    format_set_bold(bold_);
    format_set_num_format_index(bold_, 49);
    emptyText_ = workbook_add_format(workbook_);
    format_set_num_format(emptyText_, kEmptyTextFormat);
    date_ = workbook_add_format(workbook_);
    format_set_num_format(date_, "yyyy-mm-dd");
    dateTime_ = workbook_add_format(workbook_);
    format_set_num_format(dateTime_, "yyyy-mm-dd hh:mm:ss");
    note_ = workbook_add_format(workbook_);
    format_set_italic(note_);
    format_set_font_color(note_, LXW_COLOR_GRAY);
  }
  ~XlsxWriter() override {
    // Closing is the only way to free it; the half-made file goes.
    if (workbook_) workbook_close(workbook_);
    if (!published_) {
      std::error_code ec;
      fs::remove(temp_, ec);
    }
  }
  void Sheet(const std::string& name, const std::vector<Column>& columns, bool errorColumn) override {
    sheet_ = nullptr;  // no rows for a sheet not made whole
    lxw_worksheet* sheet = workbook_add_worksheet(workbook_, name.c_str());
    if (!sheet) throw SheetError("无法写入文件 " + path_ + "（工作表 " + name + "）");
    sheets_.push_back({sheet, "xl/worksheets/sheet" + std::to_string(++parts_) + ".xml", std::make_unique<SheetRows>(path_)});
    sheet_ = sheet;
    kinds_.clear();
    for (const auto& c : columns) kinds_.push_back(c.IsCode() ? Kind::kCode : c.type == "日期" ? Kind::kDate : Kind::kOther);
    row_ = 0;
    for (size_t i = 0; i < columns.size(); ++i) {
      const auto col = static_cast<lxw_col_t>(i);
      Check(worksheet_set_column(sheet_, col, col, 16, columns[i].IsCode() ? text_ : nullptr), path_);
      if (columns[i].IsFlag()) {
        lxw_data_validation v = {};
        v.validate = LXW_VALIDATION_TYPE_LIST;
        static char zero[] = "0", one[] = "1";
        char* list[] = {zero, one, nullptr};
        v.value_list = list;
        Check(worksheet_data_validation_range(sheet_, 2, col, LXW_ROW_MAX - 1, col, &v), path_);
      }
    }
    const auto [keys, words] = HeaderRows(columns, errorColumn);
    Write(keys, bold_);
    Write(words, note_);
    worksheet_freeze_panes(sheet_, 2, 0);
    // In the order libxlsxwriter would number them, so styles.xml is as
    // it always was.
    lxw_format_get_xf_index(bold_);
    lxw_format_get_xf_index(note_);
  }
  void Add(const Row& row) override { Write(row, nullptr); }
  void Notes(const std::string& name, const std::vector<std::string>& lines) override {
    lxw_worksheet* s = workbook_add_worksheet(workbook_, name.c_str());
    if (!s) throw SheetError("无法写入文件 " + path_ + "（工作表 " + name + "）");
    ++parts_;
    worksheet_set_column(s, 0, 0, 100, nullptr);
    for (size_t r = 0; r < lines.size(); ++r)
      Check(worksheet_write_string(s, static_cast<lxw_row_t>(r), 0, lines[r].c_str(), nullptr), path_);
  }
  void Close() override {
    std::vector<SplicedSheet> spliced;
    for (auto& s : sheets_) {
      if (s.rows->Empty()) continue;
      s.rows->Finish();
      // libxlsxwriter's range of the header rows, widened by the rows'.
      const uint32_t firstRow = std::min<uint32_t>(s.sheet->dim_rowmin, s.rows->FirstRow());
      const uint32_t lastRow = std::max<uint32_t>(s.sheet->dim_rowmax, s.rows->LastRow());
      const uint32_t firstCol = std::min<uint32_t>(s.sheet->dim_colmin, s.rows->FirstCol());
      const uint32_t lastCol = std::max<uint32_t>(s.sheet->dim_colmax, s.rows->LastCol());
      std::string range = ColumnLetter(firstCol) + std::to_string(firstRow + 1);
      if (firstRow != lastRow || firstCol != lastCol) {
        range += ':';
        range += ColumnLetter(lastCol);
        range += std::to_string(lastRow + 1);
      }
      spliced.push_back({s.part, s.rows.get(), range});
    }
    lxw_error e = workbook_close(workbook_);
    workbook_ = nullptr;
    Check(e, path_);
    if (!spliced.empty()) SpliceRows(temp_, path_, spliced);
    Publish(temp_, path_);
    published_ = true;
  }

 private:
  // Data rows go to our own cell writer, with the formats libxlsxwriter
  // numbered for styles.xml.
  void DataRow(const Row& row, SheetRows& out) {
    out.Start(row_);
    for (size_t i = 0; i < row.size(); ++i) {
      const Cell& cell = row[i];
      if (!cell.present) continue;
      const auto col = static_cast<uint32_t>(i);
      const Kind kind = i >= kinds_.size() ? Kind::kOther : kinds_[i];
      const int xf = kind == Kind::kCode ? Xf(text_, textXf_) : -1;
      double value = 0;
      lxw_datetime date;
      if (cell.null)
        out.Na(col, xf);
      else if (cell.text.empty())
        out.Blank(col, Xf(emptyText_, emptyTextXf_));
      else if (kind == Kind::kDate && DateOf(cell.text, date))
        out.Serial(col, lxw_datetime_to_excel_datetime(&date),
                   cell.text.size() == 10 ? Xf(date_, dateXf_) : Xf(dateTime_, dateTimeXf_));
      else if (kind != Kind::kCode && CanonicalNumber(cell.text, value))
        out.Number(col, cell.text);
      else if (cell.text.find("_x") == std::string::npos)
        out.Text(col, cell.text, xf);
      else
        out.Text(col, KeepLiteral(cell.text), xf);
    }
    out.End();
  }
  static int Xf(lxw_format* format, int& known) {
    if (known < 0) known = lxw_format_get_xf_index(format);
    return known;
  }

  void Write(const Row& row, lxw_format* format) {
    if (!sheet_) throw SheetError("无法写入文件 " + path_);
    if (row_ >= LXW_ROW_MAX) throw SheetError("记录太多，一张工作表容纳不下：" + path_);
    if (format)
      Header(row, format);
    else
      DataRow(row, *sheets_.back().rows);
    ++row_;
  }
  // A header row, through libxlsxwriter.
  void Header(const Row& row, lxw_format* format) {
    for (size_t i = 0; i < row.size(); ++i) {
      const Cell& cell = row[i];
      if (!cell.present) continue;
      const auto col = static_cast<lxw_col_t>(i);
      if (cell.text.empty())
        Check(worksheet_write_blank(sheet_, row_, col, emptyText_), path_);
      else
        Check(worksheet_write_string(sheet_, row_, col, KeepLiteral(cell.text).c_str(), format), path_);
    }
  }

  // How a column's texts are written, looked up once a sheet.
  enum class Kind { kOther, kCode, kDate };

  std::string path_, temp_;
  lxw_workbook* workbook_ = nullptr;
  lxw_worksheet* sheet_ = nullptr;
  lxw_format *text_ = nullptr, *bold_ = nullptr, *note_ = nullptr, *date_ = nullptr, *dateTime_ = nullptr,
             *emptyText_ = nullptr;
  int textXf_ = -1, emptyTextXf_ = -1, dateXf_ = -1, dateTimeXf_ = -1;  // numbered when first used
  std::vector<Kind> kinds_;  // by column of the current sheet
  lxw_row_t row_ = 0;
  // Each data sheet, its part and its rows.
  struct DataSheet {
    lxw_worksheet* sheet;
    std::string part;
    std::unique_ptr<SheetRows> rows;
  };
  std::vector<DataSheet> sheets_;
  int parts_ = 0;  // worksheets so far
  bool published_ = false;
};

}  // namespace

std::unique_ptr<SheetWriter> OpenSheetWriter(const std::string& path) {
  const std::string format = SheetFormat(path);
  if (format.empty()) throw SheetError("不认识的表格文件类型（应为 .xlsx 或 .csv）：" + path);
  // As for a data file: no special file or ledger file, and a symlink
  // keeps pointing at the file written.
  if (std::string problem = xml::TargetProblem(path); !problem.empty()) throw SheetError("目标" + problem);
  const std::string real = xml::RealTarget(path);
  if (format == "csv") return std::make_unique<CsvWriter>(real);
  return std::make_unique<XlsxWriter>(real);
}

}  // namespace morvent::sheets
