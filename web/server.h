#pragma once
// `morvent serve`: the exchange as a local web page. One ledger, fixed at
// start; every request carries the token printed at start (the page's
// address in the query, every API call in the X-Morvent-Token header);
// uploads are kept, under a size limit, in a private folder of the
// server's own and read only as data files; one import or export at a
// time. Runs are the tool's own commands in a child process (web/child.h),
// their JSON events pushed to the page as server-sent events.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace morvent::web {

inline constexpr const char* kTokenHeader = "X-Morvent-Token";
inline constexpr int64_t kDefaultMaxUploadMb = 200;

struct ServeOptions {
  std::string ledger;
  std::string bind = "127.0.0.1";
  int port = 8080;  // 0: any free port
  int64_t maxUploadBytes = kDefaultMaxUploadMb * 1024 * 1024;
  // The tool the runs start; empty: this very program.
  std::string tool;
  // The token; empty: 32 random hex digits.
  std::string token;
};

class Server {
 public:
  // Raises std::runtime_error when the ledger cannot be read or the
  // private folder cannot be made.
  explicit Server(ServeOptions options);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds; answers the port, or -1 when the address cannot be bound.
  int Bind();
  // Serves until Stop (from another thread).
  void Listen();
  void Stop();
  const std::string& Token() const;
  // The page's address with the token.
  std::string Url() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The command: prints the address, serves until SIGINT or SIGTERM and
// answers the exit status.
int RunServe(const ServeOptions& options);

}  // namespace morvent::web
