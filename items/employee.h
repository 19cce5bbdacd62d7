#pragma once
// CEmployee: employees (code 118), items of class 3 with the parent item
// under "EmpGroup". The same fields whatever the ledger's kind:
//
// - "Gender": the stored gender's name on export; on import the value of
//   that name (absent: "男") under the property "性别", 0 when there is none;
// - "Birthday", "HireDate", "LeaveDate": "yyyy-mm-dd" on export; imported
//   only when the text is a date in a form the values accept (docs/values.md),
//   otherwise the field is left as it was;
// - "Bank", "BankAccount": through the properties dictionary; an absent
//   "BankAccount" imports as one space, an absent "Bank" as empty text;
// - "CompanyCode" ("FBrNo") is left out when empty;
// - "Duty", "Degree", "EmpType": assist-data values ("职务", "文化程度",
//   "职员类别"); "EmpType" is the category held in "FEmpGroup", not the
//   parent, which travels as "EmpGroup";
// - "Department": the department's own record, resolved through CDepartment.
//
// The item set is read anew by every CheckID, Import and GetID.
#include "items/item_frame.h"

namespace morvent {

const ItemKind& EmployeeKind();

class CEmployee : public CItemFrame {
 public:
  CEmployee() : CItemFrame(EmployeeKind()) {}
};

}  // namespace morvent
