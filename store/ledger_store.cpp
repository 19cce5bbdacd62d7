#include "store/ledger_store.h"

#include <map>

#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/statvfs.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <system_error>

#include "context/props.h"
#include "platform/call_scope.h"
#include "platform/error.h"
#include "store/ledger_schema.h"

namespace morvent {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSource = "MorventLedger";
constexpr int kBusyTimeoutMs = 5000;
constexpr size_t kSpareStatements = 4;

// Keeps a finished statement for reuse in the list `spare` answers, or
// finalizes it when enough are kept or keeping it needs memory there is not.
template <class Spare>
void Park(sqlite3_stmt* stmt, Spare&& spare) noexcept {
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  try {
    auto& list = spare();
    if (list.size() < kSpareStatements) {
      list.push_back(stmt);
      return;
    }
  } catch (...) {
  }
  sqlite3_finalize(stmt);
}

int busyTimeoutMs = kBusyTimeoutMs;
std::function<bool()>& CommitFault() {
  static std::function<bool()> fault;
  return fault;
}

// Per ledger file and table, the highest ID this process handed out in a
// transaction that was later lost. Shared by the threads' connections.
std::mutex floorMutex;
std::atomic<bool> anyIdFloor{false};  // lets the usual save skip the lock
std::map<std::string, int64_t>& IdFloors() {
  static std::map<std::string, int64_t> floors;
  return floors;
}

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

// The reason a commit failed, in the user's words with SQLite's after it.
// sys is the errno SQLite kept (0: none); path the ledger's, to tell a full
// disk from a file grown to the size the system allows.
std::string CommitFailureReason(int code, int sys, const std::string& message, const std::string& path = "") {
  const int primary = code & 0xFF;
  if (primary == SQLITE_FULL || primary == SQLITE_IOERR) {
    switch (RoomLeft(path, sys)) {
      case Room::FileLimit:
        return "账套文件已达到系统允许的大小上限（" + std::string(std::strerror(EFBIG)) + "）";
      case Room::Disk:
        return "磁盘已满（" + std::string(std::strerror(ENOSPC)) + "）";
      case Room::Enough:
        break;
    }
  }
  std::string why;
  switch (primary) {
    case SQLITE_FULL:
      why = "磁盘已满";
      break;
    case SQLITE_IOERR:
      why = "读写磁盘出错";
      break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      why = "账套正被其他程序使用";
      break;
    case SQLITE_READONLY:
      why = "账套是只读的";
      break;
    case SQLITE_CORRUPT:
      why = "账套文件已损坏";
      break;
    default:
      why = "提交失败";
  }
  return why + "（" + message + "）";
}

std::map<std::string, std::weak_ptr<LedgerStore>>& ThreadStores() {
  thread_local std::map<std::string, std::weak_ptr<LedgerStore>> stores;
  return stores;
}

std::string CanonicalPath(const std::string& path) {
  std::error_code ec;
  auto canonical = fs::canonical(fs::path(path), ec);
  return ec ? fs::absolute(fs::path(path)).lexically_normal().string() : canonical.string();
}

}  // namespace

void ThrowLedgerError(const std::string& description) { throw Error(kErrLedger, kSource, description); }

// ---- Query -----------------------------------------------------------------

StatementKey::StatementKey(const char* sql) : sql_(sql) {
  static std::atomic<size_t> next{0};
  slot_ = next++;
}

Query::Query(std::shared_ptr<LedgerStore> store, std::string sql, sqlite3_stmt* stmt)
    : store_(std::move(store)), sql_(std::move(sql)), stmt_(stmt) {}

Query::Query(std::shared_ptr<LedgerStore> store, const StatementKey& key, sqlite3_stmt* stmt)
    : store_(std::move(store)), slot_(key.Slot()), stmt_(stmt) {}

Query::Query(Query&& other) noexcept
    : store_(std::move(other.store_)), sql_(std::move(other.sql_)), slot_(other.slot_), stmt_(other.stmt_) {
  other.stmt_ = nullptr;
}

Query::~Query() {
  if (!stmt_ || !store_) return;
  if (slot_ != kNoSlot)
    store_->Release(slot_, stmt_);
  else
    store_->Release(sql_, stmt_);
}

