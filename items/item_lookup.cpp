#include "items/item_lookup.h"

namespace morvent {

namespace {

// Each value as its type and text, each text followed by its length, so no
// two different records write the same key.
void AddText(std::string& key, std::string_view text) {
  key += text;
  key += '\x1f';
  key += std::to_string(text.size());
  key += '\x1e';
}

bool AddValue(const Variant& value, std::string& key) {
  key += std::to_string(static_cast<int>(value.Type()));
  key += ':';
  if (auto nested = value.As<DataRecord>()) {
    key += '{';
    if (!AnswerKey(*nested, key)) return false;
    key += '}';
  } else if (auto list = value.As<RecordCollection>()) {
    key += '[';
    for (int32_t i = list->LBound(); i <= list->UBound(); ++i) {
      const DataRecordPtr item = list->Item(i);
      if (!item || !AnswerKey(*item, key)) return false;
      key += ',';
    }
    key += ']';
  } else if (value.IsObject()) {
    return false;
  } else if (!value.IsEmpty() && !value.IsNull()) {
    AddText(key, value.ToText());
  }
  return true;
}

}  // namespace

bool AnswerKey(const DataRecord& record, std::string& key) {
  for (size_t i = 0; i < record.Size(); ++i) {
    AddText(key, record.KeyAt(i));
    if (!AddValue(record.ValueAt(i), key)) return false;
  }
  return true;
}

}  // namespace morvent
