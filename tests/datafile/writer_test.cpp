// What the writer refuses, and how it replaces a file.
#include <gtest/gtest.h>
#include <libxml/xmlwriter.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "context/props.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "tests/datafile/helpers.h"

namespace morvent::test {
namespace {

class Writer : public ::testing::Test {
 protected:
  // Writes and answers the error description ("" when it succeeded).
  std::string Write(RecordCollectionPtr records, const std::string& element = "Customer") {
    try {
      WriteWithComponent(std::move(records), target, element, SourceSchemaDir());
      return "";
    } catch (const Error& e) {
      EXPECT_EQ(e.Source(), "XMLPellam.Write");
      return e.Description();
    }
  }
  std::string Refused(const std::string& what) const { return "写数据文件 " + target + " 出错：" + what; }
  std::vector<std::string> FolderEntries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir dir;
  const std::string target = dir.file("out.xml");
};

TEST_F(Writer, RefusesCharactersXmlCannotHoldNamingRecordAndKey) {
  auto ok = Rec({{"Name", "fine"}});
  EXPECT_EQ(Write(List({ok, ok, Rec({{"Number", "1"}, {"Name", std::string("a\x01z")}})})),
            Refused("第 3 条记录的键 Name 含有 XML 不能保存的字符 U+0001"));
  EXPECT_EQ(Write(List({Rec({{"SettleCurrency", Rec({{"Name", std::string("\x1B[0m")}})}})})),
            Refused("第 1 条记录的键 SettleCurrency/Name 含有 XML 不能保存的字符 U+001B"));
  EXPECT_EQ(Write(List({Rec({{"ItemClass", List({ok, Rec({{"Number", std::string("\xEF\xBF\xBF")}})})}})}), "Account"),
            Refused("第 1 条记录的键 ItemClass/Record[2]/Number 含有 XML 不能保存的字符 U+FFFF"));
  EXPECT_EQ(Write(List({Rec({{"Name", std::string("nul\0byte", 8)}})})),
            Refused("第 1 条记录的键 Name 含有 XML 不能保存的字符 U+0000"));
}

TEST_F(Writer, RefusesInvalidUtf8) {
  const std::string bad[] = {"\xB9\xFA", "\xC0\xAF", "\xED\xA0\x80", "\xE4\xB8", "\xF8\x88\x80\x80\x80"};
  for (const auto& text : bad)
    EXPECT_EQ(Write(List({Rec({{"Phone", text}})})), Refused("第 1 条记录的键 Phone 的文本不是有效的 UTF-8"));
}

TEST_F(Writer, RefusesWhatCannotBeAnElement) {
  EXPECT_EQ(Write(List({Rec({{"Bad Key", "x"}})})), Refused("第 1 条记录的键 Bad Key 不能用作 XML 元素名"));
  EXPECT_EQ(Write(List({Rec({{"Name", "x"}, {"", "x"}})})), Refused("第 1 条记录的键  不能用作 XML 元素名"));
  EXPECT_EQ(Write(List({}), "Customer List"), Refused("元素名 Customer List 不能用作 XML 元素名"));
  EXPECT_EQ(Write(List({Rec({{"Name", Variant::Nothing()}})})),
            Refused("第 1 条记录的键 Name 的值是既非记录也非记录集合的对象"));
  auto loop = Rec({{"Name", "a"}});
  loop->SetValue("Self", loop);
  std::string path = "Self";
  for (int i = 0; i < 64; ++i) path += "/Self";
  EXPECT_EQ(Write(List({loop})), Refused("第 1 条记录的键 " + path + " 嵌套超过 64 层（记录是否包含了自身？）"));
  loop->SetValue("Self", Variant());  // break the cycle for the leak checker
  try {
    WriteWithComponent(nullptr, target, "Customer", SourceSchemaDir());
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Description(), "对象变量未设置");
  }
}

TEST_F(Writer, FailedWriteLeavesTheOldFileAndNoTemporary) {
  WriteFile(target, "old content");
  RecordCollectionPtr many = std::make_shared<RecordCollection>();
  for (int i = 0; i < 5000; ++i) many->Add(Rec({{"Number", std::to_string(i)}, {"Name", std::string(200, 'x')}}));
  many->Add(Rec({{"Name", std::string("\x07")}}));  // fails after a megabyte has gone to disk
  EXPECT_EQ(Write(many), Refused("第 5001 条记录的键 Name 含有 XML 不能保存的字符 U+0007"));
  EXPECT_EQ(ReadFile(target), "old content");
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"out.xml"});

  std::filesystem::remove(target);
  EXPECT_NE(Write(many), "");
  EXPECT_TRUE(FolderEntries().empty());
}

