#pragma once
// The item side's small sets, on the ledger's shared table layer
// (store/ledger_table.h): "Corabin.ItemClassSet" (item classes),
// "Corabin.SubMesTypeSet" (assist-data types) and "Corabin.SubMesSet"
// (assist-data entries). All list in ID order.
//
// - Item class: ItemClassID (read), Number, Name; fields FItemClassID,
//   FNumber, FName. ExistenceCheck by Number and/or Name.
// - Type: TypeID (read), Name; fields FTypeID, FName. CreateNew() needs no
//   argument. Type IDs stay within 16 bits, like class IDs: they are the
//   "FSearch" codes of the classes' properties.
// - Entry: ItemID, TypeID (read), Number (unique within the type), Name;
//   fields FItemID, FTypeID, FNumber, FName. Restriction "TypeID" (0: every
//   type). Item(id, 866) finds an entry of any type, Item(id, typeID) one of
//   that type, Item(id) one of the restricted type. ExistenceCheck takes
//   "Number" and/or "Name" and an optional "TypeID" standing in for the
//   restriction. CreateNew(typeID[, number[, name]]) or the same named.
#include <cstdint>

#include "context/ledger_api.h"
#include "store/ledger_store.h"

namespace morvent {

// The second argument of the entry set's Item that stands for "any type".
inline constexpr int32_t kAnyAssistType = 866;

ObjectSetPtr NewItemClassSet(LedgerStorePtr store);
ObjectSetPtr NewSubMesTypeSet(LedgerStorePtr store);
ObjectSetPtr NewSubMesSet(LedgerStorePtr store);

}  // namespace morvent
