#pragma once
// Reference fields of items: the referenced object's name for an ID, and the
// ID for a name.
#include <cstdint>
#include <string>

#include "platform/variant.h"
#include "store/item_catalogue.h"

namespace morvent {

class LedgerStore;

// The name of the object an ID refers to; Null for 0 and for an ID that
// does not exist (any longer).
Variant ReferencedName(LedgerStore& store, const FieldDef& field, int32_t id);

// The ID of the object named name, for a field of an item of classId: the
// first match in ID order; an empty name means none (0). A name that
// matches nothing raises an error naming it.
int32_t LookupReference(LedgerStore& store, int32_t classId, const FieldDef& field, const std::string& name);

}  // namespace morvent