TEST_F(Writer, ReplacesAnExistingFileKeepingItsPermissions) {
  WriteFile(target, "old content");
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  ASSERT_EQ(Write(List({Rec({{"Name", "新"}})})), "");
  EXPECT_NE(ReadFile(target).find("<Name>新</Name>"), std::string::npos);
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"out.xml"});
}

TEST_F(Writer, ALinkKeepsPointingAtTheReplacedFile) {
  ASSERT_EQ(::mkdir(dir.file("real").c_str(), 0700), 0);
  const std::string real = dir.file("real/data.xml");
  WriteFile(real, "old content");
  ASSERT_EQ(::symlink("real/data.xml", target.c_str()), 0);
  ASSERT_EQ(Write(List({Rec({{"Name", "新"}})})), "");
  struct stat st {};
  ASSERT_EQ(::lstat(target.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_NE(ReadFile(real).find("<Name>新</Name>"), std::string::npos);
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"out.xml", "real"}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("real")), {}), 1);
}

// The writer keeps to this even when no check ran before it.
TEST_F(Writer, RefusesSpecialFilesAndTheLedger) {
  ASSERT_EQ(::mkfifo(target.c_str(), 0600), 0);
  EXPECT_EQ(Write(List({})), Refused("目标不是普通文件（命名管道）"));
  struct stat st {};
  ASSERT_EQ(::lstat(target.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));

  const std::string ledger = dir.file("books.db");
  WriteFile(ledger, "ledger");
  const std::string savedProps = Context().gPropsString;
  Context().gPropsString = "Data Source=" + ledger;
  try {
    WriteWithComponent(List({}), dir.path() + "/./books.db", "Customer", SourceSchemaDir());
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Description(), "写数据文件 " + dir.path() + "/./books.db 出错：目标是当前账套的文件");
  }
  Context().gPropsString = savedProps;
  EXPECT_EQ(ReadFile(ledger), "ledger");
}

// A run killed between naming its temporary file and renaming it leaves
// the file behind; the next write into the folder removes it once its
// process is gone.
TEST_F(Writer, TemporariesOfDeadRunsAreRemoved) {
  pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_GT(child, 0);
  ::waitpid(child, nullptr, 0);
  const std::string dead = ".other.xml.morvent-" + std::to_string(child);
  const std::string alive = ".other.xml.morvent-" + std::to_string(::getpid()) + "-7.tmp";
  WriteFile(dir.file(dead + "-0.tmp"), "left by a killed run");
  // A library's own temporary beside ours, and a folder of gathered parts.
  WriteFile(dir.file(dead + "-1.tmp.zsz4pp"), "left by a killed run");
  std::filesystem::create_directory(dir.file(".book.xlsx.morvent-" + std::to_string(child) + "-2.tmp"));
  WriteFile(dir.file(".book.xlsx.morvent-" + std::to_string(child) + "-2.tmp/Customer.xlsx"), "part");
  WriteFile(dir.file(alive), "being written");
  // Not names of ours: kept whatever their process.
  const std::vector<std::string> others = {"keep.tmp", dead.substr(1) + "-3.tmp", dead + "-4.tmpx", dead + "-x.tmp"};
  for (const auto& other : others) WriteFile(dir.file(other), "not ours");
  ASSERT_EQ(Write(List({})), "");
  auto names = FolderEntries();
  std::sort(names.begin(), names.end());
  std::vector<std::string> kept = others;
  kept.insert(kept.end(), {alive, "out.xml"});
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(names, kept);
}

