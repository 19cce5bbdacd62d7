// The platform services the handlers stand on: creation by name, message
// boxes, the program directory, errors and progress rates.
#include <fcntl.h>
#include <pty.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include <climits>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "context/datafile.h"
#include "front/handler.h"
#include "platform/error.h"
#include "platform/msgbox.h"
#include "platform/progdir.h"
#include "platform/registry.h"
#include "tests/support/support.h"

namespace morvent {
namespace {

namespace fs = std::filesystem;

struct Widget : Object {
  explicit Widget(int id) : id(id) {}
  int id;
};
struct Gadget : Object {};

Factory MakesWidget(int id) {
  return [id] { return std::make_shared<Widget>(id); };
}

int WidgetId(const std::string& progId) { return CreateObjectAs<Widget>(progId)->id; }

std::string ExecutableDir() { return fs::canonical("/proc/self/exe").parent_path().string(); }

// Some faults show only in a process that has just started: these tests
// run themselves again alone in a new one, started by a relative name from
// the program's own folder.
constexpr const char* kAloneMarker = "MORVENT_TEST_ALONE";
bool RunningAlone() { return std::getenv(kAloneMarker) != nullptr; }

::testing::AssertionResult PassesAlone() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string filter = std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
  pid_t pid = fork();
  if (pid < 0) return ::testing::AssertionFailure() << "fork failed";
  if (pid == 0) {
    const std::string name = "./" + fs::canonical("/proc/self/exe").filename().string();
    int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    setenv(kAloneMarker, "1", 1);
    if (chdir(ExecutableDir().c_str()) == 0)
      execl("/proc/self/exe", name.c_str(), filter.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return ::testing::AssertionFailure() << "lost the child";
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "failed when run alone, status " << status;
}

TEST(Registry, CreatesByNameWithoutRegardToCase) {
  RegisterFactory("Test.CaseBlind", MakesWidget(7));
  EXPECT_EQ(WidgetId("Test.CaseBlind"), 7);
  EXPECT_EQ(WidgetId("TEST.caseblind"), 7);
}

TEST(Registry, ASecondRegistrationOfANameIsRefused) {
  RegisterFactory("Test.Twice", MakesWidget(1));
  try {
    RegisterFactory("test.TWICE", MakesWidget(2));
    FAIL() << "second registration accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), kErrKeyExists);
    EXPECT_EQ(e.Description(), "部件已注册：test.TWICE");
  }
  EXPECT_EQ(WidgetId("Test.Twice"), 1);  // the first one still answers
}

TEST(Registry, AnUnknownNameCannotBeCreated) {
  try {
    CreateObject("Test.NoSuchThing");
    FAIL() << "created an unknown name";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), kErrCannotCreate);
    EXPECT_EQ(e.Description(), "部件不能创建对象：Test.NoSuchThing");
  }
}

TEST(Registry, AFactoryThatYieldsNothingCannotCreate) {
  RegisterFactory("Test.Hollow", [] { return ObjectPtr(); });
  try {
    CreateObject("Test.Hollow");
    FAIL() << "created from an empty factory";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), kErrCannotCreate);
  }
}

TEST(Registry, CreatingAsTheWrongTypeIsATypeMismatch) {
  RegisterFactory("Test.Gadget", [] { return std::make_shared<Gadget>(); });
  try {
    CreateObjectAs<Widget>("Test.Gadget");
    FAIL() << "a gadget passed for a widget";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), kErrTypeMismatch);
    EXPECT_EQ(e.Description(), "类型不匹配");
  }
}

TEST(Registry, ScopedFactoryReplacesAndRestores) {
  RegisterFactory("Test.Swapped", MakesWidget(1));
  {
    ScopedFactory outer("Test.Swapped", MakesWidget(2));
    EXPECT_EQ(WidgetId("Test.Swapped"), 2);
    {
      ScopedFactory inner("test.swapped", MakesWidget(3));
      EXPECT_EQ(WidgetId("Test.Swapped"), 3);
    }
    EXPECT_EQ(WidgetId("Test.Swapped"), 2);
  }
  EXPECT_EQ(WidgetId("Test.Swapped"), 1);
}

TEST(Registry, ScopedFactoryOnANewNameLeavesItUncreatable) {
  {
    ScopedFactory scoped("Test.Temporary", MakesWidget(5));
    EXPECT_EQ(WidgetId("Test.Temporary"), 5);
  }
  EXPECT_THROW(CreateObject("Test.Temporary"), Error);
}

TEST(Registry, AnEmptyScopedFactoryMakesANameFail) {
  RegisterFactory("Test.Breakable", MakesWidget(1));
  {
    ScopedFactory broken("Test.Breakable", Factory());
    EXPECT_THROW(CreateObject("Test.Breakable"), Error);
  }
  EXPECT_EQ(WidgetId("Test.Breakable"), 1);
}

