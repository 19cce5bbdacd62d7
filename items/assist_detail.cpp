#include "items/assist_detail.h"

#include "context/props.h"
#include "front/walks.h"
#include "items/assist_type.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace morvent {

namespace {
constexpr const char* kSchema = "SchemaAssistDetail.xml";
constexpr const char* kElement = "AssistDetail";
// The second argument of the entry set's Item that finds an entry of any type.
constexpr int32_t kAnyType = 866;

// A null on either side is no match.
bool SameText(const Variant& v, const std::string& text) { return !v.IsNull() && v.ToText() == text; }
}  // namespace

void CAssistDetail::PrepareSets() {
  if (types_) return;
  auto types = CreateObjectAs<ObjectSet>(kSubMesTypeSet);
  types->Refresh();
  entries_ = CreateObjectAs<ObjectSet>(kSubMesSet);
  types_ = types;
}

bool CAssistDetail::CheckID(int32_t id) {
  try {
    PrepareSets();
    return entries_->Item(id, Variant(kAnyType)) != nullptr;
  } catch (...) {
    return false;
  }
}

DataRecordPtr CAssistDetail::GetInfo(int32_t id, const std::string& typeName) {
  PrepareSets();
  auto entry = Must(entries_).Item(id, Variant(kAnyType));
  if (!entry) return NewRecord();
  return BuildRecord(*entry, typeName);
}

bool CAssistDetail::TypeExists(int32_t typeId) {
  // A fetch by ID answers what a walk over the types would, without moving
  // the place of the export's own walk.
  return Must(types_).Item(typeId) != nullptr;
}

DataRecordPtr CAssistDetail::BuildRecord(LedgerObject& entry, const std::string& typeName) {
  auto record = NewRecord();
  try {
    record->SetValue("Name", entry.Get("Name"));
    record->SetValue("Number", entry.Get("Number"));
    auto type = NewRecord();
    const int32_t typeId = entry.Get("TypeID").ToLong();
    if (TypeExists(typeId))
      type->SetValue("Name", Must(types_->Item(typeId)).Get("Name"));
    else
      type->SetValue("Name", typeName);
    type->SetValue("Number", entry.Get("TypeID").ToText());
    record->SetValue("AssistType", type);
  } catch (const std::exception&) {
    auto type = NewRecord();
    record->SetValue("AssistType", type);
    type->SetValue("Number", entry.Get("TypeID").ToText());
    type->SetValue("Name", "");
  }
  return record;
}

int32_t CAssistDetail::FindDetail(int32_t typeId, const std::string& number) {
  auto& entries = Must(entries_);
  entries.Refresh();
  // Numbers are unique within a type, so the ledger's own exact search
  // answers what a walk over the type's entries would, without making an
  // import quadratic in the number of entries.
  const int32_t id = entries.ExistenceCheck({{"Number", number}, {"TypeID", typeId}});
  return id < 1 ? 0 : id;
}

int32_t CAssistDetail::ImportAssistDetail(const DataRecord& record) {
  PrepareSets();  // public: a caller need not have imported a file first
  auto typeRecord = record.Value("AssistType").As<DataRecord>();
  CAssistType typeHandler;
  const int32_t typeId = typeHandler.GetID(Must(typeRecord));
  auto& entries = Must(entries_);
  entries.SetRestriction("TypeID", Variant(typeId));
  entries.Refresh();
  const std::string number = LeftChars(record.Value("Number").ToText(), kNumberWidth);
  const int32_t id = FindDetail(typeId, number);
  auto target = ChooseImportTarget(
      entries, id, [&] { return entries.CreateNew({Variant(typeId)}, {{"Number", number}}); }, &record);
  if (target.keep) return id;
  auto& entry = Must(target.object);
  entry.Let("Name", record.Value("Name"));
  entry.Let("Number", number);
  entry.SaveChanges();
  values_.clear();
  return entry.Get("ItemID").ToLong();
}

int32_t CAssistDetail::GetID(const DataRecord& record, int32_t itemClassId, const std::string& propertyName) {
  const std::string name = record.Value("Name").ToText();
  const auto& values = PropertyValues(itemClassId, propertyName);
  auto it = values.find(name);
  return it == values.end() ? 0 : it->second;
}

const CAssistDetail::NameIndex& CAssistDetail::PropertyValues(int32_t itemClassId, const std::string& propertyName) {
  const std::string& props = Context().gPropsString;
  if (props != valuesProps_) {
    values_.clear();
    valuesProps_ = props;
  }
  auto key = std::make_pair(itemClassId, propertyName);
  if (auto it = values_.find(key); it != values_.end()) return it->second;

  auto detail = CreateObjectAs<ItemClassInfo>(kItemClassInfo)->GetDetail(props, itemClassId);
  auto desc = Must(detail).Value("_PropDesc").As<RecordCollection>();
  int16_t search = 0;  // a property the class lacks asks for list 0, which is empty
  for (int32_t i = Must(desc).LBound(); i <= desc->UBound(); ++i) {
    auto row = desc->Item(i);
    Must(row);
    if (SameText(row->Value("FName"), propertyName)) {
      search = row->Value("FSearch").ToInteger();
      break;
    }
  }
  auto rows = CreateObjectAs<ItemInfo>(kItemInfo)->GetSubMesList(props, search);
  auto& list = Must(rows);
  NameIndex index;
  if (!(list.BOF() && list.EOF_()))
    for (; !list.EOF_(); list.MoveNext()) {
      const Variant name = list.Field("FName");
      if (!name.IsNull()) index.emplace(name.ToText(), list.Field("FItemID").ToLong());  // the first of a name wins
    }
  return values_.emplace(std::move(key), std::move(index)).first->second;
}

void CAssistDetail::CollectEntries(LedgerObject& type, RecordCollection& collection) {
  auto& entries = Must(entries_);
  entries.SetListOptions(1);
  entries.SetRestriction("TypeID", type.Get("TypeID"));
  entries.Refresh();
  const int32_t m = entries.Count();
  for (int32_t k = 1; k <= m; ++k) collection.Add(BuildRecord(Must(entries.GetNext()), ""));
}

bool CAssistDetail::Export(const std::string& /*PropsString*/, const std::string& sFile) {
  return RunExportWalk({.schemaFile = kSchema,
                        .element = kElement,
                        .errorPrefix = "导出辅助资料出错，当前类别名称为：",
                        .progressPrefix = "正在导出辅助资料，当前类别名称为：",
                        .open = [this] { PrepareSets(); },
                        .count = [this] { return Must(types_).Count(); },
                        .next = [this] { return Must(types_).GetNext(); },
                        .collect = [this](LedgerObject& t, RecordCollection& c) { CollectEntries(t, c); },
                        .counted = true},
                       sFile);
}

bool CAssistDetail::Import(const std::string& sFile) {
  return RunImportWalk({.schemaFile = kSchema,
                        .element = kElement,
                        .errorPrefix = "引入辅助资料错误，当前记录名称为：",
                        .progressPrefix = "引入辅助资料，代码为",
                        .progressKey = "Number",
                        .open = [this] { PrepareSets(); },
                        .importRecord = [this](const DataRecordPtr& r) { ImportAssistDetail(Must(r)); },
                        .matchKey = "Number",
                        .scopeKey = "AssistType"},
                       sFile);
}

}  // namespace morvent
