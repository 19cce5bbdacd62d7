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

// The first '<' from p on (or end), with the line feeds before it counted
// and whether a '&' may stand before it.
[[gnu::always_inline]] inline const char* TextEnd(const char* p, const char* end, long& lines, bool& amp) {
#if defined(__SSE2__)
  for (; end - p >= 16; p += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const unsigned lt = Matches(v, '<'), lf = Matches(v, '\n');
    amp = amp || Matches(v, '&');  // past the '<' too: only a hint
    if (lt) {
      const int at = __builtin_ctz(lt);
      if (const unsigned before = lf & ((1u << at) - 1)) lines += __builtin_popcount(before);
      return p + at;
    }
    if (lf) lines += __builtin_popcount(lf);
  }
#endif
  for (; p < end && *p != '<'; ++p) {
    lines += *p == '\n';
    amp = amp || *p == '&';
  }
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
  // UTF-8 (with or without its mark), GBK, Latin-1 and the like start with
  // '<' and a letter or '?'; UTF-16 and UTF-32 with a zero byte or a mark.
  char head[8];
  std::string_view start(head, static_cast<size_t>(std::max(0L, ReadAt(0, head, sizeof head))));
  if (start.starts_with("\xEF\xBB\xBF")) start.remove_prefix(3);
  ascii_ = start.size() >= 2 && start[0] == '<' && start[1] != '\0';
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

int InputFile::Read(char* buffer, int len) {
  if (overrun_ != Overrun::None) return -1;
  if (len <= 0) return 0;
  while (true) {
    ssize_t n;
    do n = ::read(fd_, buffer, static_cast<size_t>(len));
    while (n < 0 && errno == EINTR);
    if (n < 0) {
      errno_ = errno;
      return -1;
    }
    if (n == 0) return 0;
    // Bytes before a refused piece are handed on, so that the parser sees
    // all that precedes it; the next call answers -1. A block of nothing
    // but left-out blanks is no end of the file: read on.
    const size_t kept = Take(buffer, buffer + n);
    if (kept > 0) return static_cast<int>(kept);
    if (overrun_ != Overrun::None) return -1;
  }
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; }

// The element name of a start tag "<Name ...", up to `end`.
std::string_view TagName(const char* p, const char* end) {
  const char* q = p + 1;
  while (q < end && !IsBlank(*q) && *q != '/' && *q != '>') ++q;
  return {p + 1, static_cast<size_t>(q - p - 1)};
}

}  // namespace

void InputFile::Name(const char* p, const char* end) {
  for (; naming_ && p < end; ++p) {
    if (IsBlank(*p) || *p == '/' || *p == '>') naming_ = false;
    else if (nameLength_++ < sizeof name_) name_[nameLength_ - 1] = *p;
  }
}

void InputFile::SetElementOnly(std::vector<std::string> names) {
  std::erase_if(names, [](const std::string& n) { return n.empty() || n.size() > sizeof name_; });
  elementOnly_ = std::move(names);
}

void InputFile::TagClosed(bool endOrEmpty, std::string_view name) {
  quiet_ = 0;
  stretch_ = 0;
  stretchLine_ = line_;
  betweenElements_ = endOrEmpty;
  if (!endOrEmpty && !elementOnly_.empty())
    betweenElements_ = std::find(elementOnly_.begin(), elementOnly_.end(), name) != elementOnly_.end();
}

