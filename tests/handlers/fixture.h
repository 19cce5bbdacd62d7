#pragma once
// Shared pieces of the handler tests: a real ledger in a temporary program
// home, runs of the public classes with their events recorded, data files
// written through the real writer, and a view of the ledger's objects.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "context/ledger_api.h"
#include "context/record.h"
#include "platform/text.h"
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
// errors are let pass.
struct Client {
  int32_t cancelAtRow = 0;
  bool letErrorsPass = false;
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

  // A new ledger in the program home; "GY" or another kind.
  std::string NewLedger(const std::string& name, const std::string& kind = "GY");
  std::string Props(const std::string& ledger) const;
  // Points the thread's context at the ledger, as a public call would.
  void Bind(const std::string& ledger, int32_t impStyle = 1, int32_t codingStyle = 1);

  RunResult Import(const std::string& ledger, int32_t code, const std::string& file, int32_t impStyle,
                   int32_t codingStyle, Client client = {});
  RunResult Export(const std::string& ledger, int32_t code, const std::string& file, Client client = {});

  // Writes records through the data-file writer.
  std::string WriteRecords(const std::string& name, const std::string& element,
                           const std::vector<DataRecordPtr>& records);

  // Items of a class, by number.
  std::map<std::string, StoredItem> Items(const std::string& ledger, int16_t classId);
  // A field of an item, read back through the ledger.
  Variant ItemField(const std::string& ledger, int16_t classId, const std::string& number, const std::string& field);
  int LogEntries() const;
  // The objects of a non-item set ("Corabin.CurrencySet", ...), in its order.
  std::vector<LedgerObjectPtr> Objects(const std::string& ledger, const char* progId, int16_t listOptions);
  // Export, import into a new ledger of the same kind, export again: the
  // two files' texts.
  std::pair<std::string, std::string> RoundTrip(const std::string& source, int32_t code, const std::string& tag);

  ProgramHome home;
};

// A record with "Number" and "Name", and the parent as a sub-record under
// parentKey when a parent number is given.
DataRecordPtr ItemRecord(const std::string& number, const std::string& name, const std::string& parentKey = "",
                         const std::string& parentNumber = "", const std::string& parentName = "");
std::string Fixture(const std::string& name);
// The text without the lines that hold the element.
std::string WithoutElement(const std::string& text, const std::string& element);

}  // namespace morvent::test
