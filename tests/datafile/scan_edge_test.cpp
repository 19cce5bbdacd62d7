// The scan takes sixteen bytes at a time: at the end of what it was given
// it must stop short, never read the next byte. The buffer here ends where a
// page the process may not read begins, so one byte too many crashes.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string_view>

#include "datafile/input_file.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

// Reads the file into the last `len` bytes before a page that cannot be
// read; exits 0 when the read handed on `expected`.
[[noreturn]] void ReadBeforeGuardPage(const std::string& path, size_t len, const std::string& expected) {
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  void* map = ::mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (map == MAP_FAILED || ::mprotect(static_cast<char*>(map) + page, page, PROT_NONE) != 0) ::_exit(2);
  char* buffer = static_cast<char*>(map) + page - len;
  xml::InputFile file(path);
  const int n = file.Read(buffer, static_cast<int>(len));
  ::_exit(std::string_view(buffer, n > 0 ? static_cast<size_t>(n) : 0) == expected ? 0 : 1);
}

TEST(ScanEdgeDeathTest, NoByteIsReadPastTheBuffer) {
  GTEST_FLAG_SET(death_test_style, "fast");
  TempDir dir;
  const std::string path = dir.file("edge.xml");
  for (size_t len = 1; len <= 48; ++len) {
    // Text up to the end, a tag whose end is not yet in, blanks between
    // elements (left out, so only the tag comes through).
    const std::pair<std::string, std::string> cases[] = {
        {"<A>" + std::string(len, 'x'), "<A>" + std::string(len, 'x')},
        {"<A " + std::string(len, 'b'), "<A " + std::string(len, 'b')},
        {"<A/>" + std::string(len, ' '), "<A/>"},
    };
    for (const auto& [content, expected] : cases) {
      WriteFile(path, content);
      EXPECT_EXIT(ReadBeforeGuardPage(path, content.size(), expected), ::testing::ExitedWithCode(0), "")
          << len << " bytes: " << content;
    }
  }
}

}  // namespace
}  // namespace morvent::test
