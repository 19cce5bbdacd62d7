#pragma once
// The routines every handler shares around its data file.
#include <memory>
#include <string>

#include "context/datafile.h"
#include "context/record.h"
#include "platform/progdir.h"

namespace morvent {

// Beep and a modal warning titled "Morvent".
void ShowWarning(const std::string& message);

// True when the export may write the target: the schema file lies in the
// program's directory, the target is no special file and no file of the
// ledger (else a warning, asking nothing), and the user agreed to overwrite
// an existing target.
bool CheckExportFiles(const std::string& schemaFileName, const std::string& target);

// Writes the collection through "XMLPellam.Write"; failures propagate.
void WriteDataFile(RecordCollectionPtr& collection, const std::string& target, const std::string& schemaPath,
                   const std::string& elementName, std::string& errorText);

// The same write with the records handed over as they are made: the writer
// is created now, and when it cannot be, or takes whole collections only,
// the records are collected and written by WriteDataFile at Close. Never
// raises; Close raises what WriteDataFile would have.
std::unique_ptr<RecordStream> OpenDataFileStream(const std::string& target, const std::string& schemaPath,
                                                 const std::string& elementName);

// Reads through "XMLPellam.Read"; False (after a warning with the reader's
// text) when the reader reported an error.
bool ReadDataFile(RecordCollectionPtr& collection, const std::string& dataFile, const std::string& schemaPath,
                  const std::string& elementName, std::string& errorText);

// A marker standing for a record already handled: "Number" and
// "IsImported" = True, FileRow 0.
DataRecordPtr MakeImportedMark(const std::string& number);

// Full path of a schema file beside the program (or in an installed tree).
inline std::string SchemaPath(const std::string& schemaFileName) {
  return SchemaFilePath(schemaFileName);
}

}  // namespace morvent
