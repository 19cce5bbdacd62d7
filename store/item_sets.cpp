#include "store/item_sets.h"


#include "platform/error.h"
#include "platform/text.h"
#include "store/item_common.h"
#include "store/item_metadata.h"

namespace morvent {

namespace {

constexpr int kPageSize = 256;
constexpr const char* kItemColumns = "SELECT FItemID, FItemClassID, FNumber, FName, FParentID FROM t_Item ";

ItemRow ReadRow(const Query& q) {
  ItemRow r;
  r.id = static_cast<int32_t>(q.Int(0));
  r.classId = static_cast<int32_t>(q.Int(1));
  r.number = q.Text(2);
  r.name = q.Text(3);
  r.parentId = static_cast<int32_t>(q.Int(4));
  return r;
}

// The lower bound of a page in key order: the restricted class, after the
// last key read. Empty when the page starts at the first item of all.
std::string PageStart(int32_t classId, bool fromStart, const std::string& alias) {
  const std::string cls = alias + "FItemClassID", num = alias + "FNumber";
  if (classId != 0) return fromStart ? cls + " = ?1" : cls + " = ?1 AND " + num + " > ?3";
  return fromStart ? "" : "(" + cls + ", " + num + ") > (?2, ?3)";
}

void BindPageStart(Query& q, int32_t classId, bool fromStart, int32_t afterClass,
                   const std::string& afterNumber) {
  if (classId != 0) q.Bind(1, classId);
  if (!fromStart) {
    if (classId == 0) q.Bind(2, afterClass);
    q.Bind(3, afterNumber);
  }
}

std::vector<ItemRow> ItemPage(LedgerStore& store, int32_t classId, bool fromStart, int32_t afterClass,
                              const std::string& afterNumber, int limit) {
  const std::string start = PageStart(classId, fromStart, "");
  std::string sql = kItemColumns;
  if (!start.empty()) sql += "WHERE " + start + " ";
  sql += classId != 0 ? "ORDER BY FNumber LIMIT ?4" : "ORDER BY FItemClassID, FNumber LIMIT ?4";
  auto q = store.Prepare(sql);
  BindPageStart(q, classId, fromStart, afterClass, afterNumber);
  q.Bind(4, limit);
  std::vector<ItemRow> rows;
  while (q.Next()) rows.push_back(ReadRow(q));
  return rows;
}

using FieldValues = std::vector<ItemObject::FieldValue>;

// The catalogue field behind a stored field name, per class: a page holds a
// handful of distinct names, so each is resolved once rather than per value.
class FieldNames {
 public:
  const FieldDef* Find(int32_t classId, const std::string& name) {
    for (const auto& k : known_)
      if (k.classId == classId && k.name == name) return k.def;
    const FieldDef* def = ResolveField(FindCatalogue(static_cast<int16_t>(classId)), name).def;
    if (known_.size() < kMax) known_.push_back({classId, name, def});
    return def;
  }

 private:
  static constexpr size_t kMax = 64;
  struct Known {
    int32_t classId;
    std::string name;
    const FieldDef* def;
  };
  std::vector<Known> known_;
};

// The stored fields of every item of a page, read in one query over the same
// key range the page covers, in page order: slot k holds the fields of
// page[k] the item's class carries.
std::vector<FieldValues> PageValues(LedgerStore& store, int32_t classId, bool fromStart, int32_t afterClass,
                                    const std::string& afterNumber, const std::vector<ItemRow>& page,
                                    FieldNames& names) {
  const ItemRow& last = page.back();
  const std::string start = PageStart(classId, fromStart, "i.");
  std::string sql =
      "SELECT v.FItemID, v.FField, v.FValue FROM t_Item i JOIN t_ItemValue v ON v.FItemID = i.FItemID WHERE ";
  if (!start.empty()) sql += start + " AND ";
  sql += classId != 0 ? "i.FNumber <= ?5 ORDER BY i.FNumber" : "(i.FItemClassID, i.FNumber) <= (?4, ?5) ORDER BY i.FItemClassID, i.FNumber";
  auto q = store.Prepare(sql);
  BindPageStart(q, classId, fromStart, afterClass, afterNumber);
  q.Bind(4, last.classId).Bind(5, last.number);
  const size_t n = page.size();
  std::vector<FieldValues> out(n);
  size_t k = 0;
  // Rows come in page order, so the search starts where the last one was
  // found; an item another writer renumbered between the two queries may
  // come out of order, and one stored meanwhile is on no slot.
  auto slot = [&](int32_t id) {
    for (size_t at = k; at < n; ++at)
      if (page[at].id == id) return at;
    for (size_t at = 0; at < k; ++at)
      if (page[at].id == id) return at;
    return n;
  };
  while (q.Next()) {
    const size_t at = slot(static_cast<int32_t>(q.Int(0)));
    if (at == n) continue;
    k = at;
    if (const FieldDef* def = names.Find(page[k].classId, q.Text(1))) out[k].emplace_back(def, q.Get(2));
  }
  return out;
}

class ItemCursor : public ObjectCursor {
 public:
  ItemCursor(LedgerStorePtr store, int32_t classId) : store_(std::move(store)), classId_(classId) {}
  LedgerObjectPtr Next() override {
    if (pos_ == page_.size()) {
      if (done_) return nullptr;
      const bool fromStart = !started_;
      page_ = ItemPage(*store_, classId_, fromStart, lastClass_, lastNumber_, kPageSize);
      started_ = true;
      pos_ = 0;
      done_ = page_.size() < static_cast<size_t>(kPageSize);
      if (page_.empty()) return nullptr;
      values_ = PageValues(*store_, classId_, fromStart, lastClass_, lastNumber_, page_, names_);
      // The rows are handed over whole, so the next page's start is kept.
      lastClass_ = page_.back().classId;
      lastNumber_ = page_.back().number;
    }
    auto item = std::make_shared<ItemObject>(store_, std::move(page_[pos_]));
    item->Preload(std::move(values_[pos_++]));
    return item;
  }

