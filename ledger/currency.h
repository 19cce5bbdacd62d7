#pragma once
// CCurrency: currencies (code 103), matched by their number cut to three
// characters. Accounts, customers and suppliers carry a currency as the
// record this handler builds (CheckID and GetInfo on export, GetID on
// import, which imports the record as Import would).
//
// Record keys: "Name", "Number", "ExchangeRate", "Operator" ("*" or "/";
// any other text imports as "/", an absent one as "*"), "Scale" (absent: 0;
// an absent "ExchangeRate" imports as 1). Error messages name the current
// currency or record; before any is current, or after the last, the name is
// empty.
#include <cstdint>
#include <string>

#include "context/ledger_api.h"
#include "context/record.h"
#include "front/handler.h"

namespace morvent {

class CCurrency : public EntityHandler {
 public:
  bool Export(const std::string& PropsString, const std::string& sFile) override;
  // Opens the currency set once per handler.
  void GetList();
  // True when a currency with that ID exists; never raises.
  bool CheckID(int32_t id);
  // The currency's record; an empty record when there is none.
  DataRecordPtr GetInfo(int32_t id);
  bool Import(const std::string& sFile) override;
  // Imports the record (ImpStyle 1 keeps an existing currency) and answers
  // the currency's ID.
  int32_t GetID(const DataRecord& record);

 private:
  DataRecordPtr BuildRecord(LedgerObject& currency);
  int32_t ImportRecord(const DataRecord& record);
  ObjectSetPtr set_;
};

}  // namespace morvent
