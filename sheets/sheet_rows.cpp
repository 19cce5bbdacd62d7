#include "sheets/sheet_rows.h"

#include <xlsxwriter.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "sheets/columns.h"
#include "sheets/table.h"

namespace morvent::sheets {

namespace {

constexpr size_t kFlushAt = 1 << 20;
// The characters a cell holds, as libxlsxwriter counts them.
constexpr size_t kMaxText = 32767;

void AppendNumber(std::string& out, uint64_t n) {
  char buf[24];
  out.append(buf, static_cast<size_t>(std::to_chars(buf, buf + sizeof buf, n).ptr - buf));
}

// What libxlsxwriter escapes in a text: & < > as entities and the control
// characters other than tab and line feed as _xHHHH_.
bool NeedsEscape(unsigned char c) {
  return c == '&' || c == '<' || c == '>' || (c < 0x20 && c != '\t' && c != '\n');
}

void AppendEscaped(std::string& out, std::string_view text) {
  size_t run = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (!NeedsEscape(c)) continue;
    out.append(text.data() + run, i - run);
    run = i + 1;
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else {
      static const char hex[] = "0123456789ABCDEF";
      const char esc[] = {'_', 'x', '0', '0', hex[c >> 4], hex[c & 15], '_'};
      out.append(esc, sizeof esc);
    }
  }
  out.append(text.data() + run, text.size() - run);
}

// libxlsxwriter keeps leading and trailing white space of what is left
// after the control characters became _xHHHH_.
bool KeepsSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\n'; }

}  // namespace

SheetRows::SheetRows(std::string path) : path_(std::move(path)) {
  file_ = std::tmpfile();
  if (!file_) Fail(std::strerror(errno));
  out_.reserve(kFlushAt + (1 << 16));
}

SheetRows::~SheetRows() {
  if (file_) std::fclose(file_);
}

void SheetRows::Fail(const std::string& why) const { throw SheetError("无法写入文件 " + path_ + "（" + why + "）"); }

void SheetRows::Start(uint32_t row) {
  if (row >= LXW_ROW_MAX) Fail(lxw_strerror(LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE));
  row_ = row;
  prevCol_ = -1;
  rowOpen_ = false;
}

void SheetRows::Cell(uint32_t col, int xf) {
  if (col >= LXW_COL_MAX) Fail(lxw_strerror(LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE));
  if (!rowOpen_) {
    out_ += "<row r=\"";
    AppendNumber(out_, uint64_t{row_} + 1);
    out_ += "\">";
    rowOpen_ = true;
    if (firstRow_ == UINT32_MAX) firstRow_ = row_;
    lastRow_ = row_;
  }
  out_ += "<c";
  if (static_cast<int64_t>(col) != prevCol_ + 1) {
    while (letters_.size() <= col) letters_.push_back(ColumnLetter(letters_.size()));
    out_ += " r=\"";
    out_ += letters_[col];
    AppendNumber(out_, uint64_t{row_} + 1);
    out_ += '"';
  }
  if (xf > 0) {
    out_ += " s=\"";
    AppendNumber(out_, static_cast<uint64_t>(xf));
    out_ += '"';
  }
  prevCol_ = col;
  if (col > lastCol_) lastCol_ = col;
  if (col < firstCol_) firstCol_ = col;
}

void SheetRows::Text(uint32_t col, std::string_view text, int xf) {
  // libxlsxwriter takes C strings: a text ends at its first NUL.
  text = text.substr(0, text.find('\0'));
  if (text.empty()) {
    if (xf >= 0) Blank(col, xf);
    return;
  }
  if (text.size() > kMaxText && lxw_utf8_strlen(std::string(text).c_str()) > kMaxText)
    Fail(lxw_strerror(LXW_ERROR_MAX_STRING_LENGTH_EXCEEDED));
  Cell(col, xf);
  const bool keep = KeepsSpace(static_cast<unsigned char>(text.front())) || KeepsSpace(static_cast<unsigned char>(text.back()));
  out_ += keep ? " t=\"inlineStr\"><is><t xml:space=\"preserve\">" : " t=\"inlineStr\"><is><t>";
  AppendEscaped(out_, text);
  out_ += "</t></is></c>";
  if (out_.size() >= kFlushAt) Flush();
}

void SheetRows::Number(uint32_t col, std::string_view text) {
  Cell(col, -1);
  out_ += "><v>";
  out_ += text;
  out_ += "</v></c>";
}

void SheetRows::Serial(uint32_t col, double value, int xf) {
  Cell(col, xf);
  char buf[32];
  out_ += "><v>";
  out_.append(buf, static_cast<size_t>(std::to_chars(buf, buf + sizeof buf, value).ptr - buf));
  out_ += "</v></c>";
}

void SheetRows::Blank(uint32_t col, int xf) {
  Cell(col, xf);
  out_ += "/>";
}

void SheetRows::Na(uint32_t col, int xf) {
  Cell(col, xf);
  out_ += " t=\"str\"><f>NA()</f><v>#N/A</v></c>";
}

void SheetRows::End() {
  if (rowOpen_) out_ += "</row>";
  rowOpen_ = false;
  if (out_.size() >= kFlushAt) Flush();
}

void SheetRows::Flush() {
  if (out_.empty()) return;
  if (std::fwrite(out_.data(), 1, out_.size(), file_) != out_.size()) Fail(std::strerror(errno));
  size_ += out_.size();
  out_.clear();
}

void SheetRows::Finish() {
  Flush();
  if (std::fflush(file_) != 0) Fail(std::strerror(errno));
  std::rewind(file_);
}

}  // namespace morvent::sheets
