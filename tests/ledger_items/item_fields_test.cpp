// Fields of items: kinds, references read under two names, the record view,
// letter case, unknown and read-only fields.
#include "tests/support/ledger_fixture.h"

namespace morvent::test {
namespace {

class ItemFieldsTest : public LedgerTest {
 protected:
  // A fresh copy of the item from the ledger, so reads see what was stored.
  LedgerObjectPtr Reread(int16_t classId, const LedgerObjectPtr& item) {
    return Items(classId)->Item(item->Get("ItemID").ToLong());
  }
  int32_t NewCurrency(const std::string& number, const std::string& name) {
    auto c = Set(kCurrencySet)->CreateNew({}, {{"Number", Variant(number)}, {"Name", Variant(name)}});
    c->SaveChanges();
    return c->Get("CurrencyID").ToLong();
  }
};

TEST_F(ItemFieldsTest, PlainFieldsKeepTheirKindThroughTheLedger) {
  auto customer = NewItem(1, "01", "北京华联商厦有限公司");
  customer->SetProperties("FAddress", Variant("北京市西单北大街120号"));
  customer->SetProperties("FCreditLimit", Variant("500000.5"));  // a number given as text
  customer->SetProperties("FCreditDays", Variant(int16_t{30}));
  customer->SaveChanges();
  auto employee = NewItem(3, "01", "赵建国");
  employee->SetProperties("FBirthday", Variant("1968-05-12"));
  employee->SetProperties("FHireDate", Variant(MakeDate(1998, 7, 1)));
  employee->SaveChanges();
  auto material = NewItem(4, "01", "冷轧钢板");
  material->SetProperties("FBatchManager", Variant(true));
  material->SetProperties("FIsSpecialTax", Variant(int16_t{0}));
  material->SaveChanges();

  auto c = Reread(1, customer);
  EXPECT_EQ(c->Properties("FAddress").ToText(), "北京市西单北大街120号");
  EXPECT_EQ(c->Properties("FCreditLimit").Type(), VarType::Double);
  EXPECT_DOUBLE_EQ(c->Properties("FCreditLimit").ToDouble(), 500000.5);
  EXPECT_EQ(c->Properties("FCreditDays").ToText(), "30");
  EXPECT_TRUE(c->Properties("FPhone").IsNull()) << "a field never written is Null";
  auto e = Reread(3, employee);
  EXPECT_EQ(e->Properties("FBirthday").Type(), VarType::Date);
  EXPECT_EQ(e->Properties("FBirthday").ToDate(), MakeDate(1968, 5, 12));
  EXPECT_EQ(e->Properties("FHireDate").ToDate(), MakeDate(1998, 7, 1));
  auto m = Reread(4, material);
  EXPECT_EQ(m->Properties("FBatchManager").Type(), VarType::Boolean);
  EXPECT_TRUE(m->Properties("FBatchManager").ToBool());
  EXPECT_FALSE(m->Properties("FIsSpecialTax").ToBool());

  // Null clears a stored value; a text that is no number is refused.
  c->SetProperties("FAddress", Variant::Null());
  c->SaveChanges();
  EXPECT_TRUE(Reread(1, c)->Properties("FAddress").IsNull());
  EXPECT_EQ(ErrorOf([&] { c->SetProperties("FCreditLimit", Variant("五十万")); }), "类型不匹配");
  EXPECT_EQ(ErrorOf([&] { e->SetProperties("FBirthday", Variant("不是日期")); }), "类型不匹配");
}

TEST_F(ItemFieldsTest, FieldNamesMatchWithoutRegardToCase) {
  auto branch = NewItem(10, "01", "华北分公司");
  int32_t owner = NewEntry("所有制", "01", "国有");
  // Exported as "FOwnershipID_ID", imported as "FOwnerShipID".
  branch->SetProperties("FOwnerShipID", Variant(owner));
  branch->SetProperties("finvestamt", Variant(5000000));
  branch->SaveChanges();
  auto b = Reread(10, branch);
  EXPECT_EQ(b->Properties("FOwnershipID_ID").ToLong(), owner);
  EXPECT_EQ(b->Properties("FOWNERSHIPID").ToText(), "国有");
  EXPECT_EQ(b->Properties("FInvestAmt").ToLong(), 5000000);
  EXPECT_EQ(b->Properties("fitemid").ToLong(), branch->Get("ItemID").ToLong());
  EXPECT_EQ(b->Get("name").ToText(), "华北分公司");
}

TEST_F(ItemFieldsTest, ReferencesReadAsIdUnderIdNameAndAsNameUnderBareName) {
  int32_t rmb = NewCurrency("RMB", "人民币");
  int32_t usd = NewCurrency("USD", "美元");
  int32_t north = NewEntry("区域", "01", "华北");
  NewEntry("区域", "02", "华东");
  auto customer = NewItem(1, "01", "客户甲");
  customer->SetProperties("FCyID", Variant(usd));          // a number stores the ID
  customer->SetProperties("FRegionID", Variant("华东"));    // a text looks the name up
  customer->SaveChanges();
  auto c = Reread(1, customer);
  EXPECT_EQ(c->Properties("FCyID_ID").ToLong(), usd);
  EXPECT_EQ(c->Properties("FCyID").ToText(), "美元");
  EXPECT_EQ(c->Properties("FRegionID").ToText(), "华东");
  EXPECT_NE(c->Properties("FRegionID_ID").ToLong(), north);

  c->SetProperties("FCyID_ID", Variant(rmb));
  c->SetProperties("FRegionID_ID", Variant(north));
  c->SaveChanges();
  c = Reread(1, c);
  EXPECT_EQ(c->Properties("FCyID").ToText(), "人民币");
  EXPECT_EQ(c->Properties("FRegionID").ToText(), "华北");
  EXPECT_TRUE(c->Properties("FSetID").IsNull()) << "an unset reference reads Null under both names";
  EXPECT_TRUE(c->Properties("FSetID_ID").IsNull());

  EXPECT_EQ(ErrorOf([&] { c->SetProperties("FCyID", Variant("港币")); }), "币别“港币”不存在");
  EXPECT_EQ(ErrorOf([&] { c->SetProperties("FRegionID", Variant("华南")); }), "辅助资料（区域）“华南”不存在");
}

TEST_F(ItemFieldsTest, ZeroAndVanishedReferencesReadBackAsStored) {
  auto employee = NewItem(3, "01", "李娜");
  employee->SetProperties("FDepartmentID_ID", Variant(987654));  // no such department
  employee->SetProperties("FDuty", Variant(0));
  employee->SaveChanges();
  auto e = Reread(3, employee);
  EXPECT_EQ(e->Properties("FDepartmentID_ID").ToLong(), 987654);
  EXPECT_TRUE(e->Properties("FDepartmentID").IsNull());
  EXPECT_EQ(e->Properties("FDuty_ID").ToLong(), 0);
  EXPECT_TRUE(e->Properties("FDuty").IsNull());

  // An item reference names only items of its own class.
  auto dept = NewItem(2, "01", "财务部");
  auto customer = NewItem(1, "01", "客户甲");
  e->SetProperties("FDepartmentID", dept->Get("ItemID"));
  e->SaveChanges();
  EXPECT_EQ(Reread(3, e)->Properties("FDepartmentID").ToText(), "财务部");
  e->SetProperties("FDepartmentID", customer->Get("ItemID"));
  e->SaveChanges();
  EXPECT_TRUE(Reread(3, e)->Properties("FDepartmentID").IsNull());
  e->SetProperties("FDepartmentID", Variant("财务部"));
  EXPECT_EQ(e->Properties("FDepartmentID_ID").ToLong(), dept->Get("ItemID").ToLong());
}

TEST_F(ItemFieldsTest, GenderAndAccountingModeExportAsNamesAndImportThroughThem) {
  int32_t female = Set(kSubMesSet)->ExistenceCheck({{"Name", Variant("女")}, {"TypeID", Variant(TypeId("性别"))}});
  ASSERT_GT(female, 0);
  auto employee = NewItem(3, "01", "孙丽华");
  employee->SetProperties("FGender", Variant(female));
  employee->SaveChanges();
  auto e = Reread(3, employee);
  EXPECT_EQ(e->Properties("FGender").ToText(), "女");
  EXPECT_EQ(e->Properties("FGender_ID").ToLong(), female);

  int32_t mode = NewEntry("核算模式", "01", "独立核算");
  auto branch = NewItem(10, "01", "北京分公司");
  branch->SetProperties("FAcctModeID", Variant(mode));
  branch->SaveChanges();
  EXPECT_EQ(Reread(10, branch)->Properties("FAcctModeID").ToText(), "独立核算");
}

TEST_F(ItemFieldsTest, FieldsStoringTheirValueItself) {
  auto parent = NewItem(4, "01", "原材料");
  auto material = NewItem(4, "01.01", "钢材", parent->Get("ItemID").ToLong());
  EXPECT_EQ(material->Properties("FParentID").ToLong(), parent->Get("ItemID").ToLong());
  EXPECT_EQ(material->Properties("FParentID").Type(), VarType::Long);
  material->SetProperties("FGoodSpec", Variant("不是编号"));
  material->SaveChanges();
  EXPECT_EQ(Reread(4, material)->Properties("FGoodSpec").ToText(), "不是编号");
  material->SetProperties("FGoodSpec", Variant(12));
  material->SaveChanges();
  EXPECT_TRUE(IsNumeric(Reread(4, material)->Properties("FGoodSpec")));
  EXPECT_EQ(Reread(4, material)->Properties("FGoodSpec").ToLong(), 12);
}

TEST_F(ItemFieldsTest, KeepAndStockTimeFlagsAreOneFieldUnderTwoNames) {
  auto material = NewItem(4, "01", "防锈漆");
  material->SetProperties("FIsKeepTime", Variant(true));
  material->SetProperties("FStockTime", Variant(true));
  material->SaveChanges();
  auto m = Reread(4, material);
  EXPECT_TRUE(m->Properties("FKeep").ToBool());
  EXPECT_TRUE(m->Properties("FIsStockTime").ToBool());
  EXPECT_TRUE(m->Properties("FBatch").IsNull()) << "other flags are not touched";
}

TEST_F(ItemFieldsTest, UnknownAndReadOnlyFieldsAreRefusedByName) {
  auto dept = NewItem(2, "01", "财务部");
  EXPECT_EQ(ErrorOf([&] { dept->Properties("FCreditLimit"); }), "核算项目类别“部门”没有字段“FCreditLimit”");
  EXPECT_EQ(ErrorOf([&] { dept->SetProperties("FCreditLimit", Variant(1)); }),
            "核算项目类别“部门”没有字段“FCreditLimit”");
  EXPECT_EQ(ErrorOf([&] { dept->Properties("FManager_ID"); }), "核算项目类别“部门”没有字段“FManager_ID”")
      << "only references answer under \"_ID\"";
  EXPECT_EQ(ErrorOf([&] { dept->SetProperties("FItemID", Variant(5)); }), "核算项目的字段“FItemID”是只读的");
  EXPECT_EQ(ErrorOf([&] { dept->SetProperties("FParentID", Variant(5)); }), "核算项目的字段“FParentID”是只读的");
  EXPECT_EQ(ErrorOf([&] { dept->Let("ItemID", Variant(5)); }), "核算项目的属性“ItemID”是只读的");
  EXPECT_EQ(ErrorOf([&] { dept->Get("Manager"); }), "核算项目没有属性“Manager”");
  EXPECT_EQ(ErrorOf([&] { dept->Call("SetDefaultUnit", {}, {}); }), "对象不支持该属性或方法：SetDefaultUnit");
}

TEST_F(ItemFieldsTest, DictionaryAnswersDefaultsForFieldsTheClassLacksAndNullForEmptyOnes) {
  auto dept = NewItem(2, "01", "财务部");
  auto dict = dept->Dictionary();
  EXPECT_TRUE(dict->GetValue("FManager", Variant(" ")).IsNull()) << "carried but empty";
  EXPECT_EQ(dict->GetValue("FBankAccount", Variant(" ")).ToText(), " ") << "not carried by departments";
  EXPECT_TRUE(dict->Has("fmanager"));
  EXPECT_FALSE(dict->Has("FBankAccount"));
  EXPECT_TRUE(dict->Value("FBankAccount").IsEmpty());

  // Writes through the view are stored by SaveChanges.
  dict->SetValue("FManager", Variant("孙丽华"));
  dict->SetValue("FPhone", Variant("010-65881002"));
  EXPECT_EQ(ErrorOf([&] { dict->SetValue("FBankAccount", Variant("1")); }),
            "核算项目类别“部门”没有字段“FBankAccount”");
  dept->SaveChanges();
  auto again = Reread(2, dept)->Dictionary();
  EXPECT_EQ(again->GetValue("FManager", Variant(" ")).ToText(), "孙丽华");
  EXPECT_EQ(again->GetValue("FPhone").ToText(), "010-65881002");

  // References read by ID through the view, as the material handler does.
  auto material = NewItem(4, "01", "冷轧钢板");
  auto md = material->Dictionary();
  EXPECT_EQ(NullToDefault(md->GetValue("FBatchManager", Variant(false)), Variant(false)).ToBool(), false);
  md->SetValue("FAcctID", Variant(321));
  md->SetValue("FDefStockID_ID", Variant(654));
  material->SaveChanges();
  auto mr = Reread(4, material)->Dictionary();
  EXPECT_EQ(mr->GetValue("FAcctID_ID", Variant(0)).ToLong(), 321);
  EXPECT_EQ(mr->GetValue("FDefStockID_ID", Variant(0)).ToLong(), 654);
  bool listed = false;
  for (const auto& [key, value] : mr->Entries()) listed = listed || (key == "FAcctID_ID" && value.ToLong() == 321);
  EXPECT_TRUE(listed);
}

TEST_F(ItemFieldsTest, EveryFieldTheHandlersUseIsCarried) {
  struct Case {
    int16_t cls;
    std::vector<const char*> fields;
  };
  const std::vector<Case> cases = {
      {1, {"FShortName", "FContact", "FCreditLimit", "FCIQNumber", "FCyID_ID", "FRegionID_ID", "FTrade_ID",
           "FSetID_ID", "FStatus_ID", "FCreditDays", "FCreditAmount", "FCreditLevel", "FAddress", "FPhone", "FFax",
           "FPostalCode", "FEmail", "FBank", "FAccount", "FTaxNum", "FCity", "FProvince", "FCountry", "FHomePage",
           "FBrNo", "FParentID"}},
      {8, {"FShortName", "FContact", "FPostalCode", "FEmail", "FCreditLimit", "FCity", "FProvince", "FCountry",
           "FHomePage", "FCyID_ID", "FRegionID_ID", "FTrade_ID", "FSetID_ID", "FStatus_ID", "FCreditDays",
           "FCreditAmount", "FCreditLevel", "FAddress", "FPhone", "FFax", "FBank", "FAccount", "FTaxNum", "FBrNo",
           "FTypeID"}},
      {2, {"FManager", "FPhone", "FFax", "FNote", "FBrNo"}},
      {3, {"FGender", "FBirthday", "FEmail", "FAddress", "FPhone", "FID", "FHireDate", "FLeaveDate", "FBankID",
           "FBankAccount", "FNote", "FBrNo", "FDuty_ID", "FDegree_ID", "FDepartmentID_ID", "FEmpGroup_ID"}},
      {5, {"FAddress", "FPhone", "FBrNo", "FEmpID_ID", "FProperty_ID", "FTypeID_ID", "FTypeID"}},
      {4, {"FModel", "FBrNo", "FTrack_ID", "FLowLimit", "FHighLimit", "FBatchManager", "FSecInv", "FLeadTime",
           "FPlanPrice", "FSalePrice", "FPriceDecimal", "FQtyDecimal", "FErpClsID_ID", "FUnitID_ID",
           "FDefaultLoc_ID", "FSource_ID", "FGoodSpec", "FOrderRector_ID", "FAcctID_ID", "FSaleAcctID_ID",
           "FCostAcctID_ID", "FAPAcctID_ID", "FMinStock", "FMaxStock", "FIsSpecialTax", "FBatch", "FKeep",
           "FIsKeepTime", "FStockTime", "FIsStockTime", "FTaxRate", "FInPrice", "FOutPrice", "FTypeID_ID",
           "FDefStockID_ID", "FUnitGroupID_ID", "FPriceScale", "FQtyScale", "FTaxNumber_ID", "FStockAcctID_ID",
           "FCOGSAcctID_ID"}},
      {10, {"FAcctModeID", "FInvestAmt", "FInvestRate", "FBadDebtsRate", "FBondInvestAmt", "FLevel", "FDetail",
            "FTrade_ID", "FRegionID_ID", "FOwnershipID_ID", "FAssetshipID_ID", "FSuperDeptID_ID"}},
  };
  for (const auto& c : cases) {
    auto item = NewItem(c.cls, "X", "样例");
    for (const char* f : c.fields) {
      EXPECT_NO_THROW(item->Properties(f)) << "class " << c.cls << " " << f;
      EXPECT_TRUE(item->Dictionary()->Has(f)) << "class " << c.cls << " " << f;
    }
  }
}

TEST_F(ItemFieldsTest, WritesAreKeptUntilSaveChanges) {
  auto dept = NewItem(2, "01", "财务部");
  dept->SetProperties("FNote", Variant("未保存"));
  dept->Let("Name", Variant("财务中心"));
  EXPECT_EQ(dept->Properties("FNote").ToText(), "未保存") << "the object sees its own writes";
  auto other = Reread(2, dept);
  EXPECT_TRUE(other->Properties("FNote").IsNull());
  EXPECT_EQ(other->Name(), "财务部");
  dept->SaveChanges();
  EXPECT_EQ(Reread(2, dept)->Properties("FNote").ToText(), "未保存");
  EXPECT_EQ(Reread(2, dept)->Name(), "财务中心");
}

}  // namespace
}  // namespace morvent::test
