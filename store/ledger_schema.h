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
// Version 2 keeps an item's fields in its own row (t_Item.FValues) instead
// of one t_ItemValue row per field; t_ItemValue is a view since.
inline constexpr int kLedgerSchemaVersion = 2;

// Creates the core tables, indexes and count triggers of the newest version
// in an empty database and records the version.
void CreateCoreSchema(LedgerStore& store);

// What UpgradeLedger did.
struct LedgerUpgrade {
  int from = 0;  // the version found; == to when there was nothing to do
  int to = 0;
  int64_t items = 0;   // items whose fields moved into their own row
  int64_t fields = 0;  // the field values they hold
  int64_t orphans = 0;  // field rows of items that no longer exist, left out
};

// Brings a ledger opened by LedgerStore::ForPathAnyVersion to the newest
// version in one transaction: a failure leaves it as it was. A newer one is
// refused (RefuseNewerLedger). Never run on open: an older ledger is refused
// there instead (RefuseOlderLedger).
LedgerUpgrade UpgradeLedger(LedgerStore& store);

// Raises the refusal of a ledger whose stored version (as stored, however
// large) is newer than this program's.
[[noreturn]] void RefuseNewerLedger(LedgerStore& store, const std::string& storedVersion);

// Raises the refusal of a ledger of an older version, naming the command
// that upgrades it.
[[noreturn]] void RefuseOlderLedger(LedgerStore& store, int storedVersion);

}  // namespace morvent
