#pragma once
// The ledger's business objects as the handlers see them. Object sets and
// information services are created by name through the registry; their
// members are those the handlers call, with named arguments passed as small
// argument lists. The embedded SQLite ledger (store/) implements them; a
// test may register its own implementation under the same name.
//
// Members reached by default member or by name map to these calls:
// - a set's default member with an ID, and the unit set's Item with the
//   named argument MeasureUnitID: Item(id);
// - an account's default member with "_Items": Get("_Items");
// - an item's Properties taken without an argument, then Dictionary:
//   Dictionary(); its GetValue(field[, default]) reads, and
//   Dictionary(field) = value is SetValue(field, value);
// - the GetDetail result's default member with "_PropDesc":
//   Value("_PropDesc"), a RecordCollection.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "context/record.h"
#include "platform/variant.h"

namespace morvent {

// ProgIDs of the object sets and services.
inline constexpr const char* kAccountSet = "Corabin.AccountSet";
inline constexpr const char* kCurrencySet = "Corabin.CurrencySet";
inline constexpr const char* kVoucherGroupSet = "Corabin.VoucherGroupSet";
inline constexpr const char* kSettTypeSet = "Corabin.SettTypeSet";
inline constexpr const char* kMeasureUnitGroupSet = "Corabin.MeasureUnitGroupSet";
inline constexpr const char* kMeasureUnitSet = "Corabin.MeasureUnitSet";
inline constexpr const char* kItemClassSet = "Corabin.ItemClassSet";
inline constexpr const char* kItemSet = "Corabin.ItemSet";
inline constexpr const char* kSubMesTypeSet = "Corabin.SubMesTypeSet";
inline constexpr const char* kSubMesSet = "Corabin.SubMesSet";
inline constexpr const char* kAccountInfo = "VarnelAccount.AccountInfo";
inline constexpr const char* kAccountUpdate = "VarnelAccount.AccountUpdate";
inline constexpr const char* kItemClassInfo = "VarnelItemClass.ItemClassInfo";
inline constexpr const char* kItemInfo = "VarnelItem.ItemInfo";

// Named arguments, in the order given ("Number", "Name", "ItemClassID", ...).
// Names compare without regard to letter case.
using NamedArgs = std::vector<std::pair<std::string, Variant>>;

// One ledger object: an account, a currency, an item, ...
class LedgerObject : public Object {
 public:
  // A named property ("Name", "Number", "CurrencyID", "ExchangeRate", ...),
  // matched without regard to letter case. An unknown name raises an error.
  virtual Variant Get(const std::string& property) const = 0;
  virtual void Let(const std::string& property, const Variant& value) = 0;
  // One database field ("FParentID", "FCyID_ID", ...). An account also
  // answers "_Items" (here and in Get): a RecordCollection of its attached
  // item classes, records with "FItemClassID", "FItemClassName",
  // "FItemClassNumber" and "FBalChecked".
  virtual Variant Properties(const std::string& field) const = 0;
  virtual void SetProperties(const std::string& field, const Variant& value) = 0;
  // The extended fields as a record view (accounts and items); other
  // objects raise "not supported".
  virtual std::shared_ptr<DataRecord> Dictionary() = 0;
  // Kind-specific methods ("ExistenceCheck" of a unit group with a named
  // argument "Name", "SetDefaultUnit", ...).
  virtual Variant Call(const std::string& member, const std::vector<Variant>& args, const NamedArgs& named) = 0;
  // Stores the object; a new object gets its ID at the first call.
  virtual void SaveChanges() = 0;

  // Shorthands.
  std::string Name() const { return Get("Name").ToText(); }
  std::string Number() const { return Get("Number").ToText(); }
};
using LedgerObjectPtr = std::shared_ptr<LedgerObject>;

// Streams the objects of a set once each, in the set's order.
class ObjectCursor {
 public:
  virtual ~ObjectCursor() = default;
  // The next object, or nullptr after the last.
  virtual LedgerObjectPtr Next() = 0;
};

class ObjectSet : public Object {
 public:
  virtual void SetListOptions(int16_t options) = 0;
  // Restriction to one parent list: "ItemClassID", "TypeID", "UnitGroupID".
  // A set that knows no such restriction raises "not supported".
  virtual void SetRestriction(const std::string& name, const Variant& value) = 0;
  virtual void Refresh() = 0;
  virtual int32_t Count() = 0;
  virtual std::unique_ptr<ObjectCursor> Enumerate() = 0;
  // One object per call from the first; nullptr after the last. Refresh
  // restarts it.
  virtual LedgerObjectPtr GetNext() = 0;
  // The object with that internal ID, or nullptr. The assist-entry set takes
  // the type as second argument (866: any type).
  virtual LedgerObjectPtr Item(int32_t id, const std::optional<Variant>& second = std::nullopt) = 0;
  // The unit set's GetUnit(ID); other sets raise "not supported".
  virtual LedgerObjectPtr GetUnit(int32_t id) = 0;
  // The ID of the match, below 1 when none.
  virtual int32_t ExistenceCheck(const NamedArgs& named) = 0;
  // A new object, not stored yet.
  virtual LedgerObjectPtr CreateNew(const std::vector<Variant>& args, const NamedArgs& named) = 0;
};
using ObjectSetPtr = std::shared_ptr<ObjectSet>;

// Record set returned by the information services.
class RecordSet : public Object {
 public:
  virtual bool BOF() const = 0;
  virtual bool EOF_() const = 0;
  virtual void MoveFirst() = 0;
  virtual void MoveNext() = 0;
  virtual void MoveLast() = 0;
  virtual int32_t RecordCount() const = 0;
  // Moves to the first row at or after the current one that matches
  // "field=number" or "field='text'" ('' standing for one apostrophe); to
  // EOF when none does. Criteria that do not parse raise an error.
  virtual void Find(const std::string& criteria) = 0;
  // The current row's field; reading at BOF or EOF raises an error.
  virtual Variant Field(const std::string& name) const = 0;
};
using RecordSetPtr = std::shared_ptr<RecordSet>;

class AccountInfo : public Object {
 public:
  virtual RecordSetPtr GetAccountGroupList(const std::string& propsString) = 0;
};

class AccountUpdate : public Object {
 public:
  virtual void Update(const std::string& propsString, int32_t accountId, const DataRecordPtr& properties) = 0;
};

class ItemClassInfo : public Object {
 public:
  // An object whose "_PropDesc" lists the class's properties.
  virtual DataRecordPtr GetDetail(const std::string& propsString, int32_t itemClassId) = 0;
};

class ItemInfo : public Object {
 public:
  virtual RecordSetPtr GetSubMesList(const std::string& propsString, int16_t searchCode) = 0;
};

}  // namespace morvent
