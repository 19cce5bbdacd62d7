#include "front/walks.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <unordered_map>
#include <vector>

#include "context/glfunc.h"
#include "context/props.h"
#include "front/handler.h"
#include "front/import_warnings.h"
#include "front/trap.h"
#include "platform/call_scope.h"
#include "store/ledger_store.h"

namespace morvent {

std::string TextOf(const Variant& v) { return v.IsNull() || v.IsEmpty() ? std::string() : v.ToText(); }

namespace {
enum class Outcome { Created, Kept, Overwritten };

// Outcomes wait in pending until a commit takes them to the ledger file.
struct Tally {
  int walks = 0;  // nesting of import walks
  std::unordered_map<const DataRecord*, Outcome> chosen;
  ImportCounts counted, pending;
  int64_t commits = 0;
  // Records other than the current one noted since it began: a failed
  // record's work is undone, and so are the choices made for them.
  std::vector<const DataRecord*> notedAhead;

  // The record the outermost walk is importing: its outcome is kept here
  // rather than in the map, which then holds only records noted ahead.
  const DataRecord* current = nullptr;
  std::optional<Outcome> currentOutcome;
  int64_t currentBare = 0;  // parents created bare for the current record

  void Note(const DataRecord* record, Outcome o) {
    if (!record || walks == 0) return;
    // With the map empty the record was not noted before it became current.
    if (record == current && chosen.empty()) {
      if (!currentOutcome) currentOutcome = o;
      return;
    }
    if (chosen.try_emplace(record, o).second && current) notedAhead.push_back(record);
  }
  void Begin(const DataRecord* record) {
    current = record;
    currentOutcome.reset();
    notedAhead.clear();
    currentBare = 0;
  }
  void Confirm() {
    counted.created += pending.created;
    counted.kept += pending.kept;
    counted.overwritten += pending.overwritten;
    counted.failed += pending.failed;
    counted.bareParents += pending.bareParents;
    pending = {};
  }
  // Whatever a commit since the last look took to the file is counted.
  void Sync() {
    if (CommitsInCall() == commits) return;
    commits = CommitsInCall();
    Confirm();
  }
  void Count(const DataRecord* record, bool stored) {
    Outcome o = Outcome::Created;
    if (record == current && currentOutcome) o = *currentOutcome;
    if (!chosen.empty()) {
      auto it = chosen.find(record);
      // A note kept here for the current record came after its first one.
      if (it != chosen.end()) {
        if (!(record == current && currentOutcome)) o = it->second;
        chosen.erase(it);
      }
    }
    if (!stored)
      for (const DataRecord* r : notedAhead) chosen.erase(r);
    if (stored) pending.bareParents += currentBare;
    Begin(nullptr);
    if (!stored)
      ++pending.failed;
    else
      ++(o == Outcome::Kept ? pending.kept : o == Outcome::Overwritten ? pending.overwritten : pending.created);
    Sync();
  }
};
thread_local Tally tally;
}  // namespace

void ResetImportCounts() { tally = Tally{.commits = CommitsInCall()}; }

ImportCounts TakeImportCounts(bool writeLost) {
  if (writeLost) {
    // A kept object was not written, so nothing of it was lost.
    tally.counted.kept += tally.pending.kept;
    tally.counted.failed += tally.pending.created + tally.pending.overwritten + tally.pending.failed;
    tally.pending = {};  // the bare parents went with the lost work
  }
  tally.Confirm();
  ImportCounts counts = tally.counted;
  ResetImportCounts();
  return counts;
}

void NoteBareParent() {
  if (tally.walks > 0 && tally.current) ++tally.currentBare;
}

ImportTarget ChooseImportTarget(ObjectSet& set, int32_t foundId, StepRef<LedgerObjectPtr> createNew,
                                const DataRecord* record) {
  if (foundId < 1) {
    tally.Note(record, Outcome::Created);
    return {createNew(), false};
  }
  switch (Context().gImpStyle) {
    case 1:
      tally.Note(record, Outcome::Kept);
      return {nullptr, true};
    case 2:
      tally.Note(record, Outcome::Overwritten);
      return {set.Item(foundId), false};
    default:
      return {};
  }
}

namespace {
// Blanks as a data file may carry them: ASCII white space and the
// ideographic space.
bool IsBlank(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    if (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n') {
      ++i;
    } else if (s.compare(i, 3, "\xE3\x80\x80") == 0) {
      i += 3;
    } else {
      return false;
    }
  }
  return true;
}
}  // namespace

