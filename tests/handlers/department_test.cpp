// Departments: number checks and their errors, the run's answers to the
// client, parents that are missing, and the repaired parent resolution.
#include "items/department.h"
#include "platform/error.h"
#include "tests/handlers/fixture.h"

namespace morvent::test {
namespace {

const std::string kErr = "引入部门资料错误，当前记录名称为：";
std::string Message(const std::string& name, const std::string& description) {
  return kErr + name + "\r错误信息：\r" + description;
}

DataRecordPtr Dept(const std::string& number, const std::string& name, const std::string& parent = "",
                   const std::string& parentName = "") {
  return parent.empty() && parentName.empty() ? ItemRecord(number, name)
                                              : ItemRecord(number, name, "DeptGroup", parent, parentName);
}

class DepartmentTest : public RecordsTest {
 protected:
  DepartmentTest() { code = 120; }
  // Calls GetID directly and answers the error it raises.
  Error GetIDError(const DataRecordPtr& record, int imp, int coding) {
    Bind(ledger, imp, coding);
    CDepartment d;
    try {
      d.GetID(record);
    } catch (const Error& e) {
      return e;
    }
    ADD_FAILURE() << "GetID raised nothing";
    return Error(0, "", "");
  }
};

TEST_F(DepartmentTest, NumberChecksRaiseTheirCodesAndMessages) {
  ASSERT_TRUE(Run({Dept("01", "研发中心")}, 1, 1).result);
  struct Case {
    DataRecordPtr record;
    int coding;
    int32_t code;
    std::string description;
  } cases[] = {
      // No parent but a dotted number: E1 under every coding style.
      {Dept("01.02", "甲"), 1, static_cast<int32_t>(0x8004010A), "代码01.02 编码中不能打点，该记录无法引入！"},
      {Dept("01.02", "甲"), 2, static_cast<int32_t>(0x8004010A), "代码01.02 编码中不能打点，该记录无法引入！"},
      {Dept("01.02", "甲"), 3, static_cast<int32_t>(0x8004010A), "代码01.02 编码中不能打点，该记录无法引入！"},
      // Undotted style: a dotted number, a dotted parent.
      {Dept("01.02", "甲", "01"), 2, static_cast<int32_t>(0x8004010A), "代码01.02 编码中不能打点，该记录无法引入！"},
      {Dept("0102", "甲", "0.1"), 2, static_cast<int32_t>(0x80040236),
       "代码0102 的上级代码的编码中不能打点，当前记录无法引入！"},
      // Not one level below the parent.
      {Dept("02.01", "甲", "01"), 1, static_cast<int32_t>(0x8004016E), "代码02.01 与其上级代码01 编码不一致，无法引入！"},
      {Dept("01.02.03", "甲", "01"), 1, static_cast<int32_t>(0x8004016E),
       "代码01.02.03 与其上级代码01 编码不一致，无法引入！"},
      {Dept("1.01", "甲", "01"), 1, static_cast<int32_t>(0x8004016E), "代码1.01 与其上级代码01 编码不一致，无法引入！"},
      {Dept("0201", "甲", "03"), 2, static_cast<int32_t>(0x8004016E), "代码0201 与其上级代码03 编码不一致，无法引入！"},
  };
  for (const auto& c : cases) {
    Error e = GetIDError(c.record, 1, c.coding);
    EXPECT_EQ(e.Number(), c.code) << c.description;
    EXPECT_EQ(e.Source(), "PreImport");
    EXPECT_EQ(e.Description(), c.description);
  }
  // E4: the parent is in the ledger but the option value knows no answer.
  Error e = GetIDError(Dept("01.05", "甲", "01"), 7, 1);
  EXPECT_EQ(e.Number(), static_cast<int32_t>(0x800401D2));
  EXPECT_EQ(e.Source(), "PreImport");
  EXPECT_EQ(e.Description(), "引入01.05 的上级代码出现错误！");
}

TEST_F(DepartmentTest, ErrorsReachTheClientWithTheRecordName) {
  // E1's number is the number as read; the others trim it.
  RunResult run = Run({Dept("01.02 ", "无上级"), Dept(" 0102", "点号上级", "0.1"), Dept("02.01", "错位", "01")}, 1,
                      2, Client{.letErrorsPass = true});
  EXPECT_TRUE(run.result);
  ASSERT_EQ(run.errors.size(), 3u);
  EXPECT_EQ(run.errors[0], Message("无上级", "代码01.02  编码中不能打点，该记录无法引入！"));
  EXPECT_EQ(run.errors[1], Message("点号上级", "代码0102 的上级代码的编码中不能打点，当前记录无法引入！"));
  EXPECT_EQ(run.errors[2], Message("错位", "代码02.01 编码中不能打点，该记录无法引入！"));
}

TEST_F(DepartmentTest, ALetPassErrorResumesWithTheNextRecord) {
  RunResult run = Run({Dept("01", "甲"), Dept("02.01", "坏一"), Dept("03", "乙"), Dept("01.01", "坏二", "09"),
                       Dept("04", "丙")},
                      1, 1, Client{.letErrorsPass = true});
  EXPECT_TRUE(run.result);
  // Every record gets its progress event, the failed ones too.
  ASSERT_EQ(run.rows.size(), 5u);
  EXPECT_EQ(run.rows[1].row, 2);
  EXPECT_EQ(run.rows[1].rate, 40);
  ASSERT_EQ(run.errors.size(), 2u);
  EXPECT_EQ(run.errors[1], Message("坏二", "代码01.01 与其上级代码09 编码不一致，无法引入！"));
  EXPECT_EQ(LogEntries(), 2);
  auto items = Items(ledger, 2);
  EXPECT_EQ(items.size(), 3u);
  EXPECT_TRUE(items.count("04"));
}

TEST_F(DepartmentTest, AnErrorLeftCancelledStopsTheRun) {
  RunResult run = Run({Dept("01", "甲"), Dept("02.01", "坏"), Dept("03", "乙")}, 1, 1);
  EXPECT_FALSE(run.result);
  EXPECT_EQ(run.rows.size(), 1u);
  EXPECT_EQ(run.errors.size(), 1u);
  EXPECT_EQ(LogEntries(), 1);
  EXPECT_EQ(Items(ledger, 2).size(), 1u);
}

TEST_F(DepartmentTest, CancelInAProgressEventStopsAfterThatRecord) {
  RunResult run = Run({Dept("01", "甲"), Dept("02", "乙"), Dept("03", "丙")}, 1, 1, Client{.cancelAtRow = 2});
  EXPECT_FALSE(run.result);
  EXPECT_EQ(run.rows.size(), 2u);
  auto items = Items(ledger, 2);
  EXPECT_EQ(items.size(), 2u);
  EXPECT_FALSE(items.count("03"));
}

TEST_F(DepartmentTest, NumbersAreCutAt255CharactersAndNamesStoredWhole) {
  std::string longNumber, longName;
  for (int i = 0; i < 300; ++i) longNumber += "部";
  for (int i = 0; i < 400; ++i) longName += "名";
  RunResult run = Run({Dept(longNumber, longName)}, 1, 1);
  EXPECT_TRUE(run.result);
  auto items = Items(ledger, 2);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(CharLength(items.begin()->first), 255u);
  EXPECT_EQ(items.begin()->second.name, longName);
}

TEST_F(DepartmentTest, ParentsMissingFromTheFileAreCreatedBareAtTheTopLevel) {
  RunResult run = Run({Dept("05.01", "华东分部", "05", "销售中心"), Dept("05.02", "华南分部", "05", "销售中心"),
                       Dept("05.01.01", "上海组", "05.01")},
                      1, 1);
  EXPECT_TRUE(run.result);
  auto items = Items(ledger, 2);
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items["05"].name, "销售中心");
  EXPECT_EQ(items["05"].parentNumber, "");
  EXPECT_EQ(items["05.02"].parentNumber, "05");
  EXPECT_EQ(items["05.01.01"].parentNumber, "05.01");
}

TEST_F(DepartmentTest, AParentLaterInTheFileIsImportedOnceInFull) {
  auto parent = Dept("06", "后勤中心");
  parent->SetValue("Note", "完整记录");
  RunResult run = Run({Dept("06.01", "车队", "06", "只有名字"), parent}, 2, 1);
  EXPECT_TRUE(run.result);
  ASSERT_EQ(run.rows.size(), 2u);
  auto items = Items(ledger, 2);
  EXPECT_EQ(items["06"].name, "后勤中心");
  EXPECT_EQ(ItemField(ledger, 2, "06", "FNote").ToText(), "完整记录");
}

TEST_F(DepartmentTest, GetIDCreatesAMissingParentBare) {
  Bind(ledger, 1, 1);
  CDepartment d;
  int32_t id = d.GetID(Dept("07.01", "质检部", "07", "生产中心"));
  EXPECT_GT(id, 0);
  auto items = Items(ledger, 2);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items["07"].name, "生产中心");
  EXPECT_EQ(items["07.01"].id, id);
  EXPECT_EQ(items["07.01"].parentNumber, "07");
  // A second call finds the department: no new item.
  Bind(ledger, 1, 1);
  EXPECT_EQ(d.GetID(Dept("07.01", "改名", "07")), id);
  EXPECT_EQ(Items(ledger, 2).size(), 2u);
}

