// The data-file reader on any bytes (fuzz/reader_check.h). The first byte
// picks the kind (element and schema), the rest is the file.
#include <cstddef>
#include <cstdint>

#include "fuzz/reader_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace morvent::fuzz;
  if (size < 1) return 0;
  ReadAndCheck(KindOf(data[0]), std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
  return 0;
}
