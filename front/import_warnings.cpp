#include "front/import_warnings.h"

#include <algorithm>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "context/glfunc.h"
#include "context/props.h"
#include "front/exchange_log.h"
#include "platform/text.h"

namespace morvent {

namespace {

// The number check's errors (items/item_parent.h).
constexpr int32_t kDotInNumber = kAppErrorBase + 266;
constexpr int32_t kParentFailed = kAppErrorBase + 466;

constexpr const char* kNotRead = "只导出，引入时不读取";
constexpr const char* kForeignId = "是导出它的账套中的内码，引入时不读取";

struct UnreadKey {
  const char* record;
  const char* key;
  const char* why;
};

// Keys no kind reads in any ledger, by the record that carries them: its
// element at the top of a file, or the key it is nested under elsewhere.
constexpr UnreadKey kUnread[] = {
    {"Account", "Level", "由科目代码得出，引入时不读取"},
    {"Account", "Detail", "由科目代码得出，引入时不读取"},
    {"Settle", "CompanyCode", "由分支机构代码写出，引入时不读取"},
    {"SettleMode", "CompanyCode", "由分支机构代码写出，引入时不读取"},
    {"MeasureUnitGroup", "Number", kForeignId},
    {"MeasureUnit", "AuxClass", kNotRead},
    {"Unit", "AuxClass", kNotRead},
    {"Department", "Manager", kNotRead},
    {"AssistType", "Number", kForeignId},
};

struct NameHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
using ReasonCache = std::unordered_map<std::string, std::string, NameHash, std::equal_to<>>;

// A value as a detail keeps it.
std::string Kept(std::string_view text) {
  return CharLength(text) > kDetailValueChars ? LeftChars(text, kDetailValueChars) : std::string(text);
}
// A value as a warning shows it.
std::string Cut(std::string_view text) {
  return CharLength(text) > kDetailValueChars ? Kept(text) + "…" : std::string(text);
}

// Keys met for the first time in the run, each asked once.
class UnreadKeys {
 public:
  UnreadKeys(const ImportWalk& walk, std::vector<std::string>& out) : walk_(walk), out_(out) {}

  void Check(const DataRecord& record, int32_t row) { Visit(record, walk_.element, "", row, 0); }

 private:
  void Visit(const DataRecord& record, const std::string& name, const std::string& path, int32_t row, int depth) {
    const bool top = depth == 0;
    for (size_t i = 0; i < record.Size(); ++i) {
      const std::string& key = record.KeyAt(i);
      const std::string& why = Reason(top ? top_ : nested_[name], name, key, top);
      if (!why.empty() && warned_.insert(path + key).second)
        out_.push_back("第 " + std::to_string(row) + " 条记录起的键 " + path + key + kUnreadKeyMark + why);
      if (depth >= 3 || !record.ObjectAt(i)) continue;
      const Variant v = record.ValueAt(i);
      if (auto sub = v.As<DataRecord>()) {
        Visit(*sub, key, path + key + "/", row, depth + 1);
      } else if (auto list = v.As<RecordCollection>()) {
        for (int32_t k = list->LBound(); k <= list->UBound(); ++k)
          if (auto item = list->Item(k)) Visit(*item, key, path + key + "/", row, depth + 1);
      }
    }
  }

  const std::string& Reason(ReasonCache& cache, const std::string& name, const std::string& key, bool top) {
    if (auto it = cache.find(std::string_view(key)); it != cache.end()) return it->second;
    std::string why = top && walk_.unreadKey ? walk_.unreadKey(key) : std::string();
    if (why.empty()) why = UnreadKeyReason(name, key);
    return cache.emplace(key, std::move(why)).first->second;
  }

  const ImportWalk& walk_;
  std::vector<std::string>& out_;
  ReasonCache top_;
  std::unordered_map<std::string, ReasonCache> nested_;
  std::unordered_set<std::string> warned_;
};

// A match key met again: within its scope, the first row that gave it.
// Each record is noted by an 8-byte hash of its key, not a copy of it; the
// records of a hash met more than once are compared at the end.
class Duplicates {
 public:
  Duplicates(const ImportWalk& walk, const RecordCollection& records) : walk_(walk), records_(records) {
    if (!walk_.matchKey.empty()) seen_.reserve(static_cast<size_t>(records.UBound()));
  }

  void Check(const DataRecord& record, int32_t index) {
    if (walk_.matchKey.empty()) return;
    std::string key;
    if (KeyOf(record, key)) seen_.push_back({Hash32(key), index});
  }