TEST_F(Writer, ARunKilledMidwayLeavesNothingBehind) {
  WriteFile(target, "old content");
  RecordCollectionPtr many = std::make_shared<RecordCollection>();
  for (int i = 0; i < 200000; ++i) many->Add(Rec({{"Number", std::to_string(i)}, {"Name", std::string(100, 'x')}}));
  pid_t child = ::fork();
  if (child == 0) {
    Write(many);
    ::_exit(0);
  }
  ASSERT_GT(child, 0);
  ::usleep(100000);  // well into the write
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"out.xml"});
  EXPECT_EQ(ReadFile(target), "old content");
}

TEST_F(Writer, MissingFolderIsReported) {
  std::string missing = dir.file("no/such/dir/out.xml");
  try {
    WriteWithComponent(List({}), missing, "Customer", SourceSchemaDir());
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), kErrDataFile);
    EXPECT_EQ(e.Description(),
              "写数据文件 " + missing + " 出错：无法在 " + dir.file("no/such/dir") + " 中建立临时文件：No such file or directory");
  }
}

TEST_F(Writer, ErrorTextIsFilledAsWellAsRaised) {
  EnsureComponentsRegistered();
  auto writer = CreateObjectAs<DataFileWriter>(kWriterProgId);
  RecordCollectionPtr records = List({Rec({{"Name", std::string("\x02")}})});
  std::string errorText;
  EXPECT_THROW(writer->OutputXML(records, target, "", "Customer", errorText), Error);
  EXPECT_EQ(errorText, Refused("第 1 条记录的键 Name 含有 XML 不能保存的字符 U+0002"));
}

// A stream ends as a whole write of the same records does, file or error,
// and touches the target only at Close; dropped, it leaves the target be.
TEST_F(Writer, AStreamEndsAsAWholeWrite) {
  EnsureComponentsRegistered();
  auto writer = CreateObjectAs<DataFileWriter>(kWriterProgId);
  auto ok = Rec({{"Number", "1"}, {"Name", "甲\r"}, {"Note", Variant::Null()}, {"Group", Rec({{"Name", "乙"}})}});
  auto bad = Rec({{"Name", std::string("\x07")}});
  struct Case {
    const char* element;
    std::vector<DataRecordPtr> records;
    bool fifo;  // a target the stream cannot open at the start
    std::string error;
  };
  const Case cases[] = {{"Department", {ok, ok}, false, ""},
                        {"Department", {ok, bad, ok}, false, Refused("第 2 条记录的键 Name 含有 XML 不能保存的字符 U+0007")},
                        {"Bad Element", {ok}, false, Refused("元素名 Bad Element 不能用作 XML 元素名")},
                        {"Department", {ok}, true, Refused("目标不是普通文件（命名管道）")}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.element + std::to_string(c.records.size()));
    auto reset = [&] {
      std::filesystem::remove(target);
      if (c.fifo)
        ASSERT_EQ(::mkfifo(target.c_str(), 0600), 0);
      else
        WriteFile(target, "old");
    };
    reset();
    const std::string wholeError = Write(List(c.records), c.element);
    EXPECT_EQ(wholeError, c.error);
    const std::string wholeFile = c.fifo ? "" : ReadFile(target);
    for (bool close : {true, false}) {
      reset();
      std::string errorText, raised;
      {
        auto stream = writer->OpenStream(target, "", c.element);
        ASSERT_NE(stream, nullptr);
        for (const auto& r : c.records) stream->Add(r);
        if (!c.fifo) EXPECT_EQ(ReadFile(target), "old");
        EXPECT_EQ(FolderEntries(), std::vector<std::string>{"out.xml"});
        if (close) try {
            stream->Close(errorText);
          } catch (const Error& e) {
            raised = e.Description();
          }
      }
      EXPECT_EQ(raised, close ? wholeError : "");
      EXPECT_EQ(errorText, raised);
      if (!c.fifo) EXPECT_EQ(ReadFile(target), close ? wholeFile : "old");
      EXPECT_EQ(FolderEntries(), std::vector<std::string>{"out.xml"});
    }
  }
}

