#include "platform/progdir.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>

// The schema folder of an installed tree, from its bin folder.
#ifndef MORVENT_INSTALLED_SCHEMAS
#define MORVENT_INSTALLED_SCHEMAS "../share/morvent/schemas"
#endif
// The same from the library folder, for a shared library.
#ifndef MORVENT_INSTALLED_SCHEMAS_FROM_LIB
#define MORVENT_INSTALLED_SCHEMAS_FROM_LIB MORVENT_INSTALLED_SCHEMAS
#endif

namespace morvent {

namespace {
std::string DirName(const std::string& path) {
  auto p = path.find_last_of('/');
  if (p == std::string::npos) return ".";
  if (p == 0) return "/";
  return path.substr(0, p);
}

std::string ExecutableDirectory() {
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return ".";
  exe[n] = 0;
  return DirName(exe);
}

const char* Home() {
  const char* home = std::getenv("MORVENT_HOME");
  return home && *home ? home : nullptr;
}

// A home that holds no schema file at all is one for the log only.
bool HoldsSchemas(const std::string& dir) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.starts_with("Schema") && name.ends_with(".xml") && FileExist(it->path().string())) return true;
  }
  return false;
}

// The home when schemas are looked up there.
const char* SchemaHome() {
  const char* home = Home();
  return home && HoldsSchemas(home) ? home : nullptr;
}

std::string ModuleDirectory() {
  // The module holding this function: a shared library when the library is
  // loaded as one, else the executable. For the executable the loader only
  // knows the name it was started under, which a later change of the
  // working directory makes point elsewhere, so the kernel is asked instead.
  Dl_info info{};
  link_map* map = nullptr;
  if (dladdr1(reinterpret_cast<void*>(&ProgramDirectory), &info, reinterpret_cast<void**>(&map),
              RTLD_DL_LINKMAP) &&
      map && map->l_name && *map->l_name) {
    char resolved[PATH_MAX];
    if (realpath(map->l_name, resolved)) return DirName(resolved);
  }
  return ExecutableDirectory();
}
}  // namespace

std::string ProgramDirectory() {
  if (const char* home = Home()) return home;
  return ModuleDirectory();
}

std::string StateDirectory() {
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/') return JoinPath(state, "morvent");
  if (const char* home = std::getenv("HOME"); home && *home == '/') return JoinPath(home, ".local/state/morvent");
  return "";
}

bool FolderWritable(const std::string& dir) {
  struct stat st {};
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(dir.c_str(), W_OK | X_OK) == 0;
}

std::string SchemaFilePath(const std::string& programDir, const std::string& fileName) {
  const std::string beside = JoinPath(programDir, fileName);
  if (FileExist(beside)) return beside;
  for (const char* installed : {MORVENT_INSTALLED_SCHEMAS, MORVENT_INSTALLED_SCHEMAS_FROM_LIB})
    if (std::string path = JoinPath(JoinPath(programDir, installed), fileName); FileExist(path)) return path;
  return beside;
}

std::string SchemaFilePath(const std::string& fileName) {
  if (const char* home = SchemaHome()) return JoinPath(home, fileName);
  return SchemaFilePath(ModuleDirectory(), fileName);
}

namespace {
// "a/b/../c/" and "a/c" name one folder.
std::string Folder(const std::string& dir) {
  std::string s = std::filesystem::path(dir).lexically_normal().string();
  if (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}
}  // namespace

std::vector<std::string> SchemaDirectories() {
  if (const char* home = SchemaHome()) return {Folder(home)};
  std::string dir = ModuleDirectory();
  std::vector<std::string> dirs{Folder(dir), Folder(JoinPath(dir, MORVENT_INSTALLED_SCHEMAS))};
  if (std::string fromLib = Folder(JoinPath(dir, MORVENT_INSTALLED_SCHEMAS_FROM_LIB)); fromLib != dirs.back())
    dirs.push_back(fromLib);
  return dirs;
}

std::string MissingSchemaText(const std::string& shownName, const std::string& path) {
  std::string text = "Morvent接口定义文件 " + shownName + " 不存在！";
  std::vector<std::string> dirs = SchemaDirectories();
  // A path from elsewhere was looked for there alone.
  if (std::string dir = Folder(DirName(path)); dir != dirs.front()) dirs = {dir};
  std::string where;
  for (const auto& d : dirs) where += (where.empty() ? "" : "、") + d;
  const char* home = SchemaHome();
  if (home && dirs.front() == Folder(home))
    return text + "已在环境变量 MORVENT_HOME 指定的 " + where + " 中查找。";
  return text + "已在 " + where + " 中查找；可用环境变量 MORVENT_HOME 指定接口定义文件所在的文件夹。";
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
