// The item set and item objects driven the way the item handlers drive them:
// the shared import and export steps, and for every class each field written
// and read back by the name and the way (Properties or the dictionary) its
// handler uses, in both field sets, with the value types it passes.
#include <string>

#include "tests/ledger_contract/contract_fixture.h"

namespace morvent::test {
namespace {

class ItemContract : public ContractTest {
 protected:
  // Storing as the import does: new or fetched, name and number, first
  // store, the fields (write), second store.
  template <class Write>
  int32_t Import(int16_t classId, const std::string& number, const std::string& name, int32_t parent, Write write) {
    auto set = Items(classId);
    int32_t id = set->ExistenceCheck({{"Number", Variant(number)}, {"ItemClassID", Variant(classId)}});
    LedgerObjectPtr item =
        id < 1 ? set->CreateNew({Variant(classId), Variant(parent)}, {{"Number", Variant(number)}}) : set->Item(id);
    item->Let("Name", Variant(name));
    item->Let("Number", Variant(number));
    item->SaveChanges();
    write(*item);
    item->SaveChanges();
    return item->Get("ItemID").ToLong();
  }
  // The item as the export meets it: from the class's enumeration.
  LedgerObjectPtr Exported(int16_t classId, int32_t id) {
    auto cursor = Items(classId)->Enumerate();
    while (auto item = cursor->Next())
      if (item->Properties("FItemID").ToLong() == id) return item;
    return nullptr;
  }
  static std::string Text(const Variant& v, const Variant& def) { return NullToDefault(v, def).ToText(); }
  static int32_t Id(const Variant& v) { return NullToDefault(v, Variant(int32_t{0})).ToLong(); }

