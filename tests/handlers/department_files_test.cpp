// Departments through whole data files: the two field sets, round trips
// against golden files, and the export's answers to the client.
#include "context/glfunc.h"
#include "context/props.h"
#include "front/export_base.h"
#include "front/import_base.h"
#include "items/department.h"
#include "platform/registry.h"
#include "store/ledger_admin.h"
#include "tests/handlers/fixture.h"

namespace morvent::test {
namespace {

class DepartmentFiles : public HandlerTest {};

TEST_F(DepartmentFiles, GYLedgerRoundTripsTheGoldenFile) {
  std::string a = NewLedger("a.db", "GY");
  RunResult in = Import(a, 120, Fixture("departments_in.xml"), 1, 1);
  ASSERT_TRUE(in.result);
  ASSERT_TRUE(in.errors.empty());
  auto [first, second] = RoundTrip(a, 120, "gy");
  // Absent manager, phone and fax export one space; the manager from the
  // file was never imported.
  EXPECT_EQ(first, ReadFile(Fixture("departments_gy.xml")));
  EXPECT_EQ(second, first);
}

TEST_F(DepartmentFiles, OtherLedgerRoundTripsTheGoldenFile) {
  std::string a = NewLedger("a.db", "QY");
  ASSERT_TRUE(Import(a, 120, Fixture("departments_in.xml"), 1, 1).result);
  auto [first, second] = RoundTrip(a, 120, "qy");
  EXPECT_EQ(first, ReadFile(Fixture("departments_qy.xml")));
  EXPECT_EQ(second, first);
}

TEST_F(DepartmentFiles, FieldSetsDecideWhatIsWritten) {
  std::string gy = NewLedger("gy.db", "GY"), qy = NewLedger("qy.db", "QY");
  ASSERT_TRUE(Import(gy, 120, Fixture("departments_in.xml"), 1, 1).result);
  ASSERT_TRUE(Import(qy, 120, Fixture("departments_in.xml"), 1, 1).result);

  EXPECT_EQ(ItemField(gy, 2, "01.01", "FPhone").ToText(), "010-6600-1101");
  EXPECT_EQ(ItemField(gy, 2, "02.01.01", "FPhone").ToText(), " 021-5500-2101 ");
  EXPECT_EQ(ItemField(gy, 2, "01", "FManager").IsNull(), true);
  EXPECT_TRUE(ItemField(qy, 2, "01.01", "FPhone").IsNull());
  EXPECT_TRUE(ItemField(qy, 2, "02", "FFax").IsNull());
  // Note and company code go to every ledger; an absent company code writes
  // empty text.
  for (const auto& l : {gy, qy}) {
    EXPECT_EQ(ItemField(l, 2, "01", "FBrNo").ToText(), "001");
    EXPECT_EQ(ItemField(l, 2, "02", "FBrNo").ToText(), "");
    EXPECT_EQ(ItemField(l, 2, "01.01", "FNote").ToText(), "总账与报表");
  }
  // A bare department has no phone, fax or manager: each exports one space,
  // which the overwrite then stores (the manager is never imported).
  Bind(gy);
  CDepartment d;
  d.GetID(ItemRecord("09.01", "车队", "DeptGroup", "09", "后勤部"));
  // Exported files carry no company code: overwriting from one clears it.
  std::string file = home.file("gy-out.xml");
  ASSERT_TRUE(Export(gy, 120, file).result);
  ASSERT_TRUE(Import(gy, 120, file, 2, 1).result);
  EXPECT_EQ(ItemField(gy, 2, "01", "FBrNo").ToText(), "");
  EXPECT_EQ(ItemField(gy, 2, "01", "FPhone").ToText(), "010-6600-1100");
  EXPECT_EQ(ItemField(gy, 2, "02", "FPhone").ToText(), "");
  EXPECT_EQ(ItemField(gy, 2, "09", "FPhone").ToText(), " ");
  EXPECT_EQ(ItemField(gy, 2, "09", "FFax").ToText(), " ");
  EXPECT_TRUE(ItemField(gy, 2, "09", "FManager").IsNull());
}

TEST_F(DepartmentFiles, ExportReportsEveryItemAndHonoursCancel) {
  std::string l = NewLedger("l.db");
  ASSERT_TRUE(Import(l, 120, Fixture("departments_in.xml"), 1, 1).result);
  std::string file = home.file("out.xml");
  RunResult run = Export(l, 120, file, Client{.cancelAtRow = 4});
  EXPECT_FALSE(run.result);
  ASSERT_EQ(run.rows.size(), 4u);
  EXPECT_EQ(run.rows[0].rate, 16);
  EXPECT_EQ(run.rows[3].rate, 66);
  EXPECT_FALSE(FileExist(file));

  run = Export(l, 120, file);
  EXPECT_TRUE(run.result);
  ASSERT_EQ(run.rows.size(), 6u);
  EXPECT_EQ(run.rows.back().rate, 100);
}

TEST_F(DepartmentFiles, AnEmptyClassExportsAnEmptyFile) {
  std::string l = NewLedger("l.db");
  std::string file = home.file("empty.xml");
  RunResult run = Export(l, 120, file);
  EXPECT_TRUE(run.result);
  EXPECT_TRUE(run.rows.empty());
  auto collection = std::make_shared<RecordCollection>();
  std::string err;
  ASSERT_TRUE(ReadDataFile(collection, file, SchemaPath("SchemaDepartment.xml"), "Department", err));
  EXPECT_EQ(collection->UBound(), 0);
}

TEST_F(DepartmentFiles, AnItemSetThatCannotBeOpenedIsReportedWithoutAName) {
  std::string l = NewLedger("l.db");
  std::string in = WriteRecords("in.xml", "Department", {ItemRecord("01", "甲")});
  ScopedFactory broken(kItemSet, nullptr);
  std::string description;
  try {
    CreateObject(kItemSet);
  } catch (const Error& e) {
    description = e.Description();
  }
  ASSERT_FALSE(description.empty());

  RunResult imp = Import(l, 120, in, 1, 1);
  EXPECT_FALSE(imp.result);
  ASSERT_EQ(imp.errors.size(), 1u);
  EXPECT_EQ(imp.errors[0], "引入部门资料错误，当前记录名称为：\r错误信息：\r" + description);

  std::string out = home.file("out.xml");
  RunResult exp = Export(l, 120, out);
  EXPECT_FALSE(exp.result);
  ASSERT_EQ(exp.errors.size(), 1u);
  EXPECT_EQ(exp.errors[0], "导出部门资料出错，当前记录名称为：\r错误信息：\r" + description);
  EXPECT_FALSE(FileExist(out));
}

TEST_F(DepartmentFiles, WithoutAcctTypeEachRecordFailsAndTheRunGoesOn) {
  std::string l = NewLedger("l.db");
  ASSERT_TRUE(Import(l, 120, Fixture("departments_in.xml"), 1, 1).result);
  const std::string props = "Data Source=" + l;
  ParseProps(props);
  const std::string missing = ErrorOf([] { GetProp("AcctType"); });
  ASSERT_FALSE(missing.empty());

  const Client pass{.letErrorsPass = true};
  std::string file = home.file("out.xml");
  RunResult out = ExportWith(props, 120, file, pass);
  EXPECT_TRUE(out.result);
  ASSERT_EQ(out.errors.size(), 6u);
  EXPECT_EQ(out.errors[0], "导出部门资料出错，当前记录名称为：财务部\r错误信息：\r" + missing);
  // Items whose records failed are left out of the file.
  auto collection = std::make_shared<RecordCollection>();
  std::string err;
  ASSERT_TRUE(ReadDataFile(collection, file, SchemaPath("SchemaDepartment.xml"), "Department", err)) << err;
  EXPECT_EQ(collection->UBound(), 0);

  // Importing stops each record at the field-set test, after its first
  // save, which is undone with the record.
  std::string in = WriteRecords("in.xml", "Department", {Rec({{"Number", "09"}, {"Name", "新部"}, {"Note", "备注"}})});
  RunResult imp = ImportWith(props, 120, in, nullptr, pass);
  EXPECT_TRUE(imp.result);
  EXPECT_EQ(imp.errors, std::vector<std::string>{"引入部门资料错误，当前记录名称为：新部\r错误信息：\r" + missing});
  EXPECT_EQ(Items(l, 2).count("09"), 0u);
}

TEST_F(DepartmentFiles, LookupsServeOtherHandlers) {
  std::string l = NewLedger("l.db");
  ASSERT_TRUE(Import(l, 120, Fixture("departments_in.xml"), 1, 1).result);
  auto items = Items(l, 2);
  Bind(l);
  CDepartment d;
  EXPECT_TRUE(d.CheckID(items["02.01"].id));
  EXPECT_FALSE(d.CheckID(987654));
  auto info = d.GetInfo(items["02.01"].id);
  EXPECT_EQ(info->Value("Number").ToText(), "02.01");
  EXPECT_EQ(info->Value("Name").ToText(), "华东销售区");
  auto parent = info->Record("DeptGroup");
  ASSERT_TRUE(parent);
  EXPECT_EQ(parent->Value("Number").ToText(), "02");
  EXPECT_EQ(d.GetInfo(987654)->Count(), 0u);
  // A department handler keeps its item set: an item stored meanwhile by
  // someone else is still found through the same set.
  CDepartment other;
  int32_t id = other.GetID(ItemRecord("03", "新部门"));
  EXPECT_TRUE(d.CheckID(id));
}

TEST_F(DepartmentFiles, EachExportNamesTheParentsAsTheyAreThen) {
  std::string l = NewLedger("l.db", "QY");
  ASSERT_TRUE(Import(l, 120, Fixture("departments_in.xml"), 1, 1).result);
  Bind(l);
  CDepartment d;
  std::string before = home.file("before.xml"), after = home.file("after.xml");
  ASSERT_TRUE(d.Export(Props(l), before));
  // Renamed between two exports by the same handler, and read by it in
  // between, the parent must be named anew each time.
  auto set = CreateObjectAs<ObjectSet>(kItemSet);
  set->SetRestriction("ItemClassID", Variant(int16_t{2}));
  auto parent = set->Item(set->ExistenceCheck({{"Number", Variant("01")}}));
  parent->Let("Name", Variant("计财部"));
  parent->SaveChanges();
  const int32_t child = Items(l, 2).at("01.02").id;
  EXPECT_EQ(d.GetInfo(child)->Record("DeptGroup")->Value("Name").ToText(), "计财部");
  ASSERT_TRUE(d.Export(Props(l), after));

  const std::string was = ReadFile(before), now = ReadFile(after);
  auto count = [](const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  const std::string oldGroup = "<DeptGroup>\n      <Name>财务部</Name>\n      <Number>01</Number>";
  const std::string newGroup = "<DeptGroup>\n      <Name>计财部</Name>\n      <Number>01</Number>";
  EXPECT_EQ(count(was, oldGroup), 2u) << was;  // both children of 01
  EXPECT_EQ(count(now, oldGroup), 0u) << now;
  EXPECT_EQ(count(now, newGroup), count(was, oldGroup)) << now;
}

}  // namespace
}  // namespace morvent::test
