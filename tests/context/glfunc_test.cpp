// The routines around a handler's data file: the checks before an export,
// and how the writer's and reader's results come back.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include <string>
#include <vector>

#include "context/datafile.h"
#include "context/glfunc.h"
#include "context/props.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "tests/support/support.h"

namespace morvent {
namespace {

using test::ProgramHome;
using test::ReadFile;
using test::WriteFile;

class ExportChecks : public ::testing::Test {
 protected:
  ProgramHome home;
  std::string target = home.file("out.xml");
};

TEST_F(ExportChecks, SchemaPresentAndNoTargetPassesSilently) {
  EXPECT_TRUE(CheckExportFiles("SchemaCurrency.xml", target));
  EXPECT_TRUE(home.boxes().warnings.empty());
  EXPECT_TRUE(home.boxes().questions.empty());
}

TEST_F(ExportChecks, AMissingSchemaIsNamedByItsBareNameAndNothingIsAsked) {
  WriteFile(target, "old");
  home.boxes().answer = true;
  EXPECT_FALSE(CheckExportFiles("SchemaX.xml", target));
  EXPECT_EQ(home.boxes().warnings, std::vector<std::string>{"Morvent接口定义文件 SchemaX.xml 不存在！已在环境变量 "
                                                            "MORVENT_HOME 指定的 " + home.path() + " 中查找。"});
  EXPECT_TRUE(home.boxes().questions.empty());
  EXPECT_EQ(ReadFile(target), "old");
}

TEST_F(ExportChecks, ARemovedShippedSchemaIsMissingToo) {
  home.RemoveSchema("SchemaCurrency.xml");
  EXPECT_FALSE(CheckExportFiles("SchemaCurrency.xml", target));
  EXPECT_EQ(home.boxes().warnings, std::vector<std::string>{"Morvent接口定义文件 SchemaCurrency.xml 不存在！已在环境变量 "
                                                            "MORVENT_HOME 指定的 " + home.path() + " 中查找。"});
}

TEST_F(ExportChecks, AnExistingTargetIsOverwrittenOnlyWithConsent) {
  WriteFile(target, "old");
  home.boxes().answer = false;
  EXPECT_FALSE(CheckExportFiles("SchemaCurrency.xml", target));
  home.boxes().answer = true;
  EXPECT_TRUE(CheckExportFiles("SchemaCurrency.xml", target));
  const std::string question = target + "文件已存在，是否覆盖？";
  EXPECT_EQ(home.boxes().questions, (std::vector<std::string>{question, question}));
  EXPECT_TRUE(home.boxes().warnings.empty());
  EXPECT_EQ(ReadFile(target), "old");  // the check never touches the target
}

// Replacing a FIFO, device, socket or directory, or a file of the ledger
// being exported, would lose what is there; such targets are refused with a
// warning and no question, whatever their spelling.
TEST_F(ExportChecks, SpecialFilesAndTheLedgerAreNoTargets) {
  const std::string ledger = home.file("books.db");
  WriteFile(ledger, "ledger");
  WriteFile(ledger + "-journal", "journal");
  const std::string savedProps = Context().gPropsString;
  Context().gPropsString = "Data Source=" + ledger + ";AcctType=QY";

  const std::string fifo = home.file("pipe.xml"), sock = home.file("s.xml"), folder = home.file("folder.xml");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, sock.c_str(), sizeof addr.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(home.file("sub").c_str(), 0700), 0);
  const std::string toFifo = home.file("to-pipe.xml"), toLedger = home.file("to-books.xml"), hard = home.file("hard.db");
  ASSERT_EQ(::symlink(fifo.c_str(), toFifo.c_str()), 0);
  ASSERT_EQ(::symlink("books.db", toLedger.c_str()), 0);
  ASSERT_EQ(::link(ledger.c_str(), hard.c_str()), 0);

  const std::pair<std::string, std::string> cases[] = {
      {fifo, "不是普通文件（命名管道）"},
      {sock, "不是普通文件（套接字）"},
      {folder, "不是普通文件（目录）"},
      {toFifo, "不是普通文件（命名管道）"},
      {ledger, "是当前账套的文件"},
      {home.file("sub/../books.db"), "是当前账套的文件"},
      {home.path() + "/./books.db", "是当前账套的文件"},
      {toLedger, "是当前账套的文件"},
      {hard, "是当前账套的文件"},
      {ledger + "-journal", "是当前账套的文件"},
      {ledger + "-wal", "是当前账套的文件"},  // absent now, the ledger's own the moment it opens
      {home.file("sub/../books.db-shm"), "是当前账套的文件"},
  };
  home.boxes().answer = true;
  for (const auto& [target, problem] : cases) {
    home.boxes().warnings.clear();
    EXPECT_FALSE(CheckExportFiles("SchemaCurrency.xml", target)) << target;
    EXPECT_EQ(home.boxes().warnings, std::vector<std::string>{target + " " + problem + "，不能用作数据文件！"});
  }
  EXPECT_TRUE(home.boxes().questions.empty());
  EXPECT_EQ(ReadFile(ledger), "ledger");

