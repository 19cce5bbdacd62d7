#include "store/item_object.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <unordered_map>
#include <utility>

#include "platform/error.h"
#include "platform/text.h"
#include "store/item_common.h"
#include "store/item_metadata.h"
#include "store/item_refs.h"
#include "store/item_values.h"

namespace morvent {

namespace {

// A number is kept as a Long when it is whole and fits, else as a Double.
Variant StoredNumber(double d) {
  if (std::floor(d) == d && d >= std::numeric_limits<int32_t>::min() && d <= std::numeric_limits<int32_t>::max())
    return Variant(static_cast<int32_t>(d));
  return Variant(d);
}

Variant ReadAs(const FieldDef& def, const Variant& stored) {
  if (stored.IsNull()) return stored;
  switch (def.kind) {
    case FieldKind::Text:
      return stored.IsText() ? stored : Variant(stored.ToText());
    case FieldKind::Date:
      return Variant(DateValue{stored.ToDouble()});
    case FieldKind::Flag:
      return Variant(stored.ToDouble() != 0);
    case FieldKind::Number:
    case FieldKind::Ref:
      return stored;
  }
  return stored;
}

// An import sets the same fields on every record, a customer more than a
// dozen of them in turn: each name's answer is kept (the catalogues never
// change). Names may also come from scripts, so the kept answers are
// bounded, and all forgotten at once when full.
FieldRef ResolveKept(const ClassCatalogue* catalogue, const std::string& name) {
  constexpr size_t kKept = 512;
  thread_local std::unordered_map<const ClassCatalogue*, std::unordered_map<std::string, FieldRef>> kept;
  thread_local size_t count = 0;
  auto& names = kept[catalogue];
  if (auto it = names.find(name); it != names.end()) return it->second;
  const FieldRef ref = ResolveField(catalogue, name);
  if (count == kKept) {
    for (auto& [c, m] : kept) m.clear();
    count = 0;
  }
  names.emplace(name, ref);
  ++count;
  return ref;
}

class ItemDictionary : public DataRecord {
 public:
  explicit ItemDictionary(std::shared_ptr<ItemObject> item) : item_(std::move(item)) {}
  Variant Value(const std::string& key) const override {
    return item_->Carries(key) ? item_->Properties(key) : Variant();
  }
  void SetValue(const std::string& key, const Variant& value) override { item_->SetProperties(key, value); }
  Variant GetValue(const std::string& key, const Variant& def) const override {
    return item_->Carries(key) ? item_->Properties(key) : def;
  }
  bool Has(const std::string& key) const override { return item_->Carries(key); }
  const std::vector<Entry>& Entries() const override {
    snapshot_ = item_->FieldEntries();
    return snapshot_;
  }

