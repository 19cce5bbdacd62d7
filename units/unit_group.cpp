#include "units/unit_group.h"

#include "front/walks.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace morvent {

namespace {
constexpr const char* kSchema = "SchemaMeasureUnitGroup.xml";
constexpr const char* kElement = "MeasureUnitGroup";
}  // namespace

void CMeasureUnitGroup::GetList() {
  if (set_) return;
  auto set = CreateObjectAs<ObjectSet>(kMeasureUnitGroupSet);
  set->Refresh();
  set_ = set;
}

bool CMeasureUnitGroup::CheckID(int32_t id) {
  try {
    GetList();
    return set_->Item(id) != nullptr;
  } catch (...) {
    return false;
  }
}

DataRecordPtr CMeasureUnitGroup::GetInfo(int32_t id) {
  GetList();
  auto group = set_->Item(id);
  if (!group) return NewRecord();
  return BuildRecord(*group);
}

int32_t CMeasureUnitGroup::GetID(const DataRecord& record) {
  GetList();
  return ImportRecord(record);
}

DataRecordPtr CMeasureUnitGroup::BuildRecord(LedgerObject& group) {
  auto r = NewRecord();
  r->SetValue("Name", group.Get("Name"));
  r->SetValue("Number", std::to_string(group.Get("GroupID").ToLong()));
  return r;
}

int32_t CMeasureUnitGroup::ImportRecord(const DataRecord& record) {
  // A unit's nested group record never passes the walk's own check.
  CheckMatchKey(record, "Name");
  auto& set = Must(set_);
  const std::string name = LeftChars(record.Value("Name").ToText(), kNameWidth);
  const int32_t id = set.ExistenceCheck({{"Name", name}});
  auto target = ChooseImportTarget(set, id, [&] { return set.CreateNew({}, {}); }, &record);
  if (target.keep) return id;
  auto& group = Must(target.object);
  group.Let("Name", name);
  group.SaveChanges();
  return group.Get("GroupID").ToLong();
}

bool CMeasureUnitGroup::Export(const std::string& /*PropsString*/, const std::string& sFile) {
  return RunExportWalk({.schemaFile = kSchema,
                        .element = kElement,
                        .errorPrefix = "导出计量单位组出错，当前记录名称为：",
                        .progressPrefix = "正在导出计量单位组，当前记录名称为：",
                        .open = [this] { GetList(); },
                        .count = [this] { return Must(set_).Count(); },
                        .next = [this] { return Must(set_).GetNext(); },
                        .build = [this](LedgerObject& g) { return BuildRecord(g); },
                        .counted = true},
                       sFile);
}

bool CMeasureUnitGroup::Import(const std::string& sFile) {
  return RunImportWalk({.schemaFile = kSchema,
                        .element = kElement,
                        .errorPrefix = "引入计量单位组错误，当前记录名称为：",
                        .progressPrefix = "引入计量单位组，当前记录名称为",
                        .open = [this] { GetList(); },
                        .importRecord = [this](const DataRecordPtr& r) { ImportRecord(Must(r)); },
                        .matchKey = "Name"},
                       sFile);
}

}  // namespace morvent
