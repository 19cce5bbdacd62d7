#include "ledger/currency.h"

#include "context/glfunc.h"
#include "context/props.h"
#include "front/trap.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace morvent {

namespace {
constexpr const char* kSchema = "SchemaCurrency.xml";
constexpr const char* kElement = "Currency";
constexpr size_t kNumberWidth = 3;

std::string TextOf(const Variant& v) { return v.IsNull() || v.IsEmpty() ? std::string() : v.ToText(); }
}  // namespace

void CCurrency::GetList() {
  if (set_) return;
  auto set = CreateObjectAs<ObjectSet>(kCurrencySet);
  set->SetListOptions(2);
  set->Refresh();
  set_ = set;
}

DataRecordPtr CCurrency::BuildRecord(LedgerObject& c) {
  auto r = NewRecord();
  r->SetValue("Name", c.Get("Name"));
  r->SetValue("Number", c.Get("Number"));
  r->SetValue("ExchangeRate", c.Get("ExchangeRate"));
  r->SetValue("Operator", c.Get("Operator"));
  r->SetValue("Scale", c.Get("ScaleX"));
  return r;
}

bool CCurrency::Export(const std::string& /*PropsString*/, const std::string& sFile) {
  RecordCollectionPtr collection;
  std::unique_ptr<ObjectCursor> cursor;
  LedgerObjectPtr current;
  int32_t n = 0, i = 0;
  bool stop = false;

  ErrorTrap trap(
      "导出币别资料出错，当前记录名称为：", [&] { return current ? TextOf(current->Get("Name")) : std::string(); },
      [this](const std::string& m) { return RaiseExpErr(m); });

  auto refused = trap.Test([&] { return !CheckExportFiles(kSchema, sFile); });
  if (!refused || *refused) return false;
  if (!trap.Run([&] { GetList(); })) return false;
  if (!trap.Run([&] { n = Must(set_).Count(); })) return false;
  collection = std::make_shared<RecordCollection>();
  if (!trap.Run([&] { cursor = Must(set_).Enumerate(); })) return false;
  while (true) {
    LedgerObjectPtr next;
    if (!trap.Run([&] { next = Must(cursor).Next(); })) return false;
    if (!next) break;
    current = next;
    if (!trap.Run([&] { collection->Add(BuildRecord(*current)); })) return false;
    ++i;
    if (!trap.Run([&] { stop = RaiseExpOneRow(i, ExportRate(i, n), "正在导出币别资料，当前记录名称为：" + TextOf(current->Get("Name"))); }))
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

bool CCurrency::CheckID(int32_t id) {
  try {
    GetList();
    return set_->Item(id) != nullptr;
  } catch (...) {
    return false;
  }
}

DataRecordPtr CCurrency::GetInfo(int32_t id) {
  GetList();
  auto c = set_->Item(id);
  if (!c) return NewRecord();
  return BuildRecord(*c);
}

int32_t CCurrency::ImportRecord(const DataRecord& record) {
  auto& set = Must(set_);
  const std::string number = LeftChars(record.Value("Number").ToText(), kNumberWidth);
  const int32_t id = set.ExistenceCheck({{"Number", number}});
  LedgerObjectPtr c;
  if (id < 1) {
    c = set.CreateNew({}, {{"Number", number}});
  } else {
    switch (Context().gImpStyle) {
      case 1:
        return id;
      case 2:
        c = set.Item(id);
        break;
      default:
        break;  // nothing to update: the next step fails
    }
  }
  auto& obj = Must(c);
  obj.Let("Name", record.GetValue("Name"));
  obj.Let("Number", LeftChars(record.GetValue("Number").ToText(), kNumberWidth));
  obj.Let("ExchangeRate", record.GetValue("ExchangeRate", int32_t{1}));
  obj.Let("Operator", VarEquals(record.GetValue("Operator", "*"), Variant("*")) ? "*" : "/");
  obj.Let("ScaleX", record.GetValue("Scale", int32_t{0}));
  obj.SaveChanges();
  return obj.Get("CurrencyID").ToLong();
}

bool CCurrency::Import(const std::string& sFile) {
  RecordCollectionPtr collection;
  DataRecordPtr current;
  bool stop = false;

  ErrorTrap trap(
      "引入币别资料错误，当前记录名称为：", [&] { return current ? TextOf(current->Value("Name")) : std::string(); },
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
    if (!trap.Run([&] { stop = RaiseImpOneRow(i, ImportRate(i, count), "引入币别资料，当前记录名称为" + TextOf(current->Value("Name"))); }))
      return false;
    if (stop) return false;
  }
  return true;
}

int32_t CCurrency::GetID(const DataRecord& record) {
  GetList();
  return ImportRecord(record);
}

}  // namespace morvent
