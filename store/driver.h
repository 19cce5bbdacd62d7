#pragma once
// The seam between LedgerStore and a database engine. LedgerStore keeps the
// ledger's rules (grouped commits, record savepoints, dry runs, lost IDs);
// a driver only runs statements and says what went wrong, in the classes
// below, so that the store words every failure the same on every engine.
// What an engine does its own way (opening and checking a ledger, journal
// settings, how row counts are kept, sequences) lives in its driver.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace morvent {

class CountKeeper;

// Why a statement, a commit or an opening failed.
enum class DbFault {
  None,         // nothing failed
  Busy,         // another program holds the ledger (a lock wait ran out)
  Conflict,     // another client's work clashed with this transaction's
                // (a deadlock, a serialization failure): the work may run again
  Full,         // the medium is full (the engine says so, the room is there)
  DiskFull,     // the disk the ledger lives on has no room left
  FileLimit,    // the ledger file reached the size the system allows
  Io,           // reading or writing the medium failed
  ReadOnly,     // the ledger cannot be written
  Damaged,      // the ledger's storage is damaged
  NotDatabase,  // not a database of this engine at all
  Lost,         // the connection to the server is gone
  Other,        // anything else: a constraint, a misuse, ...
};

struct DbFailure {
  DbFault fault = DbFault::None;
  int sys = 0;          // errno the engine kept (0: none)
  std::string message;  // the engine's own words
};

// One prepared statement; parameters 1-based, columns 0-based.
class DbStatement {
 public:
  virtual ~DbStatement() = default;
  // Each answers false when the engine refused the binding.
  virtual bool BindInt(int index, int64_t value) = 0;
  virtual bool BindReal(int index, double value) = 0;
  virtual bool BindText(int index, std::string_view text) = 0;
  virtual bool BindNull(int index) = 0;

  enum class Step { Row, Done, Failed };
  virtual Step Next() = 0;
  // Rewinds (bindings kept) / forgets the bindings.
  virtual void Reset() = 0;
  virtual void ClearBindings() = 0;
  // Stepped at least once and not yet reset.
  virtual bool Running() const = 0;
  // Changes nothing in the ledger.
  virtual bool ReadOnly() const = 0;

  enum class Type { Null, Integer, Real, Text };
  virtual int Columns() const = 0;
  virtual std::string ColumnName(int column) const = 0;
  virtual Type ColumnType(int column) const = 0;
  virtual int64_t Int(int column) const = 0;
  virtual double Real(int column) const = 0;
  virtual std::string_view Text(int column) const = 0;
};

// One connection to one ledger. Used by one thread only. A statement that
// fails inside a transaction undoes its own changes only and leaves the
// transaction open, unless the engine had to roll all of it back (then
// InTransaction() answers false).
class DbConnection {
 public:
  virtual ~DbConnection() = default;

  // A new statement (the caller owns it), or nullptr with LastFailure set.
  virtual DbStatement* Prepare(const char* sql, size_t size) = 0;
  // Runs SQL text of one or more statements; false on failure.
  virtual bool Exec(const char* sql) = 0;
  // The failure the connection reports now.
  virtual DbFailure LastFailure() const = 0;

  // Whether a transaction is open (begun and neither committed nor rolled
  // back, by us or by the engine on its own).
  virtual bool InTransaction() const = 0;
  // Whether the ledger was opened for reading only.
  virtual bool ReadOnly() const = 0;
  virtual int64_t LastInsertId() const = 0;
  // Rows changed by the last statement, and by every statement so far.
  virtual int Changes() const = 0;
  virtual int64_t TotalChanges() const = 0;

  // The rows of counted tables this connection adds up itself while it
  // holds grouped work (see store/ledger_counts.h).
  virtual CountKeeper& Counts() = 0;
  // Before the connection's first write transaction begins.
  virtual void BeforeFirstWrite() = 0;
  // SQL recording the ledger's mark and schema version where the engine
  // keeps them outside ledger_meta (the file header, say); empty for none.
  virtual std::string StampVersionSql(int version) const = 0;

  // A query answering the stored count of ?1 (a counted table, or
  // "table:column" for one scope) and scope ?2, with what this connection's
  // open transaction added when the engine keeps that apart; no row: 0.
  virtual const char* CountRowsSql() const = 0;
  // A query answering one row when the table named by ?1 exists.
  virtual const char* TableExistsSql() const = 0;
  // The table remembering the highest ID of AUTOINCREMENT tables, and an
  // update that raises one (?1 the ID, ?2 the table) when it is lower;
  // nullptr when IDs are never handed out twice without it.
  virtual const char* SequenceTable() const = 0;
  virtual const char* RaiseSequenceSql() const = 0;

  // SQL creating what keeps ledger_counts right for a table's rows, for
  // every client of the ledger (see CountTriggersSql in ledger_store.h).
  virtual std::string CountTriggersSql(const std::string& table, const std::string& scopeColumn) const = 0;
  // SQL run once rows were inserted with IDs of their own (a new ledger's
  // seeds): the engine's next IDs must lie past them. Empty for none.
  virtual std::string SettleSequencesSql() const = 0;
  // Whether the ledger lives on a database server (not in a file).
  virtual bool OnServer() const = 0;

  // Sending ahead, for an engine whose answers come over a wire. While it
  // is on, an insert of one row is sent without waiting for its answer and
  // taken as done (one row changed, its new ID known); any other statement
  // first waits for every answer outstanding. Settle waits for them all
  // and answers false (LastFailure says why) when one failed: the
  // transaction then refuses every statement but a rollback to a
  // savepoint set before the failure.
  virtual bool CanSendAhead() const { return false; }
  virtual void SendAhead(bool on) { (void)on; }
  virtual bool Settle() { return true; }

  // Called once per wait for another client's lock (a busy ledger file, a
  // row another transaction holds) when it has lasted kWaitNoticeAfter,
  // with the whole seconds waited so far; the wait goes on after it.
  using WaitNotice = std::function<void(int seconds)>;
  void SetWaitNotice(WaitNotice notice) { waitNotice_ = std::move(notice); }
  static constexpr std::chrono::milliseconds kWaitNoticeAfter{1000};

 protected:
  // One wait for a lock: the driver starts one per statement that may
  // have to wait and asks Waited as the wait goes on.
  class Wait {
   public:
    explicit Wait(const DbConnection& conn) : conn_(conn), start_(std::chrono::steady_clock::now()) {}
    // Tells the notice once the wait is long enough; answers the time
    // waited so far.
    std::chrono::steady_clock::duration Waited() {
      const auto waited = std::chrono::steady_clock::now() - start_;
      if (!told_ && waited >= kWaitNoticeAfter) {
        told_ = true;
        if (conn_.waitNotice_)
          conn_.waitNotice_(static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(waited).count()));
      }
      return waited;
    }

   private:
    const DbConnection& conn_;
    std::chrono::steady_clock::time_point start_;
    bool told_ = false;
  };

 private:
  WaitNotice waitNotice_;
};

// A ledger's connection just opened and the schema version it holds.
struct OpenedLedger {
  std::unique_ptr<DbConnection> connection;
  std::string storedVersion;  // ledger_meta's schema_version, as stored
};

}  // namespace morvent
