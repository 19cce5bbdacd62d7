#pragma once
// The one narrow storage layer of the ledger. Every SQL statement of the
// ledger (core sets and item side alike) goes through LedgerStore; the
// engine behind it is a driver (store/driver.h), today SQLite's
// (store/sqlite_driver.h), and nothing above this header knows which.
//
// One store is one connection to one ledger file. Stores are shared per
// thread: every object created on a thread for the same ledger file uses the
// same store, which stays open while any object holds it. A store and the
// objects made from it belong to the thread that made them.
//
// Durability: each Write() is atomic (a SAVEPOINT). Outside a public call a
// Write() commits at once. Inside a public call (platform/call_scope.h)
// consecutive writes are grouped into one transaction, committed once a
// quarter second has passed, but only between records (at the end of a
// RecordScope, or at a write outside any record), before the client is
// asked anything and, at the latest, when the outermost public call ends.
//
// A commit that fails rolls the whole transaction back. Outside a call the
// failure is raised; inside one it is noted (NoteLostWrite), later writes
// of the call are refused, and the walk or front end reports it once. IDs
// handed out in a lost transaction are never handed out again by this
// process (SettleNewId), so a stale ID cannot name another object.
//
// Records: inside a walk's record (RecordScope, platform/call_scope.h) the
// first write opens a savepoint for the whole record. When the record ends
// well it is released; when the record fails, everything it stored is rolled
// back to it, the counts with it, and the IDs it handed out are treated as
// lost ones (never handed out again). A commit inside a record (a client
// wait) settles what came before.
//
// Dry runs: while one is open on a thread (BeginDryRun), a store of that
// thread that begins a transaction keeps it to the end of the dry run and
// never commits it; EndDryRun rolls it back. The dry run holds its stores,
// so calls within it share their connections and see each other's work.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/call_scope.h"
#include "platform/variant.h"
#include "store/driver.h"
#include "store/ledger_counts.h"

namespace morvent {

class LedgerStore;

// A statement text with a slot of its own in every store's statement cache:
// a call site that keeps one (a function-local static) borrows its statement
// without the text being hashed and compared on every use. The text must
// outlive the key (a literal does).
class StatementKey {
 public:
  explicit StatementKey(const char* sql);
  const char* Sql() const { return sql_; }
  size_t Slot() const { return slot_; }

 private:
  const char* sql_;
  size_t slot_;
};

// A prepared statement borrowed from the store's cache; it goes back to the
// cache (reset, bindings cleared) when the Query is destroyed. A Query keeps
// its store alive.
class Query {
 public:
  Query(std::shared_ptr<LedgerStore> store, std::string sql, DbStatement* stmt);
  Query(std::shared_ptr<LedgerStore> store, const StatementKey& key, DbStatement* stmt);
  Query(Query&& other) noexcept;
  Query& operator=(Query&&) = delete;
  Query(const Query&) = delete;
  ~Query();

  // Parameters are 1-based. Empty and Null bind NULL; Boolean binds 0/1;
  // Date binds its serial number; an object cannot be bound.
  Query& Bind(int index, const Variant& value);
  Query& Bind(int index, int64_t value);
  Query& Bind(int index, int32_t value) { return Bind(index, static_cast<int64_t>(value)); }
  Query& Bind(int index, double value);
  Query& Bind(int index, std::string_view text);
  Query& Bind(int index, const char* text) { return Bind(index, std::string_view(text)); }
  Query& Bind(int index, const std::string& text) { return Bind(index, std::string_view(text)); }
  Query& BindNull(int index);

  // Steps once; true when a row is available. Failures raise Error.
  bool Next();
  // Steps to the end (statements that return no rows).
  void Run();
  // Rewinds so the statement can run again with the same bindings.
  void Reset();

  int Columns() const;
  std::string ColumnName(int column) const;
  // 0-based columns of the current row. NULL reads as Variant::Null(); an
  // integer as Long (Double when it does not fit 32 bits); real as Double.
  Variant Get(int column) const;
  // The column's type as stored (Integer keeps 64 bits, unlike Get).
  DbStatement::Type Kind(int column) const;
  bool IsNull(int column) const;
  int64_t Int(int column) const;
  double Real(int column) const;
  std::string Text(int column) const;

