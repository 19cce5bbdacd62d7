#pragma once
// The field catalogues of the standard item classes: which database fields an
// item of a class carries, and of what kind. Each class has one table in
// item_catalogue.cpp; a class without a table (one a user added) carries only
// the fields every item has (FItemID, FItemClassID, FNumber, FName, FParentID).
//
// A reference field is stored as the referenced object's ID. It is reached
// under two names: "<field>_ID" reads and writes the ID; the bare name reads
// the referenced object's name and writes either an ID (a number) or a name
// (a text, looked up). Field names match without regard to letter case.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace morvent {

enum class FieldKind : uint8_t {
  Text,    // stored as text
  Number,  // stored as a number; a text must parse as one
  Date,    // stored as a date serial
  Flag,    // stored as 0 / 1, read as a Boolean
  Ref,     // stored as the ID of another object (see RefKind)
};

enum class RefKind : uint8_t {
  None,
  Currency,      // t_Currency
  SettleMethod,  // t_SettleType
  AssistEntry,   // t_SubMes, of the type the class's property is bound to
  Item,          // t_Item of the class refClass
  Account,       // t_Account
  MeasureUnit,   // t_MeasureUnit
  UnitGroup,     // t_MeasureUnitGroup
};

struct FieldDef {
  const char* name;
  FieldKind kind;
  RefKind ref = RefKind::None;
  // Item references: the class referred to. Assist entries: the property of
  // the item class ("区域", ...) whose bound assist-data type holds the entry.
  int16_t refClass = 0;
  const char* property = nullptr;
  // Another name of a stored field: both names reach the same value.
  const char* aliasOf = nullptr;
};

struct ClassCatalogue {
  int16_t classId;
  std::span<const FieldDef> fields;
};

// The catalogue of a standard class, nullptr for any other class.
const ClassCatalogue* FindCatalogue(int16_t classId);

// The fields every item carries whatever its class; they live in the item's
// own row rather than among its values.
enum class CoreField : uint8_t { None, ItemID, ItemClassID, Number, Name, ParentID };

// What a field name reaches on an item of a class.
struct FieldRef {
  CoreField core = CoreField::None;
  const FieldDef* def = nullptr;  // catalogue field (the stored one, aliases resolved)
  bool idName = false;            // a reference reached under "<field>_ID"
  explicit operator bool() const { return core != CoreField::None || def != nullptr; }
};

// Resolves a field name (any letter case, "_ID" ending for references);
// an empty result when the class does not carry the field.
FieldRef ResolveField(const ClassCatalogue* catalogue, std::string_view name);

}  // namespace morvent
