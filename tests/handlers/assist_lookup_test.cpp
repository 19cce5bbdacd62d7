// Assist-data lookups the item handlers rely on: an entry found by its
// exact name among the values of an item class's property, nested on export
// with its type, and the type found or made by name.
#include "items/assist_detail.h"
#include "items/assist_type.h"
#include "items/item_lookup.h"
#include "store/ledger_store.h"
#include "tests/handlers/fixture.h"

namespace morvent::test {
namespace {

DataRecordPtr EntryRecord(const std::string& type, const std::string& number, const std::string& name) {
  return Rec({{"Name", name}, {"Number", number}, {"AssistType", Rec({{"Name", type}, {"Number", "0"}})}});
}

class AssistLookupTest : public HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    if (IsSkipped()) return;
    ledger = NewLedger("l.db");
    Bind(ledger);
  }
  std::string ledger;
};

TEST_F(AssistLookupTest, GetIDFindsOnlyTheExactNameAmongThePropertysValues) {
  CAssistDetail entries;
  const int32_t south = entries.ImportAssistDetail(*EntryRecord("区域", "01", "华南"));
  const int32_t north = entries.ImportAssistDetail(*EntryRecord("区域", "02", "North"));
  const int32_t steel = entries.ImportAssistDetail(*EntryRecord("行业", "01", "钢铁"));
  ASSERT_GT(south, 0);
  const struct {
    const char* name;
    int32_t classId;
    const char* property;
    int32_t expected;
  } cases[] = {
      {"华南", 1, "区域", south},     {"North", 8, "区域", north}, {"钢铁", 1, "行业", steel},
      {"钢铁", 1, "区域", 0},         // a value of another property
      {"north", 1, "区域", 0},        // letter case
      {"华南 ", 1, "区域", 0},        // trailing blank
      {"华南", 1, "没有的属性", 0},   // the class offers no such property
      {"华南", 2, "区域", 0},         // departments have no region
  };
  auto lookup = LookupOf<CAssistDetail>()();
  for (const auto& c : cases)
    EXPECT_EQ(lookup->GetID(Rec({{"Name", c.name}}), int16_t(c.classId), c.property), c.expected)
        << c.name << " " << c.classId << " " << c.property;
  EXPECT_EQ(ErrorOf([&] { entries.GetID(*Rec({{"Name", "华南"}}), 77, "区域"); }), "核算项目类别（ID 77）不存在");
  // A handler that imports an entry finds it afterwards.
  EXPECT_EQ(entries.GetID(*Rec({{"Name", "华中"}}), 1, "区域"), 0);
  const int32_t middle = entries.ImportAssistDetail(*EntryRecord("区域", "03", "华中"));
  EXPECT_EQ(entries.GetID(*Rec({{"Name", "华中"}}), 1, "区域"), middle);
}

TEST_F(AssistLookupTest, GetInfoNestsTheStoredTypeOrTheCallersNameWhenTheTypeIsGone) {
  CAssistDetail entries;
  const int32_t south = entries.ImportAssistDetail(*EntryRecord("区域", "01", "华南"));
  const int32_t gold = entries.ImportAssistDetail(*EntryRecord("客户等级", "01", "金卡"));
  CAssistType types;
  const int32_t region = types.GetID(*Rec({{"Name", "区域"}}));
  const int32_t grade = types.GetID(*Rec({{"Name", "客户等级"}}));
  LedgerStore::ForProps(Props(ledger))->Exec("DELETE FROM t_SubMesType WHERE FTypeID = " + std::to_string(grade));
  auto lookup = LookupOf<CAssistDetail>()();
  EXPECT_TRUE(lookup->CheckID(south));
  EXPECT_FALSE(lookup->CheckID(gold + 1000));
  EXPECT_EQ(lookup->GetInfo(gold + 1000, "区域")->Count(), 0u);
  const struct {
    int32_t id, typeId;
    const char *name, *number, *typeName;
  } cases[] = {{south, region, "华南", "01", "区域"}, {gold, grade, "金卡", "01", "状态"}};
  for (const auto& c : cases) {
    auto info = lookup->GetInfo(c.id, "状态");
    EXPECT_EQ(info->Value("Name").ToText(), c.name);
    EXPECT_EQ(info->Value("Number").ToText(), c.number);
    auto type = info->Record("AssistType");
    ASSERT_TRUE(type);
    EXPECT_EQ(type->Value("Name").ToText(), c.typeName);
    EXPECT_EQ(type->Value("Number").ToText(), std::to_string(c.typeId));
  }
  EXPECT_EQ(types.GetInfo(region)->Value("Name").ToText(), "区域");
  EXPECT_EQ(ErrorOf([&] { types.GetInfo(grade); }), "对象变量未设置") << "no empty record for a missing type";
}

}  // namespace
}  // namespace morvent::test
