#include "store/item_metadata.h"

#include <vector>

#include "store/item_values.h"
#include "store/ledger_store.h"

namespace morvent {

namespace {

constexpr const char* kItemTables = R"SQL(
CREATE TABLE t_ItemClass (
  FItemClassID INTEGER PRIMARY KEY AUTOINCREMENT,
  FNumber TEXT NOT NULL,
  FName TEXT NOT NULL);

CREATE TABLE t_ItemClassProp (
  FItemClassID INTEGER NOT NULL,
  FPropID INTEGER NOT NULL,
  FName TEXT NOT NULL,
  FSearch INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (FItemClassID, FPropID)) WITHOUT ROWID;

CREATE TABLE t_Item (
  FItemID INTEGER PRIMARY KEY AUTOINCREMENT,
  FItemClassID INTEGER NOT NULL,
  FNumber TEXT NOT NULL,
  FName TEXT NOT NULL,
  FParentID INTEGER NOT NULL DEFAULT 0,
  FValues TEXT);
CREATE UNIQUE INDEX ix_Item_Number ON t_Item (FItemClassID, FNumber);
CREATE INDEX ix_Item_Name ON t_Item (FItemClassID, FName);

CREATE TABLE t_SubMesType (
  FTypeID INTEGER PRIMARY KEY AUTOINCREMENT,
  FName TEXT NOT NULL);

CREATE TABLE t_SubMes (
  FItemID INTEGER PRIMARY KEY AUTOINCREMENT,
  FTypeID INTEGER NOT NULL,
  FNumber TEXT NOT NULL,
  FName TEXT NOT NULL);
CREATE UNIQUE INDEX ix_SubMes_Number ON t_SubMes (FTypeID, FNumber);
CREATE INDEX ix_SubMes_Type ON t_SubMes (FTypeID);
CREATE INDEX ix_SubMes_Name ON t_SubMes (FTypeID, FName);
)SQL";

// Version 1's table of field rows, read by SQL of other programs: the same
// rows from the one text per item (store/item_values.h). The server's
// json_each_text answers every value as text, as its table did.
constexpr const char* kItemValueView =
    "CREATE VIEW t_ItemValue (FItemID, FField, FValue) AS SELECT i.FItemID, v.key, v.value "
    "FROM t_Item i, json_each(i.FValues) v WHERE i.FValues IS NOT NULL";

// The server's json functions refuse an escaped NUL, which its text cannot
// hold: item_values_json reads the fields' text without it. json_patch is
// SQLite's as far as a save uses it (a flat object; null clears a member),
// on the json type, which keeps each value's text as written, so a double
// keeps its digits.
constexpr const char* kServerItemValueSql = R"SQL(
CREATE OR REPLACE FUNCTION item_values_json(v TEXT) RETURNS json LANGUAGE sql IMMUTABLE AS $f$
SELECT regexp_replace(v, '(?<!\\)((?:\\\\)*)\\u0000', '\1', 'g')::json
$f$;
CREATE OR REPLACE FUNCTION json_patch(target TEXT, patch TEXT) RETURNS TEXT LANGUAGE sql IMMUTABLE AS $f$
SELECT coalesce('{' || string_agg(to_json(k)::text || ':' || v, ',') || '}', '{}') FROM (
  SELECT t.key AS k, t.value::text AS v FROM json_each(item_values_json(target)) t
   WHERE NOT EXISTS (SELECT 1 FROM json_each(item_values_json(patch)) p WHERE p.key = t.key)
  UNION ALL
  SELECT p.key, p.value::text FROM json_each(item_values_json(patch)) p WHERE json_typeof(p.value) <> 'null') s
$f$;
CREATE VIEW t_ItemValue (FItemID, FField, FValue) AS SELECT i.FItemID, v.key, v.value
FROM t_Item i CROSS JOIN LATERAL json_each_text(item_values_json(i.FValues)) v WHERE i.FValues IS NOT NULL;
)SQL";

void CreateItemValueView(LedgerStore& store) {
  store.Exec(store.OnServer() ? kServerItemValueSql : kItemValueView);
}

// Assist-data types of a new ledger, IDs 1.. in this order; a property of any
// class is bound to the type of its own name.
constexpr const char* kStandardTypes[] = {
    "区域", "行业",     "状态",     "性别",     "职务",   "文化程度", "职员类别", "计价方法", "物料属性",
    "商品属性", "税目代码", "仓库属性", "仓库类型", "核算模式", "所有制", "资产关系", "上级主管",
};

struct ClassProps {
  int16_t classId;
  std::vector<const char*> properties;
};
const ClassProps kStandardProps[] = {
    {1, {"区域", "行业", "状态"}},
    {3, {"性别", "职务", "文化程度", "职员类别"}},
    {4, {"计价方法", "物料属性", "商品属性", "税目代码"}},
    {5, {"仓库属性", "仓库类型"}},
    {8, {"区域", "行业", "状态"}},
    {10, {"核算模式", "行业", "区域", "所有制", "资产关系", "上级主管"}},
};

