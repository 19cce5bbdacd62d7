// An export's lookups keep their answers: asked again, an ID costs its
// handler nothing, and what is kept never outlives the export or a GetID.
// An import's keep the IDs of the records they resolved, as long as
// nothing may have changed them.
#include <gtest/gtest.h>

#include <stdexcept>

#include "context/props.h"
#include "items/item_lookup.h"
#include "platform/call_scope.h"
#include "tests/support/support.h"

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
  int32_t GetID(const DataRecord&, int16_t, const std::string&) {
    ++ids;
    return answer;
  }
  int ids = 0;
  int32_t answer = 7;
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

DataRecordPtr Nested(const std::string& key, DataRecordPtr inner) {
  auto r = NewRecord();
  r->SetValue(key, Variant(inner));
  return r;
}

TEST(LookupAnswers, RecordsShareAKeyOnlyWhenTheyHoldTheSameKeysValuesAndTypes) {
  auto list = [](std::vector<DataRecordPtr> items) {
    auto c = std::make_shared<RecordCollection>();
    for (auto& i : items) c->Add(i);
    return Variant(c);
  };
  auto withList = [](const Variant& l) {
    auto r = NewRecord();
    r->SetValue("L", l);
    return r;
  };
  const struct {
    const char* what;
    DataRecordPtr a, b;
    bool same;
  } cases[] = {
      {"equal", Rec({{"Number", "USD"}, {"Name", "美元"}}), Rec({{"Number", "USD"}, {"Name", "美元"}}), true},
      {"value", Rec({{"Number", "USD"}}), Rec({{"Number", "usd"}}), false},
      {"order", Rec({{"A", "1"}, {"B", "2"}}), Rec({{"B", "2"}, {"A", "1"}}), false},
      {"type", Rec({{"A", "1"}}), Rec({{"A", int32_t{1}}}), false},
      {"null and empty text", Rec({{"A", Variant::Null()}}), Rec({{"A", ""}}), false},
      {"text running into the next key", Rec({{"A", "1B"}}), Rec({{"A1", "B"}}), false},
      {"absent key", Rec({{"A", "1"}}), Rec({{"A", "1"}, {"B", ""}}), false},
      {"nested equal", Nested("G", Rec({{"Name", "组"}})), Nested("G", Rec({{"Name", "组"}})), true},
      {"nested differs", Nested("G", Rec({{"Name", "组"}})), Nested("G", Rec({{"Name", "组2"}})), false},
      {"nested or flat", Nested("G", Rec({{"Name", "组"}})), Rec({{"G", "Name组"}}), false},
      {"lists", withList(list({Rec({{"A", "1"}}), Rec({{"A", "2"}})})), withList(list({Rec({{"A", "1"}, {"A2", ""}})})),
       false},
      {"lists equal", withList(list({Rec({{"A", "1"}})})), withList(list({Rec({{"A", "1"}})})), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string a, b;
    ASSERT_TRUE(AnswerKey(*c.a, a));
    ASSERT_TRUE(AnswerKey(*c.b, b));
    EXPECT_EQ(a == b, c.same) << a << " / " << b;
  }
  std::string key;
  EXPECT_FALSE(AnswerKey(*Rec({{"A", Variant(std::make_shared<Object>())}}), key)) << "an object of another kind";
}

TEST(LookupAnswers, AnImportKeepsIdsUntilAnythingMayHaveChangedThem) {
  struct StyleGuard {
    int32_t before = Context().gImpStyle;
    ~StyleGuard() { Context().gImpStyle = before; }
  } style;
  Context().gImpStyle = 1;
  HandlerLookup<CountingHandler> lookup;
  auto& h = lookup.handler();
  auto usd = [] { return Rec({{"Number", "USD"}}); };
  auto asks = [&](const DataRecordPtr& r, int16_t classId = 0) {
    const int before = h.ids;
    lookup.GetID(r, classId, "");
    return h.ids - before;
  };
  EXPECT_EQ(asks(usd()) + asks(usd()), 2) << "not kept unless asked to";

  lookup.KeepImportAnswers(true, true);
  EXPECT_EQ(asks(usd()), 1);
  EXPECT_EQ(asks(usd()), 0) << "an equal record";
  EXPECT_EQ(asks(Rec({{"Number", "EUR"}})), 1);
  EXPECT_EQ(asks(usd(), 3), 1) << "another class";
  h.answer = 0;
  EXPECT_EQ(asks(Rec({{"Number", "JPY"}})) + asks(Rec({{"Number", "JPY"}})), 2) << "nothing found or made";
  h.answer = 7;

  Context().gImpStyle = 2;
  EXPECT_EQ(asks(usd()) + asks(usd()), 2) << "an import that writes over a match";
  Context().gImpStyle = 1;
  EXPECT_EQ(asks(usd()), 0);

  // A record that kept an answer and was undone takes everything kept.
  try {
    RecordScope record;
    EXPECT_EQ(asks(Rec({{"Number", "GBP"}})), 1);
    throw std::runtime_error("refused");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(asks(usd()), 1);
  {
    RecordScope record;
    EXPECT_EQ(asks(Rec({{"Number", "CHF"}})), 1);
    record.Stored();
  }
  EXPECT_EQ(asks(usd()) + asks(Rec({{"Number", "CHF"}})), 0) << "a record that ends well undoes nothing";

  {
    PublicCallScope call;
    NoteLostWrite("磁盘已满");
    EXPECT_EQ(asks(usd()), 1) << "a lost write";
    EXPECT_TRUE(TakeLostWrite());
  }

  lookup.KeepImportAnswers(false, true);
  EXPECT_EQ(asks(usd()) + asks(usd()), 2);

  // A lookup that never writes keeps answers under any style, none included.
  lookup.KeepImportAnswers(true, false);
  Context().gImpStyle = 2;
  h.answer = 0;
  EXPECT_EQ(asks(usd()) + asks(usd()), 1);
}

}  // namespace
}  // namespace morvent
