#pragma once
// CSupplier: suppliers (code 114), items of class 8 with the parent under
// "SupplierType". Customers' fields cut differently: a GY ledger also
// exchanges postal code, e-mail, city, province, country and home page
// (common fields for customers), and there is no CIQ number. Storing a
// supplier in any other ledger sets its type ("FTypeID") to 0.
//
// An empty city, province, country or home page exports as empty text, like
// every other text field, so it comes back empty after a round trip rather
// than as the text "0".
#include "items/item_frame.h"

namespace morvent {

const ItemKind& SupplierKind();

class CSupplier : public CItemFrame {
 public:
  CSupplier() : CItemFrame(SupplierKind()) {}
};

}  // namespace morvent
