// Whole exchanges through the public classes, side by side with the
// ledger's own cost for the same objects: how close an import comes to
// storing the objects directly, and what an export costs per record.
// 20,000 departments in three levels, dotted numbers, parents first; and
// 100,000 customers in three levels, each with a currency, a settlement
// method and a region besides its plain fields, in a GY ledger.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
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

// A tree of items: how many at each level, the digits of each level's part
// of the number, and the word each level's names start with.
struct Tree {
  int counts[3];
  int digits[3];
  const char* words[3];
  int Size() const { return counts[0] + counts[0] * counts[1] + counts[0] * counts[1] * counts[2]; }

  // Parents first: fn(level, number, name, parent number, parent name).
  using Visit = std::function<void(int, const std::string&, const std::string&, const std::string&,
                                   const std::string&)>;
  void Walk(const Visit& fn) const { Walk(fn, 0, "", ""); }

 private:
  void Walk(const Visit& fn, int level, const std::string& parent, const std::string& parentName) const {
    if (level == 3) return;
    for (int i = 1; i <= counts[level]; ++i) {
      std::string part = std::to_string(i);
      part.insert(0, digits[level] - std::min<int>(digits[level], part.size()), '0');
      std::string number = parent.empty() ? part : parent + "." + part;
      std::string name = words[level] + number;
      fn(level, number, name, parent, parentName);
      Walk(fn, level + 1, number, name);
    }
  }
};
constexpr Tree kDepartments{{20, 20, 49}, {2, 2, 2}, {"事业部", "部门", "小组"}};  // 20,020
constexpr Tree kCustomers{{10, 100, 99}, {2, 3, 3}, {"大区", "地区", "客户"}};      // 100,010

DataRecordPtr Record(std::initializer_list<std::pair<const char*, std::string>> values) {
  auto r = NewRecord();
  for (const auto& [k, v] : values) r->SetValue(k, v);
  return r;
}

struct Workspace {
  fs::path dir = fs::temp_directory_path() / ("morvent-bench-ex-" + std::to_string(::getpid()));
  std::string departments = (dir / "dept.xml").string();
  std::string customers = (dir / "customers.xml").string();
  std::string entries = (dir / "entries.xml").string();
  int ledgers = 0;

  Workspace() {
    fs::create_directories(dir);
    for (const auto& e : fs::directory_iterator(std::string(MORVENT_SOURCE_DIR) + "/schemas"))
      fs::copy_file(e.path(), dir / e.path().filename(), fs::copy_options::overwrite_existing);
    setenv("MORVENT_HOME", dir.c_str(), 1);

    auto depts = std::make_shared<RecordCollection>();
    kDepartments.Walk([&](int, const std::string& number, const std::string& name, const std::string& parent,
                          const std::string& parentName) {
      auto r = Record({{"Number", number}, {"Name", name}, {"Note", "说明" + number}});
      if (!parent.empty()) r->SetValue("DeptGroup", Record({{"Name", parentName}, {"Number", parent}}));
      depts->Add(r);
    });
    Write(depts, departments, "Department");

    auto region = Record({{"Name", "华东"}, {"Number", "01"}});
    region->SetValue("AssistType", Record({{"Name", "区域"}, {"Number", "1"}}));
    auto regions = std::make_shared<RecordCollection>();
    regions->Add(region);
    Write(regions, entries, "AssistDetail");

    auto currency = Record({{"Name", "人民币"}, {"Number", "RMB"}, {"ExchangeRate", "1"}, {"Operator", "*"}});
    auto settle = Record({{"Name", "现金"}, {"Number", "JF01"}});
    auto list = std::make_shared<RecordCollection>();
    kCustomers.Walk([&](int, const std::string& number, const std::string& name, const std::string& parent,
                        const std::string& parentName) {
      auto r = Record({{"Number", number}, {"Name", name}, {"ShortName", "简称" + number}, {"CreditLimit", "50000"}});
      r->SetValue("SettleCurrency", currency);
      r->SetValue("Region", region);
      r->SetValue("SettleMode", settle);
      r->SetValue("Address", "地址" + number);
      r->SetValue("Phone", "010-" + number);
      if (!parent.empty()) r->SetValue("CustomerType", Record({{"Name", parentName}, {"Number", parent}}));
      list->Add(r);
    });
    Write(list, customers, "Customer");
  }
  ~Workspace() { fs::remove_all(dir); }

  void Write(RecordCollectionPtr list, const std::string& path, const std::string& element) {
    std::string err;
    CreateObjectAs<DataFileWriter>(kWriterProgId)
        ->OutputXML(list, path, (dir / ("Schema" + element + ".xml")).string(), element, err);
  }
  std::string NewLedger(const std::string& kind) {
    std::string path = (dir / ("l" + std::to_string(++ledgers) + ".db")).string();
    CreateLedger(path, kind);
    return path;
  }
  std::string DepartmentLedger() { return NewLedger("QY"); }
  // A GY ledger holding the region the customers name.
  std::string CustomerLedger() {
    std::string path = NewLedger("GY");
    ImportBase imp;
    imp.ImportXMLData(Props(path), 122, entries);
    return path;
  }
  static std::string Props(const std::string& ledger) {
    return "Data Source=" + ledger + ";AcctType=" + LedgerKind(ledger);
  }
};

Workspace& Space() {
  static Workspace w;
  return w;
}

