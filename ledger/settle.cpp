#include "ledger/settle.h"

namespace morvent {

namespace {
const ListKind kSettle{
    .progId = kSettTypeSet,
    .listOptions = 1,
    .numberWidth = 80,
    .idProperty = "ItemID",
    .schemaFile = "SchemaSettle.xml",
    .element = "Settle",
    .exportError = "导出结算方式资料出错，当前记录名称为：",
    .exportProgress = "正在导出结算方式资料，当前记录名称为：",
    .importError = "引入结算方式错误，当前记录名称为：",
    .importProgress = "引入结算方式资料，当前记录名称为",
    .exportWithGetNext = true,
};
}  // namespace

CSettle::CSettle() : CListHandler(kSettle) {}

DataRecordPtr CSettle::BuildRecord(LedgerObject& m) {
  auto r = NewRecord();
  r->SetValue("Name", m.Get("Name"));
  r->SetValue("Number", m.Get("Number"));
  r->SetValue("CompanyCode", m.Get("BrNo"));
  return r;
}

void CSettle::WriteFields(LedgerObject& m, const DataRecord& record, const std::string& number) {
  m.Let("Name", record.GetValue("Name"));
  m.Let("Number", number);
}

}  // namespace morvent
