#include "items/stock.h"

#include "items/assist_detail.h"
#include "items/customer.h"
#include "items/employee.h"

namespace morvent {

namespace {

// Read through the dictionary without a default, written as a property.
ItemField DictionaryText(const char* key, const char* field) {
  ItemField f = TextField(key, field);
  f.exportAccess = Access::DictionaryNoDefault;
  return f;
}

ItemKind Build() {
  ItemKind k;
  k.code = 112;
  k.itemClassId = 5;
  k.schemaFile = "SchemaStock.xml";
  k.element = "Stock";
  k.parent.subRecordKey = "StockType";
  k.exportProgress = "正在导出仓库资料，当前记录名称为：";
  k.exportError = "导出仓库资料出错，当前记录名称为：";
  k.importProgress = "引入仓库资料，当前记录名称为";
  k.importError = "引入仓库资料错误，当前记录名称为：";
  k.numberWidth = 40;
  k.lookups = {{"AssistDetail", LookupOf<CAssistDetail>()}, {"Employee", LookupOf<CEmployee>()}};
  k.presets = {{"FTypeID", int16_t{0}, FieldSet::NonGY}};

  const auto gy = FieldSet::GY;
  k.fields = {DictionaryText("Address", "FAddress"),
              DictionaryText("Phone", "FPhone"),
              CompanyCodeField(),
              ReferenceField("StockAdmin", "FEmpID", "Employee", {}, gy),
              ReferenceField("Property", "FProperty", "AssistDetail", "仓库属性", gy),
              ReferenceField("Type", "FTypeID", "AssistDetail", "仓库类型")};
  return k;
}

}  // namespace

const ItemKind& StockKind() {
  static const ItemKind kind = Build();
  return kind;
}

}  // namespace morvent
