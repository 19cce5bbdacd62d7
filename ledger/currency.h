#pragma once
// CCurrency: currencies (code 103), matched by their number cut to three
// characters. Accounts, customers and suppliers carry a currency as the
// record this handler builds (CheckID and GetInfo on export, GetID on
// import, which imports the record as Import would).
//
// Record keys: "Name", "Number", "ExchangeRate", "Operator" ("*" or "/";
// any other text imports as "/", an absent one as "*"), "Scale" (absent: 0;
// an absent "ExchangeRate" imports as 1).
#include "ledger/list_handler.h"

namespace morvent {

class CCurrency : public CListHandler {
 public:
  CCurrency();

 protected:
  DataRecordPtr BuildRecord(LedgerObject& currency) override;
  void WriteFields(LedgerObject& currency, const DataRecord& record, const std::string& number) override;
};

}  // namespace morvent
