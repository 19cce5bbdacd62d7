#pragma once
// ImportBase: reads an XML data file of one kind of base data and creates or
// updates the ledger's objects record by record.
//
// The option dictionary (any OptionDictionary, a DataRecord for instance)
// gives "ImpStyle" (1 keep existing objects, 2 overwrite them) and
// "CodingStyle" (1 dotted numbers, 2 undotted numbers). Without one both are
// 1. With one, failures that escape the handler are not raised: the call
// answers False instead.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "context/record.h"

namespace morvent {

class EntityHandler;

class ImportBase {
 public:
  ImportBase();
  ~ImportBase();

  bool ImportXMLData(const std::string& PropsString, int32_t lBaseType, const std::string& sFile,
                     const OptionDictionary* dictParam = nullptr);

  std::function<void(int32_t lRow, double dblRate, bool& CancelImport)> ImportOneRow;
  std::function<void(const std::string& sErrMsg, bool& CancelImport)> Error;

 private:
  void ReportError(const std::string& sErrMsg, bool& Cancel);
  // Commits the call's work; a commit that failed (now or earlier, not yet
  // reported) is reported as one Error and makes the result False.
  bool FinishCall(bool result);
  bool Run(const std::string& PropsString, int32_t lBaseType, const std::string& sFile);
  std::unique_ptr<EntityHandler> slot_;
};

}  // namespace morvent
