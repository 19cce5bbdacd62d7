// CSV through libcsv; GB18030 and other encodings through iconv.
#include <csv.h>
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <exception>

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

struct CsvState {
  Row row;
  long number = 0;
  const RowSink* each;
  bool stopped = false;
  int lastEnd = 0;  // the character that ended the previous row
  // What the row sink raised, raised again once out of the C parser.
  std::exception_ptr failure;
};

void OnField(void* data, size_t len, void* p) {
  auto* s = static_cast<CsvState*>(p);
  Cell c;
  if (data && len) c.text.assign(static_cast<const char*>(data), len);
  c.present = data != nullptr;
  if (c.text == kCsvNull) {
    c.null = true;
    c.text.clear();
  } else if (IsEscapedNull(c.text)) {
    c.text.erase(0, 1);
  }
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
  try {
    if (!s->stopped && !(*s->each)(s->number, s->row)) s->stopped = true;
  } catch (...) {
    s->failure = std::current_exception();
    s->stopped = true;
  }
  s->row.clear();
}

}  // namespace

bool IsEscapedNull(std::string_view text) {
  const size_t slashes = text.find_first_not_of('\\');
  return slashes != 0 && slashes != std::string_view::npos && text.substr(slashes) == kCsvNull;
}

std::string SheetFormat(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext == ".csv" ? "csv" : ext == ".xlsx" ? "xlsx" : "";
}

namespace {

constexpr size_t kChunk = 1 << 16;

// The length of the UTF-8 sequence a lead byte starts (0: no lead byte).
size_t SequenceLength(unsigned char c) {
  return c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
}

// Whether the whole file is UTF-8, read a chunk at a time.
bool FileIsUtf8(std::ifstream& in) {
  std::string carry, chunk(kChunk, '\0');
  while (in.read(chunk.data(), kChunk), in.gcount() > 0) {
    std::string text = carry + chunk.substr(0, static_cast<size_t>(in.gcount()));
    size_t i = 0;
    while (i < text.size()) {
      const size_t n = SequenceLength(static_cast<unsigned char>(text[i]));
      if (n == 0) return false;
      if (i + n > text.size()) break;  // completed by the next chunk
      if (!ValidUtf8(text.substr(i, n))) return false;
      i += n;
    }
    carry = text.substr(i);
  }
  return carry.empty();
}

// The file's text as UTF-8, a chunk at a time.
class Utf8Chunks {
 public:
  Utf8Chunks(std::ifstream& in, const std::string& from, const std::string& path) : in_(in), path_(path) {
    if (from.empty()) return;
    cd_ = iconv_open("UTF-8", from.c_str());
    if (cd_ == reinterpret_cast<iconv_t>(-1)) throw SheetError("不认识的编码 " + from);
    from_ = from;
  }
  ~Utf8Chunks() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  Utf8Chunks(const Utf8Chunks&) = delete;
  Utf8Chunks& operator=(const Utf8Chunks&) = delete;

  // False at the end of the file.
  bool Next(std::string& out) {
    std::string chunk(kChunk, '\0');
    in_.read(chunk.data(), kChunk);
    chunk.resize(static_cast<size_t>(in_.gcount()));
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      out = std::move(chunk);
      return !out.empty();
    }
    pending_ += chunk;
    const bool last = chunk.empty();
    out.assign(pending_.size() * 4 + 16, '\0');
    char* src = pending_.data();
    size_t left = pending_.size();
    char* dst = out.data();
    size_t room = out.size();
    if (iconv(cd_, &src, &left, &dst, &room) == static_cast<size_t>(-1) && (errno != EINVAL || last))
      throw SheetError("文件 " + path_ + " 不是有效的 " + from_ + " 文本（第 " + std::to_string(done_ + (src - pending_.data()) + 1) +
                       " 个字节）");
    // An incomplete character waits for the next chunk.
    done_ += static_cast<size_t>(src - pending_.data());
    pending_.erase(0, static_cast<size_t>(src - pending_.data()));
    out.resize(out.size() - room);
    return !last || !out.empty();
  }

 private:
  std::ifstream& in_;
  std::string path_, from_, pending_;
  iconv_t cd_ = reinterpret_cast<iconv_t>(-1);
  size_t done_ = 0;
};

}  // namespace

void ReadCsv(const std::string& path, const std::string& encoding, const RowSink& each) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw SheetError("无法打开文件 " + path);
  const bool utf8Named = encoding == "UTF-8" || encoding == "utf-8";
  std::string from = utf8Named ? "" : encoding;
  char bom[3] = {};
  in.read(bom, 3);
  const bool hasBom = in.gcount() == 3 && std::string(bom, 3) == "\xEF\xBB\xBF";
  if (encoding.empty() && !hasBom) {
    in.clear();
    in.seekg(0);
    if (!FileIsUtf8(in)) from = "GB18030";
  }
  in.clear();
  in.seekg(hasBom && from.empty() ? 3 : 0);

  csv_parser p;
  if (csv_init(&p, CSV_APPEND_NULL) != 0) throw SheetError("内存不足");
  struct Freed {
    csv_parser* p;
    ~Freed() { csv_free(p); }
  } freed{&p};
  CsvState s;
  s.each = &each;
  csv_set_opts(&p, CSV_APPEND_NULL | CSV_EMPTY_IS_NULL | CSV_REPALL_NL);
  csv_set_space_func(&p, NoSpace);
  Utf8Chunks chunks(in, from, path);
  std::string text;
  while (!s.stopped && chunks.Next(text)) {
    const size_t parsed = csv_parse(&p, text.data(), text.size(), OnField, OnRow, &s);
    if (s.failure) std::rethrow_exception(s.failure);
    if (parsed != text.size())
      throw SheetError("无法解析 CSV 文件 " + path + "（第 " + std::to_string(s.number + 1) + " 行）：" +
                       csv_strerror(csv_error(&p)));
  }
  if (!s.stopped) csv_fini(&p, OnField, OnRow, &s);
  if (s.failure) std::rethrow_exception(s.failure);
}

}  // namespace morvent::sheets
