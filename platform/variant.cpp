#include "platform/variant.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ctime>
#include <limits>
#include <system_error>

#include "platform/error.h"
#include "platform/text.h"

namespace morvent {

namespace {

// Round half to even, then range-check: the integer conversions of the rules.
// An overflow names the value as the caller had it (the text it came from).
template <class Int>
Int RoundToInt(double d, const Variant* from = nullptr) {
  auto overflow = [&] {
    if (!from) ThrowOverflow();
    ThrowOverflow(from->IsText() ? from->RawText() : FormatNumber(d));
  };
  if (std::isnan(d)) overflow();
  double r = std::nearbyint(d);  // default rounding mode is to nearest, ties to even
  if (r < static_cast<double>(std::numeric_limits<Int>::min()) ||
      r > static_cast<double>(std::numeric_limits<Int>::max()))
    overflow();
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

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// What the syntax pass learns about a number: enough to tell an overflow
// from an underflow when the digits leave the double range.
struct NumberShape {
  bool negative = false;
  size_t body = 0;            // offset of the unsigned part
  int64_t leadingPower = 0;   // decimal exponent of the first significant digit, plus one
};

constexpr int64_t kExponentCap = 1'000'000'000;

// Sign, digits with an optional point, optional exponent; nothing else.
bool ScanNumber(std::string_view t, NumberShape& shape) {
  size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) shape.negative = t[i++] == '-';
  shape.body = i;
  size_t digits = 0;
  int64_t intSignificant = 0, fracZeros = 0;
  bool seenNonZero = false;
  for (; i < t.size() && IsDigit(t[i]); ++i, ++digits) {
    seenNonZero = seenNonZero || t[i] != '0';
    if (seenNonZero) ++intSignificant;
  }
  if (i < t.size() && t[i] == '.') {
    for (++i; i < t.size() && IsDigit(t[i]); ++i, ++digits) {
      if (!seenNonZero && t[i] == '0') ++fracZeros;
      seenNonZero = seenNonZero || t[i] != '0';
    }
  }
  if (digits == 0) return false;
  int64_t exponent = 0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    bool negExp = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negExp = t[i++] == '-';
    size_t expDigits = 0;
    for (; i < t.size() && IsDigit(t[i]); ++i, ++expDigits)
      exponent = std::min(exponent * 10 + (t[i] - '0'), kExponentCap);
    if (expDigits == 0) return false;
    if (negExp) exponent = -exponent;
  }
  shape.leadingPower = (intSignificant > 0 ? intSignificant : -fracZeros) + exponent;
  return i == t.size();
}

}  // namespace

bool ParseNumber(std::string_view text, double& out) {
  const std::string t = TrimBlanks(text);
  NumberShape shape;
  if (!ScanNumber(t, shape)) return false;
  // from_chars reads the same digits the same way in every locale; the sign
  // stays outside it because it takes no "+".
  double magnitude = 0;
  const auto [end, ec] = std::from_chars(t.data() + shape.body, t.data() + t.size(), magnitude);
  if (ec == std::errc::result_out_of_range) {
    // A number of at least 1 that does not fit is too large; anything
    // smaller is too close to zero and becomes zero.
    magnitude = shape.leadingPower > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (ec != std::errc() || end != t.data() + t.size()) {
    return false;
  }
  out = shape.negative ? -magnitude : magnitude;
  return true;
}

std::string FormatNumber(double d) {
  if (d == 0) return "0";
  if (std::isnan(d)) return std::signbit(d) ? "-NAN" : "NAN";
  if (std::isinf(d)) return d < 0 ? "-INF" : "INF";
  constexpr int kDigits = 15;
  // Rounded once to 15 significant digits; the exponent is the rounded one.
  char buf[64];
  // The largest doubles would round up past the range, and text that cannot
  // be read back is no number: they round down to the last one that can.
  constexpr double kLargestShown = 1.79769313486231e308;
  const double magnitude = std::min(std::fabs(d), kLargestShown);
  const auto res = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific, kDigits - 1);
  const std::string_view sci(buf, static_cast<size_t>(res.ptr - buf));  // d.dddddddddddddde±XX
  const size_t e = sci.find('e');
  std::string digits = std::string(sci.substr(0, 1)) + std::string(sci.substr(2, e - 2));
  int exponent = 0;
  std::from_chars(sci.data() + e + 2, sci.data() + sci.size(), exponent);
  if (sci[e + 1] == '-') exponent = -exponent;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string out = d < 0 ? "-" : "";
  if (exponent < -4 || exponent >= kDigits) {
    out += digits.substr(0, 1);
    if (digits.size() > 1) out += "." + digits.substr(1);
    const std::string expDigits = std::to_string(std::abs(exponent));
    out += exponent < 0 ? "E-" : "E+";
    out += (expDigits.size() < 2 ? "0" : "") + expDigits;
  } else if (exponent < 0) {
    out += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
  } else {
    const size_t whole = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= whole) {
      out += digits + std::string(whole - digits.size(), '0');
    } else {
      out += digits.substr(0, whole) + "." + digits.substr(whole);
    }
  }
  return out;
}

DateValue MakeDate(int year, int month, int day, int hour, int minute, int second) {
  int64_t days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + kUnixToSerial;
  double frac = (hour * 3600 + minute * 60 + second) / 86400.0;
  return DateValue{static_cast<double>(days) + frac};
}

