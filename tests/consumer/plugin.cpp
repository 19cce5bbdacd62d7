// A plugin built as a shared object with the installed library linked in:
// the host knows nothing of the library, only the C entry below.
#include <morvent/export_base.h>
#include <morvent/context/property_string.h>

#include <cstdint>
#include <string>

// Exports one kind of the ledger into file; answers the rows written, or
// -1 when the export did not get to its end.
extern "C" __attribute__((visibility("default"))) int morvent_plugin_export(const char* ledger, int code,
                                                                              const char* file) {
  int32_t rows = 0;
  morvent::ExportBase exp;
  exp.ExportOneRow = [&](int32_t row, double, bool&) { rows = row; };
  exp.Error = [](const std::string&, bool& cancel) { cancel = true; };
  return exp.ExportXMLData(morvent::LedgerPropertyString(ledger, "QY"), code, file) ? rows : -1;
}
