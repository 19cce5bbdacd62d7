#pragma once
// "Did you mean": the known word closest to a misspelt one.
#include <optional>
#include <string>
#include <vector>

namespace morvent::cli {

// The candidate fewest edits away (characters, ASCII letter case aside),
// when it is near enough to be what was meant: within one edit for a short
// word, two for a longer one. The first of equals wins.
std::optional<std::string> Closest(const std::string& word, const std::vector<std::string>& candidates);

}  // namespace morvent::cli
