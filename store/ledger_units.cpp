#include "store/ledger_units.h"

#include <initializer_list>

#include "platform/error.h"
#include "platform/text.h"
#include "store/ledger_table.h"

namespace morvent {

namespace {

const TableSpec& GroupSpec() {
  static const TableSpec spec("计量单位组", "t_MeasureUnitGroup", "FGroupID", "GroupID",
                              {{"Name", "FName", ColumnKind::Text},
                               {"DefaultUnitID", "FDefaultUnitID", ColumnKind::Ref}});
  return spec;
}

const TableSpec& UnitSpec() {
  static const TableSpec spec("计量单位", "t_MeasureUnit", "FMeasureUnitID", "MeasureUnitID",
                              {{"UnitGroupID", "FUnitGroupID", ColumnKind::Ref},
                               {"Number", "FNumber", ColumnKind::Text},
                               {"Name", "FName", ColumnKind::Text},
                               {"Coefficient", "FCoefficient", ColumnKind::Double},
                               {"AuxClass", "FAuxClass", ColumnKind::Text}},
                              "", "FUnitGroupID", "UnitGroupID");
  return spec;
}

// The one argument of a Call: the named one, or else the first positional.
const Variant* CallArgument(const std::vector<Variant>& args, const NamedArgs& named,
                            std::initializer_list<const char*> names, const std::string& member) {
  for (const auto& [n, v] : named) {
    for (const char* name : names)
      if (EqualsNoCase(n, name)) return &v;
    ThrowLedgerError(member + " 不接受参数“" + n + "”");
  }
  if (!args.empty()) return &args[0];
  return nullptr;
}

class MeasureUnitGroup : public TableObject {
 public:
  using TableObject::TableObject;

  Variant Call(const std::string& member, const std::vector<Variant>& args, const NamedArgs& named) override {
    if (EqualsNoCase(member, "ExistenceCheck")) {
      const Variant* name = CallArgument(args, named, {"Name"}, member);
      if (!name) ThrowLedgerError("ExistenceCheck 缺少参数“Name”");
      if (name->IsNull()) return Variant(int32_t{0});
      auto q = store_->Prepare("SELECT FMeasureUnitID FROM t_MeasureUnit WHERE FUnitGroupID = ? AND FName = ?");
      q.Bind(1, Id()).Bind(2, name->ToText());
      return Variant(q.Next() ? static_cast<int32_t>(q.Int(0)) : int32_t{0});
    }
    if (EqualsNoCase(member, "SetDefaultUnit")) {
      const Variant* unit = CallArgument(args, named, {"UnitID", "MeasureUnitID"}, member);
      if (!unit) ThrowLedgerError("SetDefaultUnit 缺少计量单位内码");
      if (IsNew()) ThrowLedgerError("计量单位组尚未保存，不能设置默认计量单位");
      int32_t unitId = unit->IsNull() ? 0 : unit->ToLong();
      store_->Write([&] {
        auto q = store_->Prepare("UPDATE t_MeasureUnitGroup SET FDefaultUnitID = ? WHERE FGroupID = ?");
        q.Bind(1, unitId).Bind(2, Id()).Run();
        if (store_->Changes() == 0)
          ThrowLedgerError("计量单位组（内码 " + std::to_string(Id()) + "）已不存在，不能设置默认计量单位");
      });
      // Only the default changed; other pending edits stay pending.
      bool pending = Dirty(1);
      Assign(1, Variant(unitId));
      if (!pending) MarkClean(1);
      return Variant();
    }
    ThrowNotSupported(member);
  }
};

class MeasureUnit : public TableObject {
 public:
  using TableObject::TableObject;

 protected:
  void BeforeSave() override {
    const Variant& name = Value(2);
    if (name.IsNull()) ThrowLedgerError("计量单位名称不能为空值");
    int32_t group = Value(0).ToLong();
    std::string groupName = std::to_string(group);
    auto q = store_->Prepare("SELECT FName FROM t_MeasureUnitGroup WHERE FGroupID = ?");
    q.Bind(1, group);
    if (q.Next() && !q.IsNull(0)) groupName = q.Text(0);
    CheckUnique("FName", "FUnitGroupID",
                "计量单位组“" + groupName + "”中已有名称为“" + name.ToText() + "”的计量单位");
  }
};

class MeasureUnitGroupSet : public TableSet {
 public:
  using TableSet::TableSet;
  TableObjectPtr MakeObject() override { return std::make_shared<MeasureUnitGroup>(store_, spec_); }
};

class MeasureUnitSet : public TableSet {
 public:
  using TableSet::TableSet;
  TableObjectPtr MakeObject() override { return std::make_shared<MeasureUnit>(store_, spec_); }
  LedgerObjectPtr GetUnit(int32_t id) override { return Item(id); }
  LedgerObjectPtr CreateNew(const std::vector<Variant>& args, const NamedArgs& named) override {
    auto unit = MakeObject();
    unit->Assign(0, Variant(static_cast<int32_t>(Scope().value_or(0))));
    for (const auto& [name, value] : named) unit->Let(name, value);
    (void)args;
    return unit;
  }
};

}  // namespace

ObjectSetPtr NewMeasureUnitGroupSet(LedgerStorePtr store) {
  return std::make_shared<MeasureUnitGroupSet>(std::move(store), GroupSpec());
}
ObjectSetPtr NewMeasureUnitSet(LedgerStorePtr store) {
  return std::make_shared<MeasureUnitSet>(std::move(store), UnitSpec());
}

}  // namespace morvent
