#include "tests/support/server_fixture.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <regex>

#include "store/driver.h"
#include "store/ledger_counts.h"
#include "store/pg_driver.h"
#include "store/sqlite_driver.h"

namespace morvent::test {

namespace {
void Maintain(const std::string& sql) {
  auto conn = ConnectServer(TestServer());
  if (!conn->Exec(sql.c_str())) throw std::runtime_error(sql + ": " + conn->LastFailure().message);
}
}  // namespace

const char* TestServer() {
  const char* uri = std::getenv("MORVENT_TEST_PG");
  return uri && *uri ? uri : nullptr;
}

ServerDatabase::ServerDatabase() {
  static std::atomic<int> made{0};
  name_ = "morvent_t" + std::to_string(getpid()) + "_" + std::to_string(++made);
  const std::string server = TestServer();
  static const std::regex uriPath(R"(^(postgres(?:ql)?://[^/?#]*)(/[^?#]*)?)", std::regex::icase);
  // A URI names the database in its path; in a key/value string a later
  // dbname wins over one the first dbname's expansion brings.
  source_ = std::regex_search(server, uriPath) ? std::regex_replace(server, uriPath, "$1/" + name_)
                                                : server + " dbname=" + name_;
  Maintain("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
  Maintain("CREATE DATABASE " + name_);
}

ServerDatabase::~ServerDatabase() {
  try {
    Maintain("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
  } catch (...) {
  }
}

int64_t OutsideCount(const std::string& source, const std::string& sql) {
  auto conn = IsServerSource(source) ? ConnectServer(source) : OpenSqliteLedger(source).connection;
  std::unique_ptr<DbStatement> q(conn->Prepare(sql.c_str(), sql.size()));
  return q && q->Next() == DbStatement::Step::Row ? q->Int(0) : -1;
}

std::string RealCountsCte() {
  std::string real;
  for (const auto& t : CountKeeper::Tables()) {
    real += std::string(real.empty() ? "" : " UNION ALL ") + "SELECT '" + t.table + "', 0, count(*) FROM " + t.table;
    if (*t.scopeColumn)
      real += std::string(" UNION ALL SELECT '") + t.table + ":" + t.scopeColumn + "', coalesce(" + t.scopeColumn +
              ", 0), count(*) FROM " + t.table + " GROUP BY 2";
  }
  return "real(t, s, n) AS (" + real + ")";
}

void OutsideExec(const std::string& source, const std::string& sql) {
  auto conn = IsServerSource(source) ? ConnectServer(source) : OpenSqliteLedger(source).connection;
  EXPECT_TRUE(conn->Exec(sql.c_str())) << sql << ": " << conn->LastFailure().message;
}

}  // namespace morvent::test
