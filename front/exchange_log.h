#pragma once
// The exchange log "Morvent_log.xml" in the program's directory: one
// "ErrLog" entry (Direct, Time, ErrMsg) per error event, oldest first. A new
// log is written in GB2312; an existing one is extended in the encoding it
// already has, in place before its closing tag, so an entry costs the same
// however long the log is and nothing written before is touched again.
// Writers in other threads and processes take turns through the lock file
// "Morvent_log.xml.lock" (docs/log.md). A log cut short by a killed writer is
// cut back to its last whole entry; a log damaged in any other way is never
// written to.
#include <functional>
#include <string>

namespace morvent {

inline constexpr const char* kLogFileName = "Morvent_log.xml";
inline constexpr const char* kDirectExport = "导出基础资料数据";
inline constexpr const char* kDirectImport = "导入基础资料数据";

// Where the log is (or would be): in ProgramDirectory(), so MORVENT_HOME
// moves it.
std::string ExchangeLogPath();

// Appends one entry; raises an Error when the log cannot be written or the
// existing file is not a log this writer can extend (it is then left as it
// is). Only the start and the end of an existing log are read. "Time" is the local "yyyy-mm-dd hh:mm:ss". Text that XML cannot carry
// (control characters, bytes that are not UTF-8) is stored as U+FFFD.
void WriteErrLog(bool bExport, const std::string& sErrMsg);

// Where the front ends report a log write that failed: such a failure does
// not end the export or import in progress. The default prints on stderr.
// Reports from several threads are delivered one at a time; a sink must not
// itself report or replace the sink. SetDiagnosticSink answers the previous
// sink (empty for the default); an empty sink restores the default.
using DiagnosticSink = std::function<void(const std::string& message)>;
DiagnosticSink SetDiagnosticSink(DiagnosticSink sink);
void ReportDiagnostic(const std::string& message);

}  // namespace morvent
