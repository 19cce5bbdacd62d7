// Field names resolved again and again, as an import does: each name keeps
// reaching its own class's field, in any order, across classes, and after
// the kept answers were forgotten for want of room.
#include "tests/support/ledger_fixture.h"

namespace morvent::test {
namespace {

class ItemFieldNamesTest : public LedgerTest {};

struct NameCase {
  int16_t classId;
  const char* name;      // as written
  const char* readAs;    // the same field under its catalogue name; nullptr: refused
  const char* refusal;   // the error when refused
};

// More names than a small round-robin cache holds, one name spelled two ways,
// and names one class carries and another does not.
const NameCase kNames[] = {
    {1, "FAddress", "FAddress", nullptr},
    {1, "faddress", "FAddress", nullptr},
    {1, "FPhone", "FPhone", nullptr},
    {1, "FFax", "FFax", nullptr},
    {1, "FPostalCode", "FPostalCode", nullptr},
    {1, "FEmail", "FEmail", nullptr},
    {1, "FBank", "FBank", nullptr},
    {1, "FAccount", "FAccount", nullptr},
    {1, "FTaxNum", "FTaxNum", nullptr},
    {1, "FContact", "FContact", nullptr},
    {1, "FNote", nullptr, "核算项目类别“客户”没有字段“FNote”"},
    {2, "FNote", "FNote", nullptr},
    {2, "fnote", "FNote", nullptr},
    {2, "FAddress", nullptr, "核算项目类别“部门”没有字段“FAddress”"},
    {2, "FPhone", "FPhone", nullptr},
    {2, "FTaxNum", nullptr, "核算项目类别“部门”没有字段“FTaxNum”"},
};

TEST_F(ItemFieldNamesTest, NamesReachTheirOwnClassesFieldsEveryTime) {
  auto customer = NewItem(1, "01", "客户甲");
  auto department = NewItem(2, "01", "部门甲");
  auto pass = [&](int round) {
    for (const auto& c : kNames) {
      SCOPED_TRACE(std::to_string(round) + " " + std::to_string(c.classId) + " " + c.name);
      auto& item = c.classId == 1 ? customer : department;
      const std::string value = std::string(c.name) + "#" + std::to_string(round);
      if (!c.readAs) {
        EXPECT_EQ(ErrorOf([&] { item->SetProperties(c.name, Variant(value)); }), c.refusal);
        continue;
      }
      item->SetProperties(c.name, Variant(value));
      EXPECT_EQ(item->Properties(c.readAs).ToText(), value);
    }
  };
  pass(1);
  pass(2);  // answered from what the first pass kept
  // Far more distinct names than are kept: all refused, and the kept
  // answers are forgotten on the way.
  for (int i = 0; i < 1500; ++i) {
    const std::string name = "FNoSuch" + std::to_string(i);
    ASSERT_EQ(ErrorOf([&] { customer->SetProperties(name, Variant("x")); }), "核算项目类别“客户”没有字段“" + name + "”");
  }
  pass(3);
  customer->SaveChanges();
  department->SaveChanges();
  auto c = Items(1)->Item(customer->Get("ItemID").ToLong());
  EXPECT_EQ(c->Properties("FAddress").ToText(), "faddress#3");
  EXPECT_EQ(c->Properties("FContact").ToText(), "FContact#3");
  auto d = Items(2)->Item(department->Get("ItemID").ToLong());
  EXPECT_EQ(d->Properties("FNote").ToText(), "fnote#3");
}

}  // namespace
}  // namespace morvent::test
