#pragma once
// A PostgreSQL cluster a test owns: made with initdb in the test's own
// temporary folder, reached only through a Unix socket there, started and
// stopped (immediately, as a crash would) by the test, removed at the end.
// The server refuses to run as root, so root runs it as postgres.
#include <string>

#include "tests/support/support.h"

namespace morvent::test {

class OwnCluster {
 public:
  // Whether the server's programs are installed (the test skips otherwise).
  static bool Available();
  // initdb and a start; ok() tells whether both went well.
  OwnCluster();
  ~OwnCluster();
  OwnCluster(const OwnCluster&) = delete;
  OwnCluster& operator=(const OwnCluster&) = delete;

  bool ok() const { return ok_; }
  bool Start();
  // pg_ctl stop -m immediate: the server goes without a checkpoint.
  bool StopImmediately();
  // A URI of the database name on this cluster.
  std::string Uri(const std::string& database = "postgres") const;
  // What the server wrote to its log, for a failure's message.
  std::string Log() const;

 private:
  bool Run(const std::string& args) const;
  TempDir dir_;
  std::string bin_;
  bool ok_ = false;
};

}  // namespace morvent::test
