#include "items/assist_type.h"

#include "front/walks.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace morvent {

namespace {
constexpr const char* kSchema = "SchemaAssistType.xml";
constexpr const char* kElement = "AssistType";
}  // namespace

void CAssistType::GetList() {
  if (set_) return;
  auto set = CreateObjectAs<ObjectSet>(kSubMesTypeSet);
  set->Refresh();
  set_ = set;
}

DataRecordPtr CAssistType::BuildRecord(LedgerObject& type) {
  auto r = NewRecord();
  r->SetValue("Name", type.Get("Name"));
  r->SetValue("Number", type.Get("TypeID").ToText());
  return r;
}

DataRecordPtr CAssistType::GetInfo(int32_t id) {
  GetList();
  return BuildRecord(Must(set_->Item(id)));
}

int32_t CAssistType::GetID(const DataRecord& record) {
  GetList();
  return ImportRecord(record);
}

int32_t CAssistType::FindTypeByName(const std::string& key, const std::string& whole) {
  auto& set = Must(set_);
  set.Refresh();
  const int32_t n = set.Count();
  int32_t byKey = 0;
  for (int32_t i = 1; i <= n; ++i) {
    auto type = set.GetNext();
    Must(type);
    const Variant name = type->Get("Name");
    if (name.IsNull()) continue;
    const std::string text = name.ToText();
    if (text == whole) return type->Get("TypeID").ToLong();
    if (text == key && byKey == 0) byKey = type->Get("TypeID").ToLong();
  }
  return byKey;
}

int32_t CAssistType::ImportRecord(const DataRecord& record) {
  auto& set = Must(set_);
  const std::string whole = record.Value("Name").ToText();
  const int32_t id = FindTypeByName(LeftChars(whole, kNameWidth), whole);
  auto target = ChooseImportTarget(set, id, [&] { return set.CreateNew({}, {}); }, &record);
  if (target.keep) return id;
  auto& type = Must(target.object);
  type.Let("Name", record.Value("Name"));
  type.SaveChanges();
  return type.Get("TypeID").ToLong();
}

bool CAssistType::Export(const std::string& /*PropsString*/, const std::string& sFile) {
  return RunExportWalk({.schemaFile = kSchema,
                        .element = kElement,
                        .errorPrefix = "导出辅助资料类别出错，当前类别名称为：",
                        .progressPrefix = "正在导出辅助资料类别，当前记录名称为：",
                        .open = [this] { GetList(); },
                        .count = [this] { return Must(set_).Count(); },
                        .next = [this] { return Must(set_).GetNext(); },
                        .build = [this](LedgerObject& t) { return BuildRecord(t); },
                        .counted = true},
                       sFile);
}

bool CAssistType::Import(const std::string& sFile) {
  return RunImportWalk({.schemaFile = kSchema,
                        .element = kElement,
                        .errorPrefix = "引入辅助资料类别错误，当前记录名称为：",
                        .progressPrefix = "引入辅助资料类别，当前记录名称为",
                        .open = [this] { GetList(); },
                        .importRecord = [this](const DataRecordPtr& r) { ImportRecord(Must(r)); },
                        .matchKey = "Name"},
                       sFile);
}

}  // namespace morvent
