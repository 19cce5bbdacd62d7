#pragma once
// CMeasureUnitGroup: measure-unit groups (code 105). A group carries only a
// name and is matched by it (cut to 80 characters), never by number; the
// exported "Number" is the group's ID in this ledger and is not read back.
//
// Record keys, in order: "Name", "Number". The unit handler nests the same
// record under each unit's "MeasureUnitGroup" and hands it to GetID, which
// finds the group or creates it.
//
// Error messages name the current group (export) or record (import);
// before any is current, or after the last, the name is empty.
#include <cstdint>
#include <string>

#include "context/ledger_api.h"
#include "context/record.h"
#include "front/handler.h"

namespace morvent {

class CMeasureUnitGroup : public EntityHandler {
 public:
  // Characters of "Name" that make the match key and the stored name.
  static constexpr size_t kNameWidth = 80;

  // The property string is not consulted.
  bool Export(const std::string& PropsString, const std::string& sFile) override;
  // Opens the group set once per handler.
  void GetList();
  // True when a group with that ID exists; never raises.
  bool CheckID(int32_t id);
  // The group's record; an empty record when there is none.
  DataRecordPtr GetInfo(int32_t id);
  bool Import(const std::string& sFile) override;
  // Imports the record as Import would (ImpStyle 1 keeps a group of that
  // name, 2 writes its name again) and answers the group's ID. A record
  // whose name is empty or blank fails with "名称不能为空".
  int32_t GetID(const DataRecord& record);

 private:
  DataRecordPtr BuildRecord(LedgerObject& group);
  int32_t ImportRecord(const DataRecord& record);

  ObjectSetPtr set_;
};

}  // namespace morvent
