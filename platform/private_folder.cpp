#include "platform/private_folder.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

namespace morvent {

namespace fs = std::filesystem;

namespace {

constexpr const char* kOwnerFile = "owner";

void RemoveAbandoned(const fs::path& temp, const std::string& prefix) {
  std::error_code ec;
  for (fs::directory_iterator it(temp, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    struct stat st {};
    if (!name.starts_with(prefix) || name.size() != prefix.size() + 6 || ::lstat(it->path().c_str(), &st) != 0 ||
        !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
      continue;
    long pid = 0;
    std::ifstream owner(it->path() / kOwnerFile);
    if (!(owner >> pid) || pid <= 0) continue;
    if (ProcessGone(pid)) {
      std::error_code gone;
      fs::remove_all(it->path(), gone);
    }
  }
}

}  // namespace

bool ProcessGone(long pid) { return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

PrivateFolder::PrivateFolder(const std::string& prefix) {
  std::error_code ec;
  const fs::path temp = fs::temp_directory_path(ec);
  if (ec) return;
  const int saved = errno;
  RemoveAbandoned(temp, prefix);
  errno = saved;
  std::string pattern = (temp / (prefix + "XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) return;
  path_ = pattern;
  std::ofstream(file(kOwnerFile)) << ::getpid() << '\n';
}

PrivateFolder::~PrivateFolder() {
  std::error_code ec;
  if (!path_.empty()) fs::remove_all(path_, ec);
}

}  // namespace morvent
