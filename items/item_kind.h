#pragma once
// What one kind of item (departments, customers, ...) tells the item frame:
// its constants and its field table, as data. A new kind is one small file
// that fills an ItemKind and derives from CItemFrame; nothing of the frame
// is copied.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "context/ledger_api.h"
#include "context/record.h"
#include "items/item_lookup.h"
#include "platform/variant.h"

namespace morvent {

class CItemFrame;

// Which ledgers a field is exchanged for ("AcctType" of the property string).
enum class FieldSet { All, GY, NonGY };

enum class FieldKind {
  Text,       // written to the record as text; null gives the default
  Number,     // the same, with numeric defaults (a null field exports "0")
  Reference,  // a sub-record made and resolved by a lookup handler
  Custom,     // the kind's own functions below
};

// How a field is reached on the item.
enum class Access {
  None,                 // not exchanged in this direction
  Properties,           // Properties(field)
  Dictionary,           // Properties.Dictionary: GetValue(field, default) / by-name write
  DictionaryNoDefault,  // Properties.Dictionary: GetValue(field), no default given
};

struct ItemField {
  std::string key;
  FieldKind kind = FieldKind::Text;
  FieldSet set = FieldSet::All;

  // Export: where the value is read (for a reference: the field ending in
  // "_ID" holding its ID) and what null gives.
  Access exportAccess = Access::Properties;
  std::string exportField;
  Variant exportDefault = "";
  bool omitWhenEmpty = false;  // the key is left out when its text is empty

  // Import: the field written and the default of an absent key (for a
  // reference: the field without "_ID", written only when the key holds a
  // sub-record).
  Access importAccess = Access::Properties;
  std::string importField;
  Variant importDefault = "";

  // References: the lookup's registered name, and for assist-data values
  // the Chinese property name ("区域").
  std::string lookup;
  std::string property;

  // Custom fields.
  std::function<void(CItemFrame&, LedgerObject& item, DataRecord& record)> exportFn;
  std::function<void(CItemFrame&, LedgerObject& item, const DataRecord& record)> importFn;
};

// The usual shapes of a field; adjust members for the rest.
// A text field read and written under the same database field.
inline ItemField TextField(std::string key, std::string field, FieldSet set = FieldSet::All) {
  ItemField f;
  f.key = std::move(key);
  f.set = set;
  f.exportField = field;
  f.importField = std::move(field);
  return f;
}
// A number written as text: null exports "0", an absent key imports 0.
inline ItemField NumberField(std::string key, std::string field, FieldSet set = FieldSet::All) {
  ItemField f = TextField(std::move(key), std::move(field), set);
  f.kind = FieldKind::Number;
  f.exportDefault = int32_t{0};
  f.importDefault = int32_t{0};
  return f;
}
// A reference read as field + "_ID" and written as field.
inline ItemField ReferenceField(std::string key, const std::string& field, std::string lookup,
                                std::string property = {}, FieldSet set = FieldSet::All) {
  ItemField f;
  f.key = std::move(key);
  f.kind = FieldKind::Reference;
  f.set = set;
  f.exportField = field + "_ID";
  f.importField = field;
  f.lookup = std::move(lookup);
  f.property = std::move(property);
  return f;
}

// A field set on the item together with its name and number, before the
// first save ("FTypeID" = 0 for some kinds).
struct ItemPreset {
  std::string field;
  Variant value;
  FieldSet set = FieldSet::All;
};

// How a record carries its parent: a sub-record with "Name" and "Number"
// under one key, or two plain keys of the record itself (then the numbers
// are trimmed before they are checked).
struct ParentKeys {
  std::string subRecordKey;  // "DeptGroup"; empty for plain keys
  std::string nameKey;       // "ParentName"
  std::string numberKey;     // "ParentNumber"
};

struct ItemKind {
  int32_t code = 0;
  int16_t itemClassId = 0;
  std::string schemaFile;  // "SchemaDepartment.xml"
  std::string element;     // "Department"
  ParentKeys parent;

  std::string exportProgress, exportError, importProgress, importError;

  size_t numberWidth = 255;  // a record's number is cut to this many characters
  // True: the item set is loaded once and kept (with the lookups made with
  // it); false: every CheckID, Import and GetID reads it anew.
  bool keepItemSet = false;

  // Lookup handlers, created in this order with the item set.
  std::vector<std::pair<std::string, LookupFactory>> lookups;

  // Export order.
  std::vector<ItemField> fields;
  // Import order by key, when it differs; kFirstSave places the first
  // save, which otherwise follows the name and number at once. Keys shared
  // by two field sets resolve to the field of the ledger's set.
  std::vector<std::string> importOrder;
  // Outside GY, when not empty, instead of importOrder: for kinds whose two
  // field sets are written in different orders.
  std::vector<std::string> importOrderNonGY;
  std::vector<ItemPreset> presets;
};

inline constexpr const char* kFirstSave = "*SaveChanges*";

}  // namespace morvent
