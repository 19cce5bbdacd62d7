// Whole-ledger runs of the tool and the comparison of their folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <utility>

#include "front/code_table.h"
#include "platform/progdir.h"
#include "platform/text.h"
#include "tests/cli/tool.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

namespace fs = std::filesystem;

std::vector<nlohmann::ordered_json> Events(const std::string& out, const std::string& name) {
  std::vector<nlohmann::ordered_json> v;
  for (auto& j : Lines(out))
    if (j["event"] == name || name.empty()) v.push_back(j);
  return v;
}

TEST(WholeLedger, RoundTripComesBackEqualForEveryKind) {
  for (const std::string kind : {"GY", "QY"}) {
    SCOPED_TRACE(kind);
    ProgramHome home;
    const std::string src = home.file("src.db"), dst = home.file("dst.db"), a = home.file("a"), b = home.file("b");
    ASSERT_EQ(RunTool(home, "ledger demo " + Quote(src) + " --acct-type " + kind).status, 0);
    ASSERT_EQ(RunTool(home, "ledger init " + Quote(dst) + " --acct-type " + kind).status, 0);
    auto first = RunTool(home, "export --ledger " + Quote(src) + " --all " + Quote(a) + " --events jsonl");
    ASSERT_EQ(first.status, 0) << ReadFile(home.file("stderr.txt"));
    auto in = RunTool(home, "import --ledger " + Quote(dst) + " --all " + Quote(a) + " --events jsonl");
    ASSERT_EQ(in.status, 0) << ReadFile(home.file("stderr.txt"));
    ASSERT_EQ(RunTool(home, "export --ledger " + Quote(dst) + " --all " + Quote(b)).status, 0);

    // Every served kind has its file and its summary, in import order.
    std::vector<int32_t> served, summarised;
    for (const BaseType* t : BaseTypesInImportOrder())
      if (t->create) served.push_back(t->code);
    for (auto& s : Events(first.out, "Summary")) {
      summarised.push_back(s["code"].get<int32_t>());
      EXPECT_EQ(s["status"], 0);
      EXPECT_TRUE(FileExist(a + "/" + s["element"].get<std::string>() + ".xml"));
    }
    EXPECT_EQ(summarised, served);
    for (auto& s : Events(in.out, "Summary")) EXPECT_GT(s["rows"].get<int>(), 0) << s.dump();

    auto cmp = RunTool(home, "compare " + Quote(a) + " " + Quote(b) + " --acct-type " + kind);
    EXPECT_EQ(cmp.status, 0) << cmp.out;
    EXPECT_EQ(cmp.out, "");
    EXPECT_EQ(ReadFile(home.file("stderr.txt")), "比较了 " + std::to_string(served.size()) + " 个文件，0 处不同\n");
  }
}

// Only the currencies and a department file with one orphan: the absent
// files are skipped, and the worst kind decides the exit status.
TEST(WholeLedger, ImportSkipsAbsentFilesAndExitsWithTheWorstKind) {
  ProgramHome home;
  const std::string src = home.file("src.db"), a = home.file("a");
  ASSERT_EQ(RunTool(home, "ledger demo " + Quote(src)).status, 0);
  ASSERT_EQ(RunTool(home, "export --ledger " + Quote(src) + " --all " + Quote(a)).status, 0);
  for (auto& f : fs::directory_iterator(a))
    if (f.path().filename() != "Currency.xml") fs::remove(f.path());
  WriteFile(a + "/Department.xml",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DepartmentList>\n"
            "<Department><Number>01</Number><Name>总部</Name></Department>\n"
            "<Department><Number>01.02</Number><Name>孤儿</Name></Department>\n"
            "</DepartmentList>\n");
  const struct {
    std::string onError;
    int department, worst;
  } cases[] = {{"skip", 4, 4}, {"stop", 1, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.onError);
    const std::string dst = home.file("dst-" + c.onError + ".db");
    ASSERT_EQ(RunTool(home, "ledger init " + Quote(dst)).status, 0);
    auto o = RunTool(home, "import --ledger " + Quote(dst) + " --all " + Quote(a) + " --on-error " + c.onError +
                               " --events jsonl");
    EXPECT_EQ(o.status, c.worst);
    std::map<int32_t, int> status;
    for (auto& s : Events(o.out, "Summary")) status[s["code"].get<int32_t>()] = s["status"].get<int>();
    EXPECT_EQ(status, (std::map<int32_t, int>{{103, 0}, {120, c.department}}));
    auto skipped = Events(o.out, "Skipped");
    EXPECT_EQ(skipped.size(), BaseTypes().size() - 2);
    for (auto& s : skipped)
      if (s["code"] == 110) EXPECT_EQ(s["text"], "客户（110）的文件 " + a + "/Customer.xml 不存在，跳过");
  }
}

