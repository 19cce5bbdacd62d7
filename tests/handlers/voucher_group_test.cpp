// Voucher groups (104) through the public classes: golden round trips, the
// match by cut name, ranges kept, overwritten or cleared, error paths.
#include "context/glfunc.h"
#include "platform/registry.h"
#include "store/ledger_admin.h"
#include "store/ledger_store.h"
#include "tests/handlers/fixture.h"

namespace morvent::test {
namespace {

const char* const kRanges[] = {"CRange", "DRange", "NCRange", "NDRange", "DCRange", "NDCRange"};

class VoucherGroupTest : public RecordsTest {
 protected:
  VoucherGroupTest() { code = 104; }
  // Each group as "name|C|D|NC|ND|DC|NDC", a Null range as "~".
  std::vector<std::string> Groups() {
    std::vector<std::string> out;
    for (const auto& g : Objects(ledger, kVoucherGroupSet, 1)) {
      std::string s = g->Name();
      for (const char* r : kRanges) s += "|" + (g->Get(r).IsNull() ? std::string("~") : g->Get(r).ToText());
      out.push_back(s);
    }
    return out;
  }
};

DataRecordPtr Group(const std::string& name, std::vector<std::string> ranges = {}) {
  auto r = Rec({{"Name", name}});
  for (size_t i = 0; i < ranges.size(); ++i) r->SetValue(kRanges[i], ranges[i]);
  return r;
}

TEST_F(VoucherGroupTest, DemoGroupsRoundTripUnderEitherLedgerKind) {
  for (const char* kind : {"GY", "QY"}) {
    SCOPED_TRACE(kind);
    auto [first, second] = RoundTrip(DemoLedger(std::string(kind) + "-demo.db", kind), 104, kind);
    // Null ranges of the demo come out as empty texts.
    EXPECT_EQ(first, ReadFile(FixtureDir() + "/voucher/groups.xml"));
    EXPECT_EQ(second, first);
  }
}

TEST_F(VoucherGroupTest, ImportMatchesByCutNameAndKeepsOrRewritesRanges) {
  std::string long81, long80;
  for (int i = 0; i < 81; ++i) long81 += "凭";
  long80 = LeftChars(long81, 80);
  auto nullRange = Group("空");
  nullRange->SetValue("CRange", Variant::Null());
  const struct {
    std::vector<DataRecordPtr> records;
    int imp;
    std::vector<std::string> after;  // the groups beyond the stored "收"
    std::string received;            // "收" afterwards
  } cases[] = {
      // Absent range keys give empty texts, never Null.
      {{Group("记")}, 1, {"记||||||"}, "收|a|b|c|d|e|f"},
      {{Group("收")}, 1, {}, "收|a|b|c|d|e|f"},
      {{Group("收")}, 2, {}, "收||||||"},
      // Each range goes to its own property, whatever the order of writing.
      {{Group("收", {"1", "2", "3", "4", "5", "6"})}, 2, {}, "收|1|2|3|4|5|6"},
      {{Group("收", {"1", "2", "3", "4", "5", "6"})}, 1, {}, "收|a|b|c|d|e|f"},
      {{nullRange}, 1, {"空|~|||||"}, "收|a|b|c|d|e|f"},
      // A name beyond 80 characters is cut before the match and the store.
      {{Group(long81, {"x"}), Group(long81, {"y"})}, 1, {long80 + "|x|||||"}, "收|a|b|c|d|e|f"},
      {{Group(long80, {"x"}), Group(long81, {"y"})}, 2, {long80 + "|y|||||"}, "收|a|b|c|d|e|f"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(++n);
    ledger = NewLedger("m" + std::to_string(n) + ".db");
    ASSERT_TRUE(Run({Group("收", {"a", "b", "c", "d", "e", "f"})}, 1).result);
    RunResult run = Run(c.records, c.imp);
    EXPECT_TRUE(run.result);
    EXPECT_TRUE(run.errors.empty());
    std::vector<std::string> expected{c.received};
    expected.insert(expected.end(), c.after.begin(), c.after.end());
    EXPECT_EQ(Groups(), expected);
  }
}

TEST_F(VoucherGroupTest, FailuresAreReportedAndNothingHalfDoneStays) {
  if (onServer) GTEST_SKIP() << "the server's integer IDs end where the largest ID is: its sequence cannot go past it";
  const std::string prefix = "引入凭证字资料错误，当前记录名称为：";
  const struct {
    DataRecordPtr bad;
    int imp;
    std::string message;
  } cases[] = {
      {Group("  "), 1, prefix + "  \r错误信息：\r名称不能为空"},
      {Group("记", {"1001"}), 5, prefix + "记\r错误信息：\r对象变量未设置"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    ledger = NewLedger("e" + std::to_string(++n) + ".db");
    ASSERT_TRUE(Run({Group("记")}, 1).result);
    RunResult run = Run({c.bad, Group("转")}, c.imp, 1, Client{.letErrorsPass = true});
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.errors, std::vector<std::string>{c.message});
    EXPECT_EQ(run.rows.size(), 2u);  // the failed record still reports progress
    EXPECT_EQ(Groups(), (std::vector<std::string>{"记||||||", "转||||||"}));
    run = Run({c.bad}, c.imp);
    EXPECT_FALSE(run.result);
    EXPECT_TRUE(run.rows.empty());
  }

  // The ledger's group IDs are used up: the new group cannot be stored.
  Bind(ledger);
  LedgerStore::ForProps(Props(ledger))->Exec("INSERT INTO t_VoucherGroup (FGroupID, FName) VALUES (2147483647, '满')");
  const auto before = Groups();
  RunResult run = Run({Group("新", {"1"})}, 1);
  EXPECT_FALSE(run.result);
  EXPECT_EQ(run.errors, std::vector<std::string>{prefix + "新\r错误信息：\r凭证字的内码已用尽，不能再新增"});
  EXPECT_EQ(Groups(), before);

  // Exports that fail before any group is current, or after the last.
  const std::string target = home.file("missing/out.xml");
  const struct {
    bool broken;
    std::string description;
  } exports[] = {
      {false, "写数据文件 " + target + " 出错：无法在 " + home.file("missing") +
                  " 中建立临时文件：No such file or directory"},
      {true, "部件不能创建对象：Corabin.VoucherGroupSet"},
  };
  for (const auto& e : exports) {
    std::optional<ScopedFactory> broken;
    if (e.broken) broken.emplace(kVoucherGroupSet, nullptr);
    run = Export(ledger, 104, target);
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.errors, std::vector<std::string>{"导出凭证字资料出错，当前记录名称为：\r错误信息：\r" + e.description});
    EXPECT_FALSE(FileExist(target));
  }
}

TEST_F(VoucherGroupTest, ProgressCountsEveryGroupAndACancelWritesNothing) {
  ASSERT_TRUE(Run({Group("记"), Group("收"), Group("付")}, 1).result);
  std::string file = home.file("v.xml");
  RunResult run = Export(ledger, 104, file, Client{.cancelAtRow = 2});
  EXPECT_FALSE(run.result);
  EXPECT_EQ(run.rows.size(), 2u);
  EXPECT_FALSE(FileExist(file));
  run = Run({Group("甲"), Group("乙"), Group("丙")}, 1, 1, Client{.cancelAtRow = 1});
  EXPECT_FALSE(run.result);
  EXPECT_EQ(Groups().size(), 4u);  // the first record was imported, then the run stopped
}

}  // namespace
}  // namespace morvent::test
