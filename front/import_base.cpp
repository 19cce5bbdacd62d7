#include "front/import_base.h"

#include "context/props.h"
#include "front/code_table.h"
#include "front/exchange_log.h"
#include "front/handler.h"
#include "platform/call_scope.h"
#include "platform/registry.h"

namespace morvent {

ImportBase::ImportBase() = default;
ImportBase::~ImportBase() = default;

bool ImportBase::FinishCall(bool result) {
  // The call's last commit runs here, while the client still hears of it.
  RunCallEndHooks();
  if (auto lost = TakeLostWrite()) {
    bool cancel = true;
    ReportError(*lost, cancel);
    return false;
  }
  return result;
}

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
  slot_->events.ImpErr = [this](const std::string& sErrMsg, bool& Cancel) { ReportError(sErrMsg, Cancel); };
  bool result = FinishCall(slot_->Import(file));
  slot_.reset();
  return result;
}

bool ImportBase::ImportXMLData(const std::string& PropsString, int32_t lBaseType, const std::string& sFile,
                               const OptionDictionary* dictParam) {
  PublicCallScope scope;
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
  skip([&] { ParseProps(props); });
  ctx.gPropsString = props;
  bool result = false;
  skip([&] { result = Run(props, lBaseType, file); });
  slot_.reset();
  return result;
}

}  // namespace morvent
