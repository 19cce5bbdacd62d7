#pragma once
// A new ledger in a temporary folder, the thread's property string pointing
// at it, and shorthands for the item side's sets.
#include <gtest/gtest.h>

#include <string>

#include "context/ledger_api.h"
#include "context/props.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "suite/ledger_admin.h"
#include "tests/support/support.h"

namespace morvent::test {

class ItemLedgerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureComponentsRegistered();
    path = dir.file("items.db");
    CreateLedger(path);
    props = "Data Source=" + path;
    previous = Context().gPropsString;
    Context().gPropsString = props;
  }
  void TearDown() override { Context().gPropsString = previous; }

  ObjectSetPtr Set(const char* progId) { return CreateObjectAs<ObjectSet>(progId); }
  ObjectSetPtr Items(int16_t classId) {
    auto set = Set(kItemSet);
    set->SetListOptions(10);
    set->SetRestriction("ItemClassID", Variant(classId));
    set->Refresh();
    return set;
  }
  // A stored item of a class under a parent (0: top level).
  LedgerObjectPtr NewItem(int16_t classId, const std::string& number, const std::string& name, int32_t parent = 0) {
    auto item = Items(classId)->CreateNew({Variant(classId), Variant(parent)}, {{"Number", Variant(number)}});
    item->Let("Name", Variant(name));
    item->SaveChanges();
    return item;
  }
  int32_t TypeId(const std::string& name) {
    return Set(kSubMesTypeSet)->ExistenceCheck({{"Name", Variant(name)}});
  }
  // A stored assist-data entry of the named type.
  int32_t NewEntry(const std::string& type, const std::string& number, const std::string& name) {
    auto e = Set(kSubMesSet)->CreateNew({Variant(TypeId(type))}, {{"Number", Variant(number)}});
    e->Let("Name", Variant(name));
    e->SaveChanges();
    return e->Get("ItemID").ToLong();
  }

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