int32_t StandardTypeId(const std::string& name) {
  int32_t id = 0;
  for (const char* t : kStandardTypes) {
    ++id;
    if (name == t) return id;
  }
  return 0;
}

}  // namespace

void CreateItemTables(LedgerStore& store) {
  store.Exec(kItemTables);
  CreateItemValueView(store);
  store.CreateCountTriggers("t_ItemClass");
  store.CreateCountTriggers("t_Item", "FItemClassID");
  store.CreateCountTriggers("t_SubMesType");
  store.CreateCountTriggers("t_SubMes", "FTypeID");
}

ItemValuesMoved MoveItemValuesIntoItems(LedgerStore& store) {
  ItemValuesMoved moved;
  store.Exec("ALTER TABLE t_Item ADD COLUMN FValues TEXT");
  // Read whole before writing: a server's rows and a file's cursor alike
  // stay untouched by the updates.
  std::vector<std::pair<int32_t, std::string>> items;
  {
    auto q = store.Prepare(
        "SELECT v.FItemID, v.FField, v.FValue FROM t_ItemValue v JOIN t_Item i ON i.FItemID = v.FItemID "
        "ORDER BY v.FItemID, v.FField");
    ItemValuesWriter values;
    int32_t current = 0;
    auto done = [&] {
      if (current != 0) items.emplace_back(current, values.Take());
      values = ItemValuesWriter();
    };
    while (q.Next()) {
      const auto id = static_cast<int32_t>(q.Int(0));
      if (id != current) {
        done();
        current = id;
      }
      const std::string field = q.Text(1);
      // Each value as stored, a whole number of any size included.
      switch (q.Kind(2)) {
        case DbStatement::Type::Null: values.AddNull(field); break;
        case DbStatement::Type::Integer: values.AddInt(field, q.Int(2)); break;
        case DbStatement::Type::Real: values.AddReal(field, q.Real(2)); break;
        case DbStatement::Type::Text: values.AddText(field, q.Text(2)); break;
      }
      ++moved.fields;
    }
    done();
  }
  for (const auto& [id, text] : items)
    store.Prepare("UPDATE t_Item SET FValues = ? WHERE FItemID = ?").Bind(1, text).Bind(2, id).Run();
  moved.items = static_cast<int64_t>(items.size());
  {
    auto orphans = store.Prepare("SELECT count(*) FROM t_ItemValue WHERE FItemID NOT IN (SELECT FItemID FROM t_Item)");
    if (orphans.Next()) moved.orphans = orphans.Int(0);
  }
  store.Exec("DROP TABLE t_ItemValue");
  CreateItemValueView(store);
  return moved;
}

void SeedStandardItemMetadata(LedgerStore& store) {
  store.Write([&] {
    for (const auto& c : kStandardItemClasses) {
      auto q = store.Prepare("INSERT INTO t_ItemClass (FItemClassID, FNumber, FName) VALUES (?, ?, ?)");
      q.Bind(1, int32_t{c.id}).Bind(2, c.number).Bind(3, c.name).Run();
    }
    int32_t typeId = 0;
    for (const char* t : kStandardTypes) {
      auto q = store.Prepare("INSERT INTO t_SubMesType (FTypeID, FName) VALUES (?, ?)");
      q.Bind(1, ++typeId).Bind(2, t).Run();
    }
    for (const auto& c : kStandardProps) {
      int32_t propId = 0;
      for (const char* p : c.properties) {
        auto q = store.Prepare(
            "INSERT INTO t_ItemClassProp (FItemClassID, FPropID, FName, FSearch) VALUES (?, ?, ?, ?)");
        q.Bind(1, int32_t{c.classId}).Bind(2, ++propId).Bind(3, p).Bind(4, StandardTypeId(p)).Run();
      }
    }
    int32_t gender = StandardTypeId("性别");
    const char* const genders[][2] = {{"01", "男"}, {"02", "女"}};
    for (const auto& g : genders) {
      auto q = store.Prepare("INSERT INTO t_SubMes (FTypeID, FNumber, FName) VALUES (?, ?, ?)");
      q.Bind(1, gender).Bind(2, g[0]).Bind(3, g[1]).Run();
    }
  });
}

std::optional<std::string> ItemClassName(LedgerStore& store, int32_t classId) {
  auto q = store.Prepare("SELECT FName FROM t_ItemClass WHERE FItemClassID = ?");
  q.Bind(1, classId);
  if (!q.Next()) return std::nullopt;
  return q.Text(0);
}

std::optional<int32_t> PropertySearch(LedgerStore& store, int32_t classId, const std::string& property) {
  auto q = store.Prepare(
      "SELECT FSearch FROM t_ItemClassProp WHERE FItemClassID = ? AND FName = ? ORDER BY FPropID LIMIT 1");
  q.Bind(1, classId).Bind(2, property);
  if (!q.Next()) return std::nullopt;
  return static_cast<int32_t>(q.Int(0));
}

}  // namespace morvent
