#include "front/code_table.h"

#include <algorithm>
#include <set>

#include "items/assist_detail.h"
#include "items/assist_type.h"
#include "items/customer.h"
#include "items/department.h"
#include "items/employee.h"
#include "items/material.h"
#include "items/son_company.h"
#include "items/stock.h"
#include "items/supplier.h"
#include "ledger/account.h"
#include "ledger/account_type.h"
#include "ledger/currency.h"
#include "ledger/settle.h"
#include "ledger/voucher_group.h"
#include "units/measure_unit.h"
#include "units/unit_group.h"
#include "platform/error.h"
#include "platform/text.h"

namespace morvent {

namespace {

template <class H>
std::function<std::unique_ptr<EntityHandler>()> Make() {
  return [] { return std::make_unique<H>(); };
}

std::vector<BaseType> BuildTable() {
  std::vector<BaseType> t = {
      {101, "AccountType", "SchemaAccountType.xml", "科目大类", Make<CAccountType>(), false, 0},
      {102, "Account", "SchemaAccount.xml", "科目", Make<CAccount>(), true, 8},
      {103, "Currency", "SchemaCurrency.xml", "币别", Make<CCurrency>(), true, 3},
      {104, "VoucherGroup", "SchemaVoucherGroup.xml", "凭证字", Make<CVoucherGroup>(), true, 5},
      {105, "MeasureUnitGroup", "SchemaMeasureUnitGroup.xml", "计量单位组", Make<CMeasureUnitGroup>(), true, 6},
      {106, "MeasureUnit", "SchemaMeasureUnit.xml", "计量单位", Make<CMeasureUnit>(), true, 7},
      {107, "Settle", "SchemaSettle.xml", "结算方式", Make<CSettle>(), true, 4},
      {108, "SonCompany", "SchemaSonCompany.xml", "分支机构", Make<CSonCompany>(), true, 11},
      {110, "Customer", "SchemaCustomer.xml", "客户", Make<CCustomer>(), true, 12},
      {112, "Stock", "SchemaStock.xml", "仓库", Make<CStock>(), true, 14},
      {114, "Supplier", "SchemaSupplier.xml", "供应商", Make<CSupplier>(), true, 13},
      {116, "Material", "SchemaMaterial.xml", "物料", Make<CMaterial>(), true, 15},
      {118, "Employee", "SchemaEmployee.xml", "职员", Make<CEmployee>(), true, 10},
      {120, "Department", "SchemaDepartment.xml", "部门", Make<CDepartment>(), true, 9},
      {121, "AssistType", "SchemaAssistType.xml", "辅助资料类别", Make<CAssistType>(), true, 1},
      {122, "AssistDetail", "SchemaAssistDetail.xml", "辅助资料", Make<CAssistDetail>(), true, 2},
  };
  // A code or element listed twice would shadow a handler: refuse loudly.
  std::set<int32_t> codes;
  std::set<std::string> names;
  for (const auto& b : t)
    if (!codes.insert(b.code).second || !names.insert(b.element).second)
      throw Error(kErrKeyExists, "Morvent", "基础资料代码表重复：" + b.element);
  return t;
}

}  // namespace

const std::vector<BaseType>& BaseTypes() {
  static const std::vector<BaseType> table = BuildTable();
  return table;
}

std::vector<const BaseType*> BaseTypesInImportOrder() {
  std::vector<const BaseType*> order;
  for (const auto& b : BaseTypes()) order.push_back(&b);
  std::stable_sort(order.begin(), order.end(),
                   [](const BaseType* a, const BaseType* b) { return a->importRank < b->importRank; });
  return order;
}

const BaseType* FindBaseType(int32_t code) {
  for (const auto& b : BaseTypes())
    if (b.code == code) return &b;
  return nullptr;
}

const BaseType* FindBaseType(const std::string& codeOrName) {
  for (const auto& b : BaseTypes())
    if (EqualsNoCase(b.element, codeOrName) || std::to_string(b.code) == codeOrName || b.title == codeOrName)
      return &b;
  return nullptr;
}

std::vector<std::string> SchemaElementNames() {
  std::vector<std::string> names;
  for (const auto& b : BaseTypes()) names.push_back(b.element);
  names.push_back("ItemClass");
  return names;
}

}  // namespace morvent
