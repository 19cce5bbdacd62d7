#include "store/item_common.h"

#include "platform/error.h"
#include "platform/text.h"

namespace morvent {

ArgReader::ArgReader(const NamedArgs& named, std::initializer_list<const char*> accepted, const std::string& member)
    : named_(named) {
  for (const auto& [name, value] : named) {
    bool known = false;
    for (const char* a : accepted) known = known || EqualsNoCase(name, a);
    if (!known) throw Error(kErrInvalidCall, "MorventLedger", member + " 不接受参数 " + name);
  }
}

const Variant* ArgReader::Find(const char* name) const {
  for (const auto& [n, value] : named_)
    if (EqualsNoCase(n, name)) return &value;
  return nullptr;
}

const Variant* Positional(const std::vector<Variant>& args, size_t index) {
  if (index >= args.size() || args[index].IsEmpty()) return nullptr;
  return &args[index];
}

void ThrowUnknownProperty(const std::string& what, const std::string& name) {
  ThrowLedgerError(what + "没有属性“" + name + "”");
}

int32_t CheckedNewId(int64_t id, int64_t limit, const std::string& what) {
  if (id < 1 || id > limit) ThrowLedgerError(what + "的编号已用尽（上限 " + std::to_string(limit) + "），不能再新增");
  return static_cast<int32_t>(id);
}

}  // namespace morvent
