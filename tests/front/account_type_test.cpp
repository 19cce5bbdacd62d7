// Account-type export through ExportBase, with the ledger's list injected so
// that failures can be placed exactly.
#include <gtest/gtest.h>

#include "context/props.h"
#include "front/exchange_log.h"
#include "front/export_base.h"
#include "front/import_base.h"
#include "ledger/account_type.h"
#include "platform/registry.h"
#include "tests/front/fakes.h"
#include "platform/error.h"
#include "platform/progdir.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

using Row = FakeRecordSet::Row;

std::vector<Row> FourRows() {
  return {Row{{"FGroupID", int32_t{1}}, {"FName", "资产"}}, Row{{"FGroupID", int32_t{0}}, {"FName", "（合计）"}},
          Row{{"FGroupID", int32_t{2}}, {"FName", "负债"}}, Row{{"FGroupID", int32_t{3}}, {"FName", "权益"}}};
}

struct Events {
  std::vector<std::pair<int32_t, double>> rows;
  std::vector<std::string> errors;
};

class AccountTypeExport : public ::testing::Test {
 protected:
  void SetUp() override {
    list = std::make_shared<FakeRecordSet>(FourRows());
    info = std::make_shared<FakeAccountInfo>(list);
    infoFactory.emplace(kAccountInfo, [this] { return info; });
    writerFactory.emplace(kWriterProgId, [this] { return writer; });
    exp.ExportOneRow = [this](int32_t r, double rate, bool& cancel) {
      events.rows.emplace_back(r, rate);
      if (cancelAtRow == r) cancel = true;
    };
    exp.Error = [this](const std::string& m, bool& cancel) {
      events.errors.push_back(m);
      if (letErrorsPass) cancel = false;
    };
  }
  std::string LogText() { return FileExist(home.file(kLogFileName)) ? ReadFile(home.file(kLogFileName)) : ""; }

  ProgramHome home;
  std::shared_ptr<FakeRecordSet> list;
  std::shared_ptr<FakeAccountInfo> info;
  std::shared_ptr<CapturingWriter> writer = std::make_shared<CapturingWriter>();
  std::optional<ScopedFactory> infoFactory, writerFactory;
  ExportBase exp;
  Events events;
  int cancelAtRow = -1;
  bool letErrorsPass = false;
};

TEST_F(AccountTypeExport, SkipsRowsWithoutGroupAndRatesCountThem) {
  ASSERT_TRUE(exp.ExportXMLData("Data Source=x;AcctType=QY", 101, home.file("t.xml")));
  ASSERT_EQ(events.rows.size(), 3u);
  EXPECT_EQ(events.rows[0], std::make_pair(1, 25.0));
  EXPECT_EQ(events.rows[1], std::make_pair(2, 50.0));
  EXPECT_EQ(events.rows[2], std::make_pair(3, 75.0));
  ASSERT_EQ(writer->written.size(), 1u);
  auto& call = writer->written[0];
  EXPECT_EQ(call.element, "AccountType");
  EXPECT_EQ(call.schema, home.file("SchemaAccountType.xml"));
  ASSERT_EQ(call.collection->UBound(), 3);
  EXPECT_EQ(call.collection->Item(2)->Value("Name").ToText(), "负债");
  EXPECT_EQ(call.collection->Item(2)->Value("Number").ToText(), "2");
  EXPECT_EQ(info->lastProps, "Data Source=x;AcctType=QY");
  EXPECT_TRUE(events.errors.empty());
}

TEST_F(AccountTypeExport, EmptyListStillWritesAnEmptyFile) {
  list = std::make_shared<FakeRecordSet>(std::vector<Row>{});
  info = std::make_shared<FakeAccountInfo>(list);
  EXPECT_TRUE(exp.ExportXMLData("", 101, home.file("t.xml")));
  EXPECT_TRUE(events.rows.empty());
  ASSERT_EQ(writer->written.size(), 1u);
  EXPECT_EQ(writer->written[0].collection->UBound(), 0);
}

TEST_F(AccountTypeExport, CancelInProgressWritesNothing) {
  cancelAtRow = 2;
  EXPECT_FALSE(exp.ExportXMLData("", 101, home.file("t.xml")));
  EXPECT_EQ(events.rows.size(), 2u);
  EXPECT_TRUE(writer->written.empty());
}

TEST_F(AccountTypeExport, FailureMidListStopsAndIsLoggedOnce) {
  list->failAtRow = 2;  // the third row, 负债
  list->failField = "FGroupID";
  EXPECT_FALSE(exp.ExportXMLData("", 101, home.file("t.xml")));
  ASSERT_EQ(events.errors.size(), 1u);
  EXPECT_EQ(events.errors[0], "导出科目大类出错，当前记录名称为：负债\r错误信息：\r账套读取失败");
  EXPECT_TRUE(writer->written.empty());
  std::string raw = LogText();
  EXPECT_NE(raw.find("encoding=\"GB2312\""), std::string::npos);
  auto entries = ReadLogEntries(home.file(kLogFileName));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].direct, "导出基础资料数据");
  EXPECT_EQ(entries[0].message, events.errors[0]);
}

