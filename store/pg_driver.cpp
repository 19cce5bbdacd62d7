#include "store/pg_driver.h"

#include <libpq-fe.h>
#include <poll.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <map>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <regex>
#include <vector>

#include "store/ledger_counts.h"
#include "store/ledger_store.h"

namespace morvent {

namespace {

// Type OIDs of the server's built-in types (pg_type.h is a server header).
constexpr Oid kBool = 16, kInt8 = 20, kInt2 = 21, kInt4 = 23, kText = 25, kFloat4 = 700, kFloat8 = 701, kNumeric = 1700;

bool StartsWithWord(std::string_view sql, std::string_view word) {
  size_t i = 0;
  while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
  if (sql.size() - i < word.size()) return false;
  for (size_t k = 0; k < word.size(); ++k)
    if (std::toupper(static_cast<unsigned char>(sql[i + k])) != word[k]) return false;
  return true;
}

std::atomic<uint64_t> roundTrips{0};

// The ledger's own transactions keep their counts pending until the commit
// (see ServerCountTriggersSql), which adds them up in one order.
constexpr const char* kDeferCountsSql = "SET LOCAL morvent.counts = 'deferred'";
// (A database that holds no ledger has nothing pending.)
constexpr const char* kFlushCountsSql =
    "DO $$BEGIN IF to_regclass('ledger_counts') IS NOT NULL THEN "
    "INSERT INTO ledger_counts SELECT FTable, FScope, sum(FCount) FROM ledger_counts_pending GROUP BY FTable, FScope "
    "HAVING sum(FCount) <> 0 ORDER BY FTable, FScope ON CONFLICT (FTable, FScope) DO UPDATE SET FCount = ledger_counts.FCount + "
    "excluded.FCount; END IF; END$$";

// Transaction control and session settings: run as they are, never inside
// the savepoint that keeps another statement's failure to itself.
bool IsControl(std::string_view sql) {
  for (const char* w : {"SAVEPOINT", "RELEASE", "ROLLBACK", "BEGIN", "COMMIT", "END", "START", "SET", "DEALLOCATE"})
    if (StartsWithWord(sql, w)) return true;
  return false;
}

// The store's class of a server error, by its SQLSTATE.
DbFault Classify(const char* state, bool connectionBad) {
  if (connectionBad) return DbFault::Lost;
  const std::string s = state ? state : "";
  if (s.empty()) return DbFault::Other;
  if (s == "40001" || s == "40P01") return DbFault::Conflict;
  if (s == "55P03") return DbFault::Busy;
  if (s == "53100") return DbFault::DiskFull;
  if (s.rfind("53", 0) == 0) return DbFault::Full;
  if (s == "58030") return DbFault::Io;
  if (s == "25006") return DbFault::ReadOnly;
  if (s == "XX001" || s == "XX002") return DbFault::Damaged;
  if (s.rfind("08", 0) == 0 || s == "57P01" || s == "57P02" || s == "57P03") return DbFault::Lost;
  return DbFault::Other;
}

// The server's words on one line: libpq breaks its own over several.
std::string Trimmed(const char* text) {
  std::string s;
  for (const char* p = text ? text : ""; *p; ++p) {
    if (*p != '\n') {
      s += *p;
      continue;
    }
    while (p[1] == ' ' || p[1] == '\t') ++p;
    s += ' ';
  }
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
  return s;
}

// The server folds unquoted names to lower case; the store's callers know
// the ledger's columns as the SQL wrote them ("FItemID"). Lower-case name
// to the spelling in the statement's text.
using NameCase = std::map<std::string, std::string, std::less<>>;
NameCase NamesOf(std::string_view sql) {
  NameCase names;
  for (size_t i = 0; i < sql.size();) {
    const auto c = static_cast<unsigned char>(sql[i]);
    if (!std::isalpha(c) && c != '_') {
      ++i;
      continue;
    }
    size_t j = i;
    bool upper = false;
    while (j < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[j])) || sql[j] == '_')) {
      upper = upper || std::isupper(static_cast<unsigned char>(sql[j]));
      ++j;
    }
    if (upper) {
      std::string word(sql.substr(i, j - i));
      std::string lower = word;
      for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      names.emplace(std::move(lower), std::move(word));
    }
    i = j;
  }
  return names;
}

// The form of a one-row INSERT (with a column list) that names its
// identity column's value itself, as parameter $param: sent ahead, it
// needs no answer. Empty for any other statement.
std::string InsertNamingId(const std::string& sql, const std::string& identity, int param) {
  static const std::regex head(R"(^\s*INSERT\s+INTO\s+[A-Za-z_]\w*\s*\()", std::regex::icase);
  static const std::regex values(R"(\)\s*VALUES\s*\()", std::regex::icase);
  std::smatch h, v;
  if (identity.empty() || !std::regex_search(sql, h, head)) return "";
  const size_t columns = static_cast<size_t>(h.length(0));
  if (!std::regex_search(sql.begin() + static_cast<long>(columns), sql.end(), v, values)) return "";
  const size_t open = columns + static_cast<size_t>(v.position(0) + v.length(0));
  // The row's closing parenthesis must end the statement: one row only.
  int depth = 1;
  char quote = 0;
  size_t i = open;
  for (; i < sql.size() && depth > 0; ++i) {
    const char c = sql[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      --depth;
    }
  }
  if (depth != 0 || sql.find_first_not_of(" \t\r\n;", i) != std::string::npos) return "";
  return sql.substr(0, columns) + identity + ", " + sql.substr(columns, open - columns) + "$" +
         std::to_string(param) + ", " + sql.substr(open);
}

