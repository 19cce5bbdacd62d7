#include "web/ledger_view.h"

#include <map>
#include <optional>
#include <stdexcept>

#include "front/code_table.h"
#include "store/ledger_admin.h"
#include "store/ledger_store.h"

namespace morvent::web {

namespace {

// Where a kind's objects live. number and name are SQL over the row "a";
// parent names the parent object, "" when the kind has none.
struct Source {
  std::string table, number, name, parent, scope;
};

std::optional<int64_t> ItemClassOf(LedgerStore& store, const std::string& title) {
  auto q = store.Prepare("SELECT FItemClassID FROM t_ItemClass WHERE FName = ?1");
  q.Bind(1, title);
  if (q.Next()) return q.Int(0);
  return std::nullopt;
}

std::optional<Source> SourceOf(LedgerStore& store, const BaseType& b) {
  static const std::map<int32_t, Source> core = {
      {101, {"t_AccountGroup", "CAST(a.FGroupID AS TEXT)", "a.FName", "''", "1"}},
      {102, {"t_Account", "a.FNumber", "a.FName",
             "COALESCE((SELECT p.FNumber FROM t_Account p WHERE p.FAccountID = a.FParentID), '')", "1"}},
      {103, {"t_Currency", "a.FNumber", "a.FName", "''", "1"}},
      {104, {"t_VoucherGroup", "CAST(a.FGroupID AS TEXT)", "a.FName", "''", "1"}},
      {105, {"t_MeasureUnitGroup", "CAST(a.FGroupID AS TEXT)", "a.FName", "''", "1"}},
      {106, {"t_MeasureUnit", "a.FNumber", "a.FName",
             "COALESCE((SELECT g.FName FROM t_MeasureUnitGroup g WHERE g.FGroupID = a.FUnitGroupID), '')", "1"}},
      {107, {"t_SettleType", "a.FNumber", "a.FName", "''", "1"}},
      {121, {"t_SubMesType", "CAST(a.FTypeID AS TEXT)", "a.FName", "''", "1"}},
      {122, {"t_SubMes", "a.FNumber", "a.FName",
             "COALESCE((SELECT t.FName FROM t_SubMesType t WHERE t.FTypeID = a.FTypeID), '')", "1"}},
  };
  if (auto c = core.find(b.code); c != core.end()) return c->second;
  const auto cls = ItemClassOf(store, b.title);
  if (!cls) return std::nullopt;
  return Source{"t_Item", "a.FNumber", "a.FName",
                "COALESCE((SELECT p.FNumber FROM t_Item p WHERE p.FItemID = a.FParentID), '')",
                "a.FItemClassID = " + std::to_string(*cls)};
}

int64_t CountOf(LedgerStore& store, const BaseType& b) {
  const auto source = SourceOf(store, b);
  if (!source) return 0;
  if (source->table != "t_Item") return store.CountRows(source->table);
  return store.CountRows("t_Item", "FItemClassID", *ItemClassOf(store, b.title));
}

// A LIKE pattern matching the text anywhere, its wildcards taken literally.
std::string Containing(const std::string& text) {
  std::string p = "%";
  for (char c : text) {
    if (c == '%' || c == '_' || c == '\\') p += '\\';
    p += c;
  }
  return p + "%";
}

}  // namespace

nlohmann::json Overview(const std::string& ledger, const std::string& shownPath) {
  auto store = LedgerStore::ForPath(ledger);
  nlohmann::json kinds = nlohmann::json::array();
  for (const auto& b : BaseTypes()) {
    if (!b.create) continue;
    kinds.push_back({{"code", b.code}, {"element", b.element}, {"title", b.title},
                     {"count", CountOf(*store, b)}, {"importable", b.importable}});
  }
  return {{"path", shownPath}, {"kind", store->Meta("kind", kDefaultLedgerKind)}, {"kinds", kinds}};
}

BrowsePage Browse(const std::string& ledger, int32_t code, const std::string& search, int64_t offset, int64_t limit) {
  const BaseType* b = FindBaseType(code);
  if (!b || !b->create) throw std::invalid_argument("未知的基础资料类型：" + std::to_string(code));
  auto store = LedgerStore::ForPath(ledger);
  BrowsePage page;
  const auto source = SourceOf(*store, *b);
  if (!source) return page;
  std::string where = " FROM " + source->table + " a WHERE " + source->scope;
  if (!search.empty())
    where += " AND (" + source->number + " LIKE ?1 ESCAPE '\\' OR " + source->name + " LIKE ?1 ESCAPE '\\')";
  const std::string pattern = Containing(search);
  if (search.empty()) {
    page.total = CountOf(*store, *b);
  } else {
    auto count = store->Prepare("SELECT COUNT(*)" + where);
    count.Bind(1, pattern);
    if (count.Next()) page.total = count.Int(0);
  }
  // A number that is the row's ID sorts as a number.
  const std::string order = source->number.starts_with("CAST") ? "a.rowid" : source->number + ", a.rowid";
  auto rows = store->Prepare("SELECT " + source->number + ", " + source->name + ", " + source->parent + where +
                             " ORDER BY " + order + " LIMIT ?2 OFFSET ?3");
  if (!search.empty()) rows.Bind(1, pattern);
  rows.Bind(2, limit);
  rows.Bind(3, offset);
  while (rows.Next()) page.rows.push_back({rows.Text(0), rows.Text(1), rows.Text(2)});
  return page;
}

}  // namespace morvent::web
