#include "context/record.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

#include "platform/error.h"

namespace morvent {

namespace {

struct NameHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

}  // namespace

const std::string* SharedKey(std::string_view name) {
  static std::mutex lock;
  // Never destroyed: a record released after static destruction still
  // points here.
  static auto* names = new std::unordered_set<std::string, NameHash, std::equal_to<>>();
  std::lock_guard hold(lock);
  auto it = names->find(name);
  if (it == names->end()) it = names->emplace(name).first;
  return &*it;
}

// A packed entry: the shared key with the value's kind in its low bits, and
// 16 bytes that hold a text of up to 15 bytes, or a long text's block, or
// an object's shared pointer, or a heap Variant for any other value.
struct DataRecord::Slot {
  enum Kind : uintptr_t { kShortText, kLongText, kObject, kNull, kEmpty, kOther };
  static constexpr uintptr_t kKindBits = 7;
  static_assert(alignof(std::string) > kKindBits);

  uintptr_t keyKind;
  alignas(8) unsigned char bytes[16];

  const std::string& Key() const { return *reinterpret_cast<const std::string*>(keyKind & ~kKindBits); }
  Kind Which() const { return static_cast<Kind>(keyKind & kKindBits); }
  template <class T>
  T& As() { return *std::launder(reinterpret_cast<T*>(bytes)); }
  template <class T>
  const T& As() const { return *std::launder(reinterpret_cast<const T*>(bytes)); }
  struct LongText {
    char* data;
    size_t size;
  };

  // Takes the value; may raise bad_alloc, leaving nothing to free.
  void Set(const std::string* key, Variant& value) {
    Kind kind = kOther;
    if (value.IsText()) {
      const std::string& text = value.RawText();
      if (text.size() < sizeof bytes) {
        kind = kShortText;
        std::memcpy(bytes, text.data(), text.size());
        bytes[15] = static_cast<unsigned char>(text.size());
      } else {
        kind = kLongText;
        auto* data = static_cast<char*>(::operator new(text.size()));
        std::memcpy(data, text.data(), text.size());
        new (bytes) LongText{data, text.size()};
      }
    } else if (value.IsObject()) {
      kind = kObject;
      new (bytes) ObjectPtr(value.ToObject());
    } else if (value.IsNull()) {
      kind = kNull;
    } else if (value.IsEmpty()) {
      kind = kEmpty;
    } else {
      new (bytes) Variant*(new Variant(std::move(value)));
    }
    keyKind = reinterpret_cast<uintptr_t>(key) | kind;
  }

  Variant Get() const {
    switch (Which()) {
      case kShortText: return Variant(std::string_view(reinterpret_cast<const char*>(bytes), bytes[15]));
      case kLongText: return Variant(std::string_view(As<LongText>().data, As<LongText>().size));
      case kObject: return Variant(As<ObjectPtr>());
      case kNull: return Variant::Null();
      case kEmpty: return Variant();
      case kOther: return *As<Variant*>();
    }
    return Variant();
  }

  void Free() {
    switch (Which()) {
      case kLongText: ::operator delete(As<LongText>().data); break;
      case kObject: As<ObjectPtr>().~ObjectPtr(); break;
      case kOther: delete As<Variant*>(); break;
      default: break;
    }
  }
};

DataRecord::DataRecord(const DataRecord& other) : Object(other), OptionDictionary(other), fileRow_(other.fileRow_) {
  if (other.plain_) plain_ = std::make_unique<std::vector<Entry>>(*other.plain_);
  if (!other.packedCount_) return;
  auto& entries = Plain();
  entries.reserve(entries.size() + other.packedCount_);
  for (uint32_t i = 0; i < other.packedCount_; ++i)
    entries.emplace_back(other.packed_[i].Key(), other.packed_[i].Get());
}

DataRecord& DataRecord::operator=(const DataRecord& other) {
  if (this == &other) return *this;
  DataRecord copy(other);
  FreePacked();
  plain_ = std::move(copy.plain_);
  fileRow_ = other.fileRow_;
  return *this;
}

DataRecord::~DataRecord() { FreePacked(); }

void DataRecord::FreePacked() const {
  for (uint32_t i = 0; i < packedCount_; ++i) packed_[i].Free();
  std::free(packed_);
  packed_ = nullptr;
  packedCount_ = 0;
}

void DataRecord::Pack(std::vector<SharedEntry>& entries) {
  Slot* slots = nullptr;
  uint32_t made = 0;
  if (!entries.empty() && !(slots = static_cast<Slot*>(std::malloc(sizeof(Slot) * entries.size()))))
    throw std::bad_alloc();
  try {
    for (auto& [key, value] : entries) {
      slots[made].Set(key, value);
      ++made;
    }
  } catch (...) {
    for (uint32_t i = 0; i < made; ++i) slots[i].Free();
    std::free(slots);
    throw;
  }
  FreePacked();
  plain_.reset();
  packed_ = slots;
  packedCount_ = made;
  entries.clear();
}

void DataRecord::Unpack() const {
  auto plain = std::make_unique<std::vector<Entry>>();
  plain->reserve(packedCount_);
  for (uint32_t i = 0; i < packedCount_; ++i) plain->emplace_back(packed_[i].Key(), packed_[i].Get());
  FreePacked();
  plain_ = std::move(plain);
}

const DataRecord::Slot* DataRecord::FindPacked(const std::string& key) const {
  for (uint32_t i = 0; i < packedCount_; ++i)
    if (packed_[i].Key() == key) return &packed_[i];
  return nullptr;
}

Variant DataRecord::Value(const std::string& key) const {
  if (packed_) {
    const Slot* s = FindPacked(key);
    return s ? s->Get() : Variant();
  }
  for (const auto& [k, v] : Entries())
    if (k == key) return v;
  return Variant();
}

void DataRecord::SetValue(const std::string& key, const Variant& value) {
  if (packed_) Unpack();
  auto& entries = Plain();
  for (auto& [k, v] : entries)
    if (k == key) {
      v = value;
      return;
    }
  entries.emplace_back(key, value);
}

Variant DataRecord::GetValue(const std::string& key, const Variant& def) const {
  if (packed_) {
    const Slot* s = FindPacked(key);
    return s ? s->Get() : def;
  }
  for (const auto& [k, v] : Entries())
    if (k == key) return v;
  return def;
}

bool DataRecord::Has(const std::string& key) const {
  if (packed_) return FindPacked(key) != nullptr;
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
