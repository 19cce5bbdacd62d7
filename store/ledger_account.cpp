#include "store/ledger_account.h"

#include <algorithm>
#include <set>

#include "platform/error.h"
#include "platform/text.h"
#include "store/ledger_table.h"

namespace morvent {

namespace {

enum Col { kNumber, kName, kHelperCode, kDC, kLevel, kDetail, kCurrencyID = 15, kGroupID, kMeasureUnitID, kParentID };

const TableSpec& AccountSpec() {
  static const TableSpec spec("科目", "t_Account", "FAccountID", "AccountID",
                              {{"Number", "FNumber", ColumnKind::Text},
                               {"Name", "FName", ColumnKind::Text},
                               {"HelperCode", "FHelperCode", ColumnKind::Text},
                               {"DC", "FDC", ColumnKind::Long},
                               {"Level", "FLevel", ColumnKind::Long, true},
                               {"Detail", "FDetail", ColumnKind::Bool, true},
                               {"AdjustRate", "FAdjustRate", ColumnKind::Bool},
                               {"Contact", "FContact", ColumnKind::Bool},
                               {"Quantities", "FQuantities", ColumnKind::Bool},
                               {"IsCash", "FIsCash", ColumnKind::Bool},
                               {"IsBank", "FIsBank", ColumnKind::Bool},
                               {"Journal", "FJournal", ColumnKind::Bool},
                               {"IsCashFlow", "FIsCashFlow", ColumnKind::Bool},
                               {"Acctint", "FAcctint", ColumnKind::Bool},
                               {"IntRate", "FIntRate", ColumnKind::Double},
                               {"CurrencyID", "FCurrencyID", ColumnKind::Ref},
                               {"GroupID", "FGroupID", ColumnKind::Ref},
                               {"MeasureUnitID", "FMeasureUnitID", ColumnKind::Ref},
                               {"ParentID", "FParentID", ColumnKind::Ref, true}},
                              "FNumber");
  return spec;
}

constexpr const char* kAccountItem = "FAccountItem";

bool HasChildren(LedgerStore& store, int32_t id) {
  auto q = store.Prepare("SELECT 1 FROM t_Account WHERE FParentID = ? LIMIT 1");
  q.Bind(1, id);
  return q.Next();
}

void RefreshDetail(LedgerStore& store, int32_t id) {
  auto q = store.Prepare(
      "UPDATE t_Account SET FDetail = CASE WHEN EXISTS (SELECT 1 FROM t_Account c WHERE c.FParentID = ?1) THEN 0 ELSE 1 END "
      "WHERE FAccountID = ?1");
  q.Bind(1, id).Run();
}

Variant StoredValue(const Query& q, int typeColumn, int valueColumn) {
  auto type = static_cast<VarType>(q.Int(typeColumn));
  switch (type) {
    case VarType::Empty:
      return Variant();
    case VarType::Null:
      return Variant::Null();
    case VarType::Boolean:
      return Variant(q.Int(valueColumn) != 0);
    case VarType::Integer:
      return Variant(static_cast<int16_t>(q.Int(valueColumn)));
    case VarType::Long:
      return Variant(static_cast<int32_t>(q.Int(valueColumn)));
    case VarType::Double:
      return Variant(q.Real(valueColumn));
    case VarType::Date:
      return Variant(DateValue{q.Real(valueColumn)});
    default:
      return Variant(q.Text(valueColumn));
  }
}

// The extended properties of one account; remembers which keys were written.
class AccountDictionary : public DataRecord {
 public:
  void SetValue(const std::string& key, const Variant& value) override {
    DataRecord::SetValue(key, value);
    written_.insert(key);
  }
  void Load(const std::string& key, const Variant& value) { DataRecord::SetValue(key, value); }
  bool HasWrites() const { return !written_.empty(); }
  DataRecord Writes() const {
    DataRecord out;
    for (const auto& [k, v] : Entries())
      if (written_.count(k)) out.SetValue(k, v);
    return out;
  }
  void Stored() { written_.clear(); }

 private:
  std::set<std::string> written_;
};

class Account : public TableObject {
 public:
  using TableObject::TableObject;

