#pragma once
// Shared pieces of the handler tests: a real ledger in a temporary program
// home, runs of the public classes with their events recorded, data files
// written through the real writer, and a view of the ledger's objects.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "context/ledger_api.h"
#include "context/record.h"
#include "platform/text.h"
#include "tests/support/server_fixture.h"
#include "tests/support/support.h"

namespace morvent::test {

struct Row {
  int32_t row;
  double rate;
};

struct RunResult {
  bool result = false;
  std::vector<Row> rows;
  std::vector<std::string> errors;
};

// How the client answers: cancel at a progress row (0: never), and whether
// errors are let pass; atRow runs in each progress event of an import.
struct Client {
  int32_t cancelAtRow = 0;
  bool letErrorsPass = false;
  std::function<void(int32_t row)> atRow;  // told of each progress row
};

// One stored item as the tests look at it.
struct StoredItem {
  int32_t id = 0;
  std::string number;
  std::string name;
  std::string parentNumber;  // empty at the top level
};

class HandlerTest : public ::testing::Test {
 protected:
  void SetUp() override;

  // A new ledger in the program home; "GY" or another kind. With
  // MORVENT_LEDGER_ENGINE=server (ctest's "server/" run of the suite), a
  // ledger in a database of its own on the test server instead.
  std::string NewLedger(const std::string& name, const std::string& kind = "GY");
  std::string Props(const std::string& ledger) const;
  // Points the thread's context at the ledger, as a public call would.
  void Bind(const std::string& ledger, int32_t impStyle = 1, int32_t codingStyle = 1);

  RunResult Import(const std::string& ledger, int32_t code, const std::string& file, int32_t impStyle,
                   int32_t codingStyle, Client client = {});
  RunResult Export(const std::string& ledger, int32_t code, const std::string& file, Client client = {});
  // The same runs under props of the test's own; no options when null.
  RunResult ImportWith(const std::string& props, int32_t code, const std::string& file,
                       const OptionDictionary* options, Client client = {});
  RunResult ExportWith(const std::string& props, int32_t code, const std::string& file, Client client = {});

  // The ledger given the file, which must import cleanly.
  std::string Seeded(const std::string& ledger, int32_t code, const std::string& file, int32_t impStyle = 1);
  // A new ledger holding the demonstration data; empty kind: the default.
  std::string DemoLedger(const std::string& name = "demo.db", const std::string& kind = "");
  // A new ledger of the source's kind given the source's records of each
  // code in turn, each moved through a file: the kinds a test's records
  // refer to. Every run must be clean.
  // Empty kind: the source's.
  std::string CopyKinds(const std::string& source, const std::vector<int32_t>& codes, const std::string& tag,
                        const std::string& kind = "");

  // Writes records through the data-file writer.
  std::string WriteRecords(const std::string& name, const std::string& element,
                           const std::vector<DataRecordPtr>& records);

  // Items of a class, by number.
  std::map<std::string, StoredItem> Items(const std::string& ledger, int16_t classId);
  // A field of an item, read back through the ledger.
  Variant ItemField(const std::string& ledger, int16_t classId, const std::string& number, const std::string& field);
  // The same as text, "<null>" for Null.
  std::string ItemText(const std::string& ledger, int16_t classId, const std::string& number, const std::string& field);
  // Sets a field of a stored item and saves it, as another program would.
  void SetItemField(const std::string& ledger, int16_t classId, const std::string& number, const std::string& field,
                    const Variant& value);
  int LogEntries() const;
  // The objects of a non-item set ("Corabin.CurrencySet", ...), in its order.
  std::vector<LedgerObjectPtr> Objects(const std::string& ledger, const char* progId, int16_t listOptions);
  // Export, import into a new ledger of the same kind, export again: the
  // two files' texts.
  std::pair<std::string, std::string> RoundTrip(const std::string& source, int32_t code, const std::string& tag);

  ProgramHome home;
  bool onServer = false;
  std::vector<std::unique_ptr<ServerDatabase>> servers;
};

// A record with "Number" and "Name", and the parent as a sub-record under
// parentKey when a parent number is given.
// A run that answered True with no error; the first error shows otherwise.
::testing::AssertionResult Clean(const RunResult& run);

// A suite whose cases import records into one ledger of their own.
class RecordsTest : public HandlerTest {
 protected:
  void SetUp() override;
  // Writes the records as a new data file of the code's element and
  // imports it; the one-code form runs the suite's code.
  RunResult Run(int32_t code, const std::vector<DataRecordPtr>& records, int32_t impStyle, int32_t codingStyle = 1,
                Client client = {});
  RunResult Run(const std::vector<DataRecordPtr>& records, int32_t impStyle, int32_t codingStyle = 1,
                Client client = {}) {
    return Run(code, records, impStyle, codingStyle, client);
  }

  int32_t code = 0;
  std::string ledger;

 private:
  int files_ = 0;
};

DataRecordPtr ItemRecord(const std::string& number, const std::string& name, const std::string& parentKey = "",
                         const std::string& parentNumber = "", const std::string& parentName = "");
std::string Fixture(const std::string& name);
// The text without the lines that hold the element.
std::string WithoutElement(const std::string& text, const std::string& element);

}  // namespace morvent::test
