#include "store/sqlite_driver.h"

#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/statvfs.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "store/ledger_counts.h"
#include "store/ledger_schema.h"
#include "store/ledger_store.h"

namespace morvent {

namespace fs = std::filesystem;

namespace {

constexpr int kBusyTimeoutMs = 5000;
int busyTimeoutMs = kBusyTimeoutMs;

// Whether a write to the ledger at path failed for want of room, and which
// room: the size a file may grow to (RLIMIT_FSIZE) or the disk. SQLite
// reports both as a full disk or a write error, and the errno it keeps may
// be a later call's, so the files and the disk are looked at.
enum class Room { Enough, FileLimit, Disk };
Room RoomLeft(const std::string& path, int sys) {
  if (sys == EFBIG) return Room::FileLimit;
  rlimit limit{};
  if (!path.empty() && getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    for (const char* suffix : {"", "-wal", "-journal"}) {
      std::error_code ec;
      const auto size = fs::file_size(fs::path(path + suffix), ec);
      // The write that failed added at most a WAL frame of the largest page.
      if (!ec && size + 65536 + 24 > limit.rlim_cur) return Room::FileLimit;
    }
  }
  if (sys == ENOSPC) return Room::Disk;
  struct statvfs disk {};
  if (!path.empty() && statvfs(fs::path(path).parent_path().c_str(), &disk) == 0 &&
      static_cast<uint64_t>(disk.f_bavail) * disk.f_frsize < 65536 + 24)
    return Room::Disk;
  return Room::Enough;
}

DbFault Classify(int code, int sys, const std::string& path) {
  switch (code & 0xFF) {
    case SQLITE_OK:
      return DbFault::None;
    case SQLITE_FULL:
    case SQLITE_IOERR:
      switch (RoomLeft(path, sys)) {
        case Room::FileLimit:
          return DbFault::FileLimit;
        case Room::Disk:
          return DbFault::DiskFull;
        case Room::Enough:
          break;
      }
      return (code & 0xFF) == SQLITE_FULL ? DbFault::Full : DbFault::Io;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return DbFault::Busy;
    case SQLITE_READONLY:
      return DbFault::ReadOnly;
    case SQLITE_CORRUPT:
      return DbFault::Damaged;
    case SQLITE_NOTADB:
      return DbFault::NotDatabase;
    default:
      return DbFault::Other;
  }
}

class SqliteStatement final : public DbStatement {
 public:
  explicit SqliteStatement(sqlite3_stmt* stmt) : stmt_(stmt) {}
  ~SqliteStatement() override { sqlite3_finalize(stmt_); }

  bool BindInt(int index, int64_t value) override { return sqlite3_bind_int64(stmt_, index, value) == SQLITE_OK; }
  bool BindReal(int index, double value) override { return sqlite3_bind_double(stmt_, index, value) == SQLITE_OK; }
  bool BindText(int index, std::string_view text) override {
    return sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) == SQLITE_OK;
  }
  bool BindNull(int index) override { return sqlite3_bind_null(stmt_, index) == SQLITE_OK; }

  Step Next() override {
    const int rc = sqlite3_step(stmt_);
    return rc == SQLITE_ROW ? Step::Row : rc == SQLITE_DONE ? Step::Done : Step::Failed;
  }
  void Reset() override { sqlite3_reset(stmt_); }
  void ClearBindings() override { sqlite3_clear_bindings(stmt_); }
  bool Running() const override { return sqlite3_stmt_busy(stmt_) != 0; }
  bool ReadOnly() const override { return sqlite3_stmt_readonly(stmt_) != 0; }

  int Columns() const override { return sqlite3_column_count(stmt_); }
  std::string ColumnName(int column) const override {
    const char* n = sqlite3_column_name(stmt_, column);
    return n ? n : "";
  }
  Type ColumnType(int column) const override {
    switch (sqlite3_column_type(stmt_, column)) {
      case SQLITE_NULL:
        return Type::Null;
      case SQLITE_INTEGER:
        return Type::Integer;
      case SQLITE_FLOAT:
        return Type::Real;
      default:
        return Type::Text;
    }
  }
  int64_t Int(int column) const override { return sqlite3_column_int64(stmt_, column); }
  double Real(int column) const override { return sqlite3_column_double(stmt_, column); }
  std::string_view Text(int column) const override {
    auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    if (!p) return {};
    return {p, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))};
  }

 private:
  sqlite3_stmt* stmt_;
};

