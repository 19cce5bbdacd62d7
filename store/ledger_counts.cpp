#include "store/ledger_counts.h"

#include <sqlite3.h>

#include <cstring>
#include <string>

namespace morvent {

const std::vector<CountKeeper::Counted>& CountKeeper::Tables() {
  static const std::vector<Counted> tables = {
      {"t_AccountGroup", ""}, {"t_Account", ""},      {"t_Currency", ""},
      {"t_VoucherGroup", ""}, {"t_SettleType", ""},   {"t_MeasureUnitGroup", ""},
      {"t_MeasureUnit", "FUnitGroupID"},              {"t_ItemClass", ""},
      {"t_Item", "FItemClassID"},                     {"t_SubMesType", ""},
      {"t_SubMes", "FTypeID"},
  };
  return tables;
}

CountKeeper::CountKeeper(sqlite3* db) : db_(db) {}

CountKeeper::~CountKeeper() {
  if (keeping_) Keep(false);
}

void CountKeeper::FindScopeColumns() {
  const auto& tables = Tables();
  scopeColumns_.assign(tables.size(), -1);
  for (size_t t = 0; t < tables.size(); ++t) {
    if (*tables[t].scopeColumn == '\0') continue;
    sqlite3_stmt* info = nullptr;
    const std::string sql = std::string("SELECT cid FROM pragma_table_info('") + tables[t].table + "') WHERE name = ?";
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &info, nullptr) != SQLITE_OK) continue;
    sqlite3_bind_text(info, 1, tables[t].scopeColumn, -1, SQLITE_STATIC);
    if (sqlite3_step(info) == SQLITE_ROW) scopeColumns_[t] = sqlite3_column_int(info, 0);
    sqlite3_finalize(info);
  }
}

void CountKeeper::Keep(bool on) {
#ifndef SQLITE_ENABLE_PREUPDATE_HOOK
  on = false;  // this SQLite cannot report the rows: the triggers count them
#endif
  if (!db_) on = false;  // an engine without hooks: its triggers count
  if (on == keeping_) return;
#ifdef SQLITE_ENABLE_PREUPDATE_HOOK
  if (on) {
    // Looked up afresh: the item tables appear while a ledger is being made.
    FindScopeColumns();
    sqlite3_set_authorizer(db_, &CountKeeper::OnAuthorize, this);
    sqlite3_preupdate_hook(db_, &CountKeeper::OnPreUpdate, this);
    sqlite3_commit_hook(db_, &CountKeeper::OnCommit, this);
    sqlite3_rollback_hook(db_, &CountKeeper::OnRollback, this);
  } else {
    sqlite3_preupdate_hook(db_, nullptr, nullptr);
    sqlite3_commit_hook(db_, nullptr, nullptr);
    sqlite3_rollback_hook(db_, nullptr, nullptr);
    sqlite3_set_authorizer(db_, nullptr, nullptr);
    sums_.clear();
  }
#endif
  keeping_ = on;
}

int CountKeeper::TableIndex(const char* name) {
  const auto& tables = Tables();
  if (name == lastName_ && std::strcmp(name, tables[lastTable_].table) == 0) return lastTable_;
  for (size_t t = 0; t < tables.size(); ++t)
    if (std::strcmp(name, tables[t].table) == 0) {
      lastName_ = name;
      lastTable_ = static_cast<int>(t);
      return lastTable_;
    }
  return -1;
}

void CountKeeper::Add(int table, bool scoped, int64_t scope, int64_t delta) {
  for (auto& s : sums_)
    if (s.table == table && s.scoped == scoped && s.scope == scope) {
      s.delta += delta;
      return;
    }
  sums_.push_back({table, scoped, scope, delta});
}

namespace {
// The scope a row counts under; the triggers count a NULL under 0.
int64_t ScopeOf(sqlite3_value* v) { return v && sqlite3_value_type(v) != SQLITE_NULL ? sqlite3_value_int64(v) : 0; }
}  // namespace

