#pragma once
// CSettle: settlement methods (code 107), matched by their number cut to 80
// characters. Customers and suppliers carry one under "SettleMode" as the
// record this handler builds (CheckID and GetInfo on export, GetID on
// import, which imports the record as Import would).
//
// Record keys: "Name", "Number", "CompanyCode" (exported from the method's
// branch number, never imported). Error messages name the current method or
// record; before any is current, or after the last, the name is empty.
#include <cstdint>
#include <string>

#include "context/ledger_api.h"
#include "context/record.h"
#include "front/handler.h"

namespace morvent {

class CSettle : public EntityHandler {
 public:
  bool Export(const std::string& PropsString, const std::string& sFile) override;
  // Opens the settlement-method set once per handler.
  void GetList();
  // True when a method with that ID exists; never raises.
  bool CheckID(int32_t id);
  // The method's record; an empty record when there is none.
  DataRecordPtr GetInfo(int32_t id);
  bool Import(const std::string& sFile) override;
  // Imports the record (ImpStyle 1 keeps an existing method) and answers
  // the method's ID.
  int32_t GetID(const DataRecord& record);

 private:
  DataRecordPtr BuildRecord(LedgerObject& method);
  int32_t ImportRecord(const DataRecord& record);
  ObjectSetPtr set_;
};

}  // namespace morvent
