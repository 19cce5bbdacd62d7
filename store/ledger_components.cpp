// Registers the embedded ledger's components by programmatic name.
#include <memory>

#include "platform/call_scope.h"
#include "platform/registry.h"
#include "store/item_ledger.h"
#include "store/ledger_account.h"
#include "store/ledger_basic_sets.h"
#include "store/ledger_services.h"
#include "store/ledger_store.h"
#include "store/ledger_table.h"
#include "store/ledger_units.h"

namespace morvent {

void RegisterLedgerComponents() {
  RegisterFactory(kAccountSet, [] { return NewAccountSet(LedgerOfCurrentCall()); });
  RegisterFactory(kCurrencySet, [] { return NewCurrencySet(LedgerOfCurrentCall()); });
  RegisterFactory(kSettTypeSet, [] { return NewSettTypeSet(LedgerOfCurrentCall()); });
  RegisterFactory(kVoucherGroupSet, [] { return NewVoucherGroupSet(LedgerOfCurrentCall()); });
  RegisterFactory(kMeasureUnitGroupSet, [] { return NewMeasureUnitGroupSet(LedgerOfCurrentCall()); });
  RegisterFactory(kMeasureUnitSet, [] { return NewMeasureUnitSet(LedgerOfCurrentCall()); });
  RegisterFactory(kAccountInfo, [] { return std::make_shared<LedgerAccountInfo>(); });
  RegisterFactory(kAccountUpdate, [] { return std::make_shared<LedgerAccountUpdate>(); });
  RegisterCallEndHook(CommitThreadStores);
  RegisterClientWaitHook(CommitThreadStores);
  RegisterRecordEndHook(CommitDueThreadStores);
  RegisterItemLedgerComponents();
}

}  // namespace morvent