  int32_t NewCurrency() {
    auto c = Open(kCurrencySet, int16_t{2})->CreateNew({}, {{"Number", Variant("USD")}});
    c->Let("Name", Variant("美元"));
    c->SaveChanges();
    return c->Get("CurrencyID").ToLong();
  }
  int32_t NewSettle() {
    auto s = Open(kSettTypeSet, int16_t{1})->CreateNew({}, {{"Number", Variant("01")}});
    s->Let("Name", Variant("现金"));
    s->SaveChanges();
    return s->Get("ItemID").ToLong();
  }
  int32_t NewAccount(const std::string& number) {
    auto a = Open(kAccountSet, int16_t{100})->CreateNew({}, {{"Number", Variant(number)}});
    a->Let("Name", Variant("科目" + number));
    a->SaveChanges();
    return a->Get("AccountID").ToLong();
  }
};

TEST_P(ItemContract, FrameImportCreatesParentsBareAndChildrenUnderThem) {
  // A parent that is nowhere is created bare with four positional arguments.
  auto set = Items(1);
  ASSERT_LT(set->ExistenceCheck({{"Number", Variant("01")}, {"ItemClassID", Variant(int16_t{1})}}), 1);
  auto bare = set->CreateNew({Variant(int16_t{1}), Variant(int16_t{0}), Variant("01"), Variant("华东")}, {});
  bare->SaveChanges();
  int32_t parent = bare->Get("ItemID").ToLong();
  ASSERT_GT(parent, 0);

  int32_t child = Import(1, "01.001", "甲公司", parent, [](LedgerObject& c) { c.SetProperties("FAddress", Variant("上海")); });
  int32_t top = Import(1, "02", "乙公司", 0, [](LedgerObject&) {});

  // Export: number order, parent first; the parent read back through FParentID.
  auto exporting = Items(1);
  EXPECT_EQ(exporting->Count(), 3);
  auto cursor = exporting->Enumerate();
  std::vector<std::string> order;
  while (auto item = cursor->Next()) {
    order.push_back(item->Number());
    int32_t p = Id(item->Properties("FParentID"));
    if (p == 0) continue;
    auto up = exporting->Item(p);
    ASSERT_TRUE(up);
    EXPECT_EQ(up->Name(), "华东");
    EXPECT_EQ(up->Number(), "01");
  }
  EXPECT_EQ(order, (std::vector<std::string>{"01", "01.001", "02"}));
  EXPECT_EQ(Text(Exported(1, child)->Properties("FAddress"), Variant("")), "上海");
  EXPECT_FALSE(Exported(1, top + 1000)) << "FindItem answers nothing for an unknown ID";
  EXPECT_FALSE(Items(2)->Item(child)) << "an item of another class is not found";

  // Overwrite: found by number within the class, fetched by ID; the parent stays.
  Import(1, "01.001", "甲公司（新）", 0, [](LedgerObject&) {});
  auto again = Items(1)->Item(child);
  EXPECT_EQ(again->Name(), "甲公司（新）");
  EXPECT_EQ(again->Properties("FParentID").ToLong(), parent);
  EXPECT_EQ(Items(8)->ExistenceCheck({{"Number", Variant("01.001")}, {"ItemClassID", Variant(int16_t{8})}}), 0);
}

TEST_P(ItemContract, CustomerFieldsOfBothSetsWithReferences) {
  int32_t usd = NewCurrency();
  int32_t cash = NewSettle();
  int32_t south = NewEntry("区域", "01", "华南");
  int32_t trade = NewEntry("行业", "01", "制造");
  int32_t active = NewEntry("状态", "01", "正常");
  int32_t id = Import(1, "01", "甲公司", 0, [&](LedgerObject& c) {
    for (const char* f : {"FAddress", "FPhone", "FFax", "FPostalCode", "FEmail", "FBank", "FAccount", "FTaxNum",
                          "FCity", "FProvince", "FCountry", "FHomePage"})
      c.SetProperties(f, Variant(std::string("v") + f));
    c.SetProperties("FBrNo", Variant(""));
    c.SetProperties("FShortName", Variant("甲"));
    c.SetProperties("FContact", Variant("张三"));
    c.SetProperties("FCreditLimit", Variant("1500.5"));
    c.SetProperties("FCIQNumber", Variant("CIQ-1"));
    c.SetProperties("FCyID", Variant(usd));
    c.SetProperties("FRegionID", Variant(south));
    c.SetProperties("FTrade", Variant(trade));
    c.SetProperties("FSetID", Variant(cash));
    c.SetProperties("FStatus", Variant(active));
    c.SetProperties("FCreditDays", Variant("30"));
    c.SetProperties("FCreditAmount", Variant(int32_t{0}));
    c.SetProperties("FCreditLevel", Variant(""));
  });
  auto c = Exported(1, id);
  ASSERT_TRUE(c);
  EXPECT_EQ(Text(c->Properties("FShortName"), Variant("")), "甲");
  EXPECT_EQ(Text(c->Properties("FContact"), Variant("")), "张三");
  EXPECT_EQ(Text(c->Properties("FCreditLimit"), Variant(int32_t{0})), "1500.5");
  EXPECT_EQ(Text(c->Properties("FCIQNumber"), Variant("")), "CIQ-1");
  EXPECT_EQ(Id(c->Properties("FCyID_ID")), usd);
  EXPECT_EQ(Id(c->Properties("FRegionID_ID")), south);
  EXPECT_EQ(Id(c->Properties("FTrade_ID")), trade);
  EXPECT_EQ(Id(c->Properties("FSetID_ID")), cash);
  EXPECT_EQ(Id(c->Properties("FStatus_ID")), active);
  EXPECT_EQ(Text(c->Properties("FCreditDays"), Variant(int32_t{0})), "30");
  EXPECT_EQ(Text(c->Properties("FCreditAmount"), Variant(int32_t{0})), "0");
  EXPECT_EQ(Text(c->Properties("FCreditLevel"), Variant("")), "");
  EXPECT_EQ(Text(c->Properties("FHomePage"), Variant("")), "vFHomePage");
  EXPECT_EQ(Text(c->Properties("FBrNo"), Variant("")), "") << "no CompanyCode key";

  // A new customer's unwritten references read as none, so their keys are left out.
  int32_t bare = Import(1, "02", "乙公司", 0, [](LedgerObject&) {});
  for (const char* ref : {"FCyID_ID", "FRegionID_ID", "FTrade_ID", "FSetID_ID", "FStatus_ID"})
    EXPECT_EQ(Id(Exported(1, bare)->Properties(ref)), 0) << ref;
  // A lookup that found nothing stores 0.
  Import(1, "01", "甲公司", 0, [](LedgerObject& x) { x.SetProperties("FRegionID", Variant(int32_t{0})); });
  EXPECT_EQ(Id(Exported(1, id)->Properties("FRegionID_ID")), 0);
  EXPECT_EQ(Id(Exported(1, id)->Properties("FCyID_ID")), usd) << "an absent key leaves the field";
}

TEST_P(ItemContract, SupplierTypeIsClearedAsASmallIntegerAndNullCityReadsAsNull) {
  int32_t id = Import(8, "01", "供应商甲", 0, [](LedgerObject& s) {
    s.SetProperties("FCity", Variant("0"));
    s.SetProperties("FCreditDays", Variant(int32_t{0}));
  });
  // Without the GY set the type is written with name and number, before the
  // first store.
  auto set = Items(8);
  auto s = set->Item(id);
  s->Let("Name", Variant("供应商甲"));
  s->Let("Number", Variant("01"));
  s->SetProperties("FTypeID", Variant(int16_t{0}));
  s->SaveChanges();
  auto read = Exported(8, id);
  EXPECT_EQ(Text(read->Properties("FTypeID"), Variant(int32_t{0})), "0");
  EXPECT_EQ(Text(read->Properties("FCity"), Variant(int32_t{0})), "0");
  EXPECT_TRUE(read->Properties("FProvince").IsNull()) << "exported as \"0\" through the numeric default";
  for (const char* f : {"FShortName", "FContact", "FPostalCode", "FEmail", "FCreditLimit", "FCountry", "FHomePage",
                        "FCyID_ID", "FRegionID_ID", "FTrade_ID", "FSetID_ID", "FStatus_ID", "FCreditAmount",
                        "FCreditLevel", "FAddress", "FPhone", "FFax", "FBank", "FAccount", "FTaxNum", "FBrNo"})
    EXPECT_EQ(ErrorOf([&] { read->Properties(f); }), "") << f;
}

TEST_P(ItemContract, DepartmentReadsThroughTheDictionaryWithASpaceDefault) {
  int32_t id = Import(2, "01", "财务部", 0, [](LedgerObject& d) {
    d.SetProperties("FPhone", Variant(" "));
    d.SetProperties("FNote", Variant("备注"));
    d.SetProperties("FBrNo", Variant(""));
  });
  auto dict = Exported(2, id)->Dictionary();
  EXPECT_EQ(Text(dict->GetValue("FManager", Variant(" ")), Variant(" ")), " ") << "carried, never written";
  EXPECT_EQ(Text(dict->GetValue("FPhone", Variant(" ")), Variant(" ")), " ");
  EXPECT_EQ(Text(dict->GetValue("FFax", Variant(" ")), Variant(" ")), " ");
  EXPECT_EQ(Text(Exported(2, id)->Properties("FNote"), Variant("")), "备注");
}

TEST_P(ItemContract, EmployeeDatesGenderBankAndReferencesByTheirOwnWays) {
  int32_t dept = Import(2, "01", "财务部", 0, [](LedgerObject&) {});
  int32_t duty = NewEntry("职务", "01", "经理");
  int32_t degree = NewEntry("文化程度", "01", "本科");
  int32_t kind = NewEntry("职员类别", "01", "正式");
  // Gender is looked up by name through the services, as the handler does.
  auto desc = CreateObjectAs<ItemClassInfo>(kItemClassInfo)->GetDetail(props, 3)->Value("_PropDesc").As<RecordCollection>();
  int16_t search = 0;
  for (int32_t i = desc->LBound(); i <= desc->UBound(); ++i)
    if (desc->Item(i)->Value("FName").ToText() == "性别") search = desc->Item(i)->Value("FSearch").ToInteger();
  auto rows = CreateObjectAs<ItemInfo>(kItemInfo)->GetSubMesList(props, search);
  int32_t male = 0;
  for (; !rows->EOF_(); rows->MoveNext())
    if (rows->Field("FName").ToText() == "男") male = rows->Field("FItemID").ToLong();
  ASSERT_GT(male, 0);

  int32_t id = Import(3, "001", "张三", 0, [&](LedgerObject& e) {
    e.SetProperties("FBirthday", Variant("1968-05-12"));
    e.SetProperties("FHireDate", Variant(Variant("1990-07-01").ToDate()));
    for (const char* f : {"FEmail", "FAddress", "FPhone", "FID"}) e.SetProperties(f, Variant(""));
    auto dict = e.Dictionary();
    dict->SetValue("FBankID", Variant(""));
    dict->SetValue("FBankAccount", Variant(" "));
    e.SetProperties("FNote", Variant(""));
    e.SetProperties("FBrNo", Variant("B01"));
    e.SetProperties("FGender", Variant(male));
    e.SetProperties("FDuty", Variant(duty));
    e.SetProperties("FDegree", Variant(degree));
    e.SetProperties("FDepartmentID", Variant(dept));
    e.SetProperties("FEmpGroup", Variant(kind));
  });
  auto e = Exported(3, id);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Properties("FBirthday").Type(), VarType::Date);
  EXPECT_EQ(e->Properties("FBirthday").ToDate().serial, Variant("1968-05-12").ToDate().serial);
  EXPECT_EQ(e->Properties("FHireDate").Type(), VarType::Date);
  EXPECT_TRUE(e->Properties("FLeaveDate").IsNull()) << "an invalid date is never written";
  EXPECT_EQ(Text(e->Properties("FGender"), Variant("")), "男") << "exported as the stored name";
  auto dict = e->Dictionary();
  EXPECT_EQ(Text(dict->GetValue("FBankID", Variant(" ")), Variant("")), "");
  EXPECT_EQ(Text(dict->GetValue("FBankAccount", Variant(" ")), Variant("")), " ");
  EXPECT_EQ(Id(dict->GetValue("FDuty_ID", Variant(int32_t{0}))), duty);
  EXPECT_EQ(Id(dict->GetValue("FDegree_ID", Variant(int32_t{0}))), degree);
  EXPECT_EQ(Id(dict->GetValue("FDepartmentID_ID")), dept);
  EXPECT_EQ(Id(dict->GetValue("FEmpGroup_ID", Variant(int32_t{0}))), kind);
  EXPECT_EQ(Text(e->Properties("FBrNo"), Variant("")), "B01");
}

TEST_P(ItemContract, StockTypeClearedBeforeTheFirstStoreAndFieldsByTheirWays) {
  int32_t keeper = Import(3, "001", "李四", 0, [](LedgerObject&) {});
  int32_t prop = NewEntry("仓库属性", "01", "良品");
  int32_t type = NewEntry("仓库类型", "01", "普通仓");
  auto set = Items(5);
  auto stock = set->CreateNew({Variant(int16_t{5}), Variant(int32_t{0})}, {{"Number", Variant("01")}});
  stock->Let("Name", Variant("原料仓"));
  stock->Let("Number", Variant("01"));
  stock->SetProperties("FTypeID", Variant(int16_t{0}));
  stock->SaveChanges();
  stock->SetProperties("FAddress", Variant("一号路"));
  stock->SetProperties("FPhone", Variant(""));
  stock->SetProperties("FBrNo", Variant(""));
  stock->SetProperties("FEmpID", Variant(keeper));
  stock->SetProperties("FProperty", Variant(prop));
  stock->SetProperties("FTypeID", Variant(type));
  stock->SaveChanges();

  auto s = Exported(5, stock->Get("ItemID").ToLong());
  auto dict = s->Dictionary();
  EXPECT_EQ(Text(dict->GetValue("FAddress"), Variant("")), "一号路");
  EXPECT_EQ(Text(dict->GetValue("FPhone"), Variant("")), "");
  EXPECT_EQ(Id(s->Properties("FEmpID_ID")), keeper);
  EXPECT_EQ(Id(s->Properties("FProperty_ID")), prop);
  EXPECT_EQ(Id(s->Properties("FTypeID_ID")), type);
}

TEST_P(ItemContract, MaterialGySetWritesThroughTheDictionaryAndReadsThroughProperties) {
  int32_t track = NewEntry("计价方法", "01", "先进先出");
  int32_t erp = NewEntry("物料属性", "01", "外购");
  int32_t tax = NewEntry("税目代码", "01", "增值税");
  int32_t stock = Import(5, "01", "原料仓", 0, [](LedgerObject&) {});
  int32_t vendor = Import(8, "01", "供应商甲", 0, [](LedgerObject&) {});
  int32_t buyer = Import(3, "001", "王五", 0, [](LedgerObject&) {});
  int32_t a1 = NewAccount("1403"), a2 = NewAccount("6001"), a3 = NewAccount("6401"), a4 = NewAccount("2202");
  auto group = Open(kMeasureUnitGroupSet)->CreateNew({}, {});
  group->Let("Name", Variant("数量"));
  group->SaveChanges();
  auto units = CreateObjectAs<ObjectSet>(kMeasureUnitSet);
  units->SetRestriction("UnitGroupID", group->Get("GroupID"));
  units->Refresh();
  auto unit = units->CreateNew({}, {});
  unit->Let("Name", Variant("个"));
  unit->SaveChanges();
  int32_t pcs = unit->Get("MeasureUnitID").ToLong();

  int32_t id = Import(4, "01", "螺丝", 0, [&](LedgerObject& m) {
    m.SetProperties("FModel", Variant("M6"));
    m.SetProperties("FBrNo", Variant(""));
    m.SetProperties("FTrack", Variant(track));
    auto d = m.Dictionary();
    d->SetValue("FLowLimit", Variant("10"));
    d->SetValue("FHighLimit", Variant("200.5"));
    d->SetValue("FSecInv", Variant(int32_t{0}));
    d->SetValue("FLeadTime", Variant("3"));
    d->SetValue("FBatchManager", Variant(true));
    d->SetValue("FQtyDecimal", Variant("2"));
    d->SetValue("FPriceDecimal", Variant("4"));
    d->SetValue("FPlanPrice", Variant("1.25"));
    d->SetValue("FSalePrice", Variant("1.5"));
    m.SetProperties("FUnitID", Variant(pcs));
    m.SetProperties("FGoodSpec", Variant(tax));
    d->SetValue("FDefaultLoc", Variant(stock));
    d->SetValue("FSource", Variant(vendor));
    d->SetValue("FOrderRector", Variant(buyer));
    m.SetProperties("FErpClsID", Variant(erp));
    d->SetValue("FAcctID", Variant(a1));
    d->SetValue("FSaleAcctID", Variant(a2));
    d->SetValue("FCostAcctID", Variant(a3));
    d->SetValue("FAPAcctID", Variant(a4));
  });
  auto m = Exported(4, id);
  ASSERT_TRUE(m);
  auto d = m->Dictionary();
  auto n = [&](const char* f) { return Text(m->Properties(f), Variant(int32_t{0})); };
  EXPECT_EQ(Text(m->Properties("FModel"), Variant("")), "M6");
  EXPECT_EQ(Id(m->Properties("FTrack_ID")), track);
  EXPECT_EQ(n("FLowLimit"), "10");
  EXPECT_EQ(n("FHighLimit"), "200.5");
  EXPECT_EQ(n("FSecInv"), "0");
  EXPECT_EQ(n("FLeadTime"), "3");
  EXPECT_TRUE(NullToDefault(d->GetValue("FBatchManager", Variant(false)), Variant(false)).ToBool());
  EXPECT_EQ(n("FPlanPrice"), "1.25");
  EXPECT_EQ(n("FSalePrice"), "1.5");
  EXPECT_EQ(n("FPriceDecimal"), "4");
  EXPECT_EQ(n("FQtyDecimal"), "2");
  EXPECT_EQ(Id(m->Properties("FErpClsID_ID")), erp);
  EXPECT_EQ(Id(m->Properties("FUnitID_ID")), pcs);
  EXPECT_EQ(Id(m->Properties("FDefaultLoc_ID")), stock);
  EXPECT_EQ(Id(m->Properties("FSource_ID")), vendor);
  Variant spec = NullToDefault(m->Properties("FGoodSpec"), Variant(int32_t{0}));
  ASSERT_TRUE(IsNumeric(spec)) << "the export takes the tax code's ID only from a numeric value";
  EXPECT_EQ(spec.ToLong(), tax);
  EXPECT_EQ(Id(m->Properties("FOrderRector_ID")), buyer);
  EXPECT_EQ(Id(d->GetValue("FAcctID_ID", Variant(int32_t{0}))), a1);
  EXPECT_EQ(Id(d->GetValue("FSaleAcctID_ID", Variant(int32_t{0}))), a2);
  EXPECT_EQ(Id(d->GetValue("FCostAcctID_ID", Variant(int32_t{0}))), a3);
  EXPECT_EQ(Id(d->GetValue("FAPAcctID_ID", Variant(int32_t{0}))), a4);
}

TEST_P(ItemContract, MaterialNonGySetWritesUnderIdNamesAndItsOwnFlagNames) {
  int32_t goods = NewEntry("商品属性", "01", "成品");
  int32_t bought = NewEntry("物料属性", "01", "外购");
  int32_t tax = NewEntry("税目代码", "01", "增值税");
  int32_t stock = Import(5, "01", "成品仓", 0, [](LedgerObject&) {});
  int32_t a1 = NewAccount("1405"), a2 = NewAccount("6001"), a3 = NewAccount("6401");
  auto group = Open(kMeasureUnitGroupSet)->CreateNew({}, {});
  group->Let("Name", Variant("数量"));
  group->SaveChanges();
  int32_t gid = group->Get("GroupID").ToLong();

  int32_t id = Import(4, "02", "成品甲", 0, [&](LedgerObject& m) {
    auto d = m.Dictionary();
    d->SetValue("FTaxRate", Variant("17"));
    d->SetValue("FInPrice", Variant(int32_t{0}));
    d->SetValue("FOutPrice", Variant("9.9"));
    d->SetValue("FQtyScale", Variant("0"));
    d->SetValue("FPriceScale", Variant("2"));
    d->SetValue("FIsKeepTime", Variant(true));
    d->SetValue("FIsStockTime", Variant(false));
    d->SetValue("FIsSpecialTax", Variant(true));
    d->SetValue("FMinStock", Variant("5"));
    d->SetValue("FMaxStock", Variant("50"));
    m.SetProperties("FUnitGroupID", Variant(gid));
    d->SetValue("FDefStockID_ID", Variant(stock));
    m.SetProperties("FTaxNumber_ID", Variant(tax));
    // Looked up under another property than the one the export reads it
    // with; the ID must be kept as given.
    m.SetProperties("FTypeID_ID", Variant(bought));
    d->SetValue("FStockAcctID_ID", Variant(a1));
    d->SetValue("FSaleAcctID_ID", Variant(a2));
    d->SetValue("FCOGSAcctID_ID", Variant(a3));
  });
  auto m = Exported(4, id);
  ASSERT_TRUE(m);
  auto n = [&](const char* f) { return Text(m->Properties(f), Variant(int32_t{0})); };
  auto flag = [&](const char* f) { return NullToDefault(m->Properties(f), Variant(false)).ToBool(); };
  EXPECT_EQ(n("FMinStock"), "5");
  EXPECT_EQ(n("FMaxStock"), "50");
  EXPECT_TRUE(flag("FIsSpecialTax"));
  EXPECT_FALSE(flag("FBatch"));
  EXPECT_TRUE(flag("FKeep"));
  EXPECT_FALSE(flag("FStockTime"));
  EXPECT_EQ(n("FTaxRate"), "17");
  EXPECT_EQ(n("FInPrice"), "0");
  EXPECT_EQ(n("FOutPrice"), "9.9");
  EXPECT_EQ(Id(m->Properties("FTypeID_ID")), bought);
  EXPECT_EQ(Id(m->Properties("FDefStockID_ID")), stock);
  EXPECT_EQ(Id(m->Properties("FUnitGroupID_ID")), gid);
  EXPECT_EQ(n("FPriceScale"), "2");
  EXPECT_EQ(n("FQtyScale"), "0");
  EXPECT_EQ(Id(m->Dictionary()->GetValue("FTaxNumber_ID", Variant(int32_t{0}))), tax);
  EXPECT_EQ(Id(m->Properties("FStockAcctID_ID")), a1);
  EXPECT_EQ(Id(m->Properties("FSaleAcctID_ID")), a2);
  EXPECT_EQ(Id(m->Properties("FCOGSAcctID_ID")), a3);
  (void)goods;
}

TEST_P(ItemContract, BranchCompanyFiguresAccountingModeAndReferencesAcrossLetterCase) {
  int32_t mode = NewEntry("核算模式", "01", "独立核算");
  int32_t own = NewEntry("所有制", "01", "国有");
  int32_t asset = NewEntry("资产关系", "01", "全资");
  int32_t super = NewEntry("上级主管", "01", "总部");
  int32_t trade = NewEntry("行业", "01", "制造");
  int32_t region = NewEntry("区域", "01", "华北");
  auto set = Items(10);
  auto co = set->CreateNew({Variant(int16_t{10}), Variant(int32_t{0})}, {{"Number", Variant("01")}});
  co->Let("Name", Variant("北京分公司"));
  co->Let("Number", Variant("01"));
  co->SetProperties("FAcctModeID", Variant(mode));
  // Plain values as the record gives them, without defaults applied.
  co->SetProperties("FInvestAmt", Variant("1000000"));
  co->SetProperties("FInvestRate", Variant("0.6"));
  co->SetProperties("FBadDebtsRate", Variant(int32_t{0}));
  co->SetProperties("FBondInvestAmt", Variant("0"));
  co->SetProperties("FLevel", Variant("2"));
  co->SetProperties("FDetail", Variant(false));
  co->SaveChanges();
  co->SetProperties("FTrade", Variant(trade));
  co->SetProperties("FRegionID", Variant(region));
  co->SetProperties("FOwnerShipID", Variant(own));
  co->SetProperties("FAssetShipID", Variant(asset));
  co->SetProperties("FSuperDeptID", Variant(super));
  co->SaveChanges();

  auto b = Exported(10, co->Get("ItemID").ToLong());
  ASSERT_TRUE(b);
  EXPECT_EQ(Text(b->Properties("FAcctModeID"), Variant("")), "独立核算") << "exported as the entry's name";
  EXPECT_EQ(Text(b->Properties("FInvestAmt"), Variant(int32_t{0})), "1000000");
  EXPECT_EQ(Text(b->Properties("FInvestRate"), Variant(int32_t{0})), "0.6");
  EXPECT_EQ(Text(b->Properties("FLevel"), Variant(int32_t{0})), "2");
  EXPECT_FALSE(NullToDefault(b->Properties("FDetail"), Variant(true)).ToBool());
  EXPECT_EQ(Id(b->Properties("FTrade_ID")), trade);
  EXPECT_EQ(Id(b->Properties("FRegionID_ID")), region);
  EXPECT_EQ(Id(b->Properties("FOwnershipID_ID")), own);
  EXPECT_EQ(Id(b->Properties("FAssetshipID_ID")), asset);
  EXPECT_EQ(Id(b->Properties("FSuperDeptID_ID")), super);

  // A new company whose detail flag was never written reads Null: exported as detail.
  int32_t bare = Import(10, "02", "上海分公司", 0, [](LedgerObject&) {});
  EXPECT_TRUE(NullToDefault(Exported(10, bare)->Properties("FDetail"), Variant(true)).ToBool());
  EXPECT_EQ(Text(Exported(10, bare)->Properties("FAcctModeID"), Variant("")), "");
}

}  // namespace
INSTANTIATE_TEST_SUITE_P(Engines, ItemContract, BothEngines(), EngineName);

}  // namespace morvent::test
