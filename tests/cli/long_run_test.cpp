// Long and interrupted runs of the tool, and what it says about errors:
// progress lines off a terminal, --quiet, Ctrl-C, the row of each error and
// the hints that name the option a user needs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "tests/cli/tool.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

// The tool as a child whose stdout the test reads line by line, so that a
// signal goes out at a chosen event. stdin is an empty pipe.
class Child {
 public:
  Child(const ProgramHome& home, std::vector<std::string> args, int stderrFd) {
    int out[2], in[2];
    if (pipe(out) != 0 || pipe(in) != 0 || (pid_ = fork()) < 0) return;
    if (pid_ == 0) {
      for (auto [from, to] : {std::pair{in[0], 0}, {out[1], 1}, {stderrFd, 2}}) dup2(from, to);
      setenv("MORVENT_HOME", home.path().c_str(), 1);
      std::vector<char*> argv{const_cast<char*>("morvent")};
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(Tool().c_str(), argv.data());
      _exit(127);
    }
    for (int fd : {in[0], in[1], out[1], stderrFd}) close(fd);
    out_ = fdopen(out[0], "r");
  }
  ~Child() { Finish(); }
  // The next line of stdout, "" at its end.
  std::string Line() {
    char buf[4096];
    return out_ && fgets(buf, sizeof buf, out_) ? buf : "";
  }
  void Interrupt() { kill(pid_, SIGINT); }
  // Reads stdout to its end; the wait status.
  int Finish() {
    while (!Line().empty()) {
    }
    if (out_) fclose(out_);
    out_ = nullptr;
    if (pid_ > 0) waitpid(pid_, &status_, 0);
    pid_ = -1;
    return status_;
  }

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
  int status_ = -1;
};

// More rows than a pipe holds, so the tool is still running (blocked on its
// output) when the test sends the signal after the first line.
constexpr int kMany = 5000;
constexpr char kFiller[4096] = {};

