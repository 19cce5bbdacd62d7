#pragma once
// CCustomer: customers (code 110), items of class 1 with the parent under
// "CustomerType". A GY ledger exchanges short name, contact, credit limit,
// CIQ number and five references (settlement currency, region, trade,
// settlement method, status); any other ledger exchanges credit days,
// amount and level instead. Addresses, phone, bank, tax number and the
// like go to every ledger; "CompanyCode" is left out of a record when the
// customer's branch number is empty.
//
// The reference and credit fields are shared with suppliers, which cut
// their sets differently; the builders below serve both kinds.
#include <vector>

#include "items/item_frame.h"

namespace morvent {

const ItemKind& CustomerKind();

class CCustomer : public CItemFrame {
 public:
  CCustomer() : CItemFrame(CustomerKind()) {}
};

// Lookups of customers and suppliers, in the order they are made.
std::vector<std::pair<std::string, LookupFactory>> PartnerLookups();
// "SettleCurrency", "Region", "Trade", "SettleMode", "Status", GY only.
std::vector<ItemField> PartnerReferences();
// "CreditDays", "CreditAmount", "CreditLevel", for ledgers other than GY.
std::vector<ItemField> CreditFields();
// "CreditLimit", GY only: null exports "0", an absent key imports the text "0".
ItemField CreditLimitField();
// "CompanyCode" from "FBrNo", left out when empty; absent imports empty text.
ItemField CompanyCodeField();

}  // namespace morvent
