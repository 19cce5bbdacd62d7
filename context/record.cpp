#include "context/record.h"

#include "platform/error.h"

namespace morvent {

Variant DataRecord::Value(const std::string& key) const {
  for (const auto& [k, v] : Entries())
    if (k == key) return v;
  return Variant();
}

void DataRecord::SetValue(const std::string& key, const Variant& value) {
  for (auto& [k, v] : entries_)
    if (k == key) {
      v = value;
      return;
    }
  entries_.emplace_back(key, value);
}

Variant DataRecord::GetValue(const std::string& key, const Variant& def) const {
  for (const auto& [k, v] : Entries())
    if (k == key) return v;
  return def;
}

bool DataRecord::Has(const std::string& key) const {
  for (const auto& [k, v] : Entries())
    if (k == key) return true;
  return false;
}

DataRecordPtr RecordCollection::Item(int32_t index) const {
  if (index < 1 || index > UBound()) throw Error(kErrSubscript, "Morvent", "下标越界");
  return records_[static_cast<size_t>(index - 1)];
}

void RecordCollection::SetItem(int32_t index, DataRecordPtr record) {
  if (index < 1 || index > UBound()) throw Error(kErrSubscript, "Morvent", "下标越界");
  records_[static_cast<size_t>(index - 1)] = std::move(record);
}

void RecordCollection::Add(DataRecordPtr record) {
  if (!record) ThrowObjectNotSet();
  records_.push_back(std::move(record));
}

Variant NullToDefault(const Variant& value, const Variant& def) { return value.IsNull() ? def : value; }

}  // namespace morvent
