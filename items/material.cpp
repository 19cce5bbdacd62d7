#include "items/material.h"

#include "context/glfunc.h"
#include "items/assist_detail.h"
#include "items/customer.h"
#include "items/employee.h"
#include "items/field_shapes.h"
#include "items/stock.h"
#include "items/supplier.h"
#include "ledger/account.h"
#include "platform/registry.h"
#include "units/measure_unit.h"

namespace morvent {

namespace {

constexpr const char* kAssist = "AssistDetail";
constexpr const char* kUnit = "MeasureUnit";
constexpr int16_t kClass = 4;

const auto kGY = FieldSet::GY;
const auto kOther = FieldSet::NonGY;

// Exported from a property, imported into the dictionary.
ItemField Number(const char* key, const char* exported, const char* imported, FieldSet set) {
  ItemField f = NumberField(key, exported, set);
  f.importField = imported;
  f.importAccess = imported[0] ? Access::Dictionary : Access::None;
  return f;
}

ItemField Reference(const char* key, const char* field, const char* lookup, std::string property, FieldSet set,
                    Access exportAccess = Access::Properties, Access importAccess = Access::Dictionary) {
  ItemField f = ReferenceField(key, field, lookup, std::move(property), set);
  f.exportAccess = exportAccess;
  f.importAccess = importAccess;
  return f;
}

ItemField Custom(const char* key, FieldSet set) {
  ItemField f;
  f.key = key;
  f.kind = FieldKind::Custom;
  f.set = set;
  return f;
}

Variant ReadField(LedgerObject& item, bool dictionary, const std::string& field, const Variant& def) {
  return dictionary ? Must(item.Dictionary()).GetValue(field, def) : item.Properties(field);
}

// 1 / 0 on export; true only for a value equal to 1 on import, and a text
// that is no number is a type mismatch, as for accounts and units. An empty
// imported name: the key is exported only.
ItemField Flag(const char* key, bool fromDictionary, std::string exported, std::string imported, FieldSet set) {
  ItemField f = Custom(key, set);
  f.exportFn = [key = std::string(key), fromDictionary, exported](CItemFrame&, LedgerObject& item, DataRecord& r) {
    const bool on = NullToDefault(ReadField(item, fromDictionary, exported, false), false).ToBool();
    r.SetValue(key, int32_t{on ? 1 : 0});
  };
  if (!imported.empty())
    f.importFn = [key = std::string(key), imported](CItemFrame&, LedgerObject& item, const DataRecord& r) {
      const Variant v = NullToDefault(r.GetValue(key, int32_t{0}), int32_t{0});
      Must(item.Dictionary()).SetValue(imported, VarEquals(v, Variant(int32_t{1})));
    };
  return f;
}

// An assist value whose ID is stored as free text: only a numeric text is
// taken as an ID.
ItemField GoodSpecGY() {
  ItemField f = Custom("GoodSpec", kGY);
  f.exportFn = [](CItemFrame& frame, LedgerObject& item, DataRecord& r) {
    const Variant v = NullToDefault(item.Properties("FGoodSpec"), int32_t{0});
    const int32_t id = IsNumeric(v) ? v.ToLong() : 0;
    auto& lookup = frame.Lookup(kAssist);
    if (id > 0 && lookup.CheckID(id)) r.SetValue("GoodSpec", lookup.GetInfo(id, "税目代码"));
  };
  f.importFn = [](CItemFrame& frame, LedgerObject& item, const DataRecord& r) {
    auto sub = r.GetValue("GoodSpec", Variant::Nothing()).As<DataRecord>();
    if (sub) item.SetProperties("FGoodSpec", frame.Lookup(kAssist).GetID(sub, kClass, "税目代码"));
  };
  return f;
}

// Outside GY a material names its unit group; the file carries the group's
// default unit and names a group by one of its units.
ItemField UnitOfGroup() {
  ItemField f = Custom("Unit", kOther);
  f.exportFn = [](CItemFrame& frame, LedgerObject& item, DataRecord& r) {
    const int32_t group = NullToDefault(item.Properties("FUnitGroupID_ID"), int32_t{0}).ToLong();
    if (group <= 0) return;
    const int32_t unit = CMaterial::GetDefaultUnitID(group);
    auto& lookup = frame.Lookup(kUnit);
    if (lookup.CheckID(unit) && unit > 0) r.SetValue("Unit", lookup.GetInfo(unit, {}));
  };
  f.importFn = [](CItemFrame&, LedgerObject& item, const DataRecord& r) {
    auto sub = r.GetValue("Unit", Variant::Nothing()).As<DataRecord>();
    if (sub) item.SetProperties("FUnitGroupID", CMaterial::FindUnitGroup(sub->Value("Name").ToText()));
  };
  return f;
}

// Outside GY the export writes a "商品属性" value, while the lookup is made
// among the "物料属性" values; a name found only among the former is taken
// from there, so the ledger's own files come back.
ItemField ErpClsOther() {
  ItemField f = Custom("ErpCls", kOther);
  f.importFn = [](CItemFrame& frame, LedgerObject& item, const DataRecord& r) {
    auto sub = r.GetValue("ErpCls", Variant::Nothing()).As<DataRecord>();
    if (!sub) return;
    auto& lookup = frame.Lookup(kAssist);
    int32_t id = lookup.GetID(sub, kClass, "物料属性");
    if (id == 0) id = lookup.GetID(sub, kClass, "商品属性");
    item.SetProperties("FTypeID_ID", id);
  };
  return f;
}

ItemKind Build() {
  ItemKind k;
  k.code = 116;
  k.itemClassId = kClass;
  k.schemaFile = "SchemaMaterial.xml";
  k.element = "Material";
  k.parent.subRecordKey = "MaterialType";
  k.exportProgress = "正在导出物料资料，当前记录名称为：";
  k.exportError = "导出物料资料出错，当前记录名称为：";
  k.importProgress = "引入物料资料，当前记录名称为";
  k.importError = "引入物料资料错误，当前记录名称为：";
  k.keepItemSet = true;
  k.lookups = {{kAssist, LookupOf<CAssistDetail>()},   {kUnit, LookupOf<CMeasureUnit>()},
               {"Employee", LookupOf<CEmployee>()},    {"Stock", LookupOf<CStock>()},
               {"Supplier", LookupOf<CSupplier>()},    {"Account", LookupOf<CAccount>()}};

  const auto D = Access::Dictionary, P = Access::Properties;
  const auto None = Access::None;

  k.fields = {
      TextField("Model", "FModel"),
      CompanyCodeField(),
      ReferenceField("Track", "FTrack", kAssist, "计价方法"),
      // GY
      Number("LowLimit", "FLowLimit", "FLowLimit", kGY),
      Number("HighLimit", "FHighLimit", "FHighLimit", kGY),
      Flag("IsBatch", true, "FBatchManager", "FBatchManager", kGY),
      Number("SecInv", "FSecInv", "FSecInv", kGY),
      Number("LeadTime", "FLeadTime", "FLeadTime", kGY),
      Number("PlanPrice", "FPlanPrice", "FPlanPrice", kGY),
      Number("SalePrice", "FSalePrice", "FSalePrice", kGY),
      Number("PriceDecimal", "FPriceDecimal", "FPriceDecimal", kGY),
      Number("QtyDecimal", "FQtyDecimal", "FQtyDecimal", kGY),
      Reference("ErpCls", "FErpClsID", kAssist, "物料属性", kGY, P, P),
      Reference("Unit", "FUnitID", kUnit, {}, kGY, P, P),
      Reference("DefaultLoc", "FDefaultLoc", "Stock", {}, kGY),
      Reference("Source", "FSource", "Supplier", {}, kGY),
      GoodSpecGY(),
      Reference("OrderRector", "FOrderRector", "Employee", {}, kGY),
      Reference("AcctID", "FAcctID", "Account", {}, kGY, D),
      Reference("SaleAcctID", "FSaleAcctID", "Account", {}, kGY, D),
      Reference("CostAcctID", "FCostAcctID", "Account", {}, kGY, D),
      Reference("APAcctID", "FAPAcctID", "Account", {}, kGY, D),
      // Any other ledger
      Number("LowLimit", "FMinStock", "FMinStock", kOther),
      Number("HighLimit", "FMaxStock", "FMaxStock", kOther),
      Flag("IsSpecialTax", false, "FIsSpecialTax", "FIsSpecialTax", kOther),
      Flag("IsBatch", false, "FBatch", "", kOther),
      Flag("IsKeepTime", false, "FKeep", "FIsKeepTime", kOther),
      Flag("IsStockTime", false, "FStockTime", "FIsStockTime", kOther),
      Number("TaxRate", "FTaxRate", "FTaxRate", kOther),
      Number("SecInv", "FMaxStock", "", kOther),
      Number("PlanPrice", "FInPrice", "FInPrice", kOther),
      Number("SalePrice", "FOutPrice", "FOutPrice", kOther),
      Reference("ErpCls", "FTypeID", kAssist, "商品属性", kOther, P, None),
      ErpClsOther(),
      ReferenceFieldAs("DefaultLoc", "FDefStockID_ID", "FDefStockID_ID", "Stock", {}, kOther, P, D),
      UnitOfGroup(),
      Number("PriceDecimal", "FPriceScale", "FPriceScale", kOther),
      Number("QtyDecimal", "FQtyScale", "FQtyScale", kOther),
      ReferenceFieldAs("GoodSpec", "FTaxNumber_ID", "FTaxNumber_ID", kAssist, "税目代码", kOther, D, P),
      ReferenceFieldAs("AcctID", "FStockAcctID_ID", "FStockAcctID_ID", "Account", {}, kOther, P, D),
      ReferenceFieldAs("SaleAcctID", "FSaleAcctID_ID", "FSaleAcctID_ID", "Account", {}, kOther, P, D),
      ReferenceFieldAs("CostAcctID", "FCOGSAcctID_ID", "FCOGSAcctID_ID", "Account", {}, kOther, P, D),
  };
  k.importOrder = {"Model",     "CompanyCode", "Track",      "LowLimit",  "HighLimit",  "SecInv",
                   "LeadTime",  "IsBatch",     "QtyDecimal", "PriceDecimal", "PlanPrice", "SalePrice",
                   "Unit",      "GoodSpec",    "DefaultLoc", "Source",    "OrderRector", "ErpCls",
                   "AcctID",    "SaleAcctID",  "CostAcctID", "APAcctID"};
  k.importOrderNonGY = {"Model",        "CompanyCode", "Track",       "TaxRate",      "PlanPrice",
                        "SalePrice",    "QtyDecimal",  "PriceDecimal", "IsKeepTime",  "IsStockTime",
                        "IsSpecialTax", "LowLimit",    "HighLimit",   "Unit",         "DefaultLoc",
                        "GoodSpec",     "ErpCls",      "AcctID",      "SaleAcctID",   "CostAcctID"};
  return k;
}

}  // namespace

int32_t CMaterial::GetDefaultUnitID(int32_t groupId) {
  try {
    auto groups = CreateObjectAs<ObjectSet>(kMeasureUnitGroupSet);
    groups->Refresh();
    auto group = groups->Item(groupId);
    if (!group) return 0;
    return NullToDefault(group->Get("DefaultUnitID"), int32_t{0}).ToLong();
  } catch (...) {
    return 0;
  }
}

int32_t CMaterial::FindUnitGroup(const std::string& unitName) {
  auto groups = CreateObjectAs<ObjectSet>(kMeasureUnitGroupSet);
  groups->Refresh();
  auto cursor = groups->Enumerate();
  while (auto group = cursor->Next())
    if (group->Call("ExistenceCheck", {}, {{"Name", unitName}}).ToLong() > 0) return group->Get("GroupID").ToLong();
  return 0;
}

const ItemKind& MaterialKind() {
  static const ItemKind kind = Build();
  return kind;
}

}  // namespace morvent