  std::shared_ptr<DataRecord> Dictionary() override {
    if (!dict_) {
      dict_ = std::make_shared<AccountDictionary>();
      if (!IsNew()) {
        auto items = std::make_shared<RecordCollection>();
        auto q = store_->Prepare(
            "SELECT FItemClassID, FBalChecked FROM t_AccountItem WHERE FAccountID = ? ORDER BY FSeq");
        q.Bind(1, Id());
        while (q.Next()) {
          auto r = NewRecord();
          r->SetValue("FItemClassID", Variant(static_cast<int32_t>(q.Int(0))));
          r->SetValue("FBalChecked", Variant(q.Int(1) != 0));
          items->Add(r);
        }
        dict_->Load(kAccountItem, Variant(items));
        auto p = store_->Prepare("SELECT FKey, FType, FValue FROM t_AccountProp WHERE FAccountID = ? ORDER BY FKey");
        p.Bind(1, Id());
        while (p.Next()) dict_->Load(p.Text(0), StoredValue(p, 1, 2));
      }
    }
    return dict_;
  }

 protected:
  bool ExtraGet(const std::string& name, Variant& out) const override {
    if (!EqualsNoCase(name, "_Items")) return false;
    out = Variant(IsNew() ? std::make_shared<RecordCollection>() : AccountItems(*store_, Id()));
    return true;
  }

  // A taken number's message; the unique index keeps numbers apart, and
  // this is asked first on any failure, so its message still comes first.
  void ThrowIfTaken() {
    if (!Value(kNumber).IsNull()) CheckUnique("FNumber", "", "科目代码 " + Value(kNumber).ToText() + " 已存在");
  }

  static std::string NumberOf(const Variant& numberValue) {
    if (numberValue.IsNull()) ThrowLedgerError("科目代码不能为空值");
    return numberValue.ToText();
  }

  // The parent's ID (0 at the top level) and the account's level, derived
  // from the number.
  int32_t DeriveParent(const std::string& number) {
    int32_t parent = 0;
    auto dot = number.rfind('.');
    if (dot != std::string::npos) {
      std::string parentNumber = number.substr(0, dot);
      static const StatementKey find("SELECT FAccountID FROM t_Account WHERE FNumber = ?");
      auto q = store_->Prepare(find);
      q.Bind(1, parentNumber);
      if (!q.Next()) ThrowLedgerError("科目代码 " + number + " 的上级科目 " + parentNumber + " 不存在");
      parent = static_cast<int32_t>(q.Int(0));
    }
    Assign(kParentID, Variant(parent));
    Assign(kLevel, Variant(static_cast<int32_t>(std::count(number.begin(), number.end(), '.') + 1)));
    return parent;
  }

  void BeforeSave() override {
    std::string number = NumberOf(Value(kNumber));
    ThrowIfTaken();

    oldParent_ = 0;
    if (!IsNew()) {
      auto q = store_->Prepare("SELECT FNumber, FParentID FROM t_Account WHERE FAccountID = ?");
      q.Bind(1, Id());
      if (q.Next()) {
        oldParent_ = static_cast<int32_t>(q.Int(1));
        // Children carry the old number in theirs; renaming would orphan them.
        if (q.Text(0) != number && HasChildren(*store_, Id()))
          ThrowLedgerError("科目 " + q.Text(0) + " 有下级科目，不能修改科目代码");
      }
    }

    DeriveParent(number);
    Assign(kDetail, Variant(IsNew() || !HasChildren(*store_, Id())));
  }

  // A new account without extended properties to store: its row and its
  // parent's Detail are the only changes, so the save needs no savepoint
  // (an insert undone by a later step is deleted again).
  void InsertAlone() {
    int64_t inserted = 0;
    int32_t id = 0;
    auto save = [&] {
      int32_t parent = 0;
      try {
        parent = DeriveParent(NumberOf(Value(kNumber)));
        Assign(kDetail, Variant(true));
        auto q = store_->Prepare(spec_.insert);
        for (size_t i = 0; i < spec_.columns.size(); ++i) q.Bind(static_cast<int>(i) + 1, Value(static_cast<int>(i)));
        q.Run();
      } catch (const Error&) {
        ThrowIfTaken();
        throw;
      }
      inserted = store_->LastInsertId();
      const int64_t settled = store_->SettleNewId(spec_.table, spec_.idField, inserted);
      if (settled < 1 || settled > INT32_MAX) ThrowLedgerError(spec_.what + "的内码已用尽，不能再新增");
      id = static_cast<int32_t>(settled);
      if (parent > 0) {
        static const StatementKey notDetail(
            "UPDATE t_Account SET FDetail = 0 WHERE FAccountID = ? AND (FDetail IS NULL OR FDetail <> 0)");
        store_->Prepare(notDetail).Bind(1, parent).Run();
      }
    };
    auto undo = [&] {
      if (inserted == 0) ThrowLedgerError("保存失败");  // nothing of ours to take back
      static const StatementKey drop("DELETE FROM t_Account WHERE FAccountID = ?");
      store_->Prepare(drop).Bind(1, inserted).Run();
    };
    store_->WriteOne(save, undo);
    Inserted(id);
  }