class PgConnection;

class PgStatement final : public DbStatement {
 public:
  // columns: the names of the result's columns as the SQL wrote them.
  PgStatement(PgConnection& conn, std::string name, std::string text, int params, bool readOnly, bool control,
              std::vector<std::string> columns, std::string identity, std::string aheadText, std::string table)
      : conn_(conn),
        aheadText_(std::move(aheadText)),
        table_(std::move(table)),
        identity_(std::move(identity)),
        returnsId_(!identity_.empty()),
        inserts_(StartsWithWord(text, "INSERT")),
        name_(std::move(name)),
        text_(std::move(text)),
        deferrable_(params == 0 && (StartsWithWord(text_, "SAVEPOINT") || StartsWithWord(text_, "RELEASE"))),
        begins_(StartsWithWord(text_, "BEGIN") || StartsWithWord(text_, "START")),
        params_(static_cast<size_t>(params)),
        readOnly_(readOnly),
        control_(control),
        columns_(std::move(columns)) {}
  ~PgStatement() override;

  bool BindInt(int index, int64_t value) override { return Set(index, std::to_string(value)); }
  bool BindReal(int index, double value) override {
    // The shortest text that reads back as the same double: a text column
    // (an item's field) keeps it as written.
    char buf[32];
    const auto end = std::to_chars(buf, buf + sizeof buf, value).ptr;
    return Set(index, std::string(buf, end));
  }
  bool BindText(int index, std::string_view text) override {
    // The server's text cannot hold a NUL; what follows one is not sent.
    return Set(index, std::string(text.substr(0, text.find('\0'))));
  }
  bool BindNull(int index) override {
    if (index < 1 || static_cast<size_t>(index) > params_.size()) return false;
    params_[static_cast<size_t>(index) - 1].reset();
    return true;
  }

  Step Next() override;
  void Reset() override {
    if (result_) PQclear(result_);
    result_ = nullptr;
    row_ = -1;
  }
  void ClearBindings() override {
    for (auto& p : params_) p.reset();
  }
  bool Running() const override { return result_ != nullptr; }
  bool ReadOnly() const override { return readOnly_; }

  // Known from the statement's description, before it runs.
  int Columns() const override { return static_cast<int>(columns_.size()); }
  std::string ColumnName(int column) const override {
    return column >= 0 && static_cast<size_t>(column) < columns_.size() ? columns_[static_cast<size_t>(column)] : "";
  }
  Type ColumnType(int column) const override {
    if (PQgetisnull(result_, row_, column)) return Type::Null;
    switch (PQftype(result_, column)) {
      case kBool:
      case kInt2:
      case kInt4:
      case kInt8:
        return Type::Integer;
      case kFloat4:
      case kFloat8:
      case kNumeric:
        return Type::Real;
      default:
        return Type::Text;
    }
  }
  int64_t Int(int column) const override {
    const char* v = PQgetvalue(result_, row_, column);
    if (PQftype(result_, column) == kBool) return *v == 't' ? 1 : 0;
    return std::strtoll(v, nullptr, 10);
  }
  double Real(int column) const override { return std::strtod(PQgetvalue(result_, row_, column), nullptr); }
  std::string_view Text(int column) const override {
    if (PQgetisnull(result_, row_, column)) return {};
    return {PQgetvalue(result_, row_, column), static_cast<size_t>(PQgetlength(result_, row_, column))};
  }

 private:
  bool Set(int index, std::string value) {
    if (index < 1 || static_cast<size_t>(index) > params_.size()) return false;
    params_[static_cast<size_t>(index) - 1] = std::move(value);
    return true;
  }

  PgConnection& conn_;
  // The insert's form naming its new ID (InsertNamingId), the name it is
  // prepared under once it was sent ahead, its table and identity column.
  std::string aheadText_, aheadName_, table_, identity_;
  bool returnsId_;  // RETURNING the new row's ID was added
  bool inserts_;
  std::string name_;
  std::string text_;
  bool deferrable_;
  bool begins_;
  std::vector<std::optional<std::string>> params_;
  bool readOnly_;
  bool control_;
  std::vector<std::string> columns_;
  PGresult* result_ = nullptr;
  int row_ = -1;
};

class PgConnection final : public DbConnection {
 public:
  explicit PgConnection(PGconn* conn) : conn_(conn), counts_(nullptr) {}
  ~PgConnection() override { PQfinish(conn_); }

