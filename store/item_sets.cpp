#include "store/item_sets.h"


#include "platform/error.h"
#include "platform/text.h"
#include "store/item_common.h"
#include "store/item_metadata.h"

namespace morvent {

namespace {

constexpr int kPageSize = 256;
// The fields come with the row: reading an item's fields costs no query.
constexpr const char* kItemColumns = "SELECT FItemID, FItemClassID, FNumber, FName, FParentID, FValues FROM t_Item ";

ItemRow ReadRow(const Query& q) {
  ItemRow r;
  r.id = static_cast<int32_t>(q.Int(0));
  r.classId = static_cast<int32_t>(q.Int(1));
  r.number = q.Text(2);
  r.name = q.Text(3);
  r.parentId = static_cast<int32_t>(q.Int(4));
  r.values = q.IsNull(5) ? std::string() : q.Text(5);
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
      // The rows are handed over whole, so the next page's start is kept.
      lastClass_ = page_.back().classId;
      lastNumber_ = page_.back().number;
    }
    return std::make_shared<ItemObject>(store_, std::move(page_[pos_++]));
  }

 private:
  LedgerStorePtr store_;
  int32_t classId_;
  std::vector<ItemRow> page_;
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
  static const StatementKey byId(
      "SELECT FItemID, FItemClassID, FNumber, FName, FParentID, FValues FROM t_Item WHERE FItemID = ?");
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
  if (number && classId != 0 && store_->Ahead()) {
    if (numbersClass_ != classId || numbersCall_ != CallSerial()) {
      numbers_.clear();
      auto all = store_->Prepare("SELECT FNumber FROM t_Item WHERE FItemClassID = ?");
      all.Bind(1, classId);
      while (all.Next()) numbers_.insert(all.Text(0));
      numbersClass_ = classId;
      numbersCall_ = CallSerial();
    }
    // A number answered absent is taken as about to be stored: asked
    // again (a parent of several records), the ledger answers.
    if (numbers_.insert(number->IsText() ? number->RawText() : number->ToText()).second) return 0;
  }
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
