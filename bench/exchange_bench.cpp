// Whole exchanges through the public classes, side by side with the
// ledger's own cost for the same objects: how close an import comes to
// storing the objects directly, and what an export costs per record.
// 20,000 departments in three levels, dotted numbers, parents first.
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

struct Workspace {
  fs::path dir = fs::temp_directory_path() / ("morvent-bench-ex-" + std::to_string(::getpid()));
  std::string file = (dir / "dept.xml").string();
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
    std::string err;
    CreateObjectAs<DataFileWriter>(kWriterProgId)->OutputXML(list, file, (dir / "SchemaDepartment.xml").string(),
                                                             "Department", err);
  }
  ~Workspace() { fs::remove_all(dir); }
  std::string NewLedger() {
    std::string path = (dir / ("l" + std::to_string(++ledgers) + ".db")).string();
    CreateLedger(path, "QY");
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

}  // namespace

BENCHMARK_MAIN();
