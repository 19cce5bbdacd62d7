#include "platform/msgbox.h"

#include <iostream>
#include <mutex>
#include <string>

namespace morvent {

namespace {

// What a process without boxes of its own gets. A library reading the
// terminal would steal input meant for its host, so a question is never
// put to anyone: it is answered No, and the reason is said on stderr.
class UnattendedBoxes : public MessageBoxes {
 public:
  void Warning(const std::string& text) override {
    std::cerr << '\a' << "[" << kBoxTitle << "] " << text << std::endl;
  }
  bool Question(const std::string& text) override {
    std::cerr << "[" << kBoxTitle << "] " << text << kUnansweredQuestion << std::endl;
    return false;
  }
};

std::mutex& BoxMutex() {
  static std::mutex m;
  return m;
}
std::shared_ptr<MessageBoxes>& Installed() {
  static std::shared_ptr<MessageBoxes> boxes = std::make_shared<UnattendedBoxes>();
  return boxes;
}

}  // namespace

std::shared_ptr<MessageBoxes> SetMessageBoxes(std::shared_ptr<MessageBoxes> boxes) {
  std::lock_guard lock(BoxMutex());
  auto previous = Installed();
  Installed() = boxes ? std::move(boxes) : std::make_shared<UnattendedBoxes>();
  return previous;
}

std::shared_ptr<MessageBoxes> CurrentMessageBoxes() {
  std::lock_guard lock(BoxMutex());
  return Installed();
}

}  // namespace morvent