TEST_F(DepartmentTest, GetIDTakesNumbersThatAreNotText) {
  // A record made in memory may carry numbers as numbers.
  Bind(ledger, 1, 2);
  CDepartment d;
  auto r = Rec({{"Number", int32_t{801}}, {"Name", "仓储部"}});
  r->SetValue("DeptGroup", Rec({{"Name", "物流中心"}, {"Number", int32_t{8}}}));
  EXPECT_GT(d.GetID(r), 0);
  auto items = Items(ledger, 2);
  EXPECT_EQ(items["8.01"].parentNumber, "8");
  EXPECT_EQ(items["8"].name, "物流中心");
}

TEST_F(DepartmentTest, SecondChildUnderAParentHandledThroughAMarker) {
  // Undotted, children before their parents: the second child meets the
  // marker of 0101 and must still find it stored as 01.01.
  RunResult run = Run({Dept("010101", "一组", "0101"), Dept("010102", "二组", "0101"), Dept("010103", "三组", "0101"),
                       Dept("0101", "软件部", "01"), Dept("01", "研发中心")},
                      1, 2);
  EXPECT_TRUE(run.result);
  EXPECT_TRUE(run.errors.empty()) << run.errors.front();
  auto items = Items(ledger, 2);
  ASSERT_EQ(items.size(), 5u);
  for (const char* n : {"01.01.01", "01.01.02", "01.01.03"}) EXPECT_EQ(items[n].parentNumber, "01.01") << n;
}

