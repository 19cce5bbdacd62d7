#include "front/export_base.h"

#include "context/props.h"
#include "front/code_table.h"
#include "front/exchange_log.h"
#include "front/handler.h"
#include "front/trap.h"
#include "platform/call_scope.h"
#include "platform/registry.h"

namespace morvent {

ExportBase::ExportBase() = default;

const ErrorDetail* ExportBase::CurrentErrorDetail() const { return RaisingErrorDetail(); }
ExportBase::~ExportBase() = default;

void ExportBase::ReportError(const std::string& sErrMsg, bool& Cancel) {
  if (Error) Error(sErrMsg, Cancel);
  try {
    WriteErrLog(true, sErrMsg);
  } catch (const std::exception& e) {
    ReportDiagnostic(std::string("写交换日志失败：") + e.what());
  }
}

bool ExportBase::ExportXMLData(const std::string& PropsString, int32_t lBaseType, const std::string& sFile,
                               Variant* /*vParam: accepted, not used*/) {
  PublicCallScope scope;
  const std::string props = PropsString;
  const std::string file = sFile;
  ParseProps(props);
  Context().gPropsString = props;
  const BaseType* type = FindBaseType(lBaseType);
  if (!type || !type->create) return false;
  EnsureComponentsRegistered();
  slot_ = type->create();
  slot_->events.ExpOneRow = [this](int32_t lRow, double dblRate, const std::string&, bool& Cancel) {
    if (ExportOneRow) ExportOneRow(lRow, dblRate, Cancel);
  };
  slot_->events.ExpErr = [this](const std::string& sErrMsg, bool& Cancel) { ReportError(sErrMsg, Cancel); };
  bool result = FinishCall(slot_->Export(props, file), [this](const std::string& m, bool& c) { ReportError(m, c); });
  slot_.reset();
  return result;
}

}  // namespace morvent
