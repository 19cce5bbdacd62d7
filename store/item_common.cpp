#include "store/item_common.h"

#include <cstring>

#include "platform/error.h"
#include "platform/text.h"

namespace morvent {

namespace {
// EqualsNoCase against a name of the code, without measuring it first: most
// names differ in their first letters.
bool IsName(std::string_view given, const char* name) {
  auto up = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
  for (size_t i = 0; i < given.size(); ++i)
    if (name[i] == '\0' || up(name[i]) != up(given[i])) return false;
  return name[given.size()] == '\0';
}
}  // namespace

ArgReader::ArgReader(const NamedArgs& named, std::initializer_list<const char*> accepted, std::string_view member)
    : named_(named) {
  if (accepted.size() > kMaxAccepted) throw Error(kErrInvalidCall, "MorventLedger", std::string(member) + " 的参数过多");
  for (const char* a : accepted) {
    accepted_[count_] = a;
    found_[count_++] = nullptr;
  }
  for (const auto& [name, value] : named) {
    size_t k = 0;
    while (k < count_ && !IsName(name, accepted_[k])) ++k;
    if (k == count_) throw Error(kErrInvalidCall, "MorventLedger", std::string(member) + " 不接受参数 " + name);
    if (!found_[k]) found_[k] = &value;
  }
}

const Variant* ArgReader::Find(const char* name) const {
  for (size_t k = 0; k < count_; ++k)
    if (accepted_[k] == name || std::strcmp(accepted_[k], name) == 0) return found_[k];
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
