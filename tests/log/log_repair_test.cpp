// A writer killed, or a write that fails, in the middle of an entry: the
// next append must still work and keep every whole entry.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "front/exchange_log.h"
#include "platform/error.h"
#include "platform/progdir.h"
#include "tests/log/log_reader.h"
#include "tests/support/support.h"

namespace morvent {
namespace {

using test::ParseLog;
using test::ProgramHome;
using test::ReadFile;
using test::WriteFile;

std::vector<std::string> Messages(const std::string& path) {
  std::vector<std::string> out;
  for (const auto& e : ParseLog(path).entries) out.push_back(e.Attr("ErrMsg"));
  return out;
}

class LogRepair : public ::testing::Test {
 protected:
  std::string LogPath() const { return home.file(kLogFileName); }
  ProgramHome home;
};

// Every state a killed writer can leave: the log cut at any byte of its last
// entry or closing tag, or (after a crash of the machine) ending in bytes
// never written.
TEST_F(LogRepair, ALogCutAnywhereInItsLastEntryIsCutBackToTheLastWholeEntry) {
  WriteErrLog(true, "一");
  WriteErrLog(false, "二\r<&>");
  const size_t secondEnd = ReadFile(LogPath()).rfind("/>") + 2;
  WriteErrLog(true, "三");
  const std::string whole = ReadFile(LogPath());
  const size_t thirdEnd = whole.rfind("/>") + 2;

  std::vector<std::pair<std::string, size_t>> cuts;  // content, whole entries kept
  for (size_t cut = secondEnd; cut < whole.size(); ++cut) cuts.emplace_back(whole.substr(0, cut), cut < thirdEnd ? 2 : 3);
  cuts.emplace_back(whole.substr(0, secondEnd) + "\n" + std::string(300, '\0'), 2);
  cuts.emplace_back(whole.substr(0, whole.find("<ErrLog")) + "  <ErrLog Direct=\"x\" Ti", 0);

  for (const auto& [content, kept] : cuts) {
    SCOPED_TRACE("cut at byte " + std::to_string(content.size()));
    WriteFile(LogPath(), content);
    ASSERT_EQ(test::ErrorOf([] { WriteErrLog(false, "之后"); }), "");
    std::vector<std::string> expected = {"一", "二\r<&>", "三"};
    expected.resize(kept);
    expected.push_back("之后");
    ASSERT_EQ(Messages(LogPath()), expected);
    // What was whole is kept byte for byte.
    const std::string bytes = ReadFile(LogPath());
    const size_t keptBytes = kept == 0 ? whole.find("<ErrLog") : kept == 2 ? secondEnd : thirdEnd;
    EXPECT_EQ(bytes.substr(0, keptBytes), whole.substr(0, keptBytes));
  }
}

TEST_F(LogRepair, AWriterKilledWhileCreatingTheLogLeavesNothingInTheWay) {
  WriteFile(LogPath() + ".new", "<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n<Morv");
  WriteErrLog(true, "一");
  EXPECT_EQ(Messages(LogPath()), std::vector<std::string>{"一"});
  EXPECT_FALSE(FileExist(LogPath() + ".new"));
}

// The next number the child reported on its pipe; false at its end.
bool NextReport(std::FILE* in, int& value) { return std::fscanf(in, "%d", &value) == 1; }

std::string BigMessage(int round, int i) {
  // Long enough that one entry spans several pages of the file.
  return "轮" + std::to_string(round) + "-" + std::to_string(i) + "\r" + std::string(20000, 'x') + "错误";
}

// A child process running body(write end of a pipe), which never returns;
// answers its pid and the read end. -1 when fork or pipe failed.
template <class Body>
std::pair<pid_t, int> Child(Body body) {
  int fds[2];
  if (::pipe(fds) != 0) return {-1, -1};
  pid_t pid = fork();
  if (pid == 0) {
    ::close(fds[0]);
    body(fds[1]);
    _exit(0);
  }
  ::close(fds[1]);
  return {pid, fds[0]};
}

TEST_F(LogRepair, AWriterKilledDuringHeavyLoggingLosesNoEntryItFinished) {
  std::vector<std::string> expected;
  for (int round = 0; round < 4; ++round) {
    auto [pid, out] = Child([round](int fd) {
      for (int i = 0;; ++i) {
        try {
          WriteErrLog(i % 2 == 0, BigMessage(round, i));
        } catch (...) {
          _exit(1);
        }
        std::string done = std::to_string(i) + "\n";
        if (::write(fd, done.data(), done.size()) < 0) _exit(1);
      }
    });
    ASSERT_GE(pid, 0);
    std::FILE* reports = ::fdopen(out, "r");
    ASSERT_NE(reports, nullptr);
    int finished = -1;
    while (finished < 10 + round * 7 && NextReport(reports, finished)) {
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped on its own";
    while (NextReport(reports, finished)) {
    }
    std::fclose(reports);

    // The log may end in a cut entry now: the next append repairs it. The
    // child may have finished one more entry than it could report.
    WriteErrLog(false, "之后" + std::to_string(round));
    const auto logged = Messages(LogPath());
    ASSERT_GE(logged.size(), expected.size() + static_cast<size_t>(finished) + 2);
    ASSERT_LE(logged.size(), expected.size() + static_cast<size_t>(finished) + 3);
    for (int i = 0; expected.size() + 1 < logged.size(); ++i) expected.push_back(BigMessage(round, i));
    expected.push_back("之后" + std::to_string(round));
    ASSERT_EQ(Messages(LogPath()), expected);
  }
}

// A write that fails half-way (here: the file may grow no further) is
// reported, and the log is put back as it was.
TEST_F(LogRepair, AFailedAppendIsReportedAndLeavesTheLogAsItWas) {
  WriteErrLog(true, "一");
  const std::string whole = ReadFile(LogPath());
  const std::string cut = whole.substr(0, whole.rfind("</Morvent>")) + "  <ErrLog Direct=\"x\" Ti";  // a kill's tail
  for (const std::string& before : {whole, cut}) {
    WriteFile(LogPath(), before);
    auto [pid, out] = Child([&before](int fd) {
      std::signal(SIGXFSZ, SIG_IGN);
      rlimit limit{static_cast<rlim_t>(before.size() + 40), static_cast<rlim_t>(before.size() + 40)};
      setrlimit(RLIMIT_FSIZE, &limit);
      std::string description = "no failure";
      try {
        WriteErrLog(false, std::string(5000, 'y'));
      } catch (const Error& e) {
        description = e.Description();
      }
      _exit(::write(fd, description.data(), description.size()) < 0 ? 1 : 0);
    });
    ASSERT_GE(pid, 0);
    std::string reported;
    char chunk[512];
    for (ssize_t n; (n = ::read(out, chunk, sizeof chunk)) > 0;) reported.append(chunk, static_cast<size_t>(n));
    ::close(out);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(reported, "无法写入交换日志 " + LogPath() + "：" + std::strerror(EFBIG));
    EXPECT_EQ(ReadFile(LogPath()), before);
  }
}

}  // namespace
}  // namespace morvent
