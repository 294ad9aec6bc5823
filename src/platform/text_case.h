#pragma once

#include <string_view>

namespace dbsetup {

// Whether two UTF-8 texts are equal when letter case is ignored, for every
// letter that has a case (Ä and ä, Σ and σ, not only A to Z). Invalid UTF-8
// compares by its replacement characters.
bool equal_ignoring_case(std::string_view a, std::string_view b);

}  // namespace dbsetup
