#include "cli/file_records.h"

#include "context/datafile.h"

namespace morvent::cli {

namespace {

using Count = std::shared_ptr<std::optional<int64_t>>;

class CountingStream : public RecordStream {
 public:
  CountingStream(std::unique_ptr<RecordStream> inner, Count last) : inner_(std::move(inner)), last_(std::move(last)) {}
  void Add(DataRecordPtr record) override {
    ++records_;
    inner_->Add(std::move(record));
  }
  void Close(std::string& errorText) override {
    inner_->Close(errorText);
    if (errorText.empty()) *last_ = records_;
  }

 private:
  std::unique_ptr<RecordStream> inner_;
  Count last_;
  int64_t records_ = 0;
};

class CountingWriter : public DataFileWriter {
 public:
  CountingWriter(std::shared_ptr<DataFileWriter> inner, Count last) : inner_(std::move(inner)), last_(std::move(last)) {}
  void OutputXML(RecordCollectionPtr& collection, const std::string& dataFile, const std::string& schemaFile,
                 const std::string& elementName, std::string& errorText) override {
    inner_->OutputXML(collection, dataFile, schemaFile, elementName, errorText);
    if (errorText.empty()) *last_ = collection ? collection->UBound() : 0;
  }
  std::unique_ptr<RecordStream> OpenStream(const std::string& dataFile, const std::string& schemaFile,
                                           const std::string& elementName) override {
    auto stream = inner_->OpenStream(dataFile, schemaFile, elementName);
    if (!stream) return nullptr;
    return std::make_unique<CountingStream>(std::move(stream), last_);
  }

 private:
  std::shared_ptr<DataFileWriter> inner_;
  Count last_;
};

}  // namespace

WrittenRecords::WrittenRecords() : last_(std::make_shared<std::optional<int64_t>>()) {
  EnsureComponentsRegistered();
  auto inner = std::make_shared<Factory>();
  previous_ = ReplaceFactory(kWriterProgId, [inner, last = last_]() -> ObjectPtr {
    ObjectPtr made = *inner ? (*inner)() : nullptr;
    auto writer = std::dynamic_pointer_cast<DataFileWriter>(made);
    if (!writer) return made;
    *last = std::nullopt;
    return std::make_shared<CountingWriter>(std::move(writer), last);
  });
  *inner = previous_;
}

WrittenRecords::~WrittenRecords() { ReplaceFactory(kWriterProgId, previous_); }

std::string RowsAndRecords(const std::string& element, int64_t rows, std::optional<int64_t> records) {
  if (!records || *records == rows) return std::to_string(rows) + " 行";
  // Assist details are exported a category at a time, units a group.
  const std::string word = element == "AssistDetail" ? " 类，" : " 组，";
  return std::to_string(rows) + word + std::to_string(*records) + " 条";
}

}  // namespace morvent::cli
