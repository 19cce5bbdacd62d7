#include "units/measure_unit.h"

#include "front/trap.h"
#include "front/walks.h"
#include "platform/call_scope.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace morvent {

namespace {
constexpr const char* kSchema = "SchemaMeasureUnit.xml";
constexpr const char* kElement = "MeasureUnit";

constexpr const char* kExportError = "导出计量单位资料出错，当前记录名称为：";

bool IsDefault(const DataRecord& record) { return VarEquals(record.GetValue("Standard", int32_t{0}), int32_t{1}); }

// Ends an export whose client left a unit's error cancelled. The error is
// reported already, so this is no std::exception: the walk's trap lets it
// pass without a second event, and Export answers False.
struct ExportStopped {};
}  // namespace

void CMeasureUnit::GetList() {
  auto groups = CreateObjectAs<ObjectSet>(kMeasureUnitGroupSet);
  groups->Refresh();
  auto units = CreateObjectAs<ObjectSet>(kMeasureUnitSet);
  groups_ = groups;
  units_ = units;
}

bool CMeasureUnit::CheckID(int32_t id) {
  try {
    GetList();
    return units_->Item(id) != nullptr;
  } catch (...) {
    return false;
  }
}

DataRecordPtr CMeasureUnit::GetInfo(int32_t id) {
  if (!units_) GetList();
  return BuildRecord(Must(units_->GetUnit(id)));
}

int32_t CMeasureUnit::GetID(const DataRecordPtr& record) { return record ? GetID(*record) : 0; }

int32_t CMeasureUnit::GetID(const DataRecord& record) {
  try {
    GetList();
    return ImportRecord(record);
  } catch (const std::exception&) {
    return 0;
  }
}

DataRecordPtr CMeasureUnit::BuildRecord(LedgerObject& unit) {
  auto r = NewRecord();
  r->SetValue("Name", unit.Get("Name"));
  r->SetValue("Number", unit.Get("Number"));
  r->SetValue("Coefficient", NullToDefault(unit.Get("Coefficient"), int32_t{0}));
  r->SetValue("AuxClass", NullToDefault(unit.Get("AuxClass"), ""));
  const int32_t gid = unit.Get("UnitGroupID").ToLong();
  const LedgerObjectPtr groupPtr = Must(groups_).Item(gid);
  auto& group = Must(groupPtr);
  r->SetValue("Standard", VarEquals(group.Get("DefaultUnitID"), unit.Get("MeasureUnitID")) ? "1" : "0");
  auto child = NewRecord();
  child->SetValue("Name", group.Get("Name"));
  child->SetValue("Number", std::to_string(gid));
  r->SetValue("MeasureUnitGroup", child);
  return r;
}

void CMeasureUnit::CollectUnits(LedgerObject& group, RecordCollection& out) {
  auto& units = Must(units_);
  units.SetRestriction("UnitGroupID", group.Get("GroupID").ToLong());
  units.Refresh();
  LedgerObjectPtr unit;
  ErrorTrap trap(
      kExportError, [&] { return TextOf(unit->Get("Name")); },
      [this](const std::string& m) { return RaiseExpErr(m); });
  auto cursor = units.Enumerate();
  while ((unit = cursor->Next()))
    if (!trap.Run([&] { out.Add(BuildRecord(*unit)); })) throw ExportStopped{};
}

int32_t CMeasureUnit::ImportRecord(const DataRecord& record) {
  CheckMatchKey(record, "Name");
  // Values that cannot be stored fail before the group is made.
  const bool isDefault = IsDefault(record);
  const Variant coefficient = record.GetValue("Coefficient", int32_t{1});
  if (!coefficient.IsNull()) coefficient.ToDouble();
  const int32_t gid = groupHandler_.GetID(Must(record.Record("MeasureUnitGroup")));
  auto& units = Must(units_);
  units.SetRestriction("UnitGroupID", gid);
  units.Refresh();
  const LedgerObjectPtr groupPtr = Must(groups_).Item(gid);
  auto& group = Must(groupPtr);

  const std::string name = LeftChars(record.Value("Name").ToText(), kNameWidth);
  const int32_t id = group.Call("ExistenceCheck", {}, {{"Name", name}}).ToLong();
  auto target = ChooseImportTarget(units, id, [&] { return units.CreateNew({}, {}); }, &record);
  if (target.keep) return id;
  auto& unit = Must(target.object);
  unit.Let("Name", name);
  unit.Let("Number", record.Value("Number"));
  unit.Let("Coefficient", coefficient);
  unit.SaveChanges();
  if (isDefault) group.Call("SetDefaultUnit", {unit.Get("MeasureUnitID")}, {});
  return unit.Get("MeasureUnitID").ToLong();
}

void CMeasureUnit::ImportDefaultUnits() {
  const auto& records = Must(records_);
  for (int32_t i = records.LBound(); i <= records.UBound(); ++i) {
    try {
      // The error leaves the scope, so the record takes back all it made
      // (a group of its own included) before the second pass tries again.
      RecordScope scope;
      const DataRecordPtr record = records.Item(i);
      if (!IsDefault(Must(record))) continue;
      ImportRecord(*record);
      scope.Stored();
    } catch (const std::exception&) {
      // The second pass imports the record again and reports its failure.
    }
  }
}

bool CMeasureUnit::Export(const std::string& /*PropsString*/, const std::string& sFile) {
  std::unique_ptr<ObjectCursor> cursor;
  try {
    return RunExportWalk({.schemaFile = kSchema,
                          .element = kElement,
                          .errorPrefix = kExportError,
                          .progressPrefix = "正在导出计量单位资料，当前计量单位组的名称为：",
                          .open =
                              [this] {
                                if (!units_) GetList();
                              },
                          .count = [this] { return Must(groups_).Count(); },
                          .next =
                              [&] {
                                if (!cursor) cursor = Must(groups_).Enumerate();
                                return cursor->Next();
                              },
                          .collect = [this](LedgerObject& g, RecordCollection& out) { CollectUnits(g, out); }},
                         sFile);
  } catch (const ExportStopped&) {
    return false;
  }
}

bool CMeasureUnit::Import(const std::string& sFile) {
  return RunImportWalk({.schemaFile = kSchema,
                        .element = kElement,
                        .errorPrefix = "引入计量单位资料错误，当前记录名称为：",
                        .progressPrefix = "引入计量单位，当前记录名称为",
                        .open =
                            [this] {
                              if (!units_) GetList();
                              ImportDefaultUnits();
                            },
                        .adopt = [this](const RecordCollectionPtr& c) { records_ = c; },
                        .importRecord = [this](const DataRecordPtr& r) { ImportRecord(Must(r)); },
                        .matchKey = "Name",
                        .scopeKey = "MeasureUnitGroup"},
                       sFile);
}

}  // namespace morvent
