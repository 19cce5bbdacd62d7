// The least work for the kinds whose records nest other records: accounts
// (a currency, an account type, a unit and a list of item classes each) and
// materials (units, stocks, suppliers, employees, accounts and assist values,
// each nested whole, about 8.8 KB a record).
//
// A nested record is a reference: the import reads only its Number and
// resolves it once per distinct (key, number) through a map against a table
// of references that `least_work prepare` fills beforehand from the file
// (the reference data the tool's target ledger already holds). The export
// writes each distinct reference's subtree, read once, as the stored events
// of it, so the file comes out in the tool's layout without rebuilding the
// referred object for every record.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "least_work_common.h"

namespace least_work {

enum class Form { Number, Name, Leaf, Ref, RefList, ParentText, ParentRecord };
struct Key {
  const char* name;
  Form form;
};
struct NestedKind {
  const char* record;
  const char* list;
  std::vector<Key> keys;  // in the order the tool writes them
};

inline const NestedKind kAccounts{
    "Account",
    "AccountList",
    {{"Number", Form::Number},      {"Name", Form::Name},         {"HelperCode", Form::Leaf},
     {"IsDebit", Form::Leaf},       {"Level", Form::Leaf},        {"Detail", Form::Leaf},
     {"AdjustRate", Form::Leaf},    {"Contact", Form::Leaf},      {"Quantities", Form::Leaf},
     {"IsCash", Form::Leaf},        {"IsBank", Form::Leaf},       {"Journal", Form::Leaf},
     {"IsCashFlow", Form::Leaf},    {"Acctint", Form::Leaf},      {"IntRate", Form::Leaf},
     {"Currency", Form::Ref},       {"GroupName", Form::Ref},     {"MeasureUnit", Form::Ref},
     {"ItemClass", Form::RefList},  {"ParentAcct", Form::ParentText}}};

// The keys of a GY ledger's material as the tool writes them, those the
// generated file carries.
inline const NestedKind kMaterials{
    "Material",
    "MaterialList",
    {{"Number", Form::Number},       {"Name", Form::Name},         {"Model", Form::Leaf},
     {"Track", Form::Ref},           {"LowLimit", Form::Leaf},     {"HighLimit", Form::Leaf},
     {"IsBatch", Form::Leaf},        {"SecInv", Form::Leaf},       {"LeadTime", Form::Leaf},
     {"PlanPrice", Form::Leaf},      {"SalePrice", Form::Leaf},    {"PriceDecimal", Form::Leaf},
     {"QtyDecimal", Form::Leaf},     {"ErpCls", Form::Ref},        {"Unit", Form::Ref},
     {"DefaultLoc", Form::Ref},      {"Source", Form::Ref},        {"GoodSpec", Form::Ref},
     {"OrderRector", Form::Ref},     {"AcctID", Form::Ref},        {"SaleAcctID", Form::Ref},
     {"CostAcctID", Form::Ref},      {"APAcctID", Form::Ref},      {"MaterialType", Form::ParentRecord}}};

inline const NestedKind* NestedKindNamed(const std::string& name) {
  if (name == "accounts") return &kAccounts;
  if (name == "materials") return &kMaterials;
  return nullptr;
}

// A subtree kept as the reader met it: 'S' start, 'N' start of a nil
// element, 'T' text, 'E' end; each event's text ends in \x01, which XML text
// cannot hold.
class Events {
 public:
  void Start(const char* name, bool nil) { Put(nil ? 'N' : 'S', name); }
  void Text(const char* text) { Put('T', text); }
  void End() { Put('E', ""); }
  const std::string& str() const { return s_; }

  static void Replay(xmlTextWriter* w, const std::string& s) {
    for (size_t at = 0; at < s.size();) {
      char tag = s[at];
      size_t end = s.find('\x01', at + 1);
      std::string text = s.substr(at + 1, end - at - 1);
      at = end + 1;
      if (tag == 'S' || tag == 'N') {
        Check(xmlTextWriterStartElement(w, X(text.c_str())), "reference");
        if (tag == 'N') Check(xmlTextWriterWriteAttribute(w, X("xsi:nil"), X("true")), "reference");
      } else if (tag == 'T') {
        Check(xmlTextWriterWriteString(w, X(text.c_str())), "reference");
      } else {
        Check(xmlTextWriterEndElement(w), "reference");
      }
    }
  }