 private:
  friend class LedgerStore;
  static constexpr size_t kNoSlot = static_cast<size_t>(-1);
  std::shared_ptr<LedgerStore> store_;
  std::string sql_;  // empty when the statement has a slot
  size_t slot_ = kNoSlot;
  std::string_view text_;  // the statement's SQL (sql_ or the key's)
  DbStatement* stmt_;
};

class LedgerStore : public std::enable_shared_from_this<LedgerStore>, public RecordParty {
 public:
  // The thread's store of the ledger named by the property string's
  // "Data Source" key: a ledger file, or a PostgreSQL server's database when
  // the value is a connection URI or key/value string (IsServerSource).
  // Raises a Chinese error naming the path when the key is missing, the file
  // does not exist or is not a ledger; never creates a file.
  static std::shared_ptr<LedgerStore> ForProps(const std::string& propsString);
  // The thread's store of the ledger file at path (same checks). A ledger
  // of an older schema version is refused with the command that upgrades it.
  static std::shared_ptr<LedgerStore> ForPath(const std::string& path);
  // A store of its own, for upgrading or describing a ledger: the same
  // checks, except that a ledger of an older schema version opens as it is
  // (Meta("schema_version") tells which). Nothing else may use it.
  static std::shared_ptr<LedgerStore> ForPathAnyVersion(const std::string& path);
  // Opens a brand-new file for CreateLedger; refuses an existing path (or a
  // server database that already holds tables). The store is not shared
  // until the ledger is complete.
  static std::shared_ptr<LedgerStore> CreateFile(const std::string& path);

  ~LedgerStore();
  LedgerStore(const LedgerStore&) = delete;
  LedgerStore& operator=(const LedgerStore&) = delete;

  // The ledger's file, or its server's connection string with the
  // password masked: the name messages give it.
  const std::string& Path() const { return path_; }
  // Whether the ledger lives on a database server.
  bool OnServer() const;

  // A cached prepared statement; one SQL text may be borrowed several times
  // at once (each borrower gets its own statement).
  Query Prepare(const std::string& sql);
  // The same, served from the key's own slot.
  Query Prepare(const StatementKey& key);
  // Runs SQL text (several statements allowed) without caching.
  void Exec(const std::string& sql);
  int64_t LastInsertId() const;
  int Changes() const;
  bool TableExists(const std::string& table);
  // Records the ledger's mark and schema version wherever the engine keeps
  // them beside ledger_meta.
  void StampVersion(int version);
  // Creates what keeps the table's row counts (see CountTriggersSql) in the
  // engine's own form.
  void CreateCountTriggers(const std::string& table, const std::string& scopeColumn = "");
  // After rows were inserted with IDs of their own: new IDs follow them.
  void SettleSequences();

  // Runs fn as one atomic unit of storing (see the durability note above).
  // When fn throws, everything it stored is rolled back and the error passes.
  // Inside a call whose earlier commit failed, refused before fn runs.
  void Write(const std::function<void()>& fn);
  // Write for a save of one statement that changes the ledger (reads
  // around it are free): that statement is atomic by itself, so no savepoint
  // is taken. Should fn throw after its change, undo (one statement, when
  // given) takes the change back; when there is none or it fails too, the
  // whole grouped transaction is rolled back and noted as a lost write, as a
  // failed commit is, so nothing half-done stays.
  void WriteOne(const std::function<void()>& fn, const std::function<void()>& undo = nullptr);
  // Commits the grouped work now, if any. A failure rolls the transaction
  // back, is noted for the call (if any) and raised.
  void Commit();
  // The same for hooks and closing: the failure is only noted.
  void CommitNoted() noexcept;
  // Commits when the quarter second is up and no record is open.
  void CommitIfDue() noexcept;
  // Whether grouped writes are open (a read transaction does not count).
  bool InTransaction() const;
  // Moves on whenever a write transaction begins, a savepoint is rolled back
  // or raw SQL runs: while it stands and the transaction is open, what this
  // connection's objects stored is still there.
  uint64_t WriteEpoch() const { return writeEpoch_; }

  // The ID of a row just inserted into table (its rowid), moved above every
  // ID this process handed out for table in a transaction that was lost.
  int64_t SettleNewId(const std::string& table, const std::string& idField, int64_t inserted);
  // Whether this process lost an ID of the table in this ledger, so that a
  // new row's ID may have to move (a second statement).
  bool HasIdFloor(const std::string& table) const;