void CheckMatchKey(const DataRecord& record, const std::string& matchKey) {
  if (matchKey.empty()) return;
  const Variant key = record.GetValue(matchKey, Variant());
  if (key.IsText() ? IsBlank(key.RawText()) : IsBlank(TextOf(key))) {
    throw Error(kErrEmptyMatchKey, "PreImport", matchKey == "Name" ? "名称不能为空" : "代码不能为空");
  }
}

bool EntityHandler::RunExportWalk(const ExportWalk& w, const std::string& sFile) {
  std::unique_ptr<RecordStream> out;
  LedgerObjectPtr current;
  int32_t n = 0, i = 0;
  bool stop = false;

  // Before the first object and after the last there is no name to show.
  ErrorTrap trap(
      w.errorPrefix,
      [&] {
        if (!current) return std::string();
        return w.errorName ? w.errorName() : TextOf(current->Get(w.nameKey));
      },
      [this](const std::string& m) { return RaiseExpErr(m); });
  trap.SetDescriber([&](const Error&, ErrorDetail& d) {
    d.element = w.element;
    try {
      if (current) d.number = TextOf(current->Get("Number"));
    } catch (const std::exception&) {
      // an object without a number
    }
  });

  auto refused = trap.Test([&] { return !CheckExportFiles(w.schemaFile, sFile); });
  if (!refused || *refused) return false;
  // Without its list the export has nothing true to write.
  if (!trap.RunRequired(w.open)) return false;
  if (!trap.RunRequired([&] { n = w.count(); })) return false;
  // Each record goes to the file as soon as it is made, so the export holds
  // one at a time; a write that fails is reported after the last record, as
  // if the file were written whole then. Leaving early drops the file.
  out = OpenDataFileStream(sFile, SchemaPath(w.schemaFile), w.element);
  while (!w.counted || i < n) {
    LedgerObjectPtr next;
    if (!trap.RunRequired([&] { next = w.next(); })) return false;
    if (!next && !w.counted) break;
    current = next;
    if (w.collect) {
      if (!trap.Run([&] {
            // What a failing object collected before it failed is kept.
            RecordCollection group;
            auto handOn = [&] {
              for (int32_t k = group.LBound(); k <= group.UBound(); ++k) out->Add(group.Item(k));
            };
            try {
              w.collect(Must(current), group);
            } catch (...) {
              handOn();
              throw;
            }
            handOn();
          }))
        return false;
    } else {
      if (!trap.Run([&] {
            if (DataRecordPtr record = w.build(Must(current))) out->Add(std::move(record));
          }))
        return false;
    }
    ++i;
    if (!trap.Run([&] { stop = RaiseExpOneRow(i, ExportRate(i, n), w.progressPrefix + TextOf(Must(current).Get(w.nameKey))); }))
      return false;
    if (stop) return false;
  }
  current.reset();
  return trap.RunRequired([&] {
    std::string err;
    out->Close(err);
  });
}

namespace {
// Records sent ahead at once: few after a failure, doubling to the most
// while none fails; and no longer a window than a commit interval.
constexpr size_t kFirstWindow = 8, kLastWindow = 512;
constexpr std::chrono::milliseconds kWindowTime{100};
}  // namespace

