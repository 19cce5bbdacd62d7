#pragma once
// "Corabin.ItemSet" and "Corabin.ItemClassSet" of the embedded ledger.
//
// Orders (stable): items of one class by Number (text order, so a parent
// comes before its children), items of all classes by class, then Number;
// item classes by ID. Refresh costs nothing: every read goes to the ledger
// through an index, and GetNext / Enumerate page by key, so items stored
// meanwhile are seen and no table is ever loaded whole.
#include <optional>
#include <string>

#include "context/ledger_api.h"
#include "suite/item_object.h"
#include "suite/ledger_store.h"

namespace morvent {

class ItemSet : public ObjectSet {
 public:
  explicit ItemSet(LedgerStorePtr store);

  void SetListOptions(int16_t options) override { listOptions_ = options; }
  // "ItemClassID": the class whose items the set shows; 0 shows every class.
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
  int32_t ExistenceCheck(const NamedArgs& named) override;
  // (itemClassID, parentID[, number[, name]]) with the named "Number",
  // "Name", "ItemClassID", "ParentID" as alternatives; the class defaults to
  // the restriction.
  LedgerObjectPtr CreateNew(const std::vector<Variant>& args, const NamedArgs& named) override;

  // Up to limit items after the key (class, number), in the set's order.
  std::vector<ItemRow> Page(int32_t afterClass, const std::string& afterNumber, bool fromStart, int limit);
  const LedgerStorePtr& Store() const { return store_; }

 private:
  LedgerStorePtr store_;
  int16_t listOptions_ = 0;
  int32_t classId_ = 0;
  bool atStart_ = true;
  bool atEnd_ = false;
  int32_t lastClass_ = 0;
  std::string lastNumber_;
};

class ItemClassObject : public LedgerObject {
 public:
  ItemClassObject(LedgerStorePtr store, int32_t id, std::string number, std::string name)
      : store_(std::move(store)), id_(id), number_(std::move(number)), name_(std::move(name)) {}
  // "Name", "Number", "ItemClassID".
  Variant Get(const std::string& property) const override;
  void Let(const std::string& property, const Variant& value) override;
  // "FItemClassID", "FNumber", "FName".
  Variant Properties(const std::string& field) const override;
  void SetProperties(const std::string& field, const Variant& value) override;
  std::shared_ptr<DataRecord> Dictionary() override;
  Variant Call(const std::string& member, const std::vector<Variant>& args, const NamedArgs& named) override;
  void SaveChanges() override;

 private:
  LedgerStorePtr store_;
  int32_t id_;
  std::string number_;
  std::string name_;
};

class ItemClassSet : public ObjectSet {
 public:
  explicit ItemClassSet(LedgerStorePtr store) : store_(std::move(store)) {}
  void SetListOptions(int16_t options) override { listOptions_ = options; }
  void SetRestriction(const std::string& name, const Variant& value) override;
  void Refresh() override { lastId_ = 0; }
  int32_t Count() override;
  std::unique_ptr<ObjectCursor> Enumerate() override;
  LedgerObjectPtr GetNext() override;
  LedgerObjectPtr Item(int32_t id, const std::optional<Variant>& second = std::nullopt) override;
  LedgerObjectPtr GetUnit(int32_t id) override;
  // Named "Number" or "Name" (first by ID).
  int32_t ExistenceCheck(const NamedArgs& named) override;
  // Named "Number" and "Name" optional.
  LedgerObjectPtr CreateNew(const std::vector<Variant>& args, const NamedArgs& named) override;

  std::vector<std::shared_ptr<ItemClassObject>> Page(int32_t afterId, int limit);

 private:
  LedgerStorePtr store_;
  int16_t listOptions_ = 0;
  int32_t lastId_ = 0;
};

}  // namespace morvent
