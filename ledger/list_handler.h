#pragma once
// The frame of handlers whose objects stand alone in one ledger set and are
// matched by one key, their number (currencies, settlement methods) or their
// name (voucher groups): the set opened
// once per handler, the lookups other handlers use to nest and resolve such
// an object, and the shared export and import walks. A kind supplies its
// constants, how it builds a record, and how it writes one.
//
// Error messages name the current object or record; before any is current,
// or after the last, the name is empty.
#include <cstddef>
#include <cstdint>
#include <string>

#include "context/ledger_api.h"
#include "context/record.h"
#include "front/handler.h"

namespace morvent {

struct ListKind {
  const char* progId;      // "Corabin.CurrencySet"
  int16_t listOptions;     // set before the one Refresh
  size_t numberWidth;      // the match key is cut to this many characters
  const char* idProperty;  // "CurrencyID": the ID GetID answers
  const char* schemaFile;
  const char* element;
  const char* exportError;
  const char* exportProgress;
  const char* importError;
  const char* importProgress;
  // Export reads Count objects with GetNext rather than enumerating.
  bool exportWithGetNext;
  // The record key and object property objects are matched by, and the
  // named argument the set's ExistenceCheck and CreateNew take.
  const char* matchKey = "Number";
};

class CListHandler : public EntityHandler {
 public:
  explicit CListHandler(const ListKind& kind) : kind_(kind) {}

  bool Export(const std::string& PropsString, const std::string& sFile) override;
  // Opens the set once per handler.
  void GetList();
  // True when an object with that ID exists; never raises.
  bool CheckID(int32_t id);
  // The object's record; an empty record when there is none.
  DataRecordPtr GetInfo(int32_t id);
  bool Import(const std::string& sFile) override;
  // Imports the record (ImpStyle 1 keeps an existing object) and answers
  // the object's ID.
  int32_t GetID(const DataRecord& record);

 protected:
  virtual DataRecordPtr BuildRecord(LedgerObject& object) = 0;
  // Writes a record to a new or overwritten object; key is the record's
  // match key cut to the kind's width. SaveChanges follows.
  virtual void WriteFields(LedgerObject& object, const DataRecord& record, const std::string& key) = 0;

 private:
  int32_t ImportRecord(const DataRecord& record);
  const ListKind& kind_;
  ObjectSetPtr set_;
};

}  // namespace morvent
