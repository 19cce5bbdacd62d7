// Demonstration items: every standard class in a small hierarchy, with
// references between them and to the ledger's currencies, settlement
// methods, units and accounts where the ledger already has them.
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "store/item_ledger.h"
#include "store/item_sets.h"
#include "store/item_tables.h"
#include "store/ledger_store.h"

namespace morvent {

namespace {

using Fields = std::vector<std::pair<const char*, Variant>>;

// Entries of every standard assist-data type (性别 is seeded with the ledger)
// and of one type the demo adds.
const std::vector<std::pair<const char*, std::vector<const char*>>> kDemoEntries = {
    {"区域", {"华北", "华东", "华南", "西南", "东北"}},
    {"行业", {"制造业", "批发零售业", "信息技术业", "建筑业"}},
    {"状态", {"正常", "冻结", "停用"}},
    {"职务", {"总经理", "部门经理", "会计", "出纳", "业务员"}},
    {"文化程度", {"博士", "硕士", "本科", "大专", "高中"}},
    {"职员类别", {"正式员工", "合同工", "临时工"}},
    {"计价方法", {"加权平均法", "先进先出法", "移动平均法"}},
    {"物料属性", {"外购", "自制", "委外加工"}},
    {"商品属性", {"库存商品", "非库存商品"}},
    {"税目代码", {"增值税13%", "增值税9%", "增值税6%"}},
    {"仓库属性", {"普通仓", "待检仓", "赠品仓"}},
    {"仓库类型", {"原料库", "成品库", "半成品库"}},
    {"核算模式", {"独立核算", "非独立核算"}},
    {"所有制", {"国有", "集体", "私营", "外资"}},
    {"资产关系", {"全资", "控股", "参股"}},
    {"上级主管", {"集团总部", "区域公司"}},
    // A type of the demo's own, bound to no item property.
    {"信用等级", {"AAA", "AA", "A", "BBB"}},
};

class DemoBuilder {
 public:
  explicit DemoBuilder(LedgerStorePtr store)
      : store_(store), items_(store), types_(NewSubMesTypeSet(store)), entries_(NewSubMesSet(store)) {}

  void Entries() {
    for (const auto& [type, names] : kDemoEntries) {
      int32_t typeId = types_->ExistenceCheck({{"Name", Variant(type)}});
      if (typeId < 1) {
        auto t = types_->CreateNew({}, {});
        t->Let("Name", Variant(type));
        t->SaveChanges();
        typeId = t->Get("TypeID").ToLong();
      }
      int n = 0;
      for (const char* name : names) {
        char number[16];
        std::snprintf(number, sizeof number, "%02d", ++n);
        if (entries_->ExistenceCheck({{"Number", Variant(number)}, {"TypeID", Variant(typeId)}}) > 0) continue;
        auto e = entries_->CreateNew({Variant(typeId)}, {{"Number", Variant(number)}, {"Name", Variant(name)}});
        e->SaveChanges();
      }
    }
  }

  // The ID of an assist entry by type and name, 0 when there is none.
  int32_t Entry(const char* type, const char* name) {
    int32_t typeId = types_->ExistenceCheck({{"Name", Variant(type)}});
    return typeId < 1 ? 0 : entries_->ExistenceCheck({{"Name", Variant(name)}, {"TypeID", Variant(typeId)}});
  }

  // The first ID of a core table whose column matches, or the first row.
  int32_t Core(const char* table, const char* idColumn, const char* column = nullptr, const char* value = nullptr) {
    std::string sql = std::string("SELECT ") + idColumn + " FROM " + table;
    if (column) sql += std::string(" WHERE ") + column + " = ?";
    sql += std::string(" ORDER BY ") + idColumn + " LIMIT 1";
    auto q = store_->Prepare(sql);
    if (column) q.Bind(1, value);
    return q.Next() ? static_cast<int32_t>(q.Int(0)) : 0;
  }
  // A currency or settlement method by number; the first one without.
  int32_t Currency(const char* number = nullptr) {
    return Core("t_Currency", "FCurrencyID", number ? "FNumber" : nullptr, number);
  }
  int32_t Settle(const char* number = nullptr) {
    return Core("t_SettleType", "FItemID", number ? "FNumber" : nullptr, number);
  }