// libxml2's text writer with the calls the files were first written with:
// the files must stay byte for byte what it makes.
void LibxmlRecord(xmlTextWriter* w, const DataRecord& r) {
  auto x = [](const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); };
  for (const auto& [key, value] : r.Entries()) {
    xmlTextWriterStartElement(w, x(key));
    if (value.IsNull()) {
      xmlTextWriterWriteAttribute(w, x("xsi:nil"), x("true"));
    } else if (auto nested = value.As<DataRecord>()) {
      LibxmlRecord(w, *nested);
    } else if (auto list = value.As<RecordCollection>()) {
      for (int32_t i = 1; i <= list->UBound(); ++i) {
        xmlTextWriterStartElement(w, x("Record"));
        LibxmlRecord(w, *list->Item(i));
        xmlTextWriterEndElement(w);
      }
    } else if (!value.ToText().empty()) {
      xmlTextWriterWriteString(w, x(value.ToText()));
    }
    xmlTextWriterEndElement(w);
  }
}

std::string LibxmlText(const RecordCollection& records, const std::string& element) {
  xmlBuffer* buf = xmlBufferCreate();
  xmlTextWriter* w = xmlNewTextWriterMemory(buf, 0);
  xmlTextWriterSetIndent(w, 1);
  xmlTextWriterSetIndentString(w, reinterpret_cast<const xmlChar*>("  "));
  xmlTextWriterStartDocument(w, "1.0", "UTF-8", nullptr);
  xmlTextWriterStartElement(w, reinterpret_cast<const xmlChar*>((element + "List").c_str()));
  xmlTextWriterWriteAttribute(w, reinterpret_cast<const xmlChar*>("xmlns:xsi"),
                              reinterpret_cast<const xmlChar*>("http://www.w3.org/2001/XMLSchema-instance"));
  for (int32_t i = 1; i <= records.UBound(); ++i) {
    xmlTextWriterStartElement(w, reinterpret_cast<const xmlChar*>(element.c_str()));
    LibxmlRecord(w, *records.Item(i));
    xmlTextWriterEndElement(w);
  }
  xmlTextWriterEndDocument(w);
  xmlFreeTextWriter(w);
  std::string text(reinterpret_cast<const char*>(xmlBufferContent(buf)), xmlBufferLength(buf));
  xmlBufferFree(buf);
  return text;
}

TEST_F(Writer, WritesWhatLibxmlsTextWriterWrites) {
  std::string every;  // every character a text may hold among the first 128, and some beyond
  for (int c = 1; c < 128; ++c)
    if (c >= 0x20 || c == '\t' || c == '\n' || c == '\r') every += static_cast<char>(c);
  every += "甲　\xF0\x9F\x98\x80]]>&amp;";
  auto empty = Rec({});
  const std::vector<RecordCollectionPtr> files = {
      List({}),
      List({empty, empty}),
      List({Rec({{"Name", every}, {"Note", ""}, {"Nil", Variant::Null()}, {"N", 12.5}, {"B", true}, {"L", int32_t{-7}}}),
            Rec({{"Group", Rec({{"Name", "上级"}, {"Number", "01"}, {"Deep", Rec({{"X", "\r\n"}, {"E", empty}})}})}}),
            Rec({{"List", List({Rec({{"A", "1"}}), empty, Rec({{"Sub", List({})}, {"Nil", Variant::Null()}})})},
                 {"After", " "}})}),
      List({Rec({{"Long", std::string(70000, 'x') + "<" + std::string(140000, 'y')}})}),  // past the buffer
  };
  for (const auto& records : files) {
    ASSERT_EQ(Write(records, "Department"), "");
    EXPECT_EQ(ReadFile(target), LibxmlText(*records, "Department"));
  }
}

}  // namespace
}  // namespace morvent::test
