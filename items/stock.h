#pragma once
// CStock: stocks (warehouses, code 112), items of class 5 with the parent
// under "StockType". Every ledger exchanges address, phone (read through the
// properties dictionary), "CompanyCode" ("FBrNo", left out when empty) and
// the stock type ("仓库类型"); a GY ledger also exchanges the stock
// administrator (an employee's own record, through CEmployee) and the stock
// property ("仓库属性").
//
// Numbers are cut to 40 characters. Storing a stock in a ledger other than
// GY sets its type to 0 before the first save, so a record without "Type"
// leaves a new or overwritten stock without a type; a GY ledger keeps the
// stored type then.
//
// The item set is read anew by every CheckID, Import and GetID; materials
// use CheckID, GetInfo and GetID for their default stock.
#include "items/item_frame.h"

namespace morvent {

const ItemKind& StockKind();

class CStock : public CItemFrame {
 public:
  CStock() : CItemFrame(StockKind()) {}
};

}  // namespace morvent