class SqliteConnection final : public DbConnection {
 public:
  SqliteConnection(std::string path, sqlite3* db)
      : path_(std::move(path)), db_(db), counts_(db), timeout_(busyTimeoutMs) {
    // In place of SQLite's own timeout: the same wait, in short sleeps, so
    // that a long one can be told while it lasts.
    sqlite3_busy_handler(db_, &SqliteConnection::OnBusy, this);
  }
  ~SqliteConnection() override {
    if (counts_.Keeping()) counts_.Keep(false);
    sqlite3_close_v2(db_);
  }

  DbStatement* Prepare(const char* sql, size_t size) override {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db_, sql, static_cast<int>(size), SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK)
      return nullptr;
    return new SqliteStatement(stmt);
  }
  bool Exec(const char* sql) override { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }
  DbFailure LastFailure() const override {
    const int code = sqlite3_extended_errcode(db_);
    const int sys = sqlite3_system_errno(db_);
    return {Classify(code, sys, path_), sys, sqlite3_errmsg(db_)};
  }

  bool InTransaction() const override { return !sqlite3_get_autocommit(db_); }
  bool ReadOnly() const override { return sqlite3_db_readonly(db_, "main") != 0; }
  int64_t LastInsertId() const override { return sqlite3_last_insert_rowid(db_); }
  int Changes() const override { return sqlite3_changes(db_); }
  int64_t TotalChanges() const override { return sqlite3_total_changes64(db_); }

  CountKeeper& Counts() override { return counts_; }
  void BeforeFirstWrite() override {
    // Left to the first write, so that looking at a ledger never changes
    // it. A ledger another program holds in its own journal mode stays in
    // it (the switch needs the file to itself); that is only slower.
    if (walChecked_) return;
    walChecked_ = true;
    Exec("PRAGMA journal_mode = WAL");
  }
  std::string StampVersionSql(int version) const override {
    // The file's own header says "ledger" to anyone who opens it.
    return "PRAGMA application_id = " + std::to_string(kLedgerApplicationId) +
           "; PRAGMA user_version = " + std::to_string(version);
  }

  const char* TableExistsSql() const override { return "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?"; }
  const char* CountRowsSql() const override {
    return "SELECT FCount FROM ledger_counts WHERE FTable = ?1 AND FScope = ?2";
  }
  const char* SequenceTable() const override { return "sqlite_sequence"; }
  const char* RaiseSequenceSql() const override {
    return "UPDATE sqlite_sequence SET seq = ?1 WHERE name = ?2 AND seq < ?1";
  }
  std::string CountTriggersSql(const std::string& table, const std::string& scopeColumn) const override {
    return morvent::CountTriggersSql(table, scopeColumn);
  }
  // AUTOINCREMENT hands out the next past the largest ID there is.
  std::string SettleSequencesSql() const override { return ""; }
  bool OnServer() const override { return false; }

  sqlite3* Handle() const { return db_; }
  void WalChecked() { walChecked_ = true; }

 private:
  // SQLite's busy handler: count is 0 at a wait's first call. Answers 0
  // (give up, SQLITE_BUSY) once the timeout is spent.
  static int OnBusy(void* self, int count) {
    auto& conn = *static_cast<SqliteConnection*>(self);
    if (count == 0 || !conn.wait_) conn.wait_.emplace(conn);
    const auto left = conn.timeout_ - conn.wait_->Waited();
    if (left <= std::chrono::steady_clock::duration::zero()) return 0;
    // Short steps first: most waits are for a commit that is nearly done.
    static constexpr int kSteps[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};
    const std::chrono::milliseconds step{kSteps[std::min<size_t>(static_cast<size_t>(count), std::size(kSteps) - 1)]};
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(step, left));
    return 1;
  }

  std::string path_;
  sqlite3* db_;
  CountKeeper counts_;
  bool walChecked_ = false;
  std::chrono::milliseconds timeout_;
  std::optional<Wait> wait_;
};