Query& Query::Bind(int index, const Variant& value) {
  switch (value.Type()) {
    case VarType::Empty:
    case VarType::Null:
      return BindNull(index);
    case VarType::Boolean:
      return Bind(index, static_cast<int64_t>(value.RawBool() ? 1 : 0));
    case VarType::Integer:
    case VarType::Long:
      return Bind(index, static_cast<int64_t>(value.ToLong()));
    case VarType::Double:
      return Bind(index, value.ToDouble());
    case VarType::Date:
      return Bind(index, value.ToDate().serial);
    case VarType::String:
      return Bind(index, std::string_view(value.RawText()));
    case VarType::Object:
      break;
  }
  ThrowTypeMismatch();
}

Query& Query::Bind(int index, int64_t value) {
  if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) store_->Fail("bind");
  return *this;
}

Query& Query::Bind(int index, double value) {
  if (sqlite3_bind_double(stmt_, index, value) != SQLITE_OK) store_->Fail("bind");
  return *this;
}

Query& Query::Bind(int index, std::string_view text) {
  if (sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) != SQLITE_OK)
    store_->Fail("bind");
  return *this;
}

Query& Query::BindNull(int index) {
  if (sqlite3_bind_null(stmt_, index) != SQLITE_OK) store_->Fail("bind");
  return *this;
}

bool Query::Next() {
  // A write statement that fails without a change was undone by SQLite;
  // the counts it added up go with it.
  CountKeeper* counts = store_->counts_->Keeping() && !sqlite3_stmt_busy(stmt_) && !sqlite3_stmt_readonly(stmt_)
                            ? store_->counts_.get()
                            : nullptr;
  int64_t changes = 0;
  if (counts) {
    counts->TakeStatement();
    changes = sqlite3_total_changes64(store_->db_);
  }
  const bool grouped = store_->InTransaction();
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  if (counts && !sqlite3_get_autocommit(store_->db_) && sqlite3_total_changes64(store_->db_) == changes)
    counts->BackStatement();
  sqlite3_reset(stmt_);
  // Any statement, a read that spilled the cache too, may fail so that
  // SQLite rolls the grouped work back: the call must learn it was lost.
  if (grouped && sqlite3_get_autocommit(store_->db_)) store_->LostWithStatement();
  store_->Fail(sql_);
}

void Query::Run() {
  while (Next()) {
  }
}

void Query::Reset() { sqlite3_reset(stmt_); }

int Query::Columns() const { return sqlite3_column_count(stmt_); }

std::string Query::ColumnName(int column) const {
  const char* n = sqlite3_column_name(stmt_, column);
  return n ? n : "";
}

Variant Query::Get(int column) const {
  switch (sqlite3_column_type(stmt_, column)) {
    case SQLITE_NULL:
      return Variant::Null();
    case SQLITE_INTEGER: {
      int64_t v = sqlite3_column_int64(stmt_, column);
      if (v >= INT32_MIN && v <= INT32_MAX) return Variant(static_cast<int32_t>(v));
      return Variant(static_cast<double>(v));
    }
    case SQLITE_FLOAT:
      return Variant(sqlite3_column_double(stmt_, column));
    default:
      return Variant(Text(column));
  }
}

bool Query::IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
int64_t Query::Int(int column) const { return sqlite3_column_int64(stmt_, column); }
double Query::Real(int column) const { return sqlite3_column_double(stmt_, column); }

std::string Query::Text(int column) const {
  auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  if (!p) return "";
  return std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, column)));
}

// ---- LedgerStore: opening --------------------------------------------------

LedgerStore::LedgerStore(std::string path, sqlite3* db)
    : path_(std::move(path)), db_(db), counts_(std::make_unique<CountKeeper>(db)) {}

LedgerStore::~LedgerStore() {
  // Work stored by a finished call must survive the last object going away;
  // when it cannot, the call learns of it.
  if (db_ && !sqlite3_get_autocommit(db_)) CommitNoted();  // never a dry run's
  for (auto& [sql, list] : cache_)
    for (auto* s : list) sqlite3_finalize(s);
  for (auto& list : slots_)
    for (auto* s : list) sqlite3_finalize(s);
  counts_.reset();
  if (db_) sqlite3_close_v2(db_);
}

std::shared_ptr<LedgerStore> LedgerStore::ForProps(const std::string& propsString) {
  // Handlers create sets per looked-up record; while a store for the same
  // string is open on this thread, skip the parse and the file checks.
  thread_local std::map<std::string, std::weak_ptr<LedgerStore>> byProps;
  if (auto it = byProps.find(propsString); it != byProps.end())
    if (auto live = it->second.lock()) return live;
  auto store = ForPropsUncached(propsString);
  for (auto it = byProps.begin(); it != byProps.end();) it = it->second.expired() ? byProps.erase(it) : std::next(it);
  byProps[propsString] = store;
  return store;
}

