#include "platform/variant.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>

#include "platform/error.h"
#include "platform/text.h"

namespace morvent {

namespace {

// Round half to even, then range-check: the integer conversions of the rules.
template <class Int>
Int RoundToInt(double d) {
  if (std::isnan(d)) ThrowOverflow();
  double r = std::nearbyint(d);  // default rounding mode is to nearest, ties to even
  if (r < static_cast<double>(std::numeric_limits<Int>::min()) ||
      r > static_cast<double>(std::numeric_limits<Int>::max()))
    ThrowOverflow();
  return static_cast<Int>(r);
}

int64_t DaysFromCivil(int y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<int>(yoe) + static_cast<int>(era * 400);
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp + (mp < 10 ? 3 : -9);
  y += m <= 2;
}

// Days between 1970-01-01 and the serial origin 1899-12-30.
constexpr int64_t kUnixToSerial = 25569;

}  // namespace

bool Variant::IsNumber() const {
  switch (Type()) {
    case VarType::Boolean:
    case VarType::Integer:
    case VarType::Long:
    case VarType::Double:
      return true;
    default:
      return false;
  }
}

bool ParseNumber(std::string_view text, double& out) {
  std::string t = TrimBlanks(std::string(text));
  if (t.empty()) return false;
  size_t i = 0;
  if (t[i] == '+' || t[i] == '-') ++i;
  size_t digits = 0;
  while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i, ++digits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    size_t j = i + 1;
    if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
    size_t expDigits = 0;
    while (j < t.size() && std::isdigit(static_cast<unsigned char>(t[j]))) ++j, ++expDigits;
    if (expDigits == 0) return false;
    i = j;
  }
  if (i != t.size()) return false;
  // strtod honours the C locale, which this library never changes.
  out = std::strtod(t.c_str(), nullptr);
  return true;
}

std::string FormatNumber(double d) {
  if (d == 0) return "0";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15G", d);
  std::string s = buf;
  auto e = s.find('E');
  std::string mant = e == std::string::npos ? s : s.substr(0, e);
  std::string exp = e == std::string::npos ? "" : s.substr(e);
  if (mant.find('.') != std::string::npos) {
    while (!mant.empty() && mant.back() == '0') mant.pop_back();
    if (!mant.empty() && mant.back() == '.') mant.pop_back();
  }
  return mant + exp;
}

DateValue MakeDate(int year, int month, int day, int hour, int minute, int second) {
  int64_t days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + kUnixToSerial;
  double frac = (hour * 3600 + minute * 60 + second) / 86400.0;
  return DateValue{static_cast<double>(days) + frac};
}

std::string FormatDate(DateValue d) {
  double whole = std::floor(d.serial);
  int64_t secs = std::llround((d.serial - whole) * 86400.0);
  int64_t days = static_cast<int64_t>(whole);
  if (secs >= 86400) { ++days; secs -= 86400; }
  int y; unsigned m, dd;
  CivilFromDays(days - kUnixToSerial, y, m, dd);
  char buf[64];
  if (secs == 0)
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", y, m, dd);
  else
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02d:%02d:%02d", y, m, dd,
                  static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60));
  return buf;
}

bool ParseDate(std::string_view text, DateValue& out) {
  std::string t = TrimBlanks(std::string(text));
  int y = 0, m = 0, d = 0, hh = 0, mm = 0, ss = 0;
  char s1 = 0, s2 = 0;
  int consumed = 0;
  if (std::sscanf(t.c_str(), "%4d%c%2d%c%2d%n", &y, &s1, &m, &s2, &d, &consumed) != 5) return false;
  if (s1 != s2 || (s1 != '-' && s1 != '/')) return false;
  std::string rest = t.substr(static_cast<size_t>(consumed));
  if (!rest.empty()) {
    int c2 = 0;
    if (std::sscanf(rest.c_str(), " %2d:%2d:%2d%n", &hh, &mm, &ss, &c2) != 3 ||
        static_cast<size_t>(c2) != rest.size())
      return false;
  }
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m < 1 || m > 12 || d < 1 || d > kDays[m - 1]) return false;
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (m == 2 && d == 29 && !leap) return false;
  if (hh > 23 || mm > 59 || ss > 59) return false;
  out = MakeDate(y, m, d, hh, mm, ss);
  return true;
}