// One exchange of a whole file into a new ledger per iteration.
void RunImport(benchmark::State& state, std::string (Workspace::*newLedger)(), int32_t code,
               const std::string& file, int records) {
  auto& w = Space();
  for (auto _ : state) {
    state.PauseTiming();
    std::string ledger = (w.*newLedger)();
    state.ResumeTiming();
    ImportBase imp;
    if (!imp.ImportXMLData(Workspace::Props(ledger), code, file)) state.SkipWithError("import failed");
  }
  state.SetItemsProcessed(state.iterations() * records);
}

// Stores a tree straight through the item set, in one call, into a new
// ledger per iteration: start() runs first inside the call, fields() writes
// an item's fields between its two saves.
void RunStoreDirectly(benchmark::State& state, std::string (Workspace::*newLedger)(), int16_t classId,
                      const Tree& tree, const std::function<void()>& start,
                      const std::function<void(LedgerObject&, const std::string&)>& fields) {
  auto& w = Space();
  for (auto _ : state) {
    state.PauseTiming();
    std::string ledger = (w.*newLedger)();
    Context().gPropsString = Workspace::Props(ledger);
    state.ResumeTiming();
    PublicCallScope call;
    if (start) start();
    auto set = CreateObjectAs<ObjectSet>(kItemSet);
    set->SetListOptions(10);
    set->SetRestriction("ItemClassID", classId);
    set->Refresh();
    int32_t ids[3] = {0, 0, 0};
    tree.Walk([&](int level, const std::string& number, const std::string& name, const std::string&,
                  const std::string&) {
      auto item = set->CreateNew({classId, level == 0 ? 0 : ids[level - 1]}, {{"Number", Variant(number)}});
      item->Let("Name", Variant(name));
      item->SaveChanges();
      fields(*item, number);
      item->SaveChanges();
      ids[level] = item->Get("ItemID").ToLong();
    });
  }
  state.SetItemsProcessed(state.iterations() * tree.Size());
}

// Exports the objects of a file imported once.
void RunExport(benchmark::State& state, std::string (Workspace::*newLedger)(), int32_t code,
               const std::string& file, int records) {
  auto& w = Space();
  std::string ledger = (w.*newLedger)();
  {
    ImportBase imp;
    imp.ImportXMLData(Workspace::Props(ledger), code, file);
  }
  std::string out = (w.dir / "out.xml").string();
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(out);
    state.ResumeTiming();
    ExportBase exp;
    if (!exp.ExportXMLData(Workspace::Props(ledger), code, out)) state.SkipWithError("export failed");
  }
  state.SetItemsProcessed(state.iterations() * records);
}

void BM_ImportDepartments(benchmark::State& state) {
  RunImport(state, &Workspace::DepartmentLedger, 120, Space().departments, kDepartments.Size());
}
BENCHMARK(BM_ImportDepartments)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_StoreDepartmentsDirectly(benchmark::State& state) {
  RunStoreDirectly(state, &Workspace::DepartmentLedger, 2, kDepartments, nullptr,
                   [](LedgerObject& item, const std::string& n) { item.SetProperties("FNote", Variant("说明" + n)); });
}
BENCHMARK(BM_StoreDepartmentsDirectly)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ExportDepartments(benchmark::State& state) {
  RunExport(state, &Workspace::DepartmentLedger, 120, Space().departments, kDepartments.Size());
}
BENCHMARK(BM_ExportDepartments)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ImportCustomers(benchmark::State& state) {
  RunImport(state, &Workspace::CustomerLedger, 110, Space().customers, kCustomers.Size());
}
BENCHMARK(BM_ImportCustomers)->Unit(benchmark::kMillisecond)->Iterations(2);

// The references are given as IDs: the currency and settlement method are
// made at the start, as the import's first record makes them.
void BM_StoreCustomersDirectly(benchmark::State& state) {
  int32_t cy = 0, st = 0, region = 0;
  auto start = [&] {
    auto currency = CreateObjectAs<ObjectSet>(kCurrencySet)->CreateNew({}, {{"Number", Variant("RMB")}});
    currency->Let("Name", Variant("人民币"));
    currency->SaveChanges();
    auto settle = CreateObjectAs<ObjectSet>(kSettTypeSet)->CreateNew({}, {{"Number", Variant("JF01")}});
    settle->Let("Name", Variant("现金"));
    settle->SaveChanges();
    cy = currency->Get("CurrencyID").ToLong();
    st = settle->Get("ItemID").ToLong();
    region = CreateObjectAs<ObjectSet>(kSubMesSet)->ExistenceCheck({{"Name", Variant("华东")}});
  };
  // The import writes every field of the set, an absent one as empty text.
  static const char* const kEmpty[] = {"FFax",    "FPostalCode", "FEmail",    "FBank",  "FAccount",  "FTaxNum",
                                       "FCity",   "FProvince",   "FCountry",  "FHomePage", "FBrNo", "FContact",
                                       "FCIQNumber"};
  RunStoreDirectly(state, &Workspace::CustomerLedger, 1, kCustomers, start,
                   [&](LedgerObject& item, const std::string& n) {
                     for (const auto& [field, value] : {std::pair<const char*, Variant>{"FAddress", "地址" + n},
                                                        {"FPhone", "010-" + n},
                                                        {"FShortName", "简称" + n},
                                                        {"FCreditLimit", "50000"},
                                                        {"FCyID", cy},
                                                        {"FRegionID", region},
                                                        {"FSetID", st}})
                       item.SetProperties(field, value);
                     for (const char* field : kEmpty) item.SetProperties(field, Variant(""));
                   });
}

BENCHMARK(BM_StoreCustomersDirectly)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_ExportCustomers(benchmark::State& state) {
  RunExport(state, &Workspace::CustomerLedger, 110, Space().customers, kCustomers.Size());
}
BENCHMARK(BM_ExportCustomers)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
