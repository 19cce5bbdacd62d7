#pragma once
// The one exception type of the component. Every failure, whether raised by
// our own validation, by the embedded ledger or by a value conversion,
// travels as an Error carrying number, source and description, so an error
// trap can compose the user's message from it without knowing its origin.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

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

// What a value should have been, for a failure about one value.
enum class Expected { None, Text, Number, Date, Flag, InRange, Object };

// What a failure was about, beside its description: the value and what it
// should have been where the failure is raised, the record and its key
// where it is caught. Every part may be unknown (empty, 0, None).
struct MORVENT_API ErrorDetail {
  std::string element;  // the record's element, "Customer"
  int32_t row = 0;      // the record's row in the data file
  std::string number;   // the record's "Number" (or its match key's value)
  std::string key;      // the key converted or looked up; "Parent/Number" within a nested record
  std::string value;    // as text, at most kDetailValueChars characters
  bool valueIsNull = false;
  Expected expected = Expected::None;
  std::string object;   // Expected::Object: which object ("上级")
  std::string hint;     // a further remedy, in one line

  bool AboutValue() const { return expected != Expected::None; }
  // "键 CreditAmount 的值“5万”不是数字"; empty when not AboutValue.
  std::string Line() const;
  // "number", "date", "flag", "range", "object", "text"; empty for None.
  static const char* KindName(Expected e);
};

inline constexpr size_t kDetailValueChars = 100;

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
    Error e(number_, source_, prefix + description_);
    e.detail_ = detail_;
    return e;
  }

  // The detail, nullptr when none was given.
  const ErrorDetail* Detail() const noexcept { return detail_.get(); }
  // The same error about one value: its text (cut) and what it should be.
  Error& About(std::string_view value, Expected expected, std::string object = {});
  Error& AboutNull(Expected expected);
  Error& WithDetail(ErrorDetail detail) {
    detail_ = std::make_shared<const ErrorDetail>(std::move(detail));
    return *this;
  }

 private:
  int32_t number_;
  std::string source_;
  std::string description_;
  std::shared_ptr<const ErrorDetail> detail_;
};

// Shorthands for the errors with fixed Chinese descriptions; the forms with
// a value say which value failed and what it should have been.
[[noreturn]] MORVENT_API void ThrowTypeMismatch();
[[noreturn]] MORVENT_API void ThrowTypeMismatch(std::string_view value, Expected expected);
[[noreturn]] MORVENT_API void ThrowOverflow();
[[noreturn]] MORVENT_API void ThrowOverflow(std::string_view value);
[[noreturn]] MORVENT_API void ThrowInvalidNull();
[[noreturn]] MORVENT_API void ThrowInvalidNull(Expected expected);
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
