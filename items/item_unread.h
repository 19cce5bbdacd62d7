#pragma once
// Which keys of its file an item kind never reads in the running ledger.
#include <string>

#include "items/item_kind.h"

namespace morvent {

// Why the kind's import never reads the key in this ledger ("AcctType" of
// the property string): a field of the other kind of ledger only, or one
// that is exported only. Empty when it reads it, and for keys outside the
// field table (number, name, parent).
std::string UnreadItemKey(const ItemKind& kind, const std::string& key);

}  // namespace morvent