TEST(Registry, AReplacementMadeBeforeAnythingIsCreatedHoldsAndRestoresTheLibrarysOwn) {
  if (!RunningAlone()) {
    EXPECT_TRUE(PassesAlone());
    return;
  }
  {
    ScopedFactory fake(kWriterProgId, MakesWidget(9));
    EXPECT_EQ(WidgetId(kWriterProgId), 9);
  }
  EXPECT_NE(CreateObjectAs<DataFileWriter>(kWriterProgId), nullptr);
}

// Points standard input at /dev/null for the scope.
class NoTerminal {
 public:
  NoTerminal() : saved_(dup(STDIN_FILENO)) {
    int null = open("/dev/null", O_RDONLY);
    dup2(null, STDIN_FILENO);
    close(null);
  }
  ~NoTerminal() {
    dup2(saved_, STDIN_FILENO);
    close(saved_);
  }

 private:
  int saved_;
};

// Points standard input at a terminal on which "y" has been typed.
class TypedYes {
 public:
  TypedYes() : saved_(dup(STDIN_FILENO)) {
    if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) return;
    dup2(slave_, STDIN_FILENO);
    [[maybe_unused]] ssize_t n = write(master_, "y\n", 2);
  }
  ~TypedYes() {
    dup2(saved_, STDIN_FILENO);
    close(saved_);
    close(slave_);
    close(master_);
  }

 private:
  int saved_, master_ = -1, slave_ = -1;
};

// Without boxes of the client's, the library asks nobody, not even a user
// at the terminal: the answer is No, and stderr says why.
TEST(MessageBoxes, WithoutBoxesTheQuestionIsAnsweredNoAndTheTerminalIsLeftAlone) {
  auto previous = SetMessageBoxes(nullptr);
  for (bool terminal : {false, true}) {
    SCOPED_TRACE(terminal);
    bool answer = true;
    std::string err;
    {
      std::optional<NoTerminal> none;
      std::optional<TypedYes> yes;
      if (terminal)
        yes.emplace();
      else
        none.emplace();
      ASSERT_EQ(isatty(STDIN_FILENO), terminal ? 1 : 0);
      ::testing::internal::CaptureStderr();
      answer = CurrentMessageBoxes()->Question("D:/out.xml文件已存在，是否覆盖？");
      err = ::testing::internal::GetCapturedStderr();
    }
    EXPECT_FALSE(answer);
    EXPECT_EQ(err, "[Morvent] D:/out.xml文件已存在，是否覆盖？ → 否：程序没有设置消息框（SetMessageBoxes），无人回答\n");
  }
  SetMessageBoxes(previous);
}

TEST(MessageBoxes, TheDefaultWarningBeepsAndShowsTheText) {
  auto previous = SetMessageBoxes(nullptr);
  ::testing::internal::CaptureStderr();
  CurrentMessageBoxes()->Warning("Morvent接口定义文件 SchemaX.xml 不存在！");
  const std::string err = ::testing::internal::GetCapturedStderr();
  SetMessageBoxes(previous);
  EXPECT_NE(err.find('\a'), std::string::npos);
  EXPECT_NE(err.find("[Morvent] Morvent接口定义文件 SchemaX.xml 不存在！"), std::string::npos) << err;
}

TEST(MessageBoxes, InstalledBoxesAnswerUntilReplaced) {
  auto mine = std::make_shared<test::RecordingBoxes>();
  mine->answer = true;
  auto previous = SetMessageBoxes(mine);
  EXPECT_TRUE(CurrentMessageBoxes()->Question("q"));
  CurrentMessageBoxes()->Warning("w");
  EXPECT_EQ(SetMessageBoxes(previous), mine);
  EXPECT_EQ(mine->questions, std::vector<std::string>{"q"});
  EXPECT_EQ(mine->warnings, std::vector<std::string>{"w"});
}

// Clears MORVENT_HOME (or sets it) for the scope.
class HomeVariable {
 public:
  explicit HomeVariable(const char* value) {
    if (const char* h = std::getenv("MORVENT_HOME")) saved_ = h, had_ = true;
    if (value)
      setenv("MORVENT_HOME", value, 1);
    else
      unsetenv("MORVENT_HOME");
  }
  ~HomeVariable() {
    if (had_)
      setenv("MORVENT_HOME", saved_.c_str(), 1);
    else
      unsetenv("MORVENT_HOME");
  }

 private:
  std::string saved_;
  bool had_ = false;
};

TEST(ProgramDirectory, HonoursTheHomeVariable) {
  HomeVariable home("/srv/morvent-home");
  EXPECT_EQ(ProgramDirectory(), "/srv/morvent-home");
}

TEST(ProgramDirectory, OtherwiseIsTheExecutablesDirectory) {
  HomeVariable unset(nullptr);
  EXPECT_EQ(ProgramDirectory(), ExecutableDir());
  HomeVariable empty("");
  EXPECT_EQ(ProgramDirectory(), ExecutableDir());
}

