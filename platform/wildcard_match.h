#pragma once

#include <string_view>

namespace kel {

/// True when `name` matches `pattern`, where '*' stands for any run of
/// characters (also none) and '?' for exactly one; every other character
/// stands for itself, compared ignoring ASCII case unless `caseSensitive`.
/// Runs in O(pattern x name) at worst, so hostile names cannot make it slow.
bool WildcardMatch(std::string_view pattern, std::string_view name, bool caseSensitive);

}  // namespace kel
