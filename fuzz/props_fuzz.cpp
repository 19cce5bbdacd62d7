// The property-string parser: any text parses into a table or fails with an
// Error, and the thread's context answers for what it parsed. The text as a
// Data Source is told a server or a file, and its password never shows
// once masked.
#include <cstddef>
#include <cstdint>
#include <string>

#include "context/props.h"
#include "platform/error.h"
#include "store/pg_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace morvent;
  std::string text(reinterpret_cast<const char*>(data), size);
  try {
    auto table = ParsePropertyString(text);
    for (const auto& [key, value] : table) (void)(key.size() + value.size());
  } catch (const Error&) {
  }
  try {
    if (ParseProps(text)) {
      for (const char* key : {"Data Source", "AcctType", "Provider", ""}) {
        try {
          (void)GetProp(key);
        } catch (const Error&) {
        }
      }
      try {
        (void)IsAcctTypeGY();
      } catch (const Error&) {
      }
    }
  } catch (const Error&) {
  }
  if (IsServerSource(text)) {
    const std::string secret = "\x01secret\x02";
    if (MaskPassword("postgresql://u:" + secret + "@" + text).find(secret) != std::string::npos ||
        MaskPassword("host=h password='" + secret + "' " + text).find(secret) != std::string::npos)
      __builtin_trap();
  }
  (void)MaskPassword(text);
  std::string rest = text;
  while (!rest.empty()) {
    std::string before = rest;
    (void)NextKey(rest);
    (void)NextValue(rest);
    if (rest == before) break;  // no progress: the parser would loop on it
  }
  return 0;
}
