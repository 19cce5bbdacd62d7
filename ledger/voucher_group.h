#pragma once
// CVoucherGroup: voucher groups (code 104), matched by their name cut to 80
// characters. Besides the name a group keeps six range texts that belong to
// the ledger; they are copied as text both ways and never interpreted.
//
// Record keys, in order: "Name", "CRange", "DRange", "NCRange", "NDRange",
// "DCRange", "NDCRange". A Null range exports as empty text; a range key
// absent on import writes empty text, so an overwrite (ImpStyle 2) clears
// it. No other handler looks voucher groups up.
#include "ledger/list_handler.h"

namespace morvent {

class CVoucherGroup : public CListHandler {
 public:
  CVoucherGroup();

 protected:
  DataRecordPtr BuildRecord(LedgerObject& group) override;
  void WriteFields(LedgerObject& group, const DataRecord& record, const std::string& name) override;
};

}  // namespace morvent
