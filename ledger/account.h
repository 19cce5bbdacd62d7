#pragma once
// CAccount: the chart of accounts (code 102).
//
// An account record nests its currency ("Currency"), account type
// ("GroupName") and measure unit ("MeasureUnit") as the records those
// handlers build, lists its attached item classes under "ItemClass"
// ("Name"/"Number" each) and names its parent by number ("ParentAcct").
// Flags are the texts "1"/"0"; "Level" and "Detail" are exported only.
//
// Import checks each number against "ParentAcct" under the "CodingStyle"
// option through the shared ParentResolver (items/item_parent.h): a parent
// later in the file is imported when its first child is met, then stands in
// the collection as a marker carrying its ID and stored number, so every
// further child finds it; a chain that comes back to a record under way
// fails with "引入<number> 的上级代码出现错误！". Numbers are cut to 40
// characters, names to 80. Each account is stored once, with its type,
// fields, currency and unit looked up first; a record carrying "ItemClass",
// even an empty list, then sends the attached classes through the account
// update service. "ImpStyle" 1 leaves an existing account untouched, item
// classes included; 2 overwrites it.
//
// Messages name the account's number, not its name.
#include <cstdint>
#include <memory>
#include <string>

#include "context/ledger_api.h"
#include "context/record.h"
#include "front/handler.h"
#include "items/item_class.h"
#include "items/item_lookup.h"
#include "items/item_parent.h"
#include "ledger/account_type.h"
#include "ledger/currency.h"
#include "units/measure_unit.h"

namespace morvent {

class CAccount : public EntityHandler {
 public:
  CAccount();

  // The property string is not consulted.
  bool Export(const std::string& PropsString, const std::string& sFile) override;
  // True when an account with that ID exists; never raises.
  bool CheckID(int32_t id);
  // The account's record as exported; an empty record when there is none.
  DataRecordPtr GetInfo(int32_t id);
  bool Import(const std::string& sFile) override;
  // Imports the record as Import would and answers the account's ID. Only
  // the record itself is searched for parents: a parent not in the ledger
  // fails the call.
  int32_t GetID(const DataRecordPtr& record);

 private:
  void PrepareSets();
  // Lets the nested lookups keep their answers for one export, or one import.
  void KeepAnswers(bool on);
  void KeepImportAnswers(bool on);
  ObjectSet& Accounts() { return Must(accounts_); }
  DataRecordPtr BuildRecord(LedgerObject& account);
  // number receives the number the account is stored under.
  int32_t ImportRecord(const DataRecordPtr& record, std::string& number);
  // created: the account was made by this import, so it has nothing
  // attached or stored beside the list yet.
  void AttachItemClasses(int32_t id, bool created, const RecordCollection& classes);

  ObjectSetPtr accounts_;
  // Lookups, so an export builds each currency, unit and type once, and an
  // import resolves each distinct nested record once.
  std::unique_ptr<HandlerLookup<CCurrency>> currencies_;
  std::unique_ptr<HandlerLookup<CMeasureUnit>> units_;
  std::unique_ptr<HandlerLookup<CItemClass>> itemClasses_;
  std::unique_ptr<HandlerLookup<CAccountType>> types_;
  ParentResolver parents_;
};

}  // namespace morvent
