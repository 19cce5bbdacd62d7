// `morvent compare` reads each file as an import does: what the reader
// refuses is refused with the reader's words, and what the reader reads in
// bounded memory, compare does too.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "tests/cli/tool.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

namespace fs = std::filesystem;

const std::string kDepartments =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DepartmentList>\n"
    "<Department><Number>01</Number><Name>总经理办公室</Name></Department>\n"
    "<Department><Number>02</Number><Name>财务部</Name></Department>\n</DepartmentList>\n";

TEST(ToolCompare, RefusesWhatTheReaderRefusesWithItsReason) {
  const std::string laughs =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE DepartmentList [\n<!ENTITY a \"lol\">\n"
      "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">\n<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">\n"
      "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">\n]>\n"
      "<DepartmentList><Department><Number>&d;</Number></Department></DepartmentList>\n";
  const std::string entity =
      "<?xml version=\"1.0\"?>\n\n<!DOCTYPE DepartmentList [<!ENTITY n \"02\">]>\n"
      "<DepartmentList><Department><Number>01</Number><Name>总经理办公室</Name></Department>\n"
      "<Department><Number>&n;</Number><Name>财务部</Name></Department></DepartmentList>\n";
  enum class Make { File, Fifo, Folder };
  struct Case {
    const char* what;
    Make make;
    std::string content;
    std::string problem;  // after the file's name
  };
  const Case cases[] = {
      {"a document type with entities", Make::File, entity, " 出错：第 3 行：不接受含有 DOCTYPE 声明的数据文件"},
      {"billion laughs", Make::File, laughs, " 出错：第 2 行：不接受含有 DOCTYPE 声明的数据文件"},
      {"a FIFO", Make::Fifo, "", " 不是普通文件"},
      {"a folder", Make::Folder, "", " 不是普通文件"},
      {"not XML", Make::File, "部门：总经理办公室\n", " 出错：第 1 行：文件中没有任何元素"},
      {"cut short", Make::File, kDepartments.substr(0, kDepartments.find("</Number>") + 9),
       " 出错：第 3 行：文件不完整：到文件末尾时元素 Department 还没有结束，可能没有保存完或复制时被截断，请找回完整的文件"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ProgramHome home;
    const std::string a = home.file("a"), b = home.file("b");
    fs::create_directories(a);
    fs::create_directories(b);
    WriteFile(b + "/Department.xml", kDepartments);
    const std::string bad = a + "/Department.xml";
    if (c.make == Make::File) WriteFile(bad, c.content);
    if (c.make == Make::Fifo) ASSERT_EQ(::mkfifo(bad.c_str(), 0600), 0);
    if (c.make == Make::Folder) fs::create_directories(bad);
    const std::string prefix = c.make == Make::File ? "读取数据文件 " : "数据文件 ";

    auto o = RunTool(home, "compare " + Quote(a) + " " + Quote(b));
    EXPECT_EQ(o.status, 3);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(ReadFile(home.file("stderr.txt")), prefix + bad + c.problem + "\n比较了 1 个文件，0 处不同\n");

    // Alone in its folder it is refused just the same, not called missing.
    fs::remove(b + "/Department.xml");
    o = RunTool(home, "compare " + Quote(a) + " " + Quote(b));
    EXPECT_EQ(o.status, 3);
    EXPECT_EQ(ReadFile(home.file("stderr.txt")), prefix + bad + c.problem + "\n比较了 1 个文件，0 处不同\n");
  }
}

// Runs the tool without a shell; answers its peak resident memory in MB.
long PeakMbOfCompare(const ProgramHome& home, const std::string& a, const std::string& b, int& status) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::setenv("MORVENT_HOME", home.path().c_str(), 1);
    const std::string tool = Tool();
    ::execl(tool.c_str(), tool.c_str(), "compare", a.c_str(), b.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int raw = 0;
  rusage usage{};
  if (pid < 0 || ::wait4(pid, &raw, 0, &usage) != pid) return -1;
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return usage.ru_maxrss / 1024;
}

TEST(ToolCompare, BlanksCutByCommentsDoNotBalloon) {
  ProgramHome home;
  const std::string a = home.file("a"), b = home.file("b");
  fs::create_directories(a);
  fs::create_directories(b);
  WriteFile(a + "/Department.xml", kDepartments);
  WriteFile(b + "/Department.xml", kDepartments);
  int status = -1;
  const long plain = PeakMbOfCompare(home, a, b, status);
  ASSERT_EQ(status, 0);

  {
    // 48 MB before the records and as much after, cut by comments and
    // instructions. Let go before the run: the child starts as a copy of
    // this process, and its peak would count what this one holds.
    std::string blanks;
    for (int i = 0; i < 48; ++i) blanks += std::string(1u << 20, ' ') + (i % 2 ? "<!---->" : "<?p?>");
    std::string blanky = kDepartments;
    blanky.insert(blanky.find("<Department>"), blanks);
    blanky.insert(blanky.rfind("</Department>") + 13, blanks);
    WriteFile(b + "/Department.xml", blanky);
  }
  const long peak = PeakMbOfCompare(home, a, b, status);
  EXPECT_EQ(status, 0);
  EXPECT_LT(peak, plain + 8) << "96 MB of blanks cost " << peak << " MB against " << plain;
}

}  // namespace
}  // namespace morvent::test
