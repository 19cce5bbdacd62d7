// An item's fields in one text: every value reads back exactly, from our
// own writer and from JSON other writers may leave; SQL reads the same
// values through the view t_ItemValue as it read the table of version 1.
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "store/item_values.h"
#include "store/ledger_store.h"
#include "tests/support/ledger_fixture.h"

namespace morvent::test {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Type and exact contents: a double by its bits (so -0.0 is not 0.0).
std::string Exact(const Variant& v) {
  switch (v.Type()) {
    case VarType::Long: return "L" + std::to_string(v.ToLong());
    case VarType::Double: {
      const double d = v.ToDouble();
      uint64_t bits;
      std::memcpy(&bits, &d, sizeof bits);
      return "D" + std::to_string(bits);
    }
    case VarType::String: return "S" + v.RawText();
    default: return "?" + std::to_string(static_cast<int>(v.Type()));
  }
}

std::vector<std::pair<std::string, std::string>> Read(const std::string& json, bool* ok = nullptr) {
  std::vector<std::pair<std::string, std::string>> got;
  const bool read = ReadItemValues(json, [&](std::string_view f, Variant&& v) { got.emplace_back(f, Exact(v)); });
  if (ok) *ok = read;
  return got;
}

TEST(ItemValues, EveryStoredValueReadsBackAsItWasStored) {
  struct Case {
    const char* what;
    Variant stored;
    Variant read;  // what the ledger reads back
  };
  const Case cases[] = {
      {"empty text", Variant(""), Variant("")},
      {"blank text", Variant(" "), Variant(" ")},
      {"quotes and backslashes", Variant("\"引号\" \\ {\"a\":1}"), Variant("\"引号\" \\ {\"a\":1}")},
      {"controls", Variant(std::string("a\x01\n\t\r\b\f\x1f" "b")), Variant(std::string("a\x01\n\t\r\b\f\x1f" "b"))},
      {"a NUL", Variant(std::string("a\0b", 3)), Variant(std::string("a\0b", 3))},
      {"bytes that are no UTF-8", Variant(std::string("\xff\xfe\x80")), Variant(std::string("\xff\xfe\x80"))},
      {"four-byte UTF-8", Variant("😀"), Variant("😀")},
      {"texts that look like other values", Variant("null"), Variant("null")},
      {"a number as text", Variant("007"), Variant("007")},
      {"zero", Variant(0), Variant(0)},
      {"smallest Long", Variant(std::numeric_limits<int32_t>::min()), Variant(std::numeric_limits<int32_t>::min())},
      {"largest Long", Variant(std::numeric_limits<int32_t>::max()), Variant(std::numeric_limits<int32_t>::max())},
      {"Integer", Variant(int16_t{-7}), Variant(-7)},
      {"true", Variant(true), Variant(1)},
      {"false", Variant(false), Variant(0)},
      {"a whole double", Variant(5.0), Variant(5.0)},
      {"a double of seventeen digits", Variant(0.1 + 0.2), Variant(0.1 + 0.2)},
      {"minus zero", Variant(-0.0), Variant(-0.0)},
      {"small", Variant(1e-7), Variant(1e-7)},
      {"the smallest double", Variant(5e-324), Variant(5e-324)},
      {"the largest double", Variant(std::numeric_limits<double>::max()), Variant(std::numeric_limits<double>::max())},
      {"past 32 bits", Variant(3e9), Variant(3e9)},
      {"infinity", Variant(kInf), Variant(kInf)},
      {"minus infinity", Variant(-kInf), Variant(-kInf)},
      {"a date", Variant(DateValue{45000.5}), Variant(45000.5)},
      {"date zero", Variant(DateValue{0}), Variant(0.0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ItemValuesWriter w;
    w.Add("F\"x\\", c.stored);
    w.Add("FNext", Variant(1));
    bool ok = false;
    const auto got = Read(w.Take(), &ok);
    EXPECT_TRUE(ok);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].first, "F\"x\\");
    EXPECT_EQ(got[0].second, Exact(c.read));
  }
  // No value, no member.
  ItemValuesWriter none;
  for (const Variant& v : {Variant(), Variant::Null(), Variant(std::nan(""))}) none.Add("F", v);
  EXPECT_TRUE(none.Empty());
  EXPECT_EQ(none.Take(), "{}");
  EXPECT_EQ(Read("{}").size(), 0u);
}

TEST(ItemValues, JsonOfOtherWritersReadsAsTheLedgerReadsAColumn) {
  struct Case {
    const char* json;
    std::vector<std::pair<std::string, std::string>> read;  // empty with ok false: refused
    bool ok = true;
  };
  const Case cases[] = {
      {" { \"a\" : 1 ,\n\"b\":\t\"x\" } ", {{"a", "L1"}, {"b", "Sx"}}},
      {R"({"e":"\u00e9\/\ud83d\ude00"})", {{"e", "Sé/😀"}}},
      {R"({"t":true,"f":false,"n":null})", {{"t", "L1"}, {"f", "L0"}}},
      {R"({"big":9007199254740993})", {{"big", Exact(Variant(9007199254740993.0))}}},
      {R"({"huge":123456789012345678901234567890})", {{"huge", Exact(Variant(1.2345678901234568e29))}}},
      {R"({"r":1E2,"s":-2.5e-3})", {{"r", Exact(Variant(100.0))}, {"s", Exact(Variant(-0.0025))}}},
      {R"({"inf":9e999,"tiny":1e-999,"minus":-1e-999})",
       {{"inf", Exact(Variant(kInf))}, {"tiny", Exact(Variant(0.0))}, {"minus", Exact(Variant(-0.0))}}},
      {"", {}, false},
      {"[]", {}, false},
      {R"({"a":1)", {}, false},
      {R"({"a":1,})", {}, false},
      {R"({"a" 1})", {}, false},
      {R"({"a":"x)", {}, false},
      {R"({"a":"\q"})", {}, false},
      {R"({"a":"\u12"})", {}, false},
      {R"({"a":tru})", {}, false},
      {R"({"a":1.5.5})", {}, false},
      {R"({"a":1} x)", {}, false},
      {R"({a:1})", {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    bool ok = false;
    const auto got = Read(c.json, &ok);
    EXPECT_EQ(ok, c.ok);
    if (c.ok) EXPECT_EQ(got, c.read);
  }
}

using ItemValuesViewTest = LedgerTest;

// The view answers what the table of version 1 held: a row per field with a
// value, typed as the value was stored; cleared fields have no row.
TEST_F(ItemValuesViewTest, SqlReadsEveryFieldRowAsTheOldTableHeldIt) {
  auto item = Set("Corabin.ItemSet")->CreateNew({Variant(int16_t{10}), Variant(0)}, {{"Number", Variant("01")}});
  item->Let("Name", Variant("华北分公司"));
  item->SetProperties("FInvestAmt", Variant(3e9));
  item->SetProperties("FInvestRate", Variant(0.1 + 0.2));
  item->SetProperties("FLevel", Variant(2));
  item->SetProperties("FDetail", Variant(true));
  item->SetProperties("FBadDebtsRate", Variant(5.0));
  item->SaveChanges();
  auto employee = Set("Corabin.ItemSet")->CreateNew({Variant(int16_t{3}), Variant(0)}, {{"Number", Variant("01")}});
  employee->SetProperties("FNote", Variant("\"引号\"\n"));
  employee->SetProperties("FBirthday", Variant("1968-05-12"));
  employee->SetProperties("FPhone", Variant(""));
  employee->SaveChanges();
  employee->SetProperties("FPhone", Variant::Null());
  employee->SaveChanges();

  auto store = LedgerStore::ForProps(props);
  auto q = store->Prepare(
      "SELECT i.FNumber, v.FField, typeof(v.FValue), v.FValue FROM t_Item i JOIN t_ItemValue v USING (FItemID) "
      "ORDER BY i.FItemClassID, v.FField");
  std::vector<std::string> rows;
  while (q.Next()) rows.push_back(q.Text(1) + " " + q.Text(2) + " " + Exact(q.Get(3)));
  const std::vector<std::string> expected = {
      "FBirthday real " + Exact(Variant(24970.0)),
      "FNote text S\"引号\"\n",
      "FBadDebtsRate integer L5",  // a whole number is kept as a Long
      "FDetail integer L1",
      "FInvestAmt real " + Exact(Variant(3e9)),
      "FInvestRate real " + Exact(Variant(0.1 + 0.2)),
      "FLevel integer L2",
  };
  EXPECT_EQ(rows, expected);
}

}  // namespace
}  // namespace morvent::test
