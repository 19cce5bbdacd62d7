#pragma once
// Row counts of the counted tables (ledger_counts) kept by the connection
// itself while it holds a grouped write transaction.
//
// Count triggers keep ledger_counts right for every writer of the file, but
// they cost each inserted row two upserts, about a third of an import. While
// a store holds a transaction grouped inside a public call, its connection
// compiles the count triggers without their writes to ledger_counts (an
// authorizer leaves them out); every other trigger of the file, another
// program's included, fires as always. A pre-update hook adds up every
// counted row it inserts, deletes or moves to another scope, and the sums
// are written to ledger_counts in the same transaction, just before it
// commits. Other connections, and this one outside grouped transactions,
// keep the triggers.
//
// What SQLite undoes, the sums forget: a savepoint rolled back, a statement
// that failed without a change, a transaction rolled back. A commit that
// would leave sums unwritten is refused (SQLite rolls it back instead), so
// the counts never fall behind the rows.
#include <cstdint>
#include <string_view>
#include <vector>

struct sqlite3;

namespace morvent {

class CountKeeper {
 public:
  // A counted table and, when it is counted per value of a column as well,
  // that column. Every count trigger of a ledger has its entry here.
  struct Counted {
    const char* table;
    const char* scopeColumn;  // "" when counted as a whole only
  };
  static const std::vector<Counted>& Tables();
  // Whether a trigger of that name is one of the ledger's count triggers.
  static bool IsCountTrigger(const char* name);

  // db nullptr: a connection whose counts the triggers always keep.
  explicit CountKeeper(sqlite3* db);
  ~CountKeeper();
  CountKeeper(const CountKeeper&) = delete;
  CountKeeper& operator=(const CountKeeper&) = delete;

  // On: the count triggers of this connection silent, the hook adding up.
  // Off: the reverse; nothing may be left unwritten. A switch expires the
  // connection's prepared statements (SQLite prepares them again on their
  // next run), so callers switch only when the mode must change.
  void Keep(bool on);
  bool Keeping() const { return keeping_; }

  struct Sum {
    int table;       // index into Tables()
    bool scoped;     // false: the table's own count
    int64_t scope;
    int64_t delta;
  };
  using Mark = std::vector<Sum>;
  // The sums now, to come back to after a rollback to a savepoint.
  Mark Take() const { return sums_; }
  void Back(const Mark& mark) { sums_ = mark; }
  // Take into a mark kept for reuse (once per record: no allocation).
  void TakeInto(Mark& mark) const { mark = sums_; }
  // The same for the one write statement running: taken before its first
  // step, restored when it fails without a change.
  void TakeStatement() { statement_ = sums_; }
  void BackStatement() { sums_ = statement_; }
  // Forgets every sum (the transaction is gone).
  void Clear() { sums_.clear(); }

  // Writes the sums into ledger_counts and forgets them; runs inside the
  // transaction, before COMMIT. False when a write failed (the
  // connection's error tells why).
  bool Flush();

  // The change to a count not yet written (scoped false: the table's own).
  int64_t Pending(std::string_view table, bool scoped, int64_t scope) const;

 private:
  static void OnPreUpdate(void* self, sqlite3* db, int op, const char* dbName, const char* table, long long, long long);
  static int OnAuthorize(void* self, int action, const char* table, const char* column, const char* dbName,
                         const char* trigger);
  static int OnCommit(void* self);
  static void OnRollback(void* self);
  void Add(int table, bool scoped, int64_t scope, int64_t delta);
  int TableIndex(const char* name);
  void FindScopeColumns();

  sqlite3* db_;
  bool keeping_ = false;
  std::vector<Sum> sums_;
  std::vector<Sum> statement_;
  std::vector<int> scopeColumns_;  // per table: column index; -1 unscoped or missing
  const char* lastName_ = nullptr;  // SQLite hands the same pointer per table
  int lastTable_ = -1;
};

}  // namespace morvent
