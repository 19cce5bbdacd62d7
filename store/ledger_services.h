#pragma once
// The account information services of the embedded ledger. Each call opens
// (or shares) the thread's store of the ledger its property string names.
#include "context/ledger_api.h"

namespace morvent {

class LedgerAccountInfo : public AccountInfo {
 public:
  // The account types ordered by FGroupID, fields "FGroupID" and "FName".
  RecordSetPtr GetAccountGroupList(const std::string& propsString) override;
};

class LedgerAccountUpdate : public AccountUpdate {
 public:
  // Stores the record's extended properties for the account: "FAccountItem"
  // (a RecordCollection of records with "FItemClassID" and "FBalChecked")
  // replaces the account's attached item classes; every other plain value is
  // stored under its key. An unknown account is refused.
  void Update(const std::string& propsString, int32_t accountId, const DataRecordPtr& properties) override;
};

}  // namespace morvent
