// Registers the embedded ledger's components by programmatic name.
#include <memory>

#include "platform/call_scope.h"
#include "platform/registry.h"
#include "suite/item_ledger.h"
#include "suite/ledger_services.h"
#include "suite/ledger_store.h"

namespace morvent {

void RegisterLedgerComponents() {
  RegisterFactory(kAccountInfo, [] { return std::make_shared<LedgerAccountInfo>(); });
  RegisterCallEndHook(CommitThreadStores);
  RegisterItemLedgerComponents();
}

}  // namespace morvent