std::shared_ptr<LedgerStore> LedgerStore::ForPropsUncached(const std::string& propsString) {
  auto table = ParsePropertyString(propsString);
  auto it = table.find("Data Source");
  if (it == table.end() || it->second.empty())
    ThrowLedgerError("属性串中没有指定账套文件（Data Source），无法打开账套");
  return ForPath(it->second);
}

std::shared_ptr<LedgerStore> LedgerStore::ForPath(const std::string& path) {
  if (path.empty()) ThrowLedgerError("属性串中没有指定账套文件（Data Source），无法打开账套");
  std::error_code ec;
  if (!fs::exists(fs::path(path), ec)) ThrowLedgerError("账套文件不存在：" + path);
  if (!fs::is_regular_file(fs::path(path), ec)) ThrowLedgerError("不是账套文件：" + path);
  std::string key = CanonicalPath(path);
  auto& stores = ThreadStores();
  if (auto it = stores.find(key); it != stores.end()) {
    if (auto live = it->second.lock()) return live;
  }
  auto store = OpenExisting(key);
  stores[key] = store;
  // Shared, so the call-end hook reaches it: reads may share a transaction.
  store->readsShareTx_ = true;
  // Drop entries of closed stores so the map does not grow without end.
  for (auto it = stores.begin(); it != stores.end();) it = it->second.expired() ? stores.erase(it) : std::next(it);
  return store;
}

namespace {
// A connection that waits for other writers; a failure names the path.
// name is the path, or a URI when flags hold SQLITE_OPEN_URI.
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
  sqlite3_busy_timeout(db, busyTimeoutMs);
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

// Why the first read of a file that opened failed: the file is in use, its
// journal cannot be had, it is a damaged ledger or no ledger at all.
std::string OpeningFailure(int code, int sys, const std::string& msg, const std::string& path, const FileHead& head) {
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
bool JournalDenied(int code) { return (code & 0xFF) == SQLITE_READONLY || (code & 0xFF) == SQLITE_CANTOPEN; }

// The schema version as stored: digits only; anything else is damage.
// A number past any version is newer than this program, however large.
std::optional<uint64_t> ParseVersion(const std::string& text) {
  if (text.empty() || text.size() > 19) {
    if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos) return UINT64_MAX;
    return std::nullopt;
  }
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  return v;
}
}  // namespace

std::shared_ptr<LedgerStore> LedgerStore::OpenExisting(const std::string& path) {
  const FileHead head = ReadHead(path);
  if (head.ledger && head.cut) ThrowLedgerError("账套文件已损坏：" + path);
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
  std::shared_ptr<LedgerStore> store;
  int64_t appId = 0;
  bool hasMeta = false;
  for (const auto& attempt : attempts) {
    // Never SQLITE_OPEN_CREATE: a ledger is only ever made by CreateLedger.
    sqlite3* db = OpenConnection(path, attempt.flags, "无法打开账套文件 ",
                                 attempt.uriQuery ? FileUri(path, attempt.uriQuery) : "");
    store.reset(new LedgerStore(path, db));
    // Checks read only: a file that is not a ledger must come out untouched.
    try {
      auto q = store->Prepare("PRAGMA application_id");
      if (q.Next()) appId = q.Int(0);
      hasMeta = store->TableExists("ledger_meta");
      break;
    } catch (const Error&) {
      const Failure f = store->lastFailure_;
      if (JournalDenied(f.code) && attempt.uriQuery == nullptr) continue;
      ThrowLedgerError(OpeningFailure(f.code, f.sys, f.message, path, head));
    }
  }
  if (appId != kLedgerApplicationId) ThrowLedgerError("不是账套文件：" + path);
  if (!hasMeta) ThrowLedgerError("账套文件已损坏：" + path);
  std::string stored;
  try {
    stored = store->Meta("schema_version", "");
  } catch (const Error&) {
    const Failure f = store->lastFailure_;
    ThrowLedgerError(OpeningFailure(f.code, f.sys, f.message, path, head));
  }
  const std::optional<uint64_t> version = ParseVersion(stored);
  if (!version || *version < 1) ThrowLedgerError("账套文件已损坏：" + path);
  if (*version > static_cast<uint64_t>(kLedgerSchemaVersion)) RefuseNewerLedger(*store, stored);
  UpgradeSchema(*store, static_cast<int>(*version));

  // Settings of this connection only; nothing reaches the file. Each
  // record's savepoint keeps the pages it changes in a sub-journal: in
  // memory it is emptied at every record's end, in a temporary file it
  // would be written to for every record once it had spilled there.
  sqlite3_exec(store->db_, "PRAGMA synchronous = NORMAL; PRAGMA temp_store = MEMORY", nullptr, nullptr, nullptr);
  return store;
}

