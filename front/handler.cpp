#include "front/handler.h"

#include "platform/call_scope.h"

namespace morvent {

namespace {
bool Row(const RowEvent& e, int32_t lRow, double dblRate, const std::string& s) {
  bool cancel = false;
  if (e) e(lRow, dblRate, s, cancel);
  return cancel;
}
bool Err(const ErrEvent& e, const std::string& s) {
  BeforeClientWait();
  bool cancel = true;
  if (e) e(s, cancel);
  return cancel;
}
}  // namespace

bool EntityHandler::RaiseExpOneRow(int32_t lRow, double dblRate, const std::string& s) {
  return Row(events.ExpOneRow, lRow, dblRate, s);
}
bool EntityHandler::RaiseImpOneRow(int32_t lRow, double dblRate, const std::string& s) {
  return Row(events.ImpOneRow, lRow, dblRate, s);
}
bool EntityHandler::RaiseExpErr(const std::string& s) { return Err(events.ExpErr, s); }
bool EntityHandler::RaiseImpErr(const std::string& s) { return Err(events.ImpErr, s); }

bool FinishCall(bool result, const std::function<void(const std::string&, bool&)>& report) {
  RunCallEndHooks();
  if (auto lost = TakeLostWrite()) {
    bool cancel = true;
    report(*lost, cancel);
    return false;
  }
  return result;
}

}  // namespace morvent
