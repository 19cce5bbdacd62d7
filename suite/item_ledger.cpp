#include "suite/item_ledger.h"

#include <memory>

#include "context/ledger_api.h"
#include "platform/registry.h"
#include "suite/item_metadata.h"
#include "suite/item_services.h"
#include "suite/item_sets.h"
#include "suite/item_tables.h"
#include "suite/ledger_table.h"

namespace morvent {

void RegisterItemLedgerComponents() {
  RegisterFactory(kItemClassSet, [] { return NewItemClassSet(LedgerOfCurrentCall()); });
  RegisterFactory(kItemSet, [] { return std::make_shared<ItemSet>(LedgerOfCurrentCall()); });
  RegisterFactory(kSubMesTypeSet, [] { return NewSubMesTypeSet(LedgerOfCurrentCall()); });
  RegisterFactory(kSubMesSet, [] { return NewSubMesSet(LedgerOfCurrentCall()); });
  RegisterFactory(kItemClassInfo, [] { return std::make_shared<LedgerItemClassInfo>(); });
  RegisterFactory(kItemInfo, [] { return std::make_shared<LedgerItemInfo>(); });
}

void CreateItemSchema(LedgerStore& store) { CreateItemTables(store); }

void SeedItemMetadata(LedgerStore& store) { SeedStandardItemMetadata(store); }

}  // namespace morvent
