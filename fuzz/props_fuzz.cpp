// The property-string parser: any text parses into a table or fails with an
// Error, and the thread's context answers for what it parsed.
#include <cstddef>
#include <cstdint>
#include <string>

#include "context/props.h"
#include "platform/error.h"

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
  std::string rest = text;
  while (!rest.empty()) {
    std::string before = rest;
    (void)NextKey(rest);
    (void)NextValue(rest);
    if (rest == before) break;  // no progress: the parser would loop on it
  }
  return 0;
}