bool EntityHandler::RunImportWalk(const ImportWalk& w, const std::string& sFile) {
  RecordCollectionPtr collection;
  DataRecordPtr current;
  bool stop = false;
  // Only the outermost walk's records are the file's.
  const bool counting = tally.walks == 0;
  ++tally.walks;
  struct Leave {
    ~Leave() {
      if (--tally.walks == 0) {
        tally.chosen.clear();
        tally.Begin(nullptr);
      }
    }
  } leave;

  ErrorTrap trap(
      w.errorPrefix, [&] { return current ? TextOf(current->Value(w.errorKey)) : std::string(); },
      [this](const std::string& m) { return RaiseImpErr(m); });
  trap.SetDescriber([&](const Error& e, ErrorDetail& d) { DescribeImportFailure(w, current.get(), e, d); });

  auto failed = trap.Test([&] {
    collection = std::make_shared<RecordCollection>();
    if (w.adopt) w.adopt(collection);
    std::string err;
    bool read = ReadDataFile(collection, sFile, SchemaPath(w.schemaFile), w.element, err);
    if (w.adopt) w.adopt(collection);
    return !read;
  });
  if (!failed || *failed) return false;
  if (counting) WarnAboutFile(w, *collection);
  // Every record would fail without the ledger.
  if (!trap.RunRequired(w.open)) return false;

  int32_t lb = 1, ub = 0;
  if (!trap.RunRequired([&] {
        lb = Must(collection).LBound();
        ub = collection->UBound();
      }))
    return false;
  const int32_t count = ub - lb + 1;
  int32_t told = lb - 1;       // the last record whose progress was raised
  int32_t safeUntil = lb - 1;  // records up to here run one at a time
  int32_t stopAfter = ub + 1;  // the client cancelled at this record
  // Raises record i's progress; false when the walk stops after it.
  auto progress = [&](int32_t i) {
    if (i <= told) return i != stopAfter;
    told = i;
    current = collection->Item(i);
    if (!trap.Run([&] {
          const Variant shown = current->Value(w.progressKey);
          std::string status;
          if (events.ImpStatusRead)
            status = w.progressPrefix + TextOf(shown);
          else if (!shown.IsText())
            TextOf(shown);  // a value without text fails the step as before
          stop = RaiseImpOneRow(i, ImportRate(i, count), status);
        }))
      return false;
    return !stop;
  };
  // The current record's import, whole or not at all.
  auto importCurrent = [&] {
    // Lookups and parents imported for this record belong to it.
    RecordScope record;
    ForgetLastRead();
    CheckMatchKey(*current, w.matchKey);
    w.importRecord(current);
    record.Stored();
  };
  // Runs record i, its error reported as it fails; false to stop.
  auto runOne = [&](int32_t i) {
    current = collection->Item(i);
    auto selected = w.selects ? trap.Test([&] { return w.selects(*current); }) : std::optional<bool>(true);
    if (!selected) return false;
    if (*selected) {
      if (counting) {
        tally.Sync();
        tally.Begin(current.get());
      }
      bool stored = false;
      const bool goOn = trap.Run([&] {
        RunRecordRetryingConflicts([&] {
          importCurrent();
          stored = true;
        });
      });
      if (counting) tally.Count(current.get(), stored);
      if (!stored && w.failed) w.failed(current);
      if (!goOn) return false;
    }
    return progress(i) && i != stopAfter;
  };
  // Runs records from i on, sent ahead, until the window is full; answers
  // whether the ledger has them all. next is the record after the last
  // run; failedAt names a record that raised, if one did.
  size_t window = kFirstWindow;
  auto runAhead = [&](int32_t i, int32_t& next, int32_t& failedAt) {
    const auto started = std::chrono::steady_clock::now();
    const int32_t first = i;
    next = i;
    for (; i <= ub && static_cast<size_t>(i - first) < window &&
           std::chrono::steady_clock::now() - started < kWindowTime;
         ++i) {
      current = collection->Item(i);
      next = i + 1;
      try {
        if (w.selects && !w.selects(*current)) continue;
        tally.Sync();
        tally.Begin(current.get());
        importCurrent();
      } catch (...) {
        failedAt = i;
        return false;
      }
      tally.Count(current.get(), true);
    }
    return SettleThreadAhead();
  };

  for (int32_t i = lb; i <= ub;) {
    if (!w.sendsAhead || !counting || i <= safeUntil || InRecord() || !BeginThreadAhead()) {
      if (!runOne(i)) return false;
      ++i;
      continue;
    }
    // A window of records sent ahead: their events wait until the ledger
    // has them all. A record that failed (on the spot or at the ledger)
    // takes the window back and its records run again one at a time, so
    // that each failure is reported where and as it happened.
    const Tally before = tally;
    OpenRecordWindow();
    // Whatever leaves the walk in a window leaves nothing of it behind.
    struct Window {
      bool open = true;
      void End(bool undo) {
        open = false;
        EndThreadAhead(undo);
        CloseRecordWindow(undo);
      }
      ~Window() {
        if (open) End(true);
      }
    } ahead;
    int32_t next = i, failedAt = 0;
    if (!runAhead(i, next, failedAt)) {
      ahead.End(true);
      tally = before;
      safeUntil = failedAt != 0 ? failedAt : next - 1;
      window = kFirstWindow;
      continue;
    }
    int32_t stoppedAt = 0;
    for (int32_t j = i; j < next && !stoppedAt; ++j)
      if (!progress(j)) stoppedAt = j;
    if (stoppedAt == 0 || stoppedAt == next - 1) {
      ahead.End(false);
      CommitDueThreadStores();
      if (stoppedAt) return false;
      window = std::min(window * 2, kLastWindow);
      i = next;
      continue;
    }
    // The client stopped within the window: the records after that one
    // go, and those up to it run again, quietly, as they were told.
    ahead.End(true);
    tally = before;
    stopAfter = safeUntil = stoppedAt;
  }
  return true;
}

}  // namespace morvent
