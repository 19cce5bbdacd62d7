// The installed tool run by a user who may not write the program's folder:
// the exchange log moves to the user's state folder and `morvent log` reads
// it there; schemas are still found though MORVENT_HOME holds none.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/cli/tool.h"

namespace morvent::test {
namespace {

namespace fs = std::filesystem;
constexpr uid_t kNobody = 65534;

// Runs a shell command in a forked child that has given up root first.
Outcome AsNobody(const std::string& command) {
  const std::string text = InChild([&] {
    if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(2);
    const Outcome o = RunCommand(command);
    return std::to_string(o.status) + "\n" + o.out;
  });
  Outcome o;
  const size_t nl = text.find('\n');
  if (nl == std::string::npos) return o;
  o.status = std::stoi(text.substr(0, nl));
  o.out = text.substr(nl + 1);
  return o;
}

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

void GiveToNobody(const std::string& path) { ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0) << path; }

TEST(ToolStateLog, AnUnwritableProgramFolderSendsTheLogToTheUsersStateFolder) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to become another user";
  struct Case {
    const char* name;
    bool xdg;             // XDG_STATE_HOME set
    const char* stateIn;  // the log's folder, under the temp folder
  };
  const Case cases[] = {{"XDG_STATE_HOME", true, "xdg/morvent"}, {"HOME only", false, "user/.local/state/morvent"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    chmod(dir.path().c_str(), 0755);
    // The program's folder: not the user's to write, and without schema files.
    const std::string program = dir.file("program");
    fs::create_directory(program);
    chmod(program.c_str(), 0555);
    for (const char* mine : {"user", "xdg", "work"}) {
      fs::create_directory(dir.file(mine));
      GiveToNobody(dir.file(mine));
    }
    const std::string ledger = dir.file("work/l.db"), file = dir.file("work/d.xml");
    ASSERT_EQ(RunCommand(Quote(Tool()) + " ledger init " + Quote(ledger) + " >/dev/null 2>&1").status, 0);
    WriteFile(file,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DepartmentList>\n"
              "<Department><Number>01.02</Number><Name>孤儿甲</Name></Department>\n"
              "<Department><Number>01.03</Number><Name>孤儿乙</Name></Department>\n"
              "</DepartmentList>\n");
    for (const std::string& f : {ledger, file}) GiveToNobody(f);

    const std::string env = "cd / && env -u XDG_STATE_HOME HOME=" + Quote(dir.file("user")) +
                            (c.xdg ? " XDG_STATE_HOME=" + Quote(dir.file("xdg")) : "") +
                            " MORVENT_HOME=" + Quote(program) + " " + Quote(Tool());
    const Outcome run = AsNobody(env + " import --ledger " + Quote(ledger) + " --type 120 --file " + Quote(file) +
                                 " --on-error skip </dev/null 2>&1");
    EXPECT_EQ(run.status, 4) << run.out;
    const std::string state = dir.file(c.stateIn);
    EXPECT_EQ(Occurrences(run.out, "诊断：程序目录 " + program + " 不可写，交换日志改写在 " + state + " 中\n"), 1u)
        << run.out;
    EXPECT_EQ(run.out.find("写交换日志失败"), std::string::npos) << run.out;
    EXPECT_EQ(ReadLogEntries(state + "/Morvent_log.xml").size(), 2u);
    struct stat st {};
    ASSERT_EQ(stat(state.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "the state folder is the user's alone";
    EXPECT_FALSE(fs::exists(program + "/Morvent_log.xml"));

    const Outcome log = AsNobody(env + " log </dev/null 2>&1");
    EXPECT_EQ(log.status, 0);
    EXPECT_EQ(log.out.substr(0, log.out.find('\n')), "交换日志：" + state + "/Morvent_log.xml") << log.out;
    EXPECT_EQ(Occurrences(log.out, "孤儿"), 2u) << log.out;
  }
}

}  // namespace
}  // namespace morvent::test
