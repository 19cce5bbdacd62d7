#include "suite/ledger_services.h"

#include "suite/ledger_recordset.h"
#include "suite/ledger_store.h"

namespace morvent {

RecordSetPtr LedgerAccountInfo::GetAccountGroupList(const std::string& propsString) {
  auto store = LedgerStore::ForProps(propsString);
  auto q = store->Prepare("SELECT FGroupID, FName FROM t_AccountGroup ORDER BY FGroupID");
  return RowSet::FromQuery(q);
}

}  // namespace morvent
