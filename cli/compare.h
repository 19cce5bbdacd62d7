#pragma once
// Compares two folders of data files written by whole-ledger exports, record
// by record and key by key, leaving out the keys that an import never reads
// back (their values cannot survive a round trip; docs/data-files.md lists
// them). Each file is read by the data-file reader exactly as an import
// reads it (its schema, limits and refusals), so memory follows the records.
#include <ostream>
#include <string>
#include <vector>

namespace morvent::cli {

struct FolderDifference {
  std::vector<std::string> lines;  // one per difference: file, record, key
  std::vector<std::string> unreadable;  // the reader's refusals, each naming its file
  int files = 0;  // files compared
};

// Looks at the files named by an element of the code table ("Customer.xml")
// found in either folder (under that name anything, a FIFO or a folder too,
// is read or refused). gy: the ledgers' kind is "GY", which decides the
// few keys read back only by one kind.
FolderDifference CompareFolders(const std::string& dir1, const std::string& dir2, bool gy);

// The tool's `compare`: 0 equal, 1 different, 3 a file could not be read.
int RunCompare(const std::string& dir1, const std::string& dir2, const std::string& acctType);

}  // namespace morvent::cli
