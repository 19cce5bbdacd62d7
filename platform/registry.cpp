#include "platform/registry.h"

#include <map>
#include <mutex>

#include "platform/text.h"

namespace morvent {

namespace {
std::mutex& RegistryMutex() {
  static std::mutex m;
  return m;
}
std::map<std::string, Factory, NoCaseLess>& Registry() {
  static std::map<std::string, Factory, NoCaseLess> r;
  return r;
}
}  // namespace

void RegisterFactory(const std::string& progId, Factory factory) {
  std::lock_guard lock(RegistryMutex());
  auto [it, inserted] = Registry().emplace(progId, std::move(factory));
  if (!inserted) throw Error(kErrKeyExists, "Morvent", "部件已注册：" + progId);
}

Factory ReplaceFactory(const std::string& progId, Factory factory) {
  // The library's own registration would otherwise come later, meet the
  // replacement and refuse the name.
  EnsureComponentsRegistered();
  std::lock_guard lock(RegistryMutex());
  Factory previous;
  auto it = Registry().find(progId);
  if (it != Registry().end()) previous = std::move(it->second);
  Registry()[progId] = std::move(factory);
  return previous;
}

ObjectPtr CreateObject(const std::string& progId) {
  EnsureComponentsRegistered();
  Factory f;
  {
    std::lock_guard lock(RegistryMutex());
    auto it = Registry().find(progId);
    if (it != Registry().end()) f = it->second;
  }
  if (!f) throw Error(kErrCannotCreate, "Morvent", "部件不能创建对象：" + progId);
  ObjectPtr p = f();
  if (!p) throw Error(kErrCannotCreate, "Morvent", "部件不能创建对象：" + progId);
  return p;
}

}  // namespace morvent
