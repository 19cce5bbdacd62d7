#pragma once
// The ledger's plain object sets: currencies ("Corabin.CurrencySet"),
// settlement methods ("Corabin.SettTypeSet") and voucher groups
// ("Corabin.VoucherGroupSet"). All enumerate in ID order.
//
// Properties (any letter case):
// - currency: CurrencyID (read), Number (unique), Name, ExchangeRate,
//   Operator, ScaleX; fields FCurrencyID, FNumber, FName, FExchangeRate,
//   FOperator, FScale;
// - settlement method: ItemID (read), Number, Name, BrNo; fields FItemID,
//   FNumber, FName, FBrNo. Numbers and names may repeat;
// - voucher group: VoucherGroupID (read), Name, CRange, DRange, NCRange,
//   NDRange, DCRange, NDCRange; fields FGroupID, FName, FCRange, ... Names may
//   repeat.
// ExistenceCheck takes any property by name ("Number", "Name"); with
// repeated values it answers the lowest ID.
#include "context/ledger_api.h"
#include "store/ledger_store.h"

namespace morvent {

ObjectSetPtr NewCurrencySet(LedgerStorePtr store);
ObjectSetPtr NewSettTypeSet(LedgerStorePtr store);
ObjectSetPtr NewVoucherGroupSet(LedgerStorePtr store);

}  // namespace morvent
