#pragma once
// Accounts ("Corabin.AccountSet"), enumerated in number order, so a parent
// comes before its children.
//
// Properties: AccountID (read), Number (unique), Name, HelperCode, DC,
// Level (read), Detail (read), AdjustRate, Contact, Quantities, IsCash,
// IsBank, Journal, IsCashFlow, Acctint (Booleans), IntRate, CurrencyID,
// GroupID, MeasureUnitID, ParentID (read); fields with the "F" prefix
// (FAccountID, FNumber, FParentID, ...).
//
// The chart follows from the numbers: at SaveChanges the parent is the
// account whose number is the number up to its last "." (refused when it
// does not exist), Level is the number of levels, and Detail is False for
// an account with children (the parent's Detail is updated with it). The
// number of an account that has children cannot change.
//
// Get("_Items") or Properties("_Items"): a RecordCollection of the attached
// item classes, one record each with "FItemClassID", "FItemClassName",
// "FItemClassNumber" and "FBalChecked" (names Null when the class is gone).
// Dictionary(): the extended properties, "FAccountItem" (a RecordCollection
// of records with "FItemClassID" and "FBalChecked") and any plain values
// stored before; what is written to it is stored by the next SaveChanges.
#include <cstdint>

#include "context/ledger_api.h"
#include "store/ledger_store.h"

namespace morvent {

ObjectSetPtr NewAccountSet(LedgerStorePtr store);

// Stores the record's entries as the account's extended properties:
// "FAccountItem" replaces the attached item classes (entries whose
// "FItemClassID" is 0 attach nothing; "FBalChecked" defaults to True); any
// other key stores its plain value. Raises when the account does not exist.
void StoreAccountExtension(LedgerStore& store, int32_t accountId, const DataRecord& record);

// The attached item classes as the "_Items" list.
RecordCollectionPtr AccountItems(LedgerStore& store, int32_t accountId);

}  // namespace morvent
