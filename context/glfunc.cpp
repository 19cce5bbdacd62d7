#include "context/glfunc.h"

#include "context/datafile.h"
#include "datafile/target_file.h"
#include "platform/call_scope.h"
#include "platform/msgbox.h"
#include "platform/registry.h"

namespace morvent {

void ShowWarning(const std::string& message) {
  BeforeClientWait();
  CurrentMessageBoxes()->Warning(message);
}

bool CheckExportFiles(const std::string& schemaFileName, const std::string& target) {
  if (!FileExist(SchemaPath(schemaFileName))) {
    ShowWarning(MissingSchemaText(schemaFileName, SchemaPath(schemaFileName)));
    return false;
  }
  if (std::string problem = xml::TargetProblem(target); !problem.empty()) {
    ShowWarning(xml::TargetRefusedText(target, problem));
    return false;
  }
  if (FileExist(target)) {
    BeforeClientWait();
    if (!CurrentMessageBoxes()->Question(target + "文件已存在，是否覆盖？")) return false;
  }
  return true;
}

void WriteDataFile(RecordCollectionPtr& collection, const std::string& target, const std::string& schemaPath,
                   const std::string& elementName, std::string& errorText) {
  auto writer = CreateObjectAs<DataFileWriter>(kWriterProgId);
  writer->OutputXML(collection, target, schemaPath, elementName, errorText);
}

bool ReadDataFile(RecordCollectionPtr& collection, const std::string& dataFile, const std::string& schemaPath,
                  const std::string& elementName, std::string& errorText) {
  bool result = true;
  auto reader = CreateObjectAs<DataFileReader>(kReaderProgId);
  reader->InputXML(collection, dataFile, schemaPath, elementName, errorText);
  if (!errorText.empty()) {
    ShowWarning(errorText);
    result = false;
  }
  return result;
}

DataRecordPtr MakeImportedMark(const std::string& number) {
  auto r = NewRecord();
  r->SetValue("Number", number);
  r->SetValue("IsImported", true);
  return r;
}

}  // namespace morvent
