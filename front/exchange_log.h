#pragma once
// The exchange log "Morvent_log.xml" in the program's directory (see
// ExchangeLogPath): one "ErrLog" entry (Direct, Time, ErrMsg) per error event, oldest first. A new
// log is written in GB2312; an existing one is extended in the encoding it
// already has, in place before its closing tag, so an entry costs the same
// however long the log is and nothing written before is touched again.
// Writers in other threads and processes take turns through the lock file
// "Morvent_log.xml.lock" (docs/log.md).
//
// One rule says what a sound log is, for the writer and for every reader
// of the log (`morvent log`):
// - it starts, after an optional UTF-8 byte-order mark, with an XML
//   declaration naming UTF-8, GB2312, GBK, GB18030, EUC-CN, ISO-8859-1,
//   ASCII or no encoding, then after blanks only the root <Morvent> without
//   attributes (or an empty <Morvent/>);
// - it is well-formed XML without a document type, and ends with </Morvent>
//   and blanks only;
// - its entries are the ErrLog elements directly in the root, in order;
//   anything else in the root (other elements and all they hold, comments,
//   processing instructions, text) is someone else's: the writer keeps it
//   and readers pass over it.
// A log cut short in its last entry by a killed writer breaks the rule: the
// next write cuts it back to its last whole entry. A log that breaks the
// rule in any other way is never written to. The writer looks only at the
// start and the end, so damage in the middle is found by readers only.
#include <functional>
#include <string>

namespace morvent {

inline constexpr const char* kLogFileName = "Morvent_log.xml";
inline constexpr const char* kDirectExport = "导出基础资料数据";
inline constexpr const char* kDirectImport = "导入基础资料数据";

// Where the log is (or would be): in ProgramDirectory(), so MORVENT_HOME
// moves it; when this process may not write there, in StateDirectory(),
// which the first write makes and reports once through ReportDiagnostic.
std::string ExchangeLogPath();

// Appends one entry; raises an Error when the log cannot be written or the
// existing file is not a log this writer can extend (it is then left as it
// is). Only the start and the end of an existing log are read. "Time" is the local "yyyy-mm-dd hh:mm:ss". Text that XML cannot carry
// (control characters, bytes that are not UTF-8) is stored as U+FFFD.
void WriteErrLog(bool bExport, const std::string& sErrMsg);

// One entry as the log holds it.
struct LogEntry {
  std::string time, direct, message;
};

// Reads the log at `path` by the rule above, handing on each entry in order
// (an answer of false stops the read, as sound). Answers what breaks the
// rule ("" when nothing does), after handing on the entries before it:
// "第 N 行：<parser's words>", "日志中不能有文档类型声明", "根元素应为
// Morvent，而不是 X", "文件中没有日志内容", or which part of the start or
// the end is not as the rule says.
std::string ReadExchangeLog(const std::string& path, const std::function<bool(const LogEntry&)>& each);

// Where the front ends report a log write that failed: such a failure does
// not end the export or import in progress. The default prints on stderr.
// Reports from several threads are delivered one at a time; a sink must not
// itself report or replace the sink. SetDiagnosticSink answers the previous
// sink (empty for the default); an empty sink restores the default.
using DiagnosticSink = std::function<void(const std::string& message)>;
DiagnosticSink SetDiagnosticSink(DiagnosticSink sink);
void ReportDiagnostic(const std::string& message);

}  // namespace morvent
