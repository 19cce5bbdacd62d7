#pragma once
// What a data file holds, counted as it is written: the records directly
// under its list element.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/registry.h"

namespace morvent::cli {

// While it lives, every data file written through the registered writer
// (whatever writer that is when this is made, a sheet writer too) is
// counted as its records go out, so the summary need not read the file
// again.
class WrittenRecords {
 public:
  WrittenRecords();
  ~WrittenRecords();
  WrittenRecords(const WrittenRecords&) = delete;
  WrittenRecords& operator=(const WrittenRecords&) = delete;

  // The records of the last file completed; nullopt when none was.
  std::optional<int64_t> Last() const { return *last_; }

 private:
  std::shared_ptr<std::optional<int64_t>> last_;
  Factory previous_;
};

// The summary's count of a run whose events counted rows but whose file holds
// records: "N 行" when the two agree, else "4 组，12 条" (the word naming
// what the events counted for the kind element).
std::string RowsAndRecords(const std::string& element, int64_t rows, std::optional<int64_t> records);

}  // namespace morvent::cli
