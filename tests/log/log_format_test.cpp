// What lands in the exchange log: layout, order, encoding, and the message
// text surviving the round trip unchanged.
#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <regex>
#include <string>
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

std::string ToGb2312(const std::string& utf8) {
  iconv_t cd = iconv_open("GB2312", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no GB2312 converter");
  std::string in = utf8, out(utf8.size() * 2 + 8, '\0');
  char* ip = in.data();
  char* op = out.data();
  size_t il = in.size(), ol = out.size();
  size_t rc = iconv(cd, &ip, &il, &op, &ol);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1)) throw std::runtime_error("not encodable in GB2312");
  out.resize(out.size() - ol);
  return out;
}

class LogFormat : public ::testing::Test {
 protected:
  std::string LogPath() const { return home.file(kLogFileName); }
  ProgramHome home;
};

TEST_F(LogFormat, FirstEntryCreatesTheFileWithDeclarationRootAndEntry) {
  ASSERT_FALSE(FileExist(LogPath()));
  WriteErrLog(true, "第一条");

  const std::string bytes = ReadFile(LogPath());
  EXPECT_EQ(bytes.rfind("<?xml version=\"1.0\" encoding=\"GB2312\" ?>", 0), 0u) << bytes;

  auto log = ParseLog(LogPath());
  EXPECT_EQ(log.rootName, "Morvent");
  EXPECT_TRUE(log.rootIsFirstNode);
  EXPECT_TRUE(log.otherChildren.empty());
  ASSERT_EQ(log.entries.size(), 1u);
  const auto& attrs = log.entries[0].attributes;
  ASSERT_EQ(attrs.size(), 3u);
  EXPECT_EQ(attrs[0].first, "Direct");
  EXPECT_EQ(attrs[1].first, "Time");
  EXPECT_EQ(attrs[2].first, "ErrMsg");
  EXPECT_EQ(attrs[0].second, kDirectExport);
  EXPECT_EQ(attrs[2].second, "第一条");
}

TEST_F(LogFormat, EntriesAppendOldestFirstWithTheirDirection) {
  WriteErrLog(true, "导出失败");
  WriteErrLog(false, "导入失败");
  WriteErrLog(false, "再次导入失败");

  auto log = ParseLog(LogPath());
  ASSERT_EQ(log.entries.size(), 3u);
  EXPECT_EQ(log.entries[0].Attr("Direct"), "导出基础资料数据");
  EXPECT_EQ(log.entries[0].Attr("ErrMsg"), "导出失败");
  EXPECT_EQ(log.entries[1].Attr("Direct"), "导入基础资料数据");
  EXPECT_EQ(log.entries[1].Attr("ErrMsg"), "导入失败");
  EXPECT_EQ(log.entries[2].Attr("Direct"), "导入基础资料数据");
  EXPECT_EQ(log.entries[2].Attr("ErrMsg"), "再次导入失败");
}

TEST_F(LogFormat, LineBreaksTabsAndMarkupCharactersSurviveAReload) {
  const std::string message = "导出币别时出错：人民币\r错误信息：\r第一行\r\n第二行\tA<B & \"C\" 'D'>";
  WriteErrLog(true, message);
  WriteErrLog(false, "后一条");  // the first entry goes through a load and save again

  const std::string bytes = ReadFile(LogPath());
  EXPECT_NE(bytes.find("&#13;"), std::string::npos);
  EXPECT_NE(bytes.find("&#10;"), std::string::npos);
  EXPECT_NE(bytes.find("&#9;"), std::string::npos);
  auto log = ParseLog(LogPath());
  ASSERT_EQ(log.entries.size(), 2u);
  EXPECT_EQ(log.entries[0].Attr("ErrMsg"), message);
}

TEST_F(LogFormat, TextIsStoredAsGb2312Bytes) {
  WriteErrLog(true, "科目代码重复");
  const std::string bytes = ReadFile(LogPath());
  EXPECT_NE(bytes.find(ToGb2312("导出基础资料数据")), std::string::npos);
  EXPECT_NE(bytes.find(ToGb2312("科目代码重复")), std::string::npos);
  EXPECT_EQ(bytes.find("科目代码重复"), std::string::npos) << "UTF-8 bytes in a GB2312 file";
  EXPECT_EQ(ParseLog(LogPath()).declaredEncoding, "GB2312");
}

TEST_F(LogFormat, CharactersOutsideGb2312BecomeReferencesAndReadBackEqual) {
  const std::string message = "扩展字𠀀与한글和€";
  WriteErrLog(false, message);
  WriteErrLog(false, "x");

  const std::string bytes = ReadFile(LogPath());
  EXPECT_NE(bytes.find("&#131072;"), std::string::npos);  // U+20000
  EXPECT_NE(bytes.find("&#54620;"), std::string::npos);   // U+D55C
  EXPECT_NE(bytes.find("&#8364;"), std::string::npos);    // U+20AC
  auto log = ParseLog(LogPath());
  ASSERT_EQ(log.entries.size(), 2u);
  EXPECT_EQ(log.entries[0].Attr("ErrMsg"), message);
}

TEST_F(LogFormat, TextThatXmlCannotCarryIsReplacedAndTheLogStaysUsable) {
  std::string message = "a";
  message += '\x01';
  message += "b";
  message += '\0';
  message += "c\xff\xc0\xafz";  // a stray byte, then an overlong "/"
  WriteErrLog(true, message);
  WriteErrLog(true, "next");

  auto log = ParseLog(LogPath());
  ASSERT_EQ(log.entries.size(), 2u);
  EXPECT_EQ(log.entries[0].Attr("ErrMsg"), "a\uFFFDb\uFFFDc\uFFFD\uFFFD\uFFFDz");
  EXPECT_EQ(log.entries[1].Attr("ErrMsg"), "next");
}

