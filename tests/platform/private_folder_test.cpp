// Private work folders: gone with their object, and what a killed process
// left goes when the next folder of that prefix is made.
#include "platform/private_folder.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/support.h"

namespace morvent::test {
namespace {

namespace fs = std::filesystem;

// TMPDIR pointed at a folder of the test's own for the scope.
class OwnTemp {
 public:
  OwnTemp() {
    if (const char* t = std::getenv("TMPDIR")) saved_ = t, had_ = true;
    ::setenv("TMPDIR", dir.path().c_str(), 1);
  }
  ~OwnTemp() {
    if (had_)
      ::setenv("TMPDIR", saved_.c_str(), 1);
    else
      ::unsetenv("TMPDIR");
  }
  TempDir dir;

 private:
  std::string saved_;
  bool had_ = false;
};

TEST(PrivateFolder, WhatAKilledProcessLeftGoesWhenTheNextIsMade) {
  OwnTemp temp;
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  struct Left {
    std::string name;
    long owner;  // 0: no mark
    bool otherUser, kept;
  };
  const std::vector<Left> left = {
      {"morvent-test-killed", gone, false, false},
      {"morvent-test-living", ::getpid(), false, true},
      {"morvent-test-nomark", 0, false, true},
      {"morvent-test-others", gone, true, true},  // another user's
      {"morvent-test-longer-name", gone, false, true},
      {"morvent-else-killed", gone, false, true},
  };
  for (const auto& l : left) {
    fs::create_directory(temp.dir.file(l.name));
    std::ofstream(temp.dir.file(l.name + "/upload.xlsx")) << "business data";
    if (l.owner) std::ofstream(temp.dir.file(l.name + "/owner")) << l.owner << "\n";
    if (l.otherUser) ASSERT_EQ(::chown(temp.dir.file(l.name).c_str(), 65534, 65534), 0);
  }
  std::string made;
  {
    PrivateFolder folder("morvent-test-");
    ASSERT_FALSE(folder.path().empty());
    made = folder.path();
    EXPECT_EQ((fs::status(made).permissions() & fs::perms::all), fs::perms::owner_all);
    std::ifstream owner(folder.file("owner"));
    long pid = 0;
    owner >> pid;
    EXPECT_EQ(pid, ::getpid());
    for (const auto& l : left) EXPECT_EQ(fs::exists(temp.dir.file(l.name)), l.kept) << l.name;
  }
  EXPECT_FALSE(fs::exists(made));
}

}  // namespace
}  // namespace morvent::test
