// Loads a plugin and has it export through the library inside it.
//
//   morvent_host PLUGIN.so LEDGER.db FILE.xml
#include <dlfcn.h>

#include <cstdio>
#include <fstream>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: morvent_host PLUGIN.so LEDGER.db FILE.xml\n");
    return 2;
  }
  void* plugin = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!plugin) {
    std::fprintf(stderr, "host: %s\n", dlerror());
    return 1;
  }
  using Export = int (*)(const char*, int, const char*);
  auto run = reinterpret_cast<Export>(dlsym(plugin, "morvent_plugin_export"));
  if (!run) {
    std::fprintf(stderr, "host: %s\n", dlerror());
    return 1;
  }
  const int rows = run(argv[2], 120, argv[3]);
  const bool written = std::ifstream(argv[3]).peek() == '<';
  std::printf("%s the plugin exported %d departments\n", rows > 0 && written ? "ok  " : "FAIL", rows);
  dlclose(plugin);
  return rows > 0 && written ? 0 : 1;
}
