#pragma once
// The entity handler contract: Export and Import, and four events raised to
// whoever holds the handler (the front end, or another handler using it for
// lookups, which leaves them unsubscribed).
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace morvent {

struct ExportWalk;
struct ImportWalk;

using RowEvent = std::function<void(int32_t lRow, double dblRate, const std::string& sStatusMes, bool& Cancel)>;
using ErrEvent = std::function<void(const std::string& sErrMsg, bool& Cancel)>;

struct HandlerEvents {
  RowEvent ExpOneRow;
  ErrEvent ExpErr;
  RowEvent ImpOneRow;
  ErrEvent ImpErr;
  // Cleared by a subscriber of ImpOneRow that ignores sStatusMes: the import
  // walk then passes it empty instead of composing it for every record.
  bool ImpStatusRead = true;
};

class EntityHandler {
 public:
  virtual ~EntityHandler() = default;
  virtual bool Export(const std::string& PropsString, const std::string& sFile) = 0;
  virtual bool Import(const std::string& sFile) = 0;

  HandlerEvents events;

 protected:
  // Each raises its event with Cancel preset as the contract says (False
  // before progress, True before an error) and answers the client's Cancel.
  bool RaiseExpOneRow(int32_t lRow, double dblRate, const std::string& sStatusMes);
  bool RaiseImpOneRow(int32_t lRow, double dblRate, const std::string& sStatusMes);
  bool RaiseExpErr(const std::string& sErrMsg);
  bool RaiseImpErr(const std::string& sErrMsg);

  // The shared loops (front/walks.h); each answers the operation's result.
  bool RunExportWalk(const ExportWalk& walk, const std::string& sFile);
  bool RunImportWalk(const ImportWalk& walk, const std::string& sFile);
};

// Ends a public call: commits its work while the client still hears of it.
// A commit that failed (now or earlier, not yet reported) goes to report as
// one error and makes the result False.
bool FinishCall(bool result, const std::function<void(const std::string&, bool&)>& report);

// Export rate: Int(i × 100 ÷ n).
inline double ExportRate(int32_t i, int32_t n) {
  return std::floor(static_cast<double>(i) * 100.0 / static_cast<double>(n));
}
// Import rate, computed as the algorithms write it: Int(i / count × 100),
// dividing first (row 29 of 50 gives 57).
inline double ImportRate(int32_t i, int32_t count) {
  return std::floor(static_cast<double>(i) / static_cast<double>(count) * 100.0);
}

}  // namespace morvent