// A connection (SqliteConnection makes it wait for other writers); a
// failure names the path. name is the path, or a URI when flags hold SQLITE_OPEN_URI.
sqlite3* OpenConnection(const std::string& path, int flags, const std::string& failure,
                        const std::string& name = "") {
  sqlite3* db = nullptr;
  // A connection never leaves the thread that opened it (see the header),
  // so SQLite's own per-call locking would guard nothing.
  int rc = sqlite3_open_v2(name.empty() ? path.c_str() : name.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    const int sys = db ? sqlite3_system_errno(db) : 0;
    if (sys != 0) msg = std::string(std::strerror(sys)) + "，" + msg;
    sqlite3_close_v2(db);
    ThrowLedgerError(failure + path + "：" + msg);
  }
  sqlite3_extended_result_codes(db, 1);
  return db;
}

// What the first bytes of a file say: an SQLite database at all, one that
// carries the ledger's application id, and one shorter than its own header
// says (cut off).
struct FileHead {
  bool database = false;
  bool ledger = false;
  bool cut = false;
};

FileHead ReadHead(const std::string& path) {
  FileHead head;
  unsigned char b[100] = {};
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(b), sizeof b);
  if (in.gcount() < static_cast<std::streamsize>(sizeof b) || std::memcmp(b, "SQLite format 3", 16) != 0) return head;
  head.database = true;
  auto be32 = [&](int at) {
    return static_cast<uint32_t>(b[at]) << 24 | static_cast<uint32_t>(b[at + 1]) << 16 |
           static_cast<uint32_t>(b[at + 2]) << 8 | b[at + 3];
  };
  head.ledger = be32(68) == static_cast<uint32_t>(kLedgerApplicationId);
  // The page count in the header holds only while its change counter
  // matches the one it was written with.
  const uint32_t pageSize = b[16] << 8 | b[17];
  const uint64_t pageBytes = pageSize == 1 ? 65536 : pageSize;
  const uint32_t pages = be32(28);
  std::error_code ec;
  const auto size = fs::file_size(fs::path(path), ec);
  head.cut = !ec && pages > 0 && be32(24) == be32(92) && size < pages * pageBytes;
  return head;
}

// A URI naming the file, for the flags only a URI carries.
std::string FileUri(const std::string& path, const char* query) {
  static const char* const hex = "0123456789ABCDEF";
  std::string uri = "file:";
  for (unsigned char c : fs::absolute(fs::path(path)).string()) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += hex[c >> 4];
      uri += hex[c & 15];
    }
  }
  return uri + "?" + query;
}

// SQLite's own account of a failure, taken before the statement goes.
struct RawFailure {
  int code = SQLITE_OK;
  int sys = 0;
  std::string msg;
};

// Why the first read of a file that opened failed: the file is in use, its
// journal cannot be had, it is a damaged ledger or no ledger at all.
std::string OpeningFailure(const RawFailure& f, const std::string& path, const FileHead& head) {
  const int code = f.code;
  const int sys = f.sys;
  const std::string& msg = f.msg;
  const std::string why = sys != 0 ? std::string(std::strerror(sys)) + "，" + msg : msg;
  switch (code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return "账套 " + path + " 正被其他程序使用，无法打开：" + msg;
    case SQLITE_READONLY:
      if (code == SQLITE_READONLY_DIRECTORY)
        return "无法建立账套 " + path + " 的日志文件：账套所在的目录不可写（" + why + "）";
      return "无法打开账套 " + path + " 的日志文件：" + why;
    case SQLITE_CANTOPEN:
      return "无法打开账套 " + path + " 的日志文件：" + why;
    case SQLITE_IOERR:
      return "读取账套文件 " + path + " 出错：" + why;
    default:
      return head.ledger ? "账套文件已损坏：" + path : "不是账套文件：" + path;
  }
}

// Whether a failure of the first read is the folder or the medium denying
// the journal, which a read-only connection does without.
bool JournalDenied(const RawFailure& f) {
  const int code = f.code & 0xFF;
  return code == SQLITE_READONLY || code == SQLITE_CANTOPEN;
}

// The first column of a read's first row on db (found: there was one);
// false, with the failure, when the statement failed.
bool ReadOne(sqlite3* db, const char* sql, const char* param, bool& found, std::string& value, RawFailure& f) {
  auto failed = [&] {
    f = {sqlite3_extended_errcode(db), sqlite3_system_errno(db), sqlite3_errmsg(db)};
    return false;
  };
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) return failed();
  if (param) sqlite3_bind_text(stmt, 1, param, -1, SQLITE_STATIC);
  const int rc = sqlite3_step(stmt);
  found = rc == SQLITE_ROW;
  if (found) {
    auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    value = p ? p : "";
  }
  const bool ok = rc == SQLITE_ROW || rc == SQLITE_DONE || failed();
  sqlite3_finalize(stmt);
  return ok;
}

