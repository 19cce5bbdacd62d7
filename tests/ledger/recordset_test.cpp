// The information services' record set: moving, finding, reading fields.
#include "store/ledger_recordset.h"
#include "store/ledger_store.h"
#include "tests/support/ledger_fixture.h"

namespace morvent::test {
namespace {

std::shared_ptr<RowSet> Types() {
  auto set = std::make_shared<RowSet>(std::vector<std::string>{"FGroupID", "FName"});
  set->AddRow({Variant(int32_t{1}), Variant("资产")});
  set->AddRow({Variant(int32_t{0}), Variant("O'Brien")});
  set->AddRow({Variant(int32_t{2}), Variant::Null()});
  set->AddRow({Variant(int32_t{3}), Variant("资产")});
  return set;
}

TEST(RowSet, FindSearchesForwardFromTheCurrentRow) {
  auto set = Types();
  set->Find("FName='资产'");
  EXPECT_EQ(set->Field("FGroupID").ToLong(), 1);
  set->Find("FName='资产'");  // the current row matches already
  EXPECT_EQ(set->Field("FGroupID").ToLong(), 1);
  set->MoveNext();
  set->Find("FName = '资产'");
  EXPECT_EQ(set->Field("FGroupID").ToLong(), 3);
  set->Find("FGroupID=1");  // behind the current row
  EXPECT_TRUE(set->EOF_());
  set->Find("FGroupID=1");  // at EOF it stays there
  EXPECT_TRUE(set->EOF_());
  set->MoveFirst();
  set->Find("fgroupid = 2");
  EXPECT_TRUE(set->Field("FName").IsNull());
  set->MoveFirst();
  set->Find("FGroupID=2.0");
  EXPECT_EQ(set->Field("FGroupID").ToLong(), 2);
}

TEST(RowSet, DoubledApostropheStandsForOne) {
  auto set = Types();
  set->Find("FName='O''Brien'");
  ASSERT_FALSE(set->EOF_());
  EXPECT_EQ(set->Field("FGroupID").ToLong(), 0);
  set->MoveFirst();
  set->Find("FName=''");  // a Null never matches, not even the empty text
  EXPECT_TRUE(set->EOF_());
}

TEST(RowSet, CriteriaThatDoNotParseRaiseErrors) {
  auto set = Types();
  for (const std::string c : {"FName='O'Brien'", "FName", "FGroupID>1", "='资产'", "FName=资产", "FName='资产",
                              "FName='资产' AND FGroupID=1", "FGroupID=", "F Name='x'"})
    EXPECT_EQ(ErrorOf([&] { set->Find(c); }), "查找条件无效：" + c) << c;
  EXPECT_EQ(ErrorOf([&] { set->Find("FNumber='1'"); }), "记录集中没有字段：FNumber");
}

TEST(RowSet, MovingAndReadingAtTheEnds) {
  auto set = Types();
  EXPECT_FALSE(set->BOF());
  EXPECT_FALSE(set->EOF_());
  EXPECT_EQ(set->RecordCount(), 4);
  set->MoveLast();
  EXPECT_EQ(set->Field("FGroupID").ToLong(), 3);
  set->MoveNext();
  EXPECT_TRUE(set->EOF_());
  EXPECT_EQ(ErrorOf([&] { set->Field("FName"); }), "没有当前记录（BOF 或 EOF 为真），不能读取字段：FName");
  EXPECT_EQ(ErrorOf([&] { set->MoveNext(); }), "记录集已在末尾，不能再向后移动");
  EXPECT_EQ(ErrorOf([&] { Types()->Field("FItemID"); }), "记录集中没有字段：FItemID");

  RowSet empty({"FGroupID", "FName"});
  EXPECT_TRUE(empty.BOF());
  EXPECT_TRUE(empty.EOF_());
  EXPECT_NO_THROW(empty.MoveFirst());
  EXPECT_NO_THROW(empty.MoveLast());
  EXPECT_TRUE(empty.EOF_());
  EXPECT_EQ(empty.RecordCount(), 0);
  empty.Find("FName='x'");
  EXPECT_TRUE(empty.EOF_());
}

using AccountInfoTest = LedgerTest;

TEST_F(AccountInfoTest, ServiceUsesThePropertyStringItIsGiven) {
  auto info = CreateObjectAs<AccountInfo>(kAccountInfo);
  TempDir other;
  std::string otherPath = other.file("other.db");
  CreateLedger(otherPath);
  auto store = LedgerStore::ForPath(otherPath);
  store->Write([&] { store->Exec("UPDATE t_AccountGroup SET FName = '资产类' WHERE FGroupID = 1"); });
  // The thread's string names the first ledger; the argument wins.
  auto list = info->GetAccountGroupList("Data Source=" + otherPath);
  list->Find("FGroupID=1");
  EXPECT_EQ(list->Field("FName").ToText(), "资产类");
  auto mine = info->GetAccountGroupList(props);
  mine->Find("FName='损益'");
  EXPECT_EQ(mine->Field("FGroupID").ToLong(), 6);
  EXPECT_EQ(ErrorOf([&] { info->GetAccountGroupList("AcctType=GY"); }),
            "属性串中没有指定账套文件（Data Source），无法打开账套");
}

}  // namespace
}  // namespace morvent::test
