#pragma once
// What a data file holds, counted as a reader of it would: the records
// directly under its list element.
#include <cstdint>
#include <optional>
#include <string>

namespace morvent::cli {

// nullopt when the file cannot be read through as XML.
std::optional<int64_t> FileRecords(const std::string& path);

// The summary's count of a run whose events counted rows but whose file holds
// records: "N 行" when the two agree, else "4 组，12 条" (the word naming
// what the events counted for the kind element).
std::string RowsAndRecords(const std::string& element, int64_t rows, std::optional<int64_t> records);

}  // namespace morvent::cli
