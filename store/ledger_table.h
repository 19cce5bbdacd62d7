#pragma once
// The machinery shared by the ledger's table-backed object sets: a table
// description, an object holding one row, and a set that counts, streams and
// looks up rows through indexes without loading the table.
//
// Enumeration streams in batches by key (ID, or number for accounts), so an
// enumeration never holds a statement open between calls and sees objects
// stored after it started when their key is still ahead.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "context/ledger_api.h"
#include "store/ledger_store.h"

namespace morvent {

enum class ColumnKind {
  Text,    // Null stays Null; anything else is stored as text
  Long,    // 32-bit integer or Null
  Double,  // number or Null
  Bool,    // stored 0/1, read as Boolean; Null stays Null
  Ref,     // ID of another object; Null and Empty store 0 ("none")
};

struct ColumnSpec {
  std::string property;  // named property ("Name"); empty when only a field
  std::string field;     // database field ("FName")
  ColumnKind kind = ColumnKind::Text;
  bool readOnly = false;  // derived by the ledger at SaveChanges
};

struct TableSpec {
  TableSpec(std::string what, std::string table, std::string idField, std::string idProperty,
            std::vector<ColumnSpec> columns, std::string orderField = "", std::string scopeField = "",
            std::string restriction = "");

  std::string what;        // the kind in messages ("币别")
  std::string table;       // "t_Currency"
  std::string idField;     // "FCurrencyID"
  std::string idProperty;  // "CurrencyID"
  std::vector<ColumnSpec> columns;
  std::string orderField;   // enumeration order; the ID when empty
  std::string scopeField;   // the column a restriction selects on
  std::string restriction;  // its name for SetRestriction ("UnitGroupID")

  // Index of a column by property or field name (any letter case), -1 when none.
  int ByProperty(const std::string& name) const;
  int ByField(const std::string& name) const;
  bool OrderedById() const { return orderField == idField; }

  // Statements built once.
  std::string selectColumns;  // "FCurrencyID, FNumber, ..."
  std::string selectById;
  std::string insert;
};

class TableObject : public LedgerObject {
 public:
  TableObject(LedgerStorePtr store, const TableSpec& spec);

  int32_t Id() const { return id_; }
  bool IsNew() const { return id_ == 0; }
  // Fills the object from a row selected with spec.selectColumns.
  void Load(const Query& row);

  Variant Get(const std::string& property) const override;
  void Let(const std::string& property, const Variant& value) override;
  Variant Properties(const std::string& field) const override;
  void SetProperties(const std::string& field, const Variant& value) override;
  std::shared_ptr<DataRecord> Dictionary() override;
  Variant Call(const std::string& member, const std::vector<Variant>& args, const NamedArgs& named) override;
  // Stores the object atomically; a new object gets its ID here.
  void SaveChanges() override;

  // The stored value of a column, for subclasses and sets.
  const Variant& Value(int column) const { return values_[column]; }
  Variant Value(const std::string& field) const;
  // Writes a column, derived ones included, converting by the column kind.
  void Assign(int column, const Variant& value);
  // Assigns through a named property or field (column -1: no such name);
  // an unknown or read-only name is refused with the ledger's message.
  void AssignNamed(int column, const std::string& name, bool isId, const char* noun, const Variant& value);

 protected:
  // Kind-specific properties beyond the table's columns; true when handled.
  virtual bool ExtraGet(const std::string& name, Variant& out) const;
  // Checks and derivations inside the save's transaction, before the row is
  // written; and follow-up writes after it (id_ is set by then).
  virtual void BeforeSave() {}
  virtual void AfterSave(bool inserted) { (void)inserted; }
  // Raises the given message when another row (of the scope, when scopeField
  // is not empty) holds the same value in field.
  void CheckUnique(const std::string& field, const std::string& scopeField, const std::string& message);
  bool Dirty(int column) const { return dirty_[column]; }
  void MarkClean(int column) { dirty_[column] = false; }
  // For a subclass that stored a new row by itself: the row's ID, all clean.
  void Inserted(int32_t id) {
    id_ = id;
    dirty_.assign(dirty_.size(), false);
  }

  LedgerStorePtr store_;
  const TableSpec& spec_;

 private:
  int32_t id_ = 0;
  std::vector<Variant> values_;
  std::vector<bool> dirty_;
};
using TableObjectPtr = std::shared_ptr<TableObject>;

class TableSet : public ObjectSet, public std::enable_shared_from_this<TableSet> {
 public:
  TableSet(LedgerStorePtr store, const TableSpec& spec);

  void SetListOptions(int16_t options) override { listOptions_ = options; }
  // The table's restriction, effective at once for Count, enumeration,
  // GetNext (which starts over on the new list) and ExistenceCheck; other
  // names raise "not supported".
  void SetRestriction(const std::string& name, const Variant& value) override;
  // Cheap: loads nothing, only restarts GetNext.
  void Refresh() override;
  int32_t Count() override;
  std::unique_ptr<ObjectCursor> Enumerate() override;
  LedgerObjectPtr GetNext() override;
  // Any object of the table by ID, whatever the restriction; nullptr when none.
  LedgerObjectPtr Item(int32_t id, const std::optional<Variant>& second = std::nullopt) override;
  LedgerObjectPtr GetUnit(int32_t id) override;
  // Named arguments are properties of the kind ("Number", "Name"), matched
  // exactly; the lowest matching ID, 0 when none.
  int32_t ExistenceCheck(const NamedArgs& named) override;
  // A new object with the named arguments written to it.
  LedgerObjectPtr CreateNew(const std::vector<Variant>& args, const NamedArgs& named) override;

  const TableSpec& Spec() const { return spec_; }
  const LedgerStorePtr& Store() const { return store_; }
  std::optional<int64_t> Scope() const { return scope_; }
  // An object of the set's kind, empty and not stored.
  virtual TableObjectPtr MakeObject();

 protected:
  LedgerStorePtr store_;
  const TableSpec& spec_;
  int16_t listOptions_ = 0;
  std::optional<int64_t> scope_;

 private:
  std::unique_ptr<ObjectCursor> next_;
};

// The store for a set being created by name: the ledger of the thread's
// current property string.
LedgerStorePtr LedgerOfCurrentCall();

}  // namespace morvent
