#include "ledger/account.h"

#include "context/glfunc.h"
#include "context/props.h"
#include "front/walks.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace morvent {

namespace {

constexpr size_t kNumberWidth = 40;
constexpr size_t kNameWidth = 80;

// Keys 3 to 15 of the record, in the order they are exported; those with an
// import default are written back in the same order.
enum class FieldForm { Text, DebitFlag, Flag, Value };
struct AccountField {
  const char* key;
  const char* property;
  FieldForm form;
  bool imported;
  int32_t importDefault;  // for the flags: the value an absent key counts as
};
const AccountField kFields[] = {
    {"HelperCode", "HelperCode", FieldForm::Text, true, 0},
    {"IsDebit", "DC", FieldForm::DebitFlag, true, 1},
    {"Level", "Level", FieldForm::Text, false, 0},
    {"Detail", "Detail", FieldForm::Flag, false, 0},
    {"AdjustRate", "AdjustRate", FieldForm::Flag, true, 1},
    {"Contact", "Contact", FieldForm::Flag, true, 1},
    {"Quantities", "Quantities", FieldForm::Flag, true, 1},
    {"IsCash", "IsCash", FieldForm::Flag, true, 1},
    {"IsBank", "IsBank", FieldForm::Flag, true, 1},
    {"Journal", "Journal", FieldForm::Flag, true, 1},
    {"IsCashFlow", "IsCashFlow", FieldForm::Flag, true, 0},
    {"Acctint", "Acctint", FieldForm::Flag, true, 0},
    {"IntRate", "IntRate", FieldForm::Value, true, 0},
};

const char* FlagText(bool on) { return on ? "1" : "0"; }

Variant ExportValue(const AccountField& f, const Variant& v) {
  switch (f.form) {
    case FieldForm::Text:
      return NullToDefault(v, "").ToText();
    case FieldForm::DebitFlag:
      return FlagText(VarEquals(NullToDefault(v, int32_t{1}), Variant(int32_t{1})));
    case FieldForm::Flag:
      return FlagText(NullToDefault(v, true).ToBool());
    default:
      return NullToDefault(v, int32_t{0}).ToText();
  }
}

Variant ImportValue(const AccountField& f, const DataRecord& record) {
  switch (f.form) {
    case FieldForm::Text:
      return NullToDefault(record.GetValue(f.key, ""), "");
    case FieldForm::Flag: {
      const Variant def(f.importDefault);
      return VarEquals(NullToDefault(record.GetValue(f.key, def), def), Variant(int32_t{1}));
    }
    default: {  // the debit flag and the rate, as read
      const Variant def(f.importDefault);
      return NullToDefault(record.GetValue(f.key, def), def);
    }
  }
}

// A nested record under the key, or nullptr when the key holds none.
DataRecordPtr Nested(const DataRecord& record, const char* key) {
  Variant v = record.GetValue(key, Variant::Nothing());
  return v.IsObject() ? v.As<DataRecord>() : nullptr;
}

}  // namespace

CAccount::CAccount()
    : parents_(ParentResolver::Ledger{
          .existenceCheck = [this](const std::string& number) { return Accounts().ExistenceCheck({{"Number", number}}); },
          .importRecord = [this](const DataRecordPtr& r, std::string& number) { return ImportRecord(r, number); },
          // A parent that is neither in the ledger nor in the file cannot
          // be had; an undotted parent number is not looked for dotted.
      }) {}

void CAccount::PrepareSets() {
  if (accounts_) return;
  auto set = CreateObjectAs<ObjectSet>(kAccountSet);
  set->SetListOptions(100);
  set->Refresh();
  accounts_ = set;
  currencies_ = std::make_unique<HandlerLookup<CCurrency>>();
  units_ = std::make_unique<HandlerLookup<CMeasureUnit>>();
  itemClasses_ = std::make_unique<HandlerLookup<CItemClass>>();
  types_ = std::make_unique<HandlerLookup<CAccountType>>();
}

DataRecordPtr CAccount::BuildRecord(LedgerObject& obj) {
  auto record = NewRecord();
  record->SetValue("Number", obj.Get("Number"));
  record->SetValue("Name", obj.Get("Name"));
  for (const auto& f : kFields) record->SetValue(f.key, ExportValue(f, obj.Get(f.property)));

  const int32_t currency = NullToDefault(obj.Get("CurrencyID"), int32_t{0}).ToLong();
  if (currency > 0 && currencies_->CheckID(currency)) record->SetValue("Currency", currencies_->GetInfo(currency, {}));
  // The type is asked for without a check: a type gone from the ledger
  // gives a record without keys.
  const int32_t group = NullToDefault(obj.Get("GroupID"), int32_t{0}).ToLong();
  if (group > 0) record->SetValue("GroupName", types_->GetInfo(group, {}));
  const int32_t unit = NullToDefault(obj.Get("MeasureUnitID"), int32_t{0}).ToLong();
  if (unit > 0 && units_->CheckID(unit)) record->SetValue("MeasureUnit", units_->GetInfo(unit, {}));

  Variant items = obj.Get("_Items");
  if (items.IsObject()) {
    auto& rows = Must(items.As<RecordCollection>());
    auto classes = std::make_shared<RecordCollection>();
    for (int32_t i = rows.LBound(); i <= rows.UBound(); ++i) {
      const auto& row = Must(rows.Item(i));
      auto c = NewRecord();
      c->SetValue("Name", row.Value("FItemClassName"));
      c->SetValue("Number", row.Value("FItemClassNumber"));
      classes->Add(c);
    }
    record->SetValue("ItemClass", classes);
  }

  if (NullToDefault(obj.Get("ParentID"), int32_t{0}).ToLong() > 0) {
    auto parent = Accounts().Item(obj.Properties("FParentID").ToLong());
    record->SetValue("ParentAcct", Must(parent).Get("Number"));
  }
  return record;
}

