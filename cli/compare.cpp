#include "cli/compare.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "context/datafile.h"
#include "front/code_table.h"
#include "front/import_warnings.h"
#include "platform/progdir.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "store/ledger_admin.h"

namespace morvent::cli {

namespace {

// Keys an import never reads are not compared: those no ledger reads (the
// import's own list), and those a ledger without "GY" does not (the
// materials' field table keeps them for GY ledgers only).
struct NonGyKey {
  const char* record;
  const char* key;
};
constexpr NonGyKey kNonGyUnread[] = {{"Material", "IsBatch"}, {"Material", "SecInv"}};

bool Ignored(const std::string& record, const std::string& key, bool gy) {
  if (!UnreadKeyReason(record, key).empty()) return true;
  if (gy) return false;
  return std::any_of(std::begin(kNonGyUnread), std::end(kNonGyUnread),
                     [&](const NonGyKey& k) { return record == k.record && key == k.key; });
}

// A leaf as people read it: its text, or a mark for a null.
std::string Shown(const Variant& v) {
  if (v.IsNull()) return "（空值）";
  if (v.IsObject()) return "（子记录）";
  return "「" + v.ToText() + "」";
}

struct Walk {
  const std::string& dir1;
  const std::string& dir2;
  bool gy;
  std::vector<std::string>& out;
  std::string where;  // "Customer.xml，第 3 条记录（01.01）"

  void Differ(const std::string& path, const std::string& what) { out.push_back(where + "，键 " + path + "：" + what); }

  // Keys are matched by name (the reader allows each once per record).
  void Record(const DataRecord& a, const DataRecord& b, const std::string& recordName, const std::string& path) {
    auto at = [&path](const std::string& key) { return path.empty() ? key : path + "/" + key; };
    for (const auto& [key, value] : a.Entries()) {
      if (Ignored(recordName, key, gy)) continue;
      if (!b.Has(key)) Differ(at(key), "只在 " + dir1 + " 中");
      else Value(value, b.Value(key), key, at(key));
    }
    for (const auto& [key, value] : b.Entries())
      if (!a.Has(key) && !Ignored(recordName, key, gy)) Differ(at(key), "只在 " + dir2 + " 中");
  }

  void Value(const Variant& a, const Variant& b, const std::string& key, const std::string& path) {
    auto ra = a.As<DataRecord>(), rb = b.As<DataRecord>();
    if (ra && rb) return Record(*ra, *rb, key, path);
    auto la = a.As<RecordCollection>(), lb = b.As<RecordCollection>();
    if (la && lb) {
      const std::string item = path + "/Record";
      for (int32_t i = 1; i <= std::max(la->UBound(), lb->UBound()); ++i) {
        if (i > la->UBound() || i > lb->UBound())
          Differ(item, "只在 " + (i <= la->UBound() ? dir1 : dir2) + " 中");
        else
          Record(*la->Item(i), *lb->Item(i), "Record", item);
      }
      return;
    }
    if (std::string va = Shown(a), vb = Shown(b); va != vb) Differ(path, va + "与" + vb + "不同");
  }
};

std::string NumberOf(const DataRecord& record) {
  const Variant number = record.Value("Number");
  return number.IsText() ? number.RawText() : "";
}

// The file's records read as an import reads them; null with the reader's
// words (which name the file) in `refusal` when it refuses.
RecordCollectionPtr ReadRecords(const std::string& path, const BaseType& type, std::string& refusal) {
  RecordCollectionPtr records;
  CreateObjectAs<DataFileReader>(kReaderProgId)->InputXML(records, path, SchemaFilePath(type.schemaFile), type.element,
                                                          refusal);
  return refusal.empty() ? records : nullptr;
}

}  // namespace

FolderDifference CompareFolders(const std::string& dir1, const std::string& dir2, bool gy) {
  namespace fs = std::filesystem;
  FolderDifference d;
  // Anything under the name counts as there, so that the reader says why a
  // FIFO or a folder is no data file rather than the name being passed over.
  auto there = [](const fs::path& p) {
    std::error_code ec;
    return fs::symlink_status(p, ec).type() != fs::file_type::not_found && !ec;
  };
  for (const BaseType* type : BaseTypesInImportOrder()) {
    const std::string file = type->element + ".xml";
    const fs::path p1 = fs::path(dir1) / file, p2 = fs::path(dir2) / file;
    const bool in1 = there(p1), in2 = there(p2);
    if (!in1 && !in2) continue;
    ++d.files;
    // One file at a time: the records of the two, never more.
    std::string refusal1, refusal2;
    RecordCollectionPtr a = in1 ? ReadRecords(p1.string(), *type, refusal1) : nullptr;
    RecordCollectionPtr b = in2 ? ReadRecords(p2.string(), *type, refusal2) : nullptr;
    if (!refusal1.empty()) d.unreadable.push_back(refusal1);
    if (!refusal2.empty()) d.unreadable.push_back(refusal2);
    if (!refusal1.empty() || !refusal2.empty()) continue;
    if (in1 != in2) {
      d.lines.push_back(file + "：只在 " + (in1 ? dir1 : dir2) + " 中");
      continue;
    }
    for (int32_t i = 1; i <= std::max(a->UBound(), b->UBound()); ++i) {
      const DataRecordPtr one = i <= a->UBound() ? a->Item(i) : b->Item(i);
      const std::string number = NumberOf(*one);
      std::string where = file + "，第 " + std::to_string(i) + " 条记录" + (number.empty() ? "" : "（" + number + "）");
      if (i > a->UBound() || i > b->UBound()) {
        d.lines.push_back(where + "：只在 " + (i <= a->UBound() ? dir1 : dir2) + " 中");
        continue;
      }
      Walk{dir1, dir2, gy, d.lines, where}.Record(*a->Item(i), *b->Item(i), type->element, "");
    }
  }
  return d;
}

int RunCompare(const std::string& dir1, const std::string& dir2, const std::string& acctType) {
  namespace fs = std::filesystem;
  for (const auto& dir : {dir1, dir2}) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
      std::cerr << "不是文件夹：" << dir << std::endl;
      return kExitNoOpen;
    }
  }
  FolderDifference d = CompareFolders(dir1, dir2, ToUpperAscii(TrimBlanks(acctType)) == "GY");
  for (const auto& line : d.lines) std::cout << ForTerminal(line) << "\n";  // values of the files, harmless
  std::cout.flush();
  for (const auto& refusal : d.unreadable) std::cerr << ForTerminal(refusal) << std::endl;
  std::cerr << "比较了 " << d.files << " 个文件，" << d.lines.size() << " 处不同" << std::endl;
  if (!std::cout) return 3;
  if (!d.unreadable.empty()) return 3;
  return d.lines.empty() ? 0 : 1;
}

}  // namespace morvent::cli
