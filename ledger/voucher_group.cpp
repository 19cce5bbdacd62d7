#include "ledger/voucher_group.h"

namespace morvent {

namespace {
const ListKind kVoucherGroup{
    .progId = kVoucherGroupSet,
    .listOptions = 1,
    .numberWidth = 80,
    .idProperty = "VoucherGroupID",
    .schemaFile = "SchemaVoucherGroup.xml",
    .element = "VoucherGroup",
    .exportError = "导出凭证字资料出错，当前记录名称为：",
    .exportProgress = "正在导出凭证字资料，当前记录名称为：",
    .importError = "引入凭证字资料错误，当前记录名称为：",
    .importProgress = "引入凭证字资料，当前记录名称为",
    .exportWithGetNext = false,
    .matchKey = "Name",
};

// The ranges in the order they are written to a file, and to a group.
constexpr const char* kFileOrder[] = {"CRange", "DRange", "NCRange", "NDRange", "DCRange", "NDCRange"};
constexpr const char* kStoreOrder[] = {"CRange", "DRange", "NCRange", "NDRange", "NDCRange", "DCRange"};
}  // namespace

CVoucherGroup::CVoucherGroup() : CListHandler(kVoucherGroup) {}

DataRecordPtr CVoucherGroup::BuildRecord(LedgerObject& g) {
  auto r = NewRecord();
  r->SetValue("Name", g.Get("Name"));
  for (const char* range : kFileOrder) r->SetValue(range, NullToDefault(g.Get(range), ""));
  return r;
}

void CVoucherGroup::WriteFields(LedgerObject& g, const DataRecord& record, const std::string& name) {
  g.Let("Name", name);
  for (const char* range : kStoreOrder) g.Let(range, record.GetValue(range, ""));
}

}  // namespace morvent
