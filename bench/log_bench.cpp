// 1,500 error entries into a fresh exchange log, and into one already
// holding 3,000 entries, side by side: an entry must cost the same however
// long the log has grown (the two times may differ by at most half).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "front/exchange_log.h"

namespace {

using namespace morvent;
namespace fs = std::filesystem;

constexpr int kEntries = 1500;
constexpr int kGrown = 3000;

// Messages shaped like a handler's: prefix, record name, CR, description.
std::string Message(int i) {
  return "引入部门资料错误，当前记录名称为：部门" + std::to_string(i) + "\r错误信息：\r代码" + std::to_string(i) +
         " 编码中不能打点，该记录无法引入！";
}

struct Workspace {
  fs::path dir = fs::temp_directory_path() / ("morvent-bench-log-" + std::to_string(::getpid()));
  fs::path log = dir / kLogFileName;
  fs::path grown = dir / "grown.xml";
  Workspace() {
    fs::create_directories(dir);
    setenv("MORVENT_HOME", dir.c_str(), 1);
    for (int i = 0; i < kGrown; ++i) WriteErrLog(i % 2 == 0, Message(i));
    fs::rename(log, grown);
  }
  ~Workspace() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

Workspace& Space() {
  static Workspace w;
  return w;
}

void Run(benchmark::State& state, bool grown) {
  Workspace& w = Space();
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(w.log);
    if (grown) fs::copy_file(w.grown, w.log);
    state.ResumeTiming();
    for (int i = 0; i < kEntries; ++i) WriteErrLog(false, Message(i));
  }
}

void BM_Log1500IntoFreshLog(benchmark::State& state) { Run(state, false); }
void BM_Log1500IntoLogOf3000(benchmark::State& state) { Run(state, true); }

BENCHMARK(BM_Log1500IntoFreshLog)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();
BENCHMARK(BM_Log1500IntoLogOf3000)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
