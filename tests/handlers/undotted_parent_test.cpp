// An undotted parent number names a stored dotted parent only under
// undotted numbering; under dotted numbering it is a top-level number.
#include "items/department.h"
#include "tests/handlers/fixture.h"

namespace morvent::test {
namespace {

class UndottedParentTest : public HandlerTest {};

TEST_F(UndottedParentTest, FindsAStoredDottedParentOnlyUnderUndottedNumbering) {
  struct Case {
    int coding;
    int imp;
    bool viaGetID;  // a lookup by another handler rather than a file import
    std::string number;
    std::string storedAs;
    std::string storedUnder;
    bool bareParent;  // "12" created at the top level, named from the sub-record
  } cases[] = {
      {1, 1, false, "12.01", "12.01", "12", true},
      {1, 2, false, "12.01", "12.01", "12", true},
      {1, 1, true, "12.01", "12.01", "12", true},
      {2, 1, false, "1201", "1.2.01", "1.2", false},
      {2, 2, true, "1201", "1.2.01", "1.2", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "coding " << c.coding << " imp " << c.imp << (c.viaGetID ? " GetID" : ""));
    std::string ledger = NewLedger("u" + std::to_string(&c - cases) + ".db");
    ASSERT_TRUE(Import(ledger, 120, WriteRecords("base.xml", "Department",
                                                 {ItemRecord("1", "一"), ItemRecord("1.2", "一之二", "DeptGroup", "1")}),
                       1, 1)
                    .result);
    auto child = ItemRecord(c.number, "子部门", "DeptGroup", "12", "十二");
    if (c.viaGetID) {
      Bind(ledger, c.imp, c.coding);
      CDepartment d;
      EXPECT_GT(d.GetID(child), 0);
    } else {
      RunResult run = Import(ledger, 120, WriteRecords("child.xml", "Department", {child}), c.imp, c.coding);
      EXPECT_TRUE(run.result);
      EXPECT_TRUE(run.errors.empty()) << run.errors.front();
    }
    auto items = Items(ledger, 2);
    ASSERT_TRUE(items.count(c.storedAs));
    EXPECT_EQ(items[c.storedAs].parentNumber, c.storedUnder);
    EXPECT_EQ(items.count("12"), c.bareParent ? 1u : 0u);
    if (c.bareParent) {
      EXPECT_EQ(items["12"].name, "十二");
      EXPECT_EQ(items["12"].parentNumber, "");
    }
    EXPECT_EQ(items["1.2"].name, "一之二");
    EXPECT_EQ(items.size(), c.bareParent ? 4u : 3u);
  }
}

}  // namespace
}  // namespace morvent::test
