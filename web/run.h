#pragma once
// One import run of the page: the tool's import in a child process, its
// JSON events kept in order for the page and gathered into counts and an
// errors table.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "web/child.h"

namespace morvent::web {

class Run {
 public:
  // args: the tool's, "--events jsonl" among them. errorsBook: where the
  // tool writes the errors workbook ("" when it writes none). onEnd runs
  // on the run's thread once the child has ended, before the run is Done.
  Run(std::string id, const std::string& tool, const std::vector<std::string>& args, const std::string& folder,
      std::string errorsBook, nlohmann::json about, std::function<void()> onEnd);
  ~Run();

  const std::string& Id() const { return id_; }
  // A reader's place in the events.
  struct Place {
    size_t next = 0;
    uint64_t rowSeen = 0;
  };
  // The events after the place, waiting up to `waitMs` for one, and moves
  // the place on; done: the run had ended. Row events in a row are kept as
  // the last of them only, so a long run costs no memory per record: a
  // reader is handed each event but may miss rows between two it sees.
  std::vector<std::string> EventsFrom(Place& place, int waitMs, bool& done);
  // {"id", "done", "status", "cancelled", "rows", "rate", "counts", "errors", "warnings", "errorsBook",
  // "notes" (the tool's last lines on stderr, once done), ...about}
  nlohmann::json State();
  void Cancel();
  bool Done();
  const std::string& ErrorsBook() const { return errorsBook_; }

 private:
  void Event(const std::string& line);
  std::string id_;
  std::string errorsBook_;
  std::string stderrFile_;
  nlohmann::json about_;
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<std::string> events_;
  bool lastIsRow_ = false;
  uint64_t rowSeq_ = 0;  // moves on with every row event
  nlohmann::json counts_ = nlohmann::json::object();
  nlohmann::json errors_ = nlohmann::json::array();
  nlohmann::json warnings_ = nlohmann::json::array();
  int32_t rows_ = 0;
  double rate_ = 0;
  std::string element_;
  bool done_ = false;
  bool cancelled_ = false;
  int status_ = -1;
  std::string failure_;
  std::unique_ptr<Child> child_;
  std::thread thread_;
};

// The sheet row an error message names ("表格位置：第 5 行"), or 0.
int64_t SheetRowOf(const std::string& message);

}  // namespace morvent::web
