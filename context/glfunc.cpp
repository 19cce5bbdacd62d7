#include "context/glfunc.h"

#include "context/datafile.h"
#include "datafile/target_file.h"
#include "platform/call_scope.h"
#include "platform/error.h"
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

namespace {
class CollectingStream : public RecordStream {
 public:
  CollectingStream(std::shared_ptr<DataFileWriter> writer, std::string target, std::string schemaPath,
                   std::string elementName)
      : writer_(std::move(writer)),
        target_(std::move(target)),
        schemaPath_(std::move(schemaPath)),
        elementName_(std::move(elementName)) {}
  void Add(DataRecordPtr record) override { records_->Add(std::move(record)); }
  void Close(std::string& errorText) override {
    if (!writer_) return WriteDataFile(records_, target_, schemaPath_, elementName_, errorText);
    writer_->OutputXML(records_, target_, schemaPath_, elementName_, errorText);
  }

 private:
  std::shared_ptr<DataFileWriter> writer_;  // null: created at Close
  RecordCollectionPtr records_ = std::make_shared<RecordCollection>();
  std::string target_, schemaPath_, elementName_;
};
}  // namespace

std::unique_ptr<RecordStream> OpenDataFileStream(const std::string& target, const std::string& schemaPath,
                                                 const std::string& elementName) {
  std::shared_ptr<DataFileWriter> writer;
  try {
    writer = CreateObjectAs<DataFileWriter>(kWriterProgId);
    if (auto stream = writer->OpenStream(target, schemaPath, elementName)) return stream;
  } catch (...) {
    writer.reset();  // Close tries again and reports what fails
  }
  return std::make_unique<CollectingStream>(std::move(writer), target, schemaPath, elementName);
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
