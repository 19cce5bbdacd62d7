// The log must never lose what it holds: a log it cannot read is left
// alone, writers at the same time all get in, and a failed write leaves no
// debris and no half-written file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "front/exchange_log.h"
#include "platform/error.h"
#include "tests/log/log_reader.h"
#include "tests/support/support.h"

namespace morvent {
namespace {

namespace fs = std::filesystem;
using test::ParseLog;
using test::ProgramHome;
using test::ReadFile;
using test::WriteFile;

class LogSafety : public ::testing::Test {
 protected:
  std::string LogPath() const { return home.file(kLogFileName); }
  // The description WriteErrLog raised, or "" when it did not fail.
  std::string FailureOf(bool bExport, const std::string& message) {
    try {
      WriteErrLog(bExport, message);
    } catch (const Error& e) {
      EXPECT_EQ(e.Number(), kErrFile);
      return e.Description();
    }
    return "";
  }
  std::set<std::string> FilesInHome() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(home.path()))
      if (e.path().extension() != ".xml" || e.path().filename() == kLogFileName)
        names.insert(e.path().filename().string());
    return names;
  }
  ProgramHome home;
};

TEST_F(LogSafety, ALogThatIsNotOursIsNeverOverwritten) {
  const std::vector<std::pair<const char*, std::string>> damaged = {
      {"not XML", "just some notes\n"},
      {"empty file", ""},
      {"declaration missing", "<Morvent><ErrLog Direct=\"x\" Time=\"t\" ErrMsg=\"m\"/></Morvent>"},
      {"other root", "<?xml version=\"1.0\" ?>\n<Journal/>"},
      {"comment before root", "<?xml version=\"1.0\" ?>\n<!-- kept -->\n<Morvent/>"},
      {"namespaced root", "<?xml version=\"1.0\" ?>\n<Morvent xmlns=\"urn:x\"/>"},
      {"document type", "<?xml version=\"1.0\" ?>\n<!DOCTYPE Morvent [<!ENTITY e \"x\">]>\n<Morvent/>"},
      {"external entity",
       "<?xml version=\"1.0\" ?>\n<!DOCTYPE Morvent SYSTEM \"http://127.0.0.1:9/x.dtd\">\n<Morvent/>"},
      {"root with an attribute", "<?xml version=\"1.0\" ?>\n<Morvent a=\"1\">\n</Morvent>\n"},
      {"cut inside the declaration", "<?xml version=\"1.0\" enc"},
      {"cut inside the root tag", "<?xml version=\"1.0\" ?>\n<Morv"},
      {"UTF-16", std::string("\xFF\xFE<\0?\0x\0m\0l\0 \0?\0>\0", 16)},
      {"encoding not ASCII-safe", "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<Morvent>\n</Morvent>\n"},
      {"text after the root", "<?xml version=\"1.0\" ?>\n<Morvent>\n</Morvent>\nnotes"},
      {"comment after the root", "<?xml version=\"1.0\" ?>\n<Morvent></Morvent><!-- x -->"},
      {"notes after the last entry",
       "<?xml version=\"1.0\" ?>\n<Morvent>\n  <ErrLog Direct=\"x\" Time=\"t\" ErrMsg=\"m\"/>\nnotes"},
      {"cut after another element", "<?xml version=\"1.0\" ?>\n<Morvent>\n  <Note/>\n  <ErrLo"},
      {"cut after a broken entry", "<?xml version=\"1.0\" ?>\n<Morvent>\n  <ErrLog Direct=x/>\n  <ErrLo"},
  };
  const std::string expected = "交换日志 " + LogPath() + " 无法载入或格式不符，原文件保留未改";
  for (const auto& [what, content] : damaged) {
    SCOPED_TRACE(what);
    WriteFile(LogPath(), content);
    EXPECT_EQ(FailureOf(true, "m"), expected);
    EXPECT_EQ(ReadFile(LogPath()), content);
  }
  EXPECT_EQ(FilesInHome(), (std::set<std::string>{kLogFileName, std::string(kLogFileName) + ".lock"}));
}

TEST_F(LogSafety, AMissingDirectoryIsReportedWithThePath) {
  const std::string dir = home.file("no-such-folder");
  setenv("MORVENT_HOME", dir.c_str(), 1);  // ProgramHome restores it
  const std::string path = dir + "/" + kLogFileName;
  EXPECT_EQ(FailureOf(false, "m"), "无法写入交换日志 " + path + "：" + std::strerror(ENOENT));
  EXPECT_FALSE(fs::exists(dir));
}

