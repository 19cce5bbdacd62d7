#include "cli/compare.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <memory>

#include "front/code_table.h"
#include "platform/text.h"
#include "store/ledger_admin.h"

namespace morvent::cli {

namespace {

enum class Kinds { Any, NonGY };

// Keys an import never reads, by the record that carries them: the record's
// element name at the top, or the key under which it is nested elsewhere.
struct ExportOnlyKey {
  const char* record;
  const char* key;
  Kinds kinds;
};

constexpr ExportOnlyKey kExportOnly[] = {
    {"Account", "Level", Kinds::Any},
    {"Account", "Detail", Kinds::Any},
    {"Settle", "CompanyCode", Kinds::Any},
    {"SettleMode", "CompanyCode", Kinds::Any},
    {"MeasureUnitGroup", "Number", Kinds::Any},
    {"MeasureUnit", "AuxClass", Kinds::Any},
    {"Unit", "AuxClass", Kinds::Any},
    {"Department", "Manager", Kinds::Any},
    {"AssistType", "Number", Kinds::Any},
    {"Material", "IsBatch", Kinds::NonGY},
    {"Material", "SecInv", Kinds::NonGY},
    // Exported as a "商品属性" value but looked up under "物料属性" on import.
    {"Material", "ErpCls", Kinds::NonGY},
};

bool Ignored(const std::string& record, const std::string& key, bool gy) {
  for (const auto& k : kExportOnly)
    if (record == k.record && key == k.key && (k.kinds == Kinds::Any || !gy)) return true;
  return false;
}

using Doc = std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)>;

std::string Name(const xmlNode* n) { return reinterpret_cast<const char*>(n->name); }

std::vector<const xmlNode*> Elements(const xmlNode* parent) {
  std::vector<const xmlNode*> v;
  for (const xmlNode* c = parent->children; c; c = c->next)
    if (c->type == XML_ELEMENT_NODE) v.push_back(c);
  return v;
}

// A leaf as people read it: its text, or a mark for a null.
std::string Leaf(const xmlNode* n) {
  xmlChar* nil = xmlGetNsProp(n, BAD_CAST "nil", BAD_CAST "http://www.w3.org/2001/XMLSchema-instance");
  bool isNil = nil && (xmlStrEqual(nil, BAD_CAST "true") || xmlStrEqual(nil, BAD_CAST "1"));
  xmlFree(nil);
  if (isNil) return "（空值）";
  xmlChar* text = xmlNodeGetContent(n);
  std::string s = text ? reinterpret_cast<const char*>(text) : "";
  xmlFree(text);
  return "「" + s + "」";
}

struct Walk {
  const std::string& dir1;
  const std::string& dir2;
  bool gy;
  std::vector<std::string>& out;
  std::string where;  // "Customer.xml，第 3 条记录（01.01）"

  void Differ(const std::string& path, const std::string& what) { out.push_back(where + "，键 " + path + "：" + what); }

  // Keys are matched by name and by how often the name came before.
  void Record(const xmlNode* a, const xmlNode* b, const std::string& recordName, const std::string& path) {
    auto ka = Elements(a), kb = Elements(b);
    std::map<std::string, std::vector<const xmlNode*>> byName;
    for (const xmlNode* n : kb) byName[Name(n)].push_back(n);
    std::map<std::string, size_t> seen;
    for (const xmlNode* n : ka) {
      std::string key = Name(n);
      size_t i = seen[key]++;
      if (Ignored(recordName, key, gy)) continue;
      std::string p = path.empty() ? key : path + "/" + key;
      auto& others = byName[key];
      if (i >= others.size()) {
        Differ(p, "只在 " + dir1 + " 中");
        continue;
      }
      Value(n, others[i], key, p);
    }
    for (auto& [key, nodes] : byName) {
      size_t had = seen.count(key) ? seen[key] : 0;
      if (nodes.size() > had && !Ignored(recordName, key, gy))
        Differ(path.empty() ? key : path + "/" + key, "只在 " + dir2 + " 中");
    }
  }

