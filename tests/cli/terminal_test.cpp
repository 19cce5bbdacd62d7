// On a terminal no message is overwritten: the progress bar is cleared
// before each line of text, and the parts of a message that the library
// joins by carriage returns stand on their own indented lines.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/cli/tool.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

// Runs the tool with stderr on a raw pseudo-terminal (no CR added to line
// ends) and answers everything written to it.
std::string OnTerminal(const ProgramHome& home, std::vector<std::string> args) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return "no pty";
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  termios raw{};
  tcgetattr(slave, &raw);
  cfmakeraw(&raw);
  tcsetattr(slave, TCSANOW, &raw);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(slave, 2);
    setenv("MORVENT_HOME", home.path().c_str(), 1);
    std::vector<char*> argv{const_cast<char*>("morvent")};
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(Tool().c_str(), argv.data());
    _exit(127);
  }
  close(slave);
  std::string out;
  char buf[4096];
  for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  close(master);
  waitpid(pid, nullptr, 0);
  return out;
}

TEST(Terminal, TheBarIsClearedBeforeEachMessageAndItsPartsStandOnTheirOwnLines) {
  ProgramHome home;
  const std::string ledger = home.file("l.db"), file = home.file("d.xml");
  ASSERT_EQ(RunTool(home, "ledger init " + Quote(ledger)).status, 0);
  WriteFile(file,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DepartmentList>\n"
            "<Department><Number>01</Number><Name>总部</Name></Department>\n"
            "<Department><Number>01.02</Number><Name>孤儿</Name></Department>\n"
            "</DepartmentList>\n");
  const std::string out =
      OnTerminal(home, {"import", "-l", ledger, "-t", "120", "-f", file, "--on-error", "skip"});
  const std::string error =
      "\r\033[K错误（第 2 条记录）：引入部门资料错误，当前记录名称为：孤儿\n  错误信息：\n  代码01.02 编码中不能打点，该记录无法引入！（已跳过）\n";
  EXPECT_NE(out.find("\r部门 ["), std::string::npos) << out;
  EXPECT_NE(out.find(error), std::string::npos) << out;
  // Every carriage return is the bar's own: it starts the bar or clears it.
  const std::string clear = "\r\033[K", bar = "\r部门 [";
  for (size_t at = out.find('\r'); at != std::string::npos; at = out.find('\r', at + 1))
    EXPECT_TRUE(out.compare(at, clear.size(), clear) == 0 || out.compare(at, bar.size(), bar) == 0) << out.substr(at, 40);
}

}  // namespace
}  // namespace morvent::test