std::shared_ptr<LedgerStore> LedgerStore::CreateFile(const std::string& path) {
  std::error_code ec;
  if (path.empty()) ThrowLedgerError("没有指定账套文件");
  if (fs::exists(fs::path(path), ec)) ThrowLedgerError("文件已存在，不能新建账套：" + path);
  sqlite3* db = OpenConnection(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE,
                               "无法新建账套文件 ");
  std::shared_ptr<LedgerStore> store(new LedgerStore(CanonicalPath(path), db));
  store->Exec("PRAGMA journal_mode = WAL");
  store->Exec("PRAGMA synchronous = NORMAL");
  store->walChecked_ = true;
  return store;
}

// ---- LedgerStore: statements -----------------------------------------------

void LedgerStore::LostWithStatement() noexcept {
  lastFailure_ = {sqlite3_extended_errcode(db_), sqlite3_system_errno(db_), sqlite3_errmsg(db_)};
  countMarks_.clear();
  ForgetLostTransaction();
  try {
    if (InPublicCall()) NoteLostWrite(LastFailureReason());
  } catch (...) {
  }
}

std::string LedgerStore::LastFailureReason() const {
  // The statement that failed has been reset since, and a reset that
  // succeeds clears the connection's error: what Fail saw is the reason.
  if (lastFailure_.code != SQLITE_OK)
    return CommitFailureReason(lastFailure_.code, lastFailure_.sys, lastFailure_.message, path_);
  return CommitFailureReason(sqlite3_extended_errcode(db_), sqlite3_system_errno(db_), sqlite3_errmsg(db_), path_);
}

void LedgerStore::Fail(const std::string& what) const {
  int code = sqlite3_extended_errcode(db_);
  std::string msg = sqlite3_errmsg(db_);
  lastFailure_ = {code, sqlite3_system_errno(db_), msg};
  if ((code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED)
    ThrowLedgerError("账套 " + path_ + " 正被其他程序使用，等待超时：" + msg);
  if ((code & 0xFF) == SQLITE_READONLY) ThrowLedgerError("账套 " + path_ + " 是只读的，不能保存：" + msg);
  if ((code & 0xFF) == SQLITE_CORRUPT || (code & 0xFF) == SQLITE_NOTADB) ThrowLedgerError("账套文件已损坏：" + path_);
  if ((code & 0xFF) == SQLITE_FULL || (code & 0xFF) == SQLITE_IOERR)
    ThrowLedgerError("账套不能写入：" + CommitFailureReason(code, lastFailure_.sys, msg, path_));
  (void)what;
  ThrowLedgerError("账套操作失败：" + msg);
}

sqlite3_stmt* LedgerStore::Compile(const char* sql, size_t size) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v3(db_, sql, static_cast<int>(size), SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK)
    Fail(sql);
  return stmt;
}

Query LedgerStore::Prepare(const std::string& sql) {
  SettleDryRunLeftover();
  sqlite3_stmt* stmt = nullptr;
  auto it = cache_.find(sql);
  if (it != cache_.end() && !it->second.empty()) {
    stmt = it->second.back();
    it->second.pop_back();
  } else {
    stmt = Compile(sql.c_str(), sql.size());
  }
  Query q(shared_from_this(), sql, stmt);
  if (readsShareTx_) LookOrShareRead(sqlite3_stmt_readonly(stmt) != 0);
  return q;
}

Query LedgerStore::Prepare(const StatementKey& key) {
  SettleDryRunLeftover();
  Query q = Borrow(key);
  if (readsShareTx_) LookOrShareRead(sqlite3_stmt_readonly(q.stmt_) != 0);
  return q;
}

Query LedgerStore::Borrow(const StatementKey& key) {
  sqlite3_stmt* stmt = nullptr;
  if (key.Slot() < slots_.size() && !slots_[key.Slot()].empty()) {
    stmt = slots_[key.Slot()].back();
    slots_[key.Slot()].pop_back();
  } else {
    stmt = Compile(key.Sql(), std::strlen(key.Sql()));
  }
  return Query(shared_from_this(), key, stmt);
}

void LedgerStore::Release(size_t slot, sqlite3_stmt* stmt) noexcept {
  Park(stmt, [&]() -> auto& {
    if (slot >= slots_.size()) slots_.resize(slot + 1);
    return slots_[slot];
  });
}

