#pragma once
// A fresh ledger file in a temporary folder, with the thread's property
// string pointing at it while the fixture lives.
#include <gtest/gtest.h>

#include <string>

#include "context/ledger_api.h"
#include "context/props.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "suite/ledger_admin.h"
#include "tests/support/support.h"

namespace morvent::test {

class LedgerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir.file("ledger.db");
    CreateLedger(path);
    props = "Provider=embedded;Data Source=" + path + ";AcctType=QY";
    previous = Context().gPropsString;
    Context().gPropsString = props;
  }
  void TearDown() override { Context().gPropsString = previous; }

  ObjectSetPtr Set(const char* progId) { return CreateObjectAs<ObjectSet>(progId); }

  TempDir dir;
  std::string path;
  std::string props;
  std::string previous;
};

// The description of the Error that fn raises, or "" when it raises none.
template <class F>
std::string ErrorOf(F&& fn) {
  try {
    fn();
  } catch (const Error& e) {
    return e.Description();
  }
  return "";
}

}  // namespace morvent::test
