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
std::vector<std::function<void()>>& WaitHooks() {
  static std::vector<std::function<void()>> h;
  return h;
}
void RunAll(const std::vector<std::function<void()>>& list) {
  std::vector<std::function<void()>> hooks;
  {
    std::lock_guard lock(HookMutex());
    hooks = list;
  }
  for (auto& h : hooks) {
    try {
      h();
    } catch (...) {
      // A hook that fails must not turn a finished call into a crash.
    }
  }
}
}  // namespace

PublicCallScope::PublicCallScope() { ++depth; }

PublicCallScope::~PublicCallScope() {
  if (--depth > 0) return;
  RunAll(Hooks());
}

bool InPublicCall() { return depth > 0; }

void RegisterCallEndHook(std::function<void()> hook) {
  std::lock_guard lock(HookMutex());
  Hooks().push_back(std::move(hook));
}

void RegisterClientWaitHook(std::function<void()> hook) {
  std::lock_guard lock(HookMutex());
  WaitHooks().push_back(std::move(hook));
}

void BeforeClientWait() {
  if (depth > 0) RunAll(WaitHooks());
}

}  // namespace morvent
