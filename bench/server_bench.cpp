// The same import into a ledger file and into a ledger on a PostgreSQL
// server, side by side: a flat file of departments (100,000 unless given),
// best of N runs (3 unless given) each into a new ledger, wall time and the
// process's CPU time, and the round trips to the server per record.
//   bin/server_bench [records] [runs]
// The server: MORVENT_TEST_PG (a libpq URI of a database to make ledger
// databases from); scripts/bench-server.sh starts a throw-away one.
// Build with -DMORVENT_BENCH=ON.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "front/import_base.h"
#include "platform/registry.h"
#include "store/driver.h"
#include "store/ledger_admin.h"
#include "store/pg_driver.h"

namespace {

using namespace morvent;
namespace fs = std::filesystem;

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Result {
  double wall = 1e300, cpu = 0;
  double tripsPerRecord = 0;
};

bool Maintain(const std::string& server, const std::string& sql) {
  return ConnectServer(server)->Exec(sql.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  const char* server = std::getenv("MORVENT_TEST_PG");
  if (!server || !*server) {
    std::fprintf(stderr, "MORVENT_TEST_PG names no server (scripts/bench-server.sh starts one)\n");
    return 2;
  }
  EnsureComponentsRegistered();
  const fs::path dir = fs::temp_directory_path() / ("morvent-server-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  for (const auto& e : fs::directory_iterator(std::string(MORVENT_SOURCE_DIR) + "/schemas"))
    fs::copy_file(e.path(), dir / e.path().filename(), fs::copy_options::overwrite_existing);
  setenv("MORVENT_HOME", dir.c_str(), 1);
  const std::string file = (dir / "dept.xml").string();
  {
    std::ofstream out(file);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DepartmentList>\n";
    for (int i = 1; i <= records; ++i)
      out << "<Department><Number>D" << i << "</Number><Name>部门" << i << "</Name></Department>\n";
    out << "</DepartmentList>\n";
  }
  static const std::regex uriPath(R"(^(postgres(?:ql)?://[^/?#]*)(/[^?#]*)?)", std::regex::icase);
  Result results[2];
  for (int engine = 0; engine < 2; ++engine) {
    for (int run = 1; run <= runs; ++run) {
      std::string ledger;
      const std::string name = "morvent_bench_" + std::to_string(::getpid()) + "_" + std::to_string(run);
      if (engine == 0) {
        ledger = (dir / (name + ".db")).string();
      } else {
        Maintain(server, "DROP DATABASE IF EXISTS " + name);
        Maintain(server, "CREATE DATABASE " + name);
        const std::string s = server;
        ledger = std::regex_search(s, uriPath) ? std::regex_replace(s, uriPath, "$1/" + name) : s + " dbname=" + name;
      }
      CreateLedger(ledger);
      const uint64_t trips = ServerRoundTrips();
      const double cpu = CpuSeconds();
      const auto start = std::chrono::steady_clock::now();
      ImportBase imp;
      const bool ok = imp.ImportXMLData("Data Source=" + ledger + ";AcctType=QY", 120, file);
      const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      const double used = CpuSeconds() - cpu;
      if (!ok) std::fprintf(stderr, "run %d on %s failed\n", run, engine == 0 ? "the file" : "the server");
      if (wall < results[engine].wall)
        results[engine] = {wall, used, static_cast<double>(ServerRoundTrips() - trips) / records};
      if (engine == 1) Maintain(server, "DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
    }
  }
  fs::remove_all(dir);
  std::printf("%d departments, best of %d\n", records, runs);
  std::printf("%-10s %10s %10s %12s %14s\n", "ledger", "wall s", "CPU s", "records/s", "trips/record");
  const char* names[] = {"file", "server"};
  for (int e = 0; e < 2; ++e)
    std::printf("%-10s %10.2f %10.2f %12.0f %14.2f\n", names[e], results[e].wall, results[e].cpu,
                records / results[e].wall, results[e].tripsPerRecord);
  std::printf("server / file: %.1fx wall\n", results[1].wall / results[0].wall);
  return 0;
}
