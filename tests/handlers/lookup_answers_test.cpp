// An export's lookups keep their answers: asked again, an ID costs its
// handler nothing, and what is kept never outlives the export or a GetID.
#include <gtest/gtest.h>

#include "items/item_lookup.h"

namespace morvent::test {
namespace {

// A handler whose answers change with every call, so a kept answer shows.
struct CountingHandler {
  int checks = 0, infos = 0;
  bool CheckID(int32_t id) {
    ++checks;
    return id % 2 == 0;
  }
  DataRecordPtr GetInfo(int32_t id, const std::string& property) {
    auto r = NewRecord();
    r->SetValue("Number", Variant(std::to_string(id) + property + "#" + std::to_string(++infos)));
    return r;
  }
  int32_t GetID(const DataRecord&, int16_t, const std::string&) { return 7; }
};

std::string Shown(const DataRecordPtr& r) { return r ? r->Value("Number").ToText() : "null"; }

TEST(LookupAnswers, KeptForOneExportAndForgottenByAnyChange) {
  HandlerLookup<CountingHandler> lookup;
  auto& h = lookup.handler();
  EXPECT_EQ(Shown(lookup.GetInfo(4, "a")), "4a#1");
  EXPECT_EQ(Shown(lookup.GetInfo(4, "a")), "4a#2");  // not kept unless asked to

  lookup.KeepAnswers(true);
  const struct {
    int32_t id;
    std::string property, shown;
  } asked[] = {{4, "a", "4a#3"}, {4, "a", "4a#3"}, {4, "b", "4b#4"}, {6, "a", "6a#5"}, {4, "b", "4b#4"}};
  for (const auto& a : asked) EXPECT_EQ(Shown(lookup.GetInfo(a.id, a.property)), a.shown) << a.id << a.property;
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(lookup.CheckID(8));
  EXPECT_FALSE(lookup.CheckID(9));
  EXPECT_FALSE(lookup.CheckID(9));
  EXPECT_EQ(h.checks, 2);

  // A GetID may have made or changed an object: nothing kept holds.
  EXPECT_EQ(lookup.GetID(NewRecord(), 0, ""), 7);
  EXPECT_EQ(Shown(lookup.GetInfo(4, "a")), "4a#6");
  EXPECT_TRUE(lookup.CheckID(8));
  EXPECT_EQ(h.checks, 3);

  // More distinct IDs than are kept: every answer is still the handler's.
  for (int32_t id = 0; id < 10000; ++id) ASSERT_EQ(lookup.CheckID(id), id % 2 == 0) << id;
  EXPECT_EQ(lookup.CheckID(9998), true);

  lookup.KeepAnswers(false);
  const int before = h.infos;
  lookup.GetInfo(4, "a");
  lookup.GetInfo(4, "a");
  EXPECT_EQ(h.infos, before + 2);
}

}  // namespace
}  // namespace morvent
