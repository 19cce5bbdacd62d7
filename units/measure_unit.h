#pragma once
// CMeasureUnit: measure units (code 106). Units live in groups, each group
// with one default unit. Export walks the groups in the ledger's order and
// writes each group's units (progress once per group, a group without units
// included). Import finds or creates each unit's group by name (through
// CMeasureUnitGroup) and matches the unit by its name, cut to 80
// characters, within that group; it runs twice over the file: first the
// default units ("Standard" = 1), quietly, so a group's default is in place
// before its other units, then every record with its progress event.
//
// Record keys, in order: "Name", "Number", "Coefficient" (null exports 0;
// an absent key imports 1), "AuxClass" (exported only), "Standard" ("1" for
// the group's default unit, else "0"; absent counts as 0),
// "MeasureUnitGroup" (the group's "Name" and its ID as "Number").
//
// A unit that cannot be imported in the second pass is reported like any
// other failed record (its first-pass failure is not, since the second pass
// meets it again). Accounts and materials use CheckID, GetInfo and GetID;
// their GetID answers 0 for a unit it could not find or store.
//
// An export error names the unit whose record could not be built (each
// such unit is reported), or the group when the failure is the group's; an
// import error names the record.
#include <cstdint>
#include <string>

#include "context/ledger_api.h"
#include "context/record.h"
#include "front/handler.h"
#include "units/unit_group.h"

namespace morvent {

class CMeasureUnit : public EntityHandler {
 public:
  static constexpr size_t kNameWidth = 80;

  // The property string is not consulted.
  bool Export(const std::string& PropsString, const std::string& sFile) override;
  // Opens both sets anew.
  void GetList();
  // True when a unit with that ID exists, in any group; never raises.
  bool CheckID(int32_t id);
  // The unit's record as exported. A unit that does not exist raises
  // "对象变量未设置": ask CheckID first.
  DataRecordPtr GetInfo(int32_t id);
  bool Import(const std::string& sFile) override;
  // Imports the record as Import would and answers the unit's ID; 0 when
  // the unit could not be found or stored (never raises).
  int32_t GetID(const DataRecordPtr& record);
  int32_t GetID(const DataRecord& record);

 private:
  DataRecordPtr BuildRecord(LedgerObject& unit);
  // Adds the records of the group's units. Each unit whose record cannot
  // be built raises its own error event, naming it, and is left out; once
  // the client lets it pass the group's next unit follows.
  void CollectUnits(LedgerObject& group, RecordCollection& out);
  int32_t ImportRecord(const DataRecord& record);
  // The first pass: every default unit of the file, failures left to the
  // second pass.
  void ImportDefaultUnits();

  ObjectSetPtr groups_, units_;
  CMeasureUnitGroup groupHandler_;
  RecordCollectionPtr records_;  // the file being imported
};

}  // namespace morvent
