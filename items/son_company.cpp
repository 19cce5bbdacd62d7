#include "items/son_company.h"

#include "items/assist_detail.h"
#include "items/field_shapes.h"
#include "platform/text.h"

namespace morvent {

namespace {

constexpr int16_t kClass = 10;

ItemField AcctMode() {
  ItemField f;
  f.key = "AcctMode";
  f.kind = FieldKind::Custom;
  f.exportFn = [](CItemFrame&, LedgerObject& item, DataRecord& r) {
    r.SetValue("AcctMode", NullToDefault(item.Properties("FAcctModeID"), "").ToText());
  };
  f.importFn = [](CItemFrame& frame, LedgerObject& item, const DataRecord& r) {
    if (TrimBlanks(r.GetValue("AcctMode", "").ToText()).empty()) return;
    auto mode = NewRecord();
    mode->SetValue("Name", r.Value("AcctMode"));
    item.SetProperties("FAcctModeID", frame.Lookup("AssistDetail").GetID(mode, kClass, "核算模式"));
  };
  return f;
}

ItemField IsDetail() {
  ItemField f;
  f.key = "IsDetail";
  f.kind = FieldKind::Custom;
  f.exportFn = [](CItemFrame&, LedgerObject& item, DataRecord& r) {
    r.SetValue("IsDetail", NullToDefault(item.Properties("FDetail"), true).ToBool() ? "1" : "0");
  };
  f.importFn = [](CItemFrame&, LedgerObject& item, const DataRecord& r) {
    item.SetProperties("FDetail", VarEquals(r.GetValue("IsDetail", int32_t{1}), int32_t{1}));
  };
  return f;
}

// A figure exported as a number (Null gives "0") and stored as the record
// gives it: a Null stays Null, an absent key writes 0.
ItemField Plain(const char* key, const char* field) {
  ItemField f;
  f.key = key;
  f.kind = FieldKind::Custom;
  f.exportFn = [key = std::string(key), field = std::string(field)](CItemFrame&, LedgerObject& item, DataRecord& r) {
    r.SetValue(key, NullToDefault(item.Properties(field), int32_t{0}).ToText());
  };
  f.importFn = [key = std::string(key), field = std::string(field)](CItemFrame&, LedgerObject& item,
                                                                    const DataRecord& r) {
    item.SetProperties(field, r.GetValue(key, int32_t{0}));
  };
  return f;
}

ItemKind Build() {
  ItemKind k;
  k.code = 108;
  k.itemClassId = kClass;
  k.schemaFile = "SchemaSonCompany.xml";
  k.element = "SonCompany";
  k.parent.nameKey = "ParentName";
  k.parent.numberKey = "ParentNumber";
  k.exportProgress = "正在导出分支机构，当前记录名称为：";
  k.exportError = "导出分支机构资料出错，当前记录名称为：";
  k.importProgress = "引入分支机构资料，当前记录名称为";
  k.importError = "引入分支机构资料错误，当前记录名称为：";
  k.numberWidth = 80;
  k.keepItemSet = true;
  k.lookups = {{"AssistDetail", LookupOf<CAssistDetail>()}};
  k.fields = {
      AcctMode(),
      Plain("InvestAmt", "FInvestAmt"),
      Plain("InvestRate", "FInvestRate"),
      Plain("BadDebtsRate", "FBadDebtsRate"),
      Plain("BondInvestAmt", "FBondInvestAmt"),
      Plain("Level", "FLevel"),
      IsDetail(),
      // Some export field names differ from the written ones in letter case.
      ReferenceFieldAs("Trade", "FTrade_ID", "FTrade", "AssistDetail", "行业"),
      ReferenceFieldAs("Region", "FRegionID_ID", "FRegionID", "AssistDetail", "区域"),
      ReferenceFieldAs("OwnerShip", "FOwnershipID_ID", "FOwnerShipID", "AssistDetail", "所有制"),
      ReferenceFieldAs("AssetShip", "FAssetshipID_ID", "FAssetShipID", "AssistDetail", "资产关系"),
      ReferenceFieldAs("SuperDept", "FSuperDeptID_ID", "FSuperDeptID", "AssistDetail", "上级主管"),
  };
  k.importOrder = {"AcctMode", "InvestAmt", "InvestRate", "BadDebtsRate", "BondInvestAmt", "Level", "IsDetail",
                   kFirstSave, "Trade", "Region", "OwnerShip", "AssetShip", "SuperDept"};
  return k;
}

}  // namespace

const ItemKind& SonCompanyKind() {
  static const ItemKind kind = Build();
  return kind;
}

}  // namespace morvent
