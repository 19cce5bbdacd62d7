#pragma once
// The error trap every handler's Export and Import run under.
//
// A failure in a step becomes one error event: the operation's message
// prefix, the current record's name, CR, "错误信息：", CR and the failure's
// description. The event's Cancel comes preset True: left True, the
// operation stops (Run answers false and the caller returns False); cleared,
// the operation resumes with the step after the failing one.
//
// Reading the current name may itself fail (no record is current yet, or
// the list is past its end); then there is no message to show and the
// failure leaves the operation as an Error, as the trap it replaces did.
//
// A ledger commit that failed during a step (platform/call_scope.h) stops
// the operation whatever the client answers: its work is gone and going on
// would build on IDs that no longer exist. Its message is raised once, as
// it stands (it is about the work since the last commit, not one record);
// a failure the refused writes cause after it raises nothing more.
//
// Beside the message, the event's detail (RaisingErrorDetail) says what the
// failure was about: the value and what it should have been, as raised, and
// the record and key, as the operation's describer adds them.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

#include "platform/error.h"

namespace morvent {

// A step as the trap runs it: borrowed for the call, never kept, so passing
// a lambda allocates nothing (a walk runs several steps per record).
template <class R>
class StepRef {
 public:
  template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, StepRef>>>
  StepRef(F&& f)  // NOLINT: converts like the std::function it stands for
      : target_(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
        call_([](void* t) -> R {
          auto& target = *static_cast<std::remove_reference_t<F>*>(t);
          if constexpr (std::is_void_v<R>)
            target();
          else
            return target();
        }) {}
  R operator()() const { return call_(target_); }

 private:
  void* target_;
  R (*call_)(void*);
};

class ErrorTrap {
 public:
  using NameReader = std::function<std::string()>;
  // Adds what the operation knows of a failure (its record, the key) to the
  // detail the failure brought from where it was raised.
  using Describer = std::function<void(const Error& error, ErrorDetail& detail)>;
  // Raises the event with Cancel preset True and answers Cancel.
  using Raiser = std::function<bool(const std::string& message)>;

  ErrorTrap(std::string prefix, NameReader currentName, Raiser raise)
      : prefix_(std::move(prefix)), currentName_(std::move(currentName)), raise_(std::move(raise)) {}

  // Runs one step; false when the client left the error cancelled.
  [[nodiscard]] bool Run(StepRef<void> step);

  // Runs a step the operation cannot go on without (opening the ledger,
  // counting, reading the next object, writing the file): a failure is
  // reported as by Run and answers false whatever the client answered.
  [[nodiscard]] bool RunRequired(StepRef<void> step);

  // Evaluates a condition guarding a branch or a loop. A failure the client
  // lets pass answers true: execution goes on with the first guarded step.
  // nullopt when the client stopped the operation.
  [[nodiscard]] std::optional<bool> Test(StepRef<bool> condition);

  // The message for a failure, as the event carries it.
  std::string Compose(const Error& error) const;

  void SetDescriber(Describer describe) { describe_ = std::move(describe); }

  // True when a lost ledger write stops the operation; raises its message
  // the first time.
  [[nodiscard]] bool StoppedByLostWrite();

 private:
  bool Report(const Error& error);
  // Runs a step; nullopt when it succeeded, else whether the client let
  // the failure pass.
  std::optional<bool> Attempt(StepRef<void> step);

  std::string prefix_;
  NameReader currentName_;
  Raiser raise_;
  Describer describe_;
};

// The detail of the failure whose error event this thread is raising:
// valid during the event only; nullptr outside one, or when nothing is
// known beyond the message.
const ErrorDetail* RaisingErrorDetail();

inline constexpr const char* kErrInfo = "错误信息：";

}  // namespace morvent
