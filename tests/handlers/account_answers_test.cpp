// An account import resolves each distinct nested record once, and what it
// kept never outlives a change to what it answers: a record undone (failed,
// or run again after a conflict), an import style that writes on a match,
// the end of the import.
#include "context/props.h"
#include "ledger/account.h"
#include "platform/registry.h"
#include "store/ledger_store.h"
#include "tests/handlers/fixture.h"

namespace morvent::test {
namespace {

DataRecordPtr Usd(const std::string& number) {
  auto r = Rec({{"Number", number}, {"Name", "账户" + number}});
  r->SetValue("Currency", Rec({{"Name", "美元"}, {"Number", "USD"}, {"ExchangeRate", "7.1"}}));
  auto classes = std::make_shared<RecordCollection>();
  classes->Add(Rec({{"Name", "客户"}, {"Number", "001"}}));
  r->SetValue("ItemClass", classes);
  return r;
}

class AccountAnswersTest : public RecordsTest {
 protected:
  AccountAnswersTest() { code = 102; }
  void TearDown() override { LedgerStore::SetConflictFaultForTesting(nullptr); }
  std::shared_ptr<LedgerStore> Store() { return LedgerStore::ForProps(Props(ledger)); }
  // "number→currency number" of every account, the currency read through
  // the ID the account holds ("?" when it names none).
  std::vector<std::string> CurrencyOfEach() {
    std::vector<std::string> out;
    auto q = Store()->Prepare(
        "SELECT a.FNumber, coalesce(c.FNumber, '?') FROM t_Account a "
        "LEFT JOIN t_Currency c ON c.FCurrencyID = a.FCurrencyID ORDER BY a.FNumber");
    while (q.Next()) out.push_back(q.Text(0) + "→" + q.Text(1));
    return out;
  }
  int64_t Rows(const std::string& table) {
    auto q = Store()->Prepare("SELECT count(*) FROM " + table);
    q.Next();
    return q.Int(0);
  }
};

TEST_F(AccountAnswersTest, AnAnswerDoesNotOutliveTheRecordThatMadeItsObject) {
  // The first account's insert meets another client's deadlock so often,
  // each time after its currency was made: every run of the record is
  // undone, the currency with it.
  const struct {
    const char* what;
    int conflicts;
    bool firstFails;
    std::vector<std::string> after;
  } cases[] = {
      {"refused", 4, true, {"1002→USD", "1003→USD"}},
      {"run again", 2, false, {"1001→USD", "1002→USD", "1003→USD"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ledger = NewLedger(std::string(c.what) + ".db");
    int conflicts = c.conflicts;
    LedgerStore::SetConflictFaultForTesting(
        [&](std::string_view sql) { return sql.starts_with("INSERT INTO t_Account ") && conflicts-- > 0; });
    RunResult run = Run({Usd("1001"), Usd("1002"), Usd("1003")}, 1, 1, Client{.letErrorsPass = true});
    LedgerStore::SetConflictFaultForTesting(nullptr);
    std::vector<std::string> errors;
    if (c.firstFails)
      errors.push_back("引入科目错误，当前科目代码为：1001\r错误信息：\r账套 " + Store()->Path() +
                       " 上的保存与另一个客户端冲突：deadlock detected（已重试 3 次）");
    EXPECT_EQ(run.errors, errors);
    EXPECT_EQ(CurrencyOfEach(), c.after);
    EXPECT_EQ(Rows("t_Currency WHERE FNumber = 'USD'"), 1);
    EXPECT_EQ(Rows("t_AccountItem"), static_cast<int64_t>(c.after.size()));
  }
}

TEST_F(AccountAnswersTest, OnlyAnImportThatKeepsWhatItFindsAnswersFromWhatItKept) {
  // Style 3 refuses a match, so the second account fails once the first
  // has made the currency.
  const struct {
    int32_t impStyle;
    std::vector<std::string> errors;
    std::vector<std::string> after;
  } cases[] = {
      {1, {}, {"1001→USD", "1002→USD"}},
      {3, {"引入科目错误，当前科目代码为：1002\r错误信息：\r对象变量未设置"}, {"1001→USD"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.impStyle);
    ledger = NewLedger("style" + std::to_string(c.impStyle) + ".db");
    RunResult run = Run({Usd("1001"), Usd("1002")}, c.impStyle, 1, Client{.letErrorsPass = true});
    EXPECT_EQ(run.errors, c.errors);
    EXPECT_EQ(CurrencyOfEach(), c.after);
  }
  // Style 2 writes each record's currency over the one before.
  ledger = NewLedger("overwrite.db");
  auto second = Usd("1002");
  second->Record("Currency")->SetValue("Name", "美金");
  ASSERT_TRUE(Run({Usd("1001"), second, Usd("1003")}, 2).result);
  auto q = Store()->Prepare("SELECT FName FROM t_Currency WHERE FNumber = 'USD'");
  ASSERT_TRUE(q.Next());
  EXPECT_EQ(q.Text(0), "美元");
}

TEST_F(AccountAnswersTest, NothingKeptOutlivesTheImport) {
  const std::string file = WriteRecords("usd.xml", "Account", {Usd("1001")});
  Bind(ledger);
  CAccount accounts;
  ASSERT_TRUE(accounts.Import(file));
  // Another program gives the currency another number between two calls.
  Store()->Exec("UPDATE t_Currency SET FNumber = 'EUR' WHERE FNumber = 'USD'");
  accounts.GetID(Usd("1002"));
  const std::string again = WriteRecords("usd2.xml", "Account", {Usd("1003")});
  Store()->Exec("UPDATE t_Currency SET FNumber = 'GBP' WHERE FNumber = 'USD'");
  ASSERT_TRUE(accounts.Import(again));
  EXPECT_EQ(CurrencyOfEach(), (std::vector<std::string>{"1001→EUR", "1002→GBP", "1003→USD"}));
}

}  // namespace
}  // namespace morvent::test
