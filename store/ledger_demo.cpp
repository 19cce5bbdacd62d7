// The demonstration ledger: core base data written through the ledger's own
// sets (so it obeys every rule they enforce), then the item side's items.
#include <map>
#include <string>
#include <vector>

#include "store/item_ledger.h"
#include "store/ledger_account.h"
#include "store/ledger_admin.h"
#include "store/ledger_basic_sets.h"
#include "store/ledger_store.h"
#include "store/ledger_units.h"

namespace morvent {

namespace {

struct DemoCurrency {
  const char* number;
  const char* name;
  double rate;
  int scale;  // -1: left Null
};
const DemoCurrency kCurrencies[] = {
    {"RMB", "人民币", 1, 2},  {"USD", "美元", 7.1, 2},  {"EUR", "欧元", 7.8, 2},
    {"HKD", "港币", 0.91, 2}, {"JPY", "日元", 0.048, 0}, {"GBP", "英镑", 9.05, -1},
};

const char* const kSettlements[][3] = {
    {"JF01", "现金", "001"},         {"JF02", "现金支票", "001"},     {"JF03", "转账支票", "001"},
    {"JF04", "电汇", nullptr},       {"JF05", "银行汇票", nullptr},   {"JF06", "商业承兑汇票", "002"},
    {"JF07", "银行承兑汇票", "002"},
};

// Name, then the six ranges (nullptr: left Null).
const char* const kVoucherGroups[][7] = {
    {"记", "", "", "", "", "", ""},
    {"收", nullptr, "1001,1002", nullptr, nullptr, nullptr, nullptr},
    {"付", "1001,1002", nullptr, nullptr, nullptr, nullptr, nullptr},
    {"转", nullptr, nullptr, "1001,1002", "1001,1002", nullptr, nullptr},
};
const char* const kRangeProps[] = {"CRange", "DRange", "NCRange", "NDRange", "DCRange", "NDCRange"};

struct DemoUnit {
  const char* number;
  const char* name;
  double coefficient;
  const char* auxClass = nullptr;  // nullptr: left Null
};
struct DemoGroup {
  const char* name;
  std::vector<DemoUnit> units;
  int defaultIndex;
};
const DemoGroup kUnitGroups[] = {
    {"数量组", {{"GE", "个", 1}, {"TAI", "台", 1}, {"JIAN", "件", 1}, {"TAO", "套", 1}}, 0},
    {"重量组", {{"KG", "千克", 1}, {"G", "克", 0.001}, {"T", "吨", 1000}}, 0},
    {"长度组", {{"M", "米", 1}, {"CM", "厘米", 0.01}, {"KM", "千米", 1000}}, 0},
    {"包装组", {{"XIANG", "箱", 1, "外包装"}, {"HE", "盒", 1, "内包装"}}, 0},
};

struct DemoAccount {
  const char* number;
  const char* name;
  int group;           // account type 1..6
  int dc;              // 1 debit, 0 credit
  const char* helper;  // nullptr: left Null
  const char* currency = nullptr;
  const char* unit = nullptr;
  std::vector<const char*> itemClasses = {};
  unsigned flags = 0;
};
enum : unsigned { kCash = 1, kBank = 2, kQty = 4, kAdjust = 8, kInterest = 16, kFlow = 32, kContact = 64 };

const DemoAccount kAccounts[] = {
    {"1001", "库存现金", 1, 1, "KCXJ", nullptr, nullptr, {}, kCash | kFlow},
    {"1001.01", "人民币", 1, 1, "RMB", "RMB", nullptr, {}, kCash | kFlow},
    {"1001.02", "美元", 1, 1, "MY", "USD", nullptr, {}, kCash | kFlow | kAdjust},
    {"1002", "银行存款", 1, 1, "YHCK", nullptr, nullptr, {}, kBank | kFlow},
    {"1002.01", "工商银行", 1, 1, "GSYH", nullptr, nullptr, {}, kBank | kFlow},
    {"1002.01.01", "基本户", 1, 1, nullptr, "RMB", nullptr, {}, kBank | kFlow},
    {"1002.01.02", "美元户", 1, 1, nullptr, "USD", nullptr, {}, kBank | kFlow | kAdjust},
    {"1002.02", "建设银行", 1, 1, "JSYH", "RMB", nullptr, {}, kBank | kFlow},
    {"1122", "应收账款", 1, 1, "YSZK", nullptr, nullptr, {"客户"}, kContact},
    {"1122.01", "国内客户", 1, 1, nullptr, "RMB", nullptr, {"客户"}, kContact},
    {"1122.02", "国外客户", 1, 1, nullptr, "USD", nullptr, {"客户"}, kContact | kAdjust},
    {"1221", "其他应收款", 1, 1, "QTYSK", nullptr, nullptr, {}, 0},
    {"1221.01", "职员借款", 1, 1, "ZYJK", nullptr, nullptr, {"职员", "部门"}, kContact},
    {"1403", "原材料", 1, 1, "YCL", nullptr, "千克", {"物料"}, kQty},
    {"1403.01", "主要材料", 1, 1, nullptr, nullptr, "千克", {"物料", "仓库"}, kQty},
    {"1403.02", "辅助材料", 1, 1, nullptr, nullptr, "个", {"物料", "仓库"}, kQty},
    {"1405", "库存商品", 1, 1, "KCSP", nullptr, "台", {"物料", "仓库"}, kQty},
    {"1601", "固定资产", 1, 1, "GDZC", nullptr, nullptr, {"部门"}, 0},
    {"1602", "累计折旧", 1, 0, "LJZJ", nullptr, nullptr, {}, 0},
    {"2001", "短期借款", 2, 0, "DQJK", "RMB", nullptr, {}, kInterest | kFlow},
    {"2202", "应付账款", 2, 0, "YFZK", nullptr, nullptr, {"供应商"}, kContact},
    {"2202.01", "国内供应商", 2, 0, nullptr, "RMB", nullptr, {"供应商"}, kContact},
    {"2211", "应付职工薪酬", 2, 0, "YFZGXC", nullptr, nullptr, {}, 0},
    {"2211.01", "工资", 2, 0, "GZ", nullptr, nullptr, {"部门"}, 0},
    {"2211.02", "社会保险费", 2, 0, "SHBXF", nullptr, nullptr, {}, 0},
    {"2211.02.01", "养老保险", 2, 0, nullptr, nullptr, nullptr, {"部门"}, 0},
    {"2211.02.02", "医疗保险", 2, 0, nullptr, nullptr, nullptr, {"部门"}, 0},
    {"2221", "应交税费", 2, 0, "YJSF", nullptr, nullptr, {}, 0},
    {"2221.01", "应交增值税", 2, 0, "YJZZS", nullptr, nullptr, {}, 0},
    {"2221.01.01", "进项税额", 2, 1, nullptr, nullptr, nullptr, {}, 0},
    {"2221.01.02", "销项税额", 2, 0, nullptr, nullptr, nullptr, {}, 0},
    {"3001", "清算资金往来", 3, 1, nullptr, nullptr, nullptr, {}, 0},
    {"4001", "实收资本", 4, 0, "SSZB", nullptr, nullptr, {}, 0},
    {"4103", "本年利润", 4, 0, "BNLR", nullptr, nullptr, {}, 0},
    {"5001", "生产成本", 5, 1, "SCCB", nullptr, nullptr, {"部门"}, 0},
    {"5001.01", "基本生产成本", 5, 1, nullptr, nullptr, nullptr, {"部门", "物料"}, kQty},
    {"6001", "主营业务收入", 6, 0, "ZYYWSR", nullptr, nullptr, {"客户", "部门"}, kFlow},
    {"6401", "主营业务成本", 6, 1, "ZYYWCB", nullptr, nullptr, {"物料"}, 0},
    {"6602", "管理费用", 6, 1, "GLFY", nullptr, nullptr, {"部门"}, 0},
    {"6602.01", "办公费", 6, 1, "BGF", nullptr, nullptr, {"部门"}, kFlow},
    {"6602.02", "差旅费", 6, 1, "CLF", nullptr, nullptr, {"部门", "职员"}, kFlow},
    {"6602.02.01", "国内差旅", 6, 1, nullptr, nullptr, nullptr, {"部门", "职员"}, kFlow},
    {"6602.02.01.01", "交通费", 6, 1, "JTF", nullptr, nullptr, {"部门", "职员"}, kFlow},
    {"6602.02.01.02", "住宿费", 6, 1, "ZSF", nullptr, nullptr, {"部门"}, kFlow},
    {"6602.02.02", "国外差旅", 6, 1, nullptr, "USD", nullptr, {"职员"}, kFlow | kAdjust},
    {"6603", "财务费用", 6, 1, "CWFY", nullptr, nullptr, {}, 0},
    {"6603.01", "利息支出", 6, 1, nullptr, nullptr, nullptr, {}, kFlow},
    {"6603.02", "汇兑损益", 6, 1, nullptr, nullptr, nullptr, {}, kAdjust},
};

int32_t ItemClassId(LedgerStore& store, const std::string& name) {
  auto q = store.Prepare("SELECT FItemClassID FROM t_ItemClass WHERE FName = ? ORDER BY FItemClassID LIMIT 1");
  q.Bind(1, name);
  return q.Next() ? static_cast<int32_t>(q.Int(0)) : 0;
}

void FillCore(const LedgerStorePtr& store) {
  std::map<std::string, int32_t> currencyIds;
  auto currencies = NewCurrencySet(store);
  for (const auto& c : kCurrencies) {
    auto obj = currencies->CreateNew({}, {{"Number", Variant(c.number)}});
    obj->Let("Name", Variant(c.name));
    obj->Let("ExchangeRate", Variant(c.rate));
    obj->Let("Operator", Variant("*"));
    if (c.scale >= 0) obj->Let("ScaleX", Variant(int32_t{c.scale}));
    obj->SaveChanges();
    currencyIds[c.number] = obj->Get("CurrencyID").ToLong();
  }

  auto settlements = NewSettTypeSet(store);
  for (const auto& s : kSettlements) {
    auto obj = settlements->CreateNew({}, {{"Number", Variant(s[0])}});
    obj->Let("Name", Variant(s[1]));
    if (s[2]) obj->Let("BrNo", Variant(s[2]));
    obj->SaveChanges();
  }

  auto vouchers = NewVoucherGroupSet(store);
  for (const auto& v : kVoucherGroups) {
    auto obj = vouchers->CreateNew({}, {{"Name", Variant(v[0])}});
    for (int i = 0; i < 6; ++i)
      if (v[i + 1]) obj->Let(kRangeProps[i], Variant(v[i + 1]));
    obj->SaveChanges();
  }

  std::map<std::string, int32_t> unitIds;
  auto groups = NewMeasureUnitGroupSet(store);
  auto units = NewMeasureUnitSet(store);
  for (const auto& g : kUnitGroups) {
    auto group = groups->CreateNew({}, {{"Name", Variant(g.name)}});
    group->SaveChanges();
    int32_t groupId = group->Get("GroupID").ToLong();
    units->SetRestriction("UnitGroupID", Variant(groupId));
    for (size_t i = 0; i < g.units.size(); ++i) {
      auto unit = units->CreateNew({}, {{"Name", Variant(g.units[i].name)}});
      unit->Let("Number", Variant(g.units[i].number));
      unit->Let("Coefficient", Variant(g.units[i].coefficient));
      if (g.units[i].auxClass) unit->Let("AuxClass", Variant(g.units[i].auxClass));
      unit->SaveChanges();
      int32_t unitId = unit->Get("MeasureUnitID").ToLong();
      unitIds[g.units[i].name] = unitId;
      if (static_cast<int>(i) == g.defaultIndex) group->Call("SetDefaultUnit", {Variant(unitId)}, {});
    }
  }

  auto accounts = NewAccountSet(store);
  for (const auto& a : kAccounts) {
    auto obj = accounts->CreateNew({}, {{"Number", Variant(a.number)}});
    obj->Let("Name", Variant(a.name));
    if (a.helper) obj->Let("HelperCode", Variant(a.helper));
    obj->Let("DC", Variant(int32_t{a.dc}));
    obj->Let("GroupID", Variant(int32_t{a.group}));
    obj->Let("IsCash", Variant((a.flags & kCash) != 0));
    obj->Let("IsBank", Variant((a.flags & kBank) != 0));
    obj->Let("Journal", Variant((a.flags & (kCash | kBank)) != 0));
    obj->Let("Quantities", Variant((a.flags & kQty) != 0));
    obj->Let("AdjustRate", Variant((a.flags & kAdjust) != 0));
    obj->Let("Contact", Variant((a.flags & kContact) != 0));
    obj->Let("Acctint", Variant((a.flags & kInterest) != 0));
    if (a.flags & kInterest) obj->Let("IntRate", Variant(0.0435));
    if (a.flags & kFlow) obj->Let("IsCashFlow", Variant(true));  // otherwise left Null
    if (a.currency) obj->Let("CurrencyID", Variant(currencyIds.at(a.currency)));
    if (a.unit) obj->Let("MeasureUnitID", Variant(unitIds.at(a.unit)));
    if (!a.itemClasses.empty()) {
      auto list = std::make_shared<RecordCollection>();
      for (const char* cls : a.itemClasses) {
        auto r = NewRecord();
        r->SetValue("FItemClassID", Variant(ItemClassId(*store, cls)));
        r->SetValue("FBalChecked", Variant(true));
        list->Add(r);
      }
      obj->Dictionary()->SetValue("FAccountItem", Variant(list));
    }
    obj->SaveChanges();
  }
}

}  // namespace

void FillDemoLedger(const std::string& path) {
  auto store = LedgerStore::ForPath(path);
  store->Write([&] {
    FillCore(store);
    FillDemoItems(*store);
  });
  store->Commit();
}

}  // namespace morvent
