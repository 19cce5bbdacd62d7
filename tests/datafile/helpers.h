#pragma once
// Shared pieces of the data-file tests: the components as the handlers get
// them (through the registry), record builders and a deep comparison.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "context/datafile.h"
#include "context/record.h"
#include "tests/support/support.h"

namespace morvent::test {

// Writes through "XMLPellam.Write"; failures propagate as Error.
void WriteWithComponent(RecordCollectionPtr collection, const std::string& file, const std::string& element,
                        const std::string& schemaDir);

// Reads through "XMLPellam.Read"; answers the error text ("" on success).
std::string ReadWithComponent(RecordCollectionPtr& collection, const std::string& file, const std::string& element,
                              const std::string& schemaDir);

RecordCollectionPtr List(std::vector<DataRecordPtr> records);

// Describes a value tree as text ("{Name=\"a\",Sub={...},L=[{...}],N=null}")
// so a mismatch shows where it is. Plain values are shown by their text, as
// the file carries them.
std::string Describe(const Variant& v);
std::string Describe(const RecordCollection& c);

// Validates a file against a schema with libxml2's own DOM validator, apart
// from the reader under test; answers "" or the first problem.
std::string ValidateWithLibxml(const std::string& file, const std::string& schema);

}  // namespace morvent::test