bool CAccount::Export(const std::string& /*PropsString*/, const std::string& sFile) {
  std::unique_ptr<ObjectCursor> cursor;
  struct Forget {
    CAccount& account;
    ~Forget() { account.KeepAnswers(false); }
  } forget{*this};
  return RunExportWalk({.schemaFile = "SchemaAccount.xml",
                        .element = "Account",
                        .errorPrefix = "导出科目出错，当前科目代码为：",
                        .progressPrefix = "正在导出科目信息，科目代码为：",
                        .nameKey = "Number",
                        .open =
                            [this] {
                              PrepareSets();
                              KeepAnswers(true);
                            },
                        .count = [this] { return Accounts().Count(); },
                        .next =
                            [&] {
                              if (!cursor) cursor = Accounts().Enumerate();
                              return cursor->Next();
                            },
                        .build = [this](LedgerObject& a) { return BuildRecord(a); }},
                       sFile);
}

void CAccount::KeepAnswers(bool on) {
  if (!currencies_) return;
  currencies_->KeepAnswers(on);
  units_->KeepAnswers(on);
  types_->KeepAnswers(on);
}

void CAccount::KeepImportAnswers(bool on) {
  if (!currencies_) return;
  // Currencies and units are stored when nothing matches; types and item
  // classes are only read.
  currencies_->KeepImportAnswers(on, true);
  units_->KeepImportAnswers(on, true);
  types_->KeepImportAnswers(on, false);
  itemClasses_->KeepImportAnswers(on, false);
}

bool CAccount::CheckID(int32_t id) {
  try {
    PrepareSets();
    return Accounts().Item(id) != nullptr;
  } catch (...) {
    return false;
  }
}

DataRecordPtr CAccount::GetInfo(int32_t id) {
  PrepareSets();
  auto account = Accounts().Item(id);
  if (!account) return NewRecord();
  return BuildRecord(*account);
}

bool CAccount::Import(const std::string& sFile) {
  struct Forget {
    CAccount& account;
    ~Forget() { account.KeepImportAnswers(false); }
  } forget{*this};
  return RunImportWalk(ParentImportWalk(parents_, {.schemaFile = "SchemaAccount.xml",
                        .element = "Account",
                        .errorPrefix = "引入科目错误，当前科目代码为：",
                        .progressPrefix = "引入科目，当前科目代码为",
                        .progressKey = "Number",
                        .errorKey = "Number",
                        .open =
                            [this] {
                              PrepareSets();
                              KeepImportAnswers(true);
                            },
                        .importRecord =
                            [this](const DataRecordPtr& r) {
                              std::string number;
                              ImportRecord(r, number);
                            },
                        .parentKey = "ParentAcct"}),
                       sFile);
}

int32_t CAccount::GetID(const DataRecordPtr& record) {
  PrepareSets();
  ParentResolver::OnlyRecord only(parents_, record);
  std::string number;
  return ImportRecord(record, number);
}

int32_t CAccount::ImportRecord(const DataRecordPtr& recordPtr, std::string& numberOut) {
  auto underWay = parents_.Start(recordPtr.get());
  const DataRecord& record = Must(recordPtr);

  ParentRef parent;
  parent.number = TrimBlanks(record.GetValue("ParentAcct", "").ToText());
  parent.present = !parent.number.empty();
  std::string number = TrimBlanks(LeftChars(record.Value("Number").ToText(), kNumberWidth));
  int32_t parentId = 0;
  parents_.CheckNumber(parent, parentId, number);
  numberOut = number;

  auto& set = Accounts();
  int32_t id = set.ExistenceCheck({{"Number", number}});
  const bool created = id < 1;
  auto target = ChooseImportTarget(set, id, [&] { return set.CreateNew({}, {{"Number", number}}); }, &record);
  if (target.keep) return id;
  LedgerObjectPtr acct = target.object;
  auto& obj = Must(acct);
  const Variant name = record.GetValue("Name");
  obj.Let("Name", name.IsNull() ? name : Variant(LeftChars(name.ToText(), kNameWidth)));
  obj.Let("Number", number);
  if (auto type = Nested(record, "GroupName")) obj.Let("GroupID", types_->GetID(type, 0, {}));
  for (const auto& f : kFields)
    if (f.imported) obj.Let(f.property, ImportValue(f, record));
  if (auto currency = Nested(record, "Currency")) obj.Let("CurrencyID", currencies_->GetID(currency, 0, {}));
  if (auto unit = Nested(record, "MeasureUnit")) obj.Let("MeasureUnitID", units_->GetID(unit, 0, {}));
  obj.SaveChanges();
  id = obj.Get("AccountID").ToLong();
  acct.reset();

  if (auto classes = record.GetValue("ItemClass", Variant::Nothing()).As<RecordCollection>())
    AttachItemClasses(id, created, *classes);
  return id;
}

void CAccount::AttachItemClasses(int32_t id, bool created, const RecordCollection& classes) {
  auto out = std::make_shared<RecordCollection>();
  for (int32_t j = classes.LBound(); j <= classes.UBound(); ++j) {
    auto row = NewRecord();
    row->SetValue("FItemClassID", itemClasses_->GetID(classes.Item(j), 0, {}));
    row->SetValue("FBalChecked", true);
    out->Add(row);
  }
  // An account just created has no classes or extended properties to read
  // back: the list alone is what its dictionary would hold.
  auto props = created ? NewRecord() : Must(Accounts().Item(id)).Dictionary();
  Must(props).SetValue("FAccountItem", Variant(out));
  CreateObjectAs<AccountUpdate>(kAccountUpdate)->Update(Context().gPropsString, id, props);
}

}  // namespace morvent
