#pragma once
// The tool run as a child process: the page's imports, exports and
// templates go through the very commands a user types, so every walk,
// event, rule and log entry is the tool's own.
#include <sys/types.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace morvent::web {

class Child {
 public:
  // Starts `tool args...` with stdin from /dev/null, stderr into stderrFile
  // and stdout read line by line on the calling thread by Wait. Raises
  // std::runtime_error when it cannot start.
  Child(const std::string& tool, const std::vector<std::string>& args, const std::string& stderrFile);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Hands on each line of stdout until it closes, then answers the exit
  // status (128 + signal for a child a signal ended).
  int Wait(const std::function<void(const std::string&)>& line);
  // Ctrl-C for the child: the tool answers its next event's cancel.
  void Interrupt();

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::mutex reap_;  // a reaped pid is never signalled
  bool waited_ = false;
};

}  // namespace morvent::web