 private:
  void Put(char tag, const char* text) {
    s_ += tag;
    s_ += text;
    s_ += '\x01';
  }
  std::string s_;
};

inline bool IsText(int type) {
  return type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA || type == XML_READER_TYPE_WHITESPACE ||
         type == XML_READER_TYPE_SIGNIFICANT_WHITESPACE;
}

inline void MakeTables(Db& db, const NestedKind& kind) {
  std::string item =
      "CREATE TABLE item(id INTEGER PRIMARY KEY, number TEXT NOT NULL UNIQUE, name TEXT NOT NULL, "
      "parent_id INTEGER REFERENCES item(id)";
  for (size_t i = 0; i < kind.keys.size(); ++i) {
    Form f = kind.keys[i].form;
    if (f == Form::Leaf) item += ", c" + std::to_string(i) + " TEXT";
    if (f == Form::Ref) item += ", c" + std::to_string(i) + " INTEGER REFERENCES ref(id)";
    if (f == Form::RefList) item += ", c" + std::to_string(i) + " INTEGER";  // how many, NULL when absent
  }
  db.Exec(
      "CREATE TABLE ref(id INTEGER PRIMARY KEY, key TEXT NOT NULL, number TEXT NOT NULL, body TEXT NOT NULL, "
      "UNIQUE(key, number))");
  db.Exec((item + ")").c_str());
  db.Exec(
      "CREATE TABLE item_ref(item_id INTEGER NOT NULL REFERENCES item(id), pos INTEGER NOT NULL, "
      "ref_id INTEGER NOT NULL REFERENCES ref(id), PRIMARY KEY(item_id, pos)) WITHOUT ROWID");
}

// ---- prepare: the reference data, not measured --------------------------------------

// Creates DB with the kind's tables and stores every distinct reference the
// file holds, as the tool's target ledger holds them before the import.
inline int PrepareNested(const std::string& file, const std::string& dbPath, const NestedKind& kind) {
  Db db(dbPath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE);
  MakeTables(db, kind);
  Stmt add(db, "INSERT OR IGNORE INTO ref(key, number, body) VALUES (?1, ?2, ?3)");
  xmlTextReader* r = xmlReaderForFile(file.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_BIG_LINES);
  if (!r) throw Failure("cannot read " + file);
  db.Exec("BEGIN");
  // The subtree under way: its key, its own Number and its events.
  std::string key, number, listKey;
  Events events;
  int top = 0;  // depth of the subtree's root, 0 when none
  bool inNumber = false, leafOpen = false;
  std::string text;
  long refs = 0;
  auto finish = [&] {
    add.Bind(1, key).Bind(2, Trimmed(number)).Bind(3, events.str());
    add.Row();
    add.Reset();
    refs += sqlite3_changes(db.get());
    top = 0;
  };
  int rc;
  while ((rc = xmlTextReaderRead(r)) == 1) {
    int type = xmlTextReaderNodeType(r), depth = xmlTextReaderDepth(r);
    if (type == XML_READER_TYPE_ELEMENT) {
      const char* name = reinterpret_cast<const char*>(xmlTextReaderConstLocalName(r));
      bool empty = xmlTextReaderIsEmptyElement(r);
      if (!top && depth == 2) {
        listKey.clear();
        for (const auto& k : kind.keys)
          if (std::strcmp(k.name, name) == 0 && (k.form == Form::Ref || k.form == Form::RefList)) {
            if (k.form == Form::Ref) top = depth, key = name;
            else listKey = name;
          }
      } else if (!top && depth == 3 && !listKey.empty()) {
        top = depth, key = listKey;  // an item of a list: its key is the list's
      }
      if (top == depth) number.clear(), events = Events();
      if (top) {
        events.Start(name, IsNil(r));
        inNumber = depth == top + 1 && std::strcmp(name, "Number") == 0 && !empty;
        text.clear();
        leafOpen = !empty;
        if (empty) {
          events.End();
          if (depth == top) finish();
        }
      }
    } else if (type == XML_READER_TYPE_END_ELEMENT) {
      inNumber = false;
      if (top) {
        // Text counts only in an element without children: the rest is the
        // file's indentation.
        if (leafOpen && !text.empty()) events.Text(text.c_str());
        leafOpen = false;
        events.End();
        if (depth == top) finish();
      }
    } else if (top && leafOpen && IsText(type)) {
      const char* v = reinterpret_cast<const char*>(xmlTextReaderConstValue(r));
      if (v) text += v;
      if (inNumber && v) number += v;
    }
  }
  xmlFreeTextReader(r);
  if (rc < 0) throw Failure(file + ": the file is not well-formed");
  db.Exec("COMMIT");
  std::fprintf(stderr, "prepared %ld references\n", refs);
  return 0;
}

// ---- import --------------------------------------------------------------------------

struct NestedRecord {
  std::string number, name, parentNumber, parentName;
  std::vector<std::string> leaves;           // by key
  std::vector<char> present;                 // by key
  std::vector<sqlite3_int64> refs;           // by key, 0 when absent
  std::vector<std::vector<sqlite3_int64>> lists;  // by key
  bool hasParent = false;
  void Reset(size_t keys) {
    number.clear(), name.clear(), parentNumber.clear(), parentName.clear();
    leaves.assign(keys, std::string());
    present.assign(keys, 0);
    refs.assign(keys, 0);
    lists.assign(keys, {});
    hasParent = false;
  }
};

class NestedImporter : public TreeImporter<NestedImporter> {
 public:
  NestedImporter(Db& db, const NestedKind& kind) : TreeImporter(db), db_(db), kind_(kind),
        findRef_(db, "SELECT id FROM ref WHERE key = ?1 AND number = ?2"),
        link_(db, "INSERT INTO item_ref(item_id, pos, ref_id) VALUES (?1, ?2, ?3)"),
        insert_(db, InsertSql(kind).c_str()) {}