TEST_F(DepartmentTest, AParentStoredDottedIsFoundFromItsUndottedNumber) {
  ASSERT_TRUE(Run({Dept("01", "研发中心"), Dept("01.01", "软件部", "01")}, 1, 1).result);
  RunResult run = Run({Dept("010104", "运维组", "0101"), Dept("010105", "安全组", "0101")}, 1, 2);
  EXPECT_TRUE(run.result);
  auto items = Items(ledger, 2);
  EXPECT_EQ(items.size(), 4u);
  EXPECT_FALSE(items.count("0101"));  // no second, bare parent
  EXPECT_EQ(items["01.01.04"].parentNumber, "01.01");
  EXPECT_EQ(items["01.01.05"].parentNumber, "01.01");
}

TEST_F(DepartmentTest, AnAmbiguousUndottedParentIsCreatedBare) {
  // Two stored numbers read 0101 without their dots: neither is taken.
  // (Coding style 3 stores them as given, at the top level.)
  ASSERT_TRUE(Run({Dept("01.01", "甲", "01"), Dept("010.1", "乙", "010")}, 1, 3).result);
  RunResult run = Run({Dept("010106", "丙", "0101", "新上级")}, 1, 2);
  EXPECT_TRUE(run.result);
  auto items = Items(ledger, 2);
  EXPECT_EQ(items["0101"].name, "新上级");
  EXPECT_EQ(items["0101.06"].parentNumber, "0101");
}

TEST_F(DepartmentTest, ParentChainsThatComeBackStayBounded) {
  RunResult run = Run({Dept("07", "自指", "07"), Dept("08", "互指甲", "08"), Dept("08", "互指乙", "08"), Dept("09", "正常")},
                      1, 2, Client{.letErrorsPass = true});
  EXPECT_TRUE(run.result);
  ASSERT_EQ(run.errors.size(), 3u);
  EXPECT_EQ(run.errors[0], Message("自指", "引入07 的上级代码出现错误！"));
  EXPECT_EQ(run.errors[1], Message("互指甲", "引入08 的上级代码出现错误！"));
  auto items = Items(ledger, 2);
  EXPECT_EQ(items.size(), 1u);
  EXPECT_TRUE(items.count("09"));
}

TEST_F(DepartmentTest, ASelfNamedRecordAlreadyInTheLedgerIsKept) {
  ASSERT_TRUE(Run({Dept("07", "行政中心")}, 1, 1).result);
  int32_t id = Items(ledger, 2)["07"].id;
  RunResult run = Run({Dept("07", "改名", "07")}, 1, 2);
  EXPECT_TRUE(run.result);
  EXPECT_TRUE(run.errors.empty()) << run.errors.front();
  auto items = Items(ledger, 2);
  ASSERT_EQ(items.size(), 1u);  // no "07." below it
  EXPECT_EQ(items["07"].id, id);
  EXPECT_EQ(items["07"].name, "行政中心");
  // Overwriting: the record is stored once, as itself.
  run = Run({Dept("07", "改名", "07")}, 2, 2);
  EXPECT_TRUE(run.result);
  EXPECT_TRUE(run.errors.empty()) << run.errors.front();
  items = Items(ledger, 2);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items["07"].name, "改名");
}

}  // namespace
}  // namespace morvent::test