void LedgerStore::LookOrShareRead(bool readOnly) {
  // A record's lookups decide whether it makes a new object or finds one:
  // they run under the write lock its save will need, so that no other
  // writer can store the same object in between.
  if (readOnly && InRecord() && !InTransaction() && !sqlite3_db_readonly(db_, "main")) {
    Begin();
    return;
  }
  ShareRead(readOnly);
}

void LedgerStore::ShareRead(bool readOnly) noexcept {
  if (!readOnly) {
    // A statement that writes outside Write runs on its own, as it always has.
    EndRead();
    CountByTriggers();
    return;
  }
  if (sqlite3_get_autocommit(db_)) {
    if (InPublicCall() && sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK) readTx_ = true;
  } else if (readTx_ && !InPublicCall()) {
    // Left over from a call whose end hook never ran: read afresh.
    EndRead();
  }
}

void LedgerStore::EndRead() noexcept {
  if (!readTx_) return;
  readTx_ = false;
  if (sqlite3_get_autocommit(db_)) return;
  if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

void LedgerStore::Release(const std::string& sql, sqlite3_stmt* stmt) noexcept {
  Park(stmt, [&]() -> auto& { return cache_[sql]; });
}

void LedgerStore::Exec(const std::string& sql) {
  ++writeEpoch_;
  EndRead();
  CountByTriggers();
  const bool counting = counts_->Keeping();
  const int64_t changes = sqlite3_total_changes64(db_);
  if (counting) counts_->TakeStatement();
  char* err = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    sqlite3_free(err);
    if (counting && InTransaction() && sqlite3_total_changes64(db_) == changes) counts_->BackStatement();
    Fail(sql);
  }
}

void LedgerStore::CountByTriggers() noexcept {
  if (counts_->Keeping() && sqlite3_get_autocommit(db_)) counts_->Keep(false);
}

int64_t LedgerStore::LastInsertId() const { return sqlite3_last_insert_rowid(db_); }
int LedgerStore::Changes() const { return sqlite3_changes(db_); }

bool LedgerStore::TableExists(const std::string& table) {
  auto q = Prepare("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?");
  q.Bind(1, table);
  return q.Next();
}

// ---- LedgerStore: transactions ---------------------------------------------

bool LedgerStore::InTransaction() const { return !readTx_ && !sqlite3_get_autocommit(db_); }

