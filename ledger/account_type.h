#pragma once
// CAccountType: account types (code 101). Exported only; the account
// handler uses GetInfo and GetID to carry an account's type.
#include <cstdint>
#include <string>

#include "context/ledger_api.h"
#include "context/record.h"
#include "front/handler.h"

namespace morvent {

class CAccountType : public EntityHandler {
 public:
  bool Export(const std::string& PropsString, const std::string& sFile) override;
  // Account types are not imported: False at once, the file unread.
  bool Import(const std::string& sFile) override;

  // "Name" and "Number" of the type with that ID; a record without keys
  // when there is none.
  DataRecordPtr GetInfo(int32_t id);
  // The ID of the type named by the record's "Name"; 0 when none.
  int32_t GetID(const DataRecord& record);

 private:
  void LoadTypeList();
  std::shared_ptr<AccountInfo> info_;
  RecordSetPtr list_;
};

// Criteria text for a Find on a text field: the value quoted, an
// apostrophe doubled.
std::string QuoteCriteria(const std::string& field, const std::string& value);

}  // namespace morvent