  DbStatement* Prepare(const char* sql, size_t size) override {
    if (!Ready(false)) return nullptr;
    std::string text = ServerSql(std::string_view(sql, size));
    // An insert into a table with an identity column says the new ID, so
    // that LastInsertId costs no trip of its own.
    std::string table;
    const std::string identity = IdentityOf(text, table);
    // The server infers each parameter's type from where it stands; one the
    // text never uses (SQLite binds those freely) is text.
    std::vector<Oid> types;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '$' || i + 1 >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i + 1]))) continue;
      const size_t n = std::strtoul(text.c_str() + i + 1, nullptr, 10);
      if (n > types.size()) types.resize(n, kText);
      types[n - 1] = 0;
    }
    std::string aheadText = InsertNamingId(text, identity, static_cast<int>(types.size()) + 1);
    if (!identity.empty()) text += " RETURNING " + identity;
    const std::string name = "m" + std::to_string(++statements_);
    // Text the server refuses spoils an open transaction as a failed
    // statement does.
    const bool guard = Open();
    if (guard && !Control("SAVEPOINT morvent_s")) return nullptr;
    if (!guard && !deferred_.empty() && !Control("")) return nullptr;
    roundTrips += 2;  // with the description below
    PGresult* r = PQprepare(conn_, name.c_str(), text.c_str(), static_cast<int>(types.size()), types.data());
    if (!Check(r, PGRES_COMMAND_OK)) {
      if (guard) Undo();
      return nullptr;
    }
    if (guard && !Control("RELEASE morvent_s")) return nullptr;
    PGresult* d = PQdescribePrepared(conn_, name.c_str());
    const int params = d && PQresultStatus(d) == PGRES_COMMAND_OK ? PQnparams(d) : -1;
    if (params < 0) Failed(d);
    const std::string_view view(text);
    std::vector<std::string> columns;
    if (params >= 0) {
      const NameCase names = NamesOf(view);
      for (int c = 0; c < PQnfields(d); ++c) {
        const char* n = PQfname(d, c);
        auto it = names.find(n);
        columns.push_back(it != names.end() ? it->second : n);
      }
    }
    PQclear(d);
    if (params < 0) return nullptr;
    const bool readOnly = StartsWithWord(view, "SELECT") || StartsWithWord(view, "VALUES");
    if (!identity.empty()) columns.clear();  // as the insert has none
    return new PgStatement(*this, name, text, params, readOnly, IsControl(view), std::move(columns), identity,
                           std::move(aheadText), std::move(table));
  }
  bool Exec(const char* sql) override {
    const bool guard = Open() && !IsControl(sql);
    if (guard && !Control("SAVEPOINT morvent_s")) return false;
    if (!ExecText(sql)) {
      if (guard) Undo();
      return false;
    }
    return !guard || Control("RELEASE morvent_s");
  }
  bool ExecText(const char* sql) {
    // A spoiled transaction takes only a rollback.
    const bool anyRollback = StartsWithWord(sql, "ROLLBACK");
    if (!Ready(anyRollback)) return false;
    // A whole rollback takes what was deferred with it; anything else
    // comes after it.
    const bool rollback = anyRollback && std::string_view(sql).find(" TO ") == std::string_view::npos;
    // After a failure sent ahead, what waits was set after it and is moot.
    if (rollback || (anyRollback && spoiled_)) deferred_.clear();
    ++roundTrips;
    // The pending counts go in just before the commit: their rows are
    // locked (in one order for every client) only while it runs.
    const std::string flush = StartsWithWord(sql, "COMMIT") ? std::string(kFlushCountsSql) + "; " : "";
    PGresult* r = Answer(PQsendQuery(conn_, (TakeDeferred() + flush + ServerSql(sql)).c_str()));
    if (StartsWithWord(sql, "BEGIN") && Succeeded(r)) Defer(kDeferCountsSql);
    if (StartsWithWord(sql, "INSERT")) NewId(nullptr);
    const ExecStatusType status = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
    if (anyRollback && Succeeded(r)) spoiled_ = false;
    if (status == PGRES_EMPTY_QUERY) {
      PQclear(r);
      return true;
    }
    // The server answers COMMIT of a transaction a failed statement spoiled
    // with a rollback, and calls that success: the work is gone.
    if (status == PGRES_COMMAND_OK && StartsWithWord(sql, "COMMIT") && std::strcmp(PQcmdStatus(r), "ROLLBACK") == 0) {
      PQclear(r);
      failure_ = {DbFault::Other, 0, "a statement failed earlier in the transaction; COMMIT rolled it back"};
      return false;
    }
    return Check(r, PGRES_COMMAND_OK);
  }
  DbFailure LastFailure() const override { return failure_; }

  bool InTransaction() const override {
    const PGTransactionStatusType s = PQtransactionStatus(conn_);
    return s == PQTRANS_INTRANS || s == PQTRANS_INERROR || s == PQTRANS_ACTIVE;
  }
  bool ReadOnly() const override { return false; }
  // After an insert: the ID its RETURNING answered (r), or none known.
  void NewId(const PGresult* r) {
    lastIdKnown_ = r && PQntuples(r) > 0;
    if (lastIdKnown_) lastId_ = std::strtoll(PQgetvalue(r, PQntuples(r) - 1, 0), nullptr, 10);
  }
  // The identity column of the table an INSERT (without its own RETURNING
  // or ON CONFLICT) fills, or empty; table: the table's name (lower case).
  std::string IdentityOf(const std::string& sql, std::string& table) {
    static const std::regex insert(R"(^\s*INSERT\s+INTO\s+([A-Za-z_]\w*))", std::regex::icase);
    static const std::regex other(R"(\b(RETURNING|ON\s+CONFLICT)\b)", std::regex::icase);
    std::smatch m;
    if (!std::regex_search(sql, m, insert) || std::regex_search(sql, other)) return "";
    table = m[1].str();
    for (char& c : table) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (auto it = identity_.find(table); it != identity_.end()) return it->second;
    if (!Ready(false)) return "";
    const char* values[] = {table.c_str()};
    if (!deferred_.empty() && !Control("")) return "";
    ++roundTrips;
    PGresult* r = PQexecParams(conn_,
                               "SELECT column_name FROM information_schema.columns WHERE table_schema = "
                               "current_schema() AND table_name = $1 AND is_identity = 'YES'",
                               1, nullptr, values, nullptr, nullptr, 0);
    std::string column;
    const bool ok = r && PQresultStatus(r) == PGRES_TUPLES_OK;
    if (ok && PQntuples(r) == 1) column = PQgetvalue(r, 0, 0);
    PQclear(r);
    if (ok) identity_[table] = column;
    return column;
  }
  int64_t LastInsertId() const override {
    if (lastIdKnown_) return lastId_;
    if (!const_cast<PgConnection*>(this)->Ready(false)) return 0;
    // A round trip of its own; inserts that need the ID say RETURNING.
    ++roundTrips;
    PGresult* r = PQexec(conn_, "SELECT lastval()");
    int64_t id = 0;
    if (r && PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1) id = std::strtoll(PQgetvalue(r, 0, 0), nullptr, 10);
    PQclear(r);
    return id;
  }
  int Changes() const override { return changes_; }
  int64_t TotalChanges() const override { return totalChanges_; }

  CountKeeper& Counts() override { return counts_; }
  void BeforeFirstWrite() override {}
  std::string StampVersionSql(int) const override { return ""; }  // ledger_meta holds it
  const char* TableExistsSql() const override {
    // Unquoted names are folded to lower case by the server.
    return "SELECT 1 FROM information_schema.tables WHERE table_schema = current_schema() AND table_name = lower(?)";
  }
  const char* CountRowsSql() const override {
    return "SELECT coalesce(sum(FCount), 0) FROM (SELECT FCount FROM ledger_counts WHERE FTable = ?1 AND FScope = ?2 "
           "UNION ALL SELECT FCount FROM ledger_counts_pending WHERE FTable = ?1 AND FScope = ?2) c";
  }
  const char* SequenceTable() const override { return nullptr; }
  const char* RaiseSequenceSql() const override { return nullptr; }
  std::string CountTriggersSql(const std::string& table, const std::string& scopeColumn) const override {
    return ServerCountTriggersSql(table, scopeColumn);
  }
  std::string SettleSequencesSql() const override {
    // Every identity column of the ledger's schema continues past its
    // table's largest ID.
    return "DO $$DECLARE r record; BEGIN\n"
           "FOR r IN SELECT table_name AS t, column_name AS c FROM information_schema.columns\n"
           "  WHERE table_schema = current_schema() AND is_identity = 'YES' LOOP\n"
           "  EXECUTE format('SELECT setval(pg_get_serial_sequence(%L, %L), coalesce(max(%I), 0) + 1, false) FROM %I',\n"
           "    r.t, r.c, r.c, r.t);\n"
           "END LOOP; END$$";
  }
  bool OnServer() const override { return true; }

  // Takes r; answers whether it has the status wanted (or rows), keeping
  // its changes, or the failure.
  bool Check(PGresult* r, ExecStatusType want) {
    const bool ok = r && (PQresultStatus(r) == want || PQresultStatus(r) == PGRES_TUPLES_OK);
    if (ok) Counted(r, false);
    if (!ok) Failed(r);
    PQclear(r);
    return ok;
  }
  // writes: a statement that changes rows even when it answers some.
  void Counted(PGresult* r, bool writes) {
    const char* n = PQcmdTuples(r);
    changes_ = n && *n ? std::atoi(n) : 0;
    if (writes || PQresultStatus(r) == PGRES_COMMAND_OK) totalChanges_ += changes_;
  }
  void Failed(const PGresult* r) {
    const bool bad = PQstatus(conn_) == CONNECTION_BAD;
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    const char* primary = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    failure_ = {Classify(state, bad), 0, Trimmed(primary ? primary : PQerrorMessage(conn_))};
  }
  PGconn* Handle() const { return conn_; }

  // In a transaction that no failure has spoiled.
  bool Open() const { return PQtransactionStatus(conn_) == PQTRANS_INTRANS; }
  // Runs a control statement; false (with the failure) when it failed.
  // Savepoints set or released before it go first, in the same message.
  bool Control(const std::string& sql) {
    if (!Ready(StartsWithWord(sql, "ROLLBACK"))) return false;
    ++roundTrips;
    return Check(Answer(PQsendQuery(conn_, (TakeDeferred() + sql).c_str())), PGRES_COMMAND_OK);
  }
  // Setting and releasing a savepoint inside a transaction answers nothing
  // the store waits for: it travels with the next statement.
  bool Defer(const std::string& sql) {
    // Inserts sent ahead keep the transaction busy, not closed.
    const bool open = pipelined_ ? !spoiled_ : Open();
    if (!open || deferred_.size() >= 16) return false;
    deferred_.push_back(sql);
    return true;
  }
  std::string TakeDeferred() {
    std::string text;
    for (const auto& d : deferred_) text += d + "; ";
    deferred_.clear();
    return text;
  }
  // After a statement failed inside the savepoint morvent_s: back to it,
  // so that only the statement is undone; when even that fails, the whole
  // transaction goes, as the store expects of an engine that could not
  // keep it. The statement's failure stays the one reported.
  void Undo() {
    const DbFailure failed = failure_;
    if (PQstatus(conn_) == CONNECTION_OK && !Control("ROLLBACK TO morvent_s; RELEASE morvent_s") &&
        PQstatus(conn_) == CONNECTION_OK)
      PQclear(PQexec(conn_, "ROLLBACK"));
    failure_ = failed;
  }

  // Runs a prepared statement. Inside a transaction it runs in a savepoint
  // of its own, sent in one pipeline with it: one round trip, and a failure
  // undoes only the statement, as an embedded engine does.
  // The failed statement's result (its failure noted) or nullptr stand
  // for failure alike; the caller takes a result it gets.
  PGresult* Run(const std::string& name, const std::vector<const char*>& values, bool control, bool begins) {
    if (!Ready(false)) return nullptr;
    const int n = static_cast<int>(values.size());
    if (control || !Open() || !PQenterPipelineMode(conn_)) {
      if (!deferred_.empty() && !Control("")) return nullptr;
      ++roundTrips;
      PGresult* r = Answer(PQsendQueryPrepared(conn_, name.c_str(), n, values.data(), nullptr, nullptr, 0));
      if (!Succeeded(r)) Failed(r);
      if (begins && Succeeded(r)) Defer(kDeferCountsSql);
      return r;
    }
    // Savepoints the store set or released since are sent first.
    std::vector<std::string> queries = std::move(deferred_);
    deferred_.clear();
    const size_t main = queries.size() + 1;
    queries.push_back("SAVEPOINT morvent_s");
    queries.push_back("");
    queries.push_back("RELEASE morvent_s");
    bool sent = true;
    for (size_t q = 0; q < queries.size() && sent; ++q)
      sent = q == main ? PQsendQueryPrepared(conn_, name.c_str(), n, values.data(), nullptr, nullptr, 0)
                       : PQsendQueryParams(conn_, queries[q].c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0);
    sent = sent && PQpipelineSync(conn_);
    ++roundTrips;
    std::vector<PGresult*> results(queries.size(), nullptr);
    Wait wait(*this);
    if (sent) {
      for (auto& result : results) {
        AwaitAnswer(wait);
        result = PQgetResult(conn_);
        if (!result) break;  // the connection is gone
        while (PGresult* more = PQgetResult(conn_)) PQclear(more);
      }
      if (results.back()) PQclear(PQgetResult(conn_));  // the sync
    }
    PQexitPipelineMode(conn_);
    // The first that failed says why: a savepoint, the statement, or the
    // release of its savepoint.
    PGresult* failed = nullptr;
    bool ok = sent;
    for (PGresult* r : results) {
      if (!ok) break;
      ok = Succeeded(r);
      if (!ok) failed = r;
    }
    if (!ok) Failed(failed);
    for (size_t q = 0; q < results.size(); ++q)
      if (q != main || !ok) PQclear(results[q]);
    if (ok) return results[main];
    Undo();
    return nullptr;
  }
  // Waits until PQgetResult has an answer without blocking in libpq, so
  // that a wait for another client's lock is told while it lasts. Returns
  // early when the connection fails; PQgetResult then says so.
  void AwaitAnswer(Wait& wait) {
    while (PQisBusy(conn_)) {
      wait.Waited();
      pollfd ready{PQsocket(conn_), POLLIN, 0};
      if (ready.fd < 0 || (poll(&ready, 1, 100) < 0 && errno != EINTR) || !PQconsumeInput(conn_)) return;
    }
  }
  // The answer to what was just sent (sent: PQsend* succeeded), as PQexec
  // gives it: the last result, or the first failure; nullptr when nothing
  // could be sent.
  PGresult* Answer(bool sent) {
    if (!sent) return nullptr;
    Wait wait(*this);
    PGresult* answer = nullptr;
    for (;;) {
      AwaitAnswer(wait);
      PGresult* r = PQgetResult(conn_);
      if (!r) break;
      if (answer && PQresultStatus(answer) == PGRES_FATAL_ERROR) {
        PQclear(r);
        continue;
      }
      PQclear(answer);
      answer = r;
    }
    return answer;
  }
  static bool Succeeded(const PGresult* r) {
    return r && (PQresultStatus(r) == PGRES_TUPLES_OK || PQresultStatus(r) == PGRES_COMMAND_OK);
  }

  // ---- Sending ahead: one pipeline that stays open while inserts go out,
  // read as answers arrive, so that neither side waits for the other.
  bool CanSendAhead() const override { return true; }
  void SendAhead(bool on) override {
    ahead_ = on;
    if (!on) Settle();
  }
  bool Ahead() const { return ahead_ && !spoiled_; }
  bool Settle() override {
    if (!pipelined_) return !spoiled_;
    ++roundTrips;
    if (PQpipelineSync(conn_)) {
      ++syncs_;
    } else if (!spoiled_) {
      Failed(nullptr);
      spoiled_ = true;
    }
    Wait wait(*this);
    Take(&wait);
    // Left only when every answer is in; a lost connection has none to give.
    if (!PQexitPipelineMode(conn_) && !spoiled_) {
      Failed(nullptr);
      spoiled_ = true;
    }
    pipelined_ = false;
    queries_ = syncs_ = 0;
    return !spoiled_;
  }
  // Settles what was sent ahead before anything else; false when that
  // spoiled the transaction and what comes is not a rollback.
  bool Ready(bool rollback) {
    if (pipelined_) Settle();
    return rollback || !spoiled_;
  }
  // Sends a prepared insert ahead with the deferred savepoints before it.
  bool SendInsert(const std::string& name, const std::vector<const char*>& values) {
    if (!pipelined_) {
      if (!PQenterPipelineMode(conn_)) {
        Failed(nullptr);
        return false;
      }
      pipelined_ = true;
    }
    bool sent = true;
    for (const auto& d : deferred_) {
      sent = sent && PQsendQueryParams(conn_, d.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0);
      ++queries_;
    }
    deferred_.clear();
    sent = sent && PQsendQueryPrepared(conn_, name.c_str(), static_cast<int>(values.size()), values.data(), nullptr,
                                       nullptr, 0);
    ++queries_;
    if (!sent) {
      Failed(nullptr);
      spoiled_ = true;
      return false;
    }
    // No sync until Settle: both sides write only when their buffers fill.
    // Answers are taken now and then, so that the server's never do.
    if (++sentSinceTake_ == 64) {
      sentSinceTake_ = 0;
      Take(nullptr);
    }
    return true;
  }
  // The insert sent ahead changed its row and made the ID it names.
  void AheadDone(int64_t id) {
    changes_ = 1;
    ++totalChanges_;
    lastIdKnown_ = true;
    lastId_ = id;
  }
  // The next of the IDs this connection took from the table's sequence (a
  // block at a time; what a rollback or the end leaves is never used), or
  // 0 when none could be taken.
  int64_t ReserveId(const std::string& table, const std::string& column) {
    auto& free = reserved_[table];
    if (free.empty()) {
      if (!Ready(false)) return 0;
      const std::string sql = "SELECT nextval(pg_get_serial_sequence($1, $2)) FROM generate_series(1, " +
                              std::to_string(kReserveIds) + ")";
      const char* values[] = {table.c_str(), column.c_str()};
      ++roundTrips;
      PGresult* r = PQexecParams(conn_, sql.c_str(), 2, nullptr, values, nullptr, nullptr, 0);
      if (r && PQresultStatus(r) == PGRES_TUPLES_OK) {
        for (int row = PQntuples(r) - 1; row >= 0; --row) free.push_back(std::strtoll(PQgetvalue(r, row, 0), nullptr, 10));
      } else {
        Failed(r);
      }
      PQclear(r);
      if (free.empty()) return 0;
    }
    const int64_t id = free.back();
    free.pop_back();
    return id;
  }
  // Prepares the form of an insert sent ahead; empty when it cannot be.
  std::string PrepareAhead(const std::string& text, int params) {
    if (!Ready(false)) return "";
    const std::string name = "m" + std::to_string(++statements_) + "a";
    std::vector<Oid> types(static_cast<size_t>(params), 0);
    ++roundTrips;
    PGresult* r = PQprepare(conn_, name.c_str(), text.c_str(), params, types.data());
    const bool ok = r && PQresultStatus(r) == PGRES_COMMAND_OK;
    PQclear(r);
    return ok ? name : "";
  }

 private:
  static constexpr int kReserveIds = 256;
  // Takes the answers that are in (all of them, waiting, with wait): the
  // first failure spoils the transaction, as the server holds it now.
  void Take(Wait* wait) {
    while (queries_ + syncs_ > 0) {
      if (wait) {
        AwaitAnswer(*wait);
      } else if (!PQconsumeInput(conn_) || PQisBusy(conn_)) {
        if (PQstatus(conn_) != CONNECTION_BAD) return;
      }
      // Gone, or nothing more to come though answers are missing: lost.
      PGresult* r = PQstatus(conn_) == CONNECTION_BAD && PQisBusy(conn_) ? nullptr : PQgetResult(conn_);
      if (!r && (queries_ == 0 || PQstatus(conn_) == CONNECTION_BAD)) {
        if (!spoiled_) Failed(nullptr);
        spoiled_ = true;
        queries_ = syncs_ = 0;
        return;
      }
      if (!r) {
        --queries_;
        continue;
      }
      const ExecStatusType status = PQresultStatus(r);
      if (status == PGRES_PIPELINE_SYNC) {
        if (syncs_ > 0) --syncs_;
      } else if (status == PGRES_FATAL_ERROR && !spoiled_) {
        Failed(r);
        spoiled_ = true;
      }
      PQclear(r);
    }
  }

  PGconn* conn_;
  bool ahead_ = false;      // inserts go ahead
  bool pipelined_ = false;  // the pipeline of inserts sent ahead is open
  bool spoiled_ = false;    // one of them failed: only a rollback goes
  size_t queries_ = 0, syncs_ = 0;  // answers still to come
  int sentSinceTake_ = 0;
  std::map<std::string, std::vector<int64_t>> reserved_;  // table to IDs taken, last first
  CountKeeper counts_;
  DbFailure failure_;
  uint64_t statements_ = 0;
  std::vector<std::string> deferred_;
  std::map<std::string, std::string> identity_;  // table (lower case) to its identity column
  bool lastIdKnown_ = false;
  int64_t lastId_ = 0;
  int changes_ = 0;
  int64_t totalChanges_ = 0;
};

