#include "front/trap.h"

#include "platform/call_scope.h"
#include "platform/text.h"

namespace morvent {

std::string ErrorTrap::Compose(const Error& error) const {
  std::string name = currentName_ ? currentName_() : std::string();
  return prefix_ + name + kCR + kErrInfo + kCR + error.Description();
}

namespace {
thread_local const ErrorDetail* raisingDetail = nullptr;

bool Known(const ErrorDetail& d) { return !d.element.empty() || d.AboutValue() || !d.hint.empty(); }
}  // namespace

const ErrorDetail* RaisingErrorDetail() { return raisingDetail; }

bool ErrorTrap::Report(const Error& error) {
  std::string message;
  try {
    message = Compose(error);
  } catch (const std::exception&) {
    // No name to show, so no event: the failure itself leaves the
    // operation, not the by-product of reading the name.
    throw error;
  }
  ErrorDetail detail = error.Detail() ? *error.Detail() : ErrorDetail{};
  if (describe_) {
    try {
      describe_(error, detail);
    } catch (const std::exception&) {
      // The detail is a courtesy: the event goes out with what is known.
    }
  }
  struct Raising {
    const ErrorDetail* before = raisingDetail;
    ~Raising() { raisingDetail = before; }
  } raising;
  raisingDetail = Known(detail) ? &detail : nullptr;
  return !raise_(message);
}

bool ErrorTrap::StoppedByLostWrite() {
  if (!LostWritePending()) return false;
  if (auto message = TakeLostWrite()) raise_(*message);
  return true;
}

std::optional<bool> ErrorTrap::Attempt(StepRef<void> step) {
  try {
    step();
    return std::nullopt;
  } catch (const std::exception& e) {
    // After a lost write the step's own failure is its by-product.
    if (LostWritePending()) return false;
    return Report(ToError(e));
  }
}

bool ErrorTrap::Run(StepRef<void> step) {
  auto failed = Attempt(step);
  if (StoppedByLostWrite()) return false;
  return !failed || *failed;
}

bool ErrorTrap::RunRequired(StepRef<void> step) {
  auto failed = Attempt(step);
  if (StoppedByLostWrite()) return false;
  return !failed;
}

std::optional<bool> ErrorTrap::Test(StepRef<bool> condition) {
  bool answer = true;
  auto failed = Attempt([&] { answer = condition(); });
  if (StoppedByLostWrite()) return std::nullopt;
  if (failed && !*failed) return std::nullopt;
  return answer;
}

}  // namespace morvent