// A log is extended in the encoding it has; what it holds is never encoded
// again (a name outside GB2312 would not survive that).
TEST_F(LogFormat, AnotherToolsUtf8LogIsExtendedInUtf8AndItsBytesAreKept) {
  const std::string before =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<Morvent><ErrLog Direct=\"导入基础资料数据\" Time=\"2020-01-02 03:04:05\" ErrMsg=\"旧的&#13;条目\"/>"
      "<straße note=\"ß\"/>";
  test::WriteFile(LogPath(), before + "</Morvent>");
  WriteErrLog(true, "新的ß");

  const std::string bytes = ReadFile(LogPath());
  EXPECT_EQ(bytes.substr(0, before.size()), before);
  EXPECT_NE(bytes.find("ErrMsg=\"新的ß\""), std::string::npos) << "UTF-8 bytes expected";
  auto log = ParseLog(LogPath());
  ASSERT_EQ(log.entries.size(), 2u);
  EXPECT_EQ(log.entries[0].Attr("ErrMsg"), "旧的\r条目");
  EXPECT_EQ(log.entries[0].Attr("Time"), "2020-01-02 03:04:05");
  EXPECT_EQ(log.entries[1].Attr("ErrMsg"), "新的ß");
  EXPECT_EQ(log.otherChildren, std::vector<std::string>{"straße"});
  EXPECT_EQ(log.declaredEncoding, "UTF-8");
}

// Logs that a person or another tool saved: a byte-order mark, an empty
// root, a closing tag without a line break. Each takes the entry and keeps
// every byte before the closing tag.
TEST_F(LogFormat, LogsOfOtherShapesAreExtendedWithoutTouchingTheirContent) {
  const std::string bom = "\xEF\xBB\xBF";
  const std::string old = "<ErrLog Direct=\"x\" Time=\"t\" ErrMsg=\"旧\"/>";
  struct Case {
    const char* what;
    std::string kept, closing;
    size_t oldEntries;
  };
  const std::vector<Case> cases = {
      {"UTF-8 mark and declaration", bom + "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Morvent>" + old,
       "</Morvent>\r\n", 1},
      {"UTF-8 mark, no encoding named", bom + "<?xml version=\"1.0\"?>\n<Morvent>\n" + old + "\n", "</Morvent >", 1},
      {"empty root", "<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n", "<Morvent/>\n", 0},
      {"empty root, end tag", "<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n<Morvent>", "</Morvent>", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::WriteFile(LogPath(), c.kept + c.closing);
    WriteErrLog(false, "新的条目");
    const std::string bytes = ReadFile(LogPath());
    EXPECT_EQ(bytes.substr(0, c.kept.size()), c.kept);
    auto log = ParseLog(LogPath());
    ASSERT_EQ(log.entries.size(), c.oldEntries + 1);
    EXPECT_EQ(log.entries.back().Attr("ErrMsg"), "新的条目");
    EXPECT_EQ(log.entries.back().Attr("Direct"), kDirectImport);
  }
}

// The mark says UTF-8 and the declaration GB2312: parsers differ on which
// wins, so the entry is added in ASCII, which reads alike either way.
TEST_F(LogFormat, AMarkThatContradictsTheDeclarationGetsAnAsciiEntry) {
  const std::string kept = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n<Morvent>\n";
  test::WriteFile(LogPath(), kept + "</Morvent>\n");
  WriteErrLog(true, "错误");
  const std::string bytes = ReadFile(LogPath());
  EXPECT_EQ(bytes.substr(0, kept.size()), kept);
  EXPECT_NE(bytes.find("ErrMsg=\"&#38169;&#35823;\""), std::string::npos) << bytes;
  EXPECT_TRUE(std::all_of(bytes.begin() + static_cast<long>(kept.size()), bytes.end(),
                          [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
      << "only ASCII is added";
}

// Local time as the log writes it, to check an entry against the clock.
std::string LocalStamp(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

TEST_F(LogFormat, TimeIsTheLocalDateAndTimeOfTheWrite) {
  const std::string before = LocalStamp(std::time(nullptr));
  WriteErrLog(true, "m");
  const std::string after = LocalStamp(std::time(nullptr));
  const std::string time = ParseLog(LogPath()).entries.at(0).Attr("Time");
  EXPECT_TRUE(std::regex_match(time, std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})"))) << time;
  EXPECT_LE(before, time);
  EXPECT_LE(time, after);
}

// Sets a zone in which it is now just past midnight.
class MidnightZone {
 public:
  MidnightZone() {
    if (const char* tz = std::getenv("TZ")) saved_ = tz, had_ = true;
    std::time_t now = std::time(nullptr);
    long sod = static_cast<long>(now % 86400);
    char zone[64];
    // A POSIX offset west of UTC is subtracted: local = UTC - sod = 00:00:00.
    std::snprintf(zone, sizeof zone, "MID+%02ld:%02ld:%02ld", sod / 3600, sod / 60 % 60, sod % 60);
    setenv("TZ", zone, 1);
    tzset();
  }
  ~MidnightZone() {
    if (had_)
      setenv("TZ", saved_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  std::string saved_;
  bool had_ = false;
};

TEST_F(LogFormat, AnEntryWrittenAtMidnightStillCarriesTheTimeOfDay) {
  {
    MidnightZone zone;
    WriteErrLog(false, "午夜");
  }
  const std::string time = ParseLog(LogPath()).entries.at(0).Attr("Time");
  EXPECT_TRUE(std::regex_match(time, std::regex(R"(\d{4}-\d{2}-\d{2} 00:00:0\d)"))) << time;
}

}  // namespace
}  // namespace morvent