PgStatement::~PgStatement() {
  Reset();
  conn_.Ready(true);
  PQclear(PQexec(conn_.Handle(), ("DEALLOCATE " + name_).c_str()));
  if (!aheadName_.empty()) PQclear(PQexec(conn_.Handle(), ("DEALLOCATE " + aheadName_).c_str()));
}

DbStatement::Step PgStatement::Next() {
  if (!result_ && deferrable_ && conn_.Defer(text_)) return Step::Done;
  if (!result_ && !aheadText_.empty() && conn_.Ahead()) {
    if (aheadName_.empty()) aheadName_ = conn_.PrepareAhead(aheadText_, static_cast<int>(params_.size()) + 1);
    if (aheadName_.empty()) {
      aheadText_.clear();  // sent as before, waiting for its answer
    } else {
      const int64_t id = conn_.ReserveId(table_, identity_);
      if (id == 0) return Step::Failed;
      const std::string idText = std::to_string(id);
      std::vector<const char*> values(params_.size() + 1);
      for (size_t i = 0; i < params_.size(); ++i) values[i] = params_[i] ? params_[i]->c_str() : nullptr;
      values.back() = idText.c_str();
      if (!conn_.SendInsert(aheadName_, values)) return Step::Failed;
      conn_.AheadDone(id);
      return Step::Done;
    }
  }
  if (!result_) {
    std::vector<const char*> values(params_.size());
    for (size_t i = 0; i < params_.size(); ++i) values[i] = params_[i] ? params_[i]->c_str() : nullptr;
    result_ = conn_.Run(name_, values, control_, begins_);
    const ExecStatusType status = result_ ? PQresultStatus(result_) : PGRES_FATAL_ERROR;
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
      Reset();  // the connection noted why
      return Step::Failed;
    }
    conn_.Counted(result_, !readOnly_);
    if (inserts_) conn_.NewId(returnsId_ ? result_ : nullptr);
    if (returnsId_) row_ = PQntuples(result_);  // the ID is no row of the caller's
  }
  if (PQresultStatus(result_) == PGRES_TUPLES_OK && row_ + 1 < PQntuples(result_)) {
    ++row_;
    return Step::Row;
  }
  row_ = PQntuples(result_);
  return Step::Done;
}

}  // namespace

