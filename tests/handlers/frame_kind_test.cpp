// The item frame carrying another kind's differences without being copied:
// references through registered lookups, a parent as plain keys, another
// number width, a preset field, the first save placed among the fields,
// a field left out when empty and a field with its own conversion.
#include "items/department.h"
#include "items/item_frame.h"
#include "ledger/currency.h"
#include "ledger/settle.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tests/handlers/fixture.h"

namespace morvent::test {
namespace {

const ItemKind& TestKind() {
  static const ItemKind kind = [] {
    ItemKind k;
    k.code = 114;
    k.itemClassId = 8;
    k.schemaFile = "SchemaSupplier.xml";
    k.element = "Supplier";
    k.parent.nameKey = "ParentName";
    k.parent.numberKey = "ParentNumber";
    k.exportProgress = "导出：";
    k.exportError = "导出错误：";
    k.importProgress = "引入：";
    k.importError = "引入错误：";
    k.numberWidth = 10;
    k.lookups = {{"Currency", LookupOf<CCurrency>()}, {"Settle", LookupOf<CSettle>()}};
    ItemField phone;
    phone.key = "Phone";
    phone.kind = FieldKind::Custom;
    phone.exportFn = [](CItemFrame&, LedgerObject& item, DataRecord& r) {
      r.SetValue("Phone", "tel:" + NullToDefault(item.Properties("FPhone"), "").ToText());
    };
    phone.importFn = [](CItemFrame&, LedgerObject& item, const DataRecord& r) {
      item.SetProperties("FPhone", Replace(r.GetValue("Phone", "").ToText(), "tel:", ""));
    };
    ItemField company = TextField("CompanyCode", "FBrNo");
    company.omitWhenEmpty = true;
    k.fields = {
        TextField("ShortName", "FShortName"),
        NumberField("CreditDays", "FCreditDays", FieldSet::NonGY),
        ReferenceField("SettleCurrency", "FCyID", "Currency"),
        ReferenceField("SettleMode", "FSetID", "Settle"),
        phone,
        company,
    };
    k.importOrder = {"ShortName", kFirstSave, "SettleMode", "SettleCurrency", "CreditDays", "Phone", "CompanyCode"};
    k.presets = {{"FTypeID", int16_t{0}, FieldSet::NonGY}};
    return k;
  }();
  return kind;
}

class TestHandler : public CItemFrame {
 public:
  TestHandler() : CItemFrame(TestKind()) {}
};

class FrameKindTest : public HandlerTest {
 protected:
  int32_t Store(const DataRecordPtr& r, int imp = 1, int coding = 1) {
    Bind(ledger, imp, coding);
    return handler.GetID(r);
  }
  void SetField(const std::string& number, const std::string& field, const Variant& v) {
    Bind(ledger);
    auto set = CreateObjectAs<ObjectSet>(kItemSet);
    set->SetRestriction("ItemClassID", int16_t{8});
    set->Refresh();
    auto item = set->Item(set->ExistenceCheck({{"Number", number}, {"ItemClassID", int16_t{8}}}));
    item->SetProperties(field, v);
    item->SaveChanges();
  }
  std::string ledger;
  TestHandler handler;
};

DataRecordPtr Supplier(const std::string& number, const std::string& name) {
  return Rec({{"Number", number}, {"Name", name}});
}

TEST_F(FrameKindTest, ReferencesGoThroughTheRegisteredLookups) {
  ledger = NewLedger("l.db", "QY");
  auto r = Supplier("S01", "华南五金");
  r->SetValue("SettleCurrency", Rec({{"Number", "USD"}, {"Name", "美元"}, {"ExchangeRate", "7.1"}}));
  r->SetValue("SettleMode", Rec({{"Number", "JF09"}, {"Name", "信用证"}}));
  int32_t id = Store(r);

  auto currencies = Objects(ledger, kCurrencySet, 2);
  ASSERT_EQ(currencies.size(), 1u);
  EXPECT_EQ(ItemField(ledger, 8, "S01", "FCyID_ID").ToLong(), currencies[0]->Get("CurrencyID").ToLong());

  Bind(ledger);
  auto info = handler.GetInfo(id);
  std::vector<std::string> keys;
  for (const auto& [k, v] : info->Entries()) keys.push_back(k);
  EXPECT_EQ(keys, (std::vector<std::string>{"Number", "Name", "ShortName", "CreditDays", "SettleCurrency", "SettleMode",
                                            "Phone"}));
  EXPECT_EQ(info->Record("SettleCurrency")->Value("ExchangeRate").ToText(), "7.1");
  EXPECT_EQ(info->Record("SettleMode")->Value("Name").ToText(), "信用证");
  EXPECT_EQ(info->Value("CreditDays").ToText(), "0");

  // A reference to an object that no longer exists is left out.
  SetField("S01", "FCyID", int32_t{999});
  Bind(ledger);
  EXPECT_FALSE(handler.GetInfo(id)->Has("SettleCurrency"));
}

TEST_F(FrameKindTest, ParentAsPlainKeysIsTrimmedAndCreatedBare) {
  ledger = NewLedger("l.db", "QY");
  auto r = Supplier(" S02.01 ", "深圳分号");
  r->SetValue("ParentNumber", " S02 ");
  r->SetValue("ParentName", "华南区");
  int32_t id = Store(r);
  auto items = Items(ledger, 8);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items["S02"].name, "华南区");
  EXPECT_EQ(items["S02.01"].parentNumber, "S02");
  Bind(ledger);
  auto info = handler.GetInfo(id);
  EXPECT_EQ(info->Value("ParentNumber").ToText(), "S02");
  EXPECT_EQ(info->Value("ParentName").ToText(), "华南区");
  EXPECT_FALSE(info->Has("DeptGroup"));
  // A blank parent number is no parent: a dotted number then fails.
  auto top = Supplier("S03.01", "无上级");
  top->SetValue("ParentNumber", "  ");
  try {
    Store(top);
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(e.Description(), "代码S03.01 编码中不能打点，该记录无法引入！");
  }
}

TEST_F(FrameKindTest, NumberWidthPresetsAndOmittedFields) {
  ledger = NewLedger("l.db", "QY");
  Store(Supplier("S0400000001234", "长号"));
  auto items = Items(ledger, 8);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items.begin()->first, "S040000000");

