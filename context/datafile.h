#pragma once
// The data-file components, created by name: "XMLPellam.Write" and
// "XMLPellam.Read". Both take the same five arguments in the same order.
#include <memory>
#include <string>

#include "context/record.h"

namespace morvent {

inline constexpr const char* kWriterProgId = "XMLPellam.Write";
inline constexpr const char* kReaderProgId = "XMLPellam.Read";

// A data file taking its records one at a time, so that the caller need
// not hold them all.
class RecordStream {
 public:
  virtual ~RecordStream() = default;
  // Takes the next record (never null). Raises no Error: what fails is kept
  // for Close.
  virtual void Add(DataRecordPtr record) = 0;
  // Completes the file, or raises (and puts in errorText) what OutputXML
  // would have raised for the records added. Dropped without Close, the
  // stream leaves no file and the target as it was.
  virtual void Close(std::string& errorText) = 0;
};

class DataFileWriter : public Object {
 public:
  // Writes the collection as the data file; a failure raises an Error.
  virtual void OutputXML(RecordCollectionPtr& collection, const std::string& dataFile,
                         const std::string& schemaFile, const std::string& elementName,
                         std::string& errorText) = 0;
  // The same file written record by record; nullptr from a writer that
  // takes whole collections only.
  virtual std::unique_ptr<RecordStream> OpenStream(const std::string& /*dataFile*/, const std::string& /*schemaFile*/,
                                                   const std::string& /*elementName*/) {
    return nullptr;
  }
};

class DataFileReader : public Object {
 public:
  // Fills (or replaces) the collection with the file's records in file
  // order; a non-empty errorText reports a failed read.
  virtual void InputXML(RecordCollectionPtr& collection, const std::string& dataFile,
                        const std::string& schemaFile, const std::string& elementName,
                        std::string& errorText) = 0;
};

}  // namespace morvent
