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

#include "context/record.h"
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

  int32_t GetID(const DataRecordPtr& record, int16_t itemClassId, const std::string& property) override {
    if (keep_) KeepAnswers(true);
    if constexpr (requires(H h) { h.GetID(record, itemClassId, property); })
      return handler_.GetID(record, itemClassId, property);
    else if constexpr (requires(H h) { h.GetID(*record, itemClassId, property); })
      return handler_.GetID(Must(record), itemClassId, property);
    else if constexpr (requires(H h) { h.GetID(record); })
      return handler_.GetID(record);
    else
      return handler_.GetID(Must(record));
  }

  H& handler() { return handler_; }

 private:
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
};

template <class H>
LookupFactory LookupOf() {
  return [] { return std::make_unique<HandlerLookup<H>>(); };
}

}  // namespace morvent
