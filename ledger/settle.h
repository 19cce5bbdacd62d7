#pragma once
// CSettle: settlement methods (code 107), matched by their number cut to 80
// characters. Customers and suppliers carry one under "SettleMode" as the
// record this handler builds (CheckID and GetInfo on export, GetID on
// import, which imports the record as Import would).
//
// Record keys: "Name", "Number", "CompanyCode" (exported from the method's
// branch number, never imported).
#include "ledger/list_handler.h"

namespace morvent {

class CSettle : public CListHandler {
 public:
  CSettle();

 protected:
  DataRecordPtr BuildRecord(LedgerObject& method) override;
  void WriteFields(LedgerObject& method, const DataRecord& record, const std::string& number) override;
};

}  // namespace morvent
