// Costs of the embedded ledger's set members on a ledger of 100,000 accounts
// and 100,000 currencies. The ledger is built once per run in the system's
// temporary folder and removed at the end.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include <unistd.h>

#include "context/ledger_api.h"
#include "context/props.h"
#include "platform/call_scope.h"
#include "platform/registry.h"
#include "store/ledger_admin.h"
#include "store/ledger_store.h"

namespace {

using namespace morvent;
namespace fs = std::filesystem;

constexpr int kTop = 100;        // top-level accounts
constexpr int kChildren = 999;   // children of each: 100 + 99,900 = 100,000 accounts
constexpr int kCurrencies = 100000;

std::string TopNumber(int i) { return std::to_string(1000 + i); }
std::string ChildNumber(int i, int j) { return TopNumber(i) + "." + std::to_string(100 + j); }

struct BenchLedger {
  fs::path dir;
  std::string path;
  BenchLedger() {
    dir = fs::temp_directory_path() / ("morvent-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    path = (dir / "bench.db").string();
    CreateLedger(path);
    Context().gPropsString = "Data Source=" + path;
    PublicCallScope call;  // grouped: the build is itself a large import
    auto accounts = CreateObjectAs<ObjectSet>(kAccountSet);
    for (int i = 0; i < kTop; ++i) {
      auto top = accounts->CreateNew({}, {{"Number", Variant(TopNumber(i))}});
      top->Let("Name", Variant("科目" + std::to_string(i)));
      top->SaveChanges();
      for (int j = 0; j < kChildren; ++j) {
        auto child = accounts->CreateNew({}, {{"Number", Variant(ChildNumber(i, j))}});
        child->Let("Name", Variant("明细" + std::to_string(j)));
        child->Let("DC", Variant(int32_t{1}));
        child->SaveChanges();
      }
    }
    auto currencies = CreateObjectAs<ObjectSet>(kCurrencySet);
    for (int i = 0; i < kCurrencies; ++i) {
      auto c = currencies->CreateNew({}, {{"Number", Variant("C" + std::to_string(i))}});
      c->Let("Name", Variant("币别" + std::to_string(i)));
      c->Let("ExchangeRate", Variant(1.0 + i % 10));
      c->SaveChanges();
    }
  }
  ~BenchLedger() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

BenchLedger& Ledger() {
  static BenchLedger ledger;
  Context().gPropsString = "Data Source=" + ledger.path;
  return ledger;
}

void BM_AccountExistenceCheck(benchmark::State& state) {
  Ledger();
  auto set = CreateObjectAs<ObjectSet>(kAccountSet);
  std::mt19937 rng(1);
  for (auto _ : state) {
    int i = static_cast<int>(rng() % kTop), j = static_cast<int>(rng() % kChildren);
    benchmark::DoNotOptimize(set->ExistenceCheck({{"Number", Variant(ChildNumber(i, j))}}));
  }
}
BENCHMARK(BM_AccountExistenceCheck);

void BM_AccountItem(benchmark::State& state) {
  Ledger();
  auto set = CreateObjectAs<ObjectSet>(kAccountSet);
  std::mt19937 rng(2);
  for (auto _ : state) benchmark::DoNotOptimize(set->Item(static_cast<int32_t>(1 + rng() % (kTop * (kChildren + 1)))));
}
BENCHMARK(BM_AccountItem);

void BM_CurrencyItem(benchmark::State& state) {
  Ledger();
  auto set = CreateObjectAs<ObjectSet>(kCurrencySet);
  std::mt19937 rng(3);
  for (auto _ : state) benchmark::DoNotOptimize(set->Item(static_cast<int32_t>(1 + rng() % kCurrencies)));
}
BENCHMARK(BM_CurrencyItem);

void BM_RefreshAndCount(benchmark::State& state) {
  Ledger();
  auto set = CreateObjectAs<ObjectSet>(kAccountSet);
  for (auto _ : state) {
    set->Refresh();
    benchmark::DoNotOptimize(set->Count());
  }
}
BENCHMARK(BM_RefreshAndCount);

void BM_EnumerateAccounts(benchmark::State& state) {
  Ledger();
  auto set = CreateObjectAs<ObjectSet>(kAccountSet);
  int64_t n = 0;
  for (auto _ : state) {
    set->Refresh();
    for (auto c = set->Enumerate(); auto a = c->Next();) ++n;
  }
  state.SetItemsProcessed(n);
}
BENCHMARK(BM_EnumerateAccounts)->Unit(benchmark::kMillisecond);

// CreateNew + SaveChanges of a currency, grouped or committed one by one.
void CreateAndSave(ObjectSet& set, int64_t& serial) {
  auto c = set.CreateNew({}, {{"Number", Variant("N" + std::to_string(serial++))}});
  c->Let("Name", Variant("新币别"));
  c->Let("ExchangeRate", Variant(6.5));
  c->SaveChanges();
}

int64_t& Serial() {
  static int64_t serial = 0;
  return serial;
}

// Inside a public call: saves grouped, committed every quarter second.
void BM_CreateSaveGroupedInCall(benchmark::State& state) {
  Ledger();
  auto set = CreateObjectAs<ObjectSet>(kCurrencySet);
  {
    PublicCallScope call;
    for (auto _ : state) CreateAndSave(*set, Serial());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CreateSaveGroupedInCall);

// Outside a public call: every save is its own committed transaction.
void BM_CreateSaveCommitEach(benchmark::State& state) {
  Ledger();
  auto set = CreateObjectAs<ObjectSet>(kCurrencySet);
  for (auto _ : state) CreateAndSave(*set, Serial());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CreateSaveCommitEach);


}  // namespace

BENCHMARK_MAIN();