  // A link to an ordinary file is an ordinary target.
  const std::string plain = home.file("plain.xml"), toPlain = home.file("to-plain.xml");
  WriteFile(plain, "old");
  ASSERT_EQ(::symlink(plain.c_str(), toPlain.c_str()), 0);
  EXPECT_TRUE(CheckExportFiles("SchemaCurrency.xml", toPlain));
  EXPECT_EQ(home.boxes().questions, std::vector<std::string>{toPlain + "文件已存在，是否覆盖？"});
  ::close(fd);
  Context().gPropsString = savedProps;
}

TEST_F(ExportChecks, SchemaPathIsInTheProgramDirectory) {
  EXPECT_EQ(SchemaPath("SchemaAccount.xml"), home.path() + "/SchemaAccount.xml");
}

TEST_F(ExportChecks, ShowWarningGoesToTheBoxesUnchanged) {
  ShowWarning("第一行\r第二行");
  EXPECT_EQ(home.boxes().warnings, std::vector<std::string>{"第一行\r第二行"});
}

// Stand-ins for the data-file components that record what they were given.
struct Call {
  std::string dataFile, schemaFile, elementName, errorTextIn;
  RecordCollectionPtr collection;
};

struct FakeWriter : DataFileWriter {
  explicit FakeWriter(std::vector<Call>& calls) : calls(calls) {}
  void OutputXML(RecordCollectionPtr& collection, const std::string& dataFile, const std::string& schemaFile,
                 const std::string& elementName, std::string& errorText) override {
    calls.push_back({dataFile, schemaFile, elementName, errorText, collection});
    errorText = "ignored by the caller";
  }
  std::vector<Call>& calls;
};

struct FakeReader : DataFileReader {
  FakeReader(std::vector<Call>& calls, std::string error) : calls(calls), error(std::move(error)) {}
  void InputXML(RecordCollectionPtr& collection, const std::string& dataFile, const std::string& schemaFile,
                const std::string& elementName, std::string& errorText) override {
    calls.push_back({dataFile, schemaFile, elementName, errorText, collection});
    // Hands back a collection of its own, as the reader may.
    auto filled = std::make_shared<RecordCollection>();
    auto r = NewRecord();
    r->SetValue("Number", "1");
    r->SetFileRow(1);
    filled->Add(r);
    collection = filled;
    errorText = error;
  }
  std::vector<Call>& calls;
  std::string error;
};

class DataFileRoutines : public ExportChecks {
 protected:
  // The library's own components register once, before any is swapped.
  void SetUp() override { EnsureComponentsRegistered(); }
  std::vector<Call> calls;
};

TEST_F(DataFileRoutines, WriteHandsTheArgumentsOverInOrder) {
  ScopedFactory writer(kWriterProgId, [this] { return std::make_shared<FakeWriter>(calls); });
  auto collection = std::make_shared<RecordCollection>();
  std::string errorText;
  WriteDataFile(collection, target, SchemaPath("SchemaCurrency.xml"), "Currency", errorText);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].dataFile, target);
  EXPECT_EQ(calls[0].schemaFile, home.path() + "/SchemaCurrency.xml");
  EXPECT_EQ(calls[0].elementName, "Currency");
  EXPECT_EQ(calls[0].errorTextIn, "");
  EXPECT_EQ(calls[0].collection, collection);
  EXPECT_TRUE(home.boxes().warnings.empty());
}

TEST_F(DataFileRoutines, AWriterThatCannotBeCreatedFailsTheCall) {
  ScopedFactory writer(kWriterProgId, Factory());
  auto collection = std::make_shared<RecordCollection>();
  std::string errorText;
  try {
    WriteDataFile(collection, target, SchemaPath("SchemaCurrency.xml"), "Currency", errorText);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), kErrCannotCreate);
  }
}

TEST_F(DataFileRoutines, ReadTakesBackTheCollectionTheReaderLeft) {
  ScopedFactory reader(kReaderProgId, [this] { return std::make_shared<FakeReader>(calls, ""); });
  auto collection = std::make_shared<RecordCollection>();
  auto given = collection;
  std::string errorText;
  EXPECT_TRUE(ReadDataFile(collection, "in.xml", SchemaPath("SchemaCurrency.xml"), "Currency", errorText));
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].collection, given);
  EXPECT_EQ(calls[0].dataFile, "in.xml");
  EXPECT_EQ(calls[0].elementName, "Currency");
  ASSERT_NE(collection, given);
  ASSERT_EQ(collection->UBound(), 1);
  EXPECT_EQ(collection->Item(1)->FileRow(), 1);
  EXPECT_TRUE(home.boxes().warnings.empty());
}

TEST_F(DataFileRoutines, AReaderErrorIsShownOnceUnchangedAndAnswersFalse) {
  const std::string error = "第3行：元素 Number 缺失";
  ScopedFactory reader(kReaderProgId, [this, error] { return std::make_shared<FakeReader>(calls, error); });
  auto collection = std::make_shared<RecordCollection>();
  std::string errorText;
  EXPECT_FALSE(ReadDataFile(collection, "in.xml", SchemaPath("SchemaCurrency.xml"), "Currency", errorText));
  EXPECT_EQ(errorText, error);
  EXPECT_EQ(home.boxes().warnings, std::vector<std::string>{error});
}

}  // namespace
}  // namespace morvent
