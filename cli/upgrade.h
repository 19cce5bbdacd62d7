#pragma once
// `morvent ledger upgrade PATH`: brings a ledger of an older schema version
// to this program's, in place and in one transaction.
#include <string>

namespace morvent::cli {

// Upgrades the ledger (file or server) and says what it did on stderr: the
// versions, the items and field values moved. A ledger already at this
// version is said so, and is no failure. Answers 0 on success, 5 when the
// ledger cannot be opened (missing, no ledger, damaged, newer), 3 when the
// upgrade fails (the ledger is left as it was).
int RunLedgerUpgrade(const std::string& path);

}  // namespace morvent::cli
