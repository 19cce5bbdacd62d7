// The value conversion rules every handler relies on when it moves ledger
// fields into records and back.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/variant.h"

namespace morvent {
namespace {

// The error a conversion raised, as "number description"; "" when none.
std::string Raised(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return std::to_string(e.Number()) + " " + e.Description();
  }
  return "";
}

const std::string kTypeMismatch = "13 类型不匹配";
const std::string kOverflow = "6 溢出";
const std::string kInvalidNull = "94 无效使用 Null";

TEST(TextToNumber, BlanksAroundTheNumberAreTrimmed) {
  EXPECT_EQ(Variant("  12.5  ").ToDouble(), 12.5);
  EXPECT_EQ(Variant(" -3").ToLong(), -3);
  EXPECT_EQ(Variant("+7 ").ToInteger(), 7);
  EXPECT_EQ(Variant("1e3").ToDouble(), 1000);
  EXPECT_EQ(Variant(".5").ToDouble(), 0.5);
  EXPECT_EQ(Variant("5.").ToDouble(), 5);
}

TEST(TextToNumber, TextThatIsNotANumberIsATypeMismatch) {
  for (const char* text : {"", "   ", "abc", "12abc", "1 000", "1,5", "0x10", "-", ".", "1e", "1e+", "\t5"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Raised([&] { Variant(text).ToDouble(); }), kTypeMismatch);
    EXPECT_EQ(Raised([&] { Variant(text).ToLong(); }), kTypeMismatch);
    EXPECT_FALSE(IsNumeric(Variant(text)));
  }
  EXPECT_TRUE(IsNumeric(Variant(" 42 ")));
  EXPECT_TRUE(IsNumeric(Variant(3.5)));
  EXPECT_TRUE(IsNumeric(Variant()));
  EXPECT_FALSE(IsNumeric(Variant::Null()));
}

TEST(TextToNumber, ANumberTooLargeForADoubleOverflows) {
  EXPECT_EQ(Raised([] { Variant("1e999").ToDouble(); }), kOverflow);
  EXPECT_EQ(Raised([] { Variant("-1e999").ToLong(); }), kOverflow);
}

TEST(TextToNumber, DigitsReadAsTheNearestDoubleAtEveryScale) {
  // The compiler's reading of the same literal is the reference.
  const std::pair<std::string, double> cases[] = {
      {"4.9e-324", 4.9e-324},
      {"2.5e-324", 4.9e-324},
      {"2.2250738585072011e-308", 2.2250738585072011e-308},
      {"1.7976931348623157e308", 1.7976931348623157e308},
      {"123456789012345678901234567890", 123456789012345678901234567890.0},
      {"9007199254740993", 9007199254740993.0},
      {"0.000000000000000000000000000000000000000000001e45", 1},
      {"1e0000000000000000000000000000000003", 1000},
      {"1" + std::string(400, '0') + "e-398", 100},
      // Too close to zero for a double: zero, keeping the sign.
      {"1e-400", 0.0},
      {"-1e-400", -0.0},
      {"2.4e-324", 0.0},
      {"1e-99999999999999999999", 0.0},
      {"0e99999999999", 0.0},
  };
  for (const auto& [text, value] : cases) {
    SCOPED_TRACE(text);
    double d = 42;
    ASSERT_TRUE(ParseNumber(text, d));
    EXPECT_EQ(d, value);
    EXPECT_EQ(std::signbit(d), std::signbit(value));
  }
  for (const std::string& text : std::vector<std::string>{"1.7976931348623159e308", "1e99999999999999999999",
                                                          "-1" + std::string(400, '0'),
                                                          "0." + std::string(20, '0') + "1e330"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Raised([&] { Variant(text).ToDouble(); }), kOverflow);
  }
}

TEST(ToInteger, RoundsHalfToEven) {
  const std::pair<double, int32_t> cases[] = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {3.5, 4},   {-0.5, 0},
                                              {-1.5, -2}, {-2.5, -2}, {2.4999, 2}, {2.5001, 3}};
  for (auto [in, out] : cases) {
    SCOPED_TRACE(in);
    EXPECT_EQ(Variant(in).ToLong(), out);
    EXPECT_EQ(Variant(in).ToInteger(), out);
  }
  EXPECT_EQ(Variant("2.5").ToLong(), 2);
  EXPECT_EQ(Variant(" 3.5 ").ToInteger(), 4);
}

