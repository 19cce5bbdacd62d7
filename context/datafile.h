#pragma once
// The data-file components, created by name: "XMLPellam.Write" and
// "XMLPellam.Read". Both take the same five arguments in the same order.
#include <string>

#include "context/record.h"

namespace morvent {

inline constexpr const char* kWriterProgId = "XMLPellam.Write";
inline constexpr const char* kReaderProgId = "XMLPellam.Read";

class DataFileWriter : public Object {
 public:
  // Writes the collection as the data file; a failure raises an Error.
  virtual void OutputXML(RecordCollectionPtr& collection, const std::string& dataFile,
                         const std::string& schemaFile, const std::string& elementName,
                         std::string& errorText) = 0;
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
