#include "items/item_frame.h"

#include <algorithm>
#include <optional>

#include "context/glfunc.h"
#include "context/props.h"
#include "front/walks.h"
#include "items/item_unread.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace morvent {

namespace {

// Keys and properties named per record, made once.
const std::string kNumberKey = "Number";
const std::string kNameKey = "Name";
const std::string kItemIdKey = "ItemID";

// Asks the ledger's kind at most once per record, and only when a field
// depends on it.
class FieldSetTest {
 public:
  bool Active(FieldSet s) {
    if (s == FieldSet::All) return true;
    if (!gy_) gy_ = IsAcctTypeGY();
    return s == FieldSet::GY ? *gy_ : !*gy_;
  }

 private:
  std::optional<bool> gy_;
};

Variant Read(LedgerObject& item, Access access, const std::string& field, const Variant& def) {
  switch (access) {
    case Access::Dictionary:
      return Must(item.Dictionary()).GetValue(field, def);
    case Access::DictionaryNoDefault:
      return Must(item.Dictionary()).GetValue(field);
    default:
      return item.Properties(field);
  }
}

void Write(LedgerObject& item, Access access, const std::string& field, const Variant& value) {
  switch (access) {
    case Access::Dictionary:
    case Access::DictionaryNoDefault:
      Must(item.Dictionary()).SetValue(field, value);
      return;
    default:
      item.SetProperties(field, value);
  }
}

bool Imported(const ItemField& f) {
  return f.kind == FieldKind::Custom ? static_cast<bool>(f.importFn) : f.importAccess != Access::None;
}
bool Exported(const ItemField& f) {
  return f.kind == FieldKind::Custom ? static_cast<bool>(f.exportFn) : f.exportAccess != Access::None;
}

}  // namespace

CItemFrame::CItemFrame(const ItemKind& kind)
    : kind_(kind),
      parents_(ParentResolver::Ledger{
          .existenceCheck = [this](const std::string& number) { return FindByNumber(number); },
          .importRecord = [this](const DataRecordPtr& r, std::string& number) { return ImportRecord(r, number); },
          .createBare = [this](const std::string& number, const Variant& name) { return CreateBareParent(number, name); },
          .findUndotted = [this](const std::string& undotted) { return FindUndotted(undotted); },
      }),
      byNumber_{{"Number", Variant()}, {"ItemClassID", kind.itemClassId}},
      newArgs_{kind.itemClassId, int32_t{0}},
      newNamed_{{"Number", Variant()}} {}

int32_t CItemFrame::FindByNumber(const std::string& number) {
  byNumber_[0].second = Variant(number);
  return ItemSet().ExistenceCheck(byNumber_);
}

LookupHandler& CItemFrame::Lookup(const std::string& name) {
  auto it = lookups_.find(name);
  if (it == lookups_.end() || !it->second) ThrowObjectNotSet();
  return *it->second;
}

void CItemFrame::KeepLookupAnswers(bool on) {
  for (auto& [name, lookup] : lookups_)
    if (lookup) lookup->KeepAnswers(on);
}

void CItemFrame::LoadItems() {
  if (kind_.keepItemSet && items_) return;
  auto set = CreateObjectAs<ObjectSet>(kItemSet);
  items_ = set;
  set->SetListOptions(10);
  set->SetRestriction("ItemClassID", kind_.itemClassId);
  set->Refresh();
  lookups_.clear();
  for (const auto& [name, factory] : kind_.lookups) lookups_[name] = factory();
}

LedgerObjectPtr CItemFrame::FindItem(int32_t id) {
  // The set is restricted to the class, so its lookup by ID answers what a
  // walk comparing "FItemID" would, without the walk.
  return ItemSet().Item(id);
}

void CItemFrame::ExportField(const ItemField& f, LedgerObject& item, DataRecord& record) {
  switch (f.kind) {
    case FieldKind::Custom:
      f.exportFn(*this, item, record);
      return;
    case FieldKind::Reference: {
      const int32_t id = NullToDefault(Read(item, f.exportAccess, f.exportField, int32_t{0}), int32_t{0}).ToLong();
      if (id <= 0) return;
      auto& lookup = Lookup(f.lookup);
      if (lookup.CheckID(id)) record.SetValue(f.key, lookup.GetInfo(id, f.property));
      return;
    }
    default: {
      std::string text = NullToDefault(Read(item, f.exportAccess, f.exportField, f.exportDefault), f.exportDefault).ToText();
      if (f.omitWhenEmpty && text.empty()) return;
      record.SetValue(f.key, text);
    }
  }
}