  void Value(const xmlNode* a, const xmlNode* b, const std::string& key, const std::string& path) {
    bool nestedA = !Elements(a).empty(), nestedB = !Elements(b).empty();
    if (nestedA && nestedB) return Record(a, b, key, path);
    std::string va = nestedA ? "（子记录）" : Leaf(a), vb = nestedB ? "（子记录）" : Leaf(b);
    if (va != vb) Differ(path, va + "与" + vb + "不同");
  }
};

std::string NumberOf(const xmlNode* record) {
  for (const xmlNode* k : Elements(record))
    if (Name(k) == "Number" && Elements(k).empty()) {
      xmlChar* t = xmlNodeGetContent(k);
      std::string s = t ? reinterpret_cast<const char*>(t) : "";
      xmlFree(t);
      return s;
    }
  return "";
}

}  // namespace

FolderDifference CompareFolders(const std::string& dir1, const std::string& dir2, bool gy) {
  namespace fs = std::filesystem;
  FolderDifference d;
  for (const BaseType* type : BaseTypesInImportOrder()) {
    const std::string file = type->element + ".xml";
    const fs::path p1 = fs::path(dir1) / file, p2 = fs::path(dir2) / file;
    std::error_code ec1, ec2;
    bool in1 = fs::is_regular_file(p1, ec1), in2 = fs::is_regular_file(p2, ec2);
    if (!in1 && !in2) continue;
    ++d.files;
    if (in1 != in2) {
      d.lines.push_back(file + "：只在 " + (in1 ? dir1 : dir2) + " 中");
      continue;
    }
    Doc a(xmlReadFile(p1.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING), xmlFreeDoc);
    Doc b(xmlReadFile(p2.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING), xmlFreeDoc);
    if (!a || !xmlDocGetRootElement(a.get())) d.unreadable.push_back(p1.string());
    if (!b || !xmlDocGetRootElement(b.get())) d.unreadable.push_back(p2.string());
    if (!a || !b || !xmlDocGetRootElement(a.get()) || !xmlDocGetRootElement(b.get())) continue;
    const xmlNode* ra = xmlDocGetRootElement(a.get());
    const xmlNode* rb = xmlDocGetRootElement(b.get());
    if (Name(ra) != Name(rb)) {
      d.lines.push_back(file + "：根元素 " + Name(ra) + " 与 " + Name(rb) + " 不同");
      continue;
    }
    auto recA = Elements(ra), recB = Elements(rb);
    for (size_t i = 0; i < std::max(recA.size(), recB.size()); ++i) {
      const xmlNode* one = i < recA.size() ? recA[i] : recB[i];
      std::string number = NumberOf(one);
      std::string where = file + "，第 " + std::to_string(i + 1) + " 条记录" + (number.empty() ? "" : "（" + number + "）");
      if (i >= recA.size() || i >= recB.size()) {
        d.lines.push_back(where + "：只在 " + (i < recA.size() ? dir1 : dir2) + " 中");
        continue;
      }
      Walk{dir1, dir2, gy, d.lines, where}.Record(recA[i], recB[i], Name(recA[i]), "");
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
      return 2;
    }
  }
  FolderDifference d = CompareFolders(dir1, dir2, ToUpperAscii(TrimBlanks(acctType)) == "GY");
  for (const auto& line : d.lines) std::cout << ForTerminal(line) << "\n";  // values of the files, harmless
  std::cout.flush();
  for (const auto& f : d.unreadable) std::cerr << "无法读取：" << ForTerminal(f) << std::endl;
  std::cerr << "比较了 " << d.files << " 个文件，" << d.lines.size() << " 处不同" << std::endl;
  if (!std::cout) return 3;
  if (!d.unreadable.empty()) return 3;
  return d.lines.empty() ? 0 : 1;
}

}  // namespace morvent::cli