TEST(ToInteger, OutOfRangeOverflows) {
  EXPECT_EQ(Variant(2147483647.4).ToLong(), 2147483647);
  EXPECT_EQ(Variant(-2147483648.5).ToLong(), -2147483648);  // rounds to the even bound
  EXPECT_EQ(Raised([] { Variant(2147483647.5).ToLong(); }), kOverflow);
  EXPECT_EQ(Raised([] { Variant("2147483648").ToLong(); }), kOverflow);
  EXPECT_EQ(Raised([] { Variant(-2147483649.0).ToLong(); }), kOverflow);

  EXPECT_EQ(Variant(int32_t{32767}).ToInteger(), 32767);
  EXPECT_EQ(Variant(-32768.5).ToInteger(), -32768);
  EXPECT_EQ(Raised([] { Variant(32767.5).ToInteger(); }), kOverflow);
  EXPECT_EQ(Raised([] { Variant(int32_t{40000}).ToInteger(); }), kOverflow);
  EXPECT_EQ(Raised([] { Variant("-40000").ToInteger(); }), kOverflow);
}

TEST(Compare, NumberAgainstTextConvertsTheText) {
  EXPECT_TRUE(VarEquals(Variant(int32_t{5}), Variant(" 5 ")));
  EXPECT_TRUE(VarEquals(Variant("5.0"), Variant(5.0)));
  EXPECT_TRUE(VarEquals(Variant(int16_t{1}), Variant("1e0")));
  EXPECT_FALSE(VarEquals(Variant(int32_t{5}), Variant("6")));
  EXPECT_EQ(Raised([] { VarEquals(Variant(int32_t{5}), Variant("five")); }), kTypeMismatch);
  EXPECT_EQ(Raised([] { VarEquals(Variant(""), Variant(0.0)); }), kTypeMismatch);
}

TEST(Compare, TextAgainstTextIsExactAndCaseSensitive) {
  EXPECT_TRUE(VarEquals(Variant("人民币"), Variant("人民币")));
  EXPECT_FALSE(VarEquals(Variant("abc"), Variant("ABC")));
  EXPECT_FALSE(VarEquals(Variant("a "), Variant("a")));
  EXPECT_FALSE(VarEquals(Variant("5"), Variant("5.0")));  // no numeric conversion between texts
  EXPECT_TRUE(VarEquals(Variant(), Variant("")));
  EXPECT_TRUE(VarEquals(Variant(), Variant(int32_t{0})));
}

TEST(Compare, NullIsNeverAMatch) {
  EXPECT_FALSE(VarEquals(Variant::Null(), Variant::Null()));
  EXPECT_FALSE(VarEquals(Variant::Null(), Variant(int32_t{0})));
  EXPECT_FALSE(VarEquals(Variant(""), Variant::Null()));
  EXPECT_FALSE(VarEquals(Variant::Null(), Variant()));
}

TEST(Compare, DatesCompareByTheirValue) {
  EXPECT_TRUE(VarEquals(Variant(MakeDate(2024, 3, 5)), Variant("2024/3/5")));
  EXPECT_FALSE(VarEquals(Variant(MakeDate(2024, 3, 5, 0, 0, 1)), Variant("2024-03-05")));
}

TEST(BooleanEmptyNull, BooleanIsMinusOneOrZero) {
  EXPECT_EQ(Variant(true).ToDouble(), -1);
  EXPECT_EQ(Variant(true).ToLong(), -1);
  EXPECT_EQ(Variant(true).ToInteger(), -1);
  EXPECT_EQ(Variant(false).ToLong(), 0);
  EXPECT_TRUE(VarEquals(Variant(true), Variant(int32_t{-1})));
  EXPECT_EQ(Variant(true).ToText(), "True");
  EXPECT_EQ(Variant(false).ToText(), "False");
}

TEST(BooleanEmptyNull, TextAndNumbersToBoolean) {
  EXPECT_TRUE(Variant(" true ").ToBool());
  EXPECT_FALSE(Variant("FALSE").ToBool());
  EXPECT_TRUE(Variant("-1").ToBool());
  EXPECT_TRUE(Variant(0.5).ToBool());
  EXPECT_FALSE(Variant("0").ToBool());
  EXPECT_FALSE(Variant().ToBool());
  EXPECT_EQ(Raised([] { Variant("yes").ToBool(); }), kTypeMismatch);
}