  SetField("S040000000", "FTypeID", int32_t{5});
  SetField("S040000000", "FBrNo", "");
  Bind(ledger);
  auto info = handler.GetInfo(items.begin()->second.id);
  EXPECT_FALSE(info->Has("CompanyCode"));
  Store(Supplier("S040000000", "改名"), 2);
  EXPECT_EQ(ItemField(ledger, 8, "S040000000", "FTypeID").ToLong(), 0);

  // The preset and the non-GY field belong to other ledgers only.
  ledger = NewLedger("gy.db", "GY");
  auto r = Supplier("S05", "甲");
  r->SetValue("CompanyCode", "007");
  r->SetValue("CreditDays", "30");
  int32_t id = Store(r);
  SetField("S05", "FTypeID", int32_t{5});
  Store(Supplier("S05", "乙"), 2);
  EXPECT_EQ(ItemField(ledger, 8, "S05", "FTypeID").ToLong(), 5);
  EXPECT_EQ(NullToDefault(ItemField(ledger, 8, "S05", "FCreditDays"), int32_t{0}).ToLong(), 0);
  Bind(ledger);
  EXPECT_FALSE(handler.GetInfo(id)->Has("CreditDays"));
  // The overwrite wrote the absent company code as empty text.
  EXPECT_EQ(ItemField(ledger, 8, "S05", "FBrNo").ToText(), "");
}

TEST_F(FrameKindTest, CustomFieldsAndThePlacedFirstSave) {
  ledger = NewLedger("l.db", "QY");
  auto r = Supplier("S06", "丙");
  r->SetValue("Phone", "tel:0755-1234");
  r->SetValue("ShortName", "丙记");
  int32_t id = Store(r);
  EXPECT_EQ(ItemField(ledger, 8, "S06", "FPhone").ToText(), "0755-1234");
  Bind(ledger);
  EXPECT_EQ(handler.GetInfo(id)->Value("Phone").ToText(), "tel:0755-1234");

  // The settlement lookup fails on a null number: what was written before
  // the first save is stored, what follows is not.
  auto bad = Supplier("S07", "丁");
  bad->SetValue("ShortName", "丁记");
  bad->SetValue("Phone", "tel:020-1");
  bad->SetValue("SettleMode", Rec({{"Number", Variant::Null()}, {"Name", "坏"}}));
  EXPECT_THROW(Store(bad), Error);
  EXPECT_EQ(ItemField(ledger, 8, "S07", "FShortName").ToText(), "丁记");
  EXPECT_TRUE(ItemField(ledger, 8, "S07", "FPhone").IsNull());
}

// A handler of the assist-data shape: the property name travels with the ID.
struct AssistShaped {
  bool CheckID(int32_t id) { return id == 7; }
  DataRecordPtr GetInfo(int32_t id, const std::string& property) {
    return Rec({{"Name", property + std::to_string(id)}});
  }
  int32_t GetID(const DataRecord& r, int16_t cls, const std::string& property) {
    return r.Value("Name").ToText() == property ? cls : -1;
  }
};

TEST(LookupAdapter, PassesWhatEachHandlerShapeTakes) {
  auto lookup = LookupOf<AssistShaped>()();
  EXPECT_TRUE(lookup->CheckID(7));
  EXPECT_EQ(lookup->GetInfo(7, "区域")->Value("Name").ToText(), "区域7");
  EXPECT_EQ(lookup->GetID(Rec({{"Name", "行业"}}), 8, "行业"), 8);
  EXPECT_THROW(lookup->GetID(nullptr, 8, "行业"), Error);
}

// Another kind whose reference is a department, as employees carry one.
const ItemKind& WithDepartment() {
  static const ItemKind kind = [] {
    ItemKind k;
    k.itemClassId = 3;
    k.parent.subRecordKey = "EmpGroup";
    k.lookups = {{"Department", LookupOf<CDepartment>()}};
    ItemField dept = ReferenceField("Department", "FDepartmentID", "Department");
    dept.exportAccess = Access::DictionaryNoDefault;
    k.fields = {dept};
    return k;
  }();
  return kind;
}

TEST_F(FrameKindTest, ADepartmentLookupServesAnotherKind) {
  ledger = NewLedger("l.db");
  Bind(ledger);
  CItemFrame employees(WithDepartment());
  auto r = Rec({{"Number", "E001"}, {"Name", "张伟"}});
  r->SetValue("Department", ItemRecord("01.02", "出纳科", "DeptGroup", "01", "财务部"));
  int32_t id = employees.GetID(r);
  auto depts = Items(ledger, 2);
  ASSERT_EQ(depts.size(), 2u);  // the department and its bare parent
  EXPECT_EQ(ItemField(ledger, 3, "E001", "FDepartmentID_ID").ToLong(), depts["01.02"].id);
  Bind(ledger);
  auto info = employees.GetInfo(id);
  auto dept = info->Record("Department");
  ASSERT_TRUE(dept);
  EXPECT_EQ(dept->Value("Number").ToText(), "01.02");
  EXPECT_EQ(dept->Record("DeptGroup")->Value("Name").ToText(), "财务部");
}

}  // namespace
}  // namespace morvent::test
