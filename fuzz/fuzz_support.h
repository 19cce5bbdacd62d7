#pragma once
// Shared pieces of the fuzz harnesses: a private folder for the run, quiet
// message boxes, and the kinds of data file by selector byte.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "platform/msgbox.h"

namespace morvent::fuzz {

// Boxes that answer No and show nothing.
class QuietBoxes : public MessageBoxes {
 public:
  void Warning(const std::string&) override {}
  bool Question(const std::string&) override { return false; }
};

// A folder of this process under the system's temporary folder, made once
// and removed when the run ends normally.
inline const std::string& WorkDir() {
  static const std::string dir = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "morvent-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    return pattern;
  }();
  static const bool cleanup = [] {
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(WorkDir(), ec);
    });
    return true;
  }();
  (void)cleanup;
  return dir;
}

inline std::string SchemaDir() { return std::string(MORVENT_SOURCE_DIR) + "/schemas"; }

inline void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The base types with their element names; an input's first byte picks one.
struct Kind {
  int32_t code;
  const char* element;
};
inline constexpr Kind kKinds[] = {
    {101, "AccountType"}, {102, "Account"},     {103, "Currency"},  {104, "VoucherGroup"},
    {105, "MeasureUnitGroup"}, {106, "MeasureUnit"}, {107, "Settle"}, {108, "SonCompany"},
    {110, "Customer"},    {112, "Stock"},       {114, "Supplier"},  {116, "Material"},
    {118, "Employee"},    {120, "Department"},  {121, "AssistType"}, {122, "AssistDetail"},
};
inline const Kind& KindOf(uint8_t selector) { return kKinds[selector % (sizeof kKinds / sizeof kKinds[0])]; }

}  // namespace morvent::fuzz
