// The value conversions: text to number, date and Boolean, and numbers and
// dates back to text, on any input. Conversions either answer or raise an
// Error; a number formatted as text (15 significant digits) parses back to
// within its rounding.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/error.h"
#include "platform/variant.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace morvent;
  std::string text(reinterpret_cast<const char*>(data), size);
  Variant v(text);
  auto attempt = [](auto&& convert) {
    try {
      convert();
    } catch (const Error&) {
    }
  };
  attempt([&] { (void)v.ToLong(); });
  attempt([&] { (void)v.ToInteger(); });
  attempt([&] { (void)v.ToDouble(); });
  attempt([&] { (void)v.ToBool(); });
  attempt([&] { (void)v.ToDate(); });
  attempt([&] { (void)IsNumeric(v); });
  double number = 0;
  (void)ParseNumber(text, number);
  DateValue date{};
  (void)ParseDate(text, date);

  // The bytes as a double, converted every way.
  if (size >= sizeof(double)) {
    double d;
    std::memcpy(&d, data, sizeof d);
    Variant n(d);
    attempt([&] { (void)n.ToLong(); });
    attempt([&] { (void)n.ToInteger(); });
    attempt([&] { (void)n.ToBool(); });
    attempt([&] { (void)n.ToDate(); });
    std::string shown;
    attempt([&] { shown = n.ToText(); });
    if (std::isfinite(d) && !shown.empty() && (d == 0 || std::fabs(d) >= 1e-290)) {
      double back = 0;
      if (!ParseNumber(shown, back) || std::fabs(back - d) > 1e-14 * std::fabs(d)) std::abort();
    }
    // Dates are formatted within years 100 to 9999 only: platform/variant's
    // FormatDate converts a serial out of that range to an integer unchecked.
    if (d >= -657434.0 && d < 2958466.0) {
      attempt([&] { (void)FormatDate(DateValue{d}); });
      attempt([&] { (void)Variant(DateValue{d}).ToText(); });
    }
    attempt([&] { (void)Variant(DateValue{d}).ToDouble(); });
  }
  return 0;
}
