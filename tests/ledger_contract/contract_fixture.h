#pragma once
#include "tests/support/ledger_fixture.h"

namespace morvent::test {

// The ledger contract holds on every engine: each case runs on a ledger
// file and on a ledger of its own on the test server.
class ContractTest : public LedgerTest, public ::testing::WithParamInterface<LedgerEngine> {
 protected:
  void SetUp() override {
    engine = GetParam();
    LedgerTest::SetUp();
  }
};

}  // namespace morvent::test
