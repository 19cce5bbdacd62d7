// Data records and record collections: what every handler builds for the
// writer and walks after the reader.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "context/glfunc.h"
#include "context/record.h"
#include "platform/error.h"

namespace morvent {
namespace {

std::vector<std::string> Keys(const DataRecord& r) {
  std::vector<std::string> keys;
  for (const auto& [k, v] : r.Entries()) keys.push_back(k);
  return keys;
}

TEST(DataRecord, KeysKeepTheOrderOfTheirFirstWrite) {
  DataRecord r;
  r.SetValue("Number", "1001");
  r.SetValue("Name", "现金");
  r.SetValue("Parent", NewRecord());
  r.SetValue("Name", "库存现金");  // rewriting keeps the place
  EXPECT_EQ(Keys(r), (std::vector<std::string>{"Number", "Name", "Parent"}));
  EXPECT_EQ(r.Count(), 3u);
  EXPECT_EQ(r.Value("Name").ToText(), "库存现金");
}

TEST(DataRecord, AnAbsentKeyReadsEmptyOrTheDefault) {
  DataRecord r;
  r.SetValue("Kept", Variant::Null());
  EXPECT_TRUE(r.Value("Missing").IsEmpty());
  EXPECT_TRUE(r.GetValue("Missing").IsEmpty());
  EXPECT_EQ(r.GetValue("Missing", int32_t{1}).ToLong(), 1);
  EXPECT_EQ(r.GetValue("Missing", "默认").ToText(), "默认");
  EXPECT_TRUE(r.GetValue("Kept", "默认").IsNull());  // a stored Null is not absent
  EXPECT_TRUE(r.Has("Kept"));
  EXPECT_FALSE(r.Has("Missing"));
  EXPECT_FALSE(r.Has("kept"));  // keys are exact
}

TEST(DataRecord, ValuesKeepTheirType) {
  DataRecord r;
  r.SetValue("Code", "007");
  r.SetValue("Rate", 6.5);
  r.SetValue("Flag", true);
  EXPECT_TRUE(r.Value("Code").IsText());
  EXPECT_EQ(r.Value("Code").ToText(), "007");
  EXPECT_EQ(r.Value("Rate").ToDouble(), 6.5);
  EXPECT_TRUE(r.Value("Flag").ToBool());
}

TEST(DataRecord, NestedRecordsAndCollections) {
  auto parent = NewRecord();
  parent->SetValue("Number", "1");
  auto classes = std::make_shared<RecordCollection>();
  DataRecord r;
  r.SetValue("Parent", parent);
  r.SetValue("ItemClasses", classes);
  r.SetValue("Name", "x");
  EXPECT_EQ(r.Record("Parent"), parent);
  EXPECT_EQ(r.Value("ItemClasses").As<RecordCollection>(), classes);
  EXPECT_EQ(r.Record("Name"), nullptr);
  EXPECT_EQ(r.Record("Missing"), nullptr);
  EXPECT_EQ(r.Record("ItemClasses"), nullptr);
}

TEST(DataRecord, ARecordMadeInMemoryIsOnRowZero) {
  EXPECT_EQ(NewRecord()->FileRow(), 0);
  DataRecord r;
  r.SetFileRow(12);
  EXPECT_EQ(r.FileRow(), 12);
}

TEST(DataRecord, ServesAsAnOptionDictionary) {
  DataRecord options;
  options.SetValue("ImpStyle", int32_t{2});
  const OptionDictionary& dict = options;
  EXPECT_EQ(dict.GetValue("ImpStyle", int32_t{1}).ToLong(), 2);
  EXPECT_EQ(dict.GetValue("CodingStyle", int32_t{1}).ToLong(), 1);
}

TEST(NullToDefault, OnlyNullIsReplaced) {
  EXPECT_EQ(NullToDefault(Variant::Null(), "").ToText(), "");
  EXPECT_EQ(NullToDefault(Variant::Null(), int32_t{0}).ToLong(), 0);
  EXPECT_EQ(NullToDefault(Variant("x"), "").ToText(), "x");
  EXPECT_EQ(NullToDefault(Variant(int32_t{0}), int32_t{5}).ToLong(), 0);
  EXPECT_TRUE(NullToDefault(Variant(), "d").IsEmpty());  // absent is answered as it is
}

// Records the reader packs must answer exactly as records built by SetValue,
// before and after a write or an Entries() call turns them plain again.
TEST(DataRecord, PackedRecordsAnswerAsPlainOnes) {
  auto nested = NewRecord();
  const std::vector<std::pair<const char*, Variant>> values = {
      {"Short", "研发小组001"},          // 15 bytes: the most held in place
      {"Long", "研发小组0001"},          // 16 bytes: held apart
      {"Blank", ""},
      {"Nil", Variant::Null()},
      {"Absent", Variant()},
      {"Rate", 6.5},
      {"Parent", nested},
  };
  DataRecord plain;
  std::vector<DataRecord::SharedEntry> gathered;
  for (const auto& [k, v] : values) {
    plain.SetValue(k, v);
    gathered.emplace_back(SharedKey(std::string(k)), v);
  }
  DataRecord packed;
  packed.SetValue("Dropped", "x");  // packing replaces what was there
  packed.Pack(gathered);
  EXPECT_TRUE(gathered.empty());
  EXPECT_EQ(SharedKey("Short"), SharedKey(std::string("Sho") + "rt"));

  const DataRecord copy = packed;
  for (const DataRecord* r : {static_cast<const DataRecord*>(&packed), &copy})
    for (const auto& [k, v] : values) {
      SCOPED_TRACE(k);
      EXPECT_TRUE(r->Has(k));
      EXPECT_EQ(r->Value(k).Type(), v.Type());
      EXPECT_EQ(r->GetValue(k, "默认").Type(), v.Type());
      if (v.IsText() || v.IsNumber()) EXPECT_EQ(r->Value(k).ToText(), v.ToText());
    }
  EXPECT_EQ(packed.Record("Parent"), nested);
  EXPECT_FALSE(packed.Has("Dropped"));
  EXPECT_FALSE(packed.Has("short"));
  EXPECT_EQ(packed.GetValue("Missing", "默认").ToText(), "默认");

  packed.SetValue("Short", "改");  // a write keeps every place
  packed.SetValue("Added", "新");
  std::vector<std::string> keys = Keys(plain);
  keys.push_back("Added");
  EXPECT_EQ(Keys(packed), keys);
  EXPECT_EQ(Keys(copy), Keys(plain));
  EXPECT_EQ(packed.Value("Short").ToText(), "改");
  EXPECT_EQ(packed.Value("Long").ToText(), "研发小组0001");

  DataRecord single;  // one entry, held in the record itself; packed again
  for (const char* v : {"一", "二"}) {
    std::vector<DataRecord::SharedEntry> one{{SharedKey("Number"), Variant(v)}};
    single.Pack(one);
  }
  EXPECT_EQ(single.Value("Number").ToText(), "二");
  EXPECT_EQ(Keys(single), std::vector<std::string>{"Number"});
}

RecordCollection Numbered(int n) {
  RecordCollection c;
  for (int i = 1; i <= n; ++i) {
    auto r = NewRecord();
    r->SetValue("Number", std::to_string(i));
    c.Add(r);
  }
  return c;
}

std::string Subscript(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return std::to_string(e.Number()) + " " + e.Description();
  }
  return "";
}

TEST(RecordCollection, IndexesRunFromOneToTheCount) {
  RecordCollection empty;
  EXPECT_EQ(empty.LBound(), 1);
  EXPECT_EQ(empty.UBound(), 0);

  auto c = Numbered(3);
  EXPECT_EQ(c.LBound(), 1);
  EXPECT_EQ(c.UBound(), 3);
  std::vector<std::string> walked;
  for (int32_t i = c.LBound(); i <= c.UBound(); ++i) walked.push_back(c.Item(i)->Value("Number").ToText());
  EXPECT_EQ(walked, (std::vector<std::string>{"1", "2", "3"}));
}

TEST(RecordCollection, AnIndexOutsideTheRangeIsAnError) {
  auto c = Numbered(2);
  RecordCollection empty;
  EXPECT_EQ(Subscript([&] { c.Item(0); }), "9 下标越界");
  EXPECT_EQ(Subscript([&] { c.Item(3); }), "9 下标越界");
  EXPECT_EQ(Subscript([&] { c.Item(-1); }), "9 下标越界");
  EXPECT_EQ(Subscript([&] { empty.Item(1); }), "9 下标越界");
  EXPECT_EQ(Subscript([&] { c.SetItem(0, NewRecord()); }), "9 下标越界");
  EXPECT_EQ(Subscript([&] { c.SetItem(3, NewRecord()); }), "9 下标越界");
  EXPECT_EQ(c.UBound(), 2);
}

TEST(RecordCollection, ReplacingAnItemKeepsCountAndIndexes) {
  auto c = Numbered(3);
  auto mark = MakeImportedMark("2");
  c.SetItem(2, mark);
  EXPECT_EQ(c.UBound(), 3);
  EXPECT_EQ(c.Item(2), mark);
  EXPECT_EQ(c.Item(1)->Value("Number").ToText(), "1");
  EXPECT_EQ(c.Item(3)->Value("Number").ToText(), "3");
}

TEST(RecordCollection, AddingNothingIsRefused) {
  RecordCollection c;
  EXPECT_EQ(Subscript([&] { c.Add(nullptr); }), "91 对象变量未设置");
  EXPECT_EQ(c.UBound(), 0);
}

TEST(MakeImportedMark, AMarkIsAnImportedNumberOnRowZero) {
  auto mark = MakeImportedMark("01.002");
  EXPECT_TRUE(mark->GetValue("IsImported", false).ToBool());
  EXPECT_EQ(mark->Value("Number").ToText(), "01.002");
  EXPECT_TRUE(mark->Value("Number").IsText());
  EXPECT_EQ(mark->FileRow(), 0);
  EXPECT_EQ(Keys(*mark), (std::vector<std::string>{"Number", "IsImported"}));
  // An ordinary record is not one.
  EXPECT_FALSE(NewRecord()->GetValue("IsImported", false).ToBool());
}

}  // namespace
}  // namespace morvent
