#include "web/run.h"

#include <chrono>
#include <fstream>

namespace morvent::web {

namespace {

// The tool's own lines on stderr (a failure, what an interruption kept),
// the last few.
std::vector<std::string> LastLines(const std::string& file, size_t most) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  if (lines.size() > most) lines.erase(lines.begin(), lines.end() - static_cast<long>(most));
  return lines;
}

std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\r') c = '\n';
  return text;
}

}  // namespace

int64_t SheetRowOf(const std::string& message) {
  static const std::string mark = "表格位置：第 ";
  const size_t at = message.rfind(mark);
  if (at == std::string::npos) return 0;
  int64_t row = 0;
  for (size_t i = at + mark.size(); i < message.size() && message[i] >= '0' && message[i] <= '9'; ++i)
    row = row * 10 + (message[i] - '0');
  return row;
}

Run::Run(std::string id, const std::string& tool, const std::vector<std::string>& args, const std::string& folder,
         std::string errorsBook, nlohmann::json about, std::function<void()> onEnd)
    : id_(std::move(id)), errorsBook_(std::move(errorsBook)), stderrFile_(folder + "/stderr.txt"),
      about_(std::move(about)) {
  child_ = std::make_unique<Child>(tool, args, stderrFile_);
  thread_ = std::thread([this, onEnd = std::move(onEnd)] {
    const int status = child_->Wait([this](const std::string& line) { Event(line); });
    // The ledger is free before anyone hears the run ended: a run started
    // on that news must not be told to wait.
    onEnd();
    {
      std::lock_guard lock(m_);
      status_ = status;
      done_ = true;
    }
    cv_.notify_all();
  });
}

Run::~Run() {
  Cancel();
  if (thread_.joinable()) thread_.join();
}

void Run::Event(const std::string& line) {
  nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
  std::lock_guard lock(m_);
  bool row = false;
  if (j.is_object()) {
    const std::string event = j.value("event", "");
    row = event == "ImportOneRow" || event == "ExportOneRow";
    if (row) {
      rows_ = j.value("lRow", 0);
      rate_ = j.value("dblRate", 0.0);
    } else if (event == "Error") {
      const std::string message = j.value("sErrMsg", "");
      const int64_t sheetRow = SheetRowOf(message);
      nlohmann::json e = {{"row", sheetRow ? sheetRow : j.value("row", int64_t{0})},
                          {"number", j.value("number", "")},
                          {"key", j.value("key", "")},
                          {"value", j.contains("value") && j["value"].is_string() ? j["value"].get<std::string>() : ""},
                          {"element", j.value("element", element_)},
                          {"message", OneLine(message)}};
      errors_.push_back(e);
    } else if (event == "Result") {
      for (const char* k : {"created", "kept", "overwritten", "failed", "bareParents"})
        counts_[k] = counts_.value(k, int64_t{0}) + j.value(k, int64_t{0});
    } else if (event == "Warning") {
      // What the tool says of its errors file names the server's folder;
      // the page offers the file itself.
      const std::string text = j.value("text", "");
      if (errorsBook_.empty() || text.find(errorsBook_) == std::string::npos) warnings_.push_back(OneLine(text));
    } else if (event == "Summary") {
      element_ = j.value("element", "");
    }
  }
  if (row && lastIsRow_)
    events_.back() = line;
  else
    events_.push_back(line);
  lastIsRow_ = row;
  if (row) ++rowSeq_;
  cv_.notify_all();
}

std::vector<std::string> Run::EventsFrom(Place& place, int waitMs, bool& done) {
  std::unique_lock lock(m_);
  cv_.wait_for(lock, std::chrono::milliseconds(waitMs),
               [&] { return done_ || events_.size() > place.next || rowSeq_ != place.rowSeen; });
  std::vector<std::string> out;
  if (place.next < events_.size())
    out.assign(events_.begin() + static_cast<long>(place.next), events_.end());
  else if (rowSeq_ != place.rowSeen && lastIsRow_)
    out.push_back(events_.back());  // the row event handed out last has moved on since
  place.next = events_.size();
  place.rowSeen = rowSeq_;
  done = done_;
  return out;
}

nlohmann::json Run::State() {
  std::lock_guard lock(m_);
  nlohmann::json j = about_;
  j["id"] = id_;
  j["done"] = done_;
  j["status"] = status_;
  j["cancelled"] = cancelled_;
  j["rows"] = rows_;
  j["rate"] = rate_;
  j["counts"] = counts_;
  j["errors"] = errors_;
  j["warnings"] = warnings_;
  j["errorsBook"] = false;
  if (done_) {
    std::ifstream book(errorsBook_);
    j["errorsBook"] = !errorsBook_.empty() && book.good();
    j["notes"] = LastLines(stderrFile_, 20);
  }
  return j;
}

void Run::Cancel() {
  {
    std::lock_guard lock(m_);
    if (done_) return;
    cancelled_ = true;
  }
  child_->Interrupt();
}

bool Run::Done() {
  std::lock_guard lock(m_);
  return done_;
}

}  // namespace morvent::web
