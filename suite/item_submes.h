#pragma once
// "Corabin.SubMesTypeSet" (assist-data types) and "Corabin.SubMesSet"
// (assist-data entries) of the embedded ledger. Both sets list in ID order
// and read the ledger on demand through indexes (Refresh only restarts
// GetNext). Type IDs stay within 16 bits: they are the "FSearch" codes that
// item-class properties carry.
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "context/ledger_api.h"
#include "suite/ledger_store.h"

namespace morvent {

// Streams objects of a set in ID order, a page of rows per query.
class IdPagedCursor : public ObjectCursor {
 public:
  using Row = std::pair<int32_t, LedgerObjectPtr>;
  using Pager = std::function<std::vector<Row>(int32_t afterId, int limit)>;
  explicit IdPagedCursor(Pager pager) : pager_(std::move(pager)) {}
  LedgerObjectPtr Next() override;

 private:
  Pager pager_;
  std::vector<Row> page_;
  size_t pos_ = 0;
  int32_t lastId_ = 0;
  bool done_ = false;
};

// A type: "Name" (read and written), "TypeID" (read); fields "FTypeID", "FName".
class SubMesTypeObject : public LedgerObject {
 public:
  SubMesTypeObject(LedgerStorePtr store, int32_t id, std::string name)
      : store_(std::move(store)), id_(id), name_(std::move(name)) {}
  Variant Get(const std::string& property) const override;
  void Let(const std::string& property, const Variant& value) override;
  Variant Properties(const std::string& field) const override;
  void SetProperties(const std::string& field, const Variant& value) override;
  std::shared_ptr<DataRecord> Dictionary() override;
  Variant Call(const std::string& member, const std::vector<Variant>& args, const NamedArgs& named) override;
  void SaveChanges() override;

 private:
  LedgerStorePtr store_;
  int32_t id_;
  std::string name_;
};

class SubMesTypeSet : public ObjectSet {
 public:
  explicit SubMesTypeSet(LedgerStorePtr store) : store_(std::move(store)) {}
  void SetListOptions(int16_t options) override { listOptions_ = options; }
  void SetRestriction(const std::string& name, const Variant& value) override;
  void Refresh() override { lastId_ = 0; }
  int32_t Count() override;
  std::unique_ptr<ObjectCursor> Enumerate() override;
  LedgerObjectPtr GetNext() override;
  LedgerObjectPtr Item(int32_t id, const std::optional<Variant>& second = std::nullopt) override;
  LedgerObjectPtr GetUnit(int32_t id) override;
  // Named "Name": the first type of that name by ID; 0 when none.
  int32_t ExistenceCheck(const NamedArgs& named) override;
  // No arguments needed; a named "Name" is taken as the new type's name.
  LedgerObjectPtr CreateNew(const std::vector<Variant>& args, const NamedArgs& named) override;

 private:
  std::vector<IdPagedCursor::Row> Page(int32_t afterId, int limit);

  LedgerStorePtr store_;
  int16_t listOptions_ = 0;
  int32_t lastId_ = 0;
};

// An entry: "Name", "Number" (read and written), "TypeID", "ItemID" (read);
// fields "FItemID", "FTypeID", "FNumber", "FName".
class SubMesObject : public LedgerObject {
 public:
  SubMesObject(LedgerStorePtr store, int32_t id, int32_t typeId, std::string number, std::string name)
      : store_(std::move(store)), id_(id), typeId_(typeId), number_(std::move(number)), name_(std::move(name)) {}
  Variant Get(const std::string& property) const override;
  void Let(const std::string& property, const Variant& value) override;
  Variant Properties(const std::string& field) const override;
  void SetProperties(const std::string& field, const Variant& value) override;
  std::shared_ptr<DataRecord> Dictionary() override;
  Variant Call(const std::string& member, const std::vector<Variant>& args, const NamedArgs& named) override;
  // Refuses a Number another entry of the same type carries.
  void SaveChanges() override;

 private:
  LedgerStorePtr store_;
  int32_t id_;
  int32_t typeId_;
  std::string number_;
  std::string name_;
};

class SubMesSet : public ObjectSet {
 public:
  // The second argument of Item that stands for "any type".
  static constexpr int32_t kAnyType = 866;

  explicit SubMesSet(LedgerStorePtr store) : store_(std::move(store)) {}
  void SetListOptions(int16_t options) override { listOptions_ = options; }
  // "TypeID": the type whose entries the set shows; 0 shows every type.
  void SetRestriction(const std::string& name, const Variant& value) override;
  void Refresh() override { lastId_ = 0; }
  int32_t Count() override;
  std::unique_ptr<ObjectCursor> Enumerate() override;
  LedgerObjectPtr GetNext() override;
  // The entry with that ID; second = 866 accepts any type, another value
  // only that type, none the restricted type (if any).
  LedgerObjectPtr Item(int32_t id, const std::optional<Variant>& second = std::nullopt) override;
  LedgerObjectPtr GetUnit(int32_t id) override;
  // Named "Number" (exact) or "Name" (first by ID), optionally "TypeID"
  // (else the restriction); 0 when none matches.
  int32_t ExistenceCheck(const NamedArgs& named) override;
  // (typeID[, number[, name]]) or the named "TypeID", "Number", "Name";
  // the type defaults to the restriction.
  LedgerObjectPtr CreateNew(const std::vector<Variant>& args, const NamedArgs& named) override;

 private:
  std::vector<IdPagedCursor::Row> Page(int32_t typeId, int32_t afterId, int limit);

  LedgerStorePtr store_;
  int16_t listOptions_ = 0;
  int32_t typeId_ = 0;
  int32_t lastId_ = 0;
};

}  // namespace morvent
