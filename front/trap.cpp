#include "front/trap.h"

#include "platform/text.h"

namespace morvent {

std::string ErrorTrap::Compose(const Error& error) const {
  std::string name = currentName_ ? currentName_() : std::string();
  return prefix_ + name + kCR + kErrInfo + kCR + error.Description();
}

bool ErrorTrap::Report(const Error& error) {
  std::string message;
  try {
    message = Compose(error);
  } catch (const std::exception&) {
    // No name to show, so no event: the failure itself leaves the
    // operation, not the by-product of reading the name.
    throw error;
  }
  return !raise_(message);
}

bool ErrorTrap::Run(const std::function<void()>& step) {
  try {
    step();
    return true;
  } catch (const std::exception& e) {
    return Report(ToError(e));
  }
}

std::optional<bool> ErrorTrap::Test(const std::function<bool()>& condition) {
  try {
    return condition();
  } catch (const std::exception& e) {
    if (!Report(ToError(e))) return std::nullopt;
    return true;
  }
}

}  // namespace morvent
