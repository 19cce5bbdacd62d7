#include "context/record.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>
#include <unordered_set>

#include "platform/error.h"
#include "platform/text.h"

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

DataRecord::Slot& DataRecord::SlotAt(uint32_t i) const {
  static_assert(sizeof(Slot) == sizeof(first_) && alignof(Slot) <= 8);
  return i == 0 ? *std::launder(reinterpret_cast<Slot*>(first_)) : rest_[i - 1];
}

DataRecord::DataRecord(const DataRecord& other) : Object(other), OptionDictionary(other), fileRow_(other.fileRow_) {
  if (!other.packedCount_) {
    new (&plain_) std::vector<Entry>(other.plain_);
    return;
  }
  new (&plain_) std::vector<Entry>();
  try {
    plain_.reserve(other.packedCount_);
    for (uint32_t i = 0; i < other.packedCount_; ++i) plain_.emplace_back(other.SlotAt(i).Key(), other.SlotAt(i).Get());
  } catch (...) {
    plain_.~vector();
    throw;
  }
}

DataRecord& DataRecord::operator=(const DataRecord& other) {
  if (this == &other) return *this;
  DataRecord copy(other);  // plain
  if (packedCount_) Unpack();
  plain_ = std::move(copy.plain_);
  fileRow_ = other.fileRow_;
  return *this;
}

DataRecord::~DataRecord() {
  if (packedCount_)
    FreeSlots();
  else
    plain_.~vector();
}

// Leaves the union holding nothing; the caller puts a vector or new slots
// there.
void DataRecord::FreeSlots() const {
  for (uint32_t i = 0; i < packedCount_; ++i) SlotAt(i).Free();
  std::free(rest_);
  rest_ = nullptr;
  packedCount_ = 0;
}

void DataRecord::Pack(std::vector<SharedEntry>& entries) {
  if (entries.empty()) {
    if (packedCount_) {
      FreeSlots();
      new (&plain_) std::vector<Entry>();
    }
    plain_.clear();
    return;
  }
  const size_t n = entries.size();
  if (n > UINT32_MAX) throw std::bad_alloc();
  Slot first;
  Slot* rest = nullptr;
  if (n > 1 && !(rest = static_cast<Slot*>(std::malloc(sizeof(Slot) * (n - 1))))) throw std::bad_alloc();
  size_t made = 0;
  try {
    for (; made < n; ++made) (made == 0 ? first : rest[made - 1]).Set(entries[made].first, entries[made].second);
  } catch (...) {
    for (size_t i = 0; i < made; ++i) (i == 0 ? first : rest[i - 1]).Free();
    std::free(rest);
    throw;
  }
  // From here nothing can fail: the slots are bytes that move as they are.
  if (packedCount_)
    FreeSlots();
  else
    plain_.~vector();
  std::memcpy(first_, &first, sizeof first);
  rest_ = rest;
  packedCount_ = static_cast<uint32_t>(n);
  entries.clear();
}

void DataRecord::Unpack() const {
  std::vector<Entry> plain;
  plain.reserve(packedCount_);
  for (uint32_t i = 0; i < packedCount_; ++i) plain.emplace_back(SlotAt(i).Key(), SlotAt(i).Get());
  FreeSlots();
  new (&plain_) std::vector<Entry>(std::move(plain));
}

uint32_t DataRecord::SlotIndex(const Slot* s) const {
  return s == &SlotAt(0) ? 0 : static_cast<uint32_t>(s - rest_) + 1;
}

const DataRecord::Slot* DataRecord::FindPacked(const std::string& key) const {
  for (uint32_t i = 0; i < packedCount_; ++i)
    if (SlotAt(i).Key() == key) return &SlotAt(i);
  return nullptr;
}

namespace {
// The entries Value and GetValue found last on this thread, newest at
// next - 1: a conversion may read other records (an object's own field
// view, the markers of a parent search) between its read and its failure.
struct Read {
  const DataRecord* record = nullptr;
  uint32_t index = 0;
};
struct Reads {
  static constexpr uint32_t kKept = 8;
  Read at[kKept];
  uint32_t next = 0;
  void Note(const DataRecord* r, uint32_t i) { at[next++ % kKept] = {r, i}; }
};
thread_local Reads lastRead;
}  // namespace

