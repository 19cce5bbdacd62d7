// The writer and the readers of the log go by one rule: a log the writer
// extends reads back with every entry, the new one last, and a log the
// writer will not touch is one the reader calls damaged, for the same
// reason.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "front/exchange_log.h"
#include "tests/support/support.h"

namespace morvent {
namespace {

using test::ProgramHome;
using test::ReadFile;
using test::WriteFile;

struct Read {
  std::vector<std::string> messages;
  std::string damage;
};

Read ReadBack(const std::string& path) {
  Read r;
  r.damage = ReadExchangeLog(path, [&](const LogEntry& e) {
    r.messages.push_back(e.message);
    return true;
  });
  return r;
}

TEST(LogRule, WriterAndReaderAgreeOnEveryLog) {
  ProgramHome home;
  const std::string path = home.file(kLogFileName);
  const std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  const std::string one = "  <ErrLog Direct=\"d\" Time=\"t\" ErrMsg=\"m1\"/>\n";
  const std::string badHead = "开头须是 XML 声明，随后直接是没有属性的根元素 Morvent";
  const std::string badTail = "根元素 Morvent 结束后不能再有内容";
  struct Case {
    const char* what;
    std::string content;
    std::string damage;  // what the reader says before the write; "" sound
    bool writes;         // the writer extends it
    std::vector<std::string> before;  // the entries read before the write
  };
  const Case cases[] = {
      // Someone else's content in the root is kept and passed over.
      {"another element, a comment and an instruction",
       decl + "<Morvent>\n" + one + "  <Note a=\"1\"><ErrLog Direct=\"d\" Time=\"t\" ErrMsg=\"里面\"/></Note>\n" +
           "  <!-- c --><?pi x?>\n</Morvent>\n",
       "", true, {"m1"}},
      {"another element last", decl + "<Morvent>\n" + one + "  <Note/>\n</Morvent>\n", "", true, {"m1"}},
      {"an entry with content", decl + "<Morvent><ErrLog Direct=\"d\" Time=\"t\" ErrMsg=\"m1\">x<y/></ErrLog></Morvent>",
       "", true, {"m1"}},
      {"an empty root", decl + "<Morvent/>\n", "", true, {}},
      // A killed writer's cut entry: damaged until the next write cuts it away.
      {"cut in an entry", decl + "<Morvent>\n" + one + "  <ErrLog Direct=\"d\" Ti", "第 4 行：", true, {"m1"}},
      // What the writer never touches, the reader calls damaged.
      {"a comment before the root", decl + "<!-- c -->\n<Morvent>\n" + one + "</Morvent>\n", badHead, false, {"m1"}},
      {"no declaration", "<Morvent>\n" + one + "</Morvent>\n", badHead, false, {"m1"}},
      {"a root with an attribute", decl + "<Morvent a=\"1\">\n" + one + "</Morvent>\n", badHead, false, {"m1"}},
      {"a namespaced root", decl + "<Morvent xmlns=\"urn:x\">\n" + one + "</Morvent>\n", badHead, false, {"m1"}},
      {"a comment after the root", decl + "<Morvent>\n" + one + "</Morvent>\n<!-- c -->\n", badTail, false, {"m1"}},
      {"an instruction after an empty root", decl + "<Morvent/><?pi?>", badTail, false, {}},
      {"an encoding the writer cannot extend",
       "<?xml version=\"1.0\" encoding=\"Big5\"?>\n<Morvent>\n" + one + "</Morvent>\n",
       "XML 声明中的编码须是 UTF-8、GB2312、GBK、GB18030、EUC-CN、ISO-8859-1 或 ASCII 之一", false, {"m1"}},
      {"a document type", decl + "<!DOCTYPE Morvent>\n<Morvent/>\n", "日志中不能有文档类型声明", false, {}},
      {"another root", decl + "<Journal/>\n", "根元素应为 Morvent，而不是 Journal", false, {}},
      {"cut after another element", decl + "<Morvent>\n  <Note/>\n  <ErrLo", "第 4 行：", false, {}},
      {"not XML", "notes\n", "第 1 行：", false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(path, c.content);
    const Read before = ReadBack(path);
    EXPECT_EQ(before.damage.substr(0, c.damage.size()), c.damage);
    EXPECT_EQ(before.damage.empty(), c.damage.empty()) << before.damage;
    EXPECT_EQ(before.messages, c.before);

    const std::string failure = test::ErrorOf([] { WriteErrLog(true, "新的"); });
    const Read after = ReadBack(path);
    if (c.writes) {
      EXPECT_EQ(failure, "");
      EXPECT_EQ(after.damage, "");
      std::vector<std::string> expected = c.before;
      expected.push_back("新的");
      EXPECT_EQ(after.messages, expected);
    } else {
      EXPECT_EQ(failure, "交换日志 " + path + " 无法载入或格式不符，原文件保留未改");
      EXPECT_EQ(ReadFile(path), c.content);
      EXPECT_EQ(after.damage, before.damage);
    }
  }
}

TEST(LogRule, AReaderMayStopEarly) {
  ProgramHome home;
  WriteErrLog(true, "一");
  WriteErrLog(false, "二");
  std::vector<LogEntry> seen;
  EXPECT_EQ(ReadExchangeLog(home.file(kLogFileName),
                            [&](const LogEntry& e) {
                              seen.push_back(e);
                              return false;
                            }),
            "");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].message, "一");
  EXPECT_EQ(seen[0].direct, kDirectExport);
  EXPECT_EQ(seen[0].time.size(), 19u);
}

}  // namespace
}  // namespace morvent