 private:
  LedgerStorePtr store_;
  int32_t classId_;
  std::vector<ItemRow> page_;
  std::vector<FieldValues> values_;
  FieldNames names_;
  int32_t lastClass_ = 0;
  std::string lastNumber_;
  size_t pos_ = 0;
  bool started_ = false;
  bool done_ = false;
};

int32_t ToClassId(const Variant& v) { return v.ToInteger(); }

}  // namespace

// ---- ItemSet ----------------------------------------------------------------

ItemSet::ItemSet(LedgerStorePtr store) : store_(std::move(store)) {}

void ItemSet::SetRestriction(const std::string& name, const Variant& value) {
  if (!EqualsNoCase(name, "ItemClassID")) ThrowNotSupported(name);
  classId_ = value.IsNull() ? 0 : ToClassId(value);
  Refresh();  // GetNext's position is a number of the old class
}

void ItemSet::Refresh() {
  atStart_ = true;
  lastClass_ = 0;
  lastNumber_.clear();
}

int32_t ItemSet::Count() {
  return classId_ != 0 ? store_->CountRows("t_Item", "FItemClassID", classId_) : store_->CountRows("t_Item");
}

std::unique_ptr<ObjectCursor> ItemSet::Enumerate() { return std::make_unique<ItemCursor>(store_, classId_); }

LedgerObjectPtr ItemSet::GetNext() {
  auto rows = ItemPage(*store_, classId_, atStart_, lastClass_, lastNumber_, 1);
  if (rows.empty()) return nullptr;
  atStart_ = false;
  lastClass_ = rows[0].classId;
  lastNumber_ = rows[0].number;
  return std::make_shared<ItemObject>(store_, std::move(rows[0]));
}

LedgerObjectPtr ItemSet::Item(int32_t id, const std::optional<Variant>&) {
  static const StatementKey byId("SELECT FItemID, FItemClassID, FNumber, FName, FParentID FROM t_Item WHERE FItemID = ?");
  auto q = store_->Prepare(byId);
  q.Bind(1, id);
  if (!q.Next()) return nullptr;
  ItemRow row = ReadRow(q);
  if (classId_ != 0 && row.classId != classId_) return nullptr;
  return std::make_shared<ItemObject>(store_, std::move(row));
}

LedgerObjectPtr ItemSet::GetUnit(int32_t) { ThrowNotSupported("GetUnit"); }

int32_t ItemSet::ExistenceCheck(const NamedArgs& named) {
  ArgReader args(named, {"Number", "Name", "ItemClassID"}, "ExistenceCheck");
  int32_t classId = classId_;
  if (const Variant* c = args.Find("ItemClassID")) classId = ToClassId(*c);
  const Variant* number = args.Find("Number");
  const Variant* name = args.Find("Name");
  if (!number && !name) throw Error(kErrInvalidCall, "MorventLedger", "ExistenceCheck 需要参数 Number 或 Name");
  if (number && number->IsNull()) return 0;
  if (!number && name->IsNull()) return 0;
  static const StatementKey byNumberInClass(
      "SELECT FItemID FROM t_Item WHERE FNumber = ?1 AND FItemClassID = ?2 ORDER BY FNumber LIMIT 1");
  static const StatementKey byNumber("SELECT FItemID FROM t_Item WHERE FNumber = ?1 ORDER BY FItemClassID, FNumber LIMIT 1");
  static const StatementKey byNameInClass(
      "SELECT FItemID FROM t_Item WHERE FName = ?1 AND FItemClassID = ?2 ORDER BY FNumber LIMIT 1");
  static const StatementKey byName("SELECT FItemID FROM t_Item WHERE FName = ?1 ORDER BY FItemClassID, FNumber LIMIT 1");
  auto q = store_->Prepare(number ? (classId != 0 ? byNumberInClass : byNumber) : (classId != 0 ? byNameInClass : byName));
  const Variant& key = number ? *number : *name;
  if (key.IsText())
    q.Bind(1, std::string_view(key.RawText()));
  else
    q.Bind(1, key.ToText());
  if (classId != 0) q.Bind(2, classId);
  return q.Next() ? static_cast<int32_t>(q.Int(0)) : 0;
}

LedgerObjectPtr ItemSet::CreateNew(const std::vector<Variant>& args, const NamedArgs& named) {
  ArgReader reader(named, {"ItemClassID", "ParentID", "Number", "Name"}, "CreateNew");
  auto pick = [&](size_t index, const char* name) -> const Variant* {
    if (const Variant* v = reader.Find(name)) return v;
    return Positional(args, index);
  };
  int32_t classId = classId_;
  if (const Variant* v = pick(0, "ItemClassID")) classId = ToClassId(*v);
  if (classId == 0) throw Error(kErrInvalidCall, "MorventLedger", "新增核算项目时没有指定核算项目类别");
  int32_t parentId = 0;
  if (const Variant* v = pick(1, "ParentID")) parentId = v->ToLong();
  std::string number, name;
  if (const Variant* v = pick(2, "Number")) number = v->ToText();
  if (const Variant* v = pick(3, "Name")) name = v->ToText();
  return ItemObject::New(store_, classId, parentId, std::move(number), std::move(name));
}

}  // namespace morvent
