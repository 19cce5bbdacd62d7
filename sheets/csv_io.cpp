// CSV through libcsv; GB18030 and other encodings through iconv.
#include <csv.h>
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sheets/table.h"

namespace morvent::sheets {

namespace {

bool ValidUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = s[i];
    const size_t n = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 4;
    if (n == 4 || i + n >= s.size() + (n == 0)) return false;
    for (size_t k = 1; k <= n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n + 1;
  }
  return true;
}

// Blanks around a field are part of it: text is kept exactly.
int NoSpace(unsigned char) { return 0; }

std::string Convert(const std::string& bytes, const std::string& from, const std::string& path) {
  iconv_t cd = iconv_open("UTF-8", from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) throw SheetError("不认识的编码 " + from);
  std::string out(bytes.size() * 2 + 16, '\0');
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  size_t done = 0;
  while (inLeft > 0) {
    char* o = out.data() + done;
    size_t oLeft = out.size() - done;
    size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
    done = out.size() - oLeft;
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) {
        out.resize(out.size() * 2);
        continue;
      }
      iconv_close(cd);
      throw SheetError("文件 " + path + " 不是有效的 " + from + " 文本（第 " +
                       std::to_string(bytes.size() - inLeft + 1) + " 个字节）");
    }
  }
  iconv_close(cd);
  out.resize(done);
  return out;
}

struct CsvState {
  Row row;
  long number = 0;
  const RowSink* each;
  bool stopped = false;
  int lastEnd = 0;  // the character that ended the previous row
};

void OnField(void* data, size_t len, void* p) {
  auto* s = static_cast<CsvState*>(p);
  Cell c;
  if (data && len) c.text.assign(static_cast<const char*>(data), len);
  c.present = data != nullptr;
  s->row.push_back(std::move(c));
}

// Every line end is reported (a blank line is a row a spreadsheet shows),
// so the LF of a CRLF is dropped here.
void OnRow(int c, void* p) {
  auto* s = static_cast<CsvState*>(p);
  const int previous = s->lastEnd;
  s->lastEnd = c;
  if (c == '\n' && previous == '\r' && s->row.empty()) return;
  ++s->number;
  if (!s->stopped && !(*s->each)(s->number, s->row)) s->stopped = true;
  s->row.clear();
}

}  // namespace

std::string SheetFormat(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext == ".csv" ? "csv" : ext == ".xlsx" ? "xlsx" : "";
}

void ReadCsv(const std::string& path, const std::string& encoding, const RowSink& each) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw SheetError("无法打开文件 " + path);
  std::ostringstream all;
  all << in.rdbuf();
  std::string text = all.str();
  if (!encoding.empty() && encoding != "UTF-8" && encoding != "utf-8")
    text = Convert(text, encoding, path);
  else if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
    text.erase(0, 3);
  else if (encoding.empty() && !ValidUtf8(text))
    text = Convert(text, "GB18030", path);

  csv_parser p;
  if (csv_init(&p, CSV_APPEND_NULL) != 0) throw SheetError("内存不足");
  CsvState s;
  s.each = &each;
  csv_set_opts(&p, CSV_APPEND_NULL | CSV_EMPTY_IS_NULL | CSV_REPALL_NL);
  csv_set_space_func(&p, NoSpace);
  const size_t parsed = csv_parse(&p, text.data(), text.size(), OnField, OnRow, &s);
  const int err = csv_error(&p);
  if (parsed != text.size()) {
    csv_free(&p);
    throw SheetError("无法解析 CSV 文件 " + path + "（第 " + std::to_string(s.number + 1) + " 行）：" + csv_strerror(err));
  }
  csv_fini(&p, OnField, OnRow, &s);
  csv_free(&p);
}

}  // namespace morvent::sheets
