// Accounts through the public classes at 10,000 and 100,000 accounts: a
// chart five levels deep, ten children per parent, each account carrying
// its type, a currency and one attached item class. Imported from a file
// with parents first and from one with every child before its parent (each
// parent is then imported by its first child and met as a marker by the
// rest), then exported. The time per account should stay flat as the count
// grows tenfold.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>

#include "context/datafile.h"
#include "context/ledger_api.h"
#include "front/export_base.h"
#include "front/import_base.h"
#include "platform/registry.h"
#include "store/ledger_admin.h"

namespace {

using namespace morvent;
namespace fs = std::filesystem;

std::string Num(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }

struct Workspace {
  fs::path dir = fs::temp_directory_path() / ("morvent-bench-acct-" + std::to_string(::getpid()));
  int ledgers = 0;
  std::map<std::pair<int, bool>, std::string> files;
  Workspace() {
    fs::create_directories(dir);
    for (const auto& e : fs::directory_iterator(std::string(MORVENT_SOURCE_DIR) + "/schemas"))
      fs::copy_file(e.path(), dir / e.path().filename(), fs::copy_options::overwrite_existing);
    setenv("MORVENT_HOME", dir.c_str(), 1);
  }
  ~Workspace() { fs::remove_all(dir); }

  // The chart's first n accounts in level order (parents first), or reversed.
  const std::string& File(int n, bool childrenFirst) {
    auto key = std::make_pair(n, childrenFirst);
    if (auto it = files.find(key); it != files.end()) return it->second;
    std::vector<std::pair<std::string, std::string>> chart;  // number, parent
    for (int top = 1; top <= 10 && static_cast<int>(chart.size()) < n; ++top) chart.push_back({Num(top), ""});
    for (size_t i = 0; static_cast<int>(chart.size()) < n; ++i)
      for (int k = 1; k <= 10 && static_cast<int>(chart.size()) < n; ++k)
        chart.push_back({chart[i].first + "." + Num(k), chart[i].first});
    if (childrenFirst) std::reverse(chart.begin(), chart.end());
    auto list = std::make_shared<RecordCollection>();
    for (const auto& [number, parent] : chart) {
      auto r = NewRecord();
      r->SetValue("Number", number);
      r->SetValue("Name", "科目" + number);
      r->SetValue("IsDebit", "1");
      auto currency = NewRecord();
      currency->SetValue("Name", "人民币");
      currency->SetValue("Number", "RMB");
      r->SetValue("Currency", currency);
      auto type = NewRecord();
      type->SetValue("Name", "资产");
      type->SetValue("Number", "1");
      r->SetValue("GroupName", type);
      auto classes = std::make_shared<RecordCollection>();
      auto dept = NewRecord();
      dept->SetValue("Name", "部门");
      dept->SetValue("Number", "002");
      classes->Add(dept);
      r->SetValue("ItemClass", classes);
      if (!parent.empty()) r->SetValue("ParentAcct", parent);
      list->Add(r);
    }
    std::string file = (dir / ("acct-" + std::to_string(n) + (childrenFirst ? "-rev" : "") + ".xml")).string();
    std::string err;
    CreateObjectAs<DataFileWriter>(kWriterProgId)->OutputXML(list, file, (dir / "SchemaAccount.xml").string(),
                                                             "Account", err);
    return files[key] = file;
  }
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

std::string Props(const std::string& ledger) { return "Data Source=" + ledger + ";AcctType=QY"; }

void Import(benchmark::State& state, bool childrenFirst) {
  auto& w = Space();
  const int n = static_cast<int>(state.range(0));
  const std::string& file = w.File(n, childrenFirst);
  for (auto _ : state) {
    state.PauseTiming();
    std::string ledger = w.NewLedger();
    state.ResumeTiming();
    ImportBase imp;
    bool failed = false;
    imp.Error = [&](const std::string&, bool&) { failed = true; };
    if (!imp.ImportXMLData(Props(ledger), 102, file) || failed) state.SkipWithError("import failed");
  }
  state.SetItemsProcessed(state.iterations() * n);
}
void BM_ImportAccountsParentsFirst(benchmark::State& state) { Import(state, false); }
void BM_ImportAccountsChildrenFirst(benchmark::State& state) { Import(state, true); }
BENCHMARK(BM_ImportAccountsParentsFirst)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ImportAccountsChildrenFirst)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ExportAccounts(benchmark::State& state) {
  auto& w = Space();
  const int n = static_cast<int>(state.range(0));
  std::string ledger = w.NewLedger();
  {
    ImportBase imp;
    if (!imp.ImportXMLData(Props(ledger), 102, w.File(n, false))) state.SkipWithError("import failed");
  }
  std::string out = (w.dir / "out.xml").string();
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(out);
    state.ResumeTiming();
    ExportBase exp;
    if (!exp.ExportXMLData(Props(ledger), 102, out)) state.SkipWithError("export failed");
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ExportAccounts)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
