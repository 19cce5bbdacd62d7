#pragma once
// "Corabin.ItemSet" of the embedded ledger.
//
// Order (stable): items of one class by Number (text order, so a parent
// comes before its children), items of all classes by class, then Number. Refresh costs nothing: every read goes to the ledger
// through an index, and GetNext / Enumerate page by key, so items stored
// meanwhile are seen and no table is ever loaded whole.
#include <optional>
#include <string>
#include <unordered_set>

#include "context/ledger_api.h"
#include "store/item_object.h"
#include "store/ledger_store.h"

namespace morvent {

class ItemSet : public ObjectSet {
 public:
  explicit ItemSet(LedgerStorePtr store);

  void SetListOptions(int16_t options) override { listOptions_ = options; }
  // "ItemClassID": the class whose items the set shows; 0 shows every class.
  // GetNext starts over on the new list.
  void SetRestriction(const std::string& name, const Variant& value) override;
  void Refresh() override;
  int32_t Count() override;
  std::unique_ptr<ObjectCursor> Enumerate() override;
  LedgerObjectPtr GetNext() override;
  // The item with that ID, within the restricted class when there is one.
  LedgerObjectPtr Item(int32_t id, const std::optional<Variant>& second = std::nullopt) override;
  LedgerObjectPtr GetUnit(int32_t id) override;
  // Named "Number" (exact) or "Name" (the first in the set's order), and
  // optionally "ItemClassID" (else the restriction). 0 when none matches.
  // While the store sends records ahead, a number in a class is first
  // looked up among the class's numbers read once per call: one not there
  // answers 0 without a round trip the first time it is asked (were it
  // stored since, the insert that follows meets the unique index, and the
  // record runs again).
  int32_t ExistenceCheck(const NamedArgs& named) override;
  // (itemClassID, parentID[, number[, name]]) with the named "Number",
  // "Name", "ItemClassID", "ParentID" as alternatives; the class defaults to
  // the restriction.
  LedgerObjectPtr CreateNew(const std::vector<Variant>& args, const NamedArgs& named) override;

 private:
  LedgerStorePtr store_;
  int16_t listOptions_ = 0;
  int32_t classId_ = 0;
  bool atStart_ = true;
  int32_t lastClass_ = 0;
  std::string lastNumber_;
  // The class's numbers as the call read them (see ExistenceCheck).
  std::unordered_set<std::string> numbers_;
  int32_t numbersClass_ = 0;
  uint64_t numbersCall_ = 0;
};

}  // namespace morvent
