#include "store/item_ledger.h"

#include <memory>

#include "context/ledger_api.h"
#include "platform/registry.h"
#include "store/item_metadata.h"
#include "store/item_services.h"
#include "store/item_sets.h"
#include "store/item_tables.h"
#include "store/ledger_table.h"

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
