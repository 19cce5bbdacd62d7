// The property string parser and the per-thread connection context.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "context/props.h"
#include "platform/error.h"

namespace morvent {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs Parse(const std::string& props) {
  auto table = ParsePropertyString(props);
  return Pairs(table.begin(), table.end());
}

TEST(SplitFirst, TakesThePieceBeforeTheFirstSeparator) {
  std::string text = "a=b=c";
  EXPECT_EQ(SplitFirst(text, "="), "a");
  EXPECT_EQ(text, "b=c");

  text = "no separator";
  EXPECT_EQ(SplitFirst(text, ";"), "no separator");
  EXPECT_EQ(text, "");

  text = "";
  EXPECT_EQ(SplitFirst(text, ";"), "");
  EXPECT_EQ(text, "");

  text = "x;";
  EXPECT_EQ(SplitFirst(text, ";"), "x");
  EXPECT_EQ(text, "");

  text = "left<->right<->end";
  EXPECT_EQ(SplitFirst(text, "<->"), "left");
  EXPECT_EQ(text, "right<->end");
}

TEST(NextValue, BracesProtectSemicolonsUpToTheFirstClosingBrace) {
  std::string text = "  {Provider=x;Data Source=y} junk ; rest=1";
  EXPECT_EQ(NextValue(text), "Provider=x;Data Source=y");
  EXPECT_EQ(text, " rest=1");

  text = "{a{b}c};d=1";  // braces do not nest
  EXPECT_EQ(NextValue(text), "a{b");
  EXPECT_EQ(text, "d=1");

  text = " plain value ;next";
  EXPECT_EQ(NextValue(text), "plain value");
  EXPECT_EQ(text, "next");
}

TEST(ParseProps, BlanksAroundKeysAndValuesAreTrimmed) {
  EXPECT_EQ(Parse("Server=a; DB=b"), (Pairs{{"DB", "b"}, {"Server", "a"}}));
  EXPECT_EQ(Parse("  Server  =  a b  ;DB= b"), (Pairs{{"DB", "b"}, {"Server", "a b"}}));
}

TEST(ParseProps, ABracedValueKeepsItsSemicolonsAndEqualsSigns) {
  ASSERT_TRUE(ParseProps("ConnectString={Provider=x;Data Source=y};AcctType=gy"));
  EXPECT_EQ(GetProp("ConnectString"), "Provider=x;Data Source=y");
  EXPECT_EQ(GetProp("AcctType"), "gy");
  EXPECT_TRUE(IsAcctTypeGY());
}

TEST(ParseProps, ATrailingSemicolonChangesNothing) {
  EXPECT_EQ(Parse("a=1;"), Parse("a=1"));
  EXPECT_EQ(Parse("a=1;"), (Pairs{{"a", "1"}}));
}

TEST(ParseProps, AKeyWithoutEqualsSign) {
  EXPECT_EQ(Parse("flag"), (Pairs{{"flag", ""}}));
  EXPECT_EQ(Parse("a=1;flag"), (Pairs{{"a", "1"}, {"flag", ""}}));
  EXPECT_EQ(Parse("flag;b=2"), (Pairs{{"flag;b", "2"}}));
}

TEST(ParseProps, TwoSemicolonsInARowMakeNoEmptyPair) {
  EXPECT_EQ(Parse("a=1;;b=2"), (Pairs{{";b", "2"}, {"a", "1"}}));
}

TEST(ParseProps, TextBetweenClosingBraceAndSemicolonIsDropped) {
  EXPECT_EQ(Parse("a={x}junk;b=2"), (Pairs{{"a", "x"}, {"b", "2"}}));
}

TEST(ParseProps, AMissingClosingBraceRunsToTheEnd) {
  EXPECT_EQ(Parse("a={x;b=2"), (Pairs{{"a", "x;b=2"}}));
}

TEST(ParseProps, AnEqualsSignInsideAnUnbracedValueStays) {
  EXPECT_EQ(Parse("a=b=c"), (Pairs{{"a", "b=c"}}));
}

TEST(ParseProps, APairBeginningWithEqualsEndsTheParse) {
  EXPECT_EQ(Parse("=x;b=2"), Pairs{});
  EXPECT_EQ(Parse("a=1; =x;b=2"), (Pairs{{"a", "1"}}));
}

TEST(ParseProps, AnEmptyStringGivesAnEmptyTable) {
  ASSERT_TRUE(ParseProps("a=1"));
  EXPECT_TRUE(ParseProps(""));
  EXPECT_TRUE(Context().props.empty());
}

TEST(ParseProps, KeysDifferingOnlyInCaseAreDuplicates) {
  try {
    ParseProps("x=0;A=1;a=2;y=3");
    FAIL() << "duplicate accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), kErrKeyExists);
    EXPECT_EQ(e.Description(), "该关键字已经与该集合的一个元素相关联：a");
  }
  // The pairs before the duplicate stay; those after it were never read.
  EXPECT_EQ(GetProp("x"), "0");
  EXPECT_EQ(GetProp("A"), "1");
  EXPECT_EQ(Context().props.size(), 2u);
  EXPECT_THROW(ParsePropertyString("k=1;K=2"), Error);
}

TEST(ParseProps, ANewParseReplacesTheTable) {
  ParseProps("a=1;b=2");
  ParseProps("c=3");
  EXPECT_EQ(Context().props.size(), 1u);
  EXPECT_THROW(GetProp("a"), Error);
}

TEST(ParseProps, TheArgumentIsLeftUnchanged) {
  const std::string props = "a={1;2};b=3";
  std::string copy = props;
  ParseProps(copy);
  EXPECT_EQ(copy, props);
}

TEST(ParsePropertyString, LeavesTheThreadsTableAlone) {
  ParseProps("mine=1");
  auto other = ParsePropertyString("Data Source=ledger.db");
  EXPECT_EQ(other.at("data source"), "ledger.db");
  EXPECT_EQ(GetProp("mine"), "1");
}

TEST(GetProp, KeysMatchWithoutRegardToCase) {
  ParseProps("Data Source=l.db");
  EXPECT_EQ(GetProp("DATA SOURCE"), "l.db");
  EXPECT_EQ(GetProp("data source"), "l.db");
}

TEST(GetProp, AMissingKeyIsAnError) {
  ParseProps("a=1");
  try {
    GetProp("AcctType");
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), kErrKeyMissing);
    EXPECT_EQ(e.Description(), "属性串中没有关键字：AcctType");
  }
}

