// The demonstration items.
#include <set>

#include "store/item_ledger.h"
#include "store/ledger_store.h"
#include "tests/support/ledger_fixture.h"

namespace morvent::test {
namespace {

class DemoItemsTest : public LedgerTest {
 protected:
  void SetUp() override {
    LedgerTest::SetUp();
    FillDemoItems(*LedgerStore::ForPath(path));
  }
  int Depth(ObjectSet& set, const LedgerObjectPtr& item) {
    int depth = 1;
    for (int32_t p = item->Properties("FParentID").ToLong(); p != 0; p = set.Item(p)->Properties("FParentID").ToLong())
      ++depth;
    return depth;
  }
};

TEST_F(DemoItemsTest, EveryClassHasAHierarchyWhoseParentsComeFirst) {
  for (int16_t cls : {1, 2, 3, 4, 5, 8, 10}) {
    auto set = Items(cls);
    EXPECT_GE(set->Count(), 5) << "class " << cls;
    std::set<int32_t> seen;
    int deepest = 0;
    auto cursor = set->Enumerate();
    while (auto item = cursor->Next()) {
      int32_t parent = item->Properties("FParentID").ToLong();
      EXPECT_TRUE(parent == 0 || seen.count(parent)) << item->Number();
      if (parent != 0) {
        auto p = set->Item(parent);
        EXPECT_EQ(item->Number().rfind(p->Number() + ".", 0), 0u) << item->Number();
      }
      seen.insert(item->Get("ItemID").ToLong());
      deepest = std::max(deepest, Depth(*set, item));
    }
    EXPECT_GE(deepest, cls == 10 ? 2 : 3) << "class " << cls;
  }
}

TEST_F(DemoItemsTest, ReferencesResolveAndSomeFieldsStayNull) {
  auto employees = Items(3);
  auto zhao = employees->Item(employees->ExistenceCheck({{"Name", Variant("赵建国")}}));
  EXPECT_EQ(zhao->Properties("FDepartmentID").ToText(), "总经理办公室");
  EXPECT_EQ(zhao->Properties("FGender").ToText(), "男");
  EXPECT_EQ(zhao->Properties("FDuty").ToText(), "总经理");
  EXPECT_EQ(zhao->Properties("FBirthday").Type(), VarType::Date);
  auto zhou = employees->Item(employees->ExistenceCheck({{"Name", Variant("周敏")}}));
  EXPECT_TRUE(zhou->Properties("FBirthday").IsNull());
  EXPECT_TRUE(zhou->Dictionary()->GetValue("FBankAccount", Variant(" ")).IsNull());

  auto stocks = Items(5);
  auto steel = stocks->Item(stocks->ExistenceCheck({{"Number", Variant("01.01")}}));
  EXPECT_EQ(steel->Properties("FEmpID").ToText(), "郑国平");
  EXPECT_EQ(steel->Properties("FTypeID").ToText(), "原料库");

  auto materials = Items(4);
  auto plate = materials->Item(materials->ExistenceCheck({{"Number", Variant("01.01.001")}}));
  EXPECT_EQ(plate->Properties("FSource").ToText(), "宝山钢铁股份有限公司");
  EXPECT_EQ(plate->Properties("FDefaultLoc").ToText(), "钢材库");
  EXPECT_TRUE(plate->Properties("FBatchManager").ToBool());

  auto customers = Items(1);
  auto suzhou = customers->Item(customers->ExistenceCheck({{"Number", Variant("02.02.001")}}));
  EXPECT_EQ(suzhou->Properties("FRegionID").ToText(), "华东");
  EXPECT_TRUE(suzhou->Properties("FAddress").IsNull());
}

TEST_F(DemoItemsTest, EveryPropertyOfEveryClassHasEntries) {
  auto classInfo = CreateObjectAs<ItemClassInfo>(kItemClassInfo);
  auto itemInfo = CreateObjectAs<ItemInfo>(kItemInfo);
  for (int cls : {1, 3, 4, 5, 8, 10}) {
    auto desc = classInfo->GetDetail(props, cls)->Value("_PropDesc").As<RecordCollection>();
    for (int32_t i = desc->LBound(); i <= desc->UBound(); ++i) {
      auto list = itemInfo->GetSubMesList(props, desc->Item(i)->Value("FSearch").ToInteger());
      EXPECT_GE(list->RecordCount(), 2) << desc->Item(i)->Value("FName").ToText();
    }
  }
}

}  // namespace
}  // namespace morvent::test
