#pragma once
// The tagged value that crosses every boundary of the component: ledger
// fields, record values, option values. Conversions follow the classic
// automation-variant rules, implemented here once so no caller re-invents
// them (see docs/values.md for the table).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "platform/export.h"

namespace morvent {

// Base of every object a Variant can hold: records, collections, ledger
// objects. Objects are shared; an empty pointer is "Nothing".
class MORVENT_API Object {
 public:
  virtual ~Object() = default;
};
using ObjectPtr = std::shared_ptr<Object>;

enum class VarType { Empty, Null, Boolean, Integer, Long, Double, Date, String, Object };

// A point in time as days since 1899-12-30, the fraction being the time of day.
struct DateValue {
  double serial = 0;
  friend bool operator==(const DateValue&, const DateValue&) = default;
};

class MORVENT_API Variant {
 public:
  Variant() = default;  // Empty
  Variant(bool b) : v_(b) {}
  Variant(int16_t i) : v_(i) {}
  Variant(int32_t l) : v_(l) {}
  Variant(double d) : v_(d) {}
  Variant(DateValue d) : v_(d) {}
  Variant(std::string s) : v_(std::move(s)) {}
  Variant(std::string_view s) : v_(std::string(s)) {}
  Variant(const char* s) : v_(std::string(s)) {}
  Variant(ObjectPtr o) : v_(std::move(o)) {}
  template <class T, class = std::enable_if_t<std::is_base_of_v<Object, T>>>
  Variant(std::shared_ptr<T> o) : v_(ObjectPtr(std::move(o))) {}

  static Variant Null() { Variant v; v.v_ = NullTag{}; return v; }
  static Variant Nothing() { return Variant(ObjectPtr()); }

  VarType Type() const { return static_cast<VarType>(v_.index()); }
  bool IsEmpty() const { return Type() == VarType::Empty; }
  bool IsNull() const { return Type() == VarType::Null; }
  bool IsObject() const { return Type() == VarType::Object; }
  bool IsText() const { return Type() == VarType::String; }
  // Boolean, Integer, Long, Double (what IsNumeric answers for a non-text value).
  bool IsNumber() const;

  // Conversions; each raises "类型不匹配", "溢出" or the invalid-use-of-Null
  // error exactly where an automation variant would.
  std::string ToText() const;
  int32_t ToLong() const;     // rounds half to even
  int16_t ToInteger() const;  // rounds half to even
  double ToDouble() const;
  bool ToBool() const;
  DateValue ToDate() const;
  ObjectPtr ToObject() const;  // type mismatch unless an object (Nothing allowed)

  // The object as T, or nullptr when the value is not an object of that type.
  template <class T>
  std::shared_ptr<T> As() const {
    if (auto* p = std::get_if<ObjectPtr>(&v_)) return std::dynamic_pointer_cast<T>(*p);
    return nullptr;
  }

  // Raw accessors for code that switched on Type().
  bool RawBool() const { return std::get<bool>(v_); }
  const std::string& RawText() const { return std::get<std::string>(v_); }

 private:
  struct EmptyTag {};
  struct NullTag {};
  std::variant<EmptyTag, NullTag, bool, int16_t, int32_t, double, DateValue, std::string, ObjectPtr> v_;
};

// The "=" of the automation rules: number against text converts the text
// (type mismatch when it cannot), text against text is exact and
// case-sensitive, and anything compared with Null is never a match.
MORVENT_API bool VarEquals(const Variant& a, const Variant& b);

// Text that parses as a number under the conversion rules (IsNumeric).
MORVENT_API bool IsNumeric(const Variant& v);

// Number to text in the invariant form: point, no grouping, at most 15
// significant digits, trailing zeros dropped. No locale is consulted, here
// or in ParseNumber.
MORVENT_API std::string FormatNumber(double d);
// "yyyy-mm-dd", plus " hh:mm:ss" when not midnight; "溢出" outside the
// years 100 to 9999.
MORVENT_API std::string FormatDate(DateValue d);
// Parses "yyyy-mm-dd[ hh:mm:ss]" ("/" also accepted): a four-digit year from
// 100, month, day, hour, minute and second of one or two ASCII digits, one
// blank before the time; blanks around the whole are trimmed.
MORVENT_API bool ParseDate(std::string_view text, DateValue& out);
MORVENT_API DateValue MakeDate(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
MORVENT_API DateValue Now();

// Text to Double under the conversion rules (blanks trimmed); false when the
// text is not a number.
MORVENT_API bool ParseNumber(std::string_view text, double& out);

}  // namespace morvent