  // Each warning with the index of the record it is told at, in that order.
  std::vector<std::pair<int32_t, std::string>> Warnings() {
    std::vector<std::pair<int32_t, std::string>> out;
    std::sort(seen_.begin(), seen_.end(),
              [](const Seen& a, const Seen& b) { return a.hash != b.hash ? a.hash < b.hash : a.index < b.index; });
    const bool byName = walk_.matchKey == "Name";
    for (size_t from = 0, to = 0; from < seen_.size(); from = to) {
      for (to = from + 1; to < seen_.size() && seen_[to].hash == seen_[from].hash;) ++to;
      if (to - from == 1) continue;
      std::unordered_map<std::string, int32_t> first;  // key → row, within the hash
      for (size_t k = from; k < to; ++k) {
        const DataRecordPtr record = records_.Item(seen_[k].index);
        std::string key;
        KeyOf(*record, key);
        const int32_t row = record->FileRow() > 0 ? record->FileRow() : seen_[k].index;
        auto [it, isFirst] = first.try_emplace(std::move(key), row);
        if (isFirst) continue;
        out.emplace_back(seen_[k].index, "第 " + std::to_string(it->second) + " 条和第 " + std::to_string(row) +
                                             " 条记录的" + (byName ? "名称" : "代码") + "都是“" +
                                             Cut(record->GetValue(walk_.matchKey, Variant()).RawText()) +
                                             "”：后一条记录遇到的是前一条引入的对象，按引入方式保留或覆盖它");
      }
    }
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return out;
  }

 private:
  // The key a record is matched by within its scope; false when it is
  // refused as blank, or not comparable.
  bool KeyOf(const DataRecord& record, std::string& key) const {
    const Variant v = record.GetValue(walk_.matchKey, Variant());
    if (!v.IsText() || TrimBlanks(v.RawText()).empty()) return false;
    key = v.RawText();
    if (!walk_.scopeKey.empty()) {
      auto scope = record.Record(walk_.scopeKey);
      const Variant name = scope ? scope->Value("Name") : Variant();
      key = (name.IsText() ? name.RawText() : std::string()) + '\x1f' + key;
    }
    return true;
  }

  struct Seen {
    uint32_t hash;
    int32_t index;
  };
  const ImportWalk& walk_;
  const RecordCollection& records_;
  std::vector<Seen> seen_;
};

}  // namespace

std::string UnreadKeyReason(const std::string& record, const std::string& key) {
  for (const auto& k : kUnread)
    if (record == k.record && key == k.key) return k.why;
  return {};
}

void WarnAboutFile(const ImportWalk& walk, const RecordCollection& records) {
  std::vector<std::string> warnings;
  try {
    Duplicates duplicates(walk, records);
    UnreadKeys unread(walk, warnings);
    std::vector<int32_t> unreadAt;  // the record each of warnings is told at
    for (int32_t i = records.LBound(); i <= records.UBound(); ++i) {
      const DataRecordPtr record = records.Item(i);
      if (!record) continue;
      const int32_t row = record->FileRow() > 0 ? record->FileRow() : i;
      duplicates.Check(*record, i);
      unread.Check(*record, row);
      unreadAt.resize(warnings.size(), i);
    }
    // In record order, a record's repeated key before its unread keys.
    const auto repeated = duplicates.Warnings();
    size_t d = 0;
    for (size_t u = 0; u < warnings.size(); ++u) {
      for (; d < repeated.size() && repeated[d].first <= unreadAt[u]; ++d) ShowWarning(repeated[d].second);
      ShowWarning(warnings[u]);
    }
    for (; d < repeated.size(); ++d) ShowWarning(repeated[d].second);
  } catch (const std::exception& e) {
    // The checks only inform; the import goes on without the rest of them.
    ReportDiagnostic(std::string("检查数据文件时出错：") + e.what());
  }
}

namespace {
bool Agrees(const Variant& v, const ErrorDetail& d) {
  if (d.valueIsNull) return v.IsNull();
  if (v.IsObject() || v.IsNull()) return false;
  return Kept(TextOf(v)) == d.value;
}

bool Blank(const Variant& v) { return v.IsEmpty() || v.IsNull() || (v.IsText() && TrimBlanks(v.RawText()).empty()); }
}  // namespace

void DescribeImportFailure(const ImportWalk& walk, const DataRecord* current, const Error& error,
                           ErrorDetail& d) {
  d.element = walk.element;
  if (!current) return;
  d.row = current->FileRow();
  // The key first: the reads below move the last read.
  if (d.AboutValue() && d.key.empty()) {
    std::string path;
    Variant value;
    if (LastReadWithin(*current, path, value, [&d](const Variant& v) { return Agrees(v, d); }))
      d.key = path;
    else if (!d.valueIsNull)
      d.key = FindValuePath(*current, d.value, false);
  }
  if (!walk.parentKey.empty()) {
    const Variant parent = current->Value(walk.parentKey);
    const auto sub = parent.As<DataRecord>();
    if (error.Number() == kParentFailed && !d.AboutValue()) {
      const Variant number = sub ? sub->Value("Number") : parent;
      d.key = sub ? walk.parentKey + "/Number" : walk.parentKey;
      d.value.clear();
      if (!number.IsObject()) d.value = Kept(TextOf(number));
      d.expected = Expected::Object;
      d.object = "上级";
    }
    if (error.Number() == kDotInNumber && !sub && Blank(parent))
      d.hint = "记录中没有上级键 " + walk.parentKey + "：带点的代码表示下级，请在 " + walk.parentKey + " 中给出它的上级";
  }
  const Variant number = current->Value(current->Has("Number") || walk.matchKey.empty() ? "Number" : walk.matchKey);
  if (!number.IsObject()) d.number = Kept(TextOf(number));
}

}  // namespace morvent
