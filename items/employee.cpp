#include "items/employee.h"

#include <string>

#include "front/walks.h"
#include "items/assist_detail.h"
#include "items/department.h"

namespace morvent {

namespace {

constexpr const char* kAssist = "AssistDetail";
constexpr const char* kDepartment = "Department";

ItemField Custom(std::string key) {
  ItemField f;
  f.key = std::move(key);
  f.kind = FieldKind::Custom;
  return f;
}

// Exported as text; imported only when the value is a date, so that an
// empty or unreadable one never clears a stored date.
ItemField DateField(const std::string& key, const std::string& field) {
  ItemField f = Custom(key);
  f.exportFn = [key, field](CItemFrame&, LedgerObject& item, DataRecord& r) {
    r.SetValue(key, TextOf(item.Properties(field)));
  };
  f.importFn = [key, field](CItemFrame&, LedgerObject& item, const DataRecord& r) {
    const Variant v = NullToDefault(r.GetValue(key, ""), "");
    DateValue date;
    if (v.Type() == VarType::Date)
      item.SetProperties(field, v);
    else if (v.IsText() && ParseDate(v.RawText(), date))
      item.SetProperties(field, date);
  };
  return f;
}

// Read through the properties dictionary with readDefault for a field the
// item lacks, null giving empty text; written there with importDefault for
// an absent key, null giving empty text.
ItemField BankField(const std::string& key, const std::string& field, const char* importDefault) {
  ItemField f = Custom(key);
  f.exportFn = [key, field](CItemFrame&, LedgerObject& item, DataRecord& r) {
    r.SetValue(key, NullToDefault(Must(item.Dictionary()).GetValue(field, " "), "").ToText());
  };
  f.importFn = [key, field, importDefault](CItemFrame&, LedgerObject& item, const DataRecord& r) {
    Must(item.Dictionary()).SetValue(field, NullToDefault(r.GetValue(key, importDefault), ""));
  };
  return f;
}

// Exported as stored (the value's name); imported as the value of that name
// under "性别", the record's own sub-record never being looked at.
ItemField GenderField() {
  ItemField f = Custom("Gender");
  f.exportFn = [](CItemFrame&, LedgerObject& item, DataRecord& r) {
    r.SetValue("Gender", NullToDefault(item.Properties("FGender"), "").ToText());
  };
  f.importFn = [](CItemFrame& frame, LedgerObject& item, const DataRecord& r) {
    auto byName = NewRecord();
    byName->SetValue("Name", r.GetValue("Gender", "男"));
    item.SetProperties("FGender", frame.Lookup(kAssist).GetID(byName, frame.Kind().itemClassId, "性别"));
  };
  return f;
}

// A reference whose ID is read through the properties dictionary.
ItemField DictionaryReference(const char* key, const char* field, const char* lookup, const char* property = "") {
  ItemField f = ReferenceField(key, field, lookup, property);
  f.exportAccess = property[0] ? Access::Dictionary : Access::DictionaryNoDefault;
  return f;
}

ItemField CompanyCode() {
  ItemField f = TextField("CompanyCode", "FBrNo");
  f.omitWhenEmpty = true;
  return f;
}

ItemKind Build() {
  ItemKind k;
  k.code = 118;
  k.itemClassId = 3;
  k.schemaFile = "SchemaEmployee.xml";
  k.element = "Employee";
  k.parent.subRecordKey = "EmpGroup";
  k.exportProgress = "正在导出职员资料，当前记录名称为：";
  k.exportError = "导出职员资料出错，当前记录名称为：";
  k.importProgress = "引入职员资料，当前记录名称为";
  k.importError = "引入职员资料错误，当前记录名称为：";
  k.lookups = {{kAssist, LookupOf<CAssistDetail>()}, {kDepartment, LookupOf<CDepartment>()}};
  k.fields = {
      GenderField(),
      DateField("Birthday", "FBirthday"),
      TextField("Email", "FEmail"),
      TextField("Address", "FAddress"),
      TextField("Phone", "FPhone"),
      TextField("ID", "FID"),
      DateField("HireDate", "FHireDate"),
      DateField("LeaveDate", "FLeaveDate"),
      BankField("Bank", "FBankID", ""),
      BankField("BankAccount", "FBankAccount", " "),
      TextField("Note", "FNote"),
      CompanyCode(),
      DictionaryReference("Duty", "FDuty", kAssist, "职务"),
      DictionaryReference("Degree", "FDegree", kAssist, "文化程度"),
      DictionaryReference("Department", "FDepartmentID", kDepartment),
      DictionaryReference("EmpType", "FEmpGroup", kAssist, "职员类别"),
  };
  // Dates first, the gender after the plain fields, the references last.
  k.importOrder = {"Birthday", "HireDate", "LeaveDate", "Email", "Address", "Phone",  "ID",      "Bank",
                   "BankAccount", "Note", "CompanyCode", "Gender", "Duty",   "Degree", "Department", "EmpType"};
  return k;
}

}  // namespace

const ItemKind& EmployeeKind() {
  static const ItemKind kind = Build();
  return kind;
}

}  // namespace morvent
