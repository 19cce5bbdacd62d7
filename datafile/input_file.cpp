#include "datafile/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace morvent::xml {

namespace {

// The bytes that end a run of a tag outside quotes: its end, a quote, a
// line feed.
constexpr auto kEndsPlainTag = [] {
  std::array<bool, 256> ends{};
  for (unsigned char c : {'>', '"', '\'', '\n'}) ends[c] = true;
  return ends;
}();

// Sixteen bytes at a time where the machine offers it; the runs between
// tags are mostly short, so a byte loop would pay per byte what this pays
// per run.
#if defined(__SSE2__)
inline unsigned Matches(__m128i v, char c) {
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(c))));
}
#endif

// The first '<' from p on (or end), with the line feeds before it counted.
[[gnu::always_inline]] inline const char* TextEnd(const char* p, const char* end, long& lines) {
#if defined(__SSE2__)
  for (; end - p >= 16; p += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const unsigned lt = Matches(v, '<'), lf = Matches(v, '\n');
    if (lt) {
      const int at = __builtin_ctz(lt);
      if (const unsigned before = lf & ((1u << at) - 1)) lines += __builtin_popcount(before);
      return p + at;
    }
    if (lf) lines += __builtin_popcount(lf);
  }
#endif
  while (p < end && *p != '<') lines += *p++ == '\n';
  return p;
}

// The first byte from p on (or end) that ends a run of a tag outside quotes.
[[gnu::always_inline]] inline const char* PlainTagEnd(const char* p, const char* end) {
#if defined(__SSE2__)
  for (; end - p >= 16; p += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if (unsigned m = Matches(v, '>') | Matches(v, '"') | Matches(v, '\'') | Matches(v, '\n'))
      return p + __builtin_ctz(m);
  }
#endif
  while (p < end && !kEndsPlainTag[static_cast<unsigned char>(*p)]) ++p;
  return p;
}

}  // namespace

InputFile::InputFile(const std::string& path) {
  const std::string notRegular = "数据文件 " + path + " 不是普通文件";
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) throw InputRefused{"数据文件 " + path + " 不存在！"};
    throw InputRefused{"无法打开数据文件 " + path + "：" + std::strerror(errno)};
  }
  if (!S_ISREG(st.st_mode)) throw InputRefused{notRegular};
  // O_NONBLOCK: should the path have become a FIFO since the stat, the open
  // still returns at once and the fstat below refuses it.
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0) throw InputRefused{"无法打开数据文件 " + path + "：" + std::strerror(errno)};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd_);
    throw InputRefused{notRegular};
  }
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
  size_ = st.st_size;
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

int InputFile::Read(char* buffer, int len) {
  if (overrun_ != Overrun::None) return -1;
  if (len <= 0) return 0;
  ssize_t n;
  do n = ::read(fd_, buffer, static_cast<size_t>(len));
  while (n < 0 && errno == EINTR);
  if (n < 0) {
    errno_ = errno;
    return -1;
  }
  // Bytes before a refused piece are handed on, so that the parser sees
  // all that precedes it; the next call answers -1.
  const char* end = buffer + n;
  for (const char* p = buffer; p < end;) {
    if (at_ == At::Text && *p != '<') {
      // Text goes in one stride up to the next '<'.
      long lines = 0;
      const char* stop = TextEnd(p, end, lines);
      if (length_ == 0) startLine_ = line_;
      if (length_ + static_cast<size_t>(stop - p) > kMaxRun) {
        overrun_ = Overrun::Text;
        return p > buffer ? static_cast<int>(p - buffer) : -1;
      }
      line_ += lines;
      length_ += static_cast<size_t>(stop - p);
      last_ = stop[-1];
      beforeLast_ = stop - p > 1 ? stop[-2] : beforeLast_;
      p = stop;
      continue;
    }
    if (at_ == At::Text && end - p > 1 && p[1] != '!' && p[1] != '?') {
      // A whole tag without quotes or line breaks, as nearly all are, in
      // one stride; anything else goes the long way.
      const char* q = PlainTagEnd(p + 1, end);
      if (q < end && *q == '>' && static_cast<size_t>(q - p) <= kMaxMarkup) {
        quiet_ = 0;
        length_ = 0;
        startLine_ = line_;
        beforeLast_ = q[-1];
        last_ = '>';
        p = q + 1;
        continue;
      }
    }
    if (size_t run = Plain(p, end)) {
      const bool cdata = at_ == At::Cdata;
      const size_t room = (cdata ? kMaxCdata : kMaxMarkup) - length_;
      if (run > room) {
        overrun_ = cdata ? Overrun::Cdata : Overrun::Markup;
        p += room;
        return p > buffer ? static_cast<int>(p - buffer) : -1;
      }
      length_ += run;
      beforeLast_ = run > 1 ? p[run - 2] : last_;
      last_ = p[run - 1];
      p += run;
      continue;
    }
    if (!Scan(*p)) return p > buffer ? static_cast<int>(p - buffer) : -1;
    ++p;
  }
  return static_cast<int>(n);
}

