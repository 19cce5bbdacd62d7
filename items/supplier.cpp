#include "items/supplier.h"

#include "items/customer.h"

namespace morvent {

namespace {

ItemKind Build() {
  ItemKind k;
  k.code = 114;
  k.itemClassId = 8;
  k.schemaFile = "SchemaSupplier.xml";
  k.element = "Supplier";
  k.parent.subRecordKey = "SupplierType";
  k.exportProgress = "正在导出供应商资料，当前记录名称为：";
  k.exportError = "导出供应商资料出错，当前记录名称为：";
  k.importProgress = "引入供应商资料，当前记录名称为";
  k.importError = "引入供应商资料错误，当前记录名称为：";
  k.lookups = PartnerLookups();
  k.presets = {{"FTypeID", int16_t{0}, FieldSet::NonGY}};

  const auto gy = FieldSet::GY;
  k.fields = {TextField("ShortName", "FShortName", gy),
              TextField("LinkMan", "FContact", gy),
              TextField("PostalCode", "FPostalCode", gy),
              TextField("Email", "FEmail", gy),
              CreditLimitField(),
              TextField("City", "FCity", gy),
              TextField("Province", "FProvince", gy),
              TextField("Country", "FCountry", gy),
              TextField("HomePage", "FHomePage", gy)};
  for (auto& f : PartnerReferences()) k.fields.push_back(std::move(f));
  for (auto& f : CreditFields()) k.fields.push_back(std::move(f));
  for (const auto& f : {TextField("Address", "FAddress"), TextField("Phone", "FPhone"), TextField("Fax", "FFax"),
                        TextField("Bank", "FBank"), TextField("Account", "FAccount"), TextField("TaxNum", "FTaxNum"),
                        CompanyCodeField()})
    k.fields.push_back(f);

  // Common fields first; then the GY set, its credit limit, city, province,
  // country and home page before postal code and e-mail, or the credit set.
  k.importOrder = {"Address", "Phone",       "Fax",  "Bank",     "Account", "TaxNum",   "CompanyCode", "ShortName",
                   "LinkMan", "CreditLimit", "City", "Province", "Country", "HomePage", "PostalCode",  "Email"};
  for (const auto& f : PartnerReferences()) k.importOrder.push_back(f.key);
  for (const auto& f : CreditFields()) k.importOrder.push_back(f.key);
  return k;
}

}  // namespace

const ItemKind& SupplierKind() {
  static const ItemKind kind = Build();
  return kind;
}

}  // namespace morvent
