#pragma once
// The item side's information services. Each call opens (or shares) the
// thread's store of the ledger its property string names.
#include "context/ledger_api.h"

namespace morvent {

class LedgerItemClassInfo : public ItemClassInfo {
 public:
  // "FItemClassID", "FNumber", "FName" of the class and "_PropDesc": a
  // RecordCollection of its properties in their order, each with "FPropID",
  // "FName" and "FSearch" (the assist-data type, a 16-bit integer). An
  // unknown class is an error.
  DataRecordPtr GetDetail(const std::string& propsString, int32_t itemClassId) override;
};

class LedgerItemInfo : public ItemInfo {
 public:
  // The entries of the assist-data type searchCode in ID order, fields
  // "FItemID", "FNumber", "FName", "FTypeID"; empty for a code no type has.
  RecordSetPtr GetSubMesList(const std::string& propsString, int16_t searchCode) override;
};

}  // namespace morvent
