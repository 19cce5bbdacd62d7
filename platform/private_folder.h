#pragma once
// A folder of this process alone under the temporary folder, for work files
// (a scratch ledger, uploads, a sheet's rows as a data file): an
// unpredictable name "<prefix>XXXXXX", mode 0700, removed with all it holds
// when the object goes. It names its process in a file "owner", so that
// one a killed process left is removed when the next with the same prefix
// is made: only this user's, only once that process is gone, never one
// without the mark.
#include <string>

namespace morvent {

// Whether no process has this id any more: what such a process left may go.
// A live one, or one this process may not signal, is never taken for gone.
bool ProcessGone(long pid);

class PrivateFolder {
 public:
  // path() is empty when the folder cannot be made (errno says why).
  explicit PrivateFolder(const std::string& prefix);
  ~PrivateFolder();
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace morvent
