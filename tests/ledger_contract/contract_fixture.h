#pragma once
// A new ledger in a temporary folder, reached the way the handlers reach it:
// sets and services created by name while the thread's property string
// names the ledger, members called with the argument types the handlers
// pass (16-bit list options and class IDs, 32-bit object IDs).
#include <gtest/gtest.h>

#include <string>

#include "context/ledger_api.h"
#include "context/props.h"
#include "context/record.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "suite/ledger_admin.h"
#include "tests/support/support.h"

namespace morvent::test {

class ContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureComponentsRegistered();
    path = dir.file("contract.db");
    CreateLedger(path);
    props = "Provider=embedded;Data Source=" + path + ";AcctType=QY";
    previous = Context().gPropsString;
    Context().gPropsString = props;
  }
  void TearDown() override { Context().gPropsString = previous; }

  // A set as a handler prepares it: created by name, list options, Refresh.
  ObjectSetPtr Open(const char* progId, int16_t listOptions = 0) {
    auto set = CreateObjectAs<ObjectSet>(progId);
    if (listOptions != 0) set->SetListOptions(listOptions);
    set->Refresh();
    return set;
  }
  ObjectSetPtr Items(int16_t classId) {
    auto set = CreateObjectAs<ObjectSet>(kItemSet);
    set->SetListOptions(int16_t{10});
    set->SetRestriction("ItemClassID", Variant(classId));
    set->Refresh();
    return set;
  }
  // A top-level item stored the way the item import stores a new one.
  int32_t NewItem(int16_t classId, const std::string& number, const std::string& name, int32_t parent = 0) {
    auto item = Items(classId)->CreateNew({Variant(classId), Variant(parent)}, {{"Number", Variant(number)}});
    item->Let("Name", Variant(name));
    item->Let("Number", Variant(number));
    item->SaveChanges();
    return item->Get("ItemID").ToLong();
  }
  int32_t TypeId(const std::string& name) {
    return Open(kSubMesTypeSet)->ExistenceCheck({{"Name", Variant(name)}});
  }
  int32_t NewEntry(const std::string& type, const std::string& number, const std::string& name) {
    auto e = Open(kSubMesSet)->CreateNew({Variant(TypeId(type))}, {{"Number", Variant(number)}});
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

// A record of plain keys, as a data file gives it.
inline DataRecordPtr Rec(std::initializer_list<std::pair<const char*, Variant>> entries) {
  auto r = NewRecord();
  for (const auto& [k, v] : entries) r->SetValue(k, v);
  return r;
}

}  // namespace morvent::test
