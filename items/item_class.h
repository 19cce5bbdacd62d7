#pragma once
// CItemClass: the ledger's accounting-item classes (customers, departments,
// ...), which accounts attach. No base-type code: only the account handler
// uses it, to turn an attached class's "Name" and "Number" back into its ID.
//
// Record keys: "Name", "Number".
#include <cstdint>
#include <map>
#include <string>
#include <utility>

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
  // A class found before is read again by its ID and answered while its
  // name and number still match; otherwise the whole set is read again.
  int32_t GetID(const DataRecord& record);

 private:
  void PrepareSets();
  ObjectSetPtr set_;
  // (name, number) → the class found for them; a ledger has few classes.
  static constexpr size_t kFoundKept = 256;
  std::map<std::pair<std::string, std::string>, int32_t> found_;
};

}  // namespace morvent
