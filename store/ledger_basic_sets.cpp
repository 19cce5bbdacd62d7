#include "store/ledger_basic_sets.h"

#include "store/ledger_table.h"

namespace morvent {

namespace {

const TableSpec& CurrencySpec() {
  static const TableSpec spec("币别", "t_Currency", "FCurrencyID", "CurrencyID",
                              {{"Number", "FNumber", ColumnKind::Text},
                               {"Name", "FName", ColumnKind::Text},
                               {"ExchangeRate", "FExchangeRate", ColumnKind::Double},
                               {"Operator", "FOperator", ColumnKind::Text},
                               {"ScaleX", "FScale", ColumnKind::Long}});
  return spec;
}

const TableSpec& SettleSpec() {
  static const TableSpec spec("结算方式", "t_SettleType", "FItemID", "ItemID",
                              {{"Number", "FNumber", ColumnKind::Text},
                               {"Name", "FName", ColumnKind::Text},
                               {"BrNo", "FBrNo", ColumnKind::Text}});
  return spec;
}

const TableSpec& VoucherGroupSpec() {
  static const TableSpec spec("凭证字", "t_VoucherGroup", "FGroupID", "VoucherGroupID",
                              {{"Name", "FName", ColumnKind::Text},
                               {"CRange", "FCRange", ColumnKind::Text},
                               {"DRange", "FDRange", ColumnKind::Text},
                               {"NCRange", "FNCRange", ColumnKind::Text},
                               {"NDRange", "FNDRange", ColumnKind::Text},
                               {"DCRange", "FDCRange", ColumnKind::Text},
                               {"NDCRange", "FNDCRange", ColumnKind::Text}});
  return spec;
}

class Currency : public TableObject {
 public:
  using TableObject::TableObject;

 protected:
  void BeforeSave() override {
    const Variant& number = Value(0);
    if (number.IsNull()) ThrowLedgerError("币别代码不能为空值");
    CheckUnique("FNumber", "", "币别代码 " + number.ToText() + " 已存在");
  }
};

class CurrencySet : public TableSet {
 public:
  using TableSet::TableSet;
  TableObjectPtr MakeObject() override { return std::make_shared<Currency>(store_, spec_); }
};

}  // namespace

ObjectSetPtr NewCurrencySet(LedgerStorePtr store) { return std::make_shared<CurrencySet>(std::move(store), CurrencySpec()); }
ObjectSetPtr NewSettTypeSet(LedgerStorePtr store) { return std::make_shared<TableSet>(std::move(store), SettleSpec()); }
ObjectSetPtr NewVoucherGroupSet(LedgerStorePtr store) {
  return std::make_shared<TableSet>(std::move(store), VoucherGroupSpec());
}

}  // namespace morvent
