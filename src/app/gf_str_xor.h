#pragma once

#include <string>
#include <string_view>

namespace dbsetup {

// Scrambles a byte string against the fixed key "vemtrok"; applying it to its
// own result gives the input back. Each output byte is (key - source) mod 256,
// so a source byte equal to its key byte yields a zero byte, which is kept in
// the result (std::string holds embedded NULs).
std::string gf_str_xor(std::string_view as_source);

}  // namespace dbsetup
