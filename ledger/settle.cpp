#include "ledger/settle.h"

#include "context/glfunc.h"
#include "context/props.h"
#include "front/walks.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace morvent {

namespace {
constexpr const char* kSchema = "SchemaSettle.xml";
constexpr const char* kElement = "Settle";
constexpr size_t kNumberWidth = 80;

}  // namespace

void CSettle::GetList() {
  if (set_) return;
  auto set = CreateObjectAs<ObjectSet>(kSettTypeSet);
  set->SetListOptions(1);
  set->Refresh();
  set_ = set;
}

DataRecordPtr CSettle::BuildRecord(LedgerObject& m) {
  auto r = NewRecord();
  r->SetValue("Name", m.Get("Name"));
  r->SetValue("Number", m.Get("Number"));
  r->SetValue("CompanyCode", m.Get("BrNo"));
  return r;
}

bool CSettle::Export(const std::string& /*PropsString*/, const std::string& sFile) {
  return RunExportWalk({.schemaFile = kSchema,
                        .element = kElement,
                        .errorPrefix = "导出结算方式资料出错，当前记录名称为：",
                        .progressPrefix = "正在导出结算方式资料，当前记录名称为：",
                        .open = [this] { GetList(); },
                        .count = [this] { return Must(set_).Count(); },
                        .next = [this] { return Must(set_).GetNext(); },
                        .build = [this](LedgerObject& m) { return BuildRecord(m); },
                        .counted = true},
                       sFile);
}

bool CSettle::CheckID(int32_t id) {
  try {
    GetList();
    return set_->Item(id) != nullptr;
  } catch (...) {
    return false;
  }
}

DataRecordPtr CSettle::GetInfo(int32_t id) {
  GetList();
  auto m = set_->Item(id);
  if (!m) return NewRecord();
  return BuildRecord(*m);
}

int32_t CSettle::ImportRecord(const DataRecord& record) {
  auto& set = Must(set_);
  const std::string number = LeftChars(record.Value("Number").ToText(), kNumberWidth);
  const int32_t id = set.ExistenceCheck({{"Number", number}});
  auto target = ChooseImportTarget(set, id, [&] { return set.CreateNew({}, {{"Number", number}}); });
  if (target.keep) return id;
  auto m = target.object;
  auto& obj = Must(m);
  obj.Let("Name", record.GetValue("Name"));
  obj.Let("Number", number);
  obj.SaveChanges();
  return obj.Get("ItemID").ToLong();
}

bool CSettle::Import(const std::string& sFile) {
  return RunImportWalk({.schemaFile = kSchema,
                        .element = kElement,
                        .errorPrefix = "引入结算方式错误，当前记录名称为：",
                        .progressPrefix = "引入结算方式资料，当前记录名称为",
                        .open = [this] { GetList(); },
                        .importRecord = [this](const DataRecordPtr& r) { ImportRecord(Must(r)); }},
                       sFile);
}

int32_t CSettle::GetID(const DataRecord& record) {
  GetList();
  return ImportRecord(record);
}

}  // namespace morvent