TEST(WholeLedger, CompareReportsFileRecordAndKeyButNotExportOnlyKeys) {
  ProgramHome home;
  const std::string src = home.file("src.db"), a = home.file("a"), b = home.file("b");
  ASSERT_EQ(RunTool(home, "ledger demo " + Quote(src) + " --acct-type GY").status, 0);
  ASSERT_EQ(RunTool(home, "export --ledger " + Quote(src) + " --all " + Quote(a)).status, 0);
  fs::copy(a, b);
  const std::string customer = b + "/Customer.xml";
  const std::string xml = ReadFile(customer);
  ASSERT_NE(xml.find("<ShortName>华联商厦</ShortName>"), std::string::npos);
  WriteFile(customer, Replace(xml, "<ShortName>华联商厦</ShortName>", "<ShortName>华联</ShortName>"));
  // Keys an import never reads may differ freely.
  const std::string dept = ReadFile(b + "/Department.xml");
  WriteFile(b + "/Department.xml", Replace(dept, "<Manager>赵建国</Manager>", "<Manager>别人</Manager>"));
  fs::remove(b + "/Supplier.xml");

  auto o = RunTool(home, "compare " + Quote(a) + " " + Quote(b) + " --acct-type GY");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "Customer.xml，第 3 条记录（01.01.001），键 ShortName：「华联商厦」与「华联」不同\n"
                   "Supplier.xml：只在 " + a + " 中\n");

  WriteFile(customer, "<CustomerList><Customer>");
  EXPECT_EQ(RunTool(home, "compare " + Quote(a) + " " + Quote(b)).status, 3);
  EXPECT_NE(ReadFile(home.file("stderr.txt")).find("读取数据文件 " + customer + " 出错："), std::string::npos);
}

TEST(WholeLedger, UnusableFoldersAreReportedAndNothingIsWritten) {
  ProgramHome home;
  const std::string ledger = home.file("l.db"), plain = home.file("plain"), missing = home.file("missing");
  ASSERT_EQ(RunTool(home, "ledger init " + Quote(ledger)).status, 0);
  WriteFile(plain, "not a folder");
  const struct {
    std::string args;
    int status;
    std::string firstLine;
  } cases[] = {
      {"export --ledger " + Quote(ledger) + " --all " + Quote(plain + "/sub"), 5, "无法使用文件夹：" + plain + "/sub"},
      {"import --ledger " + Quote(ledger) + " --all " + Quote(missing), 5, "无法使用文件夹：" + missing},
      {"compare " + Quote(missing) + " " + Quote(home.path()), 5, "不是文件夹：" + missing},
      {"export --ledger " + Quote(ledger) + " --all " + Quote(missing) + " --type 101", 2, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    EXPECT_EQ(RunTool(home, c.args).status, c.status);
    std::string err = ReadFile(home.file("stderr.txt"));
    if (!c.firstLine.empty()) EXPECT_EQ(err.substr(0, c.firstLine.size()), c.firstLine);
  }
  EXPECT_EQ(ReadFile(plain), "not a folder");
  EXPECT_FALSE(fs::exists(missing));
}

// Each kind comes after every kind its records refer to.
TEST(WholeLedger, ImportOrderPutsReferencedKindsFirst) {
  const std::pair<int32_t, int32_t> refersTo[] = {
      {122, 121}, {110, 103}, {110, 107}, {110, 122}, {114, 103}, {114, 122}, {106, 105}, {102, 103}, {102, 106},
      {118, 120}, {118, 122}, {112, 118}, {112, 122}, {116, 106}, {116, 112}, {116, 114}, {116, 118}, {116, 102},
      {116, 122}, {108, 122}};
  for (auto [from, to] : refersTo)
    EXPECT_GT(FindBaseType(from)->importRank, FindBaseType(to)->importRank) << from << " refers to " << to;
  EXPECT_EQ(BaseTypesInImportOrder().size(), BaseTypes().size());
}

}  // namespace
}  // namespace morvent::test