TEST_F(LogSafety, AFolderInThePlaceOfTheLogIsLeftAloneAndNothingIsLeftBehind) {
  fs::create_directory(LogPath());
  WriteFile(LogPath() + "/inside.txt", "keep");
  EXPECT_EQ(FailureOf(true, "m"), "无法写入交换日志 " + LogPath() + "：" + std::strerror(EISDIR));
  EXPECT_EQ(ReadFile(LogPath() + "/inside.txt"), "keep");
  EXPECT_EQ(FilesInHome(), (std::set<std::string>{kLogFileName, std::string(kLogFileName) + ".lock"}));
}

// Appending through a link would write into whatever file it names.
TEST_F(LogSafety, ALinkInThePlaceOfTheLogIsNotFollowed) {
  const std::string target = home.file("elsewhere.txt");
  const std::string log = "<?xml version=\"1.0\" ?>\n<Morvent>\n</Morvent>\n";
  WriteFile(target, log);
  fs::create_symlink(target, LogPath());
  EXPECT_EQ(FailureOf(true, "m"), "无法写入交换日志 " + LogPath() + "：" + std::strerror(ELOOP));
  EXPECT_EQ(ReadFile(target), log);
  EXPECT_TRUE(fs::is_symlink(LogPath()));
}

TEST_F(LogSafety, ASuccessfulWriteLeavesOnlyTheLogAndItsLock) {
  for (int i = 0; i < 3; ++i) WriteErrLog(i % 2 == 0, "m" + std::to_string(i));
  EXPECT_EQ(FilesInHome(), (std::set<std::string>{kLogFileName, std::string(kLogFileName) + ".lock"}));
  EXPECT_EQ(ParseLog(LogPath()).entries.size(), 3u);
}

std::multiset<std::string> Messages(const std::string& path) {
  std::multiset<std::string> out;
  for (const auto& e : ParseLog(path).entries) out.insert(e.Attr("ErrMsg"));
  return out;
}

TEST_F(LogSafety, ThreadsWritingAtOnceLoseNoEntry) {
  constexpr int kThreads = 4, kEach = 50;
  std::vector<std::thread> threads;
  std::mutex failuresMutex;
  std::vector<std::string> failures;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t, &failures, &failuresMutex] {
      for (int i = 0; i < kEach; ++i) {
        try {
          WriteErrLog(t % 2 == 0, "线程" + std::to_string(t) + "-" + std::to_string(i));
        } catch (const std::exception& e) {
          std::lock_guard lock(failuresMutex);
          failures.push_back(e.what());
        }
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_TRUE(failures.empty()) << failures.front();

  std::multiset<std::string> expected;
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kEach; ++i) expected.insert("线程" + std::to_string(t) + "-" + std::to_string(i));
  EXPECT_EQ(Messages(LogPath()), expected);
}

TEST_F(LogSafety, ProcessesWritingAtOnceLoseNoEntry) {
  constexpr int kProcesses = 4, kEach = 50;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failed = 0;
      for (int i = 0; i < kEach; ++i) {
        try {
          WriteErrLog(true, "进程" + std::to_string(p) + "-" + std::to_string(i));
        } catch (...) {
          ++failed;
        }
      }
      _exit(failed == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a child failed to write";
  }
  std::multiset<std::string> expected;
  for (int p = 0; p < kProcesses; ++p)
    for (int i = 0; i < kEach; ++i) expected.insert("进程" + std::to_string(p) + "-" + std::to_string(i));
  EXPECT_EQ(Messages(LogPath()), expected);
}

class Diagnostics : public ::testing::Test {
 protected:
  void TearDown() override { SetDiagnosticSink(nullptr); }
};

TEST_F(Diagnostics, DefaultPrintsOnStandardError) {
  SetDiagnosticSink(nullptr);
  ::testing::internal::CaptureStderr();
  ReportDiagnostic("写交换日志失败：磁盘已满");
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("写交换日志失败：磁盘已满"), std::string::npos) << err;
}

TEST_F(Diagnostics, AnInstalledSinkReceivesEveryReportAndCanBeRestored) {
  std::vector<std::string> first, second;
  EXPECT_FALSE(SetDiagnosticSink([&first](const std::string& m) { first.push_back(m); }));
  ReportDiagnostic("a");
  DiagnosticSink previous = SetDiagnosticSink([&second](const std::string& m) { second.push_back(m); });
  ReportDiagnostic("b");
  SetDiagnosticSink(previous);
  ReportDiagnostic("c");
  EXPECT_EQ(first, (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(second, (std::vector<std::string>{"b"}));
}

TEST_F(Diagnostics, ReportsFromManyThreadsNeverOverlap) {
  // The sink itself takes no lock: overlapping calls would corrupt it.
  std::vector<std::string> seen;
  SetDiagnosticSink([&seen](const std::string& m) { seen.push_back(m); });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 500; ++i) ReportDiagnostic(std::to_string(t) + ":" + std::to_string(i));
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(seen.size(), 2000u);
  EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()).size(), 2000u);
}

}  // namespace
}  // namespace morvent
