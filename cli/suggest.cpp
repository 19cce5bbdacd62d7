#include "cli/suggest.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "platform/text.h"

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

}  // namespace

std::optional<std::string> Closest(const std::string& word, const std::vector<std::string>& candidates) {
  const std::u32string w = Letters(word);
  std::optional<std::string> best;
  size_t bestDistance = 0;
  for (const auto& c : candidates) {
    const std::u32string l = Letters(c);
    const size_t d = EditDistance(w, l);
    const size_t near = std::max<size_t>(1, std::min<size_t>(2, l.size() / 3));
    if (d <= near && (!best || d < bestDistance)) {
      best = c;
      bestDistance = d;
    }
  }
  return best;
}

}  // namespace morvent::cli
