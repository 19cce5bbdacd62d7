// Speed and memory of the data-file components on a file of 100,000
// customer records: writing, reading, and how much a read adds to the
// process's peak memory compared with the file's size (a document tree of
// the file would add several times its size).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "context/datafile.h"
#include "platform/registry.h"

namespace {

using namespace morvent;
namespace fs = std::filesystem;

constexpr int kRecords = 100000;

DataRecordPtr Rec(std::initializer_list<std::pair<const char*, Variant>> entries) {
  auto r = NewRecord();
  for (const auto& [k, v] : entries) r->SetValue(k, v);
  return r;
}

RecordCollectionPtr Customers() {
  auto c = std::make_shared<RecordCollection>();
  c->Reserve(kRecords);
  for (int i = 1; i <= kRecords; ++i) {
    std::string no = std::to_string(i);
    c->Add(Rec({{"Number", "01." + no}, {"Name", "客户名称" + no}, {"Address", "上海市浦东新区世纪大道" + no + "号"},
                {"Phone", "021-5555" + no}, {"Fax", Variant::Null()}, {"Email", "c" + no + "@example.com"},
                {"Bank", "工商银行"}, {"Account", "6222" + no}, {"CustomerType", Rec({{"Name", "华东区"}, {"Number", "01"}})}}));
  }
  return c;
}

struct Files {
  fs::path dir = fs::temp_directory_path() / ("morvent-bench-df-" + std::to_string(::getpid()));
  std::string file = (dir / "big.xml").string();
  std::string schema = std::string(MORVENT_SOURCE_DIR) + "/schemas/SchemaCustomer.xml";
  Files() { fs::create_directories(dir); }
  ~Files() { fs::remove_all(dir); }
};

long PeakKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

void BM_Write(benchmark::State& state) {
  Files f;
  auto records = Customers();
  for (auto _ : state) {
    std::string err;
    CreateObjectAs<DataFileWriter>(kWriterProgId)->OutputXML(records, f.file, f.schema, "Customer", err);
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_Write)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Read(benchmark::State& state) {
  Files f;
  {
    auto records = Customers();
    std::string err;
    CreateObjectAs<DataFileWriter>(kWriterProgId)->OutputXML(records, f.file, f.schema, "Customer", err);
  }
  const double fileKb = static_cast<double>(fs::file_size(f.file)) / 1024;
  long growth = 0;
  for (auto _ : state) {
    long before = PeakKb();
    auto out = std::make_shared<RecordCollection>();
    std::string err;
    CreateObjectAs<DataFileReader>(kReaderProgId)->InputXML(out, f.file, f.schema, "Customer", err);
    if (!err.empty() || out->UBound() != kRecords) state.SkipWithError("read failed");
    growth = std::max(growth, PeakKb() - before);
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
  state.counters["file_kb"] = fileKb;
  state.counters["peak_growth_per_file_size"] = static_cast<double>(growth) / fileKb;
}
BENCHMARK(BM_Read)->Unit(benchmark::kMillisecond)->Iterations(3);

// One value of 1 to 8 MB: the time must grow linearly with its length
// (the fitted complexity shows it).
void BM_ReadLongValue(benchmark::State& state) {
  Files f;
  {
    auto records = std::make_shared<RecordCollection>();
    records->Add(Rec({{"Number", "1"}, {"Address", std::string(static_cast<size_t>(state.range(0)), 'a')}}));
    std::string err;
    CreateObjectAs<DataFileWriter>(kWriterProgId)->OutputXML(records, f.file, f.schema, "Customer", err);
  }
  for (auto _ : state) {
    auto out = std::make_shared<RecordCollection>();
    std::string err;
    CreateObjectAs<DataFileReader>(kReaderProgId)->InputXML(out, f.file, f.schema, "Customer", err);
    if (!err.empty() || out->UBound() != 1) state.SkipWithError("read failed");
  }
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReadLongValue)->Unit(benchmark::kMillisecond)->RangeMultiplier(2)->Range(1 << 20, 8 << 20)->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
