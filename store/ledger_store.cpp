#include "store/ledger_store.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>

#include "context/props.h"
#include "front/exchange_log.h"
#include "platform/call_scope.h"
#include "platform/error.h"
#include "store/ledger_schema.h"
#include "store/pg_driver.h"
#include "store/sqlite_driver.h"

namespace morvent {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSource = "MorventLedger";
constexpr size_t kSpareStatements = 4;

// Keeps a finished statement for reuse in the list `spare` answers, or
// finalizes it when enough are kept or keeping it needs memory there is not.
template <class Spare>
void Park(DbStatement* stmt, Spare&& spare) noexcept {
  stmt->Reset();
  stmt->ClearBindings();
  try {
    auto& list = spare();
    if (list.size() < kSpareStatements) {
      list.push_back(stmt);
      return;
    }
  } catch (...) {
  }
  delete stmt;
}

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

// The reason a commit failed, in the user's words with the engine's after
// them.
std::string FailureReason(const DbFailure& f) {
  std::string why;
  switch (f.fault) {
    case DbFault::FileLimit:
      return "账套文件已达到系统允许的大小上限（" + std::string(std::strerror(EFBIG)) + "）";
    case DbFault::DiskFull:
      return "磁盘已满（" + std::string(std::strerror(ENOSPC)) + "）";
    case DbFault::Full:
      why = "磁盘已满";
      break;
    case DbFault::Io:
      why = "读写磁盘出错";
      break;
    case DbFault::Busy:
      why = "账套正被其他程序使用";
      break;
    case DbFault::Conflict:
      why = "与另一个客户端的保存冲突";
      break;
    case DbFault::ReadOnly:
      why = "账套是只读的";
      break;
    case DbFault::Damaged:
      why = "账套文件已损坏";
      break;
    case DbFault::Lost:
      why = "与数据库服务器的连接已断开";
      break;
    default:
      why = "提交失败";
  }
  return why + "（" + f.message + "）";
}

// Whether the last ledger error raised on this thread was a conflict with
// another client's work (RunRecordRetryingConflicts).
thread_local bool conflictRaised = false;

std::function<bool(std::string_view)>& ConflictFault() {
  static std::function<bool(std::string_view)> fault;
  return fault;
}
// A conflict the tests force on a write statement, before it runs.
const DbFailure kForcedConflict{DbFault::Conflict, 0, "deadlock detected"};
bool ForcedConflict(std::string_view sql) { return ConflictFault() && ConflictFault()(sql); }

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

Query::Query(std::shared_ptr<LedgerStore> store, std::string sql, DbStatement* stmt)
    : store_(std::move(store)), sql_(std::move(sql)), text_(sql_), stmt_(stmt) {}

Query::Query(std::shared_ptr<LedgerStore> store, const StatementKey& key, DbStatement* stmt)
    : store_(std::move(store)), slot_(key.Slot()), text_(key.Sql()), stmt_(stmt) {}

Query::Query(Query&& other) noexcept
    : store_(std::move(other.store_)),
      sql_(std::move(other.sql_)),
      slot_(other.slot_),
      text_(other.slot_ == kNoSlot ? std::string_view(sql_) : other.text_),
      stmt_(other.stmt_) {
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
  if (!stmt_->BindInt(index, value)) store_->Fail("bind");
  return *this;
}

Query& Query::Bind(int index, double value) {
  if (!stmt_->BindReal(index, value)) store_->Fail("bind");
  return *this;
}

Query& Query::Bind(int index, std::string_view text) {
  if (!stmt_->BindText(index, text)) store_->Fail("bind");
  return *this;
}

Query& Query::BindNull(int index) {
  if (!stmt_->BindNull(index)) store_->Fail("bind");
  return *this;
}

bool Query::Next() {
  // A write statement that fails without a change was undone by the
  // engine; the counts it added up go with it.
  DbConnection& db = *store_->db_;
  CountKeeper* counts =
      store_->counts_->Keeping() && !stmt_->Running() && !stmt_->ReadOnly() ? store_->counts_ : nullptr;
  int64_t changes = 0;
  if (counts) {
    counts->TakeStatement();
    changes = db.TotalChanges();
  }
  const bool grouped = store_->InTransaction();
  if (!stmt_->Running() && !stmt_->ReadOnly() && ForcedConflict(text_)) {
    if (counts) counts->BackStatement();
    stmt_->Reset();
    store_->FailWith(kForcedConflict, std::string(text_));
  }
  const DbStatement::Step step = stmt_->Next();
  if (step == DbStatement::Step::Row) return true;
  if (step == DbStatement::Step::Done) return false;
  if (counts && db.InTransaction() && db.TotalChanges() == changes) counts->BackStatement();
  stmt_->Reset();
  // Any statement, a read that spilled the cache too, may fail so that
  // the engine rolls the grouped work back: the call must learn it was lost.
  if (grouped && !db.InTransaction()) store_->LostWithStatement();
  store_->Fail(sql_);
}

void Query::Run() {
  while (Next()) {
  }
}

void Query::Reset() { stmt_->Reset(); }

int Query::Columns() const { return stmt_->Columns(); }

std::string Query::ColumnName(int column) const { return stmt_->ColumnName(column); }

Variant Query::Get(int column) const {
  switch (stmt_->ColumnType(column)) {
    case DbStatement::Type::Null:
      return Variant::Null();
    case DbStatement::Type::Integer: {
      int64_t v = stmt_->Int(column);
      if (v >= INT32_MIN && v <= INT32_MAX) return Variant(static_cast<int32_t>(v));
      return Variant(static_cast<double>(v));
    }
    case DbStatement::Type::Real:
      return Variant(stmt_->Real(column));
    default:
      return Variant(Text(column));
  }
}

DbStatement::Type Query::Kind(int column) const { return stmt_->ColumnType(column); }

bool Query::IsNull(int column) const { return stmt_->ColumnType(column) == DbStatement::Type::Null; }
int64_t Query::Int(int column) const { return stmt_->Int(column); }
double Query::Real(int column) const { return stmt_->Real(column); }

std::string Query::Text(int column) const { return std::string(stmt_->Text(column)); }

// ---- LedgerStore: opening --------------------------------------------------

LedgerStore::LedgerStore(std::string path, std::unique_ptr<DbConnection> connection)
    : path_(std::move(path)), db_(std::move(connection)), counts_(&db_->Counts()) {
  // A client waiting on another's lock says so once, instead of hanging
  // silently; the tool shows diagnostics as they come.
  db_->SetWaitNotice([](int seconds) { ReportDiagnostic(WaitingText(seconds)); });
}

std::string WaitingText(int seconds) {
  return "正在等待另一个客户端释放账套（已等待 " + std::to_string(seconds) + " 秒）……";
}

LedgerStore::~LedgerStore() {
  // Work stored by a finished call must survive the last object going away;
  // when it cannot, the call learns of it.
  if (db_->InTransaction()) CommitNoted();  // never a dry run's
  for (auto& [sql, list] : cache_)
    for (auto* s : list) delete s;
  for (auto& list : slots_)
    for (auto* s : list) delete s;
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

std::string LedgerStore::LedgerKey(const std::string& path) {
  if (path.empty()) ThrowLedgerError("属性串中没有指定账套文件（Data Source），无法打开账套");
  const bool server = IsServerSource(path);
  std::error_code ec;
  if (!server && !fs::exists(fs::path(path), ec)) ThrowLedgerError("账套文件不存在：" + path);
  if (!server && !fs::is_regular_file(fs::path(path), ec)) ThrowLedgerError("不是账套文件：" + path);
  // A server is known by its connection string as given.
  return server ? path : CanonicalPath(path);
}

std::shared_ptr<LedgerStore> LedgerStore::ForPathAnyVersion(const std::string& path) {
  return OpenExisting(LedgerKey(path), true);
}

std::shared_ptr<LedgerStore> LedgerStore::ForPath(const std::string& path) {
  std::string key = LedgerKey(path);
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

std::shared_ptr<LedgerStore> LedgerStore::OpenExisting(const std::string& source, bool anyOlderVersion) {
  const bool server = IsServerSource(source);
  OpenedLedger opened = server ? OpenServerLedger(source) : OpenSqliteLedger(source);
  // A server's name in messages never carries its password.
  const std::string path = server ? MaskPassword(source) : source;
  std::shared_ptr<LedgerStore> store(new LedgerStore(path, std::move(opened.connection)));
  const std::optional<uint64_t> version = ParseVersion(opened.storedVersion);
  if (!version || *version < 1) ThrowLedgerError("账套文件已损坏：" + path);
  if (*version > static_cast<uint64_t>(kLedgerSchemaVersion)) RefuseNewerLedger(*store, opened.storedVersion);
  // Never read through a layout this program no longer writes.
  if (*version < static_cast<uint64_t>(kLedgerSchemaVersion) && !anyOlderVersion)
    RefuseOlderLedger(*store, static_cast<int>(*version));
  return store;
}

std::shared_ptr<LedgerStore> LedgerStore::CreateFile(const std::string& path) {
  if (IsServerSource(path))
    return std::shared_ptr<LedgerStore>(new LedgerStore(MaskPassword(path), CreateServerLedger(path)));
  auto connection = CreateSqliteLedger(path);
  return std::shared_ptr<LedgerStore>(new LedgerStore(CanonicalPath(path), std::move(connection)));
}

bool LedgerStore::OnServer() const { return db_->OnServer(); }

void LedgerStore::CreateCountTriggers(const std::string& table, const std::string& scopeColumn) {
  Exec(db_->CountTriggersSql(table, scopeColumn));
}

void LedgerStore::SettleSequences() {
  const std::string sql = db_->SettleSequencesSql();
  if (!sql.empty()) Exec(sql);
}

// ---- LedgerStore: statements -----------------------------------------------

void LedgerStore::LostWithStatement() noexcept {
  lastFailure_ = db_->LastFailure();
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
  return FailureReason(lastFailure_.fault != DbFault::None ? lastFailure_ : db_->LastFailure());
}

void LedgerStore::Fail(const std::string& what) const { FailWith(db_->LastFailure(), what); }

void LedgerStore::FailWith(const DbFailure& failure, const std::string& what) const {
  lastFailure_ = failure;
  const std::string& msg = lastFailure_.message;
  conflictRaised = lastFailure_.fault == DbFault::Conflict;
  switch (lastFailure_.fault) {
    case DbFault::Busy:
      ThrowLedgerError("账套 " + path_ + " 正被其他程序使用，等待超时：" + msg);
    case DbFault::Conflict:
      ThrowLedgerError("账套 " + path_ + " 上的保存与另一个客户端冲突：" + msg);
    case DbFault::ReadOnly:
      ThrowLedgerError("账套 " + path_ + " 是只读的，不能保存：" + msg);
    case DbFault::Damaged:
    case DbFault::NotDatabase:
      ThrowLedgerError("账套文件已损坏：" + path_);
    case DbFault::Full:
    case DbFault::DiskFull:
    case DbFault::FileLimit:
    case DbFault::Io:
    case DbFault::Lost:
      ThrowLedgerError("账套不能写入：" + FailureReason(lastFailure_));
    default:
      break;
  }
  (void)what;
  ThrowLedgerError("账套操作失败：" + msg);
}

DbStatement* LedgerStore::Compile(const char* sql, size_t size) {
  DbStatement* stmt = db_->Prepare(sql, size);
  if (!stmt) Fail(sql);
  return stmt;
}

Query LedgerStore::Prepare(const std::string& sql) {
  SettleDryRunLeftover();
  DbStatement* stmt = nullptr;
  auto it = cache_.find(sql);
  if (it != cache_.end() && !it->second.empty()) {
    stmt = it->second.back();
    it->second.pop_back();
  } else {
    stmt = Compile(sql.c_str(), sql.size());
  }
  Query q(shared_from_this(), sql, stmt);
  if (readsShareTx_) LookOrShareRead(stmt->ReadOnly());
  return q;
}

Query LedgerStore::Prepare(const StatementKey& key) {
  SettleDryRunLeftover();
  Query q = Borrow(key);
  if (readsShareTx_) LookOrShareRead(q.stmt_->ReadOnly());
  return q;
}

Query LedgerStore::Borrow(const StatementKey& key) {
  DbStatement* stmt = nullptr;
  if (key.Slot() < slots_.size() && !slots_[key.Slot()].empty()) {
    stmt = slots_[key.Slot()].back();
    slots_[key.Slot()].pop_back();
  } else {
    stmt = Compile(key.Sql(), std::strlen(key.Sql()));
  }
  return Query(shared_from_this(), key, stmt);
}

void LedgerStore::Release(size_t slot, DbStatement* stmt) noexcept {
  Park(stmt, [&]() -> auto& {
    if (slot >= slots_.size()) slots_.resize(slot + 1);
    return slots_[slot];
  });
}

void LedgerStore::LookOrShareRead(bool readOnly) {
  // A record's lookups decide whether it makes a new object or finds one:
  // they run under the write lock its save will need, so that no other
  // writer can store the same object in between.
  if (readOnly && InRecord() && !InTransaction() && !db_->ReadOnly()) {
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
  if (!db_->InTransaction()) {
    if (InPublicCall() && db_->Exec("BEGIN")) readTx_ = true;
  } else if (readTx_ && !InPublicCall()) {
    // Left over from a call whose end hook never ran: read afresh.
    EndRead();
  }
}

void LedgerStore::EndRead() noexcept {
  if (!readTx_) return;
  readTx_ = false;
  if (!db_->InTransaction()) return;
  if (!db_->Exec("COMMIT"))
    db_->Exec("ROLLBACK");
}

void LedgerStore::Release(const std::string& sql, DbStatement* stmt) noexcept {
  Park(stmt, [&]() -> auto& { return cache_[sql]; });
}

void LedgerStore::Exec(const std::string& sql) {
  ++writeEpoch_;
  EndRead();
  CountByTriggers();
  const bool counting = counts_->Keeping();
  const int64_t changes = db_->TotalChanges();
  if (counting) counts_->TakeStatement();
  if (ForcedConflict(sql)) {
    if (counting) counts_->BackStatement();
    FailWith(kForcedConflict, sql);
  }
  if (!db_->Exec(sql.c_str())) {
    if (counting && InTransaction() && db_->TotalChanges() == changes) counts_->BackStatement();
    Fail(sql);
  }
}

void LedgerStore::CountByTriggers() noexcept {
  if (counts_->Keeping() && !db_->InTransaction()) counts_->Keep(false);
}

int64_t LedgerStore::LastInsertId() const { return db_->LastInsertId(); }
int LedgerStore::Changes() const { return db_->Changes(); }

void LedgerStore::StampVersion(int version) {
  const std::string sql = db_->StampVersionSql(version);
  if (!sql.empty()) Exec(sql);
}

bool LedgerStore::TableExists(const std::string& table) {
  auto q = Prepare(db_->TableExistsSql());
  q.Bind(1, table);
  return q.Next();
}

// ---- LedgerStore: transactions ---------------------------------------------

bool LedgerStore::InTransaction() const { return !readTx_ && db_->InTransaction(); }

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
  db_->BeforeFirstWrite();
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
  if (!db_->InTransaction()) return;  // SQLite already rolled everything back
  db_->Exec("ROLLBACK TO w; RELEASE w");
  if (mark) counts_->Back(*mark);
}

void LedgerStore::JoinOpenRecord() {
  // A record sent ahead needs no savepoint of its own: when it fails, its
  // whole window goes back (see BeginAhead).
  recordAhead_ = ahead_;
  static const StatementKey savepoint("SAVEPOINT r");
  if (!recordAhead_) Borrow(savepoint).Run();
  counts_->TakeInto(recordMark_);
  recordOpen_ = true;
  JoinRecord(shared_from_this());
}

void LedgerStore::RecordEnds(bool undo) noexcept {
  if (!recordOpen_) return;  // committed or lost since it was opened
  recordOpen_ = false;
  if (!db_->InTransaction() || recordAhead_) return;
  static const StatementKey release("RELEASE r");
  if (!undo)
    Keep(release);
  else
    UndoTo("ROLLBACK TO r; RELEASE r", recordMark_);
}

void LedgerStore::Keep(const StatementKey& release) noexcept {
  try {
    Borrow(release).Run();
  } catch (...) {
    // A savepoint that cannot be released stays inside the transaction,
    // which the next commit takes whole.
  }
}

bool LedgerStore::UndoTo(const char* rollback, const CountKeeper::Mark& mark) noexcept {
  ++writeEpoch_;
  if (!db_->Exec(rollback)) return false;
  counts_->Back(mark);
  // The rollback gave the IDs back to SQLite; objects or caches that saw
  // them must never find them naming another object. The floors take the
  // transaction's highest: the rows still there lie below it too.
  RaiseIdFloors();
  return true;
}

bool LedgerStore::BeginAhead() noexcept {
  if (ahead_) return true;
  if (!db_->CanSendAhead() || writeDepth_ > 0 || recordOpen_ || !InPublicCall() || LostWritePending()) return false;
  try {
    SettleDryRunLeftover();
    if (!InTransaction()) Begin();
    JoinDryRun();
    static const StatementKey savepoint("SAVEPOINT k");
    Borrow(savepoint).Run();
  } catch (...) {
    return false;
  }
  counts_->TakeInto(aheadMark_);
  db_->SendAhead(true);
  ahead_ = true;
  return true;
}

bool LedgerStore::SettleAhead() noexcept { return !ahead_ || db_->Settle(); }

void LedgerStore::EndAhead(bool undo) noexcept {
  if (!ahead_) return;
  ahead_ = false;
  db_->SendAhead(false);
  static const StatementKey release("RELEASE k");
  if (!undo) {
    Keep(release);
    return;
  }
  recordOpen_ = false;
  if (UndoTo("ROLLBACK TO k; RELEASE k", aheadMark_)) return;
  // The connection or the transaction went with what was sent.
  lastFailure_ = db_->LastFailure();
  const std::string reason = LastFailureReason();
  if (db_->InTransaction()) db_->Exec("ROLLBACK");
  ForgetLostTransaction();
  NoteLostWrite(reason);
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
  const int64_t before = db_->TotalChanges();
  ++writeDepth_;
  try {
    fn();
  } catch (...) {
    --writeDepth_;
    const bool whole = InTransaction();
    bool changed = whole && db_->TotalChanges() != before;
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
      if (whole) db_->Exec("ROLLBACK");
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
  DbFailure failure;
  if (CommitFault() && CommitFault()()) {
    failure = {DbFault::Full, 0, "database or disk is full"};
  } else if (!counts_->Flush() || !db_->Exec("COMMIT")) {
    failure = db_->LastFailure();
  }
  if (failure.fault == DbFault::None) {
    txIds_.clear();
    recordOpen_ = false;
    return "";
  }
  // The work is gone either way; a transaction SQLite kept open goes too.
  if (db_->InTransaction()) db_->Exec("ROLLBACK");
  ForgetLostTransaction();
  return FailureReason(failure);
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
  if (writeDepth_ > 0 || dryRun_ != 0 || ahead_) return;
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
  if (writeDepth_ > 0 || dryRun_ != 0 || ahead_) return;
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
  // A server's sequences never hand out an ID twice, and IDs sent ahead
  // come from them out of the order of the inserts.
  if (anyIdFloor && !db_->OnServer()) {
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
    if (!hasSequence_) hasSequence_ = db_->SequenceTable() && TableExists(db_->SequenceTable());
    if (*hasSequence_) {
      auto seq = Prepare(db_->RaiseSequenceSql());
      seq.Bind(1, id).Bind(2, table).Run();
    }
  }
  auto& most = txIds_[table];
  most = std::max(most, id);
  return id;
}

void LedgerStore::SetCommitFaultForTesting(std::function<bool()> fault) { CommitFault() = std::move(fault); }
void LedgerStore::SetConflictFaultForTesting(std::function<bool(std::string_view sql)> fault) {
  ConflictFault() = std::move(fault);
}

void RunRecordRetryingConflicts(const std::function<void()>& record) {
  for (int retries = 0;; ++retries) {
    conflictRaised = false;
    try {
      record();
      return;
    } catch (const Error& e) {
      // A record inside another is run again with the outermost one.
      if (!conflictRaised || InRecord()) throw;
      conflictRaised = false;
      if (retries == kConflictRetries)
        throw Error(e.Number(), e.Source(), e.Description() + "（已重试 " + std::to_string(retries) + " 次）");
      // The records before this one are whole: committed, they let the
      // other client go on, and the record runs again on what it left.
      CommitThreadStores();
    }
  }
}
void LedgerStore::SetBusyTimeoutForTesting(int milliseconds) { SetSqliteBusyTimeout(milliseconds); }

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
  auto q = Prepare(db_->CountRowsSql());
  q.Bind(1, table).Bind(2, int64_t{0});
  const int64_t stored = q.Next() ? q.Int(0) : 0;
  return stored + counts_->Pending(table, false, 0);
}

int64_t LedgerStore::CountRows(const std::string& table, const std::string& scopeColumn, int64_t scope) {
  auto q = Prepare(db_->CountRowsSql());
  q.Bind(1, table + ":" + scopeColumn).Bind(2, scope);
  const int64_t stored = q.Next() ? q.Int(0) : 0;
  return stored + counts_->Pending(table, true, scope);
}

void CommitThreadStores() noexcept {
  for (auto& [path, weak] : ThreadStores())
    if (auto store = weak.lock()) store->CommitNoted();
}

bool BeginThreadAhead() noexcept {
  bool any = false;
  for (auto& [path, weak] : ThreadStores())
    if (auto store = weak.lock()) any = store->BeginAhead() || any;
  return any;
}

bool SettleThreadAhead() noexcept {
  bool whole = true;
  for (auto& [path, weak] : ThreadStores())
    if (auto store = weak.lock()) whole = store->SettleAhead() && whole;
  return whole;
}

void EndThreadAhead(bool undo) noexcept {
  for (auto& [path, weak] : ThreadStores())
    if (auto store = weak.lock()) store->EndAhead(undo);
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
  if (RollbackFault() && RollbackFault()()) return FailureReason({DbFault::Io, 0, "disk I/O error"});
  if (!db_->Exec("ROLLBACK") && InTransaction()) return FailureReason(db_->LastFailure());
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
