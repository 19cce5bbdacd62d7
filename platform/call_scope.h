#pragma once
// The extent of one public call on this thread. Components that defer work
// inside a call (the ledger groups its saves into one transaction) register
// a hook that runs on the calling thread when the outermost scope ends,
// however the call ends: result, cancel or error.
#include <functional>

namespace morvent {

class PublicCallScope {
 public:
  PublicCallScope();
  ~PublicCallScope();
  PublicCallScope(const PublicCallScope&) = delete;
  PublicCallScope& operator=(const PublicCallScope&) = delete;
};

// Whether the calling thread is inside a public call.
bool InPublicCall();

// Registers a hook run at the end of every outermost public call on the
// thread that made the call. Hooks must not throw; they are registered once
// per process (at component registration).
void RegisterCallEndHook(std::function<void()> hook);

// Runs before control goes to someone who may take long to answer (an
// error event, a message box), so deferred work (grouped saves) does not
// stay uncommitted, holding other writers off, while they think.
void RegisterClientWaitHook(std::function<void()> hook);
void BeforeClientWait();

}  // namespace morvent
