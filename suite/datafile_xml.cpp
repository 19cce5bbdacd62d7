// Placeholder until the libxml2 writer and reader land.
#include "platform/registry.h"
namespace morvent {
void RegisterDataFileComponents() {}
}  // namespace morvent
