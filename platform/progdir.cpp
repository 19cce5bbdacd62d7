#include "platform/progdir.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

namespace morvent {

namespace {
std::string DirName(const std::string& path) {
  auto p = path.find_last_of('/');
  if (p == std::string::npos) return ".";
  if (p == 0) return "/";
  return path.substr(0, p);
}
}  // namespace

std::string ProgramDirectory() {
  if (const char* home = std::getenv("MORVENT_HOME"); home && *home) return home;
  // The module holding this function: the executable for a static link,
  // the shared library otherwise.
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ProgramDirectory), &info) && info.dli_fname) {
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved)) {
      std::string module = resolved;
      char exe[PATH_MAX];
      ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
      if (n > 0) {
        exe[n] = 0;
        // A static link reports the executable's name as given on the command line.
        if (module == exe || DirName(module) != ".") return DirName(module);
      }
      return DirName(module);
    }
  }
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    exe[n] = 0;
    return DirName(exe);
  }
  return ".";
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

bool FileExist(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace morvent
