#include "platform/text.h"

#include <algorithm>

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

bool EqualsNoCase(std::string_view a, std::string_view b) { return ToUpperAscii(a) == ToUpperAscii(b); }

bool NoCaseLess::operator()(std::string_view a, std::string_view b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto up = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
    return up(x) < up(y);
  });
}

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 99;
    if (n == 99 || i + n >= s.size() + (n ? 0 : 1)) {
      if (n == 99 || i + n > s.size() - 1 + 1) return false;
    }
    if (i + n >= s.size() && n > 0) return false;
    for (size_t k = 1; k <= n; ++k)
      if (!IsContinuation(static_cast<unsigned char>(s[i + k]))) return false;
    i += n + 1;
  }
  return true;
}

}  // namespace morvent