TEST(BooleanEmptyNull, EmptyIsZeroAndEmptyText) {
  EXPECT_EQ(Variant().ToDouble(), 0);
  EXPECT_EQ(Variant().ToLong(), 0);
  EXPECT_EQ(Variant().ToText(), "");
}

TEST(BooleanEmptyNull, NullCannotBecomeANumberOrText) {
  EXPECT_EQ(Raised([] { Variant::Null().ToDouble(); }), kInvalidNull);
  EXPECT_EQ(Raised([] { Variant::Null().ToLong(); }), kInvalidNull);
  EXPECT_EQ(Raised([] { Variant::Null().ToInteger(); }), kInvalidNull);
  EXPECT_EQ(Raised([] { Variant::Null().ToText(); }), kInvalidNull);
  EXPECT_EQ(Raised([] { Variant::Null().ToBool(); }), kInvalidNull);
}

TEST(BooleanEmptyNull, ObjectsAreNotPlainValues) {
  auto obj = std::make_shared<Object>();
  EXPECT_EQ(Raised([&] { Variant(obj).ToText(); }), kTypeMismatch);
  EXPECT_EQ(Raised([&] { Variant(obj).ToDouble(); }), kTypeMismatch);
  EXPECT_EQ(Raised([] { Variant("x").ToObject(); }), kTypeMismatch);
  EXPECT_EQ(Variant(obj).ToObject(), obj);
  EXPECT_EQ(Variant::Nothing().ToObject(), nullptr);
  EXPECT_TRUE(VarEquals(Variant(obj), Variant(obj)));
  EXPECT_EQ(Raised([&] { VarEquals(Variant(obj), Variant("x")); }), kTypeMismatch);
}

TEST(NumberToText, InvariantFormWithAtMostFifteenDigits) {
  const std::pair<double, const char*> cases[] = {
      {1.1, "1.1"},
      {0.1 + 0.2, "0.3"},
      {3.0, "3"},
      {-0.5, "-0.5"},
      {-0.0, "0"},
      {1234567.0, "1234567"},
      {1.0 / 3.0, "0.333333333333333"},
      {2.0 / 3.0, "0.666666666666667"},
      {999999999999999.0, "999999999999999"},
      {1e15, "1E+15"},
      {123456789012345678.0, "1.23456789012346E+17"},
      {0.0001, "0.0001"},
      {0.00001, "1E-05"},
      {-2.5e-7, "-2.5E-07"},
      {100.25, "100.25"},
      // Rounded up in 15 digits the largest doubles would leave the range
      // and never read back; they round down instead.
      {-1.7976931348623157e308, "-1.79769313486231E+308"},
      {1.7976931348623155e308, "1.79769313486231E+308"},
      {1.79769313486231e308, "1.79769313486231E+308"},
  };
  for (auto [in, out] : cases) {
    SCOPED_TRACE(out);
    EXPECT_EQ(Variant(in).ToText(), out);
    EXPECT_EQ(FormatNumber(in), out);
    double back = 0;
    ASSERT_TRUE(ParseNumber(out, back));
    EXPECT_TRUE(std::isfinite(back));
  }
  EXPECT_EQ(Variant(int16_t{-12}).ToText(), "-12");
  EXPECT_EQ(Variant(int32_t{2147483647}).ToText(), "2147483647");
}

TEST(NumberToText, TextBackToNumberGivesTheSameText) {
  for (double d : {1.1, 0.3, 12345.678, -98.76, 1e-5}) {
    SCOPED_TRACE(d);
    const std::string text = Variant(d).ToText();
    EXPECT_EQ(Variant(Variant(text).ToDouble()).ToText(), text);
  }
}

