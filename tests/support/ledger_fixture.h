#pragma once
// A new ledger in a temporary folder (or, for engine Server, in a database
// of its own on the test server), with the thread's property string
// naming it while the fixture lives, reached the way the handlers reach it:
// sets created by name, members called with the argument types the
// handlers pass (16-bit list options and class IDs, 32-bit object IDs).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "context/ledger_api.h"
#include "context/props.h"
#include "platform/registry.h"
#include "store/ledger_admin.h"
#include "tests/support/server_fixture.h"
#include "tests/support/support.h"

namespace morvent::test {

class LedgerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureComponentsRegistered();
    previous = Context().gPropsString;
    if (engine == LedgerEngine::Server) {
      if (!TestServer()) GTEST_SKIP() << kNoServer;
      server = std::make_unique<ServerDatabase>();
      path = server->Source();
    } else {
      path = dir.file("ledger.db");
    }
    CreateLedger(path);
    props = "Provider=embedded;Data Source=" + path + ";AcctType=QY";
    Context().gPropsString = props;
  }
  void TearDown() override { Context().gPropsString = previous; }

  ObjectSetPtr Set(const char* progId) { return CreateObjectAs<ObjectSet>(progId); }
  // A set as a handler prepares it: created by name, list options, Refresh.
  ObjectSetPtr Open(const char* progId, int16_t listOptions = 0) {
    auto set = Set(progId);
    if (listOptions != 0) set->SetListOptions(listOptions);
    set->Refresh();
    return set;
  }
  ObjectSetPtr Items(int16_t classId) {
    auto set = Set(kItemSet);
    set->SetListOptions(int16_t{10});
    set->SetRestriction("ItemClassID", Variant(classId));
    set->Refresh();
    return set;
  }
  // A stored item of a class under a parent (0: top level), made the way
  // the item import makes a new one.
  LedgerObjectPtr NewItem(int16_t classId, const std::string& number, const std::string& name, int32_t parent = 0) {
    auto item = Items(classId)->CreateNew({Variant(classId), Variant(parent)}, {{"Number", Variant(number)}});
    item->Let("Name", Variant(name));
    item->SaveChanges();
    return item;
  }
  int32_t TypeId(const std::string& name) { return Set(kSubMesTypeSet)->ExistenceCheck({{"Name", Variant(name)}}); }
  // A stored assist-data entry of the named type; answers its ID.
  int32_t NewEntry(const std::string& type, const std::string& number, const std::string& name) {
    auto e = Set(kSubMesSet)->CreateNew({Variant(TypeId(type))}, {{"Number", Variant(number)}});
    e->Let("Name", Variant(name));
    e->SaveChanges();
    return e->Get("ItemID").ToLong();
  }

  // Set by a suite run on both engines before SetUp.
  LedgerEngine engine = LedgerEngine::File;
  TempDir dir;
  std::unique_ptr<ServerDatabase> server;
  std::string path;
  std::string props;
  std::string previous;
};

}  // namespace morvent::test
