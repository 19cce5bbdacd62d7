#pragma once
// Parent resolution for hierarchical imports (items, and accounts alike):
// the check of a record's number against its parent's number under the
// "CodingStyle" option, and the search for the parent in the ledger, in the
// records of the running import, or nowhere.
//
// The resolver keeps the import's current record collection. A parent
// record it has handled is replaced there by a marker; the marker stays
// keyed by the parent's number as the file gives it and also carries the ID
// and the stored number of the object it stands for, so every later child
// of that parent gets both, whatever the coding style. The promise: when all
// of a record's ancestors are in the file or the ledger, the record imports
// at every level, in any file order, under both coding styles, however many
// siblings it has.
//
// Chains that come back to themselves stay bounded: a record whose import is
// under way (see Start) is never imported again from inside itself; asking
// for it as a parent answers 0, which the number check turns into
// "引入<number> 的上级代码出现错误！" for the current record.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "context/record.h"
#include "front/walks.h"
#include "platform/error.h"

namespace morvent {

// Errors of the number check: source "PreImport", codes on the application
// error base.
inline constexpr const char* kPreImport = "PreImport";
inline constexpr int32_t kErrDotInNumber = kAppErrorBase + 266;        // 0x8004010A
inline constexpr int32_t kErrNumberMismatch = kAppErrorBase + 366;     // 0x8004016E
inline constexpr int32_t kErrParentFailed = kAppErrorBase + 466;       // 0x800401D2
inline constexpr int32_t kErrDotInParentNumber = kAppErrorBase + 566;  // 0x80040236

// The parent a record names.
struct ParentRef {
  bool present = false;
  // As the record gives it: the ledger and the current collection are
  // searched for exactly this text; the number check uses it trimmed.
  std::string number;
  // Handed to a bare parent when one is created.
  Variant name;
};

class ParentResolver {
 public:
  // What the resolver needs from the ledger side of its owner.
  struct Ledger {
    // ID of the object with exactly this number, below 1 when none.
    std::function<int32_t(const std::string& number)> existenceCheck;
    // Imports a record of the current collection; number receives the
    // number the record was stored under.
    std::function<int32_t(const DataRecordPtr& record, std::string& number)> importRecord;
    // Creates a parent that is nowhere, with only its number and name.
    // Unset: such a parent cannot be had (0).
    std::function<int32_t(const std::string& number, const Variant& name)> createBare;
    // The objects whose stored number, dots removed, equals the text: ID and
    // stored number each. Asked only under "CodingStyle" 2, and only a
    // single match is used. Unset: no such search.
    std::function<std::vector<std::pair<int32_t, std::string>>(const std::string& undotted)> findUndotted;
  };

  explicit ParentResolver(Ledger ledger) : ledger_(std::move(ledger)) {}

  // Starts a run (an import, a lookup's record): what the ledger answered
  // before is forgotten with the old collection.
  void SetCollection(RecordCollectionPtr collection) {
    collection_ = std::move(collection);
    indexed_ = false;
    ledgerIds_.clear();
    lastMark_ = {};
    failed_.clear();
  }
  const RecordCollectionPtr& Collection() const { return collection_; }

  // For a lookup's import of one record: the current collection holds only
  // that record for the guard's life, and none afterwards.
  class OnlyRecord {
   public:
    OnlyRecord(ParentResolver& r, const DataRecordPtr& record) : r_(r) {
      auto single = std::make_shared<RecordCollection>();
      single->Add(record);
      r_.SetCollection(single);
    }
    ~OnlyRecord() { r_.SetCollection(nullptr); }
    OnlyRecord(const OnlyRecord&) = delete;
    OnlyRecord& operator=(const OnlyRecord&) = delete;

   private:
    ParentResolver& r_;
  };

  // Marks a record's import as under way for the guard's life. Every
  // import of a record (loop, lookup or parent) starts with one.
  class UnderWay {
   public:
    UnderWay(ParentResolver& r, const DataRecord* record) : r_(r), record_(record) {
      inserted_ = !r_.IsUnderWay(record_);
      if (inserted_) r_.underWay_.push_back(record_);
    }
    ~UnderWay() {
      if (!inserted_) return;
      auto& w = r_.underWay_;
      if (auto it = std::find(w.rbegin(), w.rend(), record_); it != w.rend()) w.erase(std::next(it).base());
    }
    UnderWay(const UnderWay&) = delete;
    UnderWay& operator=(const UnderWay&) = delete;

   private:
    ParentResolver& r_;
    const DataRecord* record_;
    bool inserted_ = false;
  };
  [[nodiscard]] UnderWay Start(const DataRecord* record) { return UnderWay(*this, record); }
  bool IsUnderWay(const DataRecord* record) const {
    return std::find(underWay_.begin(), underWay_.end(), record) != underWay_.end();
  }

  // A record of the collection failed and its work was undone (markers made
  // for it are restored by the record's undo): later records look for
  // their parents as if it were not in the file, and what the ledger
  // answered before is asked again.
  void Forget(const DataRecord* record);

  // Validates number against the parent under the thread's "CodingStyle";
  // may rewrite number (style 2 stores it dotted under the parent's stored
  // number) and yields the parent's ID (0 at the top level). Raises the
  // "PreImport" errors.
  void CheckNumber(const ParentRef& parent, int32_t& parentId, std::string& number);

  // The parent's ID, 0 when it cannot be had. parentNumber comes in as the
  // number check uses it and goes out as the parent is stored.
  int32_t EnsureParent(const ParentRef& parent, std::string& parentNumber);

  // Marker keys beside "Number" and "IsImported".
  static constexpr const char* kMarkId = "MarkedID";
  static constexpr const char* kMarkNumber = "MarkedNumber";

 private:
  void Mark(int32_t index, const std::string& fileNumber, int32_t id, const std::string& storedNumber);
  // Index of the first record whose "Number" equals the text, 0 when none.
  int32_t FindInCollection(const std::string& number);
  // From index `from` on, the first such record that has not failed.
  int32_t PastFailed(int32_t from, const std::string& number);
  // The ledger's ID for a parent number, remembered for the run once found:
  // imports never delete or renumber what they found, and a lost write
  // (the one way stored work vanishes) forgets everything.
  int32_t InLedger(const std::string& number);

  Ledger ledger_;
  RecordCollectionPtr collection_;
  // Nested as the imports are (a parent's under its child's), so as deep as
  // a chain of parents: a stack searched in place costs no allocation per
  // record.
  std::vector<const DataRecord*> underWay_;
  // Every record with a text number as (hash of the number, index), sorted:
  // 8 bytes a record where a copy of each number cost 64. A hit is
  // confirmed against the record now at the index, whose number is the one
  // indexed: markers take the place of a record under the same number, so
  // the index holds for the whole run. Unusable when a record's number is
  // not text (then every search walks the collection).
  std::vector<std::pair<uint32_t, int32_t>> numberIndex_;
  bool indexed_ = false;
  bool indexUsable_ = false;
  std::unordered_map<std::string, int32_t> ledgerIds_;
  // The marker made last, with what it carries: siblings follow one another,
  // so most records ask for it again and need not read it back.
  struct LastMark {
    DataRecordPtr marker;
    int32_t id = 0;
    std::string number;
  } lastMark_;
  // Records of the collection that failed (see Forget); rarely any.
  std::vector<const DataRecord*> failed_;
};

// The import walk of a kind whose records name their parents by number: the
// resolver takes over the file's records, only records read from the file
// are imported (markers and records made in memory stand for work already
// done), and records match by "Number".
ImportWalk ParentImportWalk(ParentResolver& parents, ImportWalk walk);

}  // namespace morvent