TEST(IsAcctTypeGY, AnyCaseAndBlanksAroundTheValue) {
  for (const char* props : {"AcctType=gy", "AcctType=Gy", "ACCTTYPE=gY", "accttype=GY", "AcctType=  gy  ;x=1",
                            "AcctType={ GY }"}) {
    SCOPED_TRACE(props);
    ParseProps(props);
    EXPECT_TRUE(IsAcctTypeGY());
  }
  for (const char* props : {"AcctType=", "AcctType=GYX", "AcctType=G Y", "AcctType=qy"}) {
    SCOPED_TRACE(props);
    ParseProps(props);
    EXPECT_FALSE(IsAcctTypeGY());
  }
}

TEST(IsAcctTypeGY, WithoutTheKeyItFails) {
  ParseProps("Data Source=l.db");
  try {
    IsAcctTypeGY();
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Description(), "属性串中没有关键字：AcctType");
  }
}

// Whatever a client's value is, the string built from it names exactly that
// value or is refused: a path must never turn into another file's.
TEST(PropertyValue, ReadsBackExactlyOrIsRefused) {
  const struct {
    std::string value, written;
  } carried[] = {
      {"l.db", "l.db"},
      {"", ""},
      {"a;b.db", "{a;b.db}"},
      {"{x.db", "{{x.db}"},
      {"a}b.db", "a}b.db"},
      {"x=y.db", "x=y.db"},
      {"in the middle.db", "in the middle.db"},
      {"\ttab.db\t", "\ttab.db\t"},
      {"Data Source=decoy", "Data Source=decoy"},
      {"l.db;Data Source=decoy", "{l.db;Data Source=decoy}"},
      {"账套 ;2024.db", "{账套 ;2024.db}"},
  };
  for (const auto& c : carried) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(PropertyValue(c.value), c.written);
    const std::string props = LedgerPropertyString(c.value, "GY");
    EXPECT_EQ(Parse(props), (Pairs{{"AcctType", "GY"}, {"Data Source", c.value}})) << props;
  }
  const struct {
    std::string value, why;
  } refused[] = {
      {"{x}.db", "以 { 开头又含有 }"},
      {"{decoy}", "以 { 开头又含有 }"},
      {"a;b}.db", "含有 ; 又含有 }"},
      {" x.db", "首尾有空格，读取时会被去掉"},
      {"x.db ", "首尾有空格，读取时会被去掉"},
      {" ", "首尾有空格，读取时会被去掉"},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.value);
    try {
      LedgerPropertyString(r.value);
      ADD_FAILURE() << "carried";
    } catch (const Error& e) {
      EXPECT_EQ(e.Number(), kErrInvalidCall);
      EXPECT_EQ(e.Description(), "属性串无法原样容纳这个值（" + r.why + "）：「" + r.value + "」");
    }
  }
  EXPECT_EQ(LedgerPropertyString("l.db"), "Data Source=l.db");
}

TEST(ConnectionContext, EachThreadHasItsOwn) {
  ParseProps("AcctType=GY;Data Source=main.db");
  Context().gPropsString = "AcctType=GY;Data Source=main.db";
  Context().gImpStyle = 2;
  Context().gCodingStyle = 2;

  bool startedEmpty = false, ownValuesKept = false;
  std::thread other([&] {
    auto& ctx = Context();
    startedEmpty = ctx.props.empty() && ctx.gPropsString.empty() && ctx.gImpStyle == 0 && ctx.gCodingStyle == 0;
    ParseProps("AcctType=QY");
    ctx.gPropsString = "AcctType=QY";
    ctx.gImpStyle = 1;
    ctx.gCodingStyle = 1;
    ownValuesKept = !IsAcctTypeGY() && Context().gImpStyle == 1;
  });
  other.join();

  EXPECT_TRUE(startedEmpty);
  EXPECT_TRUE(ownValuesKept);
  EXPECT_TRUE(IsAcctTypeGY());
  EXPECT_EQ(GetProp("Data Source"), "main.db");
  EXPECT_EQ(Context().gPropsString, "AcctType=GY;Data Source=main.db");
  EXPECT_EQ(Context().gImpStyle, 2);
  EXPECT_EQ(Context().gCodingStyle, 2);
}

}  // namespace
}  // namespace morvent
