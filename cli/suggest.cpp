#include "cli/suggest.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace morvent::cli {

namespace {

// Characters as code points, ASCII letters in lower case; a stray byte
// counts as one character.
std::u32string Letters(const std::string& s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
    char32_t cp = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n && i + k < s.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    if (cp >= 'A' && cp <= 'Z') cp += 'a' - 'A';
    out.push_back(cp);
    i += n;
  }
  return out;
}

// Edits between a and b: insertions, deletions, replacements and swaps of
// two neighbours, each one edit.
size_t Distance(const std::u32string& a, const std::u32string& b) {
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

std::optional<std::string> Closest(const std::string& word, const std::vector<std::string>& candidates) {
  const std::u32string w = Letters(word);
  std::optional<std::string> best;
  size_t bestDistance = 0;
  for (const auto& c : candidates) {
    const std::u32string l = Letters(c);
    const size_t d = Distance(w, l);
    const size_t near = std::max<size_t>(1, std::min<size_t>(2, l.size() / 3));
    if (d <= near && (!best || d < bestDistance)) {
      best = c;
      bestDistance = d;
    }
  }
  return best;
}

}  // namespace morvent::cli