class LongRun : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(RunTool(home, "ledger init " + Quote(ledger)).status, 0) << Stderr(); }
  std::string Stderr() const { return ReadFile(home.file("stderr.txt")); }
  std::vector<std::string> Run(const std::string& verb, const std::string& file) const {
    return {verb, "--ledger", ledger, "--type", "120", "--file", file, "--events", "jsonl"};
  }
  // The departments in the ledger, counted by the rows of their export.
  int Stored() {
    auto o = RunTool(home, "export --ledger " + Quote(ledger) + " --type 120 --overwrite --events jsonl --file " +
                               Quote(home.file("count.xml")));
    EXPECT_EQ(o.status, 0) << Stderr();
    int rows = 0;
    for (const auto& j : Lines(o.out)) rows += j["event"] == "ExportOneRow";
    return rows;
  }
  int StderrFile() const { return open(home.file("stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644); }
  ProgramHome home;
  std::string ledger = home.file("l.db");
  std::string data = home.file("d.xml");
};

// A kind that finishes within a second shows no progress off a terminal
// (cli/pace.h paces longer ones; see output_test.cpp).
TEST_F(LongRun, ProgressOffATerminalIsNoneForAShortRunAndQuietHasNone) {
  WriteFile(data, DepartmentsXml(20));
  struct Case {
    std::string verb, options;
    int jsonLines;
  };
  const std::vector<Case> cases = {
      {"import", "", 0},
      {"import", "--quiet", 0},
      {"import", "--quiet --events jsonl", 21},
      {"export --overwrite", "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.verb + " " + c.options);
    auto o = RunTool(home, c.verb + " --ledger " + Quote(ledger) + " --type 120 --file " + Quote(data) + " " + c.options);
    EXPECT_EQ(o.status, 0) << Stderr();
    EXPECT_EQ(Lines(o.out).size(), static_cast<size_t>(c.jsonLines));
    const std::string err = Stderr();
    EXPECT_FALSE(std::regex_search(err, std::regex("部门 (引入|导出) [0-9]+%"))) << err;
    if (c.jsonLines == 0) EXPECT_TRUE(std::regex_search(err, std::regex("(^|\n)部门 (引入|导出)完成：20 行"))) << err;
  }
}

// Each run is stopped by Ctrl-C after its first event.
TEST_F(LongRun, CtrlCStopsAnImportWithWhatItStoredAndAnExportWithoutAFile) {
  WriteFile(data, DepartmentsXml(kMany));
  Child import(home, Run("import", data), StderrFile());
  EXPECT_EQ(import.Line(), "{\"event\":\"ImportOneRow\",\"lRow\":1,\"dblRate\":0}\n");
  import.Interrupt();
  int status = import.Finish();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  std::smatch m;
  const std::string text = Stderr();
  ASSERT_TRUE(std::regex_search(text, m, std::regex("^已中断：已保存 ([0-9]+) 条记录；再次运行同一引入可以继续。\n$")))
      << text;
  EXPECT_GT(std::stoi(m[1]), 0);
  EXPECT_LT(std::stoi(m[1]), kMany);
  EXPECT_EQ(Stored(), std::stoi(m[1]));
  EXPECT_EQ(RunTool(home, "import --ledger " + Quote(ledger) + " --type 120 --quiet --file " + Quote(data)).status, 0);
  EXPECT_EQ(Stored(), kMany);

  const std::string target = home.file("out.xml");
  WriteFile(target, "keep me");
  auto args = Run("export", target);
  args.push_back("--overwrite");
  Child exporter(home, args, StderrFile());
  EXPECT_EQ(exporter.Line(), "{\"event\":\"Question\",\"text\":\"" + target + "文件已存在，是否覆盖？\",\"answer\":\"yes\"}\n");
  exporter.Interrupt();
  status = exporter.Finish();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_EQ(Stderr(), "已中断：导出未完成，没有写入文件。\n");
  EXPECT_EQ(ReadFile(target), "keep me");
}

// A second Ctrl-C while the tool is stopping ends it at once: its last line
// waits on a full stderr, so the second signal surely comes during the stop.
TEST_F(LongRun, ASecondCtrlCEndsTheProcess) {
  WriteFile(data, DepartmentsXml(kMany));
  int err[2];
  ASSERT_EQ(pipe(err), 0);
  fcntl(err[1], F_SETFL, O_NONBLOCK);
  while (write(err[1], kFiller, sizeof kFiller) > 0) {
  }
  fcntl(err[1], F_SETFL, 0);
  Child child(home, Run("import", data), err[1]);
  child.Line();
  child.Interrupt();
  for (std::string line = child.Line(); line.rfind("{\"event\":\"Result\",\"value\":false", 0) != 0; line = child.Line())
    ASSERT_FALSE(line.empty()) << "the run ended without its result";
  child.Interrupt();
  const int status = child.Finish();
  close(err[0]);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGINT);
}

// Undotted numbers under dotted numbering fail for every child; the hint
// comes once, and never for dotted numbers or with --coding-style 2.
TEST_F(LongRun, ErrorsNameTheirRowAndUndottedNumbersGetOneHint) {
  const auto file = [](const std::string& child1, const std::string& child2) {
    const std::string group = "<DeptGroup><Number>01</Number><Name>总部</Name></DeptGroup>";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DepartmentList>\n"
           "<Department><Number>01</Number><Name>总部</Name></Department>\n"
           "<Department><Number>" + child1 + "</Number><Name>财务</Name>" + group + "</Department>\n"
           "<Department><Number>" + child2 + "</Number><Name>人事</Name>" + group + "</Department>\n"
           "</DepartmentList>\n";
  };
  const std::string hint = "提示：文件中的代码不带点，上级由代码前缀表示：请加 --coding-style 2 重新引入。\n";
  struct Case {
    std::string child1, child2, options;
    int status;
    bool hinted;
  };
  const std::vector<Case> cases = {
      {"0101", "0102", "", 4, true},
      {"0101", "0102", "--coding-style 2", 0, false},
      {"02.01", "01.02.03", "", 4, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.child1 + " " + c.options);
    const std::string db = home.file("l-" + c.child1 + c.options + ".db");
    ASSERT_EQ(RunTool(home, "ledger init " + Quote(db)).status, 0);
    WriteFile(data, file(c.child1, c.child2));
    auto o = RunTool(home, "import --ledger " + Quote(db) + " --type 120 --on-error skip --quiet --file " +
                               Quote(data) + " " + c.options);
    EXPECT_EQ(o.status, c.status) << Stderr();
    const std::string err = Stderr();
    EXPECT_EQ(err.find(hint) != std::string::npos, c.hinted) << err;
    EXPECT_EQ(err.find(hint), err.rfind(hint));
    if (c.status == 4) EXPECT_NE(err.find("\n错误（第 3 条记录）：引入部门资料错误，当前记录名称为：人事\n"), std::string::npos) << err;
  }
  EXPECT_EQ(Stderr().find("错误（第 2 条记录）：引入部门资料错误，当前记录名称为：财务\n  错误信息：\n  代码02.01 与其上级代码01 编码不一致"),
            0u);

  // A failure writing the file comes after the last record: no row.
  WriteFile(data, DepartmentsXml(3));
  ASSERT_EQ(RunTool(home, "import --ledger " + Quote(ledger) + " --type 120 --quiet --file " + Quote(data)).status, 0);
  auto o = RunTool(home, "export --ledger " + Quote(ledger) + " --type 120 --events jsonl --file " +
                             Quote(home.file("no/such/folder.xml")));
  auto lines = Lines(o.out);
  ASSERT_EQ(lines.size(), 5u) << o.out;
  EXPECT_EQ(lines[3]["event"], "Error");
  EXPECT_FALSE(lines[3].contains("row")) << lines[3].dump();
}

TEST_F(LongRun, RefusingToOverwriteNamesTheOptionOnce) {
  const std::string folder = home.file("all");
  ASSERT_EQ(RunTool(home, "export --ledger " + Quote(ledger) + " --all " + Quote(folder)).status, 0) << Stderr();
  EXPECT_EQ(RunTool(home, "export --ledger " + Quote(ledger) + " --all " + Quote(folder)).status, 1);
  const std::string hint = "提示：没有人能回答是否覆盖，已有的文件保持不变；如需覆盖，请加 --overwrite。\n";
  const std::string err = Stderr();
  ASSERT_NE(err.find(hint), std::string::npos) << err;
  EXPECT_EQ(err.find(hint), err.rfind(hint));
  EXPECT_EQ(err, "询问：文件夹 " + folder + " 中已有 16 个数据文件，是否全部覆盖？ → 否\n" + hint +
                     "已有的文件保持不变，整账套导出没有进行\n")
      << "the folder is asked about once";
}

}  // namespace
}  // namespace morvent::test
