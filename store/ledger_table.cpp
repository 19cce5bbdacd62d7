#include "store/ledger_table.h"

#include "context/props.h"
#include "platform/error.h"
#include "platform/text.h"

namespace morvent {

namespace {

constexpr int kBatch = 256;

Variant Convert(ColumnKind kind, const Variant& v) {
  if (kind == ColumnKind::Ref) return (v.IsNull() || v.IsEmpty()) ? Variant(int32_t{0}) : Variant(v.ToLong());
  if (v.IsNull()) return v;
  switch (kind) {
    case ColumnKind::Text:
      return Variant(v.ToText());
    case ColumnKind::Long:
      return Variant(v.ToLong());
    case ColumnKind::Double:
      return Variant(v.ToDouble());
    case ColumnKind::Bool:
      return Variant(v.ToBool());
    case ColumnKind::Ref:
      break;
  }
  return v;
}

bool EndsWithId(const std::string& name) {
  return name.size() > 3 && EqualsNoCase(std::string_view(name).substr(name.size() - 3), "_ID");
}

// Streams a table in key order, one batch of rows per query.
class BatchCursor : public ObjectCursor {
 public:
  // owner keeps the set alive for a cursor handed out; the set's own GetNext
  // cursor passes none, since the set owns it (a cycle would leak both).
  BatchCursor(TableSet* set, std::shared_ptr<TableSet> owner)
      : set_(set), owner_(std::move(owner)), scope_(set_->Scope()) {}

  LedgerObjectPtr Next() override {
    if (pos_ == batch_.size()) {
      if (done_) return nullptr;
      Fetch();
      if (batch_.empty()) return nullptr;
    }
    return batch_[pos_++];
  }

 private:
  void Fetch() {
    const auto& spec = set_->Spec();
    std::string sql = "SELECT " + spec.selectColumns + " FROM " + spec.table;
    std::string where;
    if (scope_) where = spec.scopeField + " = ?";
    if (started_) where += std::string(where.empty() ? "" : " AND ") + spec.orderField + " > ?";
    if (!where.empty()) sql += " WHERE " + where;
    sql += " ORDER BY " + spec.orderField + " LIMIT " + std::to_string(kBatch);
    auto q = set_->Store()->Prepare(sql);
    int p = 0;
    if (scope_) q.Bind(++p, *scope_);
    if (started_) q.Bind(++p, lastKey_);
    batch_.clear();
    pos_ = 0;
    while (q.Next()) {
      auto obj = set_->MakeObject();
      obj->Load(q);
      batch_.push_back(obj);
    }
    started_ = true;
    done_ = batch_.size() < static_cast<size_t>(kBatch);
    if (!batch_.empty()) {
      const auto& last = *batch_.back();
      lastKey_ = spec.OrderedById() ? Variant(last.Id()) : last.Value(spec.orderField);
    }
  }

