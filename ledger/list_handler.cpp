#include "ledger/list_handler.h"

#include "front/walks.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace morvent {

void CListHandler::GetList() {
  if (set_) return;
  auto set = CreateObjectAs<ObjectSet>(kind_.progId);
  set->SetListOptions(kind_.listOptions);
  set->Refresh();
  set_ = set;
}

bool CListHandler::CheckID(int32_t id) {
  try {
    GetList();
    return set_->Item(id) != nullptr;
  } catch (...) {
    return false;
  }
}

DataRecordPtr CListHandler::GetInfo(int32_t id) {
  GetList();
  auto object = set_->Item(id);
  if (!object) return NewRecord();
  return BuildRecord(*object);
}

int32_t CListHandler::GetID(const DataRecord& record) {
  GetList();
  return ImportRecord(record);
}

int32_t CListHandler::ImportRecord(const DataRecord& record) {
  auto& set = Must(set_);
  const std::string key = LeftChars(record.Value(kind_.matchKey).ToText(), kind_.numberWidth);
  const int32_t id = set.ExistenceCheck({{kind_.matchKey, key}});
  auto target = ChooseImportTarget(set, id, [&] { return set.CreateNew({}, {{kind_.matchKey, key}}); }, &record);
  if (target.keep) return id;
  auto& object = Must(target.object);
  WriteFields(object, record, key);
  object.SaveChanges();
  return object.Get(kind_.idProperty).ToLong();
}

bool CListHandler::Export(const std::string& /*PropsString*/, const std::string& sFile) {
  std::unique_ptr<ObjectCursor> cursor;
  return RunExportWalk({.schemaFile = kind_.schemaFile,
                        .element = kind_.element,
                        .errorPrefix = kind_.exportError,
                        .progressPrefix = kind_.exportProgress,
                        .open = [this] { GetList(); },
                        .count = [this] { return Must(set_).Count(); },
                        .next =
                            [&]() -> LedgerObjectPtr {
                              if (kind_.exportWithGetNext) return Must(set_).GetNext();
                              if (!cursor) cursor = Must(set_).Enumerate();
                              return cursor->Next();
                            },
                        .build = [this](LedgerObject& o) { return BuildRecord(o); },
                        .counted = kind_.exportWithGetNext},
                       sFile);
}

bool CListHandler::Import(const std::string& sFile) {
  return RunImportWalk({.schemaFile = kind_.schemaFile,
                        .element = kind_.element,
                        .errorPrefix = kind_.importError,
                        .progressPrefix = kind_.importProgress,
                        .open = [this] { GetList(); },
                        .importRecord = [this](const DataRecordPtr& r) { ImportRecord(Must(r)); },
                        .matchKey = kind_.matchKey},
                       sFile);
}

}  // namespace morvent
