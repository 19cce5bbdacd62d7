#pragma once
// Looking inside without changing anything: a ledger's facts and the
// exchange log's entries. Each answers the process exit status.
#include <optional>
#include <string>

namespace morvent::cli {

// Prints the ledger's path, kind (AcctType), schema version and the objects
// it holds per kind: every kind of the code table ("101\tAccountType\t科目大类\t6",
// 0 when none), then item classes the code table does not know; what the
// ledger holds made harmless (ForTerminal). A missing file or one that is
// not a ledger is refused with the store's own message; a ledger of an
// older schema version is described, its version line naming the upgrade.
int RunLedgerInfo(const std::string& path);

// Prints where the exchange log is ("交换日志：PATH"), then one line per
// entry, oldest first: time, direction and message as the log stores them,
// separated by tabs, each made harmless on one line (ForTerminal). tail: only
// the last so many. No log yet is said and is no failure; a damaged log is
// reported on stderr (status 3) after the whole entries read before the
// damage.
int RunLog(std::optional<int> tail);

}  // namespace morvent::cli
