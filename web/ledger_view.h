#pragma once
// What the page shows of the ledger without changing it: its kind, the
// objects per kind, and one page of a kind's objects at a time.
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace morvent::web {

// {"path", "kind", "kinds": [{"code", "element", "title", "count", "importable"}...]}
// in the code table's order; raises the store's error when the ledger
// cannot be read. shownPath: the ledger as the page may show it.
nlohmann::json Overview(const std::string& ledger, const std::string& shownPath);

struct BrowsePage {
  int64_t total = 0;  // objects matching the search
  struct Row {
    std::string number, name, parent;
  };
  std::vector<Row> rows;
};

// Objects of the kind ordered by number, `limit` from `offset`; search:
// part of the number or the name ("" for all). Only the page is read.
// Raises std::invalid_argument for a kind the page cannot show.
BrowsePage Browse(const std::string& ledger, int32_t code, const std::string& search, int64_t offset, int64_t limit);

}  // namespace morvent::web
