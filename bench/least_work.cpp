// The yardstick for whole exchanges of departments, customers, accounts and
// materials: the least work an import and an export of them need, written
// plainly with no framework, so that the tool's own times can be read as
// multiples of it.
//
//   least_work gen TOPS FILE [KIND]          writes TOPS × 20 × 99 + TOPS
//                                            records in three levels (001,
//                                            001.01, 001.01.001)
//   least_work import FILE SCHEMA DB [KIND]  creates DB (must not exist) and
//                                            imports
//   least_work export DB FILE [KIND]         writes every record of DB to FILE
//   least_work run CMD ARGS...               runs CMD; prints "wall_s cpu_s
//                                            peak_kb" on the last line of stderr
//
// KIND is "departments" (the default) or "customers"; a customer carries the
// keys the tool writes for a ledger without "GY" (its credit terms and
// contact texts, fifteen leaves besides number and name). Accounts and
// materials, whose records nest others, work as least_work_nested.h says:
//
//   least_work gen COUNT FILE accounts       writes a chart five levels deep
//   least_work prepare FILE DB KIND          creates DB holding the references
//                                            FILE makes (not measured)
//   least_work import FILE SCHEMA DB KIND    imports into the prepared DB
//   least_work export DB FILE KIND
//
// The import streams the file through libxml2's text reader (no network, no
// DTD, no entity substitution, DOCTYPE refused) validating against the
// schema as it goes; per record it makes one lookup of its own number, one
// of its parent's number and one insert, all prepared, in one transaction
// (and, for the nested kinds, one lookup per distinct reference).
// The export is one SELECT ordered by number with a join for the parent,
// streamed through libxml2's text writer in the same layout as the tool's
// writer (so the two exports of one ledger's content compare byte for
// byte), into a temporary file that is synced and renamed over the target.
// Both use the journal settings of the tool's ledger (WAL, synchronous
// NORMAL). The table is the plainest that holds a department, not the
// tool's ledger schema.
#include <fcntl.h>
#include <libxml/xmlreader.h>
#include <libxml/xmlschemas.h>
#include <libxml/xmlwriter.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "least_work_common.h"
#include "least_work_nested.h"

namespace {

using namespace least_work;

// ---- import --------------------------------------------------------------------

// What differs between the kinds: the element names and the leaves after
// Number and Name, in the order the tool writes them. A numeric leaf reads
// back as a number, so an absent one is 0.
struct Kind {
  const char* record;
  const char* list;
  const char* parent;
  std::vector<std::pair<const char*, bool>> leaves;  // name, numeric
};

const Kind kDepartments{"Department", "DepartmentList", "DeptGroup", {{"Note", false}}};
const Kind kCustomers{"Customer", "CustomerList", "CustomerType",
                      {{"CreditDays", true}, {"CreditAmount", true}, {"CreditLevel", false}, {"Address", false},
                       {"Phone", false}, {"Fax", false}, {"PostalCode", false}, {"Email", false}, {"Bank", false},
                       {"Account", false}, {"TaxNum", false}, {"City", false}, {"Province", false},
                       {"Country", false}, {"HomePage", false}}};

const Kind& KindNamed(const std::string& name) {
  if (name == "departments") return kDepartments;
  if (name == "customers") return kCustomers;
  throw Failure("unknown kind " + name + " (departments, customers, accounts or materials)");
}

struct Record {
  std::string number, name, parentNumber, parentName;
  std::vector<std::string> leaves;
  bool hasParent = false;
  void Clear() {
    number.clear(), name.clear(), parentNumber.clear(), parentName.clear();
    for (auto& l : leaves) l.clear();
    hasParent = false;
  }
};

// "c0, c1, ..." or "?3, ?4, ..." for the kind's leaves.
std::string Columns(const Kind& kind, const char* prefix, int from) {
  std::string out;
  for (size_t i = 0; i < kind.leaves.size(); ++i)
    out += ", " + (prefix + std::to_string(from + static_cast<int>(i)));
  return out;
}

class Importer : public TreeImporter<Importer> {
 public:
  Importer(Db& db, const Kind& kind)
      : TreeImporter(db),
        db_(db),
        kind_(kind),
        insert_(db, ("INSERT INTO item(number, name, parent_id" + Columns(kind, "c", 0) + ") VALUES (?1, ?2, ?3" +
                     Columns(kind, "?", 4) + ")")
                        .c_str()) {}

