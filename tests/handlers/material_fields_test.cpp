// Materials field by field: flags given as text, the order each ledger kind
// writes its fields in, and where a non-GY "ErpCls" is looked up.
#include "context/glfunc.h"
#include "items/assist_detail.h"
#include "platform/registry.h"
#include "tests/handlers/fixture.h"

namespace morvent::test {
namespace {

constexpr int32_t kMaterials = 116;
constexpr int16_t kMaterialClass = 4;
const std::string kImportError = "引入物料资料错误，当前记录名称为：";

using WriteLog = std::vector<std::string>;

// An item's extended fields, noting each write.
class RecordingDictionary : public DataRecord {
 public:
  RecordingDictionary(std::shared_ptr<DataRecord> inner, WriteLog& log) : inner_(std::move(inner)), log_(log) {}
  Variant Value(const std::string& key) const override { return inner_->Value(key); }
  void SetValue(const std::string& key, const Variant& value) override {
    log_.push_back("D:" + key);
    inner_->SetValue(key, value);
  }
  Variant GetValue(const std::string& key, const Variant& def) const override { return inner_->GetValue(key, def); }
  bool Has(const std::string& key) const override { return inner_->Has(key); }
  const std::vector<Entry>& Entries() const override { return inner_->Entries(); }

 private:
  std::shared_ptr<DataRecord> inner_;
  WriteLog& log_;
};

// A material, noting each field it is given ("P:" by Properties, "D:" by
// its dictionary).
class RecordingItem : public LedgerObject {
 public:
  RecordingItem(LedgerObjectPtr inner, WriteLog& log) : inner_(std::move(inner)), log_(log) {}
  Variant Get(const std::string& p) const override { return inner_->Get(p); }
  void Let(const std::string& p, const Variant& v) override { inner_->Let(p, v); }
  Variant Properties(const std::string& f) const override { return inner_->Properties(f); }
  void SetProperties(const std::string& f, const Variant& v) override {
    log_.push_back("P:" + f);
    inner_->SetProperties(f, v);
  }
  std::shared_ptr<DataRecord> Dictionary() override {
    return std::make_shared<RecordingDictionary>(inner_->Dictionary(), log_);
  }
  Variant Call(const std::string& m, const std::vector<Variant>& a, const NamedArgs& n) override {
    return inner_->Call(m, a, n);
  }
  void SaveChanges() override { inner_->SaveChanges(); }

 private:
  LedgerObjectPtr inner_;
  WriteLog& log_;
};

// The ledger's item set; the items of the material class it hands out for
// writing note their writes.
class RecordingItemSet : public ObjectSet {
 public:
  RecordingItemSet(ObjectSetPtr inner, WriteLog& log) : inner_(std::move(inner)), log_(log) {}
  void SetListOptions(int16_t o) override { inner_->SetListOptions(o); }
  void SetRestriction(const std::string& n, const Variant& v) override {
    if (n == "ItemClassID") materials_ = v.ToLong() == kMaterialClass;
    inner_->SetRestriction(n, v);
  }
  void Refresh() override { inner_->Refresh(); }
  int32_t Count() override { return inner_->Count(); }
  std::unique_ptr<ObjectCursor> Enumerate() override { return inner_->Enumerate(); }
  LedgerObjectPtr GetNext() override { return inner_->GetNext(); }
  LedgerObjectPtr Item(int32_t id, const std::optional<Variant>& second) override {
    return Wrap(inner_->Item(id, second));
  }
  LedgerObjectPtr GetUnit(int32_t id) override { return inner_->GetUnit(id); }
  int32_t ExistenceCheck(const NamedArgs& named) override { return inner_->ExistenceCheck(named); }
  LedgerObjectPtr CreateNew(const std::vector<Variant>& a, const NamedArgs& n) override {
    return Wrap(inner_->CreateNew(a, n));
  }

 private:
  LedgerObjectPtr Wrap(LedgerObjectPtr item) {
    if (!item || !materials_) return item;
    return std::make_shared<RecordingItem>(std::move(item), log_);
  }
  ObjectSetPtr inner_;
  WriteLog& log_;
  bool materials_ = false;
};

class MaterialFields : public HandlerTest {
 protected:
  std::string Field(const std::string& ledger, const std::string& number, const std::string& field) {
    return ItemText(ledger, kMaterialClass, number, field);
  }
  RunResult ImportRecords(const std::string& ledger, const std::vector<DataRecordPtr>& records,
                          Client client = {}) {
    return Import(ledger, kMaterials, WriteRecords("m" + std::to_string(++files_) + ".xml", "Material", records), 1,
                  1, client);
  }
  // The demonstration ledger's record of the material, read from its export.
  DataRecordPtr DemoRecord(const std::string& demo, const std::string& number) {
    const std::string file = home.file("demo-export-" + std::to_string(++files_) + ".xml");
    EXPECT_TRUE(Clean(Export(demo, kMaterials, file)));
    Bind(demo);
    auto records = std::make_shared<RecordCollection>();
    std::string err;
    EXPECT_TRUE(ReadDataFile(records, file, SchemaPath("SchemaMaterial.xml"), "Material", err)) << err;
    for (int32_t i = records->LBound(); i <= records->UBound(); ++i)
      if (records->Item(i)->Value("Number").ToText() == number) return records->Item(i);
    ADD_FAILURE() << "no material " << number;
    return NewRecord();
  }

