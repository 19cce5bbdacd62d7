// Placeholder until the embedded ledger lands.
#include "platform/registry.h"
namespace morvent {
void RegisterLedgerComponents() {}
}  // namespace morvent
