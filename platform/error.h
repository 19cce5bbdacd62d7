#pragma once
// The one exception type of the component. Every failure, whether raised by
// our own validation, by the embedded ledger or by a value conversion,
// travels as an Error carrying number, source and description, so an error
// trap can compose the user's message from it without knowing its origin.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/export.h"

namespace morvent {

// Application error base for the component's own validation failures.
inline constexpr int32_t kAppErrorBase = static_cast<int32_t>(0x80040000u);

// Numbers of the classic automation run-time errors we raise ourselves.
enum ErrorNumber : int32_t {
  kErrOverflow = 6,
  kErrTypeMismatch = 13,
  kErrSubscript = 9,
  kErrInvalidCall = 5,
  kErrObjectNotSet = 91,
  kErrInvalidNull = 94,
  kErrNotSupported = 438,
  kErrCannotCreate = 429,
  kErrFile = 75,
  kErrKeyExists = 457,
  kErrKeyMissing = 32811,
  kErrLedger = kAppErrorBase + 0x1000,  // failures reported by the embedded ledger
  kErrDataFile = kAppErrorBase + 0x2000, // failures of the data-file writer
};

class MORVENT_API Error : public std::runtime_error {
 public:
  Error(int32_t number, std::string source, std::string description)
      : std::runtime_error(description),
        number_(number),
        source_(std::move(source)),
        description_(std::move(description)) {}

  int32_t Number() const noexcept { return number_; }
  const std::string& Source() const noexcept { return source_; }
  const std::string& Description() const noexcept { return description_; }

  // A copy whose description is prefixed, for callers that add context
  // where they catch.
  Error WithContext(const std::string& prefix) const {
    return Error(number_, source_, prefix + description_);
  }

 private:
  int32_t number_;
  std::string source_;
  std::string description_;
};

// Shorthands for the errors with fixed Chinese descriptions.
[[noreturn]] MORVENT_API void ThrowTypeMismatch();
[[noreturn]] MORVENT_API void ThrowOverflow();
[[noreturn]] MORVENT_API void ThrowInvalidNull();
[[noreturn]] MORVENT_API void ThrowObjectNotSet();
[[noreturn]] MORVENT_API void ThrowNotSupported(const std::string& member);

// Any exception caught at a trap becomes an Error; foreign exceptions keep
// their what() text as description.
MORVENT_API Error ToError(const std::exception& e);

// Dereferences an object reference; an absent object raises "对象变量未设置"
// instead of undefined behaviour.
template <class P>
auto& Must(const P& p) {
  if (!p) ThrowObjectNotSet();
  return *p;
}

}  // namespace morvent