  void Store(const Record& d) { StoreInTree(d, &d.leaves); }

 private:
  friend class TreeImporter<Importer>;
  // A bare parent (no leaves) has empty texts and zero numbers.
  sqlite3_int64 Insert(const std::string& number, const std::string& name, const std::vector<std::string>* leaves,
                       sqlite3_int64 parent) {
    insert_.Bind(1, number).Bind(2, name).Bind(3, parent);
    static const std::string kNone, kZero = "0";
    for (size_t i = 0; i < kind_.leaves.size(); ++i) {
      const std::string& v = leaves ? (*leaves)[i] : kNone;
      insert_.Bind(static_cast<int>(4 + i), v.empty() && kind_.leaves[i].second ? kZero : v);
    }
    insert_.Row();
    insert_.Reset();
    return sqlite3_last_insert_rowid(db_.get());
  }

  Db& db_;
  const Kind& kind_;
  Stmt insert_;
};

std::string* LeafOf(const Kind& kind, Record& d, const xmlChar* name) {
  for (size_t i = 0; i < kind.leaves.size(); ++i)
    if (Is(name, kind.leaves[i].first)) return &d.leaves[i];
  return nullptr;
}

int Import(const std::string& file, const std::string& schemaPath, const std::string& dbPath, const Kind& kind) {
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

  Db db(dbPath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE);
  std::string table =
      "CREATE TABLE item(id INTEGER PRIMARY KEY, number TEXT NOT NULL UNIQUE, name TEXT NOT NULL, "
      "parent_id INTEGER REFERENCES item(id)";
  for (size_t i = 0; i < kind.leaves.size(); ++i)
    table += ", c" + std::to_string(i) + (kind.leaves[i].second ? " NUMERIC NOT NULL" : " TEXT NOT NULL");
  db.Exec((table + ")").c_str());
  Importer importer(db, kind);
  db.Exec("BEGIN");

  Record d;
  d.leaves.resize(kind.leaves.size());
  std::string* into = nullptr;  // the leaf whose text is being read
  bool inRecord = false, inParent = false;
  int rc;
  while ((rc = xmlTextReaderRead(r)) == 1 && problems.first.empty()) {
    int type = xmlTextReaderNodeType(r), depth = xmlTextReaderDepth(r);
    if (type == XML_READER_TYPE_DOCUMENT_TYPE) {
      problems.first = "a DOCTYPE is not accepted";
      break;
    }
    if (type == XML_READER_TYPE_ELEMENT) {
      const xmlChar* name = xmlTextReaderConstLocalName(r);
      bool empty = xmlTextReaderIsEmptyElement(r);
      if (depth == 1) {
        d.Clear();
        inRecord = !empty;
        if (empty) importer.Store(d);
      } else if (depth == 2 && Is(name, kind.parent)) {
        d.hasParent = !IsNil(r);
        inParent = d.hasParent && !empty;
      } else if (!empty && !IsNil(r)) {
        if (depth == 2) into = Is(name, "Number") ? &d.number : Is(name, "Name") ? &d.name : LeafOf(kind, d, name);
        else if (depth == 3 && inParent) into = Is(name, "Number") ? &d.parentNumber : Is(name, "Name") ? &d.parentName : nullptr;
      }
    } else if (type == XML_READER_TYPE_END_ELEMENT) {
      into = nullptr;
      if (depth == 2) inParent = false;
      if (depth == 1 && inRecord) {
        importer.Store(d);
        inRecord = false;
      }
    } else if (into && (type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA ||
                        type == XML_READER_TYPE_WHITESPACE || type == XML_READER_TYPE_SIGNIFICANT_WHITESPACE)) {
      if (const xmlChar* v = xmlTextReaderConstValue(r)) into->append(reinterpret_cast<const char*>(v));
    }
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

// ---- export ----------------------------------------------------------------------

int Export(const std::string& dbPath, const std::string& file, const Kind& kind) {
  Db db(dbPath, SQLITE_OPEN_READONLY);
  const int leaves = static_cast<int>(kind.leaves.size());
  Stmt all(db, ("SELECT d.number, d.name, p.name, p.number" + Columns(kind, "d.c", 0) +
                " FROM item d LEFT JOIN item p ON p.id = d.parent_id ORDER BY d.number")
                   .c_str());
  TempTarget target(file);
  xmlOutputBuffer* out = xmlOutputBufferCreateIO(&TempTarget::Write, &TempTarget::Close, &target, nullptr);
  xmlTextWriter* w = out ? xmlNewTextWriter(out) : nullptr;
  if (!w) throw Failure("out of memory");
  long rows = 0;
  try {
    Check(xmlTextWriterSetIndent(w, 1), "indent");
    Check(xmlTextWriterSetIndentString(w, X("  ")), "indent");
    Check(xmlTextWriterStartDocument(w, "1.0", "UTF-8", nullptr), "prolog");
    Check(xmlTextWriterStartElement(w, X(kind.list)), "root");
    Check(xmlTextWriterWriteAttribute(w, X("xmlns:xsi"), X("http://www.w3.org/2001/XMLSchema-instance")), "root");
    while (all.Row()) {
      Check(xmlTextWriterStartElement(w, X(kind.record)), "record");
      Leaf(w, "Number", all.Text(0));
      Leaf(w, "Name", all.Text(1));
      for (int i = 0; i < leaves; ++i) Leaf(w, kind.leaves[static_cast<size_t>(i)].first, all.Text(4 + i));
      if (all.Has(3)) {
        Check(xmlTextWriterStartElement(w, X(kind.parent)), "parent");
        Leaf(w, "Name", all.Text(2));
        Leaf(w, "Number", all.Text(3));
        Check(xmlTextWriterEndElement(w), "parent");
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

// ---- the generator -------------------------------------------------------------------

// The leaves of a generated record: a department's note, or a customer's
// credit terms and contact texts (some left empty, as a real file has).
std::vector<std::string> GeneratedLeaves(const Kind& kind, int level, const std::string& number, int c) {
  if (&kind == &kDepartments)
    return {level == 0 ? "" : level == 1 ? "二级部门" : "小组备注" + Digits(c, 3)};
  std::string n = Digits(c, 3);
  return {level == 2 ? "30" : "0", level == 2 ? "50000" : "0", level == 2 ? "A" : "",
          "示范市示范区示范路" + n + "号", "010-6200" + Digits(c, 4), "", "100" + n, "c" + n + "@example.com",
          "示范银行示范支行", "6200" + Digits(c, 8), "91110000" + Digits(c, 10), "示范市", "示范省", "中国",
          level == 2 ? "" : "www.example.com/" + number};
}

// One record per line, parents before their children.
int Generate(int tops, const std::string& file, const Kind& kind) {
  constexpr int kMid = 20, kLeaf = 98;
  const bool departments = &kind == &kDepartments;
  xmlTextWriter* w = xmlNewTextWriterFilename(file.c_str(), 0);
  if (!w) throw Failure("cannot create " + file);
  auto record = [&](int level, int c, const std::string& number, const std::string& name, const std::string& pnum,
                    const std::string& pname) {
    Check(xmlTextWriterWriteRaw(w, X("\n")), "newline");
    Check(xmlTextWriterStartElement(w, X(kind.record)), "record");
    Leaf(w, "Number", number.c_str());
    Leaf(w, "Name", name.c_str());
    auto leaves = GeneratedLeaves(kind, level, number, c);
    for (size_t i = 0; i < leaves.size(); ++i) Leaf(w, kind.leaves[i].first, leaves[i].c_str());
    if (!pnum.empty()) {
      Check(xmlTextWriterStartElement(w, X(kind.parent)), "parent");
      Leaf(w, "Name", pname.c_str());
      Leaf(w, "Number", pnum.c_str());
      Check(xmlTextWriterEndElement(w), "parent");
    }
    Check(xmlTextWriterEndElement(w), "record");
  };
  long n = 0;
  Check(xmlTextWriterStartDocument(w, "1.0", "UTF-8", nullptr), "prolog");
  Check(xmlTextWriterStartElement(w, X(kind.list)), "root");
  Check(xmlTextWriterWriteAttribute(w, X("xmlns:xsi"), X("http://www.w3.org/2001/XMLSchema-instance")), "root");
  for (int a = 1; a <= tops; ++a) {
    std::string na = Digits(a, 3), namea = (departments ? "事业部" : "大区") + na;
    record(0, a, na, namea, "", ""), ++n;
    for (int b = 1; b <= kMid; ++b) {
      std::string nb = na + "." + Digits(b, 2), nameb = (departments ? "部门" : "地区") + nb;
      record(1, b, nb, nameb, na, namea), ++n;
      for (int c = 1; c <= kLeaf; ++c) {
        std::string nc = nb + "." + Digits(c, 3);
        record(2, c, nc, (departments ? "研发小组" : "客户") + Digits(c, 3), nb, nameb), ++n;
      }
    }
  }
  Check(xmlTextWriterWriteRaw(w, X("\n")), "newline");
  Check(xmlTextWriterEndDocument(w), "end");
  xmlFreeTextWriter(w);
  std::fprintf(stderr, "generated %ld %s records\n", n, kind.record);
  return 0;
}

// ---- the measuring wrapper ---------------------------------------------------------------

int Run(char** argv) {
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid < 0) throw Failure("fork failed");
  if (pid == 0) {
    execvp(argv[0], argv);
    std::perror(argv[0]);
    _exit(127);
  }
  int status = 0;
  rusage ru{};
  if (wait4(pid, &status, 0, &ru) < 0) throw Failure("wait failed");
  double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double cpu = ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  std::fprintf(stderr, "%.4f %.4f %ld\n", wall, cpu, ru.ru_maxrss);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

int Usage() {
  std::fprintf(stderr,
               "usage: least_work gen TOPS FILE [KIND] | gen COUNT FILE accounts | prepare FILE DB KIND | "
               "import FILE SCHEMA DB [KIND] | export DB FILE [KIND] | run CMD ARGS...\n"
               "KIND: departments (default), customers, accounts or materials\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  std::string mode = argv[1];
  try {
    auto kind = [&](int at) -> const Kind& { return argc > at ? KindNamed(argv[at]) : kDepartments; };
    const NestedKind* nested = NestedKindNamed(argv[argc - 1]);
    if (mode == "gen" && argc == 5 && nested == &kAccounts) return GenerateAccounts(std::stol(argv[2]), argv[3]);
    if (mode == "prepare" && argc == 5 && nested) return PrepareNested(argv[2], argv[3], *nested);
    if (mode == "import" && argc == 6 && nested) return ImportNested(argv[2], argv[3], argv[4], *nested);
    if (mode == "export" && argc == 5 && nested) return ExportNested(argv[2], argv[3], *nested);
    if (mode == "gen" && (argc == 4 || argc == 5)) return Generate(std::stoi(argv[2]), argv[3], kind(4));
    if (mode == "import" && (argc == 5 || argc == 6)) {
      // The ledger is made here, so a failed import takes it away again.
      std::string db = argv[4];
      bool existed = ::access(db.c_str(), F_OK) == 0;
      try {
        return Import(argv[2], argv[3], db, kind(5));
      } catch (...) {
        if (!existed)
          for (const char* end : {"", "-wal", "-shm"}) ::unlink((db + end).c_str());
        throw;
      }
    }
    if (mode == "export" && (argc == 4 || argc == 5)) return Export(argv[2], argv[3], kind(4));
    if (mode == "run") return Run(argv + 2);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "least_work: %s\n", e.what());
    return 3;
  }
  return Usage();
}