namespace {

constexpr int kMinYear = 100, kMaxYear = 9999;

void AppendPadded(std::string& out, int64_t value, size_t width) {
  const std::string digits = std::to_string(value);
  if (digits.size() < width) out.append(width - digits.size(), '0');
  out += digits;
}

// Reads minDigits to maxDigits ASCII digits at pos; a further digit makes
// the part too long.
bool ReadPart(std::string_view t, size_t& pos, size_t minDigits, size_t maxDigits, int& value) {
  size_t n = 0;
  value = 0;
  while (pos < t.size() && IsDigit(t[pos]) && n < maxDigits) value = value * 10 + (t[pos++] - '0'), ++n;
  return n >= minDigits && !(pos < t.size() && IsDigit(t[pos]));
}

bool Expect(std::string_view t, size_t& pos, char c) {
  if (pos >= t.size() || t[pos] != c) return false;
  ++pos;
  return true;
}

}  // namespace

std::string FormatDate(DateValue d) {
  // Checked before any integer conversion: far-off serials do not fit one.
  const double first = MakeDate(kMinYear, 1, 1).serial;
  const double pastLast = MakeDate(kMaxYear, 12, 31).serial + 1;
  if (!(d.serial >= first && d.serial < pastLast)) ThrowOverflow();
  double whole = std::floor(d.serial);
  int64_t secs = std::llround((d.serial - whole) * 86400.0);
  int64_t days = static_cast<int64_t>(whole);
  if (secs >= 86400) { ++days; secs -= 86400; }
  int y; unsigned m, dd;
  CivilFromDays(days - kUnixToSerial, y, m, dd);
  if (y > kMaxYear) ThrowOverflow();  // the last second rounded into year 10000
  std::string out;
  AppendPadded(out, y, 4);
  out += '-';
  AppendPadded(out, m, 2);
  out += '-';
  AppendPadded(out, dd, 2);
  if (secs != 0) {
    out += ' ';
    AppendPadded(out, secs / 3600, 2);
    out += ':';
    AppendPadded(out, secs / 60 % 60, 2);
    out += ':';
    AppendPadded(out, secs % 60, 2);
  }
  return out;
}

bool ParseDate(std::string_view text, DateValue& out) {
  const std::string t = TrimBlanks(text);
  size_t i = 0;
  int y = 0, m = 0, d = 0, hh = 0, mm = 0, ss = 0;
  if (!ReadPart(t, i, 4, 4, y) || i >= t.size()) return false;
  const char sep = t[i];
  if (sep != '-' && sep != '/') return false;
  ++i;
  if (!ReadPart(t, i, 1, 2, m) || !Expect(t, i, sep) || !ReadPart(t, i, 1, 2, d)) return false;
  if (i < t.size()) {
    if (!Expect(t, i, ' ') || !ReadPart(t, i, 1, 2, hh) || !Expect(t, i, ':') || !ReadPart(t, i, 1, 2, mm) ||
        !Expect(t, i, ':') || !ReadPart(t, i, 1, 2, ss) || i != t.size())
      return false;
  }
  if (y < kMinYear) return false;
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
    case VarType::Null: ThrowInvalidNull(Expected::Text);
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
    case VarType::Null: ThrowInvalidNull(Expected::Number);
    case VarType::Boolean: return std::get<bool>(v_) ? -1 : 0;
    case VarType::Integer: return std::get<int16_t>(v_);
    case VarType::Long: return std::get<int32_t>(v_);
    case VarType::Double: return std::get<double>(v_);
    case VarType::Date: return std::get<DateValue>(v_).serial;
    case VarType::String: {
      const std::string& text = std::get<std::string>(v_);
      double d;
      if (!ParseNumber(text, d)) ThrowTypeMismatch(text, Expected::Number);
      // A number past the double range parses as infinity.
      if (!std::isfinite(d)) ThrowOverflow(text);
      return d;
    }
    case VarType::Object: ThrowTypeMismatch();
  }
  ThrowTypeMismatch();
}

int32_t Variant::ToLong() const {
  if (Type() == VarType::Long) return std::get<int32_t>(v_);
  return RoundToInt<int32_t>(ToDouble(), this);
}

int16_t Variant::ToInteger() const {
  if (Type() == VarType::Integer) return std::get<int16_t>(v_);
  return RoundToInt<int16_t>(ToDouble(), this);
}

bool Variant::ToBool() const {
  switch (Type()) {
    case VarType::Boolean: return std::get<bool>(v_);
    case VarType::String: {
      const std::string t = TrimBlanks(std::get<std::string>(v_));
      if (EqualsNoCase(t, "True")) return true;
      if (EqualsNoCase(t, "False")) return false;
      double d;
      if (!ParseNumber(std::get<std::string>(v_), d)) ThrowTypeMismatch(std::get<std::string>(v_), Expected::Flag);
      if (!std::isfinite(d)) ThrowOverflow(std::get<std::string>(v_));
      return d != 0;
    }
    default: return ToDouble() != 0;
  }
}

DateValue Variant::ToDate() const {
  switch (Type()) {
    case VarType::Date: return std::get<DateValue>(v_);
    case VarType::String: {
      DateValue d;
      if (!ParseDate(std::get<std::string>(v_), d)) ThrowTypeMismatch(std::get<std::string>(v_), Expected::Date);
      return d;
    }
    case VarType::Null: ThrowInvalidNull(Expected::Date);
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
  try {
    return a.ToDouble() == b.ToDouble();
  } catch (const Error& e) {
    // A text held against the number 1 is the "equals 1" rule of the flags:
    // what it should have been is 0 or 1, not any number.
    const Variant& other = a.IsText() ? b : a;
    const ErrorDetail* d = e.Detail();
    if (e.Number() != kErrTypeMismatch || !d || !other.IsNumber() || other.ToDouble() != 1) throw;
    ThrowTypeMismatch(d->value, Expected::Flag);
  }
}

bool IsNumeric(const Variant& v) {
  if (v.IsNumber() || v.IsEmpty()) return true;
  if (!v.IsText()) return false;
  double d;
  return ParseNumber(v.RawText(), d);
}

}  // namespace morvent
