// A file written by the writer reads back as the same records.
#include <gtest/gtest.h>

#include "tests/datafile/helpers.h"

namespace morvent::test {
namespace {

class RoundTrip : public ::testing::Test {
 protected:
  RecordCollectionPtr WriteAndRead(const RecordCollectionPtr& in, const std::string& element) {
    std::string file = dir.file(element + ".xml");
    WriteWithComponent(in, file, element, SourceSchemaDir());
    RecordCollectionPtr out = std::make_shared<RecordCollection>();
    std::string error = ReadWithComponent(out, file, element, SourceSchemaDir());
    EXPECT_EQ(error, "");
    EXPECT_EQ(ValidateWithLibxml(file, SourceSchemaDir() + "/Schema" + element + ".xml"), "");
    return out;
  }
  TempDir dir;
};

TEST_F(RoundTrip, NestedRecordsAndCollectionsComeBackAsObjects) {
  auto in = List({
      Rec({{"Number", "1001"},
           {"Name", "库存现金"},
           {"Currency", Rec({{"Name", "人民币"}, {"Number", "RMB"}, {"ExchangeRate", 1.0}, {"Operator", "*"}, {"Scale", 2}})},
           {"GroupName", Rec({})},
           {"MeasureUnit", Rec({{"Name", "个"}, {"MeasureUnitGroup", Rec({{"Name", "数量组"}, {"Number", "3"}})}})},
           {"ItemClass", List({Rec({{"Name", "客户"}, {"Number", "001"}}), Rec({{"Name", "部门"}, {"Number", "002"}})})}}),
      Rec({{"Number", "1002"}, {"ItemClass", List({})}, {"ParentAcct", "1"}}),
  });
  auto out = WriteAndRead(in, "Account");
  ASSERT_EQ(out->UBound(), 2);
  EXPECT_EQ(Describe(*out), Describe(*in));

  auto first = out->Item(1);
  ASSERT_NE(first->Record("GroupName"), nullptr);  // a keyless record is still a record
  EXPECT_EQ(first->Record("GroupName")->Count(), 0u);
  auto classes = first->Value("ItemClass").As<RecordCollection>();
  ASSERT_NE(classes, nullptr);
  EXPECT_EQ(classes->UBound(), 2);
  EXPECT_EQ(classes->Item(2)->Value("Name").ToText(), "部门");
  auto empty = out->Item(2)->Value("ItemClass").As<RecordCollection>();
  ASSERT_NE(empty, nullptr);  // an empty collection is not an empty text
  EXPECT_EQ(empty->UBound(), 0);
  EXPECT_EQ(out->Item(1)->Record("MeasureUnit")->Record("MeasureUnitGroup")->Value("Number").ToText(), "3");
}

TEST_F(RoundTrip, TextSurvivesExactly) {
  const std::string texts[] = {
      "  leading and trailing  ", "line1\r\nline2\rline3\n", "\ttab\t", "中文名称：上海分公司", "a & b < c > d \" ' ]]>",
      "", " ", "\r", "emoji \xF0\x9F\x98\x80 and \xEF\xBF\xBD",
  };
  RecordCollectionPtr in = std::make_shared<RecordCollection>();
  for (const auto& t : texts) in->Add(Rec({{"Name", t}, {"Number", t}}));
  auto out = WriteAndRead(in, "Currency");
  ASSERT_EQ(out->UBound(), static_cast<int32_t>(std::size(texts)));
  for (int32_t i = 1; i <= out->UBound(); ++i) {
    Variant name = out->Item(i)->Value("Name");
    ASSERT_TRUE(name.IsText()) << i;
    EXPECT_EQ(name.RawText(), texts[i - 1]) << i;
    EXPECT_EQ(out->Item(i)->Value("Number").RawText(), texts[i - 1]) << i;
  }
}

TEST_F(RoundTrip, CarriageReturnIsWrittenAsCharacterReference) {
  std::string file = dir.file("cr.xml");
  WriteWithComponent(List({Rec({{"Name", "a\rb"}})}), file, "Settle", SourceSchemaDir());
  std::string raw = ReadFile(file);
  EXPECT_NE(raw.find("<Name>a&#13;b</Name>"), std::string::npos) << raw;
  EXPECT_EQ(raw.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u) << raw;
}

TEST_F(RoundTrip, NullEmptyTextAndMissingKeyStayDistinct) {
  auto in = List({Rec({{"Name", Variant::Null()}, {"Number", ""}, {"SettleCurrency", Variant::Null()}})});
  auto out = WriteAndRead(in, "Customer");
  auto r = out->Item(1);
  EXPECT_TRUE(r->Value("Name").IsNull());
  EXPECT_TRUE(r->Value("SettleCurrency").IsNull());
  ASSERT_TRUE(r->Value("Number").IsText());
  EXPECT_EQ(r->Value("Number").RawText(), "");
  EXPECT_TRUE(r->Value("Phone").IsEmpty());
  EXPECT_TRUE(r->GetValue("Phone").IsEmpty());
  EXPECT_EQ(r->GetValue("Phone", "x").ToText(), "x");
  EXPECT_EQ(r->Count(), 3u);
}

TEST_F(RoundTrip, PlainValuesAreWrittenAsTheirInvariantText) {
  auto in = List({Rec({{"Name", true}, {"Number", false}, {"ExchangeRate", 1234567.125}, {"Scale", int16_t{-3}},
                       {"Operator", int32_t{2147483647}}})});
  auto out = WriteAndRead(in, "Currency");
  auto r = out->Item(1);
  EXPECT_EQ(r->Value("Name").RawText(), "True");
  EXPECT_EQ(r->Value("Number").RawText(), "False");
  EXPECT_EQ(r->Value("ExchangeRate").RawText(), "1234567.125");
  EXPECT_EQ(r->Value("Scale").RawText(), "-3");
  EXPECT_EQ(r->Value("Operator").RawText(), "2147483647");
}

TEST_F(RoundTrip, EmptyCollectionWritesAnEmptyListAndReadsBackEmpty) {
  std::string file = dir.file("empty.xml");
  WriteWithComponent(std::make_shared<RecordCollection>(), file, "AccountType", SourceSchemaDir());
  EXPECT_NE(ReadFile(file).find("<AccountTypeList"), std::string::npos);
  auto out = List({Rec({{"Name", "stale"}})});
  EXPECT_EQ(ReadWithComponent(out, file, "AccountType", SourceSchemaDir()), "");
  EXPECT_EQ(out->UBound(), 0);
}

TEST_F(RoundTrip, FileRowCountsRecordsFromOneAndNestedRecordsShareIt) {
  RecordCollectionPtr in = std::make_shared<RecordCollection>();
  for (int i = 0; i < 5; ++i)
    in->Add(Rec({{"Number", std::to_string(i)}, {"CustomerType", Rec({{"Name", "p"}, {"Number", "0"}})}}));
  EXPECT_EQ(in->Item(1)->FileRow(), 0);
  auto out = WriteAndRead(in, "Customer");
  ASSERT_EQ(out->UBound(), 5);
  for (int32_t i = 1; i <= 5; ++i) {
    EXPECT_EQ(out->Item(i)->FileRow(), i);
    EXPECT_EQ(out->Item(i)->Value("Number").ToText(), std::to_string(i - 1));
    EXPECT_EQ(out->Item(i)->Record("CustomerType")->FileRow(), i);
  }
}

TEST_F(RoundTrip, KeysKeepTheRecordsOrder) {
  auto in = List({Rec({{"Phone", "1"}, {"Name", "n"}, {"Address", "a"}, {"Number", "01"}})});
  auto out = WriteAndRead(in, "Customer");
  std::vector<std::string> keys;
  for (const auto& [k, v] : out->Item(1)->Entries()) keys.push_back(k);
  EXPECT_EQ(keys, (std::vector<std::string>{"Phone", "Name", "Address", "Number"}));
}

}  // namespace
}  // namespace morvent::test
