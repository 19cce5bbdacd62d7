// On a server ledger an import sends its records ahead, a window at a time,
// having read the class's numbers once. A number another client stores
// meanwhile meets the unique index only when the server answers; the
// window then goes back and its records run again, so the record finds
// that item as if it had looked it up itself.
#include <string>

#include "tests/handlers/fixture.h"
#include "tests/support/server_fixture.h"

namespace morvent::test {
namespace {

class RecordsAhead : public RecordsTest {
 protected:
  RecordsAhead() { code = 120; }
};

TEST_F(RecordsAhead, AnItemAnotherClientStoresDuringTheImportIsFoundAsTheStyleSays) {
  if (!onServer) GTEST_SKIP() << "a file ledger is locked while the import holds its records";
  struct Case {
    int32_t impStyle;
    const char* name;  // what D30 is called after the run
  };
  for (const Case c : {Case{1, "别处"}, Case{2, "部门30"}}) {
    SCOPED_TRACE(c.impStyle);
    ledger = NewLedger("ahead" + std::to_string(c.impStyle) + ".db");
    std::vector<DataRecordPtr> records;
    for (int i = 1; i <= 60; ++i) records.push_back(ItemRecord("D" + std::to_string(i), "部门" + std::to_string(i)));
    // The first window's rows are told once the server has it; D30 comes
    // in a later one.
    bool stored = false;
    Client client{.atRow = [&](int32_t) {
      if (stored) return;
      stored = true;
      OutsideExec(ledger, "INSERT INTO t_Item (FItemClassID, FNumber, FName, FParentID) VALUES (2, 'D30', '别处', 0)");
    }};
    const RunResult run = Run(records, c.impStyle, 1, client);
    EXPECT_TRUE(Clean(run));
    EXPECT_EQ(run.rows.size(), 60u);
    const auto items = Items(ledger, 2);
    EXPECT_EQ(items.size(), 60u);
    ASSERT_TRUE(items.count("D30"));
    EXPECT_EQ(items.at("D30").name, c.name);
    EXPECT_EQ(OutsideCount(ledger, "SELECT FCount FROM ledger_counts WHERE FTable = 't_Item' AND FScope = 0"), 60);
  }
}

}  // namespace
}  // namespace morvent::test
