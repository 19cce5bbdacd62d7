#pragma once
// DataRecord: one record of a data file, named values in insertion order.
// RecordCollection: records indexed from 1.
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/variant.h"

#include "platform/export.h"

namespace morvent {

// What an option dictionary offers: a value by key, or the default.
class MORVENT_API OptionDictionary {
 public:
  virtual ~OptionDictionary() = default;
  virtual Variant GetValue(const std::string& key, const Variant& def) const = 0;
};

// The one copy of a key name that packed records point to; it lives as long
// as the program, so only names from a bounded set (a schema's declared
// keys) belong here, never text from a data file.
MORVENT_API const std::string* SharedKey(std::string_view name);

class MORVENT_API DataRecord : public Object, public OptionDictionary {
 public:
  using Entry = std::pair<std::string, Variant>;
  // An entry for Pack: a key from SharedKey and its value.
  using SharedEntry = std::pair<const std::string*, Variant>;

  DataRecord() { new (&plain_) std::vector<Entry>(); }
  DataRecord(const DataRecord& other);
  DataRecord& operator=(const DataRecord& other);
  ~DataRecord() override;

  // The value under the key; Empty when the record does not hold it.
  virtual Variant Value(const std::string& key) const;
  // Writes a plain value or an object (nested record or collection); a new
  // key goes after the existing ones, an existing key keeps its place.
  virtual void SetValue(const std::string& key, const Variant& value);
  Variant GetValue(const std::string& key, const Variant& def) const override;
  // Without a default: Empty for an absent key.
  Variant GetValue(const std::string& key) const { return GetValue(key, Variant()); }
  virtual bool Has(const std::string& key) const;
  virtual const std::vector<Entry>& Entries() const {
    if (packedCount_) Unpack();
    return plain_;
  }
  size_t Count() const { return Entries().size(); }
  // Room for n entries, for a builder that knows how many it will set.
  void Reserve(size_t n) {
    if (packedCount_) Unpack();
    plain_.reserve(n);
  }

  // For a reader holding many records at once: replaces the content with
  // the given entries (distinct keys, in order), kept packed: a shared key
  // pointer and a short text in place, 24 bytes an entry, the first in the
  // record itself and the rest in one block. Reads answer from
  // the packed form as from any other; the first write or Entries() call
  // turns the record back into plain entries (so even a const record is not
  // for several threads at once). `entries` is left empty.
  void Pack(std::vector<SharedEntry>& entries);

  // 1-based position in the data file; 0 for a record made in memory.
  int32_t FileRow() const { return fileRow_; }
  void SetFileRow(int32_t row) { fileRow_ = row; }

  // Nested objects, or nullptr when the key holds none of that kind.
  std::shared_ptr<DataRecord> Record(const std::string& key) const { return Value(key).As<DataRecord>(); }

  // The entries by position, without turning a packed record plain.
  size_t Size() const { return packedCount_ ? packedCount_ : plain_.size(); }
  const std::string& KeyAt(size_t i) const;
  Variant ValueAt(size_t i) const;
  // Whether the entry holds an object (nested record or collection); reads
  // no text.
  bool ObjectAt(size_t i) const;

 private:
  struct Slot;
  Slot& SlotAt(uint32_t i) const;
  const Slot* FindPacked(const std::string& key) const;
  uint32_t SlotIndex(const Slot* s) const;
  void Unpack() const;
  void FreeSlots() const;

  // Plain entries, or (packedCount_ > 0) the first packed slot in the same
  // bytes, so that neither form pays for the other; a packed record turns
  // plain on demand, hence mutable.
  union {
    mutable std::vector<Entry> plain_;
    alignas(8) mutable unsigned char first_[sizeof(std::vector<Entry>)];
  };
  mutable Slot* rest_ = nullptr;  // owned; packedCount_ - 1 slots
  int32_t fileRow_ = 0;
  mutable uint32_t packedCount_ = 0;
};
using DataRecordPtr = std::shared_ptr<DataRecord>;

class MORVENT_API RecordCollection : public Object {
 public:
  int32_t LBound() const { return 1; }
  int32_t UBound() const { return static_cast<int32_t>(records_.size()); }
  // The record at a 1-based index; an index outside LBound..UBound raises
  // "下标越界".
  DataRecordPtr Item(int32_t index) const;
  void SetItem(int32_t index, DataRecordPtr record);
  void Add(DataRecordPtr record);
  void Reserve(size_t n) { records_.reserve(n); }

 private:
  std::vector<DataRecordPtr> records_;
};
using RecordCollectionPtr = std::shared_ptr<RecordCollection>;

inline DataRecordPtr NewRecord() { return std::make_shared<DataRecord>(); }

// Which key a failure was about. Value and GetValue note, per thread, the
// entry they last found; where a failure is caught, the entry names the key
// whose value was being converted or looked up.
//
// The path of the newest of the last few entries found that lies within
// root (its own key, or "Sub/Key" for a record nested under root's key
// "Sub", at any depth) and whose value agrees (when asked), with its value;
// false when none does.
bool LastReadWithin(const DataRecord& root, std::string& path, Variant& value,
                    const std::function<bool(const Variant&)>& agrees = nullptr);
// Forgets the last entry found (a new record begins).
void ForgetLastRead();
// The path of the first entry within root (nested records searched after
// root's own entries) whose value reads as the text, or is Null when null;
// empty when none does.
std::string FindValuePath(const DataRecord& root, std::string_view text, bool null);
// Records of a nested collection count as nested under its key.

// The value, or the default when the value is Null. An absent (Empty) value
// is answered as it is.
MORVENT_API Variant NullToDefault(const Variant& value, const Variant& def);

}  // namespace morvent
