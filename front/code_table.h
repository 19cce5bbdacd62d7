#pragma once
// The one table of base-type codes: each code's handler factory, schema
// file and element name. Nothing else lists the handlers.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "front/handler.h"

namespace morvent {

struct BaseType {
  int32_t code;
  std::string element;     // "AccountType"
  std::string schemaFile;  // "SchemaAccountType.xml"
  std::string title;       // "科目大类", for people
  // Empty while the kind's handler is not built yet: the code then answers
  // False like an unassigned one.
  std::function<std::unique_ptr<EntityHandler>()> create;
  // False for a kind whose import answers False by design (export only).
  bool importable = true;
  // Place in a whole-ledger exchange: a kind comes after every kind its
  // records refer to (assist data before the items using it, units before
  // accounts, employees before stocks...).
  int importRank = 0;
};

const std::vector<BaseType>& BaseTypes();
// The entry of an assigned code, or nullptr.
const BaseType* FindBaseType(int32_t code);
// Every entry, ordered by importRank: the order a whole ledger is imported in.
std::vector<const BaseType*> BaseTypesInImportOrder();
// By element name (case-insensitive) or by code written as text.
const BaseType* FindBaseType(const std::string& codeOrName);
// All 17 element names that have a schema (the 16 codes and "ItemClass").
std::vector<std::string> SchemaElementNames();

}  // namespace morvent
