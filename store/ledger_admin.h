#pragma once
// Making and describing ledger files, for the tool and the tests.
#include <string>
#include <string_view>

namespace morvent {

// The kind recorded when none is given: an enterprise ledger. "GY" selects
// the extended field sets of the item handlers (IsAcctTypeGY).
inline constexpr const char* kDefaultLedgerKind = "QY";

// The ledger kinds the handlers tell apart, with what each means to a user.
struct LedgerKindInfo {
  const char* code;
  const char* meaning;
};
inline constexpr LedgerKindInfo kLedgerKinds[] = {
    {"QY", "企业账套（默认）：客户、供应商、部门、仓库、物料交换常规字段"},
    {"GY", "客户、供应商、部门、仓库、物料交换扩展字段"},
};
// The known kind written as text (any letter case, blanks around allowed),
// or nullptr.
const LedgerKindInfo* FindLedgerKind(std::string_view text);

// Creates a new, empty ledger at path: the core and item tables, the six
// standard account types (资产, 负债, 共同, 所有者权益, 成本, 损益 with IDs 1..6)
// and the item side's standard metadata. kind is stored trimmed; empty means
// kDefaultLedgerKind. An existing file is refused and left alone; a creation
// that fails midway leaves no file behind.
void CreateLedger(const std::string& path, const std::string& kind = "");

// The kind recorded in the ledger at path, for the property string's
// "AcctType".
std::string LedgerKind(const std::string& path);

// Fills a ledger (usually new) with realistic demonstration data: a chart of
// accounts three levels deep, currencies with rates, settlement methods,
// voucher groups, unit groups with their units and default units, and the
// item side's demo items. Some optional fields are left Null on purpose.
void FillDemoLedger(const std::string& path);

}  // namespace morvent
