#pragma once
// "XMLPellam.Write": writes a record collection as a UTF-8 data file.
//
// Layout: root <ElementList>, one <Element> per record, each key a child
// element in the record's order. Plain values are written as their text
// (Variant::ToText), Null as xsi:nil="true", a nested record as an element
// holding its keys, a nested collection as an element holding one <Record>
// per record. Carriage returns are written as &#13; so a reader keeps them.
//
// The file is written as a temporary file in the target's folder (unnamed
// where the platform allows) and renamed into place only when complete, so
// a failed or killed write leaves the old file (or none). A symlink target
// has the file it points to replaced, and stays a link. A target that is no
// regular file, or is a file of the ledger of the current property string,
// is refused (see datafile/target_file.h). A text XML 1.0 cannot hold (a control character, invalid
// UTF-8), a key that is no element name, or an object that is neither a
// record nor a collection fails the write with an Error naming the record's
// 1-based index and the key; nothing is dropped silently. The schema path is
// not consulted: the writer writes what the records hold.
#include "context/datafile.h"

namespace morvent {

class XmlDataFileWriter : public DataFileWriter {
 public:
  void OutputXML(RecordCollectionPtr& collection, const std::string& dataFile, const std::string& schemaFile,
                 const std::string& elementName, std::string& errorText) override;
  // Writes each record as it is added and replaces the target at Close;
  // every failure, the target's checks included, is raised by Close with
  // the text OutputXML gives.
  std::unique_ptr<RecordStream> OpenStream(const std::string& dataFile, const std::string& schemaFile,
                                           const std::string& elementName) override;
};

}  // namespace morvent
