#pragma once
// The exchange log "Morvent_log.xml" in the program's directory: one
// "ErrLog" entry (Direct, Time, ErrMsg) per error event, oldest first, saved
// in GB2312. Writers in other threads and processes are serialized, the file
// is replaced atomically, and a log that cannot be loaded is never
// overwritten.
#include <functional>
#include <string>

namespace morvent {

inline constexpr const char* kLogFileName = "Morvent_log.xml";
inline constexpr const char* kDirectExport = "导出基础资料数据";
inline constexpr const char* kDirectImport = "导入基础资料数据";

// Appends one entry; raises an Error when the log cannot be written.
void WriteErrLog(bool bExport, const std::string& sErrMsg);

// Where the front ends report a log write that failed: such a failure does
// not end the export or import in progress. The default prints on stderr.
using DiagnosticSink = std::function<void(const std::string& message)>;
DiagnosticSink SetDiagnosticSink(DiagnosticSink sink);
void ReportDiagnostic(const std::string& message);

}  // namespace morvent