void LedgerStore::Begin() {
  // IMMEDIATE takes the write lock up front, so two processes queue on the
  // busy timeout instead of deadlocking on a read-to-write upgrade; a read
  // transaction of the call ends first, since it cannot be upgraded safely.
  static const StatementKey begin("BEGIN IMMEDIATE");
  EndRead();
  // Grouped work keeps its own counts; a save committed alone leaves them
  // to the triggers, since switching costs a fresh preparation of every
  // statement of the connection.
  countMarks_.clear();
  counts_->Keep(InPublicCall());
  ++writeEpoch_;
  if (!walChecked_) {
    // Left to the first write, so that looking at a ledger never changes
    // it. A ledger another program holds in its own journal mode stays in
    // it (the switch needs the file to itself); that is only slower.
    walChecked_ = true;
    sqlite3_exec(db_, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
  }
  Borrow(begin).Run();
  txStart_ = std::chrono::steady_clock::now();
}

void LedgerStore::RollbackTo() noexcept {
  ++writeEpoch_;
  std::optional<CountKeeper::Mark> mark;
  if (!countMarks_.empty()) {
    mark = std::move(countMarks_.back());
    countMarks_.pop_back();
  }
  if (sqlite3_get_autocommit(db_)) return;  // SQLite already rolled everything back
  sqlite3_exec(db_, "ROLLBACK TO w; RELEASE w", nullptr, nullptr, nullptr);
  if (mark) counts_->Back(*mark);
}

void LedgerStore::JoinOpenRecord() {
  static const StatementKey savepoint("SAVEPOINT r");
  Borrow(savepoint).Run();
  counts_->TakeInto(recordMark_);
  recordOpen_ = true;
  JoinRecord(shared_from_this());
}

void LedgerStore::RecordEnds(bool undo) noexcept {
  if (!recordOpen_) return;  // committed or lost since it was opened
  recordOpen_ = false;
  if (sqlite3_get_autocommit(db_)) return;
  if (!undo) {
    static const StatementKey release("RELEASE r");
    try {
      Borrow(release).Run();
    } catch (...) {
      // A savepoint that cannot be released stays inside the transaction,
      // which the next commit takes whole.
    }
    return;
  }
  ++writeEpoch_;
  if (sqlite3_exec(db_, "ROLLBACK TO r; RELEASE r", nullptr, nullptr, nullptr) != SQLITE_OK) return;
  counts_->Back(recordMark_);
  // The rollback gave the record's IDs back to SQLite; objects or caches
  // that saw them must never find them naming another object. The floors
  // take the transaction's highest: the rows still there lie below it too.
  RaiseIdFloors();
}

void LedgerStore::Write(const std::function<void()>& fn) {
  auto self = shared_from_this();
  if (LostWritePending())
    ThrowLedgerError("账套不能写入：本次调用中已有保存失败，不再保存");
  SettleDryRunLeftover();
  if (writeDepth_ == 0) lastFailure_ = {};
  if (writeDepth_ == 0 && !InTransaction()) Begin();
  JoinDryRun();
  if (writeDepth_ == 0 && !recordOpen_ && InRecord()) JoinOpenRecord();
  ++writeDepth_;
  bool opened = false;
  try {
    static const StatementKey savepoint("SAVEPOINT w");
    Borrow(savepoint).Run();
    countMarks_.push_back(counts_->Take());
    opened = true;
    fn();
  } catch (...) {
    --writeDepth_;
    if (!InTransaction()) {
      countMarks_.clear();
      // SQLite rolled the whole transaction back (a full disk while the
      // cache spilled, say): the grouped work before this save is gone too.
      const std::string reason = LastFailureReason();
      ForgetLostTransaction();
      NoteLostWrite(reason);
      throw;
    }
    if (opened) RollbackTo();
    if (writeDepth_ == 0 && !InPublicCall()) CommitNoted();
    throw;
  }
  --writeDepth_;
  static const StatementKey release("RELEASE w");
  Borrow(release).Run();
  countMarks_.pop_back();
  if (writeDepth_ > 0) return;
  CommitAfterWrite();
}

void LedgerStore::CommitAfterWrite() {
  // Inside a record the due commit waits for the record's end.
  if (!InPublicCall() || (!InRecord() && std::chrono::steady_clock::now() - txStart_ >= kCommitInterval)) Commit();
}

void LedgerStore::WriteOne(const std::function<void()>& fn, const std::function<void()>& undo) {
  if (writeDepth_ > 0) {
    fn();  // the enclosing write's savepoint covers it
    return;
  }
  auto self = shared_from_this();
  if (LostWritePending())
    ThrowLedgerError("账套不能写入：本次调用中已有保存失败，不再保存");
  SettleDryRunLeftover();
  lastFailure_ = {};
  if (!InTransaction()) Begin();
  JoinDryRun();
  if (!recordOpen_ && InRecord()) JoinOpenRecord();
  const int64_t before = sqlite3_total_changes64(db_);
  ++writeDepth_;
  try {
    fn();
  } catch (...) {
    --writeDepth_;
    const bool whole = InTransaction();
    bool changed = whole && sqlite3_total_changes64(db_) != before;
    if (changed && undo) {
      try {
        undo();
        changed = false;
      } catch (...) {
      }
    }
    if (!whole || changed) {
      // Rolled back by SQLite, or changed and then failed: without a
      // savepoint only the whole transaction can go, and the call learns.
      const std::string reason = LastFailureReason();
      if (whole) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      ForgetLostTransaction();
      if (InPublicCall()) NoteLostWrite(reason);
      throw;
    }
    if (!InPublicCall()) CommitNoted();
    throw;
  }
  --writeDepth_;
  CommitAfterWrite();
}

std::string LedgerStore::TryCommit() noexcept {
  int rc = SQLITE_OK;
  int sys = 0;
  std::string message;
  if (CommitFault() && CommitFault()()) {
    rc = SQLITE_FULL;
    message = sqlite3_errstr(SQLITE_FULL);
  } else if ((rc = counts_->Flush()) != SQLITE_OK) {
    rc = sqlite3_extended_errcode(db_);
    sys = sqlite3_system_errno(db_);
    message = sqlite3_errmsg(db_);
  } else {
    rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      rc = sqlite3_extended_errcode(db_);
      sys = sqlite3_system_errno(db_);
      message = sqlite3_errmsg(db_);
    }
  }
  if (rc == SQLITE_OK) {
    txIds_.clear();
    recordOpen_ = false;
    return "";
  }
  // The work is gone either way; a transaction SQLite kept open goes too.
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  ForgetLostTransaction();
  return CommitFailureReason(rc, sys, message, path_);
}

void LedgerStore::ForgetLostTransaction() noexcept {
  RaiseIdFloors();
  txIds_.clear();
  recordOpen_ = false;
}

