#pragma once
// CItemClass: the ledger's accounting-item classes (customers, departments,
// ...), which accounts attach. No base-type code: only the account handler
// uses it, to turn an attached class's "Name" and "Number" back into its ID.
//
// Record keys: "Name", "Number".
#include <cstdint>
#include <string>

#include "context/ledger_api.h"
#include "context/record.h"
#include "front/handler.h"

namespace morvent {

class CItemClass : public EntityHandler {
 public:
  // Writes every class to the data file ("ItemClass" records); raises no
  // progress event. The property string is not consulted.
  bool Export(const std::string& PropsString, const std::string& sFile) override;
  // Item classes are not imported: False at once, the file unread.
  bool Import(const std::string& sFile) override;

  // The class's record; an empty record when there is none or any step
  // fails.
  DataRecordPtr GetInfo(int32_t id);
  DataRecordPtr PackageItemClass(LedgerObject& itemClass);
  // The ID of the class whose name and number both equal the record's
  // (absent keys read as empty texts); 0 when none. Never creates a class.
  // The set is read again on every call.
  int32_t GetID(const DataRecord& record);

 private:
  void PrepareSets();
  ObjectSetPtr set_;
};

}  // namespace morvent
