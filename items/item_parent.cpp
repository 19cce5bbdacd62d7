#include "items/item_parent.h"

#include <string_view>

#include "context/glfunc.h"
#include "context/props.h"
#include "platform/call_scope.h"
#include "platform/text.h"

namespace morvent {

namespace {

[[noreturn]] void Fail(int32_t code, const std::string& message) { throw Error(code, kPreImport, message); }

[[noreturn]] void DotInNumber(const std::string& number) {
  Fail(kErrDotInNumber, "代码" + number + " 编码中不能打点，该记录无法引入！");
}
[[noreturn]] void DotInParentNumber(const std::string& number) {
  Fail(kErrDotInParentNumber, "代码" + number + " 的上级代码的编码中不能打点，当前记录无法引入！");
}
[[noreturn]] void Mismatch(const std::string& number, const std::string& parentNumber) {
  Fail(kErrNumberMismatch, "代码" + number + " 与其上级代码" + parentNumber + " 编码不一致，无法引入！");
}
[[noreturn]] void ParentFailed(const std::string& number) {
  Fail(kErrParentFailed, "引入" + number + " 的上级代码出现错误！");
}

size_t Len(const std::string& s) { return CharLength(s); }

}  // namespace

void ParentResolver::CheckNumber(const ParentRef& parent, int32_t& parentId, std::string& number) {
  if (!parent.present) {
    if (Contains(number, ".")) DotInNumber(number);
    parentId = 0;
    return;
  }
  std::string parentNumber = TrimBlanks(parent.number);
  number = TrimBlanks(number);
  switch (Context().gCodingStyle) {
    case 1: {
      if (!Contains(number, parentNumber + ".")) Mismatch(number, parentNumber);
      // Counted from the end: anything but one more level keeps a dot.
      std::string tail = RightChars(number, Len(number) - Len(parentNumber) - 1);
      if (Contains(tail, ".")) Mismatch(number, parentNumber);
      parentId = EnsureParent(parent, parentNumber);
      if (parentId == 0) ParentFailed(number);
      return;
    }
    case 2: {
      if (Contains(parentNumber, ".")) DotInParentNumber(number);
      if (Contains(number, ".")) DotInNumber(number);
      if (!Contains(number, parentNumber)) Mismatch(number, parentNumber);
      std::string tail = RightChars(number, Len(number) - Len(parentNumber));
      parentId = EnsureParent(parent, parentNumber);
      if (parentId == 0) ParentFailed(number);
      // An empty tail means the record names itself: it is its parent as
      // stored, not a new "<parent>." below it.
      number = tail.empty() ? parentNumber : parentNumber + "." + tail;
      return;
    }
    default:
      parentId = 0;
      return;
  }
}

void ParentResolver::Mark(int32_t index, const std::string& fileNumber, int32_t id, const std::string& storedNumber) {
  auto mark = MakeImportedMark(fileNumber);
  mark->SetValue(kMarkId, id);
  mark->SetValue(kMarkNumber, storedNumber);
  auto& collection = Must(collection_);
  // Should the record that made the marker fail, its object is gone: the
  // record it stands for comes back to be imported in its own turn. The
  // collection is held, not the resolver (a lookup's may not outlive it).
  OnRecordUndo([c = collection_, index, original = collection.Item(index)] { c->SetItem(index, original); });
  collection.SetItem(index, mark);
  lastMark_ = {mark, id, storedNumber};
}

void ParentResolver::Forget(const DataRecord* record) {
  if (record) failed_.push_back(record);
  ledgerIds_.clear();
  lastMark_ = {};
}

int32_t ParentResolver::PastFailed(int32_t from, const std::string& number) {
  const Variant key(number);
  for (int32_t i = from; i > 0 && i <= collection_->UBound(); ++i) {
    const DataRecordPtr r = collection_->Item(i);
    if (!VarEquals(Must(r).GetValue("Number", ""), key)) continue;
    if (std::find(failed_.begin(), failed_.end(), r.get()) == failed_.end()) return i;
  }
  return 0;
}

namespace {
// The record's number as GetValue answers it, without noting the read: a
// lookup must not move what an error of the current record points at.
bool NumberIs(const DataRecord& record, const std::string& number) {
  static const std::string kNumber = "Number";
  for (size_t i = 0; i < record.Size(); ++i)
    if (record.KeyAt(i) == kNumber) {
      const Variant v = record.ValueAt(i);
      return v.IsText() && v.RawText() == number;
    }
  return number.empty();  // an absent number reads as ""
}
}  // namespace

int32_t ParentResolver::FindInCollection(const std::string& number) {
  if (!collection_) return 0;
  if (!indexed_) {
    indexed_ = true;
    indexUsable_ = true;
    numberIndex_.clear();
    numberIndex_.reserve(static_cast<size_t>(collection_->UBound()));
    static const std::string kNumber = "Number";
    static const Variant kNone = "";
    for (int32_t i = collection_->LBound(); i <= collection_->UBound() && indexUsable_; ++i) {
      Variant v = Must(collection_->Item(i)).GetValue(kNumber, kNone);
      if (v.IsNull()) continue;  // never equal to anything
      if (!v.IsText()) indexUsable_ = false;
      else numberIndex_.emplace_back(Hash32(v.RawText()), i);
    }
    if (indexUsable_)
      std::sort(numberIndex_.begin(), numberIndex_.end());
    else
      numberIndex_ = {};
  }
  int32_t found = 0;
  if (indexUsable_) {
    // Same hash, index ascending: the first that holds the number is the
    // first in the file.
    const uint32_t h = Hash32(number);
    for (auto it = std::lower_bound(numberIndex_.begin(), numberIndex_.end(), std::pair<uint32_t, int32_t>(h, 0));
         it != numberIndex_.end() && it->first == h && found == 0; ++it)
      if (NumberIs(Must(collection_->Item(it->second)), number)) found = it->second;
  } else {
    const Variant key(number);
    for (int32_t i = collection_->LBound(); i <= collection_->UBound() && found == 0; ++i)
      if (VarEquals(Must(collection_->Item(i)).GetValue("Number", ""), key)) found = i;
  }
  return failed_.empty() || found == 0 ? found : PastFailed(found, number);
}

int32_t ParentResolver::InLedger(const std::string& number) {
  if (LostWritePending()) ledgerIds_.clear();
  if (auto it = ledgerIds_.find(number); it != ledgerIds_.end()) return it->second;
  const int32_t id = ledger_.existenceCheck(number);
  // Not found is not kept: the parent may be stored later in the run.
  if (id > 0 && !LostWritePending()) ledgerIds_.emplace(number, id);
  return id;
}

int32_t ParentResolver::EnsureParent(const ParentRef& parent, std::string& parentNumber) {
  const std::string& pnum = parent.number;
  const int32_t e = FindInCollection(pnum);
  DataRecordPtr entry;
  if (e > 0) {
    entry = collection_->Item(e);
    if (entry && entry == lastMark_.marker) {
      parentNumber = lastMark_.number;
      return lastMark_.id;
    }
    if (entry->GetValue("IsImported", false).ToBool()) {
      // Handled earlier in this run: the marker knows what it stands for.
      if (entry->Has(kMarkId)) {
        parentNumber = entry->Value(kMarkNumber).ToText();
        return entry->Value(kMarkId).ToLong();
      }
      return InLedger(pnum);
    }
  }
  const int32_t found = InLedger(pnum);

  if (found < 1) {
    if (e > 0) {
      if (IsUnderWay(entry.get())) return 0;
      int32_t result = ledger_.importRecord(entry, parentNumber);
      Mark(e, pnum, result, parentNumber);
      return result;
    }
    // Nowhere by its own number: under undotted numbering a ledger that
    // stores it dotted still has it, when exactly one object matches with
    // the dots removed. Under dotted numbering an undotted number is a
    // top-level number of its own (12 is not 1.2).
    if (ledger_.findUndotted && Context().gCodingStyle == 2 && !Contains(pnum, ".")) {
      auto matches = ledger_.findUndotted(pnum);
      if (matches.size() == 1) {
        parentNumber = matches.front().second;
        return matches.front().first;
      }
    }
    if (ledger_.createBare) return ledger_.createBare(pnum, parent.name);
    return 0;
  }

  switch (Context().gImpStyle) {
    case 1:
      if (e > 0) Mark(e, pnum, found, parentNumber);
      return found;
    case 2: {
      if (e < 1) return found;
      // The record asking is this very parent: it is being stored already.
      if (IsUnderWay(entry.get())) {
        Mark(e, pnum, found, parentNumber);
        return found;
      }
      int32_t result = ledger_.importRecord(entry, parentNumber);
      Mark(e, pnum, result, parentNumber);
      return result;
    }
    default:
      return 0;
  }
}

ImportWalk ParentImportWalk(ParentResolver& parents, ImportWalk walk) {
  walk.adopt = [&parents](const RecordCollectionPtr& c) { parents.SetCollection(c); };
  walk.selects = [](const DataRecord& r) { return r.FileRow() > 0; };
  walk.matchKey = "Number";
  walk.failed = [&parents](const DataRecordPtr& r) { parents.Forget(r.get()); };
  return walk;
}

}  // namespace morvent
