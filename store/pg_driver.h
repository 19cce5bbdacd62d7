#pragma once
// The server ledger's connection on libpq. Statements are written once in
// the dialect both engines agree on; the driver translates what differs:
// `?` and `?N` placeholders become `$n`, SQLite's identity columns
// (INTEGER PRIMARY KEY [AUTOINCREMENT]) become identity columns, WITHOUT
// ROWID goes, BEGIN IMMEDIATE becomes BEGIN. Values travel as text.
// A "Data Source" that names a server (IsServerSource) opens the ledger in
// that database's current schema (see LedgerStore::ForPath).
#include <cstdint>
#include <memory>
#include <string>

#include "store/driver.h"

namespace morvent {

// Whether a "Data Source" names a PostgreSQL server: a postgresql:// (or
// postgres://) URI, or a libpq key/value string ("host=... dbname=...").
bool IsServerSource(const std::string& dataSource);

// The connection string with its password (URI user info, a password
// parameter or key) replaced by "***": the only form of it that may reach
// a message, the log or an event.
std::string MaskPassword(const std::string& connection);

// SQL text in the server's dialect (see above).
std::string ServerSql(std::string_view sql);

// Connects to the server; raises the ledger's Chinese error, with the
// password masked, when it cannot.
std::unique_ptr<DbConnection> ConnectServer(const std::string& connection);

// Opens the ledger in the server's database; raises the ledger's error
// (password masked) when the database holds no ledger.
OpenedLedger OpenServerLedger(const std::string& connection);
// A connection to an empty database for a new ledger; refuses a database
// whose schema already holds tables.
std::unique_ptr<DbConnection> CreateServerLedger(const std::string& connection);

// Round trips to any server so far in this process (for the benchmark).
uint64_t ServerRoundTrips();

// The server's count triggers (PL/pgSQL) of a table: the same rules as
// CountTriggersSql in store/ledger_store.h.
std::string ServerCountTriggersSql(const std::string& table, const std::string& scopeColumn);

}  // namespace morvent
