#include "items/item_class.h"

#include "front/walks.h"
#include "platform/registry.h"

namespace morvent {

void CItemClass::PrepareSets() {
  if (set_) return;
  auto set = CreateObjectAs<ObjectSet>(kItemClassSet);
  set->SetListOptions(1);
  set->Refresh();
  set_ = set;
}

DataRecordPtr CItemClass::PackageItemClass(LedgerObject& itemClass) {
  PrepareSets();
  auto record = NewRecord();
  record->SetValue("Name", itemClass.Get("Name"));
  record->SetValue("Number", itemClass.Get("Number"));
  return record;
}

DataRecordPtr CItemClass::GetInfo(int32_t id) {
  try {
    PrepareSets();
    return PackageItemClass(Must(set_->Item(id)));
  } catch (const Error&) {
    return NewRecord();
  }
}

int32_t CItemClass::GetID(const DataRecord& record) {
  PrepareSets();
  const Variant name = record.GetValue("Name", ""), number = record.GetValue("Number", "");
  // VarEquals answers False for a Null on either side.
  auto matches = [&](LedgerObject& c) { return VarEquals(name, c.Get("Name")) && VarEquals(number, c.Get("Number")); };
  // An import asks for the same few classes on every account: the class
  // found last time is read again alone, and the whole list only when it
  // no longer matches.
  const bool keyed = name.IsText() && number.IsText();
  std::pair<std::string, std::string> key;
  if (keyed) {
    key = {name.RawText(), number.RawText()};
    if (auto it = found_.find(key); it != found_.end()) {
      auto c = set_->Item(it->second);
      if (c && matches(*c)) return it->second;
      found_.erase(it);
    }
  }
  set_->Refresh();
  auto cursor = set_->Enumerate();
  while (auto c = cursor->Next())
    if (matches(*c)) {
      const int32_t id = c->Get("ItemClassID").ToLong();
      if (keyed && found_.size() < kFoundKept) found_.emplace(std::move(key), id);
      return id;
    }
  return 0;
}

bool CItemClass::Export(const std::string& /*PropsString*/, const std::string& sFile) {
  std::unique_ptr<ObjectCursor> cursor;
  // Through the shared walk; its progress events reach no one, since only
  // the account handler holds this handler and does not subscribe.
  return RunExportWalk({.schemaFile = "SchemaItemClass.xml",
                        .element = "ItemClass",
                        .errorPrefix = "导出核算项目类别出错，当前记录名称为：",
                        .progressPrefix = "",
                        .open = [this] { PrepareSets(); },
                        .count = [this] { return Must(set_).Count(); },
                        .next =
                            [&] {
                              if (!cursor) cursor = Must(set_).Enumerate();
                              return cursor->Next();
                            },
                        .build = [this](LedgerObject& c) { return PackageItemClass(c); }},
                       sFile);
}

bool CItemClass::Import(const std::string&) { return false; }

}  // namespace morvent
