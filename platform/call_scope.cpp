#include "platform/call_scope.h"

#include <exception>
#include <memory>
#include <mutex>
#include <vector>

namespace morvent {

namespace {
struct CallState {
  int depth = 0;
  int recordDepth = 0;
  int64_t pendingRecords = 0;    // stored since the last commit
  int64_t committedRecords = 0;  // stored and committed
  int64_t commits = 0;
  bool lost = false;
  bool lostReported = false;
  std::string lostReason;
  int64_t lostAfter = 0;
};
thread_local CallState state;

// What the open outermost record holds; kept apart from the call, since a
// walk's record may run outside one (a test, a library client's own loop).
struct RecordState {
  std::vector<std::shared_ptr<RecordParty>> parties;
  std::vector<std::function<void()>> undo;
};
thread_local RecordState record;

struct WindowState {
  bool open = false;
  int64_t pendingRecords = 0;  // the call's when the window opened
  std::vector<std::function<void()>> undo;
};
thread_local WindowState window;

void RunBackwards(std::vector<std::function<void()>>& steps) {
  for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
    try {
      (*it)();
    } catch (...) {
      // A step that fails must not turn an undone record into a crash.
    }
  }
}

std::mutex& HookMutex() {
  static std::mutex m;
  return m;
}
// A list is replaced whole when a hook is added, so a run takes a snapshot
// without copying the hooks (the record-end hooks run once per record).
using HookList = std::shared_ptr<const std::vector<std::function<void()>>>;
HookList& Hooks() {
  static HookList h = std::make_shared<std::vector<std::function<void()>>>();
  return h;
}
HookList& WaitHooks() {
  static HookList h = std::make_shared<std::vector<std::function<void()>>>();
  return h;
}
HookList& RecordHooks() {
  static HookList h = std::make_shared<std::vector<std::function<void()>>>();
  return h;
}
void RunAll(const HookList& list) {
  HookList hooks;
  {
    std::lock_guard lock(HookMutex());
    hooks = list;
  }
  for (auto& h : *hooks) {
    try {
      h();
    } catch (...) {
      // A hook that fails must not turn a finished call into a crash.
    }
  }
}
void Register(HookList& list, std::function<void()> hook) {
  std::lock_guard lock(HookMutex());
  auto grown = std::make_shared<std::vector<std::function<void()>>>(*list);
  grown->push_back(std::move(hook));
  list = std::move(grown);
}
}  // namespace

namespace {
thread_local uint64_t callSerial = 0;  // the outermost calls so far
}  // namespace

PublicCallScope::PublicCallScope() {
  if (state.depth++ == 0) {
    state = CallState{.depth = 1};
    ++callSerial;
  }
}

PublicCallScope::~PublicCallScope() {
  if (state.depth > 1) {
    --state.depth;
    return;
  }
  RunAll(Hooks());
  state = CallState{};
}

bool InPublicCall() { return state.depth > 0; }
uint64_t CallSerial() { return state.depth > 0 ? callSerial : 0; }

void RegisterCallEndHook(std::function<void()> hook) { Register(Hooks(), std::move(hook)); }
void RunCallEndHooks() { RunAll(Hooks()); }

void RegisterClientWaitHook(std::function<void()> hook) { Register(WaitHooks(), std::move(hook)); }

void BeforeClientWait() {
  if (state.depth > 0) RunAll(WaitHooks());
}

RecordScope::RecordScope() : unwinding_(std::uncaught_exceptions()) { ++state.recordDepth; }

RecordScope::~RecordScope() {
  if (--state.recordDepth > 0) return;
  if (stored_) ++state.pendingRecords;
  const bool undo = !stored_ && std::uncaught_exceptions() > unwinding_;
  if (!record.parties.empty() || !record.undo.empty()) {
    // Taken first: a party may open a record of its own while it ends.
    auto parties = std::move(record.parties);
    auto steps = std::move(record.undo);
    record.parties.clear();
    record.undo.clear();
    for (auto& p : parties) p->RecordEnds(undo);
    if (undo)
      RunBackwards(steps);
    else if (window.open)
      for (auto& step : steps) window.undo.push_back(std::move(step));
    parties.clear();
    if (record.parties.empty()) record.parties = std::move(parties);  // keeps the room
  }
  RunAll(RecordHooks());
}

bool InRecord() { return state.recordDepth > 0; }
void RegisterRecordEndHook(std::function<void()> hook) { Register(RecordHooks(), std::move(hook)); }

void JoinRecord(std::shared_ptr<RecordParty> party) {
  if (state.recordDepth > 0 && party) record.parties.push_back(std::move(party));
}

void OnRecordUndo(std::function<void()> undo) {
  if (state.recordDepth > 0 && undo) record.undo.push_back(std::move(undo));
}

void OpenRecordWindow() {
  window.open = true;
  window.pendingRecords = state.pendingRecords;
  window.undo.clear();
}

void CloseRecordWindow(bool undo) {
  if (!window.open) return;
  window.open = false;
  if (undo) {
    RunBackwards(window.undo);
    if (!state.lost) state.pendingRecords = window.pendingRecords;
  }
  window.undo.clear();
}

bool InRecordWindow() { return window.open; }

int64_t CommitsInCall() { return state.commits; }

void NoteCommitted() {
  ++state.commits;
  state.committedRecords += state.pendingRecords;
  state.pendingRecords = 0;
}

void NoteLostWrite(const std::string& reason) {
  if (state.depth == 0 || state.lost) return;
  state.lost = true;
  state.lostReason = reason;
  state.lostAfter = state.committedRecords;
  state.pendingRecords = 0;
}

bool LostWritePending() { return state.depth > 0 && state.lost; }

std::optional<std::string> TakeLostWrite() {
  if (!state.lost || state.lostReported) return std::nullopt;
  state.lostReported = true;
  return LostWriteMessage(state.lostReason, state.lostAfter);
}

std::string LostWriteMessage(const std::string& reason, int64_t storedBefore) {
  return "账套不能写入：" + reason + "；此前已保存 " + std::to_string(storedBefore) + " 条记录。";
}

}  // namespace morvent
