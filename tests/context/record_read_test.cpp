// Which key a failure was about: the entries a thread read last, and the
// search by value, in plain and packed records and through nested ones.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "context/record.h"
#include "platform/error.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

DataRecordPtr Packed(std::vector<std::pair<std::string, Variant>> entries) {
  std::vector<DataRecord::SharedEntry> shared;
  for (auto& [k, v] : entries) shared.emplace_back(SharedKey(k), v);
  auto r = NewRecord();
  r->Pack(shared);
  return r;
}

TEST(LastRead, NamesTheNewestEntryReadWithinTheRecord) {
  for (bool pack : {false, true}) {
    SCOPED_TRACE(pack ? "packed" : "plain");
    auto make = [pack](std::vector<std::pair<std::string, Variant>> e) { return pack ? Packed(e) : Rec(e); };
    auto currency = make({{"Name", "美元"}, {"ExchangeRate", "七"}});
    auto record = make({{"Number", "1001"}, {"Amount", "七"}, {"Currency", currency}});
    auto other = make({{"Amount", "1"}});
    std::string path;
    Variant value;

    ForgetLastRead();
    EXPECT_FALSE(LastReadWithin(*record, path, value));
    record->GetValue("Amount", Variant());
    other->Value("Amount");  // a read elsewhere in between does not hide it
    ASSERT_TRUE(LastReadWithin(*record, path, value));
    EXPECT_EQ(path, "Amount");
    EXPECT_EQ(value.ToText(), "七");

    currency->Value("ExchangeRate");
    ASSERT_TRUE(LastReadWithin(*record, path, value));
    EXPECT_EQ(path, "Currency/ExchangeRate");
    // Only an entry whose value agrees counts.
    ASSERT_TRUE(LastReadWithin(*record, path, value, [](const Variant& v) { return v.IsText() && v.RawText() == "七"; }));
    EXPECT_EQ(path, "Currency/ExchangeRate");
    record->Value("Number");
    ASSERT_TRUE(LastReadWithin(*record, path, value, [](const Variant& v) { return v.IsText() && v.RawText() == "七"; }));
    EXPECT_EQ(path, "Currency/ExchangeRate");
    // An absent key is no read; a record outside says nothing.
    record->GetValue("Missing", Variant());
    EXPECT_FALSE(LastReadWithin(*other, path, value, [](const Variant& v) { return v.IsText() && v.RawText() == "七"; }));
  }
}

TEST(FindValuePath, FindsTheFirstHolderOwnKeysFirst) {
  const std::string longText(150, 'y');
  auto items = std::make_shared<RecordCollection>();
  items->Add(Rec({{"Name", "客户"}, {"Number", "009"}}));
  auto record = Rec({{"Sub", Rec({{"A", "x"}})}, {"Note", Variant::Null()}, {"B", "x"}, {"Long", longText},
                     {"ItemClass", items}});
  struct Case {
    std::string text;
    bool null;
    std::string path;
  };
  const std::vector<Case> cases = {
      {"x", false, "B"},                        // before the nested record's
      {"009", false, "ItemClass/Number"},       // within a nested collection
      {std::string(100, 'y'), false, "Long"},   // a value cut as an error keeps it
      {std::string(20, 'y'), false, ""},        // but a short text must be whole
      {"", true, "Note"},
      {"nothing", false, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FindValuePath(*record, c.text, c.null), c.path) << c.text;
}

TEST(EntriesByPosition, ReadAPackedRecordWithoutUnpackingIt) {
  auto r = Packed({{"Name", "一个很长很长很长的名字"}, {"Sub", Rec({{"A", 1}})}, {"N", Variant::Null()}});
  ASSERT_EQ(r->Size(), 3u);
  EXPECT_EQ(r->KeyAt(1), "Sub");
  EXPECT_TRUE(r->ObjectAt(1));
  EXPECT_FALSE(r->ObjectAt(0));
  EXPECT_FALSE(r->ObjectAt(9));
  EXPECT_EQ(r->ValueAt(0).ToText(), "一个很长很长很长的名字");
  EXPECT_TRUE(r->ValueAt(2).IsNull());
  EXPECT_EQ(ErrorOf([&] { r->KeyAt(3); }), "下标越界");
}

TEST(ErrorDetailLine, SaysWhatTheValueShouldHaveBeen) {
  struct Case {
    Error error;
    std::string line;
  };
  const std::vector<Case> cases = {
      {Error(13, "M", "类型不匹配").About("5万", Expected::Number), "值“5万”不是数字"},
      {Error(13, "M", "类型不匹配").About("明天", Expected::Date), "值“明天”不是日期"},
      {Error(13, "M", "类型不匹配").About("是", Expected::Flag), "值“是”不是 0 或 1"},
      {Error(6, "M", "溢出").About("1e999", Expected::InRange), "值“1e999”超出了允许的范围"},
      {Error(94, "M", "无效使用 Null").AboutNull(Expected::Number), "值为 Null，应为数字"},
      {Error(1, "M", "x").About(std::string(120, 'z'), Expected::Object, "币别"), "值“" + std::string(100, 'z') + "”不是已有的币别"},
  };
  for (const auto& c : cases) {
    ASSERT_NE(c.error.Detail(), nullptr);
    EXPECT_EQ(c.error.Detail()->Line(), c.line);
    ErrorDetail keyed = *c.error.Detail();
    keyed.key = "K";
    EXPECT_EQ(keyed.Line(), "键 K 的" + c.line);
    // Context added where it is caught keeps the detail.
    EXPECT_EQ(c.error.WithContext("前缀").Detail()->Line(), c.line);
  }
  EXPECT_EQ(Error(13, "M", "类型不匹配").Detail(), nullptr);
}

TEST(ErrorDetailLine, ConversionsSayTheirValue) {
  struct Case {
    Variant value;
    std::function<void(const Variant&)> convert;
    std::string line;
  };
  const std::vector<Case> cases = {
      {Variant("5万"), [](const Variant& v) { v.ToDouble(); }, "值“5万”不是数字"},
      {Variant("3000000000"), [](const Variant& v) { v.ToLong(); }, "值“3000000000”超出了允许的范围"},
      {Variant("2024-13-01"), [](const Variant& v) { v.ToDate(); }, "值“2024-13-01”不是日期"},
      {Variant("maybe"), [](const Variant& v) { v.ToBool(); }, "值“maybe”不是 0 或 1"},
      {Variant("是"), [](const Variant& v) { VarEquals(v, Variant(int32_t{1})); }, "值“是”不是 0 或 1"},
      {Variant("是"), [](const Variant& v) { VarEquals(v, Variant(int32_t{2})); }, "值“是”不是数字"},
      {Variant::Null(), [](const Variant& v) { v.ToText(); }, "值为 Null，应为文本"},
  };
  for (const auto& c : cases) {
    try {
      c.convert(c.value);
      ADD_FAILURE() << c.line;
    } catch (const Error& e) {
      ASSERT_NE(e.Detail(), nullptr) << c.line;
      EXPECT_EQ(e.Detail()->Line(), c.line);
    }
  }
}

}  // namespace
}  // namespace morvent::test
