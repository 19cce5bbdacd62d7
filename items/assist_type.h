#pragma once
// CAssistType: assist-data types (code 121), the named categories ("区域",
// "行业", ...) the assist-data entries belong to. Types are matched by name
// only: the record's "Number" carries the type's ID out and is never read
// back, so an import gives the types the target ledger's own IDs.
//
// Record keys, in order: "Name" (the whole stored name), "Number" (the ID
// as text). GetInfo answers this record and GetID takes it; the entry
// handler nests it under "AssistType".
#include <cstdint>
#include <string>

#include "context/ledger_api.h"
#include "context/record.h"
#include "front/handler.h"

namespace morvent {

class CAssistType : public EntityHandler {
 public:
  // The property string is not consulted.
  bool Export(const std::string& PropsString, const std::string& sFile) override;
  // Opens the type set once per handler.
  void GetList();
  // The record of the type with that ID. An ID no type has fails
  // ("对象变量未设置") rather than answering an empty record.
  DataRecordPtr GetInfo(int32_t id);
  bool Import(const std::string& sFile) override;
  // Finds the type the record names, or creates it; an existing type is
  // kept (ImpStyle 1) or renamed with the record's whole name (ImpStyle 2).
  // Answers the type's ID. Failures reach the caller.
  int32_t GetID(const DataRecord& record);

  // Characters of "Name" that make the match key.
  static constexpr size_t kNameWidth = 30;

 private:
  DataRecordPtr BuildRecord(LedgerObject& type);
  int32_t ImportRecord(const DataRecord& record);
  // The type whose name equals the record's whole name, so a type stored
  // under a name longer than the match width is met again; else the first,
  // in the set's order, whose name equals the key (the record's name cut to
  // the match width); 0 when none. Exact, case-sensitive comparison.
  int32_t FindTypeByName(const std::string& key, const std::string& whole);

  ObjectSetPtr set_;
};

}  // namespace morvent
