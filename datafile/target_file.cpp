#include "datafile/target_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "context/props.h"
#include "platform/private_folder.h"

namespace morvent::xml {

namespace fs = std::filesystem;

namespace {

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "目录";
  if (S_ISFIFO(mode)) return "命名管道";
  if (S_ISSOCK(mode)) return "套接字";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "设备";
  return "特殊文件";
}

std::string Canonical(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
  return ec ? path : p.lexically_normal().string();
}

// The ledger's files, from the current call's property string.
std::vector<std::string> LedgerFiles() {
  std::string source;
  try {
    auto table = ParsePropertyString(Context().gPropsString);
    if (auto it = table.find("Data Source"); it != table.end()) source = it->second;
  } catch (...) {
    return {};  // a string that does not parse names no ledger to protect
  }
  if (source.empty()) return {};
  return {source, source + "-wal", source + "-shm", source + "-journal"};
}

}  // namespace

std::string RealTarget(const std::string& target) {
  std::string path = target;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    std::vector<char> buf(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
    ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size());
    if (n < 0 || static_cast<size_t>(n) >= buf.size()) break;
    fs::path next(std::string(buf.data(), static_cast<size_t>(n)));
    path = next.is_absolute() ? next.string() : (fs::path(path).parent_path() / next).string();
  }
  return path;
}

std::string TargetProblem(const std::string& target) {
  std::string real = RealTarget(target);
  struct stat st {};
  bool exists = ::stat(real.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) return std::string("不是普通文件（") + KindOf(st.st_mode) + "）";
  std::string canonical = Canonical(real);
  for (const auto& file : LedgerFiles()) {
    struct stat ledger {};
    if (exists && ::stat(file.c_str(), &ledger) == 0 && ledger.st_dev == st.st_dev && ledger.st_ino == st.st_ino)
      return "是当前账套的文件";
    if (Canonical(file) == canonical) return "是当前账套的文件";
  }
  return "";
}

std::string TargetRefusedText(const std::string& target, const std::string& problem) {
  return target + " " + problem + "，不能用作数据文件！";
}

namespace {
constexpr const char* kTempMark = ".morvent-";
}  // namespace

std::string TempNameBeside(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  const fs::path p(path);
  const std::string name = "." + p.filename().string() + kTempMark + std::to_string(::getpid()) + "-" +
                           std::to_string(counter++) + ".tmp";
  return (p.parent_path() / name).string();
}

void RemoveStaleTemps(const std::string& dir) {
  std::error_code ec;
  for (fs::directory_iterator it(dir.empty() ? "." : dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const auto mark = name.rfind(kTempMark);
    if (name.empty() || name[0] != '.' || mark == std::string::npos) continue;
    const char* digits = name.c_str() + mark + std::strlen(kTempMark);
    char* stop = nullptr;
    const long pid = std::strtol(digits, &stop, 10);
    if (stop == digits || *stop != '-' || pid <= 0) continue;
    const char* n = stop + 1;
    while (*n >= '0' && *n <= '9') ++n;
    if (n == stop + 1 || std::strncmp(n, ".tmp", 4) != 0 || (n[4] != '\0' && n[4] != '.')) continue;
    if (ProcessGone(pid)) {
      std::error_code gone;
      fs::remove_all(it->path(), gone);
    }
  }
}

}  // namespace morvent::xml
