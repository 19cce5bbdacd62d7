#pragma once
// Text helpers that count characters (Unicode code points), never bytes, as
// every "left N characters", length and search of the algorithms does.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace morvent {

size_t CharLength(std::string_view s);
std::string LeftChars(std::string_view s, size_t n);
std::string RightChars(std::string_view s, size_t n);
// 1-based character position of needle in hay, 0 when absent (case-sensitive).
size_t InStr(std::string_view hay, std::string_view needle);
bool Contains(std::string_view hay, std::string_view needle);
// Removes blanks (spaces) only, as the classic Trim does.
std::string TrimBlanks(std::string_view s);
std::string Replace(std::string_view s, std::string_view from, std::string_view to);
std::string ToUpperAscii(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);
// Ordering for maps whose keys compare without regard to (ASCII) letter case.
struct NoCaseLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};
// Whether the bytes form valid UTF-8: no overlong forms, no surrogates,
// nothing above U+10FFFF, no truncated sequence.
bool IsValidUtf8(std::string_view s);
// Bytes of the well-formed UTF-8 sequence at the start of s; 0 when s is
// empty or does not start with one.
size_t Utf8SequenceLength(std::string_view s);
// The code point of one well-formed sequence (as measured above).
uint32_t DecodeUtf8(std::string_view sequence);

// Text from a ledger, a log or a data file made harmless for a terminal, the
// one way every printing path of the tool cleans what it did not write
// itself. C0 controls but the line breaks, DEL, C1 controls (U+0080-U+009F),
// the marks, embeddings, overrides and isolates that reorder a line, and
// bytes that are not UTF-8 become U+FFFD. Line breaks (CR LF, CR, LF, U+2028,
// U+2029) and tabs become a blank when oneLine; otherwise each line break
// becomes LF and two blanks, so no line of the text passes for a line of the
// tool's own, and a tab a blank.
std::string ForTerminal(std::string_view text, bool oneLine = true);

inline constexpr char kCR = '\r';

// A 32-bit hash of a key, for indexes that keep a hash where a copy of the
// key would cost more; a hit is confirmed against the key itself.
uint32_t Hash32(std::string_view s);

// Edits between a and b (optimal string alignment): insertions, deletions,
// replacements and swaps of two neighbours, each one edit; for "did you
// mean" answers, by bytes or by characters.
size_t EditDistance(std::string_view a, std::string_view b);
size_t EditDistance(std::u32string_view a, std::u32string_view b);

}  // namespace morvent
