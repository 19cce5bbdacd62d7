#include "cli/inspect.h"

#include <deque>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>

#include "cli/commands.h"
#include "front/code_table.h"
#include "front/exchange_log.h"
#include "platform/error.h"
#include "platform/text.h"
#include "store/ledger_admin.h"
#include "store/ledger_schema.h"
#include "store/ledger_store.h"

namespace morvent::cli {

namespace {

// The core table holding each kind; the item kinds are found by their class
// title in t_ItemClass instead.
const std::map<int32_t, const char*> kCoreTables = {
    {101, "t_AccountGroup"}, {102, "t_Account"},    {103, "t_Currency"},
    {104, "t_VoucherGroup"}, {105, "t_MeasureUnitGroup"}, {106, "t_MeasureUnit"},
    {107, "t_SettleType"},   {121, "t_SubMesType"}, {122, "t_SubMes"},
};

// Everything a ledger holds is printed harmless: a hostile ledger must not
// steer the terminal.
void PrintLedgerInfo(LedgerStore& store) {
  const std::string version = store.Meta("schema_version");
  std::cout << "账套：" << ForTerminal(store.Path()) << "\n类型（AcctType）："
            << ForTerminal(store.Meta("kind", kDefaultLedgerKind)) << "\n结构版本：" << ForTerminal(version);
  // An older ledger is described as it is; only its use needs the upgrade.
  if (version != std::to_string(kLedgerSchemaVersion))
    std::cout << "（需要先运行“morvent ledger upgrade " << ForTerminal(store.Path()) << "”升级到版本 "
              << kLedgerSchemaVersion << "）";
  std::cout << "\n对象数：\n";
  std::map<std::string, int64_t> classByTitle;
  auto classes = store.Prepare("SELECT FItemClassID, FName FROM t_ItemClass ORDER BY FItemClassID");
  while (classes.Next()) classByTitle.emplace(classes.Text(1), classes.Int(0));
  for (const auto& b : BaseTypes()) {
    int64_t n = 0;
    if (auto t = kCoreTables.find(b.code); t != kCoreTables.end()) {
      n = store.CountRows(t->second);
    } else if (auto c = classByTitle.find(b.title); c != classByTitle.end()) {
      n = store.CountRows("t_Item", "FItemClassID", c->second);
      classByTitle.erase(c);
    }
    std::cout << b.code << "\t" << b.element << "\t" << b.title << "\t" << n << "\n";
  }
  for (const auto& [title, id] : classByTitle)
    std::cout << "-\t-\t" << ForTerminal(title) << "\t" << store.CountRows("t_Item", "FItemClassID", id) << "\n";
}

// Prints every entry as it is read, or keeps the last `tail` of them; the
// damage found, empty when none. What a sound log is, is the log's own rule.
std::string ReadLog(const std::string& path, std::optional<int> tail, std::deque<std::string>& keep) {
  return ReadExchangeLog(path, [&](const LogEntry& e) {
    // Every field on one line and harmless: a line feed in the time must
    // not forge an entry, nor a control steer the terminal.
    std::string entry = ForTerminal(e.time) + "\t" + ForTerminal(e.direct) + "\t" + ForTerminal(e.message);
    // A reader that went away needs no more; the caller reports it.
    if (!tail) return static_cast<bool>(std::cout << entry << "\n");
    keep.push_back(std::move(entry));
    if (keep.size() > static_cast<size_t>(*tail)) keep.pop_front();
    return true;
  });
}

}  // namespace

int RunLedgerInfo(const std::string& path) {
  try {
    PrintLedgerInfo(*LedgerStore::ForPathAnyVersion(path));
  } catch (const std::exception& e) {
    std::cerr << "失败：" << ForTerminal(ToError(e).Description(), false) << std::endl;
    return kExitNoOpen;
  }
  std::cout.flush();
  return std::cout ? kExitTrue : kExitError;
}

int RunLog(std::optional<int> tail) {
  const std::string path = ExchangeLogPath();
  std::cout << "交换日志：" << ForTerminal(path) << "\n";
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    std::cout << "还没有交换日志：尚未记录过任何错误" << std::endl;
    return std::cout ? kExitTrue : kExitError;
  }
  std::deque<std::string> entries;
  const std::string damage = std::filesystem::is_regular_file(path, ec) ? ReadLog(path, tail, entries) : "不是文件";
  for (const auto& e : entries) std::cout << e << "\n";
  std::cout.flush();
  if (!damage.empty()) {
    std::cerr << "交换日志 " << ForTerminal(path) << " 无法读取：" << ForTerminal(damage) << std::endl;
    return kExitError;
  }
  return std::cout ? kExitTrue : kExitError;
}

}  // namespace morvent::cli