TEST(ProgramDirectory, DoesNotFollowTheWorkingDirectory) {
  HomeVariable unset(nullptr);
  test::TempDir elsewhere;
  // A decoy with the executable's name where a relative start name would point.
  test::WriteFile(elsewhere.file(fs::canonical("/proc/self/exe").filename().string()), "");
  const fs::path before = fs::current_path();
  fs::current_path(elsewhere.path());
  const std::string dir = ProgramDirectory();
  fs::current_path(before);
  EXPECT_EQ(dir, ExecutableDir());

  // The trap only springs for a program started by a relative name.
  if (!RunningAlone()) EXPECT_TRUE(PassesAlone());
}

TEST(Paths, JoinAndExistence) {
  EXPECT_EQ(JoinPath("/a", "b.xml"), "/a/b.xml");
  EXPECT_EQ(JoinPath("/a/", "b.xml"), "/a/b.xml");
  EXPECT_EQ(JoinPath("", "b.xml"), "b.xml");

  test::TempDir dir;
  test::WriteFile(dir.file("f.xml"), "x");
  fs::create_directory(dir.file("sub"));
  EXPECT_TRUE(FileExist(dir.file("f.xml")));
  EXPECT_FALSE(FileExist(dir.file("sub")));  // a folder is no file
  EXPECT_FALSE(FileExist(dir.file("missing.xml")));
  EXPECT_FALSE(FileExist(""));
}

// An installed tool lives in PREFIX/bin with its schemas in
// PREFIX/share/morvent/schemas; a schema beside the program still wins.
TEST(SchemaFilePath, BesideTheProgramThenTheInstalledTree) {
  struct Case {
    const char* name;
    bool beside, installed;
    const char* want;  // relative to the prefix
  };
  const Case cases[] = {
      {"only beside", true, false, "bin/S.xml"},
      {"both", true, true, "bin/S.xml"},
      {"only installed", false, true, "bin/../share/morvent/schemas/S.xml"},
      {"nowhere", false, false, "bin/S.xml"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir prefix;
    fs::create_directories(prefix.file("bin"));
    fs::create_directories(prefix.file("share/morvent/schemas"));
    if (c.beside) test::WriteFile(prefix.file("bin/S.xml"), "x");
    if (c.installed) test::WriteFile(prefix.file("share/morvent/schemas/S.xml"), "x");
    EXPECT_EQ(SchemaFilePath(prefix.file("bin"), "S.xml"), prefix.file(c.want));
  }

  // A MORVENT_HOME holding schema files is the one place, found or not; one
  // without any serves the log only.
  test::TempDir home;
  HomeVariable set(home.path().c_str());
  EXPECT_EQ(SchemaFilePath("SchemaDepartment.xml"), JoinPath(ExecutableDir(), "SchemaDepartment.xml"));
  test::WriteFile(home.file("SchemaCurrency.xml"), "x");
  EXPECT_EQ(SchemaFilePath("SchemaDepartment.xml"), JoinPath(home.path(), "SchemaDepartment.xml"));
  HomeVariable unset(nullptr);
  EXPECT_EQ(SchemaFilePath("SchemaDepartment.xml"), JoinPath(ExecutableDir(), "SchemaDepartment.xml"));
}

TEST(Errors, AnAbsentObjectIsReportedNotDereferenced) {
  std::shared_ptr<Widget> none;
  try {
    Must(none);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), kErrObjectNotSet);
    EXPECT_EQ(e.Description(), "对象变量未设置");
  }
  auto some = std::make_shared<Widget>(4);
  EXPECT_EQ(Must(some).id, 4);
}

TEST(Errors, ForeignExceptionsBecomeErrors) {
  Error own(kErrSubscript, "Morvent", "下标越界");
  Error fromOwn = ToError(own);
  EXPECT_EQ(fromOwn.Number(), kErrSubscript);
  EXPECT_EQ(fromOwn.Description(), "下标越界");

  Error fromMemory = ToError(std::bad_alloc());
  EXPECT_EQ(fromMemory.Number(), 7);
  EXPECT_EQ(fromMemory.Description(), "内存不足");

  Error fromOther = ToError(std::runtime_error("disk on fire"));
  EXPECT_EQ(fromOther.Description(), "disk on fire");

  Error withContext = own.WithContext("第3行：");
  EXPECT_EQ(withContext.Description(), "第3行：下标越界");
  EXPECT_EQ(withContext.Number(), kErrSubscript);
  EXPECT_EQ(withContext.Source(), "Morvent");
}

TEST(Rates, ExportMultipliesFirstImportDividesFirst) {
  EXPECT_EQ(ExportRate(29, 50), 58);
  EXPECT_EQ(ImportRate(29, 50), 57);
  EXPECT_EQ(ExportRate(1, 3), 33);
  EXPECT_EQ(ImportRate(2, 3), 66);
  EXPECT_EQ(ExportRate(50, 50), 100);
  EXPECT_EQ(ImportRate(50, 50), 100);
  EXPECT_EQ(ImportRate(1, 1), 100);
  EXPECT_EQ(ImportRate(29, 100), 28);  // 0.29 × 100 falls just short of 29
  for (int i = 1; i <= 100; ++i) EXPECT_EQ(ExportRate(i, 100), i);
}

}  // namespace
}  // namespace morvent