  void AfterSave(bool) override {
    int32_t parent = Value(kParentID).ToLong();
    if (parent > 0) RefreshDetail(*store_, parent);
    if (oldParent_ > 0 && oldParent_ != parent) RefreshDetail(*store_, oldParent_);
    if (dict_ && dict_->HasWrites()) StoreAccountExtension(*store_, Id(), dict_->Writes());
  }

 public:
  void SaveChanges() override {
    // A lost ID of the table may move the new row's: a second change.
    if (IsNew() && !(dict_ && dict_->HasWrites()) && !store_->HasIdFloor(spec_.table))
      InsertAlone();
    else
      TableObject::SaveChanges();
    if (dict_) dict_->Stored();
  }

 private:
  std::shared_ptr<AccountDictionary> dict_;
  int32_t oldParent_ = 0;
};

class AccountSet : public TableSet {
 public:
  using TableSet::TableSet;
  TableObjectPtr MakeObject() override { return std::make_shared<Account>(store_, spec_); }
};

}  // namespace

ObjectSetPtr NewAccountSet(LedgerStorePtr store) {
  return std::make_shared<AccountSet>(std::move(store), AccountSpec());
}

void StoreAccountExtension(LedgerStore& store, int32_t accountId, const DataRecord& record) {
  store.Write([&] {
    auto exists = store.Prepare("SELECT 1 FROM t_Account WHERE FAccountID = ?");
    exists.Bind(1, accountId);
    if (!exists.Next()) ThrowLedgerError("科目（内码 " + std::to_string(accountId) + "）不存在");
    for (const auto& [key, value] : record.Entries()) {
      if (EqualsNoCase(key, kAccountItem)) {
        store.Prepare("DELETE FROM t_AccountItem WHERE FAccountID = ?").Bind(1, accountId).Run();
        auto items = value.As<RecordCollection>();
        if (!items) {
          if (value.IsObject() || value.IsEmpty() || value.IsNull()) continue;  // Nothing: no classes
          ThrowLedgerError("科目扩展属性“" + key + "”应为科目挂接的核算项目类别列表");
        }
        int32_t seq = 0;
        for (int32_t i = items->LBound(); i <= items->UBound(); ++i) {
          const auto& row = Must(items->Item(i));
          int32_t classId = NullToDefault(row.Value("FItemClassID"), int32_t{0}).ToLong();
          if (classId == 0) continue;  // 0 means "none": nothing to attach
          bool checked = NullToDefault(row.GetValue("FBalChecked", true), true).ToBool();
          auto ins = store.Prepare(
              "INSERT INTO t_AccountItem (FAccountID, FSeq, FItemClassID, FBalChecked) VALUES (?, ?, ?, ?)");
          ins.Bind(1, accountId).Bind(2, ++seq).Bind(3, classId).Bind(4, int32_t{checked ? 1 : 0}).Run();
        }
        continue;
      }
      if (value.IsObject()) ThrowLedgerError("科目扩展属性“" + key + "”不能保存对象");
      auto q = store.Prepare(
          "INSERT INTO t_AccountProp (FAccountID, FKey, FType, FValue) VALUES (?, ?, ?, ?) "
          "ON CONFLICT (FAccountID, FKey) DO UPDATE SET FType = excluded.FType, FValue = excluded.FValue");
      q.Bind(1, accountId).Bind(2, key).Bind(3, static_cast<int32_t>(value.Type())).Bind(4, value).Run();
    }
  });
}

RecordCollectionPtr AccountItems(LedgerStore& store, int32_t accountId) {
  auto items = std::make_shared<RecordCollection>();
  // Item classes belong to the item side's table; read names only when it exists.
  bool named = store.TableExists("t_ItemClass");
  auto q = store.Prepare(named ? "SELECT a.FItemClassID, c.FName, c.FNumber, a.FBalChecked FROM t_AccountItem a "
                                 "LEFT JOIN t_ItemClass c ON c.FItemClassID = a.FItemClassID "
                                 "WHERE a.FAccountID = ? ORDER BY a.FSeq"
                               : "SELECT FItemClassID, NULL, NULL, FBalChecked FROM t_AccountItem "
                                 "WHERE FAccountID = ? ORDER BY FSeq");
  q.Bind(1, accountId);
  while (q.Next()) {
    auto r = NewRecord();
    r->SetValue("FItemClassID", Variant(static_cast<int32_t>(q.Int(0))));
    r->SetValue("FItemClassName", q.Get(1));
    r->SetValue("FItemClassNumber", q.Get(2));
    r->SetValue("FBalChecked", Variant(q.Int(3) != 0));
    items->Add(r);
  }
  return items;
}

}  // namespace morvent