size_t InputFile::Take(char* buffer, const char* end) {
  char* w = buffer;  // kept bytes are moved down to here
  auto keep = [&w](const char* from, size_t n) {
    if (w != from) std::memmove(w, from, n);
    w += n;
  };
  // Adds kept bytes between tags; false (with the overrun set) past the limit.
  auto within = [this](size_t n) {
    if (stretch_ + n <= kMaxRun) {
      stretch_ += n;
      return true;
    }
    overrun_ = Overrun::Stretch;
    startLine_ = stretchLine_;
    return false;
  };
  for (const char* p = buffer; p < end;) {
    if (at_ == At::Text && *p != '<') {
      // Text goes in one stride up to the next '<'.
      long lines = 0;
      bool amp = false;
      const char* stop = TextEnd(p, end, lines, amp);
      const size_t n = static_cast<size_t>(stop - p);
      if (length_ == 0) {
        startLine_ = line_;
        reference_ = 0;
      }
      if ((amp || reference_) && !References(p, stop)) break;
      if (length_ + n > kMaxRun) {
        overrun_ = Overrun::Text;
        break;
      }
      const bool leaveOut = ascii_ && betweenElements_ && std::all_of(p, stop, IsBlank);
      if (!within(leaveOut ? static_cast<size_t>(lines) : n)) break;
      line_ += lines;
      length_ += n;
      last_ = stop[-1];
      beforeLast_ = n > 1 ? stop[-2] : beforeLast_;
      if (leaveOut) {
        std::memset(w, '\n', static_cast<size_t>(lines));  // w <= p: what it overwrites is read
        w += lines;
      } else {
        keep(p, n);
      }
      p = stop;
      continue;
    }
    if (at_ == At::Text && end - p > 1 && p[1] != '!' && p[1] != '?') {
      // A whole tag without quotes or line breaks, as nearly all are, in
      // one stride; anything else goes the long way.
      const char* q = PlainTagEnd(p + 1, end);
      if (q < end && *q == '>' && static_cast<size_t>(q - p) <= kMaxMarkup) {
        TagClosed(p[1] == '/' || q[-1] == '/', TagName(p, q));
        length_ = 0;
        startLine_ = line_;
        beforeLast_ = q[-1];
        last_ = '>';
        keep(p, static_cast<size_t>(q + 1 - p));
        p = q + 1;
        continue;
      }
    }
    if (size_t run = Plain(p, end)) {
      const bool cdata = at_ == At::Cdata;
      const size_t room = (cdata ? kMaxCdata : kMaxMarkup) - length_;
      if (run > room) {
        overrun_ = cdata ? Overrun::Cdata : Overrun::Markup;
        keep(p, room);
        break;
      }
      if (at_ == At::Tag) Name(p, p + run);
      else if (!within(run)) break;
      length_ += run;
      beforeLast_ = run > 1 ? p[run - 2] : last_;
      last_ = p[run - 1];
      keep(p, run);
      p += run;
      continue;
    }
    if (!Scan(*p)) break;
    keep(p, 1);
    ++p;
  }
  return static_cast<size_t>(w - buffer);
}

bool InputFile::References(const char* p, const char* stop) {
  long line = line_;
  for (; p < stop; ++p) {
    // The parser looks for the ';' from the first open '&' on: a later '&'
    // does not start the count again.
    if (*p == ';') {
      reference_ = 0;
    } else if (*p == '&' && !reference_) {
      reference_ = 1;
      referenceLine_ = line;
    } else if (reference_ && ++reference_ > kMaxReference) {
      overrun_ = Overrun::Ampersand;
      startLine_ = referenceLine_;
      return false;
    }
    line += *p == '\n';
  }
  return true;
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
        endTag_ = opened_[0] == '/';
        nameLength_ = 0;
        naming_ = !endTag_;
        Name(opened_, opened_ + openedLength_);
      }
      break;
    }
    case At::Tag:
      if (naming_) Name(&c, &c + 1);
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
    if (at_ == At::Tag) {
      const std::string_view name = nameLength_ <= sizeof name_ ? std::string_view(name_, nameLength_) : "";
      TagClosed(endTag_ || beforeLast_ == '/', name);
      begin(At::Text);
      return true;
    }
    ++quiet_;
    if (quiet_ > kMaxQuietRun) {
      overrun_ = Overrun::QuietRun;
      return false;
    }
    begin(At::Text);
    return true;
  }
  if (length_ == 0 && at_ == At::Text) startLine_ = line_ - (c == '\n');
  if (at_ != At::Tag && at_ != At::Open && ++stretch_ > kMaxRun) {
    overrun_ = Overrun::Stretch;
    startLine_ = stretchLine_;
    return false;
  }
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
  length_ = quiet_ = stretch_ = 0;
  line_ = startLine_ = stretchLine_ = 1;
  betweenElements_ = naming_ = endTag_ = false;
  nameLength_ = 0;
  overrun_ = Overrun::None;
  errno_ = 0;
}

}  // namespace morvent::xml
