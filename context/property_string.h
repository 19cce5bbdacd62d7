#pragma once
// Building a property string from values a client holds, such as a ledger's
// path, so that the ledger reads back exactly those values.
#include <string>
#include <string_view>

#include "platform/export.h"

namespace morvent {

// value written for "key=value" so that the parser reads back exactly value:
// as it is, or braced when it holds ";" or begins with "{". A value no
// spelling carries raises morvent::Error (number 5) saying why, and is never
// altered: one with a blank at either end (values are trimmed), or one that
// holds "}" and needs braces (a braced value ends at the first "}").
MORVENT_API std::string PropertyValue(std::string_view value);

// "Data Source=<path>", followed by ";AcctType=<kind>" when kind is not
// empty, each value written by PropertyValue.
MORVENT_API std::string LedgerPropertyString(std::string_view path, std::string_view acctType = {});

}  // namespace morvent
