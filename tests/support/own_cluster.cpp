#include "tests/support/own_cluster.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace morvent::test {

namespace fs = std::filesystem;

namespace {
// The newest installed server's programs, or empty.
std::string ServerBin() {
  std::vector<fs::path> found;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/usr/lib/postgresql", ec))
    if (fs::exists(e.path() / "bin" / "pg_ctl")) found.push_back(e.path() / "bin");
  if (found.empty()) return "";
  std::sort(found.begin(), found.end(), [](const fs::path& a, const fs::path& b) {
    return std::stoi(a.parent_path().filename().string()) < std::stoi(b.parent_path().filename().string());
  });
  return found.back().string();
}
}  // namespace

bool OwnCluster::Available() { return !ServerBin().empty() && (geteuid() != 0 || getpwnam("postgres")); }

OwnCluster::OwnCluster() : bin_(ServerBin()) {
  if (bin_.empty()) return;
  if (geteuid() == 0) {
    const passwd* pg = getpwnam("postgres");
    if (!pg || chown(dir_.path().c_str(), pg->pw_uid, pg->pw_gid) != 0) return;
  }
  ok_ = Run("/initdb -D '" + dir_.file("data") + "' -A trust -U morvent -E UTF8 --no-locale") && Start();
}

OwnCluster::~OwnCluster() {
  if (!bin_.empty()) StopImmediately();
}

bool OwnCluster::Run(const std::string& args) const {
  const std::string as = geteuid() == 0 ? "runuser -u postgres -- " : "";
  return std::system((as + "'" + bin_ + "'" + args + " >>'" + dir_.file("ctl.log") + "' 2>&1").c_str()) == 0;
}

bool OwnCluster::Start() {
  return Run("/pg_ctl -D '" + dir_.file("data") + "' -l '" + dir_.file("server.log") + "' -w -o \"-c listen_addresses='' -k " +
             dir_.path() + "\" start");
}

bool OwnCluster::StopImmediately() { return Run("/pg_ctl -D '" + dir_.file("data") + "' -m immediate -w stop"); }

std::string OwnCluster::Uri(const std::string& database) const {
  return "postgresql:///" + database + "?host=" + dir_.path() + "&user=morvent";
}

std::string OwnCluster::Log() const {
  std::error_code ec;
  std::string out;
  for (const char* name : {"ctl.log", "server.log"})
    if (fs::exists(dir_.file(name), ec)) out += ReadFile(dir_.file(name));
  return out;
}

}  // namespace morvent::test
