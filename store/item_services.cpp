#include "store/item_services.h"

#include "store/item_metadata.h"
#include "store/ledger_recordset.h"
#include "store/ledger_store.h"

namespace morvent {

DataRecordPtr LedgerItemClassInfo::GetDetail(const std::string& propsString, int32_t itemClassId) {
  auto store = LedgerStore::ForProps(propsString);
  auto cls = store->Prepare("SELECT FNumber, FName FROM t_ItemClass WHERE FItemClassID = ?");
  cls.Bind(1, itemClassId);
  if (!cls.Next()) ThrowLedgerError("核算项目类别（ID " + std::to_string(itemClassId) + "）不存在");
  auto detail = NewRecord();
  detail->SetValue("FItemClassID", Variant(itemClassId));
  detail->SetValue("FNumber", Variant(cls.Text(0)));
  detail->SetValue("FName", Variant(cls.Text(1)));
  auto props = std::make_shared<RecordCollection>();
  auto q = store->Prepare(
      "SELECT FPropID, FName, FSearch FROM t_ItemClassProp WHERE FItemClassID = ? ORDER BY FPropID");
  q.Bind(1, itemClassId);
  while (q.Next()) {
    auto row = NewRecord();
    row->SetValue("FPropID", Variant(static_cast<int32_t>(q.Int(0))));
    row->SetValue("FName", Variant(q.Text(1)));
    row->SetValue("FSearch", Variant(static_cast<int16_t>(q.Int(2))));
    props->Add(row);
  }
  detail->SetValue("_PropDesc", Variant(props));
  return detail;
}

RecordSetPtr LedgerItemInfo::GetSubMesList(const std::string& propsString, int16_t searchCode) {
  auto store = LedgerStore::ForProps(propsString);
  auto q = store->Prepare(
      "SELECT FItemID, FNumber, FName, FTypeID FROM t_SubMes WHERE FTypeID = ? ORDER BY FItemID");
  q.Bind(1, int32_t{searchCode});
  return RowSet::FromQuery(q);
}

}  // namespace morvent
