#pragma once
// Modal message boxes: the warning (with a beep) and the Yes/No question,
// both titled "Morvent". They are the client's: the library itself never
// reads the terminal. Until a client installs its own, a warning is written
// to stderr and a question is answered No, with kUnansweredQuestion after
// its text on stderr, so nothing is overwritten without consent.
#include <memory>
#include <string>

#include "platform/export.h"

namespace morvent {

inline constexpr const char* kBoxTitle = "Morvent";
inline constexpr const char* kUnansweredQuestion = " → 否：程序没有设置消息框（SetMessageBoxes），无人回答";

class MORVENT_API MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  virtual void Warning(const std::string& text) = 0;
  // True for Yes.
  virtual bool Question(const std::string& text) = 0;
};

// Installs the boxes for the whole process (nullptr restores the default)
// and answers the previous ones.
MORVENT_API std::shared_ptr<MessageBoxes> SetMessageBoxes(std::shared_ptr<MessageBoxes> boxes);
// Shared, so boxes replaced on another thread stay alive while shown.
MORVENT_API std::shared_ptr<MessageBoxes> CurrentMessageBoxes();

}  // namespace morvent
