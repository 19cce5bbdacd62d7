// The one list of the library's own components by programmatic name. Each
// subsystem exposes a registration function; nothing else registers names.
#include <mutex>

#include "platform/registry.h"

namespace morvent {

void RegisterDataFileComponents();  // datafile/datafile_xml.cpp
void RegisterLedgerComponents();    // store/ledger_*.cpp

void EnsureComponentsRegistered() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterDataFileComponents();
    RegisterLedgerComponents();
  });
}

}  // namespace morvent
