#pragma once
// The tool's commands, each answering the process exit status.
#include <optional>
#include <string>

namespace morvent::cli {

// The exit statuses of every command (docs/cli.md, "Exit status").
inline constexpr int kExitTrue = 0;
// Stopped: the call answered False (an error it was not let pass, an
// overwrite declined).
inline constexpr int kExitFalse = 1;
inline constexpr int kExitUsage = 2;
// Failed: the call ended with an error, or the tool could not write its
// result after a True call.
inline constexpr int kExitError = 3;
// True, but errors were let pass (--on-error skip).
inline constexpr int kExitLetPass = 4;
// The ledger or a data file could not be opened: missing, unreadable, not a
// ledger, or an export's folder that cannot take the file.
inline constexpr int kExitNoOpen = 5;
// Ctrl-C stopped the run, as shells report a process SIGINT ended.
inline constexpr int kExitInterrupted = 130;

struct RunOptions {
  std::string ledger;
  std::string props;
  std::string type;
  std::string file;
  // A folder: every kind, one file each named by its element.
  std::string all;
  std::string acctType;
  std::string onError = "stop";
  std::string events = "text";
  bool overwrite = false;
  // Text output without progress: errors, warnings and the summary only.
  bool quiet = false;
  // Import only: run everything, kinds of --all included, in one
  // transaction per ledger that is rolled back at the end.
  bool dryRun = false;
  // A check: a warning about the file (a number given twice…) counts as an
  // error let pass.
  bool warningIsFinding = false;
  // Spreadsheets: a CSV file's encoding (detected when empty), and where an
  // import writes its failed rows.
  std::string encoding;
  std::string errorsOut;
  std::optional<int> impStyle;
  std::optional<int> codingStyle;
};

// With options.all: a whole-ledger run, kinds in import order; the exit
// status is the worst of the kinds'.
int RunExport(const RunOptions& options);
int RunImport(const RunOptions& options);
int RunLedgerInit(const std::string& path, const std::string& kind, bool demo);
int RunTypes(bool servedOnly);

}  // namespace morvent::cli