  // Each distinct reference is looked up once; one the ledger lacks stops
  // the import (the reference data is there before it).
  sqlite3_int64 Resolve(const std::string& key, const std::string& rawNumber) {
    std::string number = Trimmed(rawNumber);
    auto [it, fresh] = refs_.try_emplace(std::make_pair(key, number), 0);
    if (fresh) {
      findRef_.Bind(1, key).Bind(2, number);
      it->second = findRef_.Row() ? findRef_.Int(0) : 0;
      findRef_.Reset();
    }
    if (!it->second) throw Failure(key + " " + number + " is not in the ledger");
    return it->second;
  }

  void Store(const NestedRecord& d) { StoreInTree(d, &d); }


 private:
  friend class TreeImporter<NestedImporter>;
  static std::string InsertSql(const NestedKind& kind) {
    std::string cols = "number, name, parent_id", vals = "?1, ?2, ?3";
    int at = 4;
    for (size_t i = 0; i < kind.keys.size(); ++i) {
      Form f = kind.keys[i].form;
      if (f != Form::Leaf && f != Form::Ref && f != Form::RefList) continue;
      cols += ", c" + std::to_string(i);
      vals += ", ?" + std::to_string(at++);
    }
    return "INSERT INTO item(" + cols + ") VALUES (" + vals + ")";
  }
  // A bare parent has every key absent.
  sqlite3_int64 Insert(const std::string& number, const std::string& name, const NestedRecord* d, sqlite3_int64 parent) {
    insert_.Bind(1, number).Bind(2, name).Bind(3, parent);
    int at = 4;
    for (size_t i = 0; i < kind_.keys.size(); ++i) {
      Form f = kind_.keys[i].form;
      if (f == Form::Leaf) {
        if (d && d->present[i]) insert_.Bind(at, d->leaves[i]);
        ++at;
      } else if (f == Form::Ref) {
        insert_.Bind(at++, d ? d->refs[i] : 0);
      } else if (f == Form::RefList) {
        if (d && d->present[i]) insert_.BindCount(at, static_cast<sqlite3_int64>(d->lists[i].size()));
        ++at;
      }
    }
    insert_.Row();
    insert_.Reset();
    sqlite3_int64 id = sqlite3_last_insert_rowid(db_.get());
    if (d)
      for (size_t i = 0; i < kind_.keys.size(); ++i)
        for (size_t p = 0; p < d->lists[i].size(); ++p) {
          link_.Bind(1, id).BindCount(2, static_cast<sqlite3_int64>(p)).Bind(3, d->lists[i][p]);
          link_.Row();
          link_.Reset();
        }
    return id;
  }

