#include "platform/call_scope.h"

#include <mutex>
#include <vector>

namespace morvent {

namespace {
thread_local int depth = 0;
std::mutex& HookMutex() {
  static std::mutex m;
  return m;
}
std::vector<std::function<void()>>& Hooks() {
  static std::vector<std::function<void()>> h;
  return h;
}
}  // namespace

PublicCallScope::PublicCallScope() { ++depth; }

PublicCallScope::~PublicCallScope() {
  if (--depth > 0) return;
  std::vector<std::function<void()>> hooks;
  {
    std::lock_guard lock(HookMutex());
    hooks = Hooks();
  }
  for (auto& h : hooks) {
    try {
      h();
    } catch (...) {
      // A hook that fails must not turn a finished call into a crash.
    }
  }
}

bool InPublicCall() { return depth > 0; }

void RegisterCallEndHook(std::function<void()> hook) {
  std::lock_guard lock(HookMutex());
  Hooks().push_back(std::move(hook));
}

}  // namespace morvent