Variant DataRecord::Value(const std::string& key) const { return GetValue(key, Variant()); }

void DataRecord::SetValue(const std::string& key, const Variant& value) {
  if (packedCount_) Unpack();
  auto& entries = plain_;
  for (auto& [k, v] : entries)
    if (k == key) {
      v = value;
      return;
    }
  entries.emplace_back(key, value);
}

Variant DataRecord::GetValue(const std::string& key, const Variant& def) const {
  if (packedCount_) {
    const Slot* s = FindPacked(key);
    if (!s) return def;
    lastRead.Note(this, SlotIndex(s));
    return s->Get();
  }
  for (size_t i = 0; i < plain_.size(); ++i)
    if (plain_[i].first == key) {
      lastRead.Note(this, static_cast<uint32_t>(i));
      return plain_[i].second;
    }
  return def;
}

const std::string& DataRecord::KeyAt(size_t i) const {
  if (i >= Size()) throw Error(kErrSubscript, "Morvent", "下标越界");
  return packedCount_ ? SlotAt(static_cast<uint32_t>(i)).Key() : plain_[i].first;
}

bool DataRecord::ObjectAt(size_t i) const {
  if (i >= Size()) return false;
  return packedCount_ ? SlotAt(static_cast<uint32_t>(i)).Which() == Slot::kObject : plain_[i].second.IsObject();
}

Variant DataRecord::ValueAt(size_t i) const {
  if (i >= Size()) throw Error(kErrSubscript, "Morvent", "下标越界");
  return packedCount_ ? SlotAt(static_cast<uint32_t>(i)).Get() : plain_[i].second;
}

bool DataRecord::Has(const std::string& key) const {
  if (packedCount_) return FindPacked(key) != nullptr;
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

namespace {
// Nested records this deep are searched; a data file's nest no deeper.
constexpr int kSearchDepth = 4;

template <class Visit>
bool EachNested(const DataRecord& root, const std::string& path, int depth, const Visit& visit) {
  if (depth > kSearchDepth) return false;
  for (size_t i = 0; i < root.Size(); ++i) {
    if (!root.ObjectAt(i)) continue;
    const Variant v = root.ValueAt(i);
    const std::string at = path + root.KeyAt(i) + "/";
    if (auto sub = v.As<DataRecord>()) {
      if (visit(*sub, at) || EachNested(*sub, at, depth + 1, visit)) return true;
    } else if (auto list = v.As<RecordCollection>()) {
      for (int32_t k = list->LBound(); k <= list->UBound(); ++k) {
        auto item = list->Item(k);
        if (item && (visit(*item, at) || EachNested(*item, at, depth + 1, visit))) return true;
      }
    }
  }
  return false;
}
}  // namespace

void ForgetLastRead() { lastRead = {}; }

bool LastReadWithin(const DataRecord& root, std::string& path, Variant& value,
                    const std::function<bool(const Variant&)>& agrees) {
  const Reads reads = lastRead;  // the search below reads no values by key, but to be sure
  for (uint32_t k = 1; k <= Reads::kKept && k <= reads.next; ++k) {
    const Read read = reads.at[(reads.next - k) % Reads::kKept];
    if (!read.record) break;
    auto take = [&](const DataRecord& r, const std::string& at) {
      if (&r != read.record || read.index >= r.Size()) return false;
      Variant v = r.ValueAt(read.index);
      if (agrees && !agrees(v)) return false;
      path = at + r.KeyAt(read.index);
      value = std::move(v);
      return true;
    };
    if (take(root, "") || EachNested(root, "", 1, take)) return true;
  }
  return false;
}

std::string FindValuePath(const DataRecord& root, std::string_view text, bool null) {
  std::string found;
  // A value longer than an error keeps is known by its beginning.
  const bool cut = CharLength(text) >= kDetailValueChars;
  auto search = [&](const DataRecord& r, const std::string& at) {
    for (size_t i = 0; i < r.Size(); ++i) {
      const Variant v = r.ValueAt(i);
      if (null ? v.IsNull() : v.IsText() && (cut ? v.RawText().starts_with(text) : v.RawText() == text)) {
        found = at + r.KeyAt(i);
        return true;
      }
    }
    return false;
  };
  if (!search(root, "")) EachNested(root, "", 1, search);
  return found;
}

}  // namespace morvent
