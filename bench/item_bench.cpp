// The item side of the ledger on a ledger of 100,000 customers in three
// levels: the lookups the item handlers make per record, creation, and
// enumeration. Build with -DMORVENT_BENCH=ON; run bin/item_bench.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "context/props.h"
#include "platform/call_scope.h"
#include "platform/registry.h"
#include "store/item_sets.h"
#include "store/ledger_admin.h"
#include "store/ledger_store.h"

namespace morvent {
namespace {

constexpr int kTops = 10, kMids = 100, kLeaves = 99;  // 100,010 items

struct BenchLedger {
  std::string dir;
  std::string path;
  std::vector<std::string> numbers;
  std::vector<int32_t> ids;
  // Held for the whole run, as a handler's open sets hold it during a call.
  LedgerStorePtr store;

  BenchLedger() {
    EnsureComponentsRegistered();
    dir = (std::filesystem::temp_directory_path() / ("morvent-item-bench-" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(dir);
    path = dir + "/bench.db";
    CreateLedger(path);
    Context().gPropsString = "Data Source=" + path;
    store = LedgerStore::ForPath(path);
    ItemSet set(store);
    char number[32];
    store->Write([&] {
      for (int t = 1; t <= kTops; ++t) {
        std::snprintf(number, sizeof number, "%02d", t);
        int32_t top = Add(set, number, 0);
        for (int m = 1; m <= kMids; ++m) {
          std::snprintf(number, sizeof number, "%02d.%03d", t, m);
          int32_t mid = Add(set, number, top);
          for (int l = 1; l <= kLeaves; ++l) {
            std::snprintf(number, sizeof number, "%02d.%03d.%03d", t, m, l);
            Add(set, number, mid);
          }
        }
      }
    });
    store->Commit();
  }
  ~BenchLedger() {
    store.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  int32_t Add(ItemSet& set, const std::string& number, int32_t parent) {
    auto item = set.CreateNew({Variant(int16_t{1}), Variant(parent)}, {{"Number", Variant(number)}});
    item->Let("Name", Variant("客户" + number));
    item->SetProperties("FAddress", Variant("北京市海淀区中关村大街" + number + "号"));
    item->SetProperties("FCreditLimit", Variant(100000));
    item->SaveChanges();
    numbers.push_back(number);
    ids.push_back(item->Get("ItemID").ToLong());
    return ids.back();
  }
};

BenchLedger& Ledger() {
  static BenchLedger ledger;
  return ledger;
}

std::shared_ptr<ObjectSet> Customers() {
  auto set = CreateObjectAs<ObjectSet>(kItemSet);
  set->SetListOptions(10);
  set->SetRestriction("ItemClassID", Variant(int16_t{1}));
  set->Refresh();
  return set;
}

void BM_ExistenceCheckByNumber(benchmark::State& state) {
  auto& l = Ledger();
  auto set = Customers();
  std::mt19937 rng(7);
  std::uniform_int_distribution<size_t> pick(0, l.numbers.size() - 1);
  for (auto _ : state) {
    int32_t id = set->ExistenceCheck({{"Number", Variant(l.numbers[pick(rng)])}, {"ItemClassID", Variant(int16_t{1})}});
    benchmark::DoNotOptimize(id);
  }
}
BENCHMARK(BM_ExistenceCheckByNumber);

void BM_ItemById(benchmark::State& state) {
  auto& l = Ledger();
  auto set = Customers();
  std::mt19937 rng(11);
  std::uniform_int_distribution<size_t> pick(0, l.ids.size() - 1);
  for (auto _ : state) benchmark::DoNotOptimize(set->Item(l.ids[pick(rng)]));
}
BENCHMARK(BM_ItemById);

// What a lookup handler's CheckID does per looked-up record: a new set,
// Refresh, and the item by ID, then one field read.
void BM_CheckIdPattern(benchmark::State& state) {
  auto& l = Ledger();
  std::mt19937 rng(13);
  std::uniform_int_distribution<size_t> pick(0, l.ids.size() - 1);
  for (auto _ : state) {
    auto set = Customers();
    auto item = set->Item(l.ids[pick(rng)]);
    benchmark::DoNotOptimize(item->Properties("FAddress"));
  }
}
BENCHMARK(BM_CheckIdPattern);

void BM_RefreshAndCount(benchmark::State& state) {
  Ledger();
  auto set = Customers();
  for (auto _ : state) {
    set->Refresh();
    benchmark::DoNotOptimize(set->Count());
  }
}
BENCHMARK(BM_RefreshAndCount);

// CreateNew + three fields + SaveChanges. Inside a public call the saves are
// grouped into transactions; outside, each save commits on its own.
void CreateAndSave(benchmark::State& state, bool inCall) {
  Ledger();
  auto set = Customers();
  std::unique_ptr<PublicCallScope> scope;
  if (inCall) scope = std::make_unique<PublicCallScope>();
  static int serial = 0;
  for (auto _ : state) {
    std::string number = "99." + std::to_string(++serial);
    auto item = set->CreateNew({Variant(int16_t{1}), Variant(0)}, {{"Number", Variant(number)}});
    item->Let("Name", Variant("新客户"));
    item->SetProperties("FAddress", Variant("上海市浦东新区世纪大道100号"));
    item->SetProperties("FPhone", Variant("021-68881234"));
    item->SetProperties("FCreditDays", Variant(30));
    item->SaveChanges();
  }
}
void BM_CreateNewSaveChangesInCall(benchmark::State& state) { CreateAndSave(state, true); }
void BM_CreateNewSaveChangesAlone(benchmark::State& state) { CreateAndSave(state, false); }
BENCHMARK(BM_CreateNewSaveChangesInCall);
BENCHMARK(BM_CreateNewSaveChangesAlone);

// One full pass over the class in number order, reading one field of each
// item as an export does; reported per item.
void BM_EnumerateWithField(benchmark::State& state) {
  Ledger();
  auto set = Customers();
  int64_t items = 0;
  for (auto _ : state) {
    auto cursor = set->Enumerate();
    while (auto item = cursor->Next()) {
      benchmark::DoNotOptimize(item->Properties("FAddress"));
      ++items;
    }
  }
  state.SetItemsProcessed(items);
}
BENCHMARK(BM_EnumerateWithField)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace morvent

BENCHMARK_MAIN();
