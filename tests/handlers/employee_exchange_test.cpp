// Employees (118) through the public classes: the golden round trip with
// the assist data and departments they refer to, and the fields whose
// import converts (dates, gender, bank, department, category and parent).
#include "context/glfunc.h"
#include "front/walks.h"
#include "platform/registry.h"
#include "store/ledger_admin.h"
#include "store/ledger_store.h"
#include "tests/handlers/fixture.h"

namespace morvent::test {
namespace {

std::string EmployeeFixture(const std::string& name) { return FixtureDir() + "/employee/" + name; }

class EmployeeExchangeTest : public HandlerTest {
 protected:
  // The kinds an employee refers to, then the employees, in a new ledger.
  std::string Copy(const std::string& source, const std::string& tag) {
    return CopyKinds(source, {122, 120, 118}, tag + "-target");
  }
};

TEST_F(EmployeeExchangeTest, FilesRoundTripThroughANewLedger) {
  std::string demo = DemoLedger();
  const struct {
    const char* in;  // imported into a copy of the demo ledger first; nullptr: the demo's own
    const char* golden;
  } cases[] = {{nullptr, "employees.xml"}, {"employees_in.xml", "employees_in_out.xml"}};
  int n = 0;
  for (const auto& c : cases) {
    const std::string tag = "rt" + std::to_string(++n);
    SCOPED_TRACE(tag);
    std::string source = c.in ? Seeded(Copy(demo, tag + "-src"), 118, EmployeeFixture(c.in), 2) : demo;
    const std::string first = home.file(tag + "-1.xml"), second = home.file(tag + "-2.xml");
    ASSERT_TRUE(Export(source, 118, first).result);
    EXPECT_EQ(ReadFile(first), ReadFile(EmployeeFixture(c.golden)));
    ASSERT_TRUE(Export(Copy(source, tag), 118, second).result);
    EXPECT_EQ(ReadFile(second), ReadFile(first));
  }
}

TEST_F(EmployeeExchangeTest, FieldsConvertOnImport) {
  std::string ledger = NewLedger("l.db");
  auto entry = [](const char* type, const char* number, const char* name) {
    return Rec({{"Name", name}, {"Number", number}, {"AssistType", Rec({{"Name", type}, {"Number", "0"}})}});
  };
  ASSERT_TRUE(Import(ledger, 122,
                     WriteRecords("assist.xml", "AssistDetail",
                                  {entry("职员类别", "01", "合同工"), entry("职务", "01", "会计")}),
                     1, 1)
                  .result);
  const auto sub = [](const char* name, const char* number = "0") { return Rec({{"Name", name}, {"Number", number}}); };
  // Each case imports employee 90 (or 90.01, under 90) with ImpStyle 2 and
  // reads one field back, in this order.
  const struct {
    std::vector<std::pair<std::string, Variant>> keys;
    const char* field;
    std::string expected;
    const char* number = "90";
  } cases[] = {
      {{{"Birthday", "2001-02-03"}}, "FBirthday", "2001-02-03"},
      {{{"Birthday", ""}}, "FBirthday", "2001-02-03"},            // empty: left as it was
      {{{"Birthday", "2001-02-30"}}, "FBirthday", "2001-02-03"},  // no such day
      {{{"Birthday", "3/4/2001"}}, "FBirthday", "2001-02-03"},    // not a form the values read
      {{{"Birthday", "2001/2/4 8:30:00"}, {"HireDate", "2020-07-01"}}, "FBirthday", "2001-02-04 08:30:00"},
      {{{"HireDate", "2020-07-01"}, {"LeaveDate", "x"}}, "FLeaveDate", ""},
      {{}, "FGender", "男"},  // absent
      {{{"Gender", "女"}}, "FGender", "女"},
      {{{"Gender", "未知"}}, "FGender_ID", "0"},
      {{}, "FBankAccount", " "},
      {{{"BankAccount", "6222"}}, "FBankAccount", "6222"},
      {{}, "FBankID", ""},
      {{{"Department", sub("新部门", "07")}}, "FDepartmentID", "新部门"},  // unknown: imported
      {{{"Duty", sub("会计")}, {"EmpType", sub("合同工")}}, "FEmpGroup", "合同工"},
      {{{"Duty", sub("董事")}}, "FDuty_ID", "0"},  // not an entry of the property
      {{{"EmpType", sub("合同工")}, {"EmpGroup", sub("王五", "90")}}, "FEmpGroup", "合同工", "90.01"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(++n);
    auto record = ItemRecord(c.number, "王五");
    for (const auto& [key, value] : c.keys) record->SetValue(key, value);
    RunResult run = Import(ledger, 118, WriteRecords("e" + std::to_string(n) + ".xml", "Employee", {record}), 2, 1);
    ASSERT_TRUE(run.result) << (run.errors.empty() ? "" : run.errors.front());
    EXPECT_EQ(TextOf(ItemField(ledger, 3, c.number, c.field)), c.expected);
  }
  EXPECT_EQ(Items(ledger, 2).at("07").name, "新部门");
  EXPECT_EQ(Items(ledger, 3).at("90.01").parentNumber, "90") << "EmpGroup is the parent, EmpType the category";
}

TEST_F(EmployeeExchangeTest, ExportLeavesOutDepartmentsItCannotNameAndEmptyCompanyCodes) {
  std::string ledger = NewLedger("l.db");
  ASSERT_TRUE(Import(ledger, 118,
                     WriteRecords("in.xml", "Employee",
                                  {ItemRecord("01", "甲"), ItemRecord("02", "乙"), ItemRecord("03", "丙")}),
                     1, 1)
                  .result);
  ASSERT_TRUE(Import(ledger, 120, WriteRecords("d.xml", "Department", {ItemRecord("01", "部门甲")}), 1, 1).result);
  const auto employees = Items(ledger, 3);
  const int32_t department = Items(ledger, 2).at("01").id;
  // 01 names a department; 02 names an employee, which no department is;
  // 03 names nothing.
  auto store = LedgerStore::ForProps(Props(ledger));
  // Stored as another program would, past the item's own checks.
  auto put = [&](int32_t id, const std::string& fields) {
    store->Exec("UPDATE t_Item SET FValues = json_patch(coalesce(FValues, '{}'), '" + fields + "') WHERE FItemID = " +
                std::to_string(id));
  };
  put(employees.at("01").id, "{\"FDepartmentID\":" + std::to_string(department) + "}");
  put(employees.at("02").id, "{\"FDepartmentID\":" + std::to_string(employees.at("03").id) + "}");
  put(employees.at("03").id, "{\"FBrNo\":\"SH01\"}");
  const std::string file = home.file("out.xml");
  RunResult run = Export(ledger, 118, file);
  ASSERT_TRUE(run.result);
  DataRecordPtr records[3];
  auto collection = std::make_shared<RecordCollection>();
  std::string err;
  ASSERT_TRUE(ReadDataFile(collection, file, SchemaPath("SchemaEmployee.xml"), "Employee", err));
  ASSERT_EQ(collection->UBound(), 3);
  for (int i = 0; i < 3; ++i) records[i] = collection->Item(i + 1);
  EXPECT_EQ(records[0]->Record("Department")->Value("Name").ToText(), "部门甲");
  EXPECT_FALSE(records[1]->Has("Department"));
  EXPECT_FALSE(records[2]->Has("Department"));
  EXPECT_FALSE(records[0]->Has("CompanyCode"));
  EXPECT_EQ(records[2]->Value("CompanyCode").ToText(), "SH01");
  EXPECT_EQ(records[0]->Value("Gender").ToText(), "男");
  EXPECT_EQ(records[0]->Value("BankAccount").ToText(), " ") << "imported without one";
}

TEST_F(EmployeeExchangeTest, FailuresNameTheRecord) {
  std::string ledger = NewLedger("l.db");
  RunResult run = Import(ledger, 118, WriteRecords("in.xml", "Employee", {ItemRecord("01.02", "甲"), ItemRecord("03", "丙")}),
                         1, 1, Client{.letErrorsPass = true});
  EXPECT_TRUE(run.result);
  EXPECT_EQ(run.errors, std::vector<std::string>{
                            "引入职员资料错误，当前记录名称为：甲\r错误信息：\r代码01.02 编码中不能打点，该记录无法引入！"});
  EXPECT_EQ(run.rows.size(), 2u);
  const auto items = Items(ledger, 3);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items.begin()->second.name, "丙");

  ScopedFactory broken(kItemSet, nullptr);
  run = Export(ledger, 118, home.file("out.xml"));
  EXPECT_FALSE(run.result);
  EXPECT_EQ(run.errors,
            std::vector<std::string>{"导出职员资料出错，当前记录名称为：\r错误信息：\r部件不能创建对象：Corabin.ItemSet"});
}

}  // namespace
}  // namespace morvent::test