// Whether SQLite finds the file whole (PRAGMA quick_check answers "ok").
bool PassesQuickCheck(sqlite3* db) {
  bool found = false;
  std::string verdict;
  RawFailure f;
  return ReadOne(db, "PRAGMA quick_check(1)", nullptr, found, verdict, f) && found && verdict == "ok";
}

}  // namespace

void SetSqliteBusyTimeout(int milliseconds) { busyTimeoutMs = milliseconds > 0 ? milliseconds : kBusyTimeoutMs; }

OpenedLedger OpenSqliteLedger(const std::string& path) {
  const FileHead head = ReadHead(path);
  // Looking never writes: the connection reads as it is opened, and the
  // file is changed (WAL switched on, say) only by the first write. A
  // folder or medium that denies the journal gets a read-only connection;
  // a WAL ledger there only an immutable one, since its index cannot be
  // shared (nobody can write that ledger beside us without the folder).
  struct Attempt {
    int flags;
    const char* uriQuery;
  };
  const Attempt attempts[] = {{SQLITE_OPEN_READWRITE, nullptr},
                              {SQLITE_OPEN_READONLY, nullptr},
                              {SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, "immutable=1"}};
  std::unique_ptr<SqliteConnection> conn;
  std::string appId;
  bool hasMeta = false;
  for (const auto& attempt : attempts) {
    // Never SQLITE_OPEN_CREATE: a ledger is only ever made by CreateLedger.
    sqlite3* db = OpenConnection(path, attempt.flags, "无法打开账套文件 ",
                                 attempt.uriQuery ? FileUri(path, attempt.uriQuery) : "");
    conn = std::make_unique<SqliteConnection>(path, db);
    // Checks read only: a file that is not a ledger must come out untouched.
    bool found = false;
    std::string ignored;
    RawFailure f;
    if (ReadOne(db, "PRAGMA application_id", nullptr, found, appId, f) &&
        ReadOne(db, conn->TableExistsSql(), "ledger_meta", hasMeta, ignored, f))
      break;
    if (JournalDenied(f) && attempt.uriQuery == nullptr) continue;
    ThrowLedgerError(OpeningFailure(f, path, head));
  }
  if (appId != std::to_string(kLedgerApplicationId)) ThrowLedgerError("不是账套文件：" + path);
  if (!hasMeta) ThrowLedgerError("账套文件已损坏：" + path);
  // The header was read without a lock, so another program's commit or
  // checkpoint may have been half way; only SQLite's own check, on a
  // snapshot, says a file that looks cut short really is.
  if (head.ledger && head.cut && !PassesQuickCheck(conn->Handle())) ThrowLedgerError("账套文件已损坏：" + path);
  OpenedLedger opened;
  bool found = false;
  RawFailure f;
  if (!ReadOne(conn->Handle(), "SELECT FValue FROM ledger_meta WHERE FKey = ?", "schema_version", found,
               opened.storedVersion, f))
    ThrowLedgerError(OpeningFailure(f, path, head));
  // Settings of this connection only; nothing reaches the file. Each
  // record's savepoint keeps the pages it changes in a sub-journal: in
  // memory it is emptied at every record's end, in a temporary file it
  // would be written to for every record once it had spilled there.
  conn->Exec("PRAGMA synchronous = NORMAL; PRAGMA temp_store = MEMORY");
  opened.connection = std::move(conn);
  return opened;
}

std::unique_ptr<DbConnection> CreateSqliteLedger(const std::string& path) {
  std::error_code ec;
  if (path.empty()) ThrowLedgerError("没有指定账套文件");
  if (fs::exists(fs::path(path), ec)) ThrowLedgerError("文件已存在，不能新建账套：" + path);
  sqlite3* db = OpenConnection(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE,
                               "无法新建账套文件 ");
  auto conn = std::make_unique<SqliteConnection>(path, db);
  if (!conn->Exec("PRAGMA journal_mode = WAL") || !conn->Exec("PRAGMA synchronous = NORMAL"))
    ThrowLedgerError("账套操作失败：" + conn->LastFailure().message);
  conn->WalChecked();
  return conn;
}

}  // namespace morvent
