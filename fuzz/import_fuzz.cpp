// A whole import of any data file into a throw-away ledger, every error let
// pass so that each record is tried. The exchange log goes to a temporary
// program directory. The first byte picks the base type.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "front/import_base.h"
#include "fuzz/fuzz_support.h"
#include "platform/msgbox.h"
#include "platform/registry.h"
#include "store/ledger_admin.h"

namespace {

namespace fs = std::filesystem;
using namespace morvent;
using namespace morvent::fuzz;

// A fresh demo-free ledger to copy for each input, and the program
// directory with the schemas.
const std::string& TemplateLedger() {
  static const std::string path = [] {
    std::string home = WorkDir() + "/home";
    fs::create_directories(home);
    for (const auto& e : fs::directory_iterator(SchemaDir())) fs::copy_file(e.path(), home / e.path().filename());
    ::setenv("MORVENT_HOME", home.c_str(), 1);
    std::string ledger = WorkDir() + "/template.db";
    CreateLedger(ledger);
    SetMessageBoxes(std::make_shared<QuietBoxes>());
    EnsureComponentsRegistered();
    return ledger;
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const std::string& source = TemplateLedger();
  const Kind& kind = KindOf(data[0]);
  static unsigned run = 0;
  const std::string ledger = WorkDir() + "/ledger-" + std::to_string(run++) + ".db";
  const std::string file = WorkDir() + "/import.xml";
  fs::copy_file(source, ledger, fs::copy_options::overwrite_existing);
  WriteBytes(file, std::string_view(reinterpret_cast<const char*>(data) + 2, size - 2));

  auto options = NewRecord();
  options->SetValue("ImpStyle", static_cast<int32_t>(1 + (data[1] & 1)));
  options->SetValue("CodingStyle", static_cast<int32_t>(1 + ((data[1] >> 1) & 1)));
  {
    ImportBase imp;
    imp.Error = [](const std::string&, bool& cancel) { cancel = false; };
    imp.ImportOneRow = [](int32_t, double, bool& cancel) { cancel = false; };
    (void)imp.ImportXMLData("Data Source=" + ledger + ";AcctType=" + (data[1] & 4 ? "GY" : "QY"), kind.code, file,
                            options.get());
  }
  std::error_code ec;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(ledger + suffix, ec);
  fs::remove(WorkDir() + "/home/Morvent_log.xml", ec);
  return 0;
}