  // Small key/value facts about the ledger (kind, schema version, ...).
  std::string Meta(const std::string& key, const std::string& def = "");
  void SetMeta(const std::string& key, const std::string& value);

  // Live row count of a counted table (see CountTriggersSql); costs one index
  // lookup instead of a table scan. Counts this connection's open
  // transaction has changed but not yet written are included.
  int64_t CountRows(const std::string& table);
  // The rows of the table whose scope column holds the value (an item
  // class, a unit group).
  int64_t CountRows(const std::string& table, const std::string& scopeColumn, int64_t scope);

  // How long grouped writes may stay uncommitted inside a public call.
  static constexpr std::chrono::milliseconds kCommitInterval{250};

  // The record's savepoint: released (undo false) or rolled back.
  void RecordEnds(bool undo) noexcept override;

  // Records sent ahead (a server's pipeline; see SendAhead in
  // store/driver.h): from BeginAhead on, inserts go out without waiting
  // for their answers and nothing is committed. SettleAhead waits for them
  // all and answers whether every one succeeded; EndAhead keeps the work
  // since BeginAhead or (undo) takes all of it back, counts and IDs as a
  // record's rollback does. BeginAhead answers false when the engine
  // cannot send ahead or a write or record is open.
  bool BeginAhead() noexcept;
  bool Ahead() const { return ahead_; }
  bool SettleAhead() noexcept;
  void EndAhead(bool undo) noexcept;

  // Tests only: a fault answering true makes that commit fail as a full
  // disk would (nullptr: none); and a shorter wait for locked ledgers.
  static void SetCommitFaultForTesting(std::function<bool()> fault);
  static void SetBusyTimeoutForTesting(int milliseconds);
  // Tests only: a fault answering true makes a dry run's rollback fail.
  static void SetRollbackFaultForTesting(std::function<bool()> fault);
  // Tests only: a fault answering true for a write statement's SQL makes
  // it fail, before it runs, as another client's deadlock would.
  static void SetConflictFaultForTesting(std::function<bool(std::string_view sql)> fault);

 private:
  friend class Query;
  static std::shared_ptr<LedgerStore> ForPropsUncached(const std::string& propsString);
  LedgerStore(std::string path, std::unique_ptr<DbConnection> connection);
  static std::shared_ptr<LedgerStore> OpenExisting(const std::string& canonicalPath, bool anyOlderVersion = false);
  // The canonical key of a path that must name a ledger (the usual checks).
  static std::string LedgerKey(const std::string& path);
  void Release(const std::string& sql, DbStatement* stmt) noexcept;
  void Release(size_t slot, DbStatement* stmt) noexcept;
  DbStatement* Compile(const char* sql, size_t size);
  // A slot's statement without the read sharing below (transaction control).
  Query Borrow(const StatementKey& key);
  // Inside a public call, every read of the call shares one read
  // transaction: a snapshot of the WAL is taken once, not per statement.
  // It ends when the call does, before a write and before a client wait.
  // readOnly: the statement about to run only reads.
  void ShareRead(bool readOnly) noexcept;
  // The same, except that a lookup inside a record (InRecord) begins the
  // write transaction (a read-only connection: the shared read).
  void LookOrShareRead(bool readOnly);
  void EndRead() noexcept;
  void CommitAfterWrite();
  void Begin();
  void RollbackTo() noexcept;
  // Runs a rollback to a savepoint and comes back to the counts of its
  // mark; false (nothing else done) when the rollback failed.
  bool UndoTo(const char* rollback, const CountKeeper::Mark& mark) noexcept;
  // Releases a savepoint, keeping its work; one that cannot be released
  // stays, and the next commit takes it whole.
  void Keep(const StatementKey& release) noexcept;
  // Runs COMMIT; on failure rolls back, forgets the transaction's IDs into
  // the process's floors and answers the reason; empty on success.
  std::string TryCommit() noexcept;
  // Moves the IDs of a transaction that was rolled back into the floors.
  void ForgetLostTransaction() noexcept;
  // Moves the floors above every ID handed out in the open transaction.
  void RaiseIdFloors() noexcept;
  [[noreturn]] void Fail(const std::string& what) const;
  [[noreturn]] void FailWith(const DbFailure& failure, const std::string& what) const;
  // A statement failed and SQLite rolled the grouped transaction back with
  // it: the IDs are forgotten and the call notes the lost write.
  void LostWithStatement() noexcept;
  // Why the last statement that failed did, in CommitFailureReason's words.
  std::string LastFailureReason() const;
  friend void EndDryRun();
  // Takes the open transaction into the thread's dry run, if any (once).
  void JoinDryRun();
  // Rolls the dry run's transaction back; answers the reason it failed, or
  // empty. A transaction that could not be rolled back stays marked, so it
  // is never committed (closing the connection drops it).
  std::string RollbackDryRun() noexcept;
  // Before any other use: rolls back a transaction left by an earlier dry
  // run whose rollback failed, or raises when it still cannot.
  void SettleDryRunLeftover();

