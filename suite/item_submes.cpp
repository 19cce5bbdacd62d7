#include "suite/item_submes.h"

#include <limits>

#include "platform/error.h"
#include "platform/text.h"
#include "suite/item_common.h"
#include "suite/item_metadata.h"

namespace morvent {

namespace {
constexpr int kPageSize = 256;

std::string TypeName(LedgerStore& store, int32_t typeId) {
  auto q = store.Prepare("SELECT FName FROM t_SubMesType WHERE FTypeID = ?");
  q.Bind(1, typeId);
  return q.Next() ? q.Text(0) : std::string();
}

bool TypeExists(LedgerStore& store, int32_t typeId) {
  auto q = store.Prepare("SELECT 1 FROM t_SubMesType WHERE FTypeID = ?");
  q.Bind(1, typeId);
  return q.Next();
}
}  // namespace

LedgerObjectPtr IdPagedCursor::Next() {
  if (pos_ == page_.size()) {
    if (done_) return nullptr;
    page_ = pager_(lastId_, kPageSize);
    pos_ = 0;
    done_ = page_.size() < static_cast<size_t>(kPageSize);
    if (page_.empty()) return nullptr;
  }
  lastId_ = page_[pos_].first;
  return page_[pos_++].second;
}

// ---- types ----------------------------------------------------------------------

Variant SubMesTypeObject::Get(const std::string& property) const {
  if (EqualsNoCase(property, "Name")) return Variant(name_);
  if (EqualsNoCase(property, "TypeID")) return Variant(id_);
  ThrowUnknownProperty("辅助资料类别", property);
}

void SubMesTypeObject::Let(const std::string& property, const Variant& value) {
  if (EqualsNoCase(property, "Name")) {
    name_ = value.ToText();
  } else if (EqualsNoCase(property, "TypeID")) {
    ThrowLedgerError("辅助资料类别的属性“" + property + "”是只读的");
  } else {
    ThrowUnknownProperty("辅助资料类别", property);
  }
}

Variant SubMesTypeObject::Properties(const std::string& field) const {
  if (EqualsNoCase(field, "FTypeID")) return Variant(id_);
  if (EqualsNoCase(field, "FName")) return Variant(name_);
  ThrowLedgerError("辅助资料类别没有字段“" + field + "”");
}

void SubMesTypeObject::SetProperties(const std::string& field, const Variant& value) {
  if (EqualsNoCase(field, "FName")) return Let("Name", value);
  if (EqualsNoCase(field, "FTypeID")) ThrowLedgerError("辅助资料类别的字段“" + field + "”是只读的");
  ThrowLedgerError("辅助资料类别没有字段“" + field + "”");
}

std::shared_ptr<DataRecord> SubMesTypeObject::Dictionary() { ThrowNotSupported("Dictionary"); }

Variant SubMesTypeObject::Call(const std::string& member, const std::vector<Variant>&, const NamedArgs&) {
  ThrowNotSupported(member);
}

void SubMesTypeObject::SaveChanges() {
  int32_t id = id_;
  store_->Write([&] {
    if (id == 0) {
      auto q = store_->Prepare("INSERT INTO t_SubMesType (FName) VALUES (?)");
      q.Bind(1, name_).Run();
      id = CheckedNewId(store_->LastInsertId(), kMaxSmallId, "辅助资料类别");
    } else {
      auto q = store_->Prepare("UPDATE t_SubMesType SET FName = ? WHERE FTypeID = ?");
      q.Bind(1, name_).Bind(2, id).Run();
      if (store_->Changes() == 0) ThrowLedgerError("辅助资料类别（ID " + std::to_string(id) + "）已不存在");
    }
  });
  id_ = id;
}

void SubMesTypeSet::SetRestriction(const std::string& name, const Variant&) { ThrowNotSupported(name); }

int32_t SubMesTypeSet::Count() { return store_->CountRows("t_SubMesType"); }

std::vector<IdPagedCursor::Row> SubMesTypeSet::Page(int32_t afterId, int limit) {
  auto q = store_->Prepare("SELECT FTypeID, FName FROM t_SubMesType WHERE FTypeID > ? ORDER BY FTypeID LIMIT ?");
  q.Bind(1, afterId).Bind(2, limit);
  std::vector<IdPagedCursor::Row> out;
  while (q.Next()) {
    auto id = static_cast<int32_t>(q.Int(0));
    out.emplace_back(id, std::make_shared<SubMesTypeObject>(store_, id, q.Text(1)));
  }
  return out;
}

std::unique_ptr<ObjectCursor> SubMesTypeSet::Enumerate() {
  auto store = store_;
  return std::make_unique<IdPagedCursor>([store](int32_t afterId, int limit) {
    return SubMesTypeSet(store).Page(afterId, limit);
  });
}

LedgerObjectPtr SubMesTypeSet::GetNext() {
  auto page = Page(lastId_, 1);
  if (page.empty()) return nullptr;
  lastId_ = page[0].first;
  return page[0].second;
}

LedgerObjectPtr SubMesTypeSet::Item(int32_t id, const std::optional<Variant>&) {
  auto q = store_->Prepare("SELECT FName FROM t_SubMesType WHERE FTypeID = ?");
  q.Bind(1, id);
  if (!q.Next()) return nullptr;
  return std::make_shared<SubMesTypeObject>(store_, id, q.Text(0));
}

LedgerObjectPtr SubMesTypeSet::GetUnit(int32_t) { ThrowNotSupported("GetUnit"); }

int32_t SubMesTypeSet::ExistenceCheck(const NamedArgs& named) {
  ArgReader args(named, {"Name"}, "ExistenceCheck");
  const Variant* name = args.Find("Name");
  if (!name) throw Error(kErrInvalidCall, "MorventLedger", "ExistenceCheck 需要参数 Name");
  if (name->IsNull()) return 0;
  auto q = store_->Prepare("SELECT FTypeID FROM t_SubMesType WHERE FName = ? ORDER BY FTypeID LIMIT 1");
  q.Bind(1, name->ToText());
  return q.Next() ? static_cast<int32_t>(q.Int(0)) : 0;
}

LedgerObjectPtr SubMesTypeSet::CreateNew(const std::vector<Variant>&, const NamedArgs& named) {
  ArgReader args(named, {"Name"}, "CreateNew");
  std::string name;
  if (const Variant* v = args.Find("Name")) name = v->ToText();
  return std::make_shared<SubMesTypeObject>(store_, 0, std::move(name));
}

// ---- entries --------------------------------------------------------------------

Variant SubMesObject::Get(const std::string& property) const {
  if (EqualsNoCase(property, "Name")) return Variant(name_);
  if (EqualsNoCase(property, "Number")) return Variant(number_);
  if (EqualsNoCase(property, "TypeID")) return Variant(typeId_);
  if (EqualsNoCase(property, "ItemID")) return Variant(id_);
  ThrowUnknownProperty("辅助资料", property);
}

void SubMesObject::Let(const std::string& property, const Variant& value) {
  if (EqualsNoCase(property, "Name")) {
    name_ = value.ToText();
  } else if (EqualsNoCase(property, "Number")) {
    number_ = value.ToText();
  } else if (EqualsNoCase(property, "TypeID") || EqualsNoCase(property, "ItemID")) {
    ThrowLedgerError("辅助资料的属性“" + property + "”是只读的");
  } else {
    ThrowUnknownProperty("辅助资料", property);
  }
}

Variant SubMesObject::Properties(const std::string& field) const {
  if (EqualsNoCase(field, "FItemID")) return Variant(id_);
  if (EqualsNoCase(field, "FTypeID")) return Variant(typeId_);
  if (EqualsNoCase(field, "FNumber")) return Variant(number_);
  if (EqualsNoCase(field, "FName")) return Variant(name_);
  ThrowLedgerError("辅助资料没有字段“" + field + "”");
}

void SubMesObject::SetProperties(const std::string& field, const Variant& value) {
  if (EqualsNoCase(field, "FNumber")) return Let("Number", value);
  if (EqualsNoCase(field, "FName")) return Let("Name", value);
  if (EqualsNoCase(field, "FItemID") || EqualsNoCase(field, "FTypeID"))
    ThrowLedgerError("辅助资料的字段“" + field + "”是只读的");
  ThrowLedgerError("辅助资料没有字段“" + field + "”");
}

std::shared_ptr<DataRecord> SubMesObject::Dictionary() { ThrowNotSupported("Dictionary"); }

Variant SubMesObject::Call(const std::string& member, const std::vector<Variant>&, const NamedArgs&) {
  ThrowNotSupported(member);
}

void SubMesObject::SaveChanges() {
  int32_t id = id_;
  store_->Write([&] {
    auto dup = store_->Prepare("SELECT 1 FROM t_SubMes WHERE FTypeID = ? AND FNumber = ? AND FItemID <> ?");
    dup.Bind(1, typeId_).Bind(2, number_).Bind(3, id);
    if (dup.Next())
      ThrowLedgerError("辅助资料类别“" + TypeName(*store_, typeId_) + "”中代码“" + number_ + "”已存在");
    if (id == 0) {
      if (!TypeExists(*store_, typeId_))
        ThrowLedgerError("辅助资料类别（ID " + std::to_string(typeId_) + "）不存在");
      auto q = store_->Prepare("INSERT INTO t_SubMes (FTypeID, FNumber, FName) VALUES (?, ?, ?)");
      q.Bind(1, typeId_).Bind(2, number_).Bind(3, name_).Run();
      id = CheckedNewId(store_->LastInsertId(), std::numeric_limits<int32_t>::max(), "辅助资料");
    } else {
      auto q = store_->Prepare("UPDATE t_SubMes SET FNumber = ?, FName = ? WHERE FItemID = ?");
      q.Bind(1, number_).Bind(2, name_).Bind(3, id).Run();
      if (store_->Changes() == 0) ThrowLedgerError("辅助资料（ID " + std::to_string(id) + "）已不存在");
    }
  });
  id_ = id;
}

void SubMesSet::SetRestriction(const std::string& name, const Variant& value) {
  if (!EqualsNoCase(name, "TypeID")) ThrowNotSupported(name);
  typeId_ = value.IsNull() ? 0 : value.ToLong();
}

int32_t SubMesSet::Count() {
  return typeId_ != 0 ? store_->CountRows("t_SubMes", "FTypeID", typeId_) : store_->CountRows("t_SubMes");
}

std::vector<IdPagedCursor::Row> SubMesSet::Page(int32_t typeId, int32_t afterId, int limit) {
  std::string sql = "SELECT FItemID, FTypeID, FNumber, FName FROM t_SubMes WHERE FItemID > ?1";
  if (typeId != 0) sql += " AND FTypeID = ?2";
  sql += " ORDER BY FItemID LIMIT ?3";
  auto q = store_->Prepare(sql);
  q.Bind(1, afterId).Bind(3, limit);
  if (typeId != 0) q.Bind(2, typeId);
  std::vector<IdPagedCursor::Row> out;
  while (q.Next()) {
    auto id = static_cast<int32_t>(q.Int(0));
    out.emplace_back(id, std::make_shared<SubMesObject>(store_, id, static_cast<int32_t>(q.Int(1)), q.Text(2), q.Text(3)));
  }
  return out;
}

std::unique_ptr<ObjectCursor> SubMesSet::Enumerate() {
  auto store = store_;
  int32_t typeId = typeId_;
  return std::make_unique<IdPagedCursor>([store, typeId](int32_t afterId, int limit) {
    return SubMesSet(store).Page(typeId, afterId, limit);
  });
}

LedgerObjectPtr SubMesSet::GetNext() {
  auto page = Page(typeId_, lastId_, 1);
  if (page.empty()) return nullptr;
  lastId_ = page[0].first;
  return page[0].second;
}

LedgerObjectPtr SubMesSet::Item(int32_t id, const std::optional<Variant>& second) {
  int32_t typeId = typeId_;
  if (second && !second->IsEmpty()) {
    int32_t s = second->ToLong();
    typeId = s == kAnyType ? 0 : s;
    if (s != kAnyType && s == 0) return nullptr;
  }
  auto q = store_->Prepare("SELECT FTypeID, FNumber, FName FROM t_SubMes WHERE FItemID = ?");
  q.Bind(1, id);
  if (!q.Next()) return nullptr;
  auto entryType = static_cast<int32_t>(q.Int(0));
  if (typeId != 0 && entryType != typeId) return nullptr;
  return std::make_shared<SubMesObject>(store_, id, entryType, q.Text(1), q.Text(2));
}

LedgerObjectPtr SubMesSet::GetUnit(int32_t) { ThrowNotSupported("GetUnit"); }

int32_t SubMesSet::ExistenceCheck(const NamedArgs& named) {
  ArgReader args(named, {"Number", "Name", "TypeID"}, "ExistenceCheck");
  int32_t typeId = typeId_;
  if (const Variant* t = args.Find("TypeID")) typeId = t->ToLong();
  const Variant* number = args.Find("Number");
  const Variant* name = args.Find("Name");
  if (!number && !name) throw Error(kErrInvalidCall, "MorventLedger", "ExistenceCheck 需要参数 Number 或 Name");
  const Variant& key = number ? *number : *name;
  if (key.IsNull()) return 0;
  std::string sql = std::string("SELECT FItemID FROM t_SubMes WHERE ") + (number ? "FNumber" : "FName") + " = ?1";
  if (typeId != 0) sql += " AND FTypeID = ?2";
  sql += " ORDER BY FItemID LIMIT 1";
  auto q = store_->Prepare(sql);
  q.Bind(1, key.ToText());
  if (typeId != 0) q.Bind(2, typeId);
  return q.Next() ? static_cast<int32_t>(q.Int(0)) : 0;
}

LedgerObjectPtr SubMesSet::CreateNew(const std::vector<Variant>& args, const NamedArgs& named) {
  ArgReader reader(named, {"TypeID", "Number", "Name"}, "CreateNew");
  auto pick = [&](size_t index, const char* name) -> const Variant* {
    if (const Variant* v = reader.Find(name)) return v;
    return Positional(args, index);
  };
  int32_t typeId = typeId_;
  if (const Variant* v = pick(0, "TypeID")) typeId = v->ToLong();
  if (typeId == 0) throw Error(kErrInvalidCall, "MorventLedger", "新增辅助资料时没有指定辅助资料类别");
  std::string number, name;
  if (const Variant* v = pick(1, "Number")) number = v->ToText();
  if (const Variant* v = pick(2, "Name")) name = v->ToText();
  return std::make_shared<SubMesObject>(store_, 0, typeId, std::move(number), std::move(name));
}

}  // namespace morvent
