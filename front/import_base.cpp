#include "front/import_base.h"

#include <optional>

#include "context/props.h"
#include "front/code_table.h"
#include "front/exchange_log.h"
#include "front/handler.h"
#include "front/trap.h"
#include "front/walks.h"
#include "platform/call_scope.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "store/ledger_store.h"

namespace morvent {

DryRun::DryRun() { BeginDryRun(); }

DryRun::~DryRun() {
  if (!open_) return;
  try {
    Finish();
  } catch (const std::exception& e) {
    ReportDiagnostic(e.what());
  }
}

void DryRun::Finish() {
  if (!open_) return;
  open_ = false;
  EndDryRun();
}

ImportBase::ImportBase() = default;
ImportBase::~ImportBase() = default;

const ErrorDetail* ImportBase::CurrentErrorDetail() const { return RaisingErrorDetail(); }

void ImportBase::ReportError(const std::string& sErrMsg, bool& Cancel) {
  if (Error) Error(sErrMsg, Cancel);
  try {
    WriteErrLog(false, sErrMsg);
  } catch (const std::exception& e) {
    ReportDiagnostic(std::string("写交换日志失败：") + e.what());
  }
}

bool ImportBase::Run(const std::string& /*props*/, int32_t lBaseType, const std::string& file) {
  const BaseType* type = FindBaseType(lBaseType);
  if (!type || !type->create) return false;
  EnsureComponentsRegistered();
  slot_ = type->create();
  slot_->events.ImpOneRow = [this](int32_t lRow, double dblRate, const std::string&, bool& Cancel) {
    if (ImportOneRow) ImportOneRow(lRow, dblRate, Cancel);
  };
  slot_->events.ImpStatusRead = false;
  slot_->events.ImpErr = [this](const std::string& sErrMsg, bool& Cancel) { ReportError(sErrMsg, Cancel); };
  ResetImportCounts();
  bool result = FinishCall(slot_->Import(file), [this](const std::string& m, bool& c) { ReportError(m, c); });
  counts_ = TakeImportCounts(LostWritePending());
  slot_.reset();
  return result;
}

bool ImportBase::ImportXMLData(const std::string& PropsString, int32_t lBaseType, const std::string& sFile,
                               const OptionDictionary* dictParam) {
  PublicCallScope scope;
  counts_ = {};
  const std::string props = PropsString;
  const std::string file = sFile;
  auto& ctx = Context();
  if (!dictParam) {
    ctx.gImpStyle = 1;
    ctx.gCodingStyle = 1;
    ParseProps(props);
    ctx.gPropsString = props;
    return Run(props, lBaseType, file);
  }
  // With a dictionary every failure from here on is skipped: the step is
  // left and the call goes on with the next one.
  auto skip = [](auto&& step) {
    try {
      step();
    } catch (const std::exception&) {
    }
  };
  skip([&] { ctx.gImpStyle = dictParam->GetValue("ImpStyle", int32_t{1}).ToLong(); });
  skip([&] { ctx.gCodingStyle = dictParam->GetValue("CodingStyle", int32_t{1}).ToLong(); });
  bool dry = false;
  skip([&] { dry = dictParam->GetValue("DryRun", false).ToBool(); });
  skip([&] { ParseProps(props); });
  ctx.gPropsString = props;
  bool result = false;
  std::optional<DryRun> dryRun;
  if (dry) dryRun.emplace();
  skip([&] { result = Run(props, lBaseType, file); });
  slot_.reset();
  if (dryRun) {
    // Whatever else is skipped, a dry run that stored something must say so.
    try {
      dryRun->Finish();
    } catch (const std::exception& e) {
      bool cancel = true;
      ReportError(ToError(e).Description(), cancel);
      result = false;
    }
  }
  return result;
}

}  // namespace morvent
