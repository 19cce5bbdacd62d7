#pragma once
// The columns of a spreadsheet holding one kind's records, taken from the
// kind's schema file: each plain key a column, each key of a nested record
// a dotted column ("SettleCurrency.Number"), each nested collection one
// column holding its records as a JSON array ("ItemClass").
// The order is the schema's declaration order.
#include <string>
#include <vector>

namespace morvent::sheets {

struct Column {
  std::vector<std::string> path;  // the key, then the keys of nested records
  std::string header;             // the path joined by '.'
  bool collection = false;
  std::string meaning;            // Chinese, for the second header row
  std::string type;               // "文本", "代码", "数字", "0/1", "JSON"
  bool required = false;

  // A spreadsheet must keep these as text: leading zeros matter.
  bool IsCode() const { return type == "代码"; }
  bool IsFlag() const { return type == "0/1"; }
  // "代码 | 代码 | 必填": meaning, type and whether the key is required.
  std::string Description() const;
};

// Raises std::runtime_error with a user's text when the schema file cannot
// be read or has no record element of that name.
std::vector<Column> ColumnsOf(const std::string& schemaPath, const std::string& elementName);

// 0 -> "A", 25 -> "Z", 26 -> "AA".
std::string ColumnLetter(size_t index);

// "第 5 行 D 列（CreditAmount）": a cell as a user sees it.
std::string CellName(long row, size_t column, const std::string& header);

}  // namespace morvent::sheets
