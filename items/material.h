#pragma once
// CMaterial: materials (code 116), items of class 4 with the parent under
// "MaterialType". One vocabulary of record keys serves both ledger kinds, so
// a file carries materials between them; each kind reads and writes its own
// database fields and ignores the keys it does not know.
//
// Every ledger: "Model", "CompanyCode" (left out when empty, an absent key
// clears it), "Track" ("计价方法"). Then, in a GY ledger: limits, batch flag,
// safety stock, lead time, prices, decimals, "ErpCls" ("物料属性"), "Unit"
// (the unit's own record), "DefaultLoc" (a stock), "Source" (a supplier),
// "GoodSpec" ("税目代码"), "OrderRector" (an employee) and four accounts.
// In any other ledger: limits, the special-tax, batch, keep-time and
// stock-time flags, tax rate, "SecInv" (the high limit again, exported only),
// prices, "ErpCls" (exported from "商品属性"; imported from "物料属性", or
// from "商品属性" when that holds no such name), "DefaultLoc", "Unit" (the
// record of the default unit of the material's unit group; imported as the
// first group holding a unit of that name), decimals, "GoodSpec" and three
// accounts. Each kind writes its fields in its own order.
//
// Flags export as 1 / 0 and import as true only for a value equal to 1; a
// text that is no number is a type mismatch. Absent plain keys and flags
// import as 0 / false; absent references leave the field as it was.
// A "FGoodSpec" that is not a number exports no "GoodSpec".
//
// The item set and the lookups are made once per handler object. There is
// no CheckID.
#include <cstdint>
#include <string>

#include "items/item_frame.h"

namespace morvent {

const ItemKind& MaterialKind();

class CMaterial : public CItemFrame {
 public:
  CMaterial() : CItemFrame(MaterialKind()) {}
  bool CheckID(int32_t) = delete;

  // The default unit of the unit group with that ID; 0 when the group or
  // its default cannot be had (never raises).
  static int32_t GetDefaultUnitID(int32_t groupId);
  // The ID of the first unit group, in the ledger's order, that holds a unit
  // of that name; 0 when none does.
  static int32_t FindUnitGroup(const std::string& unitName);
};

}  // namespace morvent
