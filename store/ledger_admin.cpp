#include "store/ledger_admin.h"

#include <filesystem>

#include "platform/text.h"
#include "store/item_ledger.h"
#include "store/ledger_schema.h"
#include "store/ledger_store.h"

namespace morvent {

namespace {
const char* const kStandardAccountGroups[] = {"资产", "负债", "共同", "所有者权益", "成本", "损益"};

void RemoveLedgerFiles(const std::string& path) {
  std::error_code ec;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::filesystem::remove(path + suffix, ec);
}
}  // namespace

void CreateLedger(const std::string& path, const std::string& kind) {
  std::string k = TrimBlanks(kind);
  if (k.empty()) k = kDefaultLedgerKind;
  auto store = LedgerStore::CreateFile(path);
  try {
    store->Write([&] {
      CreateCoreSchema(*store);
      int32_t id = 0;
      for (const char* name : kStandardAccountGroups) {
        auto q = store->Prepare("INSERT INTO t_AccountGroup (FGroupID, FName) VALUES (?, ?)");
        q.Bind(1, ++id).Bind(2, name).Run();
      }
      store->SetMeta("kind", k);
      CreateItemSchema(*store);
      SeedItemMetadata(*store);
      store->SettleSequences();
    });
    store->Commit();
  } catch (...) {
    // A server's schema went with the transaction that was making it.
    const bool server = store->OnServer();
    store.reset();
    if (!server) RemoveLedgerFiles(path);
    throw;
  }
}

const LedgerKindInfo* FindLedgerKind(std::string_view text) {
  const std::string k = TrimBlanks(text);
  for (const auto& kind : kLedgerKinds)
    if (EqualsNoCase(kind.code, k)) return &kind;
  return nullptr;
}

std::string LedgerKind(const std::string& path) {
  return LedgerStore::ForPath(path)->Meta("kind", kDefaultLedgerKind);
}

}  // namespace morvent
