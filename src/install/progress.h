#pragma once

#include <optional>
#include <string_view>

namespace dbsetup {

// The percentage of a server progress message such as "30 percent processed."
// (what STATS = 10 asks for during a restore): a number from 0 to 100 at the
// start of the text, after optional blanks, followed by blanks and
// "percent processed". Anything else gives nothing.
std::optional<int> restore_percent(std::string_view message);

}  // namespace dbsetup