 private:
  std::shared_ptr<ItemObject> item_;
  mutable std::vector<Entry> snapshot_;
};

}  // namespace

ItemObject::ItemObject(LedgerStorePtr store, ItemRow row)
    : store_(std::move(store)), catalogue_(FindCatalogue(static_cast<int16_t>(row.classId))), row_(std::move(row)) {
  valuesText_ = std::move(row_.values);
  row_.values.reset();
}

std::shared_ptr<ItemObject> ItemObject::New(LedgerStorePtr store, int32_t classId, int32_t parentId,
                                            std::string number, std::string name) {
  ItemRow row;
  row.classId = classId;
  row.parentId = parentId;
  row.number = std::move(number);
  row.name = std::move(name);
  auto item = std::make_shared<ItemObject>(std::move(store), std::move(row));
  item->loaded_ = true;
  return item;
}

Variant ItemObject::Get(const std::string& property) const {
  if (EqualsNoCase(property, "Name")) return Variant(row_.name);
  if (EqualsNoCase(property, "Number")) return Variant(row_.number);
  if (EqualsNoCase(property, "ItemID")) return Variant(row_.id);
  if (EqualsNoCase(property, "ItemClassID")) return Variant(row_.classId);
  if (EqualsNoCase(property, "ParentID")) return Variant(row_.parentId);
  ThrowUnknownProperty("核算项目", property);
}

void ItemObject::Let(const std::string& property, const Variant& value) {
  if (EqualsNoCase(property, "Name")) {
    SetRowText(row_.name, value.ToText());
  } else if (EqualsNoCase(property, "Number")) {
    SetRowText(row_.number, value.ToText());
  } else if (EqualsNoCase(property, "ItemID") || EqualsNoCase(property, "ItemClassID") ||
             EqualsNoCase(property, "ParentID")) {
    ThrowLedgerError("核算项目的属性“" + property + "”是只读的");
  } else {
    ThrowUnknownProperty("核算项目", property);
  }
}

void ItemObject::SetRowText(std::string& column, std::string text) {
  if (column == text) return;
  column = std::move(text);
  rowDirty_ = true;
}

bool ItemObject::Carries(const std::string& field) const { return static_cast<bool>(ResolveField(catalogue_, field)); }

void ItemObject::Unknown(const std::string& field) const {
  auto cls = ItemClassName(*store_, row_.classId);
  ThrowLedgerError("核算项目类别“" + cls.value_or(std::to_string(row_.classId)) + "”没有字段“" + field + "”");
}

void ItemObject::Load() const {
  if (loaded_) return;
  std::string text;
  if (valuesText_) {
    text = std::move(*valuesText_);
    valuesText_.reset();
  } else {
    static const StatementKey read("SELECT FValues FROM t_Item WHERE FItemID = ?");
    auto q = store_->Prepare(read);
    q.Bind(1, row_.id);
    if (q.Next() && !q.IsNull(0)) text = q.Text(0);
  }
  // Values written since the item was read win over the stored ones.
  if (!text.empty() && !ReadItemValues(text, [&](std::string_view field, Variant&& value) {
        if (const FieldDef* def = ResolveKept(catalogue_, std::string(field)).def) values_.emplace(def, std::move(value));
      }))
    ThrowLedgerError("账套文件已损坏：" + store_->Path());
  loaded_ = true;
}

Variant ItemObject::Stored(const FieldDef* def) const {
  Load();
  auto it = values_.find(def);
  return it == values_.end() ? Variant::Null() : it->second;
}

Variant ItemObject::Properties(const std::string& field) const {
  FieldRef f = ResolveKept(catalogue_, field);
  switch (f.core) {
    case CoreField::ItemID: return Variant(row_.id);
    case CoreField::ItemClassID: return Variant(row_.classId);
    case CoreField::Number: return Variant(row_.number);
    case CoreField::Name: return Variant(row_.name);
    case CoreField::ParentID: return Variant(row_.parentId);
    case CoreField::None: break;
  }
  if (!f.def) Unknown(field);
  Variant stored = Stored(f.def);
  if (f.def->kind == FieldKind::Ref && !f.idName)
    return stored.IsNull() ? stored : ReferencedName(*store_, *f.def, stored.ToLong());
  return ReadAs(*f.def, stored);
}

void ItemObject::SetProperties(const std::string& field, const Variant& value) {
  FieldRef f = ResolveKept(catalogue_, field);
  switch (f.core) {
    case CoreField::Number: SetRowText(row_.number, value.ToText()); return;
    case CoreField::Name: SetRowText(row_.name, value.ToText()); return;
    case CoreField::ItemID:
    case CoreField::ItemClassID:
    case CoreField::ParentID: ThrowLedgerError("核算项目的字段“" + field + "”是只读的");
    case CoreField::None: break;
  }
  if (!f.def) Unknown(field);
  Variant stored;
  if (value.IsNull()) {
    stored = Variant::Null();
  } else {
    switch (f.def->kind) {
      case FieldKind::Text: stored = Variant(value.ToText()); break;
      case FieldKind::Number: stored = StoredNumber(value.ToDouble()); break;
      case FieldKind::Date: stored = value.IsEmpty() ? Variant::Null() : Variant(value.ToDate()); break;
      case FieldKind::Flag: stored = Variant(value.ToBool()); break;
      case FieldKind::Ref:
        if (!f.idName && value.IsText())
          stored = Variant(LookupReference(*store_, row_.classId, *f.def, value.RawText()));
        else
          stored = Variant(value.ToLong());
        break;
    }
  }
  values_[f.def] = std::move(stored);
  if (std::find(dirty_.begin(), dirty_.end(), f.def) == dirty_.end()) {
    if (dirty_.capacity() == 0) dirty_.reserve(4);  // one allocation, not one per growth
    dirty_.push_back(f.def);
  }
}

std::shared_ptr<DataRecord> ItemObject::Dictionary() {
  return std::make_shared<ItemDictionary>(shared_from_this());
}

std::vector<DataRecord::Entry> ItemObject::FieldEntries() const {
  std::vector<DataRecord::Entry> out;
  if (!catalogue_) return out;
  for (const auto& def : catalogue_->fields) {
    if (def.aliasOf) continue;
    if (def.kind == FieldKind::Ref)
      out.emplace_back(std::string(def.name) + "_ID", Stored(&def));
    else
      out.emplace_back(def.name, ReadAs(def, Stored(&def)));
  }
  return out;
}

Variant ItemObject::Call(const std::string& member, const std::vector<Variant>&, const NamedArgs&) {
  ThrowNotSupported(member);
}

void ItemObject::SaveChanges() {
  auto className = [&] {
    return ItemClassName(*store_, row_.classId).value_or(std::to_string(row_.classId));
  };
  // A taken number is left to the unique index; only a failed statement
  // asks whether that was the cause, so the usual save runs no SELECT.
  auto throwIfTaken = [&](int32_t self) {
    static const StatementKey taken("SELECT FItemID FROM t_Item WHERE FItemClassID = ? AND FNumber = ? AND FItemID <> ?");
    auto dup = store_->Prepare(taken);
    dup.Bind(1, row_.classId).Bind(2, row_.number).Bind(3, self);
    if (dup.Next()) ThrowLedgerError("核算项目类别“" + className() + "”中代码“" + row_.number + "”已存在");
  };
  auto guarded = [&](Query& q, int32_t self) {
    try {
      q.Run();
    } catch (const Error&) {
      q.Reset();
      throwIfTaken(self);
      throw;
    }
  };
  // The fields written since the last save: a new item's whole text, or a
  // patch for a stored one (null clears a field) that the ledger merges
  // into the stored text, so fields another writer stored meanwhile stay.
  ItemValuesWriter written;
  for (const FieldDef* def : dirty_) {
    const Variant& v = values_[def];
    const bool none = v.IsNull() || v.IsEmpty() || (v.Type() == VarType::Double && std::isnan(v.ToDouble()));
    if (!none)
      written.Add(def->name, v);
    else if (row_.id != 0)
      written.AddNull(def->name);
  }
  const bool hasFields = !written.Empty();
  const std::string fields = written.Take();
  int32_t id = row_.id;
  int64_t inserted = 0;
  std::optional<std::optional<std::string>> nowWritten;  // known FValues after the save
  auto gone = [&] {
    throwIfTaken(id);
    ThrowLedgerError("核算项目（ID " + std::to_string(id) + "）已不存在");
  };
  auto save = [&] {
    if (id == 0) {
      // The class and parent checks ride on the insert as NULLs the row
      // refuses; what failed is asked only when it did.
      static const StatementKey insert(
          "INSERT INTO t_Item (FItemClassID, FNumber, FName, FParentID, FValues) VALUES "
          "((SELECT FItemClassID FROM t_ItemClass WHERE FItemClassID = ?1), ?2, ?3, "
          "CASE WHEN ?4 = 0 OR EXISTS (SELECT 1 FROM t_Item WHERE FItemID = ?4 AND FItemClassID = ?1) THEN ?4 END, ?5)");
      auto ins = store_->Prepare(insert);
      ins.Bind(1, row_.classId).Bind(2, row_.number).Bind(3, row_.name).Bind(4, row_.parentId);
      if (hasFields)
        ins.Bind(5, fields);
      else
        ins.BindNull(5);
      try {
        ins.Run();
      } catch (const Error&) {
        ins.Reset();
        throwIfTaken(0);
        if (!ItemClassName(*store_, row_.classId))
          ThrowLedgerError("核算项目类别（ID " + std::to_string(row_.classId) + "）不存在");
        if (row_.parentId != 0) {
          auto p = store_->Prepare("SELECT 1 FROM t_Item WHERE FItemID = ? AND FItemClassID = ?");
          p.Bind(1, row_.parentId).Bind(2, row_.classId);
          if (!p.Next())
            ThrowLedgerError("上级核算项目（ID " + std::to_string(row_.parentId) + "）不在类别“" + className() + "”中");
        }
        throw;
      }
      inserted = store_->LastInsertId();
      nowWritten = hasFields ? std::optional<std::string>(fields) : std::nullopt;
      id = CheckedNewId(store_->SettleNewId("t_Item", "FItemID", inserted), std::numeric_limits<int32_t>::max(),
                        "核算项目");
    } else if (rowDirty_) {
      static const StatementKey update("UPDATE t_Item SET FNumber = ?1, FName = ?2 WHERE FItemID = ?3");
      static const StatementKey updateAll(
          "UPDATE t_Item SET FNumber = ?1, FName = ?2, FValues = json_patch(coalesce(FValues, '{}'), ?4) "
          "WHERE FItemID = ?3");
      auto upd = store_->Prepare(hasFields ? updateAll : update);
      upd.Bind(1, row_.number).Bind(2, row_.name).Bind(3, id);
      if (hasFields) upd.Bind(4, fields);
      guarded(upd, id);
      if (store_->Changes() == 0) gone();
    } else if (hasFields) {
      // The row this object inserted in the open transaction: its whole
      // text is set, unless another object of the item wrote since (the
      // text is no longer what this one wrote). Cheaper than the merge,
      // which the server plans afresh on every call.
      if (knowsValues_ && insertedIn_ == store_->WriteEpoch() && store_->InTransaction()) {
        ItemValuesWriter all;
        if (catalogue_)
          for (const auto& def : catalogue_->fields)
            if (auto it = values_.find(&def); it != values_.end()) all.Add(def.name, it->second);
        std::optional<std::string> whole;
        if (!all.Empty()) whole = all.Take();
        static const StatementKey replace(
            "UPDATE t_Item SET FValues = ?1 WHERE FItemID = ?2 AND FValues IS NOT DISTINCT FROM ?3");
        auto upd = store_->Prepare(replace);
        if (whole)
          upd.Bind(1, *whole);
        else
          upd.BindNull(1);
        upd.Bind(2, id);
        if (writtenValues_)
          upd.Bind(3, *writtenValues_);
        else
          upd.BindNull(3);
        upd.Run();
        if (store_->Changes() == 1) {
          nowWritten = whole;
          return;
        }
      }
      static const StatementKey patch(
          "UPDATE t_Item SET FValues = json_patch(coalesce(FValues, '{}'), ?1) WHERE FItemID = ?2");
      auto upd = store_->Prepare(patch);
      upd.Bind(1, fields).Bind(2, id).Run();
      if (store_->Changes() == 0) gone();
    } else if (insertedIn_ != store_->WriteEpoch() || !store_->InTransaction()) {
      // Nothing to write: only whether the item is still there. A row this
      // object inserted in the open transaction needs no check.
      static const StatementKey exists("SELECT 1 FROM t_Item WHERE FItemID = ?");
      auto has = store_->Prepare(exists);
      has.Bind(1, id);
      if (!has.Next()) gone();
    }
  };
  // A save is one statement, atomic without a savepoint, unless a new ID
  // may have to be moved past a lost one.
  // An ID out of range is found only once the row is in.
  auto undoInsert = [&] {
    static const StatementKey drop("DELETE FROM t_Item WHERE FItemID = ?");
    if (inserted == 0) ThrowLedgerError("保存失败");  // nothing of ours to take back
    store_->Prepare(drop).Bind(1, inserted).Run();
  };
  if (id != 0 || !store_->HasIdFloor("t_Item"))
    store_->WriteOne(save, undoInsert);
  else
    store_->Write(save);
  if (inserted != 0) insertedIn_ = store_->InTransaction() ? store_->WriteEpoch() : 0;
  knowsValues_ = nowWritten.has_value();
  if (knowsValues_) writtenValues_ = *nowWritten;
  row_.id = id;
  rowDirty_ = false;
  dirty_.clear();
}

}  // namespace morvent
