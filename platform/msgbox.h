#pragma once
// Modal message boxes: the warning (with a beep) and the Yes/No question,
// both titled "Morvent". The library default asks on the terminal when there
// is one and answers No otherwise, so nothing is overwritten without consent.
#include <memory>
#include <string>

namespace morvent {

inline constexpr const char* kBoxTitle = "Morvent";

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  virtual void Warning(const std::string& text) = 0;
  // True for Yes.
  virtual bool Question(const std::string& text) = 0;
};

// Installs the boxes for the whole process (nullptr restores the default)
// and answers the previous ones.
std::shared_ptr<MessageBoxes> SetMessageBoxes(std::shared_ptr<MessageBoxes> boxes);
// Shared, so boxes replaced on another thread stay alive while shown.
std::shared_ptr<MessageBoxes> CurrentMessageBoxes();

}  // namespace morvent
