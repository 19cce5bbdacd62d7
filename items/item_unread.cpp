#include "items/item_unread.h"

#include <algorithm>

#include "context/props.h"

namespace morvent {

namespace {
bool Imported(const ItemKind& kind, const ItemField& f) {
  const bool can = f.kind == FieldKind::Custom ? static_cast<bool>(f.importFn) : f.importAccess != Access::None;
  // An import order names every key it writes.
  return can && (kind.importOrder.empty() ||
                 std::find(kind.importOrder.begin(), kind.importOrder.end(), f.key) != kind.importOrder.end());
}
}  // namespace

std::string UnreadItemKey(const ItemKind& kind, const std::string& key) {
  bool known = false, readOther = false;
  bool gy = false;
  bool asked = false;
  for (const auto& f : kind.fields) {
    if (f.key != key) continue;
    known = true;
    if (!Imported(kind, f)) continue;
    if (f.set == FieldSet::All) return {};
    if (!asked) {
      gy = IsAcctTypeGY();
      asked = true;
    }
    if ((f.set == FieldSet::GY) == gy) return {};
    readOther = true;
  }
  if (!known) return {};
  if (readOther) return gy ? "只有非 GY 账套读取它" : "只有 GY 账套读取它";
  return "只导出，引入时不读取";
}

}  // namespace morvent
