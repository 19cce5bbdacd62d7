#include "store/item_metadata.h"

#include <vector>

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
  FParentID INTEGER NOT NULL DEFAULT 0);
CREATE UNIQUE INDEX ix_Item_Number ON t_Item (FItemClassID, FNumber);
CREATE INDEX ix_Item_Name ON t_Item (FItemClassID, FName);

CREATE TABLE t_ItemValue (
  FItemID INTEGER NOT NULL,
  FField TEXT NOT NULL,
  FValue,
  PRIMARY KEY (FItemID, FField)) WITHOUT ROWID;

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
  store.CreateCountTriggers("t_ItemClass");
  store.CreateCountTriggers("t_Item", "FItemClassID");
  store.CreateCountTriggers("t_SubMesType");
  store.CreateCountTriggers("t_SubMes", "FTypeID");
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