DataRecordPtr CItemFrame::BuildRecord(LedgerObject& item) {
  auto record = NewRecord();
  const int32_t parentId = NullToDefault(item.Properties("FParentID"), int32_t{0}).ToLong();
  // Number, name, the fields, the parent (one sub-record or two keys): the
  // entries are made in place instead of grown one at a time.
  FieldSetTest sets;
  size_t entries = 2 + (parentId == 0 ? 0 : kind_.parent.subRecordKey.empty() ? 2 : 1);
  for (const auto& f : kind_.fields) entries += Exported(f) && sets.Active(f.set);
  record->Reserve(entries);
  record->SetValue("Number", item.Get("Number"));
  record->SetValue("Name", item.Get("Name"));
  for (const auto& f : kind_.fields)
    if (Exported(f) && sets.Active(f.set)) ExportField(f, item, *record);

  if (parentId != 0) {
    ParentNames found;
    const ParentNames* names = nullptr;
    if (exportParents_) {
      if (auto it = exportParents_->find(parentId); it != exportParents_->end()) names = &it->second;
    }
    if (!names) {
      LedgerObjectPtr parentItem = ItemSet().Item(parentId);
      auto& parent = Must(parentItem);
      found = {parent.Get("Name"), parent.Get("Number")};
      names = exportParents_ ? &exportParents_->emplace(parentId, found).first->second : &found;
    }
    if (!kind_.parent.subRecordKey.empty()) {
      auto sub = NewRecord();
      sub->Reserve(2);
      sub->SetValue("Name", names->name);
      sub->SetValue("Number", names->number);
      record->SetValue(kind_.parent.subRecordKey, sub);
    } else {
      record->SetValue(kind_.parent.nameKey, names->name);
      record->SetValue(kind_.parent.numberKey, names->number);
    }
  }
  return record;
}

bool CItemFrame::Export(const std::string& /*PropsString*/, const std::string& sFile) {
  std::unique_ptr<ObjectCursor> cursor;
  // An export only reads, so a parent read once holds for the whole run.
  exportParents_.emplace();
  struct Forget {
    CItemFrame& frame;
    ~Forget() {
      frame.exportParents_.reset();
      frame.KeepLookupAnswers(false);
    }
  } forget{*this};
  return RunExportWalk({.schemaFile = kind_.schemaFile,
                        .element = kind_.element,
                        .errorPrefix = kind_.exportError,
                        .progressPrefix = kind_.exportProgress,
                        .open =
                            [this] {
                              if (!items_) LoadItems();
                              KeepLookupAnswers(true);
                            },
                        .count = [this] { return ItemSet().Count(); },
                        .next =
                            [&] {
                              if (!cursor) cursor = ItemSet().Enumerate();
                              return cursor->Next();
                            },
                        .build = [this](LedgerObject& item) { return BuildRecord(item); }},
                       sFile);
}

bool CItemFrame::CheckID(int32_t id) {
  try {
    LoadItems();
    return FindItem(id) != nullptr;
  } catch (...) {
    return false;
  }
}

DataRecordPtr CItemFrame::GetInfo(int32_t id) {
  if (!items_) LoadItems();
  auto item = FindItem(id);
  if (!item) return NewRecord();
  return BuildRecord(*item);
}

bool CItemFrame::Import(const std::string& sFile) {
  return RunImportWalk(ParentImportWalk(parents_, {.schemaFile = kind_.schemaFile,
                        .element = kind_.element,
                        .errorPrefix = kind_.importError,
                        .progressPrefix = kind_.importProgress,
                        .open = [this] { LoadItems(); },
                        .importRecord =
                            [this](const DataRecordPtr& r) {
                              std::string number;
                              ImportRecord(r, number);
                            },
                        .parentKey = kind_.parent.subRecordKey.empty() ? kind_.parent.numberKey : kind_.parent.subRecordKey,
                        .unreadKey = [this](const std::string& key) { return UnreadItemKey(kind_, key); },
                        .sendsAhead = true}),
                       sFile);
}

int32_t CItemFrame::GetID(const DataRecordPtr& record) {
  LoadItems();
  auto single = std::make_shared<RecordCollection>();
  single->Add(record);
  parents_.SetCollection(single);
  struct Drop {
    ParentResolver& p;
    ~Drop() { p.SetCollection(nullptr); }
  } drop{parents_};
  std::string number;
  return ImportRecord(record, number);
}