DateValue Now() {
  std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return MakeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
}

std::string Variant::ToText() const {
  switch (Type()) {
    case VarType::Empty: return "";
    case VarType::Null: ThrowInvalidNull();
    case VarType::Boolean: return std::get<bool>(v_) ? "True" : "False";
    case VarType::Integer: return std::to_string(std::get<int16_t>(v_));
    case VarType::Long: return std::to_string(std::get<int32_t>(v_));
    case VarType::Double: return FormatNumber(std::get<double>(v_));
    case VarType::Date: return FormatDate(std::get<DateValue>(v_));
    case VarType::String: return std::get<std::string>(v_);
    case VarType::Object: ThrowTypeMismatch();
  }
  ThrowTypeMismatch();
}

double Variant::ToDouble() const {
  switch (Type()) {
    case VarType::Empty: return 0;
    case VarType::Null: ThrowInvalidNull();
    case VarType::Boolean: return std::get<bool>(v_) ? -1 : 0;
    case VarType::Integer: return std::get<int16_t>(v_);
    case VarType::Long: return std::get<int32_t>(v_);
    case VarType::Double: return std::get<double>(v_);
    case VarType::Date: return std::get<DateValue>(v_).serial;
    case VarType::String: {
      double d;
      if (!ParseNumber(std::get<std::string>(v_), d)) ThrowTypeMismatch();
      // strtod answers infinity for a number past the double range.
      if (!std::isfinite(d)) ThrowOverflow();
      return d;
    }
    case VarType::Object: ThrowTypeMismatch();
  }
  ThrowTypeMismatch();
}

int32_t Variant::ToLong() const {
  if (Type() == VarType::Long) return std::get<int32_t>(v_);
  return RoundToInt<int32_t>(ToDouble());
}

int16_t Variant::ToInteger() const {
  if (Type() == VarType::Integer) return std::get<int16_t>(v_);
  return RoundToInt<int16_t>(ToDouble());
}

bool Variant::ToBool() const {
  switch (Type()) {
    case VarType::Boolean: return std::get<bool>(v_);
    case VarType::String: {
      const std::string t = TrimBlanks(std::get<std::string>(v_));
      if (EqualsNoCase(t, "True")) return true;
      if (EqualsNoCase(t, "False")) return false;
      return ToDouble() != 0;
    }
    default: return ToDouble() != 0;
  }
}

DateValue Variant::ToDate() const {
  switch (Type()) {
    case VarType::Date: return std::get<DateValue>(v_);
    case VarType::String: {
      DateValue d;
      if (!ParseDate(std::get<std::string>(v_), d)) ThrowTypeMismatch();
      return d;
    }
    default: return DateValue{ToDouble()};
  }
}

ObjectPtr Variant::ToObject() const {
  if (auto* p = std::get_if<ObjectPtr>(&v_)) return *p;
  ThrowTypeMismatch();
}

bool VarEquals(const Variant& a, const Variant& b) {
  if (a.IsNull() || b.IsNull()) return false;
  if (a.IsObject() || b.IsObject()) {
    if (a.IsObject() && b.IsObject()) return a.ToObject() == b.ToObject();
    ThrowTypeMismatch();
  }
  const bool at = a.IsText() || a.IsEmpty(), bt = b.IsText() || b.IsEmpty();
  if (a.IsText() && b.IsText()) return a.RawText() == b.RawText();
  if (at && bt) return a.ToText() == b.ToText();
  if (a.Type() == VarType::Date || b.Type() == VarType::Date) {
    return a.ToDate().serial == b.ToDate().serial;
  }
  return a.ToDouble() == b.ToDouble();
}

bool IsNumeric(const Variant& v) {
  if (v.IsNumber() || v.IsEmpty()) return true;
  if (!v.IsText()) return false;
  double d;
  return ParseNumber(v.RawText(), d);
}

}  // namespace morvent
