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
#include <memory>
#include <string>

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
};
using LookupFactory = std::function<std::unique_ptr<LookupHandler>()>;

template <class H>
class HandlerLookup : public LookupHandler {
 public:
  bool CheckID(int32_t id) override { return handler_.CheckID(id); }

  DataRecordPtr GetInfo(int32_t id, const std::string& property) override {
    if constexpr (requires(H h) { h.GetInfo(id, property); })
      return handler_.GetInfo(id, property);
    else
      return handler_.GetInfo(id);
  }

  int32_t GetID(const DataRecordPtr& record, int16_t itemClassId, const std::string& property) override {
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
  H handler_;
};

template <class H>
LookupFactory LookupOf() {
  return [] { return std::make_unique<HandlerLookup<H>>(); };
}

}  // namespace morvent