  std::string path_;
  std::unique_ptr<DbConnection> db_;
  std::map<std::string, std::vector<DbStatement*>, std::less<>> cache_;
  int writeDepth_ = 0;
  std::chrono::steady_clock::time_point txStart_{};
  // The highest ID handed out per table in the open transaction.
  std::map<std::string, int64_t> txIds_;
  std::optional<bool> hasSequence_;  // tables with AUTOINCREMENT (new ledgers)
  uint64_t dryRun_ = 0;  // the dry run the open transaction belongs to (0: none)
  std::vector<std::vector<DbStatement*>> slots_;  // by StatementKey::Slot
  bool readsShareTx_ = false;  // set once the store is opened and shared
  bool readTx_ = false;        // the open transaction only reads
  // Counts written by this connection in grouped transactions (the
  // driver's); the sums of each open savepoint, to come back to when it is
  // rolled back.
  CountKeeper* counts_;
  std::vector<CountKeeper::Mark> countMarks_;
  uint64_t writeEpoch_ = 0;
  // What the last failing statement left (None: none since the write began).
  mutable DbFailure lastFailure_;
  // Opens the record's savepoint at its first write inside a record.
  void JoinOpenRecord();
  bool recordOpen_ = false;          // the open record's savepoint stands
  bool ahead_ = false;               // between BeginAhead and EndAhead
  bool recordAhead_ = false;         // the open record was opened ahead
  CountKeeper::Mark aheadMark_;      // the sums at BeginAhead
  CountKeeper::Mark recordMark_;     // the sums when it was opened
  // Before a write that begins outside a transaction: triggers count it.
  void CountByTriggers() noexcept;
};
using LedgerStorePtr = std::shared_ptr<LedgerStore>;

// Commits every store of the calling thread; the ledger's call-end and
// client-wait hook. Failures are noted for the call, not raised.
void CommitThreadStores() noexcept;
// Commits the stores of the calling thread whose quarter second is up; the
// ledger's record-end hook.
void CommitDueThreadStores() noexcept;

// BeginAhead, SettleAhead and EndAhead on every store of the calling
// thread; BeginThreadAhead answers whether any of them sends ahead.
bool BeginThreadAhead() noexcept;
bool SettleThreadAhead() noexcept;
void EndThreadAhead(bool undo) noexcept;

// Opens a dry run on the calling thread (nested ones join the outer one).
void BeginDryRun();
// Closes it; the outermost rolls back every transaction of the dry run and
// raises the ledger's error naming the reason when one could not be rolled
// back.
void EndDryRun();
bool InDryRun();
// The open dry run's own number (0: none).
uint64_t ThisDryRun();

// Runs one record of a walk (record opens its RecordScope). When another
// client's work clashed with the record's (a deadlock, a serialization
// failure on the server), the error undid the record; what the call stored
// before it is committed, so that the other client can go on, and the
// record runs again, at most kConflictRetries times. The error after the
// last says how often it was retried. A commit that fails is the call's
// lost write, as ever, and the record's next run is refused.
inline constexpr int kConflictRetries = 3;
void RunRecordRetryingConflicts(const std::function<void()>& record);

// What a store reports (ReportDiagnostic) once per wait for another
// client's lock that lasts a second or more, seconds the time waited then.
std::string WaitingText(int seconds);

// Raises the ledger's own error (number kErrLedger) with a Chinese text.
[[noreturn]] void ThrowLedgerError(const std::string& description);

// SQL creating the triggers that keep ledger_counts up to date for a table;
// scopeColumn (may be empty) counts per value of that column as well.
std::string CountTriggersSql(const std::string& table, const std::string& scopeColumn = "");

}  // namespace morvent