ParentRef CItemFrame::ReadParent(const DataRecord& record) const {
  ParentRef ref;
  if (!kind_.parent.subRecordKey.empty()) {
    static const Variant kNothing = Variant::Nothing();
    Variant v = record.GetValue(kind_.parent.subRecordKey, kNothing);
    if (!v.IsObject()) {
      if (!v.IsEmpty()) ThrowTypeMismatch();
      return ref;
    }
    auto sub = v.As<DataRecord>();
    if (!sub) return ref;  // Nothing
    ref.present = true;
    ref.number = sub->Value(kNumberKey).ToText();
    ref.name = sub->Value(kNameKey);
  } else {
    ref.number = TrimBlanks(record.GetValue(kind_.parent.numberKey, "").ToText());
    ref.name = record.GetValue(kind_.parent.nameKey, "").ToText();
    ref.present = !ref.number.empty();
  }
  return ref;
}

void CItemFrame::ImportField(const ItemField& f, LedgerObject& item, const DataRecord& record) {
  switch (f.kind) {
    case FieldKind::Custom:
      f.importFn(*this, item, record);
      return;
    case FieldKind::Reference: {
      auto sub = record.GetValue(f.key, Variant::Nothing()).As<DataRecord>();
      if (!sub) return;
      const int32_t id = Lookup(f.lookup).GetID(sub, kind_.itemClassId, f.property);
      Write(item, f.importAccess, f.importField, id);
      return;
    }
    default:
      Write(item, f.importAccess, f.importField, NullToDefault(record.GetValue(f.key, f.importDefault), f.importDefault));
  }
}

int32_t CItemFrame::ImportRecord(const DataRecordPtr& recordPtr, std::string& numberOut) {
  auto underWay = parents_.Start(recordPtr.get());
  const DataRecord& record = Must(recordPtr);

  ParentRef parent = ReadParent(record);
  std::string number = LeftChars(record.Value(kNumberKey).ToText(), kind_.numberWidth);
  if (kind_.parent.subRecordKey.empty()) number = TrimBlanks(number);
  int32_t parentId = 0;
  parents_.CheckNumber(parent, parentId, number);
  numberOut = number;

  auto& set = ItemSet();
  const int32_t id = FindByNumber(number);
  auto target = ChooseImportTarget(
      set, id,
      [&] {
        newArgs_[1] = Variant(parentId);
        newNamed_[0].second = Variant(number);
        return set.CreateNew(newArgs_, newNamed_);
      },
      &record);
  if (target.keep) return id;
  auto& obj = Must(target.object);
  obj.Let(kNameKey, record.GetValue(kNameKey));
  obj.Let(kNumberKey, number);

  FieldSetTest sets;
  for (const auto& p : kind_.presets)
    if (sets.Active(p.set)) obj.SetProperties(p.field, p.value);

  const bool savePlaced =
      std::find(kind_.importOrder.begin(), kind_.importOrder.end(), kFirstSave) != kind_.importOrder.end();
  // A new item is stored once, with its fields: no field's import needs
  // its ID, and a record that fails is undone whole either way.
  if (!savePlaced && obj.Get(kItemIdKey).ToLong() != 0) obj.SaveChanges();

  if (kind_.importOrder.empty()) {
    for (const auto& f : kind_.fields)
      if (Imported(f) && sets.Active(f.set)) ImportField(f, obj, record);
  } else {
    for (const auto& key : kind_.importOrderNonGY.empty() || sets.Active(FieldSet::GY) ? kind_.importOrder : kind_.importOrderNonGY) {
      if (key == kFirstSave) {
        obj.SaveChanges();
        continue;
      }
      for (const auto& f : kind_.fields)
        if (f.key == key && Imported(f) && sets.Active(f.set)) {
          ImportField(f, obj, record);
          break;
        }
    }
  }
  obj.SaveChanges();
  return obj.Get(kItemIdKey).ToLong();
}

std::vector<std::pair<int32_t, std::string>> CItemFrame::FindUndotted(const std::string& undotted) {
  std::vector<std::pair<int32_t, std::string>> matches;
  auto cursor = ItemSet().Enumerate();
  while (auto item = cursor->Next()) {
    std::string stored = TextOf(item->Get("Number"));
    if (Contains(stored, ".") && Replace(stored, ".", "") == undotted) {
      matches.emplace_back(item->Get("ItemID").ToLong(), stored);
      if (matches.size() > 1) break;  // ambiguous: no need to look further
    }
  }
  return matches;
}

int32_t CItemFrame::CreateBareParent(const std::string& number, const Variant& name) {
  auto item = ItemSet().CreateNew({kind_.itemClassId, int32_t{0}, number, name}, {});
  Must(item).SaveChanges();
  NoteBareParent();
  return item->Get("ItemID").ToLong();
}

}  // namespace morvent
