#include "cli/upgrade.h"

#include <iostream>

#include "cli/commands.h"
#include "platform/error.h"
#include "platform/text.h"
#include "store/ledger_schema.h"
#include "store/ledger_store.h"

namespace morvent::cli {

int RunLedgerUpgrade(const std::string& path) {
  std::shared_ptr<LedgerStore> store;
  try {
    store = LedgerStore::ForPathAnyVersion(path);
  } catch (const std::exception& e) {
    std::cerr << "失败：" << ForTerminal(ToError(e).Description(), false) << std::endl;
    return kExitNoOpen;
  }
  const std::string shown = ForTerminal(store->Path());
  try {
    const LedgerUpgrade done = UpgradeLedger(*store);
    if (done.from == done.to) {
      std::cerr << "账套 " << shown << " 的结构版本已是 " << done.to << "，无需升级" << std::endl;
      return kExitTrue;
    }
    std::cerr << "已升级账套 " << shown << "：结构版本 " << done.from << " → " << done.to << "；" << done.items
              << " 个核算项目的 " << done.fields << " 个字段值移入各自的行";
    if (done.orphans > 0) std::cerr << "；" << done.orphans << " 个字段值属于已不存在的核算项目，未保留";
    std::cerr << std::endl;
    return kExitTrue;
  } catch (const std::exception& e) {
    std::cerr << "失败：" << ForTerminal(ToError(e).Description(), false) << "；账套 " << shown << " 未作改动"
              << std::endl;
    return kExitError;
  }
}

}  // namespace morvent::cli
