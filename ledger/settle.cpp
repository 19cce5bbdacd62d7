#include "ledger/settle.h"

#include "context/glfunc.h"
#include "context/props.h"
#include "front/trap.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace morvent {

namespace {
constexpr const char* kSchema = "SchemaSettle.xml";
constexpr const char* kElement = "Settle";
constexpr size_t kNumberWidth = 80;

std::string TextOf(const Variant& v) { return v.IsNull() || v.IsEmpty() ? std::string() : v.ToText(); }
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
  RecordCollectionPtr collection;
  LedgerObjectPtr current;
  int32_t n = 0;
  bool stop = false;

  ErrorTrap trap(
      "导出结算方式资料出错，当前记录名称为：", [&] { return current ? TextOf(current->Get("Name")) : std::string(); },
      [this](const std::string& m) { return RaiseExpErr(m); });

  auto refused = trap.Test([&] { return !CheckExportFiles(kSchema, sFile); });
  if (!refused || *refused) return false;
  if (!trap.Run([&] { GetList(); })) return false;
  if (!trap.Run([&] { n = Must(set_).Count(); })) return false;
  collection = std::make_shared<RecordCollection>();
  for (int32_t i = 1; i <= n; ++i) {
    if (!trap.Run([&] { current = Must(set_).GetNext(); })) return false;
    if (!trap.Run([&] { collection->Add(BuildRecord(Must(current))); })) return false;
    if (!trap.Run([&] {
          stop = RaiseExpOneRow(i, ExportRate(i, n), "正在导出结算方式资料，当前记录名称为：" + TextOf(Must(current).Get("Name")));
        }))
      return false;
    if (stop) return false;
  }
  current.reset();
  if (!trap.Run([&] {
        std::string err;
        WriteDataFile(collection, sFile, SchemaPath(kSchema), kElement, err);
      }))
    return false;
  return true;
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
  LedgerObjectPtr m;
  if (id < 1) {
    m = set.CreateNew({}, {{"Number", number}});
  } else {
    switch (Context().gImpStyle) {
      case 1:
        return id;
      case 2:
        m = set.Item(id);
        break;
      default:
        break;  // nothing to update: the next step fails
    }
  }
  auto& obj = Must(m);
  obj.Let("Name", record.GetValue("Name"));
  obj.Let("Number", number);
  obj.SaveChanges();
  return obj.Get("ItemID").ToLong();
}

bool CSettle::Import(const std::string& sFile) {
  RecordCollectionPtr collection;
  DataRecordPtr current;
  bool stop = false;

  ErrorTrap trap(
      "引入结算方式错误，当前记录名称为：", [&] { return current ? TextOf(current->Value("Name")) : std::string(); },
      [this](const std::string& m) { return RaiseImpErr(m); });

  auto failed = trap.Test([&] {
    collection = std::make_shared<RecordCollection>();
    std::string err;
    return !ReadDataFile(collection, sFile, SchemaPath(kSchema), kElement, err);
  });
  if (!failed || *failed) return false;
  if (!trap.Run([&] { GetList(); })) return false;

  int32_t lb = 1, ub = 0;
  if (!trap.Run([&] {
        lb = Must(collection).LBound();
        ub = collection->UBound();
      }))
    return false;
  const int32_t count = ub - lb + 1;
  for (int32_t i = lb; i <= ub; ++i) {
    current = collection->Item(i);
    if (!trap.Run([&] { ImportRecord(*current); })) return false;
    if (!trap.Run([&] { stop = RaiseImpOneRow(i, ImportRate(i, count), "引入结算方式资料，当前记录名称为" + TextOf(current->Value("Name"))); }))
      return false;
    if (stop) return false;
  }
  return true;
}

int32_t CSettle::GetID(const DataRecord& record) {
  GetList();
  return ImportRecord(record);
}

}  // namespace morvent
