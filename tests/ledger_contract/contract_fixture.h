#pragma once
#include "tests/support/ledger_fixture.h"

namespace morvent::test {
using ContractTest = LedgerTest;
}  // namespace morvent::test