  TableSet* set_;
  std::shared_ptr<TableSet> owner_;
  std::optional<int64_t> scope_;
  std::vector<TableObjectPtr> batch_;
  size_t pos_ = 0;
  bool started_ = false;
  bool done_ = false;
  Variant lastKey_;
};

}  // namespace

// ---- TableSpec -------------------------------------------------------------

TableSpec::TableSpec(std::string what_, std::string table_, std::string idField_, std::string idProperty_,
                     std::vector<ColumnSpec> columns_, std::string orderField_, std::string scopeField_,
                     std::string restriction_)
    : what(std::move(what_)),
      table(std::move(table_)),
      idField(std::move(idField_)),
      idProperty(std::move(idProperty_)),
      columns(std::move(columns_)),
      orderField(orderField_.empty() ? idField : std::move(orderField_)),
      scopeField(std::move(scopeField_)),
      restriction(std::move(restriction_)) {
  selectColumns = idField;
  std::string names, marks;
  for (const auto& c : columns) {
    selectColumns += ", " + c.field;
    names += (names.empty() ? "" : ", ") + c.field;
    marks += marks.empty() ? "?" : ", ?";
  }
  selectById = "SELECT " + selectColumns + " FROM " + table + " WHERE " + idField + " = ?";
  insert = "INSERT INTO " + table + " (" + names + ") VALUES (" + marks + ")";
}

int TableSpec::ByProperty(const std::string& name) const {
  for (size_t i = 0; i < columns.size(); ++i)
    if (!columns[i].property.empty() && EqualsNoCase(columns[i].property, name)) return static_cast<int>(i);
  return -1;
}

int TableSpec::ByField(const std::string& name) const {
  for (size_t i = 0; i < columns.size(); ++i)
    if (EqualsNoCase(columns[i].field, name)) return static_cast<int>(i);
  return -1;
}

// ---- TableObject -----------------------------------------------------------

TableObject::TableObject(LedgerStorePtr store, const TableSpec& spec)
    : store_(std::move(store)), spec_(spec), values_(spec.columns.size()), dirty_(spec.columns.size(), false) {
  for (size_t i = 0; i < spec_.columns.size(); ++i)
    values_[i] = spec_.columns[i].kind == ColumnKind::Ref ? Variant(int32_t{0}) : Variant::Null();
}

void TableObject::Load(const Query& row) {
  id_ = static_cast<int32_t>(row.Int(0));
  for (size_t i = 0; i < spec_.columns.size(); ++i) {
    Variant v = row.Get(static_cast<int>(i) + 1);
    values_[i] = Convert(spec_.columns[i].kind, v);
    dirty_[i] = false;
  }
}

Variant TableObject::Value(const std::string& field) const {
  if (EqualsNoCase(field, spec_.idField)) return Variant(id_);
  int c = spec_.ByField(field);
  return c < 0 ? Variant() : values_[c];
}

void TableObject::Assign(int column, const Variant& value) {
  values_[column] = Convert(spec_.columns[column].kind, value);
  dirty_[column] = true;
}

bool TableObject::ExtraGet(const std::string&, Variant&) const { return false; }

Variant TableObject::Get(const std::string& property) const {
  if (EqualsNoCase(property, spec_.idProperty)) return Variant(id_);
  int c = spec_.ByProperty(property);
  if (c >= 0) return values_[c];
  Variant out;
  if (ExtraGet(property, out)) return out;
  ThrowLedgerError(spec_.what + "没有属性“" + property + "”");
}

void TableObject::AssignNamed(int column, const std::string& name, bool isId, const char* noun, const Variant& value) {
  if (column < 0 && !isId) ThrowLedgerError(spec_.what + "没有" + noun + "“" + name + "”");
  if (column < 0 || spec_.columns[column].readOnly)
    ThrowLedgerError(spec_.what + "的" + noun + "“" + name + "”是只读的");
  Assign(column, value);
}

void TableObject::Let(const std::string& property, const Variant& value) {
  AssignNamed(spec_.ByProperty(property), property, EqualsNoCase(property, spec_.idProperty), "属性", value);
}

Variant TableObject::Properties(const std::string& field) const {
  if (EqualsNoCase(field, spec_.idField)) return Variant(id_);
  int c = spec_.ByField(field);
  // A reference is also read under its name with "_ID" appended.
  if (c < 0 && EndsWithId(field)) c = spec_.ByField(field.substr(0, field.size() - 3));
  if (c >= 0) return values_[c];
  Variant out;
  if (ExtraGet(field, out)) return out;
  ThrowLedgerError(spec_.what + "没有字段“" + field + "”");
}

void TableObject::SetProperties(const std::string& field, const Variant& value) {
  AssignNamed(spec_.ByField(field), field, EqualsNoCase(field, spec_.idField), "字段", value);
}

std::shared_ptr<DataRecord> TableObject::Dictionary() { ThrowNotSupported("Dictionary"); }

Variant TableObject::Call(const std::string& member, const std::vector<Variant>&, const NamedArgs&) {
  ThrowNotSupported(member);
}

void TableObject::CheckUnique(const std::string& field, const std::string& scopeField, const std::string& message) {
  std::string sql = "SELECT 1 FROM " + spec_.table + " WHERE " + field + " = ? AND " + spec_.idField + " <> ?";
  if (!scopeField.empty()) sql += " AND " + scopeField + " = ?";
  auto q = store_->Prepare(sql + " LIMIT 1");
  q.Bind(1, Value(field)).Bind(2, id_);
  if (!scopeField.empty()) q.Bind(3, Value(scopeField));
  if (q.Next()) ThrowLedgerError(message);
}

void TableObject::SaveChanges() {
  int32_t before = id_;
  try {
    store_->Write([&] {
      BeforeSave();
      bool inserted = id_ == 0;
      if (inserted) {
        auto q = store_->Prepare(spec_.insert);
        for (size_t i = 0; i < values_.size(); ++i) q.Bind(static_cast<int>(i) + 1, values_[i]);
        q.Run();
        int64_t id = store_->SettleNewId(spec_.table, spec_.idField, store_->LastInsertId());
        if (id < 1 || id > INT32_MAX) ThrowLedgerError(spec_.what + "的内码已用尽，不能再新增");
        id_ = static_cast<int32_t>(id);
      } else {
        std::string sets;
        for (size_t i = 0; i < values_.size(); ++i)
          if (dirty_[i]) sets += (sets.empty() ? "" : ", ") + spec_.columns[i].field + " = ?";
        if (!sets.empty()) {
          auto q = store_->Prepare("UPDATE " + spec_.table + " SET " + sets + " WHERE " + spec_.idField + " = ?");
          int p = 0;
          for (size_t i = 0; i < values_.size(); ++i)
            if (dirty_[i]) q.Bind(++p, values_[i]);
          q.Bind(++p, id_);
          q.Run();
          if (store_->Changes() == 0)
            ThrowLedgerError(spec_.what + "（内码 " + std::to_string(id_) + "）已不存在，不能保存");
        }
      }
      AfterSave(inserted);
    });
  } catch (...) {
    id_ = before;
    throw;
  }
  std::fill(dirty_.begin(), dirty_.end(), false);
}

// ---- TableSet --------------------------------------------------------------

TableSet::TableSet(LedgerStorePtr store, const TableSpec& spec) : store_(std::move(store)), spec_(spec) {}

TableObjectPtr TableSet::MakeObject() { return std::make_shared<TableObject>(store_, spec_); }

void TableSet::SetRestriction(const std::string& name, const Variant& value) {
  if (spec_.restriction.empty() || !EqualsNoCase(name, spec_.restriction)) ThrowNotSupported(name);
  scope_ = (value.IsNull() || value.IsEmpty()) ? 0 : value.ToLong();
  next_.reset();  // a new list: GetNext starts over instead of walking on in the old one
}

void TableSet::Refresh() { next_.reset(); }

int32_t TableSet::Count() {
  if (scope_) return store_->CountRows(spec_.table, spec_.scopeField, *scope_);
  return store_->CountRows(spec_.table);
}

std::unique_ptr<ObjectCursor> TableSet::Enumerate() { return std::make_unique<BatchCursor>(this, shared_from_this()); }

LedgerObjectPtr TableSet::GetNext() {
  if (!next_) next_ = std::make_unique<BatchCursor>(this, nullptr);
  return next_->Next();
}

LedgerObjectPtr TableSet::Item(int32_t id, const std::optional<Variant>&) {
  auto q = store_->Prepare(spec_.selectById);
  q.Bind(1, id);
  if (!q.Next()) return nullptr;
  auto obj = MakeObject();
  obj->Load(q);
  return obj;
}

LedgerObjectPtr TableSet::GetUnit(int32_t) { ThrowNotSupported("GetUnit"); }

int32_t TableSet::ExistenceCheck(const NamedArgs& named) {
  if (named.empty()) ThrowLedgerError("ExistenceCheck 缺少查找条件");
  std::string where;
  std::vector<Variant> values;
  for (const auto& [name, value] : named) {
    int c = spec_.ByProperty(name);
    if (c < 0) ThrowLedgerError(spec_.what + "没有属性“" + name + "”，不能按它查找");
    where += (where.empty() ? "" : " AND ") + spec_.columns[c].field + " = ?";
    values.push_back(Convert(spec_.columns[c].kind, value));
  }
  if (scope_) where += " AND " + spec_.scopeField + " = ?";
  auto q = store_->Prepare("SELECT " + spec_.idField + " FROM " + spec_.table + " WHERE " + where + " ORDER BY " +
                           spec_.idField + " LIMIT 1");
  int p = 0;
  for (const auto& v : values) q.Bind(++p, v);
  if (scope_) q.Bind(++p, *scope_);
  return q.Next() ? static_cast<int32_t>(q.Int(0)) : 0;
}

LedgerObjectPtr TableSet::CreateNew(const std::vector<Variant>&, const NamedArgs& named) {
  auto obj = MakeObject();
  for (const auto& [name, value] : named) obj->Let(name, value);
  return obj;
}

LedgerStorePtr LedgerOfCurrentCall() { return LedgerStore::ForProps(Context().gPropsString); }

}  // namespace morvent
