#include "app/gf_str_xor.h"

#include <array>

namespace dbsetup {

std::string gf_str_xor(std::string_view as_source) {
  static constexpr std::string_view as_key = "vemtrok";
  std::array<unsigned, as_key.size()> ll_key{};
  for (std::size_t p = as_key.size(); p >= 1; --p) {
    ll_key[p - 1] = static_cast<unsigned char>(as_key[p - 1]);
  }

  std::string ls_text;
  ls_text.reserve(as_source.size());
  for (std::size_t i = 0; i < as_source.size(); ++i) {
    const unsigned s = static_cast<unsigned char>(as_source[i]);
    const unsigned k = ll_key[i % ll_key.size()];
    const unsigned c = k - s + 256;  // 1 .. 511
    ls_text.push_back(static_cast<char>(static_cast<unsigned char>(c % 256)));
  }
  return ls_text;
}

}  // namespace dbsetup