TEST(Dates, TextFormCarriesTheTimeOnlyWhenThereIsOne) {
  EXPECT_EQ(Variant(MakeDate(2024, 3, 5)).ToText(), "2024-03-05");
  EXPECT_EQ(Variant(MakeDate(2024, 3, 5, 13, 4, 9)).ToText(), "2024-03-05 13:04:09");
  EXPECT_EQ(Variant(MakeDate(1999, 12, 31, 23, 59, 59)).ToText(), "1999-12-31 23:59:59");
  EXPECT_EQ(Variant(MakeDate(1899, 12, 30)).ToText(), "1899-12-30");
  EXPECT_EQ(MakeDate(1899, 12, 30).serial, 0);
  EXPECT_EQ(MakeDate(1900, 1, 1).serial, 2);
  EXPECT_EQ(MakeDate(2000, 1, 1, 12).serial, 36526.5);
}

TEST(Dates, TextInDateFormConvertsBack) {
  EXPECT_EQ(Variant("2024-03-05").ToDate(), MakeDate(2024, 3, 5));
  EXPECT_EQ(Variant("2024/03/05").ToDate(), MakeDate(2024, 3, 5));
  EXPECT_EQ(Variant("2024-3-5").ToDate(), MakeDate(2024, 3, 5));
  EXPECT_EQ(Variant(" 2024/3/5 7:08:09 ").ToDate(), MakeDate(2024, 3, 5, 7, 8, 9));
  EXPECT_EQ(Variant("2024-02-29").ToDate(), MakeDate(2024, 2, 29));
  EXPECT_EQ(Variant("2000-02-29").ToDate(), MakeDate(2000, 2, 29));
  for (const DateValue d : {MakeDate(2031, 7, 14), MakeDate(2031, 7, 14, 0, 0, 1), MakeDate(1950, 1, 31, 23, 0, 0)})
    EXPECT_EQ(Variant(Variant(d).ToText()).ToDate(), d);
  const std::pair<const char*, DateValue> edges[] = {
      {"0100-01-01", MakeDate(100, 1, 1)},
      {"9999/12/31 23:59:59", MakeDate(9999, 12, 31, 23, 59, 59)},
      {"2024-03-05 1:2:3", MakeDate(2024, 3, 5, 1, 2, 3)},
      {"2024/3/05 00:00:00", MakeDate(2024, 3, 5)},
  };
  for (auto [text, date] : edges) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Variant(text).ToDate(), date);
  }
}

TEST(Dates, SerialsOutsideTheYears100To9999Overflow) {
  const double second = 1.0 / 86400;
  EXPECT_EQ(Variant(MakeDate(100, 1, 1)).ToText(), "0100-01-01");
  EXPECT_EQ(Variant(MakeDate(9999, 12, 31, 23, 59, 59)).ToText(), "9999-12-31 23:59:59");
  for (double serial : {1e15, 1e300, -1e300, MakeDate(99, 12, 31).serial, MakeDate(100, 1, 1).serial - second,
                        MakeDate(9999, 12, 31).serial + 1, MakeDate(9999, 12, 31, 23, 59, 59).serial + 0.9 * second,
                        std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
    SCOPED_TRACE(serial);
    EXPECT_EQ(Raised([&] { Variant(DateValue{serial}).ToText(); }), kOverflow);
    EXPECT_EQ(Raised([&] { FormatDate(DateValue{serial}); }), kOverflow);
  }
}

TEST(Dates, TextThatIsNoDateIsATypeMismatch) {
  for (const char* text : {"2023-02-29", "1900-02-29", "2024-13-01", "2024-04-31", "2024-00-10", "2024-03/05",
                           "2024.03.05", "2024-03-05 24:00:00", "2024-03-05 12:60:00", "2024-03-05T12:00:00",
                           "2024-03-05 12:00", "2024-03-05x", "today", "",
                           // Signs, inner blanks and short years: digits only, in their places.
                           "2023-+1-05", "2023- 1- 5", "-123-01-05", "+2024-03-05", "0-1-1", "999-01-01",
                           "0099-12-31", "2024-003-05", "2020-01-01 -1:00:00", "2024-03-05 12:00:+1",
                           "2024-03-05 001:00:00", "2020- 1- 1", "2024-03-0512:00:00", "2024-03-05  12:00:00",
                           "2024-03-05\t12:00:00", "2024-03-05 12:00:00 x"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Raised([&] { Variant(text).ToDate(); }), kTypeMismatch);
    DateValue d;
    EXPECT_FALSE(ParseDate(text, d));
  }
}

}  // namespace
}  // namespace morvent