uint64_t ServerRoundTrips() { return roundTrips; }

std::string ServerSql(std::string_view sql) {
  static const std::regex createTable(R"(\bCREATE\s+TABLE\b)", std::regex::icase);
  static const std::regex real(R"(\bREAL\b)", std::regex::icase);
  static const std::regex untyped(R"((\n[ \t]*)([A-Za-z_]\w*)[ \t]*(,|\)))");
  // Placeholders outside quotes: ?N keeps its number, a bare ? takes the
  // next after the largest so far (as SQLite numbers them).
  std::string out;
  out.reserve(sql.size() + 8);
  char quote = 0;
  int largest = 0;
  for (size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (quote) {
      if (c == quote) quote = 0;
      out += c;
    } else if (c == '\'' || c == '"') {
      quote = c;
      out += c;
    } else if (c == '?') {
      size_t j = i + 1;
      while (j < sql.size() && std::isdigit(static_cast<unsigned char>(sql[j]))) ++j;
      const int n = j > i + 1 ? std::atoi(std::string(sql.substr(i + 1, j - i - 1)).c_str()) : largest + 1;
      largest = std::max(largest, n);
      out += "$" + std::to_string(n);
      i = j - 1;
    } else {
      out += c;
    }
  }
  if (std::regex_search(out, createTable)) {
    // Columns the server must have a type for: SQLite's REAL is the
    // server's double, a column of any type keeps text.
    out = std::regex_replace(out, real, "DOUBLE PRECISION");
    out = std::regex_replace(out, untyped, "$1$2 TEXT$3");
  }
  static const std::regex identity(R"(\bINTEGER\s+PRIMARY\s+KEY(\s+AUTOINCREMENT)?)", std::regex::icase);
  static const std::regex withoutRowid(R"(\)\s*WITHOUT\s+ROWID)", std::regex::icase);
  static const std::regex beginImmediate(R"(^\s*BEGIN\s+IMMEDIATE\b)", std::regex::icase);
  out = std::regex_replace(out, identity, "INTEGER GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY");
  out = std::regex_replace(out, withoutRowid, ")");
  return std::regex_replace(out, beginImmediate, "BEGIN");
}