size_t InputFile::Plain(const char* p, const char* end) const {
  const char* q = p;
  switch (at_) {
    case At::Tag:
      if (quote_)
        while (q < end && *q != quote_ && *q != '\n') ++q;
      else
        q = PlainTagEnd(q, end);
      break;
    case At::Comment:
      // Right after "--" the next byte is judged, whatever it is.
      if (last_ != '-' || beforeLast_ != '-')
        while (q < end && *q != '-' && *q != '\n') ++q;
      break;
    case At::Pi:
    case At::Cdata:
      while (q < end && *q != '>' && *q != '\n') ++q;
      break;
    default: break;
  }
  return static_cast<size_t>(q - p);
}

bool InputFile::Scan(char c) {
  auto begin = [&](At at) {
    at_ = at;
    length_ = 0;
    startLine_ = line_;
  };
  bool closes = false, fresh = false;
  switch (at_) {
    case At::Text:
      if (c == '<') {
        begin(At::Open);
        openedLength_ = 0;
      }
      break;
    case At::Open: {
      static constexpr std::string_view kComment = "!--", kCdata = "![CDATA[";
      // Still a proper prefix of one of the two openers, so it fits.
      opened_[openedLength_++] = c;
      const std::string_view opened(opened_, openedLength_);
      if (opened == kComment) {
        at_ = At::Comment;
        fresh = true;  // the opener's dashes are not the comment's
      }
      else if (opened == kCdata) begin(At::Cdata);
      else if (opened == "?") at_ = At::Pi;
      else if (!kComment.starts_with(opened) && !kCdata.starts_with(opened)) {
        at_ = At::Tag;
        quote_ = 0;
        closes = c == '>';
      }
      break;
    }
    case At::Tag:
      if (quote_) {
        if (c == quote_) quote_ = 0;
      } else if (c == '"' || c == '\'') {
        quote_ = c;
      } else {
        closes = c == '>';
      }
      break;
    case At::Comment:
      if (last_ == '-' && beforeLast_ == '-') {
        if (c != '>') {
          overrun_ = Overrun::DoubleHyphen;
          return false;
        }
        closes = true;
      }
      break;
    case At::Pi: closes = c == '>' && last_ == '?'; break;
    case At::Cdata: closes = c == '>' && last_ == ']' && beforeLast_ == ']'; break;
  }
  beforeLast_ = fresh ? 0 : last_;
  last_ = fresh ? 0 : c;
  if (c == '\n') ++line_;
  if (closes) {
    quiet_ = at_ == At::Tag ? 0 : quiet_ + 1;
    if (quiet_ > kMaxQuietRun) {
      overrun_ = Overrun::QuietRun;
      return false;
    }
    begin(At::Text);
    return true;
  }
  if (length_ == 0 && at_ == At::Text) startLine_ = line_ - (c == '\n');
  Overrun kind = at_ == At::Text ? Overrun::Text : at_ == At::Cdata ? Overrun::Cdata : Overrun::Markup;
  if (++length_ > (kind == Overrun::Text ? kMaxRun : kind == Overrun::Cdata ? kMaxCdata : kMaxMarkup)) {
    overrun_ = kind;
    return false;
  }
  return true;
}

long InputFile::ReadAt(long long offset, char* buffer, size_t len) const {
  ssize_t n;
  do n = ::pread(fd_, buffer, len, static_cast<off_t>(offset));
  while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

void InputFile::Rewind() {
  ::lseek(fd_, 0, SEEK_SET);
  at_ = At::Text;
  openedLength_ = 0;
  quote_ = last_ = beforeLast_ = 0;
  length_ = quiet_ = 0;
  line_ = startLine_ = 1;
  overrun_ = Overrun::None;
  errno_ = 0;
}

}  // namespace morvent::xml
