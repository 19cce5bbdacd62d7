#include "store/ledger_services.h"

#include "platform/error.h"
#include "store/ledger_account.h"
#include "store/ledger_recordset.h"
#include "store/ledger_store.h"

namespace morvent {

RecordSetPtr LedgerAccountInfo::GetAccountGroupList(const std::string& propsString) {
  auto store = LedgerStore::ForProps(propsString);
  auto q = store->Prepare("SELECT FGroupID, FName FROM t_AccountGroup ORDER BY FGroupID");
  return RowSet::FromQuery(q);
}

void LedgerAccountUpdate::Update(const std::string& propsString, int32_t accountId, const DataRecordPtr& properties) {
  auto store = LedgerStore::ForProps(propsString);
  StoreAccountExtension(*store, accountId, Must(properties));
}

}  // namespace morvent
