#pragma once
// The tool's commands, each answering the process exit status.
#include <optional>
#include <string>

namespace morvent::cli {

inline constexpr int kExitTrue = 0;
inline constexpr int kExitFalse = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitError = 3;

struct RunOptions {
  std::string ledger;
  std::string props;
  std::string type;
  std::string file;
  std::string acctType;
  std::string onError = "stop";
  std::string events = "text";
  bool overwrite = false;
  std::optional<int> impStyle;
  std::optional<int> codingStyle;
};

int RunExport(const RunOptions& options);
int RunImport(const RunOptions& options);
int RunLedgerInit(const std::string& path, const std::string& kind, bool demo);
int RunTypes(bool servedOnly);

}  // namespace morvent::cli
