#include "store/item_refs.h"

#include "platform/error.h"
#include "store/item_metadata.h"
#include "store/ledger_store.h"

namespace morvent {

namespace {

struct RefTable {
  RefKind kind;
  const char* table;
  const char* idColumn;
  const char* scopeColumn;  // restricts a name lookup, or nullptr
  const char* what;         // the kind's Chinese name, for messages
};

constexpr RefTable kRefTables[] = {
    {RefKind::Currency, "t_Currency", "FCurrencyID", nullptr, "币别"},
    {RefKind::SettleMethod, "t_SettleType", "FItemID", nullptr, "结算方式"},
    {RefKind::AssistEntry, "t_SubMes", "FItemID", "FTypeID", "辅助资料"},
    {RefKind::Item, "t_Item", "FItemID", "FItemClassID", "核算项目"},
    {RefKind::Account, "t_Account", "FAccountID", nullptr, "会计科目"},
    {RefKind::MeasureUnit, "t_MeasureUnit", "FMeasureUnitID", nullptr, "计量单位"},
    {RefKind::UnitGroup, "t_MeasureUnitGroup", "FGroupID", nullptr, "计量单位组"},
};

const RefTable& TableOf(RefKind kind) {
  for (const auto& t : kRefTables)
    if (t.kind == kind) return t;
  ThrowLedgerError("字段没有引用对象");
}

}  // namespace

Variant ReferencedName(LedgerStore& store, const FieldDef& field, int32_t id) {
  if (id == 0) return Variant::Null();
  const RefTable& t = TableOf(field.ref);
  std::string sql = std::string("SELECT FName FROM ") + t.table + " WHERE " + t.idColumn + " = ?";
  if (field.ref == RefKind::Item) sql += " AND FItemClassID = ?";
  auto q = store.Prepare(sql);
  q.Bind(1, id);
  if (field.ref == RefKind::Item) q.Bind(2, int32_t{field.refClass});
  if (!q.Next()) return Variant::Null();
  return q.Get(0);
}

int32_t LookupReference(LedgerStore& store, int32_t classId, const FieldDef& field, const std::string& name) {
  if (name.empty()) return 0;
  const RefTable& t = TableOf(field.ref);
  int64_t scope = 0;
  if (field.ref == RefKind::Item) scope = field.refClass;
  if (field.ref == RefKind::AssistEntry) {
    auto search = PropertySearch(store, classId, field.property);
    if (!search) {
      auto cls = ItemClassName(store, classId);
      ThrowLedgerError("核算项目类别“" + cls.value_or(std::to_string(classId)) + "”没有属性“" + field.property + "”");
    }
    scope = *search;
  }
  std::string sql = std::string("SELECT ") + t.idColumn + " FROM " + t.table + " WHERE FName = ?";
  if (t.scopeColumn) sql += std::string(" AND ") + t.scopeColumn + " = ?";
  sql += std::string(" ORDER BY ") + t.idColumn + " LIMIT 1";
  auto q = store.Prepare(sql);
  q.Bind(1, name);
  if (t.scopeColumn) q.Bind(2, scope);
  if (!q.Next()) {
    std::string where = field.ref == RefKind::AssistEntry ? std::string("（") + field.property + "）" : "";
    ThrowLedgerError(std::string(t.what) + where + "“" + name + "”不存在");
  }
  return static_cast<int32_t>(q.Int(0));
}

}  // namespace morvent
