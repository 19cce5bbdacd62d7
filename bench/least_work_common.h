// What every kind of the least-work program shares: errors, SQLite in its
// plainest form, the XML helpers and the export's temporary target.
#pragma once

#include <fcntl.h>
#include <libxml/xmlreader.h>
#include <libxml/xmlschemas.h>
#include <libxml/xmlwriter.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

namespace least_work {

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

const xmlChar* X(const char* s) { return reinterpret_cast<const xmlChar*>(s); }

void Check(int rc, const char* what) {
  if (rc < 0) throw Failure(std::string("XML output failed: ") + what);
}

// ---- SQLite ------------------------------------------------------------------

class Db {
 public:
  Db(const std::string& path, int flags) {
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
      std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close_v2(db_);
      throw Failure("cannot open " + path + ": " + msg);
    }
    Exec("PRAGMA journal_mode = WAL");
    Exec("PRAGMA synchronous = NORMAL");
  }
  ~Db() { sqlite3_close_v2(db_); }
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  void Exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
      std::string msg = err ? err : "?";
      sqlite3_free(err);
      throw Failure(std::string(sql) + ": " + msg);
    }
  }
  [[noreturn]] void Fail() const { throw Failure(std::string("ledger: ") + sqlite3_errmsg(db_)); }
  sqlite3* get() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

class Stmt {
 public:
  Stmt(Db& db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db.get(), sql, -1, &s_, nullptr) != SQLITE_OK) db.Fail();
  }
  ~Stmt() { sqlite3_finalize(s_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  Stmt& Bind(int i, const std::string& v) {
    if (sqlite3_bind_text(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_STATIC) != SQLITE_OK) db_.Fail();
    return *this;
  }
  Stmt& Bind(int i, sqlite3_int64 v) {
    if ((v ? sqlite3_bind_int64(s_, i, v) : sqlite3_bind_null(s_, i)) != SQLITE_OK) db_.Fail();
    return *this;
  }
  // An integer as it is, 0 too.
  Stmt& BindCount(int i, sqlite3_int64 v) {
    if (sqlite3_bind_int64(s_, i, v) != SQLITE_OK) db_.Fail();
    return *this;
  }
  bool Row() {
    int rc = sqlite3_step(s_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) db_.Fail();
    return false;
  }
  void Reset() {
    sqlite3_reset(s_);
    sqlite3_clear_bindings(s_);
  }
  sqlite3_int64 Int(int c) const { return sqlite3_column_int64(s_, c); }
  bool Has(int c) const { return sqlite3_column_type(s_, c) != SQLITE_NULL; }
  const char* Text(int c) const {
    const unsigned char* t = sqlite3_column_text(s_, c);
    return t ? reinterpret_cast<const char*>(t) : "";
  }

 private:
  Db& db_;
  sqlite3_stmt* s_ = nullptr;
};

std::string Trimmed(std::string s) {
  if (s.size() > 255) s.resize(255);
  size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// Whether a number may stand where the file puts it: one level below its
// parent's ("01.02" under "01"), or undotted without a parent. The tool
// refuses any other record.
bool PlacedRight(const std::string& number, const std::string* parent) {
  if (!parent) return number.find('.') == std::string::npos;
  const std::string& p = *parent;
  return number.size() > p.size() + 1 && number.compare(0, p.size(), p) == 0 && number[p.size()] == '.' &&
         number.find('.', p.size() + 1) == std::string::npos;
}

// What the importers share: the item table found by number, and the tool's
// placing rules (a record not one level below its parent is refused, one
// already there kept, a missing parent made bare). Derived gives
// Insert(number, name, fields, parent), fields nullptr for a bare parent.
template <class Derived>
class TreeImporter {
 public:
  long stored = 0, kept = 0, refused = 0;

 protected:
  explicit TreeImporter(Db& db) : find_(db, "SELECT id FROM item WHERE number = ?1") {}

  template <class Record, class Fields>
  void StoreInTree(const Record& d, const Fields* fields) {
    auto& self = static_cast<Derived&>(*this);
    const std::string number = Trimmed(d.number), pnum = Trimmed(d.parentNumber);
    if (!PlacedRight(number, d.hasParent ? &pnum : nullptr)) {
      ++refused;
      return;
    }
    sqlite3_int64 parent = 0;
    if (d.hasParent) {
      parent = Find(pnum);
      if (!parent) parent = self.Insert(pnum, d.parentName, static_cast<const Fields*>(nullptr), 0);
    }
    if (Find(number)) {
      ++kept;
      return;
    }
    self.Insert(number, d.name, fields, parent);
    ++stored;
  }

 private:
  sqlite3_int64 Find(const std::string& number) {
    find_.Bind(1, number);
    sqlite3_int64 id = find_.Row() ? find_.Int(0) : 0;
    find_.Reset();
    return id;
  }

  Stmt find_;
};

// The first problem the parser or the validator reports stops the import.
struct Problems {
  std::string first;
  static void Take(void* self, xmlError* e) {
    auto* p = static_cast<Problems*>(self);
    if (p->first.empty() && e && e->level >= XML_ERR_ERROR)
      p->first = "line " + std::to_string(e->line) + ": " + (e->message ? e->message : "?");
  }
};

bool Is(const xmlChar* name, const char* want) { return name && std::strcmp(reinterpret_cast<const char*>(name), want) == 0; }

bool IsNil(xmlTextReader* r) {
  if (!xmlTextReaderHasAttributes(r)) return false;
  xmlChar* v = xmlTextReaderGetAttributeNs(r, X("nil"), X("http://www.w3.org/2001/XMLSchema-instance"));
  bool nil = v && (Is(v, "true") || Is(v, "1"));
  xmlFree(v);
  return nil;
}

// Writes through a temporary file beside the target, synced and renamed
// over it only once complete.
class TempTarget {
 public:
  explicit TempTarget(const std::string& target) : target_(target), path_(target + ".least-work.tmp") {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) throw Failure("cannot create " + path_ + ": " + std::strerror(errno));
  }
  ~TempTarget() {
    if (fd_ >= 0) ::close(fd_);
    if (!done_) ::unlink(path_.c_str());
  }
  TempTarget(const TempTarget&) = delete;
  TempTarget& operator=(const TempTarget&) = delete;

  static int Write(void* self, const char* buf, int len) {
    auto* t = static_cast<TempTarget*>(self);
    for (int done = 0; done < len;) {
      ssize_t n = ::write(t->fd_, buf + done, static_cast<size_t>(len - done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return -1;
      done += static_cast<int>(n);
    }
    return len;
  }
  static int Close(void*) { return 0; }

  void Commit() {
    if (::fsync(fd_) != 0 || ::close(fd_) != 0) throw Failure("cannot write " + path_ + ": " + std::strerror(errno));
    fd_ = -1;
    if (::rename(path_.c_str(), target_.c_str()) != 0) throw Failure("cannot replace " + target_);
    done_ = true;
  }

 private:
  std::string target_, path_;
  int fd_ = -1;
  bool done_ = false;
};

void Leaf(xmlTextWriter* w, const char* key, const char* text) {
  Check(xmlTextWriterStartElement(w, X(key)), key);
  if (*text) Check(xmlTextWriterWriteString(w, X(text)), key);
  Check(xmlTextWriterEndElement(w), key);
}

std::string Digits(int v, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", width, v);
  return buf;
}

}  // namespace least_work
