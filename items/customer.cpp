#include "items/customer.h"

#include "items/assist_detail.h"
#include "ledger/currency.h"
#include "ledger/settle.h"

namespace morvent {

namespace {

void Append(std::vector<ItemField>& to, std::vector<ItemField> from) {
  for (auto& f : from) to.push_back(std::move(f));
}
void AppendKeys(std::vector<std::string>& to, const std::vector<ItemField>& from) {
  for (const auto& f : from) to.push_back(f.key);
}

ItemKind Build() {
  ItemKind k;
  k.code = 110;
  k.itemClassId = 1;
  k.schemaFile = "SchemaCustomer.xml";
  k.element = "Customer";
  k.parent.subRecordKey = "CustomerType";
  k.exportProgress = "正在导出客户资料，当前记录名称为：";
  k.exportError = "导出客户资料出错，当前记录名称为：";
  k.importProgress = "引入客户资料，当前记录名称为";
  k.importError = "引入客户资料错误，当前记录名称为：";
  k.lookups = PartnerLookups();

  const auto gy = FieldSet::GY;
  std::vector<ItemField> extended = {TextField("ShortName", "FShortName", gy), TextField("LinkMan", "FContact", gy),
                                     CreditLimitField(), TextField("CIQNumber", "FCIQNumber", gy)};
  Append(extended, PartnerReferences());
  std::vector<ItemField> common;
  for (const auto& [key, field] : {std::pair{"Address", "FAddress"}, {"Phone", "FPhone"}, {"Fax", "FFax"},
                                   {"PostalCode", "FPostalCode"}, {"Email", "FEmail"}, {"Bank", "FBank"},
                                   {"Account", "FAccount"}, {"TaxNum", "FTaxNum"}, {"City", "FCity"},
                                   {"Province", "FProvince"}, {"Country", "FCountry"}, {"HomePage", "FHomePage"}})
    common.push_back(TextField(key, field));
  common.push_back(CompanyCodeField());

  // Exported with either set first; imported with the common fields first.
  AppendKeys(k.importOrder, common);
  AppendKeys(k.importOrder, extended);
  AppendKeys(k.importOrder, CreditFields());
  Append(k.fields, std::move(extended));
  Append(k.fields, CreditFields());
  Append(k.fields, std::move(common));
  return k;
}

}  // namespace

std::vector<std::pair<std::string, LookupFactory>> PartnerLookups() {
  return {{"AssistDetail", LookupOf<CAssistDetail>()},
          {"Currency", LookupOf<CCurrency>()},
          {"Settle", LookupOf<CSettle>()}};
}

std::vector<ItemField> PartnerReferences() {
  const auto gy = FieldSet::GY;
  return {ReferenceField("SettleCurrency", "FCyID", "Currency", {}, gy),
          ReferenceField("Region", "FRegionID", "AssistDetail", "区域", gy),
          ReferenceField("Trade", "FTrade", "AssistDetail", "行业", gy),
          ReferenceField("SettleMode", "FSetID", "Settle", {}, gy),
          ReferenceField("Status", "FStatus", "AssistDetail", "状态", gy)};
}

std::vector<ItemField> CreditFields() {
  const auto credit = FieldSet::NonGY;
  return {NumberField("CreditDays", "FCreditDays", credit), NumberField("CreditAmount", "FCreditAmount", credit),
          TextField("CreditLevel", "FCreditLevel", credit)};
}

ItemField CreditLimitField() {
  ItemField f = NumberField("CreditLimit", "FCreditLimit", FieldSet::GY);
  f.importDefault = "0";
  return f;
}

ItemField CompanyCodeField() {
  ItemField f = TextField("CompanyCode", "FBrNo");
  f.omitWhenEmpty = true;
  return f;
}

const ItemKind& CustomerKind() {
  static const ItemKind kind = Build();
  return kind;
}

}  // namespace morvent
