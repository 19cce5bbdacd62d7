// A save writes an item's fields in one text (a new item's whole, a stored
// one's changes as a patch): every count of fields, up to all a material
// carries, stores exactly what was set, the first time and when the stored
// values are overwritten or cleared.
#include <string>
#include <vector>

#include "store/item_catalogue.h"
#include "tests/support/ledger_fixture.h"

namespace morvent::test {
namespace {

using ItemValueBatchesTest = LedgerTest;

// The material's stored fields (aliases are other names of them).
std::vector<const FieldDef*> StoredFields() {
  std::vector<const FieldDef*> out;
  for (const auto& f : FindCatalogue(4)->fields)
    if (!f.aliasOf) out.push_back(&f);
  return out;
}

std::string NameFor(const FieldDef& f) { return std::string(f.name) + (f.kind == FieldKind::Ref ? "_ID" : ""); }

// A value of the field's kind that tells the field and the round apart.
Variant ValueFor(const FieldDef& f, int i, int round) {
  switch (f.kind) {
    case FieldKind::Text: return Variant("值" + std::to_string(i) + "/" + std::to_string(round));
    case FieldKind::Flag: return Variant((i + round) % 2 == 0);
    case FieldKind::Date: return Variant(MakeDate(2000 + round, 1, 1 + i % 28));
    case FieldKind::Number:
    case FieldKind::Ref: return Variant(int32_t{1000 * round + i});
  }
  return Variant();
}

TEST_F(ItemValueBatchesTest, EveryCountOfFieldsIsStoredWhole) {
  const auto fields = StoredFields();
  ASSERT_GT(fields.size(), 33u) << "the material must carry more fields than the counts below";
  const size_t counts[] = {1, 4, 5, 15, 16, 17, 31, 32, 33, fields.size()};
  int number = 0;
  for (size_t count : counts) {
    SCOPED_TRACE("fields: " + std::to_string(count));
    auto item = NewItem(4, std::to_string(++number), "物料");
    const int32_t id = item->Get("ItemID").ToLong();
    auto check = [&](int round, size_t cleared) {
      auto stored = Items(4)->Item(id);
      for (size_t i = 0; i < count; ++i) {
        const FieldDef& f = *fields[i];
        const Variant got = stored->Properties(NameFor(f));
        SCOPED_TRACE(f.name);
        if (i < cleared) {
          EXPECT_TRUE(got.IsNull());
        } else if (f.kind == FieldKind::Text) {
          EXPECT_EQ(got.ToText(), ValueFor(f, static_cast<int>(i), round).ToText());
        } else {
          EXPECT_DOUBLE_EQ(got.ToDouble(), ValueFor(f, static_cast<int>(i), round).ToDouble());
        }
      }
      if (count < fields.size()) EXPECT_TRUE(stored->Properties(NameFor(*fields[count])).IsNull());
    };
    // Written new, then overwritten, then the first few cleared among the rest overwritten again.
    for (int round = 1; round <= 3; ++round) {
      const size_t cleared = round == 3 ? count / 3 : 0;
      for (size_t i = 0; i < count; ++i)
        item->SetProperties(NameFor(*fields[i]), i < cleared ? Variant::Null() : ValueFor(*fields[i], static_cast<int>(i), round));
      item->SaveChanges();
      check(round, cleared);
    }
  }
}

}  // namespace
}  // namespace morvent::test