 private:
  int files_ = 0;
};

// A flag's text that is no number fails its record as accounts, branch
// companies and units do under the same rule; a flag the ledger kind does
// not read is not looked at.
TEST_F(MaterialFields, AFlagThatIsNoNumberIsATypeMismatch) {
  const struct {
    const char* kind;
    const char* key;
    const char* value;
    bool fails;
  } cases[] = {
      {"GY", "IsBatch", "True", true},       {"GY", "IsBatch", "是", true},
      {"QY", "IsSpecialTax", "True", true},  {"QY", "IsKeepTime", "false", true},
      {"QY", "IsStockTime", "yes", true},    {"GY", "IsBatch", " 1 ", false},
      {"QY", "IsBatch", "True", false},      // exported only outside GY
      {"GY", "IsKeepTime", "True", false},   // not a GY key
  };
  std::map<std::string, std::string> ledgers;
  for (const char* kind : {"GY", "QY"}) ledgers[kind] = NewLedger(std::string("flags") + kind + ".db", kind);
  int n = 0;
  for (const auto& c : cases) {
    const std::string number = "F" + std::to_string(++n), name = std::string("标志") + c.value;
    SCOPED_TRACE(std::string(c.kind) + " " + c.key + " = " + c.value);
    auto record = ItemRecord(number, name);
    record->SetValue(c.key, std::string(c.value));
    RunResult run = ImportRecords(ledgers[c.kind], {record}, Client{.letErrorsPass = true});
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.errors, c.fails ? std::vector<std::string>{kImportError + name + "\r错误信息：\r类型不匹配"}
                                  : std::vector<std::string>{});
  }
  EXPECT_EQ(Field(ledgers["GY"], "F6", "FBatchManager"), "True");
}

// Each ledger kind writes its fields in its own order after the first save:
// the common keys, then its field set's import order.
TEST_F(MaterialFields, EachLedgerKindWritesItsFieldsInItsOwnOrder) {
  const struct {
    const char* kind;
    WriteLog writes;
  } cases[] = {
      {"GY",
       {"P:FModel",       "P:FBrNo",        "P:FTrack",       "D:FLowLimit",    "D:FHighLimit", "D:FSecInv",
        "D:FLeadTime",    "D:FBatchManager", "D:FQtyDecimal",  "D:FPriceDecimal", "D:FPlanPrice", "D:FSalePrice",
        "P:FUnitID",      "P:FGoodSpec",    "D:FDefaultLoc",  "D:FSource",      "D:FOrderRector", "P:FErpClsID",
        "D:FAcctID",      "D:FSaleAcctID",  "D:FCostAcctID",  "D:FAPAcctID"}},
      {"QY",
       {"P:FModel",         "P:FBrNo",          "P:FTrack",        "D:FTaxRate",       "D:FInPrice",
        "D:FOutPrice",      "D:FQtyScale",      "D:FPriceScale",   "D:FIsKeepTime",    "D:FIsStockTime",
        "D:FIsSpecialTax",  "D:FMinStock",      "D:FMaxStock",     "P:FUnitGroupID",   "D:FDefStockID_ID",
        "P:FTaxNumber_ID",  "P:FTypeID_ID",     "D:FStockAcctID_ID", "D:FSaleAcctID_ID", "D:FCOGSAcctID_ID"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    const std::string kind = c.kind;
    const std::string demo = DemoLedger("demo" + kind + ".db", kind);
    const std::string target = CopyKinds(demo, {122, 106}, "order" + kind, kind);
    // One material carrying every key its kind reads, each account too.
    auto record = DemoRecord(demo, "01.01.001");
    for (const char* account : {"SaleAcctID", "CostAcctID", "APAcctID"})
      if (!record->Has(account)) record->SetValue(account, record->Value("AcctID"));
    WriteLog log;
    Factory real = ReplaceFactory(kItemSet, nullptr);
    ReplaceFactory(kItemSet, real);
    {
      ScopedFactory recording(kItemSet, [real, &log] {
        return std::make_shared<RecordingItemSet>(std::dynamic_pointer_cast<ObjectSet>(real()), log);
      });
      EXPECT_TRUE(Clean(ImportRecords(target, {record})));
    }
    EXPECT_EQ(log, c.writes);
  }
}

// Outside GY the file carries a "商品属性" value: the lookup is made among
// the "物料属性" values first, then among the "商品属性" values.
TEST_F(MaterialFields, ANonGyErpClsIsFoundAmongEitherPropertysValues) {
  const std::string ledger = NewLedger("erp.db", "QY");
  Bind(ledger);
  auto entry = [](const char* type, const char* number, const char* name) {
    return Rec({{"Name", name}, {"Number", number}, {"AssistType", Rec({{"Name", type}, {"Number", "0"}})}});
  };
  CAssistDetail entries;
  const int32_t made = entries.ImportAssistDetail(*entry("物料属性", "01", "自制"));
  const int32_t bought = entries.ImportAssistDetail(*entry("物料属性", "02", "外购"));
  const int32_t stocked = entries.ImportAssistDetail(*entry("商品属性", "01", "库存商品"));
  const int32_t boughtGoods = entries.ImportAssistDetail(*entry("商品属性", "02", "外购"));
  ASSERT_GT(boughtGoods, bought);
  const struct {
    const char* number;
    const char* name;
    int32_t stored;
  } cases[] = {{"01", "自制", made}, {"02", "库存商品", stocked}, {"03", "外购", bought}, {"04", "无此属性", 0}};
  std::vector<DataRecordPtr> records;
  for (const auto& c : cases) {
    auto r = ItemRecord(c.number, std::string("物料") + c.number);
    r->SetValue("ErpCls", Rec({{"Name", c.name}, {"Number", "99"}}));
    records.push_back(r);
  }
  EXPECT_TRUE(Clean(ImportRecords(ledger, records)));
  for (const auto& c : cases) EXPECT_EQ(Field(ledger, c.number, "FTypeID_ID"), std::to_string(c.stored)) << c.name;
}

}  // namespace
}  // namespace morvent::test
