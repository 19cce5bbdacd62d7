// Placeholder until the exchange log lands.
#include "front/exchange_log.h"
#include "platform/error.h"
namespace morvent {
void WriteErrLog(bool, const std::string&) { throw Error(kErrFile, "Morvent", "exchange log not built yet"); }
DiagnosticSink SetDiagnosticSink(DiagnosticSink) { return {}; }
void ReportDiagnostic(const std::string&) {}
}  // namespace morvent
