#pragma once
// ExportBase: writes every object of one kind of base data from the ledger
// into an XML data file.
//
//   morvent::ExportBase exp;
//   exp.ExportOneRow = [](int32_t row, double rate, bool& cancel) { ... };
//   exp.Error = [](const std::string& msg, bool& cancel) { cancel = false; };
//   bool done = exp.ExportXMLData("Data Source=l.db;AcctType=GY", 103, "cur.xml");
//
// The call answers True when the handler finished its list and wrote the
// file; False for an unassigned code or when it stopped early. Every Error
// event is also appended to the exchange log. A failure the handler could
// not trap leaves the call as a morvent::Error.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/error.h"
#include "platform/variant.h"

#include "platform/export.h"

namespace morvent {

class EntityHandler;

class MORVENT_API ExportBase {
 public:
  ExportBase();
  ~ExportBase();

  bool ExportXMLData(const std::string& PropsString, int32_t lBaseType, const std::string& sFile,
                     Variant* vParam = nullptr);

  // Inside the Error event: what the failure was about (the element, the
  // object's number, the value and what it should have been); nullptr
  // outside the event. Valid until the event returns.
  const ErrorDetail* CurrentErrorDetail() const;

  std::function<void(int32_t lRow, double dblRate, bool& CancelExport)> ExportOneRow;
  std::function<void(const std::string& sErrMsg, bool& CancelExport)> Error;

 private:
  void ReportError(const std::string& sErrMsg, bool& Cancel);
  // The handler of the running call; kept after an untrapped failure until
  // the next call or the object's end, as a handler slot is.
  std::unique_ptr<EntityHandler> slot_;
};

}  // namespace morvent
