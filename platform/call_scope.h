#pragma once
// The extent of one public call on this thread. Components that defer work
// inside a call (the ledger groups its saves into one transaction) register
// a hook that runs on the calling thread when the outermost scope ends,
// however the call ends: result, cancel or error.
//
// Inside a call the walks mark each record's saves with a RecordScope, so
// deferred work is committed only between records, never inside one. A
// commit that fails is noted here (NoteLostWrite) by whoever ran it, since
// hooks cannot throw; the walk or front end that next looks (TakeLostWrite)
// reports it once and ends the call with False.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace morvent {

class PublicCallScope {
 public:
  PublicCallScope();
  ~PublicCallScope();
  PublicCallScope(const PublicCallScope&) = delete;
  PublicCallScope& operator=(const PublicCallScope&) = delete;
};

// Whether the calling thread is inside a public call.
bool InPublicCall();
// A number of the thread's outermost public call, new for each (0 outside).
uint64_t CallSerial();

// Registers a hook run at the end of every outermost public call on the
// thread that made the call. Hooks must not throw; they are registered once
// per process (at component registration).
void RegisterCallEndHook(std::function<void()> hook);
// Runs the call-end hooks now (a front end does, before it answers, so a
// failed final commit still reaches its client).
void RunCallEndHooks();

// Runs before control goes to someone who may take long to answer (an
// error event, a message box), so deferred work (grouped saves) does not
// stay uncommitted, holding other writers off, while they think.
void RegisterClientWaitHook(std::function<void()> hook);
void BeforeClientWait();

// The saves of one record of a walk. While one is open, deferred work is
// not committed; when the outermost one ends, the record-end hooks run
// (the ledger commits there when its quarter second is up). Stored() marks
// the record as stored, for the count a lost write reports.
//
// A record either stays whole or leaves nothing: when the outermost scope
// is left by an error before Stored(), everything the record did is undone
// (its parties roll back, its undo steps run, newest first) before the
// error goes on to whoever reports it. An error caught inside the scope
// undoes nothing.
class RecordScope {
 public:
  RecordScope();
  ~RecordScope();
  RecordScope(const RecordScope&) = delete;
  RecordScope& operator=(const RecordScope&) = delete;
  void Stored() { stored_ = true; }

 private:
  bool stored_ = false;
  int unwinding_;  // errors in flight when the scope began
};
bool InRecord();
void RegisterRecordEndHook(std::function<void()> hook);

// Something holding a record's work (a ledger connection), told once when
// the outermost record ends: undo false keeps the work, true drops it.
class RecordParty {
 public:
  virtual ~RecordParty() = default;
  virtual void RecordEnds(bool undo) noexcept = 0;
};
// Joins the open outermost record (nothing outside one); the party is held
// until the record ends.
void JoinRecord(std::shared_ptr<RecordParty> party);
// A step that takes back what the open record changed outside the ledger
// (a cache, a marker); run only if the record is undone. Outside a record
// it is dropped.
void OnRecordUndo(std::function<void()> undo);

// A window of records run ahead of their confirmation (a server ledger's
// records sent without waiting for each answer). While one is open, the
// undo steps of the records that end well are kept, so that the whole
// window can be taken back when one of its records turns out to have
// failed; closing it with undo runs them, newest first, and forgets the
// records it counted stored. The ledger's own work is its parties' to undo.
void OpenRecordWindow();
void CloseRecordWindow(bool undo);
bool InRecordWindow();

// Deferred work of this call has reached the ledger file: the records
// stored so far are safe.
void NoteCommitted();
// How often deferred work of this call has reached the ledger file so far.
int64_t CommitsInCall();
// A commit inside the call failed and its work is gone. The first note of
// a call wins; later writes of the call are refused (LostWritePending).
void NoteLostWrite(const std::string& reason);
bool LostWritePending();
// The message of a noted, not yet reported lost write, once:
// "账套不能写入：<reason>；此前已保存 N 条记录。" where N counts the records
// whose work had been committed. Later calls answer nullopt.
std::optional<std::string> TakeLostWrite();
// The message as TakeLostWrite words it.
std::string LostWriteMessage(const std::string& reason, int64_t storedBefore);

}  // namespace morvent