void LedgerStore::RaiseIdFloors() noexcept {
  try {
    std::lock_guard lock(floorMutex);
    for (const auto& [table, id] : txIds_) {
      auto& floor = IdFloors()[path_ + "\n" + table];
      floor = std::max(floor, id);
      anyIdFloor = true;
    }
  } catch (...) {
  }
}

void LedgerStore::Commit() {
  if (writeDepth_ > 0 || dryRun_ != 0) return;
  EndRead();
  if (!InTransaction()) return;
  std::string reason = TryCommit();
  if (reason.empty()) {
    if (InPublicCall()) NoteCommitted();
    return;
  }
  NoteLostWrite(reason);
  ThrowLedgerError("账套不能写入：" + reason);
}

void LedgerStore::CommitNoted() noexcept {
  if (writeDepth_ > 0 || dryRun_ != 0) return;
  EndRead();
  if (!InTransaction()) return;
  std::string reason = TryCommit();
  if (reason.empty()) {
    if (InPublicCall()) NoteCommitted();
  } else {
    NoteLostWrite(reason);
  }
}

void LedgerStore::CommitIfDue() noexcept {
  if (InTransaction() && std::chrono::steady_clock::now() - txStart_ >= kCommitInterval) CommitNoted();
}

bool LedgerStore::HasIdFloor(const std::string& table) const {
  if (!anyIdFloor) return false;
  std::lock_guard lock(floorMutex);
  return IdFloors().count(path_ + "\n" + table) > 0;
}

int64_t LedgerStore::SettleNewId(const std::string& table, const std::string& idField, int64_t inserted) {
  int64_t floor = 0;
  if (anyIdFloor) {
    std::lock_guard lock(floorMutex);
    auto& floors = IdFloors();
    if (auto it = floors.find(path_ + "\n" + table); it != floors.end()) floor = it->second;
  }
  int64_t id = inserted;
  if (id <= floor) {
    id = floor + 1;
    auto q = Prepare("UPDATE " + table + " SET " + idField + " = ? WHERE " + idField + " = ?");
    q.Bind(1, id).Bind(2, inserted).Run();
    // The sequence learns only from inserts; without this, removing the
    // moved row would let its ID come back.
    if (!hasSequence_) hasSequence_ = TableExists("sqlite_sequence");
    if (*hasSequence_) {
      auto seq = Prepare("UPDATE sqlite_sequence SET seq = ? WHERE name = ? AND seq < ?");
      seq.Bind(1, id).Bind(2, table).Bind(3, id).Run();
    }
  }
  auto& most = txIds_[table];
  most = std::max(most, id);
  return id;
}

void LedgerStore::SetCommitFaultForTesting(std::function<bool()> fault) { CommitFault() = std::move(fault); }
void LedgerStore::SetBusyTimeoutForTesting(int milliseconds) {
  busyTimeoutMs = milliseconds > 0 ? milliseconds : kBusyTimeoutMs;
}

std::string LedgerStore::Meta(const std::string& key, const std::string& def) {
  auto q = Prepare("SELECT FValue FROM ledger_meta WHERE FKey = ?");
  q.Bind(1, key);
  return q.Next() ? q.Text(0) : def;
}

void LedgerStore::SetMeta(const std::string& key, const std::string& value) {
  Write([&] {
    auto q = Prepare("INSERT INTO ledger_meta (FKey, FValue) VALUES (?, ?) "
                     "ON CONFLICT (FKey) DO UPDATE SET FValue = excluded.FValue");
    q.Bind(1, key).Bind(2, value).Run();
  });
}

int64_t LedgerStore::CountRows(const std::string& table) {
  auto q = Prepare("SELECT FCount FROM ledger_counts WHERE FTable = ? AND FScope = 0");
  q.Bind(1, table);
  const int64_t stored = q.Next() ? q.Int(0) : 0;
  return stored + counts_->Pending(table, false, 0);
}

int64_t LedgerStore::CountRows(const std::string& table, const std::string& scopeColumn, int64_t scope) {
  auto q = Prepare("SELECT FCount FROM ledger_counts WHERE FTable = ? AND FScope = ?");
  q.Bind(1, table + ":" + scopeColumn).Bind(2, scope);
  const int64_t stored = q.Next() ? q.Int(0) : 0;
  return stored + counts_->Pending(table, true, scope);
}

void CommitThreadStores() noexcept {
  for (auto& [path, weak] : ThreadStores())
    if (auto store = weak.lock()) store->CommitNoted();
}

