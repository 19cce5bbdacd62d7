#pragma once
// Field shapes that several item kinds share beyond those of item_kind.h.
#include <string>
#include <utility>

#include "items/item_kind.h"

namespace morvent {

// A reference read from exportField and written to importField, each named
// in full: for fields whose two names differ by more than the "_ID" ending,
// or that both carry it.
inline ItemField ReferenceFieldAs(std::string key, std::string exportField, std::string importField,
                                  std::string lookup, std::string property = {}, FieldSet set = FieldSet::All,
                                  Access exportAccess = Access::Properties,
                                  Access importAccess = Access::Properties) {
  ItemField f = ReferenceField(std::move(key), "", std::move(lookup), std::move(property), set);
  f.exportField = std::move(exportField);
  f.importField = std::move(importField);
  f.exportAccess = exportAccess;
  f.importAccess = importAccess;
  return f;
}

}  // namespace morvent
