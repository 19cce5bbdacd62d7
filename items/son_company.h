#pragma once
// CSonCompany: branch companies (code 108), items of class 10. The parent
// travels as the plain keys "ParentName" and "ParentNumber" (trimmed before
// the number check; an empty one makes a top-level company), and numbers
// are cut to 80 characters. Under undotted numbering a child's number is
// built from its parent's number as stored, as for every item kind, so a
// whole tree keeps agreeing numbers; a parent created bare keeps the number
// the file gives it.
//
// "AcctMode" exports the accounting mode as the item reports it (its name)
// and imports it as the name of an entry of "核算模式"; a blank one leaves
// the field alone, an unknown one writes 0. "IsDetail" is "1" or "0" (Null
// exports "1"; an absent key imports as detail). Trade, region, ownership,
// asset relation and superior travel as nested assist-data entries. The
// first save follows the plain fields, the references come after it.
#include "items/item_frame.h"

namespace morvent {

const ItemKind& SonCompanyKind();

class CSonCompany : public CItemFrame {
 public:
  CSonCompany() : CItemFrame(SonCompanyKind()) {}
};

}  // namespace morvent
