// A file of 100,000 records streams both ways whole: every record, in order,
// with its values. (Its speed and memory are measured by
// bench/datafile_bench.cpp, not here.)
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/datafile/helpers.h"

namespace morvent::test {
namespace {

RecordCollectionPtr Customers(int n) {
  auto c = std::make_shared<RecordCollection>();
  c->Reserve(static_cast<size_t>(n));
  for (int i = 1; i <= n; ++i) {
    std::string no = std::to_string(i);
    c->Add(Rec({{"Number", "01." + no}, {"Name", "客户名称" + no}, {"CreditDays", i % 90}, {"CreditAmount", i * 1.25},
                {"CreditLevel", "A"}, {"Address", "上海市浦东新区世纪大道" + no + "号"}, {"Phone", "021-5555" + no},
                {"Fax", Variant::Null()}, {"PostalCode", "200120"}, {"Email", "c" + no + "@example.com"},
                {"Bank", "工商银行"}, {"Account", "6222" + no}, {"TaxNum", "91310000" + no}, {"City", "上海"},
                {"Province", "上海"}, {"Country", "中国"}, {"HomePage", ""},
                {"CustomerType", Rec({{"Name", "华东区"}, {"Number", "01"}})}}));
  }
  return c;
}

TEST(LargeFile, HundredThousandRecordsStreamBothWays) {
  TempDir dir;
  std::string file = dir.file("big.xml");
  const int n = 100000;
  {
    auto in = Customers(n);
    WriteWithComponent(in, file, "Customer", SourceSchemaDir());
  }
  auto out = std::make_shared<RecordCollection>();
  ASSERT_EQ(ReadWithComponent(out, file, "Customer", SourceSchemaDir()), "");

  ASSERT_EQ(out->UBound(), n);
  EXPECT_EQ(out->Item(n)->FileRow(), n);
  EXPECT_EQ(out->Item(n)->Value("Address").RawText(), "上海市浦东新区世纪大道100000号");
  EXPECT_TRUE(out->Item(n)->Value("Fax").IsNull());
  EXPECT_EQ(out->Item(1)->Value("Number").RawText(), "01.1");
  EXPECT_EQ(out->Item(n / 2)->Record("CustomerType")->Value("Name").RawText(), "华东区");
}

}  // namespace
}  // namespace morvent::test
