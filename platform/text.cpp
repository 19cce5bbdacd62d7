#include "platform/text.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

namespace morvent {

namespace {
bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Byte offset of the n-th character (or s.size()).
size_t ByteOffset(std::string_view s, size_t n) {
  size_t i = 0;
  while (i < s.size() && n > 0) {
    ++i;
    while (i < s.size() && IsContinuation(static_cast<unsigned char>(s[i]))) ++i;
    --n;
  }
  return i;
}
}  // namespace

size_t CharLength(std::string_view s) {
  return static_cast<size_t>(std::count_if(s.begin(), s.end(), [](char c) {
    return !IsContinuation(static_cast<unsigned char>(c));
  }));
}

std::string LeftChars(std::string_view s, size_t n) { return std::string(s.substr(0, ByteOffset(s, n))); }

std::string RightChars(std::string_view s, size_t n) {
  size_t len = CharLength(s);
  if (n >= len) return std::string(s);
  return std::string(s.substr(ByteOffset(s, len - n)));
}

size_t InStr(std::string_view hay, std::string_view needle) {
  if (needle.empty()) return 1;
  size_t pos = hay.find(needle);
  if (pos == std::string_view::npos) return 0;
  return CharLength(hay.substr(0, pos)) + 1;
}

bool Contains(std::string_view hay, std::string_view needle) { return hay.find(needle) != std::string_view::npos; }

std::string TrimBlanks(std::string_view s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return "";
  size_t e = s.find_last_not_of(' ');
  return std::string(s.substr(b, e - b + 1));
}

std::string Replace(std::string_view s, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(s);
  std::string out;
  size_t i = 0;
  while (true) {
    size_t p = s.find(from, i);
    if (p == std::string_view::npos) break;
    out.append(s.substr(i, p - i)).append(to);
    i = p + from.size();
  }
  out.append(s.substr(i));
  return out;
}

std::string ToUpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  // Called per key and per property: no folded copies.
  if (a.size() != b.size()) return false;
  if (std::memcmp(a.data(), b.data(), a.size()) == 0) return true;  // mostly spelt alike
  auto up = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
  for (size_t i = 0; i < a.size(); ++i)
    if (up(a[i]) != up(b[i])) return false;
  return true;
}

bool NoCaseLess::operator()(std::string_view a, std::string_view b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto up = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
    return up(x) < up(y);
  });
}

size_t Utf8SequenceLength(std::string_view s) {
  if (s.empty()) return 0;
  const auto byte = [&s](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = byte(0);
  if (c < 0x80) return 1;
  size_t n;
  // The second byte's range is what rules out overlongs, surrogates and
  // code points past U+10FFFF.
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  if (byte(1) < lo || byte(1) > hi) return 0;
  for (size_t k = 2; k < n; ++k)
    if (!IsContinuation(byte(k))) return 0;
  return n;
}

uint32_t DecodeUtf8(std::string_view seq) {
  if (seq.empty()) return 0;
  const auto byte = [&seq](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(seq[i])); };
  switch (seq.size()) {
    case 1: return byte(0);
    case 2: return (byte(0) & 0x1F) << 6 | (byte(1) & 0x3F);
    case 3: return (byte(0) & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
    default: return (byte(0) & 0x07) << 18 | (byte(1) & 0x3F) << 12 | (byte(2) & 0x3F) << 6 | (byte(3) & 0x3F);
  }
}

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    size_t n = Utf8SequenceLength(s.substr(i));
    if (n == 0) return false;
    i += n;
  }
  return true;
}

namespace {
// Characters that steer a terminal or reorder what it shows.
bool Steers(uint32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}
}  // namespace

std::string ForTerminal(std::string_view text, bool oneLine) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const size_t n = Utf8SequenceLength(text.substr(i));
    if (n == 0) {
      out += kReplacement;
      ++i;
      continue;
    }
    const uint32_t c = DecodeUtf8(text.substr(i, n));
    if (c == '\r' || c == '\n' || c == 0x2028 || c == 0x2029) {
      out += oneLine ? " " : "\n  ";
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\t') {
      out += ' ';
    } else if (Steers(c)) {
      out += kReplacement;
    } else {
      out.append(text.substr(i, n));
    }
    i += n;
  }
  return out;
}

namespace {

template <class View>
size_t Osa(View a, View b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i)
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

}  // namespace

size_t EditDistance(std::string_view a, std::string_view b) { return Osa(a, b); }
size_t EditDistance(std::u32string_view a, std::u32string_view b) { return Osa(a, b); }

uint32_t Hash32(std::string_view s) { return static_cast<uint32_t>(std::hash<std::string_view>{}(s)); }

}  // namespace morvent
