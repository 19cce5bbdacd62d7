#pragma once
// The export and import walks the handlers share. Each runs every step
// under one ErrorTrap, raises the progress events with the rates of the
// contract, and stops with False when the client cancels or leaves an error
// cancelled. A handler supplies only what differs: its texts, how it opens
// its ledger set, how it builds or imports one record.
//
// Neither walk claims what did not happen. An export whose ledger could not
// be opened, counted or read, or whose file could not be written, answers
// False whatever the client answered, and writes no file (the writer
// replaces a target only when it has written it whole). The export hands
// each record to the writer as it is built and keeps none; a failed write
// is still reported once, after the last object. An object whose record
// could not be built is reported and left out of the file. An import
// whose ledger could not be opened, or whose ledger lost its work (a failed
// commit), stops with False; each record's saves form one RecordScope, so
// grouped commits fall between records only, and a record that fails
// leaves nothing behind: what it stored (bare parents and parent records
// imported for it included) is undone before its error is raised, whether
// the client then lets the error pass or stops, and it counts as failed.
#include <cstdint>
#include <functional>
#include <string>

#include "context/ledger_api.h"
#include "context/record.h"
#include "front/import_base.h"
#include "front/trap.h"
#include "platform/error.h"

namespace morvent {

struct ExportWalk {
  std::string schemaFile;      // "SchemaCurrency.xml"
  std::string element;         // "Currency"
  std::string errorPrefix;     // "导出币别资料出错，当前记录名称为："
  std::string progressPrefix;  // "正在导出币别资料，当前记录名称为："
  std::string nameKey = "Name";  // the object's property the messages show
  std::function<void()> open;             // opens the ledger set
  std::function<int32_t()> count;         // the total the rates divide by
  std::function<LedgerObjectPtr()> next;  // the next object; nullptr after the last
  std::function<DataRecordPtr(LedgerObject&)> build;
  // Instead of build: adds the object's records (any number) to the file's
  // collection, for a walk whose progress counts groups of records.
  std::function<void(LedgerObject&, RecordCollection&)> collect;
  // The name an error message shows while an object is current, when it is
  // not the object's own (a unit within the current group).
  std::function<std::string()> errorName;
  // Walk exactly count() objects (a set read with GetNext) instead of until
  // next() answers nullptr.
  bool counted = false;
};

// The error of a record whose match key is empty or only blanks.
inline constexpr int32_t kErrEmptyMatchKey = kAppErrorBase + 0x300;

struct ImportWalk {
  std::string schemaFile;
  std::string element;
  std::string errorPrefix;     // "引入币别资料错误，当前记录名称为："
  std::string progressPrefix;  // "引入币别资料，当前记录名称为"
  std::string progressKey = "Name";  // the record's key the progress shows
  std::string errorKey = "Name";     // the record's key the error shows
  std::function<void()> open;
  // Told the collection being walked (the reader may hand back another one).
  std::function<void(const RecordCollectionPtr&)> adopt;
  // Which records are imported (all when empty); a failing test counts as
  // a yes once the client lets it pass.
  std::function<bool(const DataRecord&)> selects;
  std::function<void(const DataRecordPtr&)> importRecord;
  // Told of a record that failed once its work is undone, so the kind's
  // lookups treat it as if it were not in the file.
  std::function<void(const DataRecordPtr&)> failed;
  // The key the kind matches ledger objects by: "Number", or "Name" for
  // kinds matched by name. A record whose key is missing, empty or only
  // blanks fails ("代码不能为空", "名称不能为空") and stores nothing. Empty:
  // no check.
  std::string matchKey;

  // What the checks of the file (front/import_warnings.h) and the error
  // detail need to know of the kind; each may stay empty.
  // The key naming a record's parent ("DeptGroup", "ParentAcct").
  std::string parentKey;
  // The nested record whose "Name" names the object within which matchKey
  // is unique (a unit's group), when it is not unique in the ledger.
  std::string scopeKey;
  // Why this ledger never reads a key at the top of a record; empty when
  // it does (or when only the shared table knows).
  std::function<std::string(const std::string& key)> unreadKey;

  // Whether records may be sent ahead to a server ledger, a window at a
  // time, their events held until the server has them all. Only for a kind
  // whose records raise no event of their own while they are imported.
  bool sendsAhead = false;
};

// Raises the empty-key error when the record's matchKey is blank.
void CheckMatchKey(const DataRecord& record, const std::string& matchKey);

// The object an import writes: a new one when nothing matched; for a match,
// ImpStyle 1 keeps it (keep = true, no object), 2 takes it for overwriting,
// and any other value leaves no object, so the next write fails and the
// record is reported.
//
// record is the record being imported. When the import walk counts it, the
// choice becomes the record's outcome if it is stored (created, kept or
// overwritten); the first choice for a record wins, so one created ahead
// (as a parent, or in a first pass) counts as created.
struct ImportTarget {
  LedgerObjectPtr object;
  bool keep = false;
};
ImportTarget ChooseImportTarget(ObjectSet& set, int32_t foundId, StepRef<LedgerObjectPtr> createNew,
                                const DataRecord* record = nullptr);

// The outcome counts of the records walked by the thread's outermost import
// walk since the last reset. A record that fails counts as failed whatever
// was done before it failed.
void ResetImportCounts();
// The counts, once the call's last commit is done. After a lost write
// (writeLost) the records created or overwritten since the last commit that
// reached the ledger file went with it, and count as failed.
ImportCounts TakeImportCounts(bool writeLost);

// Counts a parent created bare (number and name only) for the record the
// outermost import walk is importing; it counts if the record is stored.
void NoteBareParent();

// Text of a value as "&" joins it: Null and Empty give "".
std::string TextOf(const Variant& v);

}  // namespace morvent
