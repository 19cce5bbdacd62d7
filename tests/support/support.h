#pragma once
// Shared test fixtures: a temporary program directory holding the schema
// files (so the log and schemas of a test never touch the build tree), and
// message boxes that record what they were asked.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "context/record.h"
#include "platform/error.h"
#include "platform/msgbox.h"

namespace morvent::test {

// A fresh directory under the system's temporary folder, removed at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Boxes that answer questions from a preset answer and remember every text.
class RecordingBoxes : public MessageBoxes {
 public:
  void Warning(const std::string& text) override { warnings.push_back(text); }
  bool Question(const std::string& text) override {
    questions.push_back(text);
    return answer;
  }
  bool answer = false;
  std::vector<std::string> warnings;
  std::vector<std::string> questions;
};

// Points MORVENT_HOME at a temporary directory holding the shipped schema
// files and installs recording boxes; restores both at the end.
class ProgramHome {
 public:
  ProgramHome();
  ~ProgramHome();
  const std::string& path() const { return dir_.path(); }
  std::string file(const std::string& name) const { return dir_.file(name); }
  RecordingBoxes& boxes() { return *boxes_; }
  void RemoveSchema(const std::string& name);

 private:
  TempDir dir_;
  std::shared_ptr<RecordingBoxes> boxes_;
  std::shared_ptr<MessageBoxes> previousBoxes_;
  std::string previousHome_;
  bool hadHome_ = false;
};

// The entries of an exchange log, decoded from the encoding it declares.
struct LogEntry {
  std::string direct, time, message;
};
std::vector<LogEntry> ReadLogEntries(const std::string& path);

// What fn answers when run in a forked child (which may give up rights or
// set limits first without touching the test process); a child that could
// not hand its answer back fails the test.
std::string InChild(const std::function<std::string()>& fn);

// The description of the Error that fn raises, or "" when it raises none.
template <class F>
std::string ErrorOf(F&& fn) {
  try {
    fn();
  } catch (const Error& e) {
    return e.Description();
  }
  return "";
}

// A record of keys in the order given, as a data file gives it.
DataRecordPtr Rec(std::vector<std::pair<std::string, Variant>> entries);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
// The folder of the source tree's schemas/.
std::string SourceSchemaDir();
std::string FixtureDir();

}  // namespace morvent::test
