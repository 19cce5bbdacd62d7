#include "store/item_catalogue.h"

namespace morvent {

namespace {

// Field names are ASCII; compared without allocating, as every field access
// resolves its name.
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// A table's name against a wanted one without measuring the table's first:
// an export asks this a few dozen times per field of every record.
bool SameName(const char* a, std::string_view b) {
  for (char c : b)
    if (*a == '\0' || Upper(*a++) != Upper(c)) return false;
  return *a == '\0';
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

constexpr FieldDef T(const char* n) { return {n, FieldKind::Text}; }
constexpr FieldDef N(const char* n) { return {n, FieldKind::Number}; }
constexpr FieldDef D(const char* n) { return {n, FieldKind::Date}; }
constexpr FieldDef F(const char* n) { return {n, FieldKind::Flag}; }
constexpr FieldDef FlagAlias(const char* n, const char* of) { return {n, FieldKind::Flag, RefKind::None, 0, nullptr, of}; }
constexpr FieldDef R(const char* n, RefKind k) { return {n, FieldKind::Ref, k}; }
constexpr FieldDef Assist(const char* n, const char* property) {
  return {n, FieldKind::Ref, RefKind::AssistEntry, 0, property};
}
constexpr FieldDef ItemRef(const char* n, int16_t cls) { return {n, FieldKind::Ref, RefKind::Item, cls}; }

// Customers: the GY set, the credit set, then the common fields.
constexpr FieldDef kCustomer[] = {
    T("FShortName"), T("FContact"), N("FCreditLimit"), T("FCIQNumber"),
    R("FCyID", RefKind::Currency), Assist("FRegionID", "区域"), Assist("FTrade", "行业"),
    R("FSetID", RefKind::SettleMethod), Assist("FStatus", "状态"),
    N("FCreditDays"), N("FCreditAmount"), T("FCreditLevel"),
    T("FAddress"), T("FPhone"), T("FFax"), T("FPostalCode"), T("FEmail"), T("FBank"), T("FAccount"),
    T("FTaxNum"), T("FCity"), T("FProvince"), T("FCountry"), T("FHomePage"), T("FBrNo"),
};

// Suppliers: as customers without the CIQ number, with a supplier type.
constexpr FieldDef kSupplier[] = {
    T("FShortName"), T("FContact"), T("FPostalCode"), T("FEmail"), N("FCreditLimit"),
    T("FCity"), T("FProvince"), T("FCountry"), T("FHomePage"),
    R("FCyID", RefKind::Currency), Assist("FRegionID", "区域"), Assist("FTrade", "行业"),
    R("FSetID", RefKind::SettleMethod), Assist("FStatus", "状态"),
    N("FCreditDays"), N("FCreditAmount"), T("FCreditLevel"),
    T("FAddress"), T("FPhone"), T("FFax"), T("FBank"), T("FAccount"), T("FTaxNum"), T("FBrNo"),
    N("FTypeID"),
};

constexpr FieldDef kDepartment[] = {
    T("FManager"), T("FPhone"), T("FFax"), T("FNote"), T("FBrNo"),
};

// Employees. "FBankID" holds the bank's name as text, not a reference.
constexpr FieldDef kEmployee[] = {
    Assist("FGender", "性别"), D("FBirthday"), T("FEmail"), T("FAddress"), T("FPhone"), T("FID"),
    D("FHireDate"), D("FLeaveDate"), T("FBankID"), T("FBankAccount"), T("FNote"), T("FBrNo"),
    Assist("FDuty", "职务"), Assist("FDegree", "文化程度"), ItemRef("FDepartmentID", 2),
    Assist("FEmpGroup", "职员类别"),
};

// Stocks (warehouses).
constexpr FieldDef kStock[] = {
    T("FAddress"), T("FPhone"), T("FBrNo"), ItemRef("FEmpID", 3),
    Assist("FProperty", "仓库属性"), Assist("FTypeID", "仓库类型"),
};

// Materials: the common fields, the GY set, then the non-GY set. The non-GY
// flags are exported as "FKeep" / "FStockTime" and imported as
// "FIsKeepTime" / "FIsStockTime"; both names reach one stored flag so that a
// material keeps its flags through an export and an import. "FGoodSpec"
// holds whatever it is given (its export tests whether it is numeric).
constexpr FieldDef kMaterial[] = {
    T("FModel"), T("FBrNo"), Assist("FTrack", "计价方法"),
    // GY
    N("FLowLimit"), N("FHighLimit"), F("FBatchManager"), N("FSecInv"), N("FLeadTime"),
    N("FPlanPrice"), N("FSalePrice"), N("FPriceDecimal"), N("FQtyDecimal"),
    Assist("FErpClsID", "物料属性"), R("FUnitID", RefKind::MeasureUnit), ItemRef("FDefaultLoc", 5),
    ItemRef("FSource", 8), T("FGoodSpec"), ItemRef("FOrderRector", 3),
    R("FAcctID", RefKind::Account), R("FSaleAcctID", RefKind::Account), R("FCostAcctID", RefKind::Account),
    R("FAPAcctID", RefKind::Account),
    // non-GY
    N("FMinStock"), N("FMaxStock"), F("FIsSpecialTax"), F("FBatch"), F("FKeep"),
    FlagAlias("FIsKeepTime", "FKeep"), F("FStockTime"), FlagAlias("FIsStockTime", "FStockTime"),
    N("FTaxRate"), N("FInPrice"), N("FOutPrice"), Assist("FTypeID", "商品属性"), ItemRef("FDefStockID", 5),
    R("FUnitGroupID", RefKind::UnitGroup), N("FPriceScale"), N("FQtyScale"), Assist("FTaxNumber", "税目代码"),
    R("FStockAcctID", RefKind::Account), R("FCOGSAcctID", RefKind::Account),
};

// Branch companies. "FLevel" and "FDetail" are the company's own figures as
// the file gives them, not derived from its place in the tree.
constexpr FieldDef kSonCompany[] = {
    Assist("FAcctModeID", "核算模式"), N("FInvestAmt"), N("FInvestRate"), N("FBadDebtsRate"),
    N("FBondInvestAmt"), N("FLevel"), F("FDetail"), Assist("FTrade", "行业"), Assist("FRegionID", "区域"),
    Assist("FOwnerShipID", "所有制"), Assist("FAssetShipID", "资产关系"), Assist("FSuperDeptID", "上级主管"),
};

constexpr ClassCatalogue kCatalogues[] = {
    {1, kCustomer}, {2, kDepartment}, {3, kEmployee}, {4, kMaterial},
    {5, kStock},    {8, kSupplier},   {10, kSonCompany},
};

struct CoreName {
  const char* name;
  CoreField field;
};
constexpr CoreName kCoreNames[] = {
    {"FItemID", CoreField::ItemID}, {"FItemClassID", CoreField::ItemClassID}, {"FNumber", CoreField::Number},
    {"FName", CoreField::Name},     {"FParentID", CoreField::ParentID},
};

const FieldDef* FindDef(const ClassCatalogue& c, std::string_view name) {
  for (const auto& f : c.fields)
    if (SameName(f.name, name)) return &f;
  return nullptr;
}

// The stored field behind a name (aliases followed once).
const FieldDef* Stored(const ClassCatalogue& c, const FieldDef* f) {
  if (f && f->aliasOf) return FindDef(c, f->aliasOf);
  return f;
}

}  // namespace

const ClassCatalogue* FindCatalogue(int16_t classId) {
  for (const auto& c : kCatalogues)
    if (c.classId == classId) return &c;
  return nullptr;
}

FieldRef ResolveField(const ClassCatalogue* catalogue, std::string_view name) {
  FieldRef r;
  for (const auto& c : kCoreNames)
    if (SameName(c.name, name)) {
      r.core = c.field;
      return r;
    }
  if (!catalogue) return r;
  if (const FieldDef* f = Stored(*catalogue, FindDef(*catalogue, name))) {
    r.def = f;
    return r;
  }
  constexpr std::string_view kIdEnding = "_ID";
  if (name.size() > kIdEnding.size() && SameName(name.substr(name.size() - kIdEnding.size()), kIdEnding)) {
    const FieldDef* f = Stored(*catalogue, FindDef(*catalogue, name.substr(0, name.size() - kIdEnding.size())));
    if (f && f->kind == FieldKind::Ref) {
      r.def = f;
      r.idName = true;
    }
  }
  return r;
}

}  // namespace morvent
