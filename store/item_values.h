#pragma once
// The text of an item's fields in its own row (t_Item.FValues): one JSON
// object, field name to value, written and read here so that every value
// reads back exactly as it was stored:
//   text          a JSON string; bytes that are no UTF-8 pass through as
//                 they are, so a text reads back byte for byte
//   whole number  digits (a Long, a flag as 1 or 0)
//   double, date  the shortest digits that read back to the same double,
//                 always with "." or an exponent so they stay doubles;
//                 infinity as 9e999 (as SQLite's JSON writes it)
//   Null          no member: a field without a value is absent
// SQL reads the same text (json_each, json_each_text): the view
// t_ItemValue (store/item_metadata.h) answers what the table of version 1
// held, one row per field.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/variant.h"

namespace morvent {

class ItemValuesWriter {
 public:
  // A field's stored value; Null, Empty and NaN (which the ledger never
  // kept either) leave the field out.
  void Add(std::string_view field, const Variant& value);
  void AddInt(std::string_view field, int64_t value);
  void AddReal(std::string_view field, double value);
  void AddText(std::string_view field, std::string_view value);
  // A member holding JSON null: reads as Null, kept only so that a field
  // row stored as NULL by SQL of its own survives an upgrade.
  void AddNull(std::string_view field);

  bool Empty() const { return text_.empty(); }
  // The object; "{}" when no field was added.
  std::string Take();

 private:
  void Key(std::string_view field);
  std::string text_;
};

// Calls visit(field, value) per member in the order written; a whole number
// within 32 bits is a Long, any other number a Double (as the ledger reads
// a column), a string Text, true and false 1 and 0; null members are
// skipped. False when the text is no such object (nothing is promised
// about the members visited before the fault).
template <class Visit>
bool ReadItemValues(std::string_view json, Visit&& visit);

namespace item_values_detail {
struct Reader {
  std::string_view in;
  size_t at = 0;
  std::string key;    // reused between members
  std::string text;
  void Space();
  bool String(std::string& out);
  // Parses a value; false on a fault. Sets null when it was JSON null.
  bool Value(Variant& out, bool& null);
};
}  // namespace item_values_detail

template <class Visit>
bool ReadItemValues(std::string_view json, Visit&& visit) {
  item_values_detail::Reader r{json};
  r.Space();
  if (r.at >= json.size() || json[r.at] != '{') return false;
  ++r.at;
  r.Space();
  if (r.at < json.size() && json[r.at] == '}') {
    ++r.at;
  } else {
    for (;;) {
      r.Space();
      if (!r.String(r.key)) return false;
      r.Space();
      if (r.at >= json.size() || json[r.at] != ':') return false;
      ++r.at;
      r.Space();
      Variant value;
      bool null = false;
      if (!r.Value(value, null)) return false;
      if (!null) visit(std::string_view(r.key), std::move(value));
      r.Space();
      if (r.at >= json.size()) return false;
      if (json[r.at] == '}') {
        ++r.at;
        break;
      }
      if (json[r.at] != ',') return false;
      ++r.at;
    }
  }
  r.Space();
  return r.at == json.size();
}

}  // namespace morvent
