#pragma once
// Tables and standard metadata of the item side, and the lookups of item
// classes and their properties that the objects share.
//
// Tables (all IDs positive; 0 in a reference means none):
//   t_ItemClass     (FItemClassID, FNumber, FName)        item classes
//   t_ItemClassProp (FItemClassID, FPropID, FName, FSearch)
//                   the properties of a class; FSearch is the ID of the
//                   assist-data type the property draws its values from
//   t_Item          (FItemID, FItemClassID, FNumber, FName, FParentID,
//                   FValues) items; FNumber unique within a class; FValues
//                   the fields that hold a value, one JSON object
//                   (store/item_values.h), NULL when none does
//   t_ItemValue     (FItemID, FField, FValue)  a view: one row per field
//                   that holds a value, for SQL that reads fields by rows
//   t_SubMesType    (FTypeID, FName)                      assist-data types
//   t_SubMes        (FItemID, FTypeID, FNumber, FName)    assist-data entries;
//                   FNumber unique within a type
#include <cstdint>
#include <optional>
#include <string>

namespace morvent {

class LedgerStore;

// The standard item classes of every new ledger, with the IDs and numbers
// that are the same in every ledger (classes are matched by name and number).
struct StandardItemClass {
  int16_t id;
  const char* number;
  const char* name;
};
inline constexpr StandardItemClass kStandardItemClasses[] = {
    {1, "001", "客户"}, {2, "002", "部门"},   {3, "003", "职员"},     {4, "004", "物料"},
    {5, "005", "仓库"}, {8, "008", "供应商"}, {10, "010", "分支机构"},
};

// Highest ID of an assist-data type and of an item class: both travel as
// 16-bit integers ("FSearch", "ItemClassID").
inline constexpr int64_t kMaxSmallId = 32767;

void CreateItemTables(LedgerStore& store);

// Schema version 1 -> 2: moves the rows of the table t_ItemValue into their
// items' FValues and puts the view in the table's place. Run inside the
// upgrade's one write.
struct ItemValuesMoved {
  int64_t items = 0;
  int64_t fields = 0;
  int64_t orphans = 0;  // rows of items that no longer exist, left out
};
ItemValuesMoved MoveItemValuesIntoItems(LedgerStore& store);
void SeedStandardItemMetadata(LedgerStore& store);

// The class's name; empty when the class does not exist.
std::optional<std::string> ItemClassName(LedgerStore& store, int32_t classId);

// The assist-data type a class's property is bound to ("FSearch"), or
// nothing when the class has no property of that name.
std::optional<int32_t> PropertySearch(LedgerStore& store, int32_t classId, const std::string& property);

}  // namespace morvent