TEST_F(AccountTypeExport, FailureLetPassResumesWithNextStep) {
  list->failAtRow = 2;
  list->failField = "FGroupID";
  letErrorsPass = true;
  ASSERT_TRUE(exp.ExportXMLData("", 101, home.file("t.xml")));
  // A failing test of the row's ID enters the branch: the record is built
  // from what can still be read.
  EXPECT_EQ(events.errors.size(), 2u);
  ASSERT_EQ(writer->written.size(), 1u);
  auto& written = *writer->written[0].collection;
  ASSERT_EQ(written.UBound(), 3);
  EXPECT_EQ(written.Item(2)->Value("Name").ToText(), "负债");
  EXPECT_FALSE(written.Item(2)->Has("Number"));
  EXPECT_EQ(ReadLogEntries(home.file(kLogFileName)).size(), 2u);
}

// After the last row no name can be read, so a failed write leaves the call
// as the write's own error: never a True.
TEST_F(AccountTypeExport, FileThatCouldNotBeWrittenIsNeverASuccess) {
  writer->failWith = "写数据文件 t.xml 出错：No space left on device";
  letErrorsPass = true;
  EXPECT_EQ(ErrorOf([&] { (void)exp.ExportXMLData("", 101, home.file("t.xml")); }), writer->failWith);
  EXPECT_TRUE(writer->written.empty());
}

TEST_F(AccountTypeExport, MissingSchemaWarnsByBareNameAndAsksNothing) {
  home.RemoveSchema("SchemaAccountType.xml");
  WriteFile(home.file("t.xml"), "old");
  EXPECT_FALSE(exp.ExportXMLData("", 101, home.file("t.xml")));
  ASSERT_EQ(home.boxes().warnings.size(), 1u);
  EXPECT_EQ(home.boxes().warnings[0], "Morvent接口定义文件 SchemaAccountType.xml 不存在！已在环境变量 MORVENT_HOME 指定的 " +
                                         home.path() + " 中查找。");
  EXPECT_TRUE(home.boxes().questions.empty());
  EXPECT_TRUE(events.rows.empty());
  EXPECT_EQ(ReadFile(home.file("t.xml")), "old");
}

TEST_F(AccountTypeExport, ExistingTargetNeedsConsent) {
  WriteFile(home.file("t.xml"), "old");
  EXPECT_FALSE(exp.ExportXMLData("", 101, home.file("t.xml")));
  ASSERT_EQ(home.boxes().questions.size(), 1u);
  EXPECT_EQ(home.boxes().questions[0], home.file("t.xml") + "文件已存在，是否覆盖？");
  EXPECT_TRUE(writer->written.empty());
  home.boxes().answer = true;
  EXPECT_TRUE(exp.ExportXMLData("", 101, home.file("t.xml")));
  EXPECT_EQ(writer->written.size(), 1u);
}

TEST_F(AccountTypeExport, UncreatableLedgerLeavesTheCallAsAnError) {
  // No list yet, so no name to report: the failure is not an event.
  infoFactory.reset();
  ScopedFactory broken(kAccountInfo, nullptr);
  try {
    exp.ExportXMLData("", 101, home.file("t.xml"));
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), kErrCannotCreate);
  }
  EXPECT_TRUE(events.errors.empty());
  EXPECT_EQ(LogText(), "");
}

TEST_F(AccountTypeExport, LookupsReadTheListOnceAndQuoteNames) {
  CAccountType types;
  Context().gPropsString = "Data Source=y";
  auto r = types.GetInfo(2);
  EXPECT_EQ(r->Value("Name").ToText(), "负债");
  EXPECT_EQ(r->Value("Number").ToText(), "2");
  EXPECT_EQ(types.GetInfo(99)->Count(), 0u);
  DataRecord named;
  named.SetValue("Name", "权益");
  EXPECT_EQ(types.GetID(named), 3);
  named.SetValue("Name", "不存在");
  EXPECT_EQ(types.GetID(named), 0);
  EXPECT_EQ(info->calls, 1);
  EXPECT_EQ(info->lastProps, "Data Source=y");
}

TEST(AccountTypeQuote, ApostropheIsDoubled) {
  EXPECT_EQ(QuoteCriteria("FName", "O'Neil's"), "FName='O''Neil''s'");
}

}  // namespace
}  // namespace morvent::test
