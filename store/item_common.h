#pragma once
// Small helpers shared by the item side's sets and objects.
#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "context/ledger_api.h"
#include "store/ledger_store.h"

namespace morvent {

// The named arguments a member accepts; any other name is refused, so a
// misspelt argument fails loudly instead of being ignored.
class ArgReader {
 public:
  // At most kMaxAccepted names.
  ArgReader(const NamedArgs& named, std::initializer_list<const char*> accepted, std::string_view member);
  // The value of a named argument, or nullptr when it was not given.
  const Variant* Find(const char* name) const;

  static constexpr size_t kMaxAccepted = 6;

 private:
  const NamedArgs& named_;
  // The arguments are matched once, as they are checked: per accepted name,
  // its first value.
  std::array<const char*, kMaxAccepted> accepted_;
  std::array<const Variant*, kMaxAccepted> found_;
  size_t count_ = 0;
};

// The positional argument at index, or nullptr when not given (or Empty).
const Variant* Positional(const std::vector<Variant>& args, size_t index);

// Raised when a value reaches a property the object does not have.
[[noreturn]] void ThrowUnknownProperty(const std::string& what, const std::string& name);

// An ID the ledger just assigned, refused when it leaves the positive range
// the protocol carries (limit: 32-bit, or 16-bit for assist-data types and
// item classes).
int32_t CheckedNewId(int64_t id, int64_t limit, const std::string& what);

}  // namespace morvent