std::string ServerCountTriggersSql(const std::string& table, const std::string& scopeColumn) {
  // Statement triggers over the rows a statement inserted or deleted, so
  // that a bulk statement moves each count row once: a row trigger updated
  // the same count row once per row, and the server walks every version of
  // a row its transaction updated before to reach the last (20,000 rows in
  // one INSERT took 7 s, 100,000 minutes). In the ledger's own transactions
  // (the setting morvent.counts is 'deferred' there) the changes are
  // appended to the connection's pending rows, which reach ledger_counts
  // summed just before the commit (kFlushCountsSql): clients importing at
  // once then wait for each other's count rows only while they commit, not
  // for a whole group of records. Any other client counts straight into
  // ledger_counts. The SQL replaces older count triggers of the table.
  const std::string self = "'" + table + "'", scoped = "'" + table + ":" + scopeColumn + "'";
  // (key, scope expression, delta expression, the grouping that makes one row per scope)
  struct Change {
    std::string key, scope, delta, group;
  };
  auto changes = [&](const char* sign) {
    std::vector<Change> out = {{self, "0", std::string(sign) + "count(*)", " HAVING count(*) > 0"}};
    if (!scopeColumn.empty())
      out.push_back({scoped, "coalesce(" + scopeColumn + ", 0)", std::string(sign) + "count(*)", " GROUP BY 2 ORDER BY 2"});
    return out;
  };
  auto upsert = [](const std::string& into) {
    return " ON CONFLICT (FTable, FScope) DO UPDATE SET FCount = " + into + ".FCount + excluded.FCount;\n";
  };
  auto statementBody = [&](const std::vector<Change>& list, bool inserted) {
    std::string pending, direct;
    for (const auto& c : list) {
      const std::string select = "SELECT " + c.key + ", " + c.scope + ", " + c.delta + " FROM changed" + c.group;
      pending += "INSERT INTO ledger_counts_pending " + select + ";\n";
      // A count row a delete would take below zero is missing: left alone.
      direct += inserted ? "INSERT INTO ledger_counts " + select + upsert("ledger_counts")
                         : "UPDATE ledger_counts c SET FCount = c.FCount + d.n FROM (SELECT " + c.key + " AS t, " +
                               c.scope + " AS s, " + c.delta + " AS n FROM changed" + c.group +
                               ") d WHERE c.FTable = d.t AND c.FScope = d.s;\n";
    }
    return "IF current_setting('morvent.counts', true) = 'deferred' THEN\n" + pending + "ELSE\n" + direct +
           "END IF;\n";
  };
  auto function = [&](const std::string& name, const std::string& code, const std::string& when) {
    return "CREATE OR REPLACE FUNCTION " + name + "() RETURNS trigger LANGUAGE plpgsql AS $f$BEGIN\n" + code +
           "RETURN NULL; END$f$;\nDROP TRIGGER IF EXISTS " + name + " ON " + table + ";\nCREATE TRIGGER " + name +
           " " + when + " EXECUTE FUNCTION " + name + "();\n";
  };
  std::string sql =
      function("tc_" + table + "_ins", statementBody(changes(""), true),
               "AFTER INSERT ON " + table + " REFERENCING NEW TABLE AS changed FOR EACH STATEMENT") +
      function("tc_" + table + "_del", statementBody(changes("-"), false),
               "AFTER DELETE ON " + table + " REFERENCING OLD TABLE AS changed FOR EACH STATEMENT");
  if (!scopeColumn.empty()) {
    // Transition tables cannot go with a column list: a row trigger, which
    // fires only for rows whose scope changed.
    const std::string from = "coalesce(OLD." + scopeColumn + ", 0)", to = "coalesce(NEW." + scopeColumn + ", 0)";
    const std::string code =
        "IF current_setting('morvent.counts', true) = 'deferred' THEN\n"
        "INSERT INTO ledger_counts_pending VALUES (" + scoped + ", " + from + ", -1), (" + scoped + ", " + to + ", 1);\n"
        "ELSE\n"
        "UPDATE ledger_counts SET FCount = FCount - 1 WHERE FTable = " + scoped + " AND FScope = " + from + ";\n"
        "INSERT INTO ledger_counts VALUES (" + scoped + ", " + to + ", 1)" + upsert("ledger_counts") +
        "END IF;\n";
    sql += function("tc_" + table + "_upd", code,
                    "AFTER UPDATE OF " + scopeColumn + " ON " + table + " FOR EACH ROW WHEN (OLD." + scopeColumn +
                        " IS DISTINCT FROM NEW." + scopeColumn + ")");
  }
  return sql;
}

