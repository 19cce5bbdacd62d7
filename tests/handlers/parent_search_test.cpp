// The parent search in the records of the running import: which record a
// parent number finds, before and after it is handled.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "context/props.h"
#include "items/item_parent.h"
#include "platform/call_scope.h"

namespace morvent::test {
namespace {

DataRecordPtr FileRecord(int32_t row, const std::vector<std::pair<std::string, Variant>>& entries) {
  auto r = NewRecord();
  for (const auto& [k, v] : entries) r->SetValue(k, v);
  r->SetFileRow(row);
  return r;
}

TEST(ParentSearch, ANumberFindsTheFirstRecordThatGivesItExactly) {
  const auto saved = Context();
  Context().gImpStyle = 1;
  PublicCallScope call;
  auto records = std::make_shared<RecordCollection>();
  records->Add(FileRecord(1, {{"Number", "01"}, {"Name", "一"}}));
  records->Add(FileRecord(2, {{"Number", "01"}, {"Name", "又一"}}));
  records->Add(FileRecord(3, {{"Name", "无代码"}}));  // an absent number reads as ""
  records->Add(FileRecord(4, {{"Number", Variant::Null()}}));
  records->Add(FileRecord(5, {{"Number", "02"}}));
  records->Add(FileRecord(6, {{"Number", "01 "}}));

  std::vector<int32_t> imported;  // rows, in the order they were imported
  ParentResolver r({.existenceCheck = [](const std::string&) { return 0; },
                    .importRecord =
                        [&](const DataRecordPtr& record, std::string& number) {
                          imported.push_back(record->FileRow());
                          number = record->GetValue("Number", "").ToText();
                          return 100 + record->FileRow();
                        }});
  r.SetCollection(records);
  struct Case {
    const char* number;
    int32_t id;
  };
  // Asked again, a number is answered by the marker of its first record.
  const Case cases[] = {{"02", 105}, {"01", 101}, {"", 103}, {"01 ", 106}, {"03", 0}, {"01", 101}, {"02", 105}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("“") + c.number + "”");
    std::string stored = c.number;
    EXPECT_EQ(r.EnsureParent({.present = true, .number = c.number}, stored), c.id);
  }
  EXPECT_EQ(imported, (std::vector<int32_t>{5, 1, 3, 6}));
  EXPECT_TRUE(records->Item(1)->Has(ParentResolver::kMarkId));
  EXPECT_EQ(records->Item(2)->FileRow(), 2);  // the second "01" is left for its own turn
  Context() = saved;
}

}  // namespace
}  // namespace morvent::test
