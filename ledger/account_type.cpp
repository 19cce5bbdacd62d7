#include "ledger/account_type.h"

#include "context/glfunc.h"
#include "context/props.h"
#include "front/trap.h"
#include "platform/registry.h"

namespace morvent {

namespace {
constexpr const char* kSchema = "SchemaAccountType.xml";
constexpr const char* kElement = "AccountType";
constexpr const char* kStatus = "正在导出科目大类，当前记录名称为：";
constexpr const char* kErrorPrefix = "导出科目大类出错，当前记录名称为：";
}  // namespace

std::string QuoteCriteria(const std::string& field, const std::string& value) {
  return field + "='" + Replace(value, "'", "''") + "'";
}

bool CAccountType::Export(const std::string& PropsString, const std::string& sFile) {
  std::shared_ptr<AccountInfo> info;
  RecordSetPtr list;
  RecordCollectionPtr collection;
  DataRecordPtr record;
  int32_t n = 0, i = 0;
  bool stop = false;

  ErrorTrap trap(
      kErrorPrefix, [&] { return NullToDefault(Must(list).Field("FName"), "").ToText(); },
      [this](const std::string& m) { return RaiseExpErr(m); });

  bool proceed = true;
  if (!trap.Run([&] { proceed = CheckExportFiles(kSchema, sFile); })) return false;
  if (!proceed) return false;
  if (!trap.RunRequired([&] { info = CreateObjectAs<AccountInfo>(kAccountInfo); })) return false;
  if (!trap.RunRequired([&] { list = Must(info).GetAccountGroupList(PropsString); })) return false;
  if (!trap.Run([&] { collection = std::make_shared<RecordCollection>(); })) return false;

  auto notEmpty = trap.Test([&] { return !(Must(list).BOF() && Must(list).EOF_()); });
  if (!notEmpty) return false;
  if (*notEmpty) {
    if (!trap.RunRequired([&] { Must(list).MoveLast(); })) return false;
    if (!trap.RunRequired([&] { n = Must(list).RecordCount(); })) return false;
    if (!trap.RunRequired([&] { Must(list).MoveFirst(); })) return false;
    while (true) {
      auto more = trap.Test([&] { return !Must(list).EOF_(); });
      if (!more) return false;
      if (!*more) break;
      auto isType = trap.Test([&] { return NullToDefault(Must(list).Field("FGroupID"), 0).ToLong() != 0; });
      if (!isType) return false;
      if (*isType) {
        if (!trap.Run([&] { record = NewRecord(); })) return false;
        if (!trap.Run([&] { Must(record).SetValue("Name", Must(list).Field("FName")); })) return false;
        if (!trap.Run([&] { Must(record).SetValue("Number", Must(list).Field("FGroupID").ToText()); }))
          return false;
        if (!trap.Run([&] { Must(collection).Add(record); })) return false;
        if (!trap.Run([&] {
              ++i;
              stop = RaiseExpOneRow(i, ExportRate(i, n), kStatus + NullToDefault(Must(list).Field("FName"), "").ToText());
            }))
          return false;
        if (stop) return false;
      }
      if (!trap.RunRequired([&] { Must(list).MoveNext(); })) return false;
    }
  }
  if (!trap.RunRequired([&] {
        std::string err;
        WriteDataFile(collection, sFile, SchemaPath(kSchema), kElement, err);
      }))
    return false;
  list.reset();
  info.reset();
  return true;
}

bool CAccountType::Import(const std::string&) { return false; }

void CAccountType::LoadTypeList() {
  if (info_) return;
  info_ = CreateObjectAs<AccountInfo>(kAccountInfo);
  list_ = info_->GetAccountGroupList(Context().gPropsString);
}

DataRecordPtr CAccountType::GetInfo(int32_t id) {
  LoadTypeList();
  auto& list = Must(list_);
  list.MoveFirst();
  list.Find("FGroupID=" + std::to_string(id));
  auto record = NewRecord();
  if (!list.EOF_()) {
    record->SetValue("Name", list.Field("FName"));
    record->SetValue("Number", list.Field("FGroupID").ToText());
  }
  return record;
}

int32_t CAccountType::GetID(const DataRecord& record) {
  LoadTypeList();
  auto& list = Must(list_);
  list.MoveFirst();
  // The name is quoted with apostrophes doubled, so a name holding one is
  // found instead of breaking the criteria.
  list.Find(QuoteCriteria("FName", record.Value("Name").ToText()));
  if (!list.EOF_()) return list.Field("FGroupID").ToLong();
  return 0;
}

}  // namespace morvent
