#pragma once
// Small helpers shared by the item side's sets and objects.
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "context/ledger_api.h"
#include "store/ledger_store.h"

namespace morvent {

// The named arguments a member accepts; any other name is refused, so a
// misspelt argument fails loudly instead of being ignored.
class ArgReader {
 public:
  ArgReader(const NamedArgs& named, std::initializer_list<const char*> accepted, const std::string& member);
  // The value of a named argument, or nullptr when it was not given.
  const Variant* Find(const char* name) const;

 private:
  const NamedArgs& named_;
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
