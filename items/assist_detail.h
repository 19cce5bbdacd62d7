#pragma once
// CAssistDetail: assist-data entries (code 122), the values of the assist-
// data types (one region, one status, ...). Exported type by type; on
// import an entry is matched by its number within the type that its nested
// "AssistType" record names (found or created through CAssistType).
//
// Record keys, in order: "Name", "Number", "AssistType" (a record with the
// type's "Name" and the entry's type ID as "Number").
//
// The item handlers use it as the lookup behind their assist-data fields:
//   kind.lookups = {{"AssistDetail", LookupOf<CAssistDetail>()}, ...};
// CheckID and GetInfo nest an entry on export; GetID turns a nested record
// back into an entry ID on import, looking the entry up by name among the
// values the item class's property draws from. GetID never creates one.
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>

#include "context/ledger_api.h"
#include "context/record.h"
#include "front/handler.h"

namespace morvent {

class CAssistDetail : public EntityHandler {
 public:
  // The property string is not consulted.
  bool Export(const std::string& PropsString, const std::string& sFile) override;
  // True when an entry of any type has that ID; never raises.
  bool CheckID(int32_t id);
  // The entry's record; an empty record when there is none. typeName
  // stands in for the type's name when the type cannot be found.
  DataRecordPtr GetInfo(int32_t id, const std::string& typeName);
  bool Import(const std::string& sFile) override;
  // Imports one entry record and answers the entry's ID: the type by the
  // nested record's name (created when missing), the entry by its number
  // cut to 30 characters, kept (ImpStyle 1) or overwritten (ImpStyle 2).
  int32_t ImportAssistDetail(const DataRecord& record);
  // The ID of the entry whose name equals the record's "Name" exactly,
  // among the entries the property (its Chinese name, "区域") of the item
  // class draws from; 0 when there is none or the class has no such
  // property. Asks the ledger under the current exchange's property string,
  // once per property for the handler's life: an item exchange using it as
  // a lookup never changes assist data (this handler's own imports start
  // the reading afresh).
  int32_t GetID(const DataRecord& record, int32_t itemClassId, const std::string& propertyName);

  // Characters of "Number" that make the match key and the stored number.
  static constexpr size_t kNumberWidth = 30;

 private:
  void PrepareSets();
  // Never fails once the record exists: a failure leaves a type record with
  // the type ID and an empty name.
  DataRecordPtr BuildRecord(LedgerObject& entry, const std::string& typeName);
  // Leaves the place of the export's walk over the types untouched, so the
  // export visits every type once.
  bool TypeExists(int32_t typeId);
  // The ID of the type's entry with exactly that number; 0 when none.
  int32_t FindDetail(int32_t typeId, const std::string& number);
  void CollectEntries(LedgerObject& type, RecordCollection& collection);

  // Entry IDs by name, the first of each name in the ledger's list.
  using NameIndex = std::unordered_map<std::string, int32_t>;
  const NameIndex& PropertyValues(int32_t itemClassId, const std::string& propertyName);

  ObjectSetPtr types_, entries_;
  std::string valuesProps_;
  std::map<std::pair<int32_t, std::string>, NameIndex> values_;
};

}  // namespace morvent
