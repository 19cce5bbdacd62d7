#pragma once
// CDepartment: departments (code 120), items of class 2 with the parent
// under "DeptGroup". A GY ledger also exchanges manager, phone and fax (the
// manager on export only); every ledger exchanges the note, and the import
// writes "CompanyCode" to "FBrNo" (exports never carry it). The item set is
// read once per handler and kept, so an employee handler using this one for
// lookups pays one read.
#include "items/item_frame.h"

namespace morvent {

const ItemKind& DepartmentKind();

class CDepartment : public CItemFrame {
 public:
  CDepartment() : CItemFrame(DepartmentKind()) {}
};

}  // namespace morvent
