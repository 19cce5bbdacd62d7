#pragma once
// The server ledger in tests: a database of its own on the throw-away
// PostgreSQL server that scripts/test.sh starts (its URI in
// MORVENT_TEST_PG), created for one test and dropped after it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace morvent::test {

// The test server's maintenance URI, or nullptr when none was given.
const char* TestServer();
// The skip message of a test that needs the server and has none.
inline constexpr const char* kNoServer =
    "NO POSTGRESQL SERVER: MORVENT_TEST_PG is not set (scripts/test.sh starts one)";

// A fresh, empty database; dropped (its connections ended) when it goes.
class ServerDatabase {
 public:
  ServerDatabase();
  ~ServerDatabase();
  ServerDatabase(const ServerDatabase&) = delete;
  ServerDatabase& operator=(const ServerDatabase&) = delete;

  // The connection string of the database, in the form the server's URI
  // has (a URI, or a key/value string).
  const std::string& Source() const { return source_; }
  const std::string& Name() const { return name_; }

 private:
  std::string name_;
  std::string source_;
};

// Where a ledger test's ledger lives.
enum class LedgerEngine { File, Server };
inline void PrintTo(LedgerEngine engine, std::ostream* os) { *os << (engine == LedgerEngine::File ? "file" : "server"); }
// Both, for INSTANTIATE_TEST_SUITE_P; the server's cases skip without one.
inline auto BothEngines() { return ::testing::Values(LedgerEngine::File, LedgerEngine::Server); }
inline std::string EngineName(const ::testing::TestParamInfo<LedgerEngine>& info) {
  return info.param == LedgerEngine::File ? "file" : "server";
}

// One integer read by a connection of its own, as another program looking
// at the ledger (a file, or a server's database) would.
int64_t OutsideCount(const std::string& source, const std::string& sql);
// "real(t, s, n) AS (…)" for a WITH clause: the rows of every counted
// table by table and scope, as ledger_counts should say them.
std::string RealCountsCte();

// Runs SQL the same way; fails the test when it fails.
void OutsideExec(const std::string& source, const std::string& sql);

}  // namespace morvent::test
