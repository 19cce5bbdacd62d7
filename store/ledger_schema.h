#pragma once
// The versioned schema of the ledger file's core tables. A ledger file is an
// SQLite database whose application id is kLedgerApplicationId and whose
// ledger_meta table records the schema version and the ledger's kind.
// The item side adds its own tables (store/item_ledger.h).
#include <cstdint>
#include <string>

namespace morvent {

class LedgerStore;

inline constexpr int32_t kLedgerApplicationId = 0x4D52564E;  // "MRVN"
inline constexpr int kLedgerSchemaVersion = 1;

// Creates the core tables, indexes and count triggers of the newest version
// in an empty database and records the version.
void CreateCoreSchema(LedgerStore& store);

// Brings an older ledger to the newest version; refuses a newer one. Called
// on every open.
void UpgradeSchema(LedgerStore& store, int fromVersion);

// Raises the refusal of a ledger whose stored version (as stored, however
// large) is newer than this program's.
[[noreturn]] void RefuseNewerLedger(LedgerStore& store, const std::string& storedVersion);

}  // namespace morvent
