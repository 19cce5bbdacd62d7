// Text helpers count characters, never bytes: a byte count would cut a
// Chinese name in the middle of a character.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/text.h"

namespace morvent {
namespace {

TEST(CharacterCounting, LengthCountsCodePoints) {
  EXPECT_EQ(CharLength(""), 0u);
  EXPECT_EQ(CharLength("abc"), 3u);
  EXPECT_EQ(CharLength("人民币"), 3u);
  EXPECT_EQ(CharLength("中文ab"), 4u);
  EXPECT_EQ(CharLength("𠀀x"), 2u);  // four bytes, one character
}

TEST(CharacterCounting, LeftAndRightTakeWholeCharacters) {
  EXPECT_EQ(LeftChars("中文ab", 1), "中");
  EXPECT_EQ(LeftChars("中文ab", 3), "中文a");
  EXPECT_EQ(LeftChars("中文ab", 0), "");
  EXPECT_EQ(LeftChars("中文ab", 99), "中文ab");
  EXPECT_EQ(LeftChars("𠀀𠀁𠀂", 2), "𠀀𠀁");
  EXPECT_EQ(RightChars("中文ab", 3), "文ab");
  EXPECT_EQ(RightChars("中文ab", 0), "");
  EXPECT_EQ(RightChars("中文ab", 4), "中文ab");
  EXPECT_EQ(RightChars("中文ab", 40), "中文ab");
}

TEST(CharacterCounting, SearchAnswersACharacterPosition) {
  EXPECT_EQ(InStr("中文ab", "a"), 3u);
  EXPECT_EQ(InStr("中文ab", "文"), 2u);
  EXPECT_EQ(InStr("中文ab", "中"), 1u);
  EXPECT_EQ(InStr("中文ab", "x"), 0u);
  EXPECT_EQ(InStr("ABC", "b"), 0u);  // case-sensitive
  EXPECT_EQ(InStr("abc", ""), 1u);
  EXPECT_EQ(InStr("", "a"), 0u);
  EXPECT_TRUE(Contains("01.02.03", "."));
  EXPECT_FALSE(Contains("010203", "."));
}

TEST(Trim, RemovesSpacesOnly) {
  EXPECT_EQ(TrimBlanks("  a b  "), "a b");
  EXPECT_EQ(TrimBlanks("\ta\t"), "\ta\t");
  EXPECT_EQ(TrimBlanks(" \r\nx\r\n "), "\r\nx\r\n");
  EXPECT_EQ(TrimBlanks("\u3000全角\u3000"), "\u3000全角\u3000");  // the ideographic space stays
  EXPECT_EQ(TrimBlanks("    "), "");
  EXPECT_EQ(TrimBlanks(""), "");
}

TEST(Replace, ReplacesEveryOccurrenceLeftToRight) {
  EXPECT_EQ(Replace("1.2.3", ".", ""), "123");
  EXPECT_EQ(Replace("aaa", "aa", "b"), "ba");
  EXPECT_EQ(Replace("abc", "", "x"), "abc");
  EXPECT_EQ(Replace("中中", "中", "国"), "国国");
}

TEST(CaseInsensitive, OnlyAsciiLettersFold) {
  EXPECT_EQ(ToUpperAscii("AcctType=gy;é"), "ACCTTYPE=GY;é");
  EXPECT_TRUE(EqualsNoCase("Data Source", "data source"));
  EXPECT_FALSE(EqualsNoCase("ab", "abc"));
  EXPECT_FALSE(EqualsNoCase("é", "É"));

  std::map<std::string, int, NoCaseLess> m;
  m["AcctType"] = 1;
  EXPECT_EQ(m.count("ACCTTYPE"), 1u);
  EXPECT_EQ(m.count("accttype"), 1u);
  EXPECT_FALSE(m.emplace("accTTYPE", 2).second);
  EXPECT_TRUE(m.emplace("AcctTypes", 3).second);
  EXPECT_EQ(m.size(), 2u);
}

TEST(Utf8, WellFormedTextIsAccepted) {
  for (const char* s : {"", "plain", "人民币", "𠀀", "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF",
                        "\xEE\x80\x80", "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"}) {
    SCOPED_TRACE(s);
    EXPECT_TRUE(IsValidUtf8(s));
  }
}

TEST(Utf8, MalformedTextIsRejected) {
  const std::pair<const char*, const char*> cases[] = {
      {"\x80", "lone continuation"},
      {"a\xBF", "continuation after ASCII"},
      {"\xC0\xAF", "overlong two bytes"},
      {"\xC1\xBF", "overlong two bytes, highest"},
      {"\xE0\x80\xAF", "overlong three bytes"},
      {"\xE0\x9F\xBF", "overlong three bytes, highest"},
      {"\xF0\x80\x80\xAF", "overlong four bytes"},
      {"\xF0\x8F\xBF\xBF", "overlong four bytes, highest"},
      {"\xED\xA0\x80", "high surrogate"},
      {"\xED\xBF\xBF", "low surrogate"},
      {"\xF4\x90\x80\x80", "past U+10FFFF"},
      {"\xF5\x80\x80\x80", "lead byte F5"},
      {"\xFF", "byte FF"},
      {"\xE4\xB8", "truncated at the end"},
      {"\xE4\xB8x", "truncated before ASCII"},
      {"\xF0\x9F\x98", "truncated four bytes"},
      {"ok\xE4", "lead byte at the end"},
      {"\xE4\xB8\xAD\xAD", "one continuation too many"},
  };
  for (auto [bytes, what] : cases) {
    SCOPED_TRACE(what);
    EXPECT_FALSE(IsValidUtf8(bytes));
  }
  EXPECT_FALSE(IsValidUtf8(std::string_view("a\0\xC0", 3)));
  EXPECT_TRUE(IsValidUtf8(std::string_view("a\0b", 3)));  // NUL is a character
}

TEST(Utf8, SequencesDecodeToTheirCodePoints) {
  EXPECT_EQ(Utf8SequenceLength("a中"), 1u);
  EXPECT_EQ(Utf8SequenceLength("中a"), 3u);
  EXPECT_EQ(Utf8SequenceLength("𠀀"), 4u);
  EXPECT_EQ(Utf8SequenceLength("\xC0\xAF"), 0u);
  EXPECT_EQ(Utf8SequenceLength(""), 0u);
  EXPECT_EQ(DecodeUtf8("A"), 0x41u);
  EXPECT_EQ(DecodeUtf8("\xC2\xA9"), 0xA9u);
  EXPECT_EQ(DecodeUtf8("中"), 0x4E2Du);
  EXPECT_EQ(DecodeUtf8("𠀀"), 0x20000u);
  EXPECT_EQ(DecodeUtf8("\xF4\x8F\xBF\xBF"), 0x10FFFFu);
}

// What a ledger, a log or a data file holds reaches a terminal without
// steering it: no escape sequence, title, bell, reordering or forged line.
TEST(ForTerminal, LeavesNothingThatSteersATerminal) {
  const std::string R = "\xEF\xBF\xBD";  // U+FFFD
  const struct {
    std::string text, oneLine, lines;
  } cases[] = {
      {"部门 01-总部 ©", "部门 01-总部 ©", "部门 01-总部 ©"},
      {"", "", ""},
      {"red\x1B[31mX\x1B[0m", "red" + R + "[31mX" + R + "[0m", "red" + R + "[31mX" + R + "[0m"},
      {"\x1B]0;title\x07", R + "]0;title" + R, R + "]0;title" + R},
      {"bell\a nul", "bell" + R + " nul", "bell" + R + " nul"},
      {std::string("a\0b", 3), "a" + R + "b", "a" + R + "b"},
      {"del\x7F", "del" + R, "del" + R},
      {"a\r\nb\rc\nd", "a b c d", "a\n  b\n  c\n  d"},
      {"t\tab", "t ab", "t ab"},
      {"line\xE2\x80\xA8para\xE2\x80\xA9", "line para ", "line\n  para\n  "},
      {"csi\xC2\x9B" "2J end\xC2\x80 \xC2\x9F", "csi" + R + "2J end" + R + " " + R, "csi" + R + "2J end" + R + " " + R},
      {"\xC2\xA0nbsp", "\xC2\xA0nbsp", "\xC2\xA0nbsp"},  // U+00A0 is text
      {"gpj.\xE2\x80\xAE" "exe", "gpj." + R + "exe", "gpj." + R + "exe"},
      {"\xE2\x80\xAA\xE2\x80\xAB\xE2\x80\xAC\xE2\x80\xAD", R + R + R + R, R + R + R + R},
      {"\xE2\x81\xA6\xE2\x81\xA7\xE2\x81\xA8\xE2\x81\xA9", R + R + R + R, R + R + R + R},
      {"\xE2\x80\x8E\xE2\x80\x8F\xD8\x9C", R + R + R, R + R + R},
      {"\xE2\x80\x8D\xE2\x81\xA0", "\xE2\x80\x8D\xE2\x81\xA0", "\xE2\x80\x8D\xE2\x81\xA0"},  // joiners are text
      {"raw\x9B" "1m \xFF\xC3", "raw" + R + "1m " + R + R, "raw" + R + "1m " + R + R},
      {"\xE4\xB8", R + R, R + R},  // a character cut short
      {"\xF0\xA0\x80\x80", "\xF0\xA0\x80\x80", "\xF0\xA0\x80\x80"},
      {"forged\n错误：x", "forged 错误：x", "forged\n  错误：x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ForTerminal(c.text), c.oneLine);
    EXPECT_EQ(ForTerminal(c.text, false), c.lines);
  }
}

}  // namespace
}  // namespace morvent
