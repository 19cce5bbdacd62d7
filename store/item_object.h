#pragma once
// One item of the embedded ledger (a customer, a department, ...).
//
// Named properties: "Name", "Number" (read and written), "ItemID",
// "ItemClassID", "ParentID" (read). Fields (Properties) follow the class's
// catalogue (store/item_catalogue.h); "FItemID", "FItemClassID" and
// "FParentID" are read only, "FNumber" and "FName" are Number and Name.
// A field the class does not carry is refused with an error naming it.
//
// Fields are read from the ledger on first use and kept; writes are kept
// until SaveChanges stores them all at once, atomically. A new item gets
// its ItemID at its first SaveChanges. The parent is fixed at creation.
#include <map>
#include <memory>
#include <optional>
#include <vector>
#include <string>

#include "context/ledger_api.h"
#include "store/item_catalogue.h"
#include "store/ledger_store.h"

namespace morvent {

// The columns of an item's own row.
struct ItemRow {
  int32_t id = 0;
  int32_t classId = 0;
  std::string number;
  std::string name;
  int32_t parentId = 0;
  // FValues when it was read with the row ("" for NULL); nullopt when not
  // read, and the item reads it on first use.
  std::optional<std::string> values;
};

class ItemObject : public LedgerObject, public std::enable_shared_from_this<ItemObject> {
 public:
  // An item read from the ledger.
  ItemObject(LedgerStorePtr store, ItemRow row);
  // A new item, not stored yet.
  static std::shared_ptr<ItemObject> New(LedgerStorePtr store, int32_t classId, int32_t parentId,
                                         std::string number, std::string name);

  Variant Get(const std::string& property) const override;
  void Let(const std::string& property, const Variant& value) override;
  Variant Properties(const std::string& field) const override;
  void SetProperties(const std::string& field, const Variant& value) override;
  // A record view on the same fields: GetValue answers the default for a
  // field the class does not carry and Null for a carried, empty one;
  // SetValue writes like SetProperties.
  std::shared_ptr<DataRecord> Dictionary() override;
  Variant Call(const std::string& member, const std::vector<Variant>& args, const NamedArgs& named) override;
  void SaveChanges() override;

  int32_t ItemID() const { return row_.id; }
  int32_t ClassID() const { return row_.classId; }
  // Whether the class carries the field (any spelling the item accepts).
  bool Carries(const std::string& field) const;
  // The catalogue fields with their current values, for the record view.
  std::vector<DataRecord::Entry> FieldEntries() const;

 private:
  // Writes a column of the item's own row, noting a change for the save.
  void SetRowText(std::string& column, std::string text);
  void Load() const;
  Variant Stored(const FieldDef* def) const;
  [[noreturn]] void Unknown(const std::string& field) const;

  LedgerStorePtr store_;
  const ClassCatalogue* catalogue_;
  ItemRow row_;
  mutable std::optional<std::string> valuesText_;  // FValues read with the row, until loaded
  mutable bool loaded_ = false;
  mutable std::map<const FieldDef*, Variant> values_;  // stored form (IDs, serials, 0/1)
  std::vector<const FieldDef*> dirty_;  // a handful: a set would allocate per field
  bool rowDirty_ = false;  // number or name differ from the stored row
  // The store's write epoch when this object inserted its row (0: never).
  uint64_t insertedIn_ = 0;
  // What this object last wrote into FValues (nullopt: NULL), while
  // knowsValues_; another object of the same item may have written since.
  bool knowsValues_ = false;
  std::optional<std::string> writtenValues_;
};

}  // namespace morvent
