#include "items/department.h"

namespace morvent {

namespace {

// Manager, phone and fax come through the properties dictionary; a missing
// or null value exports as one space.
ItemField FromDictionary(const char* key, const char* field, bool imported) {
  ItemField f = TextField(key, field, FieldSet::GY);
  f.exportAccess = Access::Dictionary;
  f.exportDefault = " ";
  if (!imported) f.importAccess = Access::None;
  return f;
}

ItemField ImportOnly(const char* key, const char* field) {
  ItemField f = TextField(key, field);
  f.exportAccess = Access::None;
  return f;
}

ItemKind Build() {
  ItemKind k;
  k.code = 120;
  k.itemClassId = 2;
  k.schemaFile = "SchemaDepartment.xml";
  k.element = "Department";
  k.parent.subRecordKey = "DeptGroup";
  k.exportProgress = "正在导出部门资料，当前记录名称为：";
  k.exportError = "导出部门资料出错，当前记录名称为：";
  k.importProgress = "引入部门资料，当前记录名称为";
  k.importError = "引入部门资料错误，当前记录名称为：";
  k.keepItemSet = true;
  k.fields = {
      FromDictionary("Manager", "FManager", false),
      FromDictionary("Phone", "FPhone", true),
      FromDictionary("Fax", "FFax", true),
      TextField("Note", "FNote"),
      ImportOnly("CompanyCode", "FBrNo"),
  };
  return k;
}

}  // namespace

const ItemKind& DepartmentKind() {
  static const ItemKind kind = Build();
  return kind;
}

}  // namespace morvent
