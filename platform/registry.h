#pragma once
// Creation of outside objects by programmatic name ("Corabin.AccountSet",
// "XMLPellam.Write", ...). Every component the handlers create goes through
// this one registry, so a test can swap a factory for one that fails.
#include <functional>
#include <memory>
#include <string>

#include "platform/error.h"
#include "platform/variant.h"

namespace morvent {

using Factory = std::function<ObjectPtr()>;

// Registers the factory of a programmatic name; a second registration of the
// same name is refused loudly (it would silently shadow a component).
void RegisterFactory(const std::string& progId, Factory factory);

// Replaces (or installs) a factory and answers the previous one, for tests.
// An empty factory makes the name uncreatable.
Factory ReplaceFactory(const std::string& progId, Factory factory);

// Creates the object; an unknown name or a factory that yields nothing
// raises error 429 ("部件不能创建对象").
ObjectPtr CreateObject(const std::string& progId);

template <class T>
std::shared_ptr<T> CreateObjectAs(const std::string& progId) {
  auto p = std::dynamic_pointer_cast<T>(CreateObject(progId));
  if (!p) ThrowTypeMismatch();
  return p;
}

// Restores a replaced factory when the scope ends.
class ScopedFactory {
 public:
  ScopedFactory(std::string progId, Factory factory)
      : progId_(std::move(progId)), previous_(ReplaceFactory(progId_, std::move(factory))) {}
  ~ScopedFactory() { ReplaceFactory(progId_, previous_); }
  ScopedFactory(const ScopedFactory&) = delete;
  ScopedFactory& operator=(const ScopedFactory&) = delete;

 private:
  std::string progId_;
  Factory previous_;
};

// Makes sure the library's own components are registered; called by the
// front ends and the tool before anything is created by name.
void EnsureComponentsRegistered();

}  // namespace morvent
