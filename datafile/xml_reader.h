#pragma once
// "XMLPellam.Read": reads a data file written by "XMLPellam.Write" (or by
// hand, in any encoding the file declares) into a record collection.
//
// The file is read record by record and validated against the schema file
// as it streams. Which child is text, a nested record or a collection is
// taken from the schema; nested records and collections come back as
// objects even when empty, xsi:nil="true" as Null, text verbatim. Keys may
// stand in any order. A file that breaks the schema (an unknown or repeated
// key, an element where none belongs, a value the schema refuses) is read
// on to its end and refused with every such problem, one line each (joined
// by CR, the first 20 listed, then how many more); a file that is not
// well-formed is refused where it breaks, after what was found before.
//
// Every failure is answered in errorText (naming the file, the line and the
// problem), never raised: a missing data or schema file, a malformed file,
// a schema violation, an unknown key, and any file with a DOCTYPE, which is
// refused outright so that no entity is ever expanded and nothing outside
// the file is ever loaded. A FIFO, socket or device is refused without
// waiting on it, and a value, run of whitespace, piece of markup or
// stretch between two tags beyond the limits of datafile/input_file.h is
// refused where it starts; blanks between elements never reach the parser.
// So memory follows the records and a long value reads in linear time. On
// failure the collection is left as given (an absent one becomes empty).
//
// FileRow is the record's 1-based position in the file; records nested in
// it carry the same position.
#include "context/datafile.h"

namespace morvent {

class XmlDataFileReader : public DataFileReader {
 public:
  void InputXML(RecordCollectionPtr& collection, const std::string& dataFile, const std::string& schemaFile,
                const std::string& elementName, std::string& errorText) override;
};

}  // namespace morvent
