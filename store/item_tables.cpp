#include "store/item_tables.h"

#include <limits>

#include "platform/error.h"
#include "platform/text.h"
#include "store/item_common.h"
#include "store/item_metadata.h"
#include "store/ledger_table.h"

namespace morvent {

namespace {

const TableSpec& ItemClassSpec() {
  static const TableSpec spec("核算项目类别", "t_ItemClass", "FItemClassID", "ItemClassID",
                              {{"Number", "FNumber", ColumnKind::Text}, {"Name", "FName", ColumnKind::Text}});
  return spec;
}

const TableSpec& TypeSpec() {
  static const TableSpec spec("辅助资料类别", "t_SubMesType", "FTypeID", "TypeID",
                              {{"Name", "FName", ColumnKind::Text}});
  return spec;
}

constexpr int kEntryType = 0, kEntryNumber = 1, kEntryName = 2;
const TableSpec& EntrySpec() {
  static const TableSpec spec("辅助资料", "t_SubMes", "FItemID", "ItemID",
                              {{"TypeID", "FTypeID", ColumnKind::Long, true},
                               {"Number", "FNumber", ColumnKind::Text},
                               {"Name", "FName", ColumnKind::Text}},
                              "", "FTypeID", "TypeID");
  return spec;
}

// A row whose texts are stored as empty text when never given, and whose
// new ID must fit the 16 bits the protocol carries it in.
class SmallIdObject : public TableObject {
 public:
  using TableObject::TableObject;

 protected:
  void BeforeSave() override {
    for (size_t c = 0; c < spec_.columns.size(); ++c)
      if (Value(static_cast<int>(c)).IsNull()) Assign(static_cast<int>(c), Variant(""));
  }
  void AfterSave(bool inserted) override {
    if (inserted) CheckedNewId(Id(), kMaxSmallId, spec_.what);
  }
};

class SmallIdSet : public TableSet {
 public:
  using TableSet::TableSet;
  TableObjectPtr MakeObject() override { return std::make_shared<SmallIdObject>(store_, spec_); }
};

std::string TypeName(LedgerStore& store, const Variant& typeId) {
  auto q = store.Prepare("SELECT FName FROM t_SubMesType WHERE FTypeID = ?");
  q.Bind(1, typeId);
  return q.Next() ? q.Text(0) : std::string();
}

class Entry : public TableObject {
 public:
  using TableObject::TableObject;

 protected:
  void BeforeSave() override {
    if (Value(kEntryName).IsNull()) Assign(kEntryName, Variant(""));
    if (Value(kEntryNumber).IsNull()) ThrowLedgerError("辅助资料代码不能为空值");
    const Variant& type = Value(kEntryType);
    if (IsNew()) {
      auto q = store_->Prepare("SELECT 1 FROM t_SubMesType WHERE FTypeID = ?");
      q.Bind(1, type);
      if (!q.Next()) ThrowLedgerError("辅助资料类别（ID " + type.ToText() + "）不存在");
    }
    CheckUnique("FNumber", "FTypeID",
                "辅助资料类别“" + TypeName(*store_, type) + "”中代码“" + Value(kEntryNumber).ToText() + "”已存在");
  }
};

class EntrySet : public TableSet {
 public:
  using TableSet::TableSet;
  TableObjectPtr MakeObject() override { return std::make_shared<Entry>(store_, spec_); }

  void SetRestriction(const std::string& name, const Variant& value) override {
    TableSet::SetRestriction(name, value);
    if (scope_ == 0) scope_.reset();  // 0 lists every type
  }

  LedgerObjectPtr Item(int32_t id, const std::optional<Variant>& second) override {
    std::optional<int64_t> type = scope_;
    if (second && !second->IsEmpty()) {
      int32_t s = second->ToLong();
      type = s == kAnyAssistType ? std::nullopt : std::optional<int64_t>(s);
    }
    auto obj = TableSet::Item(id, std::nullopt);
    if (obj && type && obj->Get("TypeID").ToLong() != *type) return nullptr;
    return obj;
  }

  int32_t ExistenceCheck(const NamedArgs& named) override {
    NamedArgs keys;
    std::optional<int64_t> scope = scope_;
    for (const auto& arg : named) {
      if (!EqualsNoCase(arg.first, "TypeID")) {
        keys.push_back(arg);
        continue;
      }
      int32_t t = arg.second.IsNull() ? 0 : arg.second.ToLong();
      scope = t == 0 ? std::nullopt : std::optional<int64_t>(t);
    }
    std::swap(scope, scope_);
    try {
      int32_t id = TableSet::ExistenceCheck(keys);
      std::swap(scope, scope_);
      return id;
    } catch (...) {
      std::swap(scope, scope_);
      throw;
    }
  }

  LedgerObjectPtr CreateNew(const std::vector<Variant>& args, const NamedArgs& named) override {
    ArgReader reader(named, {"TypeID", "Number", "Name"}, "CreateNew");
    auto pick = [&](size_t index, const char* name) -> const Variant* {
      if (const Variant* v = reader.Find(name)) return v;
      return Positional(args, index);
    };
    int32_t type = scope_ ? static_cast<int32_t>(*scope_) : 0;
    if (const Variant* v = pick(0, "TypeID")) type = v->ToLong();
    if (type == 0) throw Error(kErrInvalidCall, "MorventLedger", "新增辅助资料时没有指定辅助资料类别");
    auto entry = MakeObject();
    entry->Assign(kEntryType, Variant(type));
    entry->Assign(kEntryNumber, Variant(""));
    if (const Variant* v = pick(1, "Number")) entry->Let("Number", *v);
    if (const Variant* v = pick(2, "Name")) entry->Let("Name", *v);
    return entry;
  }
};

}  // namespace

ObjectSetPtr NewItemClassSet(LedgerStorePtr store) {
  return std::make_shared<SmallIdSet>(std::move(store), ItemClassSpec());
}

ObjectSetPtr NewSubMesTypeSet(LedgerStorePtr store) {
  return std::make_shared<SmallIdSet>(std::move(store), TypeSpec());
}

ObjectSetPtr NewSubMesSet(LedgerStorePtr store) { return std::make_shared<EntrySet>(std::move(store), EntrySpec()); }

}  // namespace morvent
