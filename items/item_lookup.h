#pragma once
// Lookup handlers behind an item's reference fields. A reference field
// names its lookup by the name the item kind registered it under; the frame
// creates the kind's lookups through their factories when it loads its item
// set, so a new kind plugs in another handler without touching the frame:
//
//   kind.lookups = {{"AssistDetail", LookupOf<CAssistDetail>()},
//                   {"Currency", LookupOf<CCurrency>()}};
//
// Any handler class with CheckID(id) and GetInfo / GetID in one of the
// shapes below serves; the adapter picks the shape the class offers.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "context/props.h"
#include "context/record.h"
#include "platform/call_scope.h"
#include "platform/error.h"

namespace morvent {

class LookupHandler {
 public:
  virtual ~LookupHandler() = default;
  virtual bool CheckID(int32_t id) = 0;
  // property: the Chinese property name of an assist-data value; ignored by
  // handlers that look up one kind of object only.
  virtual DataRecordPtr GetInfo(int32_t id, const std::string& property) = 0;
  virtual int32_t GetID(const DataRecordPtr& record, int16_t itemClassId, const std::string& property) = 0;
  // While on (an export, which only reads), CheckID and GetInfo answer an
  // ID asked again from what they found the first time: a material names
  // the same few units, stocks and accounts thousands of times. Turning it
  // on or off forgets what was kept; GetID forgets it too.
  virtual void KeepAnswers(bool on) = 0;
};

// A text equal for two records exactly when they hold the same keys in the
// same order with the same values of the same types, nested records and
// collections included; false for a record holding any other object.
bool AnswerKey(const DataRecord& record, std::string& key);
using LookupFactory = std::function<std::unique_ptr<LookupHandler>()>;

template <class H>
class HandlerLookup : public LookupHandler {
 public:
  // A handler without a check (the account types) takes every ID.
  bool CheckID(int32_t id) override {
    if constexpr (!requires(H h) { h.CheckID(id); }) {
      return true;
    } else {
      if (!keep_) return handler_.CheckID(id);
      if (auto it = checked_.find(id); it != checked_.end()) return it->second;
      return Kept(checked_, id, handler_.CheckID(id));
    }
  }

  DataRecordPtr GetInfo(int32_t id, const std::string& property) override {
    if (keep_)
      if (auto it = info_.find({id, property}); it != info_.end()) return it->second;
    DataRecordPtr info;
    if constexpr (requires(H h) { h.GetInfo(id, property); })
      info = handler_.GetInfo(id, property);
    else
      info = handler_.GetInfo(id);
    return keep_ ? Kept(info_, std::pair(id, property), std::move(info)) : info;
  }

  void KeepAnswers(bool on) override {
    keep_ = on;
    checked_.clear();
    info_.clear();
  }

  // While on (one import), GetID answers a record equal to one answered
  // before (AnswerKey) from that answer, without asking the handler. For
  // handlers whose answer stays while nothing else writes: one that never
  // writes (writes false), or one that stores a record only when nothing
  // matches it (writes true: used and kept only under ImpStyle 1, which
  // leaves a match untouched, and only for an object found or made).
  // Everything kept is forgotten when turned off, when the record being
  // imported when an answer was kept is undone (its work, and what the
  // answer named, may be gone), and once a write of the call is lost.
  void KeepImportAnswers(bool on, bool writes) {
    imported_ = on ? std::make_shared<std::map<std::string, int32_t>>() : nullptr;
    writes_ = writes;
  }

  int32_t GetID(const DataRecordPtr& record, int16_t itemClassId, const std::string& property) override {
    if (keep_) KeepAnswers(true);
    if (!imported_ || !record || (writes_ && Context().gImpStyle != 1)) return Ask(record, itemClassId, property);
    if (LostWritePending()) imported_->clear();
    std::string key = std::to_string(itemClassId) + '\x1f' + property + '\x1f';
    if (!AnswerKey(*record, key)) return Ask(record, itemClassId, property);
    if (auto it = imported_->find(key); it != imported_->end()) return it->second;
    const int32_t id = Ask(record, itemClassId, property);
    if (writes_ && id < 1) return id;
    Kept(*imported_, std::move(key), id);
    OnRecordUndo([kept = std::weak_ptr(imported_)] {
      if (auto answers = kept.lock()) answers->clear();
    });
    return id;
  }

  H& handler() { return handler_; }

 private:
  int32_t Ask(const DataRecordPtr& record, int16_t itemClassId, const std::string& property) {
    if constexpr (requires(H h) { h.GetID(record, itemClassId, property); })
      return handler_.GetID(record, itemClassId, property);
    else if constexpr (requires(H h) { h.GetID(*record, itemClassId, property); })
      return handler_.GetID(Must(record), itemClassId, property);
    else if constexpr (requires(H h) { h.GetID(record); })
      return handler_.GetID(record);
    else
      return handler_.GetID(Must(record));
  }

  // Bounded, so that an export naming many distinct objects holds no more
  // than a few thousand of them.
  static constexpr size_t kMostKept = 4096;
  template <class Map, class Key, class Value>
  Value Kept(Map& map, const Key& key, Value value) {
    if (map.size() >= kMostKept) map.clear();
    map.emplace(key, value);
    return value;
  }

  H handler_;
  bool keep_ = false;
  std::map<int32_t, bool> checked_;
  std::map<std::pair<int32_t, std::string>, DataRecordPtr> info_;
  // Shared with the undo steps of the records that kept answers.
  std::shared_ptr<std::map<std::string, int32_t>> imported_;
  bool writes_ = false;
};

template <class H>
LookupFactory LookupOf() {
  return [] { return std::make_unique<HandlerLookup<H>>(); };
}

}  // namespace morvent
