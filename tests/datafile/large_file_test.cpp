// A file of 100,000 records streams both ways in seconds, and reading it
// costs about what its records cost, not a document tree of the file.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>

#include "tests/datafile/helpers.h"

namespace morvent::test {
namespace {

long PeakKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

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
  using Clock = std::chrono::steady_clock;

  auto t0 = Clock::now();
  {
    auto in = Customers(n);
    WriteWithComponent(in, file, "Customer", SourceSchemaDir());
  }
  auto written = Clock::now() - t0;
  auto fileKb = static_cast<long>(std::filesystem::file_size(file) / 1024);

  long before = PeakKb();
  auto out = std::make_shared<RecordCollection>();
  t0 = Clock::now();
  ASSERT_EQ(ReadWithComponent(out, file, "Customer", SourceSchemaDir()), "");
  auto read = Clock::now() - t0;
  long growth = PeakKb() - before;

  ASSERT_EQ(out->UBound(), n);
  EXPECT_EQ(out->Item(n)->FileRow(), n);
  EXPECT_EQ(out->Item(n)->Value("Address").RawText(), "上海市浦东新区世纪大道100000号");
  EXPECT_TRUE(out->Item(n)->Value("Fax").IsNull());
  // An optimised build takes about 1 s to write and 4 s to read; a debug
  // build of the record types is several times slower.
#ifdef NDEBUG
  const auto bound = std::chrono::seconds(15);
#else
  const auto bound = std::chrono::seconds(60);
#endif
  EXPECT_LT(written, bound);
  EXPECT_LT(read, bound);
  // The records were built once already (by the write); a document tree of
  // the file would add several times the file's size on top.
  EXPECT_LT(growth, 2 * fileKb) << "file " << fileKb << " KB";
}

}  // namespace
}  // namespace morvent::test
