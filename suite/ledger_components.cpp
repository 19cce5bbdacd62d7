// Placeholder until the ledger core lands; it must call
// RegisterItemLedgerComponents() too.
#include "platform/registry.h"
#include "suite/item_ledger.h"
namespace morvent {
void RegisterLedgerComponents() { RegisterItemLedgerComponents(); }
}  // namespace morvent