  Db& db_;
  const NestedKind& kind_;
  Stmt findRef_, link_, insert_;
  std::map<std::pair<std::string, std::string>, sqlite3_int64> refs_;
};

// Imports into DB, which `prepare` made; one transaction, rolled back on
// the first problem.
inline int ImportNested(const std::string& file, const std::string& schemaPath, const std::string& dbPath,
                        const NestedKind& kind) {
  if (::access(dbPath.c_str(), F_OK) != 0) throw Failure(dbPath + " does not exist: make it with prepare");
  xmlSchemaParserCtxt* pc = xmlSchemaNewParserCtxt(schemaPath.c_str());
  xmlSchema* schema = pc ? xmlSchemaParse(pc) : nullptr;
  xmlSchemaFreeParserCtxt(pc);
  if (!schema) throw Failure("cannot load schema " + schemaPath);
  xmlSchemaValidCtxt* valid = xmlSchemaNewValidCtxt(schema);
  xmlTextReader* r = xmlReaderForFile(file.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_BIG_LINES);
  if (!valid || !r) throw Failure("cannot read " + file);
  Problems problems;
  xmlSchemaSetValidStructuredErrors(valid, &Problems::Take, &problems);
  xmlTextReaderSetStructuredErrorHandler(r, &Problems::Take, &problems);
  if (xmlTextReaderSchemaValidateCtxt(r, valid, 0) != 0) throw Failure("cannot validate with " + schemaPath);

  Db db(dbPath, SQLITE_OPEN_READWRITE);
  NestedImporter importer(db, kind);
  db.Exec("BEGIN");
  const size_t keys = kind.keys.size();
  NestedRecord d;
  d.Reset(keys);
  std::string* into = nullptr;  // the text being read
  std::string refNumber;
  int key = -1;  // the depth-2 key under way
  bool inRecord = false;
  int rc;
  try {
    while ((rc = xmlTextReaderRead(r)) == 1 && problems.first.empty()) {
      int type = xmlTextReaderNodeType(r), depth = xmlTextReaderDepth(r);
      if (type == XML_READER_TYPE_DOCUMENT_TYPE) {
        problems.first = "a DOCTYPE is not accepted";
        break;
      }
      if (type == XML_READER_TYPE_ELEMENT) {
        const xmlChar* name = xmlTextReaderConstLocalName(r);
        bool empty = xmlTextReaderIsEmptyElement(r);
        into = nullptr;
        if (depth == 1) {
          d.Reset(keys);
          inRecord = !empty;
          if (empty) importer.Store(d);
        } else if (depth == 2) {
          key = -1;
          for (size_t i = 0; i < keys; ++i)
            if (Is(name, kind.keys[i].name)) key = static_cast<int>(i);
          if (key < 0) throw Failure(std::string("the key ") + reinterpret_cast<const char*>(name) + " is not handled");
          Form f = kind.keys[static_cast<size_t>(key)].form;
          if (IsNil(r)) {
            if (f != Form::ParentText && f != Form::ParentRecord)
              throw Failure(std::string("a nil ") + kind.keys[static_cast<size_t>(key)].name + " is not handled");
            key = -1;
            continue;
          }
          d.present[static_cast<size_t>(key)] = 1;
          refNumber.clear();
          switch (f) {
            case Form::Number: into = &d.number; break;
            case Form::Name: into = &d.name; break;
            case Form::Leaf: into = &d.leaves[static_cast<size_t>(key)]; break;
            case Form::ParentText: d.hasParent = true, into = &d.parentNumber; break;
            case Form::ParentRecord: d.hasParent = true; break;
            case Form::Ref:
              if (empty) throw Failure(std::string("an empty ") + kind.keys[static_cast<size_t>(key)].name + " is not handled");
              break;
            case Form::RefList: break;
          }
          if (empty) key = -1, into = nullptr;
        } else if (key >= 0) {
          Form f = kind.keys[static_cast<size_t>(key)].form;
          if (depth == 3 && Is(name, "Number") && (f == Form::Ref || f == Form::ParentRecord)) {
            into = f == Form::Ref ? &refNumber : &d.parentNumber;
          } else if (depth == 3 && Is(name, "Name") && f == Form::ParentRecord) {
            into = &d.parentName;
          } else if (depth == 3 && f == Form::RefList) {
            refNumber.clear();
            if (empty) throw Failure("an empty item of a list is not handled");
          } else if (depth == 4 && Is(name, "Number") && f == Form::RefList) {
            into = &refNumber;
          }
        }
      } else if (type == XML_READER_TYPE_END_ELEMENT) {
        into = nullptr;
        if (depth == 1 && inRecord) {
          importer.Store(d);
          inRecord = false;
        } else if (depth == 2 && key >= 0) {
          if (kind.keys[static_cast<size_t>(key)].form == Form::Ref)
            d.refs[static_cast<size_t>(key)] = importer.Resolve(kind.keys[static_cast<size_t>(key)].name, refNumber);
          key = -1;
        } else if (depth == 3 && key >= 0 && kind.keys[static_cast<size_t>(key)].form == Form::RefList) {
          d.lists[static_cast<size_t>(key)].push_back(importer.Resolve(kind.keys[static_cast<size_t>(key)].name, refNumber));
        }
      } else if (into && IsText(type)) {
        if (const xmlChar* v = xmlTextReaderConstValue(r)) into->append(reinterpret_cast<const char*>(v));
      }
    }
  } catch (const Failure& e) {
    problems.first = e.what();
    rc = 0;
  }
  if (rc < 0 && problems.first.empty()) problems.first = "the file is not well-formed";
  if (problems.first.empty() && xmlTextReaderIsValid(r) != 1) problems.first = "the file does not match the schema";
  xmlFreeTextReader(r);
  xmlSchemaFreeValidCtxt(valid);
  xmlSchemaFree(schema);
  if (!problems.first.empty()) {
    db.Exec("ROLLBACK");
    throw Failure(file + ": " + problems.first);
  }
  db.Exec("COMMIT");
  std::fprintf(stderr, "imported %ld, kept %ld, refused %ld\n", importer.stored, importer.kept, importer.refused);
  return importer.refused ? 1 : 0;
}

// ---- export --------------------------------------------------------------------------

inline int ExportNested(const std::string& dbPath, const std::string& file, const NestedKind& kind) {
  Db db(dbPath, SQLITE_OPEN_READONLY);
  // A column only for the forms that have one.
  std::string sql = "SELECT d.id, d.number, d.name, p.name, p.number";
  std::vector<int> column(kind.keys.size(), -1);
  int at = 5;
  for (size_t i = 0; i < kind.keys.size(); ++i) {
    Form f = kind.keys[i].form;
    if (f == Form::Leaf || f == Form::Ref || f == Form::RefList) {
      sql += ", d.c" + std::to_string(i);
      column[i] = at++;
    }
  }
  sql += " FROM item d LEFT JOIN item p ON p.id = d.parent_id ORDER BY d.number";
  Stmt all(db, sql.c_str());
  Stmt list(db, "SELECT ref_id FROM item_ref WHERE item_id = ?1 ORDER BY pos");
  Stmt body(db, "SELECT body FROM ref WHERE id = ?1");

  TempTarget target(file);
  xmlOutputBuffer* out = xmlOutputBufferCreateIO(&TempTarget::Write, &TempTarget::Close, &target, nullptr);
  xmlTextWriter* w = out ? xmlNewTextWriter(out) : nullptr;
  if (!w) throw Failure("out of memory");
  long rows = 0;
  std::map<sqlite3_int64, std::string> bodies;  // each distinct reference read once
  auto writeRef = [&](sqlite3_int64 id) {
    auto [it, fresh] = bodies.try_emplace(id);
    if (fresh) {
      body.BindCount(1, id);
      if (!body.Row()) throw Failure("reference " + std::to_string(id) + " is missing");
      it->second = body.Text(0);
      body.Reset();
    }
    Events::Replay(w, it->second);
  };
  try {
    Check(xmlTextWriterSetIndent(w, 1), "indent");
    Check(xmlTextWriterSetIndentString(w, X("  ")), "indent");
    Check(xmlTextWriterStartDocument(w, "1.0", "UTF-8", nullptr), "prolog");
    Check(xmlTextWriterStartElement(w, X(kind.list)), "root");
    Check(xmlTextWriterWriteAttribute(w, X("xmlns:xsi"), X("http://www.w3.org/2001/XMLSchema-instance")), "root");
    while (all.Row()) {
      Check(xmlTextWriterStartElement(w, X(kind.record)), "record");
      for (size_t i = 0; i < kind.keys.size(); ++i) {
        const Key& k = kind.keys[i];
        int c = column[i];
        switch (k.form) {
          case Form::Number: Leaf(w, k.name, all.Text(1)); break;
          case Form::Name: Leaf(w, k.name, all.Text(2)); break;
          case Form::Leaf:
            if (all.Has(c)) Leaf(w, k.name, all.Text(c));
            break;
          case Form::Ref:
            if (all.Has(c)) writeRef(all.Int(c));
            break;
          case Form::RefList:
            if (!all.Has(c)) break;
            Check(xmlTextWriterStartElement(w, X(k.name)), "list");
            list.BindCount(1, all.Int(0));
            while (list.Row()) writeRef(list.Int(0));
            list.Reset();
            Check(xmlTextWriterEndElement(w), "list");
            break;
          case Form::ParentText:
            if (all.Has(4)) Leaf(w, k.name, all.Text(4));
            break;
          case Form::ParentRecord:
            if (!all.Has(4)) break;
            Check(xmlTextWriterStartElement(w, X(k.name)), "parent");
            Leaf(w, "Name", all.Text(3));
            Leaf(w, "Number", all.Text(4));
            Check(xmlTextWriterEndElement(w), "parent");
            break;
        }
      }
      Check(xmlTextWriterEndElement(w), "record");
      ++rows;
    }
    Check(xmlTextWriterEndDocument(w), "end");
    Check(xmlTextWriterFlush(w), "flush");
  } catch (...) {
    xmlFreeTextWriter(w);
    throw;
  }
  xmlFreeTextWriter(w);
  target.Commit();
  std::fprintf(stderr, "exported %ld\n", rows);
  return 0;
}

// ---- the account chart -----------------------------------------------------------------

// N accounts of a chart five levels deep, ten children per parent (numbers
// such as 03.07.01.10.02), depth first so that parents come first; each with
// its type, a currency and one item class, in the tool's layout.
inline int GenerateAccounts(long n, const std::string& file) {
  xmlTextWriter* w = xmlNewTextWriterFilename(file.c_str(), 0);
  if (!w) throw Failure("cannot create " + file);
  Check(xmlTextWriterSetIndent(w, 1), "indent");
  Check(xmlTextWriterSetIndentString(w, X("  ")), "indent");
  Check(xmlTextWriterStartDocument(w, "1.0", "UTF-8", nullptr), "prolog");
  Check(xmlTextWriterStartElement(w, X(kAccounts.list)), "root");
  Check(xmlTextWriterWriteAttribute(w, X("xmlns:xsi"), X("http://www.w3.org/2001/XMLSchema-instance")), "root");
  auto pair = [&](const char* key, std::vector<std::pair<const char*, const char*>> leaves) {
    Check(xmlTextWriterStartElement(w, X(key)), key);
    for (const auto& [k, v] : leaves) Leaf(w, k, v);
    Check(xmlTextWriterEndElement(w), key);
  };
  long made = 0;
  constexpr int kDepth = 5, kFan = 10;
  auto account = [&](const std::string& number, const std::string& parent, int level) {
    Check(xmlTextWriterStartElement(w, X(kAccounts.record)), "record");
    Leaf(w, "Number", number.c_str());
    Leaf(w, "Name", ("科目" + number).c_str());
    Leaf(w, "HelperCode", "");
    Leaf(w, "IsDebit", "1");
    Leaf(w, "Level", std::to_string(level).c_str());
    // An account without children is a detail one, the last when the count
    // cuts its branch short too.
    Leaf(w, "Detail", level == kDepth || made + 1 >= n ? "1" : "0");
    for (const char* flag : {"AdjustRate", "Contact", "Quantities", "IsCash", "IsBank", "Journal", "IsCashFlow",
                             "Acctint", "IntRate"})
      Leaf(w, flag, "0");
    pair("Currency", {{"Name", "人民币"}, {"Number", "RMB"}, {"ExchangeRate", "1"}, {"Operator", "*"}, {"Scale", "2"}});
    pair("GroupName", {{"Name", "资产"}, {"Number", "1"}});
    Check(xmlTextWriterStartElement(w, X("ItemClass")), "list");
    pair("Record", {{"Name", "部门"}, {"Number", "002"}});
    Check(xmlTextWriterEndElement(w), "list");
    if (!parent.empty()) Leaf(w, "ParentAcct", parent.c_str());
    Check(xmlTextWriterEndElement(w), "record");
    ++made;
  };
  auto walk = [&](auto& self, const std::string& parent, int level) -> void {
    for (int k = 1; k <= kFan && made < n; ++k) {
      std::string number = (parent.empty() ? "" : parent + ".") + Digits(k, 2);
      account(number, parent, level);
      if (level < kDepth) self(self, number, level + 1);
    }
  };
  for (int top = 1; made < n; ++top) {
    std::string number = Digits(top, 2);
    account(number, "", 1);
    walk(walk, number, 2);
  }
  Check(xmlTextWriterEndDocument(w), "end");
  xmlFreeTextWriter(w);
  std::fprintf(stderr, "generated %ld accounts\n", made);
  return 0;
}

}  // namespace least_work
