#include "ledger/currency.h"

#include "context/glfunc.h"
#include "context/props.h"
#include "front/walks.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace morvent {

namespace {
constexpr const char* kSchema = "SchemaCurrency.xml";
constexpr const char* kElement = "Currency";
constexpr size_t kNumberWidth = 3;
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
  std::unique_ptr<ObjectCursor> cursor;
  return RunExportWalk(
      {.schemaFile = kSchema,
       .element = kElement,
       .errorPrefix = "导出币别资料出错，当前记录名称为：",
       .progressPrefix = "正在导出币别资料，当前记录名称为：",
       .open = [this] { GetList(); },
       .count = [this] { return Must(set_).Count(); },
       .next =
           [&] {
             if (!cursor) cursor = Must(set_).Enumerate();
             return cursor->Next();
           },
       .build = [this](LedgerObject& c) { return BuildRecord(c); }},
      sFile);
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
  auto target = ChooseImportTarget(set, id, [&] { return set.CreateNew({}, {{"Number", number}}); });
  if (target.keep) return id;
  auto c = target.object;
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
  return RunImportWalk({.schemaFile = kSchema,
                        .element = kElement,
                        .errorPrefix = "引入币别资料错误，当前记录名称为：",
                        .progressPrefix = "引入币别资料，当前记录名称为",
                        .open = [this] { GetList(); },
                        .importRecord = [this](const DataRecordPtr& r) { ImportRecord(Must(r)); }},
                       sFile);
}

int32_t CCurrency::GetID(const DataRecord& record) {
  GetList();
  return ImportRecord(record);
}

}  // namespace morvent