#ifdef SQLITE_ENABLE_PREUPDATE_HOOK
void CountKeeper::OnPreUpdate(void* self, sqlite3* db, int op, const char* dbName, const char* table, long long,
                              long long) {
  auto& k = *static_cast<CountKeeper*>(self);
  if (std::strcmp(dbName, "main") != 0) return;
  const int t = k.TableIndex(table);
  if (t < 0) return;
  const int column = k.scopeColumns_[static_cast<size_t>(t)];
  sqlite3_value* before = nullptr;
  sqlite3_value* after = nullptr;
  switch (op) {
    case SQLITE_INSERT:
      k.Add(t, false, 0, 1);
      if (column >= 0 && sqlite3_preupdate_new(db, column, &after) == SQLITE_OK) k.Add(t, true, ScopeOf(after), 1);
      break;
    case SQLITE_DELETE:
      k.Add(t, false, 0, -1);
      if (column >= 0 && sqlite3_preupdate_old(db, column, &before) == SQLITE_OK) k.Add(t, true, ScopeOf(before), -1);
      break;
    case SQLITE_UPDATE:
      if (column >= 0 && sqlite3_preupdate_old(db, column, &before) == SQLITE_OK &&
          sqlite3_preupdate_new(db, column, &after) == SQLITE_OK && ScopeOf(before) != ScopeOf(after)) {
        k.Add(t, true, ScopeOf(before), -1);
        k.Add(t, true, ScopeOf(after), 1);
      }
      break;
    default:
      break;
  }
}

#endif

bool CountKeeper::IsCountTrigger(const char* name) {
  // tc_<table>_ins, tc_<table>_del, tc_<table>_upd, as CountTriggersSql names them.
  if (!name || std::strncmp(name, "tc_", 3) != 0) return false;
  const size_t size = std::strlen(name);
  if (size < 8) return false;
  const char* suffix = name + size - 4;
  if (std::strcmp(suffix, "_ins") != 0 && std::strcmp(suffix, "_del") != 0 && std::strcmp(suffix, "_upd") != 0)
    return false;
  const std::string_view table(name + 3, size - 7);
  for (const auto& t : Tables())
    if (table == t.table) return true;
  return false;
}

int CountKeeper::OnAuthorize(void*, int action, const char* table, const char*, const char*, const char* trigger) {
  // Only a count trigger's own writes into ledger_counts are left out (the
  // statement is not compiled into the trigger's program); every other
  // trigger, ours or not, runs as it would for any program.
  if ((action == SQLITE_INSERT || action == SQLITE_UPDATE) && table && std::strcmp(table, "ledger_counts") == 0 &&
      IsCountTrigger(trigger))
    return SQLITE_IGNORE;
  return SQLITE_OK;
}

int CountKeeper::OnCommit(void* self) {
  // Sums still unwritten would leave the counts behind the rows.
  return static_cast<CountKeeper*>(self)->sums_.empty() ? 0 : 1;
}

void CountKeeper::OnRollback(void* self) { static_cast<CountKeeper*>(self)->sums_.clear(); }

bool CountKeeper::Flush() {
  if (sums_.empty()) return true;
  // As the triggers do: an insert makes a missing count row, a delete
  // only lowers one that is there.
  static const char* const kUp =
      "INSERT INTO ledger_counts VALUES (?1, ?2, ?3) ON CONFLICT (FTable, FScope) DO UPDATE SET FCount = FCount + ?3";
  static const char* const kDown = "UPDATE ledger_counts SET FCount = FCount + ?3 WHERE FTable = ?1 AND FScope = ?2";
  const auto& tables = Tables();
  for (const auto& s : sums_) {
    if (s.delta == 0) continue;
    sqlite3_stmt* q = nullptr;
    int rc = sqlite3_prepare_v2(db_, s.delta > 0 ? kUp : kDown, -1, &q, nullptr);
    if (rc != SQLITE_OK) return false;
    const std::string name = s.scoped ? std::string(tables[s.table].table) + ":" + tables[s.table].scopeColumn
                                      : std::string(tables[s.table].table);
    sqlite3_bind_text(q, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(q, 2, s.scope);
    sqlite3_bind_int64(q, 3, s.delta);
    rc = sqlite3_step(q);
    sqlite3_finalize(q);
    if (rc != SQLITE_DONE) return false;
  }
  sums_.clear();
  return true;
}

int64_t CountKeeper::Pending(std::string_view table, bool scoped, int64_t scope) const {
  const auto& tables = Tables();
  for (const auto& s : sums_)
    if (s.scoped == scoped && s.scope == scope && table == tables[s.table].table) return s.delta;
  return 0;
}

}  // namespace morvent
