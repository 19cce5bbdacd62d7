// A whole import of any data file into a throw-away ledger, every error let
// pass so that each record is tried. The exchange log goes to a temporary
// program directory.
//
// The input starts with two bytes, the rest is the file:
//   byte 0  the base type (its position in kKinds, modulo their number)
//   byte 1  bit 0 ImpStyle 2 (else 1), bit 1 CodingStyle 2 (else 1),
//           bit 2 a GY ledger (else QY), bit 3 a dry run,
//           bit 4 the ledger starts with the demonstration data (else empty)
// A dry run must leave the ledger as it was and count what the real run
// that follows it on the same ledger counts.
#include <sqlite3.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "front/import_base.h"
#include "fuzz/fuzz_support.h"
#include "platform/error.h"
#include "platform/msgbox.h"
#include "platform/registry.h"
#include "store/ledger_admin.h"

namespace {

namespace fs = std::filesystem;
using namespace morvent;
using namespace morvent::fuzz;

// Every row of every table, sorted: equal for two ledgers holding the same
// data whatever their pages look like.
std::vector<std::string> Rows(const std::string& ledger) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(ledger.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) std::abort();
  std::vector<std::string> tables, rows;
  auto each = [&](const std::string& sql, auto&& row) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) std::abort();
    while (sqlite3_step(st) == SQLITE_ROW) row(st);
    sqlite3_finalize(st);
  };
  each("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name",
       [&](sqlite3_stmt* st) { tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))); });
  for (const auto& t : tables)
    each("SELECT * FROM \"" + t + "\"", [&](sqlite3_stmt* st) {
      std::string r = t;
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        const unsigned char* v = sqlite3_column_text(st, c);
        r += v ? "|" + std::string(reinterpret_cast<const char*>(v), sqlite3_column_bytes(st, c)) : "|<null>";
      }
      rows.push_back(std::move(r));
    });
  sqlite3_close(db);
  std::sort(rows.begin(), rows.end());
  return rows;
}

struct Template {
  std::string path;
  std::vector<std::string> rows;
};

// The four starting ledgers (empty or demo, GY or QY), made once, with the
// program directory holding the schemas.
const Template& TemplateLedger(bool demo, bool gy) {
  static const std::map<int, Template> all = [] {
    std::string home = WorkDir() + "/home";
    fs::create_directories(home);
    for (const auto& e : fs::directory_iterator(SchemaDir())) fs::copy_file(e.path(), home / e.path().filename());
    ::setenv("MORVENT_HOME", home.c_str(), 1);
    SetMessageBoxes(std::make_shared<QuietBoxes>());
    EnsureComponentsRegistered();
    std::map<int, Template> made;
    for (int k = 0; k < 4; ++k) {
      std::string ledger = WorkDir() + "/template-" + std::to_string(k) + ".db";
      CreateLedger(ledger, k & 1 ? "GY" : "QY");
      if (k & 2) FillDemoLedger(ledger);
      made[k] = {ledger, Rows(ledger)};
    }
    return made;
  }();
  return all.at((demo ? 2 : 0) | (gy ? 1 : 0));
}

ImportCounts RunImport(const std::string& props, int32_t code, const std::string& file,
                       const OptionDictionary& options) {
  ImportBase imp;
  imp.Error = [](const std::string&, bool& cancel) { cancel = false; };
  imp.ImportOneRow = [](int32_t, double, bool& cancel) { cancel = false; };
  (void)imp.ImportXMLData(props, code, file, &options);
  return imp.LastCounts();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const Kind& kind = KindOf(data[0]);
  const uint8_t flags = data[1];
  const bool gy = flags & 4, dry = flags & 8, demo = flags & 16;
  const Template& source = TemplateLedger(demo, gy);
  static unsigned run = 0;
  const std::string ledger = WorkDir() + "/ledger-" + std::to_string(run++) + ".db";
  const std::string file = WorkDir() + "/import.xml";
  fs::copy_file(source.path, ledger, fs::copy_options::overwrite_existing);
  WriteBytes(file, std::string_view(reinterpret_cast<const char*>(data) + 2, size - 2));

  auto options = NewRecord();
  options->SetValue("ImpStyle", static_cast<int32_t>(1 + (flags & 1)));
  options->SetValue("CodingStyle", static_cast<int32_t>(1 + ((flags >> 1) & 1)));
  const std::string props = "Data Source=" + ledger + ";AcctType=" + (gy ? "GY" : "QY");
  if (dry) {
    ImportCounts tried;
    {
      DryRun d;
      tried = RunImport(props, kind.code, file, *options);
      try {
        d.Finish();
      } catch (const Error&) {
        std::abort();  // nothing here makes a rollback fail
      }
    }
    if (Rows(ledger) != source.rows) std::abort();
    if (RunImport(props, kind.code, file, *options) != tried) std::abort();
  } else {
    (void)RunImport(props, kind.code, file, *options);
  }
  std::error_code ec;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(ledger + suffix, ec);
  fs::remove(WorkDir() + "/home/Morvent_log.xml", ec);
  return 0;
}