namespace {
// The first column of a query's first row, or nullopt with no row.
std::optional<std::string> ReadOne(DbConnection& conn, const char* sql, const std::string& param) {
  std::unique_ptr<DbStatement> q(conn.Prepare(sql, std::strlen(sql)));
  if (!q) return std::nullopt;
  if (!param.empty()) q->BindText(1, param);
  if (q->Next() != DbStatement::Step::Row) return std::nullopt;
  return std::string(q->Text(0));
}
}  // namespace

OpenedLedger OpenServerLedger(const std::string& connection) {
  OpenedLedger opened;
  opened.connection = ConnectServer(connection);
  DbConnection& conn = *opened.connection;
  if (!ReadOne(conn, conn.TableExistsSql(), "ledger_meta")) {
    if (conn.LastFailure().fault != DbFault::None)
      ThrowLedgerError("无法读取账套服务器 " + MaskPassword(connection) + "：" + conn.LastFailure().message);
    ThrowLedgerError("数据库中没有账套：" + MaskPassword(connection));
  }
  opened.storedVersion = ReadOne(conn, "SELECT FValue FROM ledger_meta WHERE FKey = ?", "schema_version").value_or("");
  return opened;
}

std::unique_ptr<DbConnection> CreateServerLedger(const std::string& connection) {
  auto conn = ConnectServer(connection);
  const auto tables =
      ReadOne(*conn, "SELECT count(*) FROM information_schema.tables WHERE table_schema = current_schema()", "");
  if (!tables) ThrowLedgerError("无法读取账套服务器 " + MaskPassword(connection) + "：" + conn->LastFailure().message);
  if (*tables != "0") ThrowLedgerError("数据库中已有数据表，不能新建账套：" + MaskPassword(connection));
  return conn;
}

std::unique_ptr<DbConnection> ConnectServer(const std::string& connection) {
  PGconn* conn = PQconnectdb(connection.c_str());
  if (!conn || PQstatus(conn) != CONNECTION_OK) {
    const std::string why = conn ? Trimmed(PQerrorMessage(conn)) : "内存不足";
    PQfinish(conn);
    ThrowLedgerError("无法连接账套服务器 " + MaskPassword(connection) + "：" + MaskPassword(why));
  }
  // Notices (a savepoint released twice, ...) are no business of the user.
  PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);
  // The pending count changes of this connection's transactions, appended
  // and summed at the commit (see ServerCountTriggersSql); what is left at
  // a commit is dropped.
  PQclear(PQexec(conn,
                 "CREATE TEMP TABLE IF NOT EXISTS ledger_counts_pending (FTable TEXT NOT NULL, FScope INTEGER NOT NULL, "
                 "FCount INTEGER NOT NULL) ON COMMIT DELETE ROWS"));
  return std::make_unique<PgConnection>(conn);
}

}  // namespace morvent
