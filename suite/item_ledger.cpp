// Placeholder until the item side of the ledger lands.
#include "suite/item_ledger.h"
namespace morvent {
void RegisterItemLedgerComponents() {}
void CreateItemSchema(LedgerStore&) {}
void SeedItemMetadata(LedgerStore&) {}
void FillDemoItems(LedgerStore&) {}
}  // namespace morvent