void CommitDueThreadStores() noexcept {
  for (auto& [path, weak] : ThreadStores())
    if (auto store = weak.lock()) store->CommitIfDue();
}

// ---- Dry runs ----------------------------------------------------------------

namespace {
struct DryRunState {
  int depth = 0;
  uint64_t id = 0;  // of the open one; every dry run has its own
  std::vector<LedgerStorePtr> stores;
};
thread_local DryRunState dryRun;
std::atomic<uint64_t> dryRuns{0};
std::function<bool()>& RollbackFault() {
  static std::function<bool()> fault;
  return fault;
}
}  // namespace

void LedgerStore::SetRollbackFaultForTesting(std::function<bool()> fault) { RollbackFault() = std::move(fault); }

bool InDryRun() { return dryRun.depth > 0; }
uint64_t ThisDryRun() { return dryRun.depth > 0 ? dryRun.id : 0; }

void BeginDryRun() {
  if (dryRun.depth++ > 0) return;
  dryRun.id = ++dryRuns;
  // Work of this thread from before the dry run is not the dry run's.
  CommitThreadStores();
}

void LedgerStore::JoinDryRun() {
  if (!InDryRun() || dryRun_ == dryRun.id) return;
  dryRun_ = dryRun.id;
  dryRun.stores.push_back(shared_from_this());
}

std::string LedgerStore::RollbackDryRun() noexcept {
  if (!InTransaction()) {
    dryRun_ = 0;
    return "";
  }
  if (RollbackFault() && RollbackFault()()) return CommitFailureReason(SQLITE_IOERR, 0, sqlite3_errstr(SQLITE_IOERR));
  if (sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr) != SQLITE_OK && InTransaction())
    return CommitFailureReason(sqlite3_extended_errcode(db_), sqlite3_system_errno(db_), sqlite3_errmsg(db_), path_);
  dryRun_ = 0;
  ForgetLostTransaction();
  return "";
}

void LedgerStore::SettleDryRunLeftover() {
  // Reads would see the leftover's work, writes would join it.
  if (dryRun_ == 0 || dryRun_ == ThisDryRun()) return;
  if (!RollbackDryRun().empty()) ThrowLedgerError("账套不能使用：预演的改动未能撤销");
}

void EndDryRun() {
  if (dryRun.depth == 0 || --dryRun.depth > 0) return;
  auto stores = std::move(dryRun.stores);
  dryRun.stores.clear();
  std::string failed;
  for (auto& store : stores) {
    std::string reason = store->RollbackDryRun();
    if (failed.empty()) failed = reason;
  }
  if (!failed.empty()) ThrowLedgerError("预演的改动未能撤销：" + failed);
}

std::string CountTriggersSql(const std::string& table, const std::string& scopeColumn) {
  const std::string upsert = " ON CONFLICT (FTable, FScope) DO UPDATE SET FCount = FCount + 1;";
  std::string scoped = "'" + table + ":" + scopeColumn + "'";
  std::string sql = "CREATE TRIGGER tc_" + table + "_ins AFTER INSERT ON " + table + " BEGIN\n" +
                    "INSERT INTO ledger_counts VALUES ('" + table + "', 0, 1)" + upsert;
  if (!scopeColumn.empty())
    sql += "INSERT INTO ledger_counts VALUES (" + scoped + ", coalesce(NEW." + scopeColumn + ", 0), 1)" + upsert;
  sql += "END;\nCREATE TRIGGER tc_" + table + "_del AFTER DELETE ON " + table + " BEGIN\n" +
         "UPDATE ledger_counts SET FCount = FCount - 1 WHERE FTable = '" + table + "' AND FScope = 0;";
  if (!scopeColumn.empty())
    sql += "UPDATE ledger_counts SET FCount = FCount - 1 WHERE FTable = " + scoped + " AND FScope = coalesce(OLD." +
           scopeColumn + ", 0);";
  sql += "END;\n";
  if (!scopeColumn.empty()) {
    sql += "CREATE TRIGGER tc_" + table + "_upd AFTER UPDATE OF " + scopeColumn + " ON " + table + " WHEN OLD." +
           scopeColumn + " IS NOT NEW." + scopeColumn + " BEGIN\n" +
           "UPDATE ledger_counts SET FCount = FCount - 1 WHERE FTable = " + scoped + " AND FScope = coalesce(OLD." +
           scopeColumn + ", 0);" + "INSERT INTO ledger_counts VALUES (" + scoped + ", coalesce(NEW." + scopeColumn +
           ", 0), 1)" + upsert + "END;\n";
  }
  return sql;
}

}  // namespace morvent
