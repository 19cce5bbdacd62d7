#include "ledger/currency.h"

#include "platform/text.h"

namespace morvent {

namespace {
const ListKind kCurrency{
    .progId = kCurrencySet,
    .listOptions = 2,
    .numberWidth = 3,
    .idProperty = "CurrencyID",
    .schemaFile = "SchemaCurrency.xml",
    .element = "Currency",
    .exportError = "导出币别资料出错，当前记录名称为：",
    .exportProgress = "正在导出币别资料，当前记录名称为：",
    .importError = "引入币别资料错误，当前记录名称为：",
    .importProgress = "引入币别资料，当前记录名称为",
    .exportWithGetNext = false,
};
}  // namespace

CCurrency::CCurrency() : CListHandler(kCurrency) {}

DataRecordPtr CCurrency::BuildRecord(LedgerObject& c) {
  // Copied as stored, without Null conversion.
  auto r = NewRecord();
  r->SetValue("Name", c.Get("Name"));
  r->SetValue("Number", c.Get("Number"));
  r->SetValue("ExchangeRate", c.Get("ExchangeRate"));
  r->SetValue("Operator", c.Get("Operator"));
  r->SetValue("Scale", c.Get("ScaleX"));
  return r;
}

void CCurrency::WriteFields(LedgerObject& c, const DataRecord& record, const std::string& number) {
  c.Let("Name", record.GetValue("Name"));
  c.Let("Number", number);
  c.Let("ExchangeRate", record.GetValue("ExchangeRate", int32_t{1}));
  c.Let("Operator", VarEquals(record.GetValue("Operator", "*"), Variant("*")) ? "*" : "/");
  c.Let("ScaleX", record.GetValue("Scale", int32_t{0}));
}

}  // namespace morvent
