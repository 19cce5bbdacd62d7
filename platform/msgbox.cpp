#include "platform/msgbox.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>

namespace morvent {

namespace {

class TerminalBoxes : public MessageBoxes {
 public:
  void Warning(const std::string& text) override {
    std::cerr << '\a' << "[" << kBoxTitle << "] " << text << std::endl;
  }
  bool Question(const std::string& text) override {
    if (!isatty(STDIN_FILENO)) {
      std::cerr << "[" << kBoxTitle << "] " << text << " (否：没有终端可询问)" << std::endl;
      return false;
    }
    std::cerr << "[" << kBoxTitle << "] " << text << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "是";
  }
};

std::mutex& BoxMutex() {
  static std::mutex m;
  return m;
}
std::shared_ptr<MessageBoxes>& Installed() {
  static std::shared_ptr<MessageBoxes> boxes = std::make_shared<TerminalBoxes>();
  return boxes;
}

}  // namespace

std::shared_ptr<MessageBoxes> SetMessageBoxes(std::shared_ptr<MessageBoxes> boxes) {
  std::lock_guard lock(BoxMutex());
  auto previous = Installed();
  Installed() = boxes ? std::move(boxes) : std::make_shared<TerminalBoxes>();
  return previous;
}

std::shared_ptr<MessageBoxes> CurrentMessageBoxes() {
  std::lock_guard lock(BoxMutex());
  return Installed();
}

}  // namespace morvent