  // Adds an item under the item whose number is the part before the last ".".
  int32_t Add(int16_t cls, const std::string& number, const char* name, const Fields& fields = {}) {
    int32_t parent = 0;
    if (auto dot = number.rfind('.'); dot != std::string::npos) parent = ids_.at({cls, number.substr(0, dot)});
    auto item = items_.CreateNew({Variant(cls), Variant(parent)}, {{"Number", Variant(number)}});
    item->Let("Name", Variant(name));
    for (const auto& [field, value] : fields)
      if (!(value.Type() == VarType::Long && value.ToLong() == 0)) item->SetProperties(field, value);
    item->SaveChanges();
    int32_t id = item->Get("ItemID").ToLong();
    ids_[{cls, number}] = id;
    return id;
  }
  int32_t Id(int16_t cls, const std::string& number) { return ids_.at({cls, number}); }

 private:
  LedgerStorePtr store_;
  ItemSet items_;
  ObjectSetPtr types_;
  ObjectSetPtr entries_;
  std::map<std::pair<int16_t, std::string>, int32_t> ids_;
};

// One demo item; its parent is the item whose number is the part before the
// last ".", so parents come first.
struct DemoRow {
  const char* number;
  const char* name;
  Fields fields = {};
};
using Rows = std::vector<DemoRow>;

Fields With(Fields f, const Fields& more) {
  f.insert(f.end(), more.begin(), more.end());
  return f;
}

Rows Departments(DemoBuilder&) {
  return {
      {"01", "总经理办公室", {{"FManager", "赵建国"}, {"FPhone", "010-65881001"}, {"FNote", "公司决策与行政管理"}}},
      {"02", "财务部", {{"FManager", "孙丽华"}, {"FPhone", "010-65881002"}, {"FFax", "010-65881009"}}},
      {"02.01", "会计科", {{"FManager", "周敏"}}},
      {"02.02", "出纳科"},  // manager, phone and note left Null
      {"03", "销售部", {{"FManager", "钱志强"}, {"FPhone", "010-65881003"}}},
      {"03.01", "华北销售区", {{"FNote", "北京、天津、河北"}}},
      {"03.01.01", "北京办事处", {{"FPhone", "010-65881031"}}},
      {"03.01.02", "天津办事处", {{"FPhone", "022-23301032"}}},
      {"03.02", "华东销售区"},
      {"03.02.01", "上海办事处", {{"FPhone", "021-63501041"}, {"FBrNo", "SH01"}}},
      {"04", "采购部", {{"FManager", "吴海涛"}}},
      {"05", "生产部", {{"FManager", "郑国平"}}},
      {"05.01", "一车间"},
      {"05.02", "二车间"},
  };
}

Rows Employees(DemoBuilder& d) {
  int32_t male = d.Entry("性别", "男"), female = d.Entry("性别", "女");
  int32_t formal = d.Entry("职员类别", "正式员工"), contract = d.Entry("职员类别", "合同工");
  return {
      {"01", "管理人员"},
      {"01.001", "赵建国",
       {{"FGender", male}, {"FBirthday", MakeDate(1968, 5, 12)}, {"FHireDate", MakeDate(1998, 7, 1)},
        {"FDuty", d.Entry("职务", "总经理")}, {"FDegree", d.Entry("文化程度", "硕士")},
        {"FDepartmentID", d.Id(2, "01")}, {"FEmpGroup", formal}, {"FPhone", "13901001001"},
        {"FID", "110105196805121234"}, {"FBankID", "中国工商银行北京分行"}, {"FBankAccount", "6222020200001234567"}}},
      {"01.002", "孙丽华",
       {{"FGender", female}, {"FBirthday", MakeDate(1975, 11, 3)}, {"FHireDate", MakeDate(2003, 3, 15)},
        {"FDuty", d.Entry("职务", "部门经理")}, {"FDegree", d.Entry("文化程度", "本科")},
        {"FDepartmentID", d.Id(2, "02")}, {"FEmpGroup", formal}, {"FEmail", "sunlh@example.cn"}}},
      {"01.003", "周敏",
       {{"FGender", female}, {"FDuty", d.Entry("职务", "会计")}, {"FDepartmentID", d.Id(2, "02.01")},
        {"FEmpGroup", formal}}},  // no birthday, no bank: Null fields
      {"02", "销售人员"},
      {"02.01", "华北组"},
      {"02.01.001", "李娜",
       {{"FGender", female}, {"FBirthday", MakeDate(1990, 2, 28)}, {"FHireDate", MakeDate(2014, 6, 9)},
        {"FDuty", d.Entry("职务", "业务员")}, {"FDegree", d.Entry("文化程度", "大专")},
        {"FDepartmentID", d.Id(2, "03.01.01")}, {"FEmpGroup", contract}, {"FAddress", "北京市朝阳区建国路88号"}}},
      {"02.01.002", "刘洋",
       {{"FGender", male}, {"FHireDate", MakeDate(2016, 9, 1)}, {"FLeaveDate", MakeDate(2022, 12, 31)},
        {"FDuty", d.Entry("职务", "业务员")}, {"FDepartmentID", d.Id(2, "03.01.02")}, {"FEmpGroup", contract}}},
      {"02.02", "华东组"},
      {"02.02.001", "陈静",
       {{"FGender", female}, {"FDuty", d.Entry("职务", "业务员")}, {"FDepartmentID", d.Id(2, "03.02.01")},
        {"FEmpGroup", d.Entry("职员类别", "临时工")}, {"FNote", "试用期"}, {"FBrNo", "SH01"},
        {"FBankID", "交通银行上海分行"}}},  // a bank without an account
      {"03", "生产人员"},
      {"03.001", "郑国平",
       {{"FGender", male}, {"FDuty", d.Entry("职务", "部门经理")}, {"FDepartmentID", d.Id(2, "05")},
        {"FEmpGroup", formal}}},
  };
}

Fields Partner(DemoBuilder& d, int32_t currency, int32_t settle, const char* region, const char* trade,
               const char* address, const char* phone, const char* taxNum, const char* status = "正常") {
  return {{"FCyID", currency},
          {"FSetID", settle},
          {"FRegionID", d.Entry("区域", region)},
          {"FTrade", d.Entry("行业", trade)},
          {"FStatus", d.Entry("状态", status)},
          {"FAddress", address},
          {"FPhone", phone},
          {"FTaxNum", taxNum},
          {"FCountry", "中国"}};
}

// Customers and suppliers refer to a currency, a settlement method, three
// assist values and a parent; some to a foreign currency and a wire
// transfer, some to nothing at all.
Rows Customers(DemoBuilder& d) {
  int32_t cy = d.Currency(), st = d.Settle(), hkd = d.Currency("HKD"), wire = d.Settle("JF04");
  return {
      {"01", "华北客户"},
      {"01.01", "北京地区"},
      {"01.01.001", "北京华联商厦有限公司",
       With(Partner(d, cy, st, "华北", "批发零售业", "北京市西城区西单北大街120号", "010-66012345", "110102100012345"),
            {{"FShortName", "华联商厦"}, {"FContact", "马晓东"}, {"FCreditLimit", 500000.0},
             {"FCIQNumber", "1100000001"}, {"FCreditDays", 30}, {"FCreditAmount", 200000.0},
             {"FCreditLevel", "A"}, {"FPostalCode", "100032"}, {"FEmail", "caigou@hualian.example.cn"},
             {"FCity", "北京"}, {"FProvince", "北京"}, {"FHomePage", "http://hualian.example.cn"},
             {"FBrNo", "BJ01"}})},
      {"01.01.002", "北京京客隆商业集团股份有限公司",
       Partner(d, cy, st, "华北", "批发零售业", "北京市朝阳区新源街24号", "010-64671234", "110105633712345")},
      {"01.02", "天津地区"},
      {"01.02.001", "天津滨海物流有限公司",
       Partner(d, cy, 0, "华北", "批发零售业", "天津市滨海新区第二大街58号", "022-25321234", "120116744012345")},
      {"02", "华东客户"},
      {"02.01", "上海地区"},
      {"02.01.001", "上海百联集团股份有限公司",
       Partner(d, cy, st, "华东", "批发零售业", "上海市黄浦区南京东路830号", "021-63223344", "310101132212345")},
      {"02.02", "江苏地区"},
      {"02.02.001", "苏州工业园区恒通贸易有限公司", {{"FRegionID", d.Entry("区域", "华东")}}},  // mostly Null
      {"03", "华南客户"},
      {"03.001", "香港天河电子有限公司",
       With(Partner(d, hkd, wire, "华南", "信息技术业", "香港九龙尖沙咀广东道33号", "00852-23881234", "", "冻结"),
            {{"FCountry", "中国香港"}, {"FBrNo", "HK01"}})},
  };
}

Rows Suppliers(DemoBuilder& d) {
  int32_t cy = d.Currency(), st = d.Settle(), usd = d.Currency("USD"), wire = d.Settle("JF04");
  return {
      {"01", "原材料供应商"},
      {"01.01", "钢材"},
      {"01.01.001", "宝山钢铁股份有限公司",
       With(Partner(d, cy, st, "华东", "制造业", "上海市宝山区富锦路885号", "021-26641234", "310113631712345"),
            {{"FShortName", "宝钢"}, {"FContact", "徐建平"}, {"FCreditLimit", 2000000.0},
             {"FPostalCode", "201900"}, {"FEmail", "sales@baosteel.example.cn"}, {"FCity", "上海"},
             {"FProvince", "上海"}, {"FHomePage", "http://baosteel.example.cn"}, {"FCreditDays", 60},
             {"FCreditLevel", "AA"}, {"FBrNo", "SH01"}})},
      {"01.01.002", "鞍钢股份有限公司",
       Partner(d, usd, wire, "东北", "制造业", "辽宁省鞍山市铁西区鞍钢厂区", "0412-6721234", "210300242612345")},
      {"01.02", "辅料"},
      {"01.02.001", "温州永固紧固件有限公司",
       Partner(d, cy, 0, "华东", "制造业", "浙江省温州市龙湾区永强大道1号", "0577-86901234", "330303145612345", "停用")},
      {"02", "服务供应商"},
      // No city, province, country or home page: each exports as empty text.
      {"02.001", "成都天府物流有限公司", {{"FRegionID", d.Entry("区域", "西南")}, {"FPhone", "028-85501234"}}},
  };
}

Rows Stocks(DemoBuilder& d) {
  int32_t keeper = d.Id(3, "03.001");
  return {
      {"01", "原材料仓", {{"FTypeID", d.Entry("仓库类型", "原料库")}, {"FEmpID", keeper}}},
      {"01.01", "钢材库",
       {{"FTypeID", d.Entry("仓库类型", "原料库")}, {"FProperty", d.Entry("仓库属性", "普通仓")},
        {"FAddress", "北京市大兴区工业园区8号"}, {"FPhone", "010-69201234"}, {"FEmpID", keeper}}},
      {"01.02", "辅料库", {{"FTypeID", d.Entry("仓库类型", "原料库")}}},
      {"02", "成品仓", {{"FTypeID", d.Entry("仓库类型", "成品库")}}},
      {"02.01", "北京成品库",
       {{"FTypeID", d.Entry("仓库类型", "成品库")}, {"FProperty", d.Entry("仓库属性", "普通仓")},
        {"FAddress", "北京市大兴区工业园区10号"}}},
      {"02.01.01", "北京成品库东区", {{"FTypeID", d.Entry("仓库类型", "成品库")}}},
      {"02.02", "上海成品库", {{"FTypeID", d.Entry("仓库类型", "成品库")}, {"FBrNo", "SH01"}}},
      {"03", "待检仓", {{"FProperty", d.Entry("仓库属性", "待检仓")}}},
  };
}

Rows Materials(DemoBuilder& d) {
  int32_t unit = d.Core("t_MeasureUnit", "FMeasureUnitID");
  int32_t group = d.Core("t_MeasureUnitGroup", "FGroupID");
  int32_t stockAcct = d.Core("t_Account", "FAccountID", "FNumber", "1403");
  int32_t saleAcct = d.Core("t_Account", "FAccountID", "FNumber", "6001");
  int32_t costAcct = d.Core("t_Account", "FAccountID", "FNumber", "6401");
  int32_t apAcct = d.Core("t_Account", "FAccountID", "FNumber", "2202");
  int32_t bought = d.Entry("物料属性", "外购"), made = d.Entry("物料属性", "自制");
  auto common = [&](int32_t erp, const char* stock, const char* model, double plan, double sale) {
    return Fields{{"FModel", model},
             {"FTrack", d.Entry("计价方法", "加权平均法")},
             {"FErpClsID", erp},
             {"FTypeID", d.Entry("商品属性", "库存商品")},
             {"FUnitID", unit},
             {"FUnitGroupID", group},
             {"FDefaultLoc", d.Id(5, stock)},
             {"FDefStockID", d.Id(5, stock)},
             {"FPlanPrice", plan},
             {"FInPrice", plan},
             {"FSalePrice", sale},
             {"FOutPrice", sale},
             {"FPriceDecimal", 2},
             {"FQtyDecimal", 0},
             {"FPriceScale", 2},
             {"FQtyScale", 0},
             {"FTaxRate", 13},
             {"FTaxNumber", d.Entry("税目代码", "增值税13%")},
             {"FAcctID", stockAcct},
             {"FStockAcctID", stockAcct},
             {"FSaleAcctID", saleAcct},
             {"FCostAcctID", costAcct},
             {"FCOGSAcctID", costAcct},
             {"FAPAcctID", apAcct}};
  };
  return {
      {"01", "原材料"},
      {"01.01", "钢材"},
      {"01.01.001", "冷轧钢板",
       With(common(bought, "01.01", "1.0mm×1250mm", 4800, 5200),
       {{"FLowLimit", 20}, {"FHighLimit", 200}, {"FMinStock", 20}, {"FMaxStock", 200}, {"FSecInv", 30},
        {"FLeadTime", 7}, {"FSource", d.Id(8, "01.01.001")}, {"FOrderRector", d.Id(3, "01.003")},
        {"FBatchManager", true}, {"FBatch", true},
             // the tax entry's ID, stored as text
        {"FGoodSpec", std::to_string(d.Entry("税目代码", "增值税13%"))}})},
      {"01.01.002", "热轧钢板",
       With(common(bought, "01.01", "3.0mm×1500mm", 4300, 4700), {{"FSource", d.Id(8, "01.01.002")}})},
      {"01.02", "辅料"},
      {"01.02.001", "内六角螺钉", With(common(bought, "01.02", "M6×20", 0.12, 0.2), {{"FIsKeepTime", true}})},
      {"01.02.002", "防锈漆", {{"FModel", "5kg/桶"}, {"FIsStockTime", true}}},  // most fields Null
      {"02", "产成品"},
      {"02.001", "低压电控柜", With(common(made, "02.01", "KG-800A", 12500, 16800), {{"FIsSpecialTax", false}})},
      {"02.002", "配电箱", common(made, "02.02", "PZ30-12", 860, 1180)},
  };
}

Rows Branches(DemoBuilder& d) {
  auto branch = [&](const char* mode, double invest, double rate, int level, bool detail, const char* region,
                    const char* owner, const char* asset) {
    return Fields{{"FAcctModeID", d.Entry("核算模式", mode)},
             {"FInvestAmt", invest},
             {"FInvestRate", rate},
             {"FBadDebtsRate", 0.5},
             {"FLevel", level},
             {"FDetail", detail},
             {"FTrade", d.Entry("行业", "制造业")},
             {"FRegionID", d.Entry("区域", region)},
             {"FOwnerShipID", d.Entry("所有制", owner)},
             {"FAssetShipID", d.Entry("资产关系", asset)},
             {"FSuperDeptID", d.Entry("上级主管", "集团总部")}};
  };
  return {
      {"01", "华北分公司", branch("独立核算", 50000000, 100, 1, false, "华北", "国有", "全资")},
      {"01.01", "北京分公司", branch("独立核算", 20000000, 100, 2, false, "华北", "国有", "全资")},
      {"01.01.01", "海淀营业部", branch("非独立核算", 2000000, 100, 3, true, "华北", "国有", "全资")},
      {"01.01.02", "朝阳营业部", {{"FAcctModeID", d.Entry("核算模式", "非独立核算")}, {"FLevel", 3}}},
      {"01.02", "天津分公司", branch("非独立核算", 8000000, 60, 2, true, "华北", "集体", "控股")},
      {"02", "华东分公司", branch("独立核算", 30000000, 51, 1, false, "华东", "私营", "控股")},
      {"02.01", "上海分公司", {{"FInvestAmt", 12000000.0}, {"FLevel", 2}}},  // references Null
  };
}

}  // namespace

void FillDemoItems(LedgerStore& store) {
  // Each kind's rows are made just before its items are added, so a row
  // refers only to items of the kinds before it here.
  const std::pair<int16_t, Rows (*)(DemoBuilder&)> kinds[] = {
      {2, Departments}, {3, Employees}, {1, Customers}, {8, Suppliers}, {5, Stocks}, {4, Materials}, {10, Branches}};
  auto shared = store.shared_from_this();
  DemoBuilder d(shared);
  store.Write([&] {
    d.Entries();
    for (const auto& [cls, rows] : kinds)
      for (const auto& r : rows(d)) d.Add(cls, r.number, r.name, r.fields);
  });
}

}  // namespace morvent
