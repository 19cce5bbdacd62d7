#pragma once
// ImportBase: reads an XML data file of one kind of base data and creates or
// updates the ledger's objects record by record.
//
// The option dictionary (any OptionDictionary, a DataRecord for instance)
// gives "ImpStyle" (1 keep existing objects, 2 overwrite them) and
// "CodingStyle" (1 dotted numbers, 2 undotted numbers). Without one both are
// 1. With one, failures that escape the handler are not raised: the call
// answers False instead.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "context/record.h"
#include "platform/error.h"

#include "platform/export.h"

namespace morvent {

class EntityHandler;

// What one import did with the file's records. Each record the import
// walked counts once: created (no object matched), kept (an object matched
// and ImpStyle 1 left it as it was), overwritten (ImpStyle 2) or failed
// (reported; a record that failed after its object was made counts here).
// Records stored in a commit that failed count as failed. Apart from the
// records: the parents created bare (number and name only, being neither
// in the ledger nor in the file) for records that were stored.
struct ImportCounts {
  int64_t created = 0;
  int64_t kept = 0;
  int64_t overwritten = 0;
  int64_t failed = 0;
  int64_t bareParents = 0;
  bool operator==(const ImportCounts&) const = default;
};

// A dry run on the calling thread. While one lives, every import on this
// thread runs as usual (events, errors and exchange log included) but its
// work stays in one uncommitted transaction per ledger, rolled back at the
// end: nothing is stored. Imports inside one dry run see each other's work.
// The ledger stays locked for writers of other connections until the end.
// A dry run opened inside another joins it.
class MORVENT_API DryRun {
 public:
  DryRun();
  // Rolls back, if Finish did not; a failure goes to the diagnostic sink.
  ~DryRun();
  DryRun(const DryRun&) = delete;
  DryRun& operator=(const DryRun&) = delete;
  // Rolls back now. Raises Error ("预演的改动未能撤销：<reason>") when the
  // rollback failed; the work is then dropped with the connection, never
  // committed.
  void Finish();

 private:
  bool open_ = true;
};

class MORVENT_API ImportBase {
 public:
  ImportBase();
  ~ImportBase();

  bool ImportXMLData(const std::string& PropsString, int32_t lBaseType, const std::string& sFile,
                     const OptionDictionary* dictParam = nullptr);

  // The counts of the last ImportXMLData call (all 0 before the first, and
  // for a call that walked no record).
  ImportCounts LastCounts() const { return counts_; }

  // Inside the Error event: what the failure was about, beside the
  // message (the record's element, row and number, the key, its value and
  // what it should have been, a hint); nullptr outside the event and for a
  // failure about no record or value. Valid until the event returns.
  const ErrorDetail* CurrentErrorDetail() const;

  std::function<void(int32_t lRow, double dblRate, bool& CancelImport)> ImportOneRow;
  std::function<void(const std::string& sErrMsg, bool& CancelImport)> Error;

 private:
  void ReportError(const std::string& sErrMsg, bool& Cancel);
  bool Run(const std::string& PropsString, int32_t lBaseType, const std::string& sFile);
  std::unique_ptr<EntityHandler> slot_;
  ImportCounts counts_;
};

}  // namespace morvent
