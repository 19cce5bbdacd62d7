#include "tests/handlers/fixture.h"


#include "context/glfunc.h"
#include "context/ledger_api.h"
#include "context/props.h"
#include "front/export_base.h"
#include "front/import_base.h"
#include "platform/registry.h"
#include "store/ledger_admin.h"

#include <cstdlib>

namespace morvent::test {

void HandlerTest::SetUp() {
  EnsureComponentsRegistered();
  const char* engine = std::getenv("MORVENT_LEDGER_ENGINE");
  onServer = engine && std::string(engine) == "server";
  if (onServer && !TestServer()) GTEST_SKIP() << kNoServer;
}

std::string HandlerTest::NewLedger(const std::string& name, const std::string& kind) {
  if (onServer) {
    servers.push_back(std::make_unique<ServerDatabase>());
    CreateLedger(servers.back()->Source(), kind);
    return servers.back()->Source();
  }
  std::string path = home.file(name);
  CreateLedger(path, kind);
  return path;
}

std::string HandlerTest::Props(const std::string& ledger) const {
  return "Data Source=" + ledger + ";AcctType=" + LedgerKind(ledger);
}

void HandlerTest::Bind(const std::string& ledger, int32_t impStyle, int32_t codingStyle) {
  auto& ctx = Context();
  ctx.gPropsString = Props(ledger);
  ParseProps(ctx.gPropsString);
  ctx.gImpStyle = impStyle;
  ctx.gCodingStyle = codingStyle;
}

RunResult HandlerTest::Import(const std::string& ledger, int32_t code, const std::string& file, int32_t impStyle,
                              int32_t codingStyle, Client client) {
  auto options = Rec({{"ImpStyle", impStyle}, {"CodingStyle", codingStyle}});
  return ImportWith(Props(ledger), code, file, options.get(), client);
}

RunResult HandlerTest::Export(const std::string& ledger, int32_t code, const std::string& file, Client client) {
  return ExportWith(Props(ledger), code, file, client);
}

RunResult HandlerTest::ImportWith(const std::string& props, int32_t code, const std::string& file,
                                  const OptionDictionary* options, Client client) {
  RunResult r;
  ImportBase imp;
  imp.ImportOneRow = [&](int32_t row, double rate, bool& cancel) {
    r.rows.push_back({row, rate});
    if (client.atRow) client.atRow(row);
    if (row == client.cancelAtRow) cancel = true;
  };
  imp.Error = [&](const std::string& msg, bool& cancel) {
    r.errors.push_back(msg);
    if (client.letErrorsPass) cancel = false;
  };
  r.result = imp.ImportXMLData(props, code, file, options);
  return r;
}

RunResult HandlerTest::ExportWith(const std::string& props, int32_t code, const std::string& file, Client client) {
  RunResult r;
  ExportBase exp;
  exp.ExportOneRow = [&](int32_t row, double rate, bool& cancel) {
    r.rows.push_back({row, rate});
    if (row == client.cancelAtRow) cancel = true;
  };
  exp.Error = [&](const std::string& msg, bool& cancel) {
    r.errors.push_back(msg);
    if (client.letErrorsPass) cancel = false;
  };
  r.result = exp.ExportXMLData(props, code, file);
  return r;
}

std::string HandlerTest::WriteRecords(const std::string& name, const std::string& element,
                                      const std::vector<DataRecordPtr>& records) {
  auto collection = std::make_shared<RecordCollection>();
  for (const auto& r : records) collection->Add(r);
  std::string path = home.file(name);
  std::string err;
  WriteDataFile(collection, path, SchemaPath("Schema" + element + ".xml"), element, err);
  return path;
}

std::map<std::string, StoredItem> HandlerTest::Items(const std::string& ledger, int16_t classId) {
  Bind(ledger);
  auto set = CreateObjectAs<ObjectSet>(kItemSet);
  set->SetListOptions(10);
  set->SetRestriction("ItemClassID", classId);
  set->Refresh();
  std::map<int32_t, std::string> numbers;
  std::vector<std::pair<StoredItem, int32_t>> all;
  auto cursor = set->Enumerate();
  while (auto item = cursor->Next()) {
    StoredItem s;
    s.id = item->Get("ItemID").ToLong();
    s.number = item->Get("Number").ToText();
    s.name = item->Get("Name").ToText();
    numbers[s.id] = s.number;
    all.emplace_back(s, NullToDefault(item->Properties("FParentID"), int32_t{0}).ToLong());
  }
  std::map<std::string, StoredItem> out;
  for (auto& [s, parent] : all) {
    if (parent != 0) s.parentNumber = numbers.count(parent) ? numbers[parent] : "?" + std::to_string(parent);
    out[s.number] = s;
  }
  return out;
}

Variant HandlerTest::ItemField(const std::string& ledger, int16_t classId, const std::string& number,
                               const std::string& field) {
  Bind(ledger);
  auto set = CreateObjectAs<ObjectSet>(kItemSet);
  set->SetListOptions(10);
  set->SetRestriction("ItemClassID", classId);
  set->Refresh();
  int32_t id = set->ExistenceCheck({{"Number", number}, {"ItemClassID", classId}});
  if (id < 1) throw std::runtime_error("no item " + number);
  return set->Item(id)->Properties(field);
}

std::string HandlerTest::ItemText(const std::string& ledger, int16_t classId, const std::string& number,
                                  const std::string& field) {
  Variant v = ItemField(ledger, classId, number, field);
  return v.IsNull() ? "<null>" : v.ToText();
}

void HandlerTest::SetItemField(const std::string& ledger, int16_t classId, const std::string& number,
                               const std::string& field, const Variant& value) {
  Bind(ledger);
  auto set = CreateObjectAs<ObjectSet>(kItemSet);
  set->SetRestriction("ItemClassID", classId);
  set->Refresh();
  auto item = set->Item(set->ExistenceCheck({{"Number", number}, {"ItemClassID", classId}}));
  item->SetProperties(field, value);
  item->SaveChanges();
}

int HandlerTest::LogEntries() const {
  std::string path = home.file("Morvent_log.xml");
  if (!FileExist(path)) return 0;
  std::string text = ReadFile(path);
  int n = 0;
  for (size_t p = text.find("<ErrLog"); p != std::string::npos; p = text.find("<ErrLog", p + 1)) ++n;
  return n;
}

std::vector<LedgerObjectPtr> HandlerTest::Objects(const std::string& ledger, const char* progId, int16_t listOptions) {
  Bind(ledger);
  auto set = CreateObjectAs<ObjectSet>(progId);
  set->SetListOptions(listOptions);
  set->Refresh();
  std::vector<LedgerObjectPtr> out;
  auto cursor = set->Enumerate();
  while (auto o = cursor->Next()) out.push_back(o);
  return out;
}

std::pair<std::string, std::string> HandlerTest::RoundTrip(const std::string& source, int32_t code,
                                                           const std::string& tag) {
  std::string first = home.file(tag + "-1.xml"), second = home.file(tag + "-2.xml");
  EXPECT_TRUE(Clean(Export(source, code, first)));
  std::string target = NewLedger(tag + "-target.db", LedgerKind(source));
  EXPECT_TRUE(Clean(Import(target, code, first, 1, 1)));
  EXPECT_TRUE(Export(target, code, second).result);
  return {ReadFile(first), ReadFile(second)};
}

std::string HandlerTest::Seeded(const std::string& ledger, int32_t code, const std::string& file,
                                int32_t impStyle) {
  EXPECT_TRUE(Clean(Import(ledger, code, file, impStyle, 1))) << file;
  return ledger;
}

std::string HandlerTest::DemoLedger(const std::string& name, const std::string& kind) {
  std::string path = NewLedger(name, kind);
  FillDemoLedger(path);
  return path;
}

std::string HandlerTest::CopyKinds(const std::string& source, const std::vector<int32_t>& codes,
                                   const std::string& tag, const std::string& kind) {
  std::string target = NewLedger(tag + ".db", kind.empty() ? LedgerKind(source) : kind);
  for (int32_t code : codes) {
    const std::string file = home.file(tag + "-" + std::to_string(code) + ".xml");
    EXPECT_TRUE(Clean(Export(source, code, file))) << code;
    EXPECT_TRUE(Clean(Import(target, code, file, 1, 1))) << code;
  }
  return target;
}

::testing::AssertionResult Clean(const RunResult& run) {
  if (!run.errors.empty()) return ::testing::AssertionFailure() << run.errors.size() << " errors: " << run.errors.front();
  if (!run.result) return ::testing::AssertionFailure() << "the run answered False";
  return ::testing::AssertionSuccess();
}

void RecordsTest::SetUp() {
  HandlerTest::SetUp();
  if (IsSkipped()) return;
  ledger = NewLedger("l.db");
}

RunResult RecordsTest::Run(int32_t code, const std::vector<DataRecordPtr>& records, int32_t impStyle,
                           int32_t codingStyle, Client client) {
  // Written out here rather than taken from the code table, so that the
  // cases check the table too.
  static const std::map<int32_t, std::string> kElements = {
      {102, "Account"},      {103, "Currency"},         {104, "VoucherGroup"}, {105, "MeasureUnitGroup"},
      {106, "MeasureUnit"},  {107, "Settle"},           {108, "SonCompany"},   {120, "Department"},
      {121, "AssistType"},   {122, "AssistDetail"}};
  const std::string& element = kElements.at(code);
  std::string file = WriteRecords("in" + std::to_string(++files_) + ".xml", element, records);
  return Import(ledger, code, file, impStyle, codingStyle, client);
}

DataRecordPtr ItemRecord(const std::string& number, const std::string& name, const std::string& parentKey,
                         const std::string& parentNumber, const std::string& parentName) {
  auto r = NewRecord();
  r->SetValue("Number", number);
  r->SetValue("Name", name);
  if (!parentKey.empty()) {
    auto p = NewRecord();
    p->SetValue("Name", parentName.empty() ? "上级" + parentNumber : parentName);
    p->SetValue("Number", parentNumber);
    r->SetValue(parentKey, p);
  }
  return r;
}


}  // namespace morvent::test

namespace morvent::test {

std::string Fixture(const std::string& name) { return FixtureDir() + "/handlers/" + name; }

std::string WithoutElement(const std::string& text, const std::string& element) {
  std::string out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (line.find("<" + element) == std::string::npos) out += line + "\n";
    start = end + 1;
  }
  return out;
}

}  // namespace morvent::test
