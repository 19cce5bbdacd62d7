#pragma once
// The embedded ledger: one SQLite file per ledger, written in WAL mode.
// The driver opens and checks the file itself (a ledger carries its own
// application id and a ledger_meta table), keeps the row counts of grouped
// work with hooks instead of triggers (store/ledger_counts.h) and words
// SQLite's result codes as the store's failure classes.
#include <memory>
#include <string>

#include "store/driver.h"

namespace morvent {

// Opens an existing ledger file (canonical path) for reading and writing,
// or only for reading when its folder or medium denies the journal. Looking
// never writes. Raises the ledger's Chinese error naming the path when the
// file is in use, damaged or no ledger.
OpenedLedger OpenSqliteLedger(const std::string& path);

// Makes a brand-new, empty database file for a ledger; refuses an
// existing path.
std::unique_ptr<DbConnection> CreateSqliteLedger(const std::string& path);

// Tests only: how long a connection waits for a locked ledger (<= 0: the
// usual five seconds).
void SetSqliteBusyTimeout(int milliseconds);

}  // namespace morvent
