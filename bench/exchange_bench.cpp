// Whole exchanges through the public classes, side by side with the
// ledger's own cost for the same objects: how close an import comes to
// storing the objects directly, and what an export costs per record.
// 20,000 departments in three levels, dotted numbers, parents first; and
// 100,000 customers in three levels, each with a currency, a settlement
// method and a region besides its plain fields, in a GY ledger.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "context/datafile.h"
#include "context/ledger_api.h"
#include "context/props.h"
#include "front/export_base.h"
#include "front/import_base.h"
#include "platform/call_scope.h"
#include "platform/registry.h"
#include "store/ledger_admin.h"

namespace {

using namespace morvent;
namespace fs = std::filesystem;

constexpr int kTop = 20, kMid = 20, kLeaf = 49;  // 20 + 400 + 19,600 = 20,020
constexpr int kRecords = kTop + kTop * kMid + kTop * kMid * kLeaf;

std::string Num(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }
std::string Num3(int v) { return std::string(v < 10 ? "00" : v < 100 ? "0" : "") + std::to_string(v); }

constexpr int kCustTop = 10, kCustMid = 100, kCustLeaf = 99;  // 10 + 1,000 + 99,000 = 100,010
constexpr int kCustomers = kCustTop + kCustTop * kCustMid + kCustTop * kCustMid * kCustLeaf;

struct Workspace {
  fs::path dir = fs::temp_directory_path() / ("morvent-bench-ex-" + std::to_string(::getpid()));
  std::string file = (dir / "dept.xml").string();
  std::string customers = (dir / "customers.xml").string();
  std::string entries = (dir / "entries.xml").string();
  int ledgers = 0;
  Workspace() {
    fs::create_directories(dir);
    for (const auto& e : fs::directory_iterator(std::string(MORVENT_SOURCE_DIR) + "/schemas"))
      fs::copy_file(e.path(), dir / e.path().filename(), fs::copy_options::overwrite_existing);
    setenv("MORVENT_HOME", dir.c_str(), 1);
    auto list = std::make_shared<RecordCollection>();
    auto add = [&](const std::string& number, const std::string& name, const std::string& parent,
                   const std::string& parentName) {
      auto r = NewRecord();
      r->SetValue("Number", number);
      r->SetValue("Name", name);
      r->SetValue("Note", "说明" + number);
      if (!parent.empty()) {
        auto p = NewRecord();
        p->SetValue("Name", parentName);
        p->SetValue("Number", parent);
        r->SetValue("DeptGroup", p);
      }
      list->Add(r);
    };
    for (int a = 1; a <= kTop; ++a) {
      std::string na = Num(a);
      add(na, "事业部" + na, "", "");
      for (int b = 1; b <= kMid; ++b) {
        std::string nb = na + "." + Num(b);
        add(nb, "部门" + nb, na, "事业部" + na);
        for (int c = 1; c <= kLeaf; ++c) add(nb + "." + Num(c), "小组" + nb + Num(c), nb, "部门" + nb);
      }
    }
    Write(list, file, "Department");
    WriteCustomers();
  }
  void Write(RecordCollectionPtr list, const std::string& path, const std::string& element) {
    std::string err;
    CreateObjectAs<DataFileWriter>(kWriterProgId)
        ->OutputXML(list, path, (dir / ("Schema" + element + ".xml")).string(), element, err);
  }
  void WriteCustomers() {
    auto region = NewRecord();
    region->SetValue("Name", "华东");
    region->SetValue("Number", "01");
    auto type = NewRecord();
    type->SetValue("Name", "区域");
    type->SetValue("Number", "1");
    region->SetValue("AssistType", type);
    auto regions = std::make_shared<RecordCollection>();
    regions->Add(region);
    Write(regions, entries, "AssistDetail");

    auto currency = NewRecord();
    for (auto [k, v] : {std::pair{"Name", "人民币"}, {"Number", "RMB"}, {"ExchangeRate", "1"}, {"Operator", "*"}})
      currency->SetValue(k, v);
    auto settle = NewRecord();
    settle->SetValue("Name", "现金");
    settle->SetValue("Number", "JF01");
    auto list = std::make_shared<RecordCollection>();
    auto add = [&](const std::string& number, const std::string& name, const std::string& parent,
                   const std::string& parentName) {
      auto r = NewRecord();
      r->SetValue("Number", number);
      r->SetValue("Name", name);
      r->SetValue("ShortName", "简称" + number);
      r->SetValue("CreditLimit", "50000");
      r->SetValue("SettleCurrency", currency);
      r->SetValue("Region", region);
      r->SetValue("SettleMode", settle);
      r->SetValue("Address", "地址" + number);
      r->SetValue("Phone", "010-" + number);
      if (!parent.empty()) {
        auto p = NewRecord();
        p->SetValue("Name", parentName);
        p->SetValue("Number", parent);
        r->SetValue("CustomerType", p);
      }
      list->Add(r);
    };
    for (int a = 1; a <= kCustTop; ++a) {
      std::string na = Num(a);
      add(na, "大区" + na, "", "");
      for (int b = 1; b <= kCustMid; ++b) {
        std::string nb = na + "." + Num3(b);
        add(nb, "地区" + nb, na, "大区" + na);
        for (int c = 1; c <= kCustLeaf; ++c) add(nb + "." + Num3(c), "客户" + nb + Num3(c), nb, "地区" + nb);
      }
    }
    Write(list, customers, "Customer");
  }
  ~Workspace() { fs::remove_all(dir); }
  std::string NewLedger(const std::string& kind = "QY") {
    std::string path = (dir / ("l" + std::to_string(++ledgers) + ".db")).string();
    CreateLedger(path, kind);
    return path;
  }
  // A GY ledger holding the region the customers name.
  std::string NewCustomerLedger() {
    std::string path = NewLedger("GY");
    ImportBase imp;
    imp.ImportXMLData("Data Source=" + path + ";AcctType=GY", 122, entries);
    return path;
  }
};

Workspace& Space() {
  static Workspace w;
  return w;
}

void BM_ImportDepartments(benchmark::State& state) {
  auto& w = Space();
  for (auto _ : state) {
    state.PauseTiming();
    std::string ledger = w.NewLedger();
    state.ResumeTiming();
    ImportBase imp;
    if (!imp.ImportXMLData("Data Source=" + ledger + ";AcctType=QY", 120, w.file))
      state.SkipWithError("import failed");
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_ImportDepartments)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same objects stored straight through the item set, in one call.
void BM_StoreDepartmentsDirectly(benchmark::State& state) {
  auto& w = Space();
  for (auto _ : state) {
    state.PauseTiming();
    std::string ledger = w.NewLedger();
    Context().gPropsString = "Data Source=" + ledger + ";AcctType=QY";
    state.ResumeTiming();
    PublicCallScope call;
    auto set = CreateObjectAs<ObjectSet>(kItemSet);
    set->SetListOptions(10);
    set->SetRestriction("ItemClassID", int16_t{2});
    set->Refresh();
    auto store = [&](int32_t parent, const std::string& number, const std::string& name) {
      auto item = set->CreateNew({int16_t{2}, parent}, {{"Number", Variant(number)}});
      item->Let("Name", Variant(name));
      item->SaveChanges();
      item->SetProperties("FNote", Variant("说明" + number));
      item->SaveChanges();
      return item->Get("ItemID").ToLong();
    };
    for (int a = 1; a <= kTop; ++a) {
      std::string na = Num(a);
      int32_t ida = store(0, na, "事业部" + na);
      for (int b = 1; b <= kMid; ++b) {
        std::string nb = na + "." + Num(b);
        int32_t idb = store(ida, nb, "部门" + nb);
        for (int c = 1; c <= kLeaf; ++c) store(idb, nb + "." + Num(c), "小组" + nb + Num(c));
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_StoreDepartmentsDirectly)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ExportDepartments(benchmark::State& state) {
  auto& w = Space();
  std::string ledger = w.NewLedger();
  {
    ImportBase imp;
    imp.ImportXMLData("Data Source=" + ledger + ";AcctType=QY", 120, w.file);
  }
  std::string out = (w.dir / "out.xml").string();
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(out);
    state.ResumeTiming();
    ExportBase exp;
    if (!exp.ExportXMLData("Data Source=" + ledger + ";AcctType=QY", 120, out)) state.SkipWithError("export failed");
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_ExportDepartments)->Unit(benchmark::kMillisecond)->Iterations(3);

std::string GY(const std::string& ledger) { return "Data Source=" + ledger + ";AcctType=GY"; }

void BM_ImportCustomers(benchmark::State& state) {
  auto& w = Space();
  for (auto _ : state) {
    state.PauseTiming();
    std::string ledger = w.NewCustomerLedger();
    state.ResumeTiming();
    ImportBase imp;
    if (!imp.ImportXMLData(GY(ledger), 110, w.customers)) state.SkipWithError("import failed");
  }
  state.SetItemsProcessed(state.iterations() * kCustomers);
}
BENCHMARK(BM_ImportCustomers)->Unit(benchmark::kMillisecond)->Iterations(2);

// The same customers stored straight through the item set, in one call,
// their references given as the IDs the import finds.
void BM_StoreCustomersDirectly(benchmark::State& state) {
  auto& w = Space();
  for (auto _ : state) {
    state.PauseTiming();
    std::string ledger = w.NewCustomerLedger();
    Context().gPropsString = GY(ledger);
    state.ResumeTiming();
    PublicCallScope call;
    auto currencies = CreateObjectAs<ObjectSet>(kCurrencySet);
    auto currency = currencies->CreateNew({}, {{"Number", Variant("RMB")}});
    currency->Let("Name", Variant("人民币"));
    currency->SaveChanges();
    auto settles = CreateObjectAs<ObjectSet>(kSettTypeSet);
    auto settle = settles->CreateNew({}, {{"Number", Variant("JF01")}});
    settle->Let("Name", Variant("现金"));
    settle->SaveChanges();
    const int32_t cy = currency->Get("CurrencyID").ToLong(), st = settle->Get("ItemID").ToLong();
    const int32_t region = CreateObjectAs<ObjectSet>(kSubMesSet)->ExistenceCheck({{"Name", Variant("华东")}});
    auto set = CreateObjectAs<ObjectSet>(kItemSet);
    set->SetListOptions(10);
    set->SetRestriction("ItemClassID", int16_t{1});
    set->Refresh();
    auto store = [&](int32_t parent, const std::string& number, const std::string& name) {
      auto item = set->CreateNew({int16_t{1}, parent}, {{"Number", Variant(number)}});
      item->Let("Name", Variant(name));
      item->SaveChanges();
      item->SetProperties("FAddress", Variant("地址" + number));
      item->SetProperties("FPhone", Variant("010-" + number));
      item->SetProperties("FShortName", Variant("简称" + number));
      item->SetProperties("FCreditLimit", Variant("50000"));
      item->SetProperties("FCyID", Variant(cy));
      item->SetProperties("FRegionID", Variant(region));
      item->SetProperties("FSetID", Variant(st));
      item->SaveChanges();
      return item->Get("ItemID").ToLong();
    };
    for (int a = 1; a <= kCustTop; ++a) {
      std::string na = Num(a);
      int32_t ida = store(0, na, "大区" + na);
      for (int b = 1; b <= kCustMid; ++b) {
        std::string nb = na + "." + Num3(b);
        int32_t idb = store(ida, nb, "地区" + nb);
        for (int c = 1; c <= kCustLeaf; ++c) store(idb, nb + "." + Num3(c), "客户" + nb + Num3(c));
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * kCustomers);
}
BENCHMARK(BM_StoreCustomersDirectly)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_ExportCustomers(benchmark::State& state) {
  auto& w = Space();
  std::string ledger = w.NewCustomerLedger();
  {
    ImportBase imp;
    imp.ImportXMLData(GY(ledger), 110, w.customers);
  }
  std::string out = (w.dir / "customers-out.xml").string();
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(out);
    state.ResumeTiming();
    ExportBase exp;
    if (!exp.ExportXMLData(GY(ledger), 110, out)) state.SkipWithError("export failed");
  }
  state.SetItemsProcessed(state.iterations() * kCustomers);
}
BENCHMARK(BM_ExportCustomers)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
