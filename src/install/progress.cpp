#include "install/progress.h"

namespace dbsetup {

namespace {
bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
}  // namespace

std::optional<int> restore_percent(std::string_view message) {
  size_t i = 0;
  while (i < message.size() && blank(message[i])) ++i;

  int value = 0;
  size_t digits = 0;
  for (; i < message.size() && message[i] >= '0' && message[i] <= '9'; ++i, ++digits) {
    if (digits == 3) return std::nullopt;  // more than "100" can hold
    value = value * 10 + (message[i] - '0');
  }
  if (digits == 0 || value > 100) return std::nullopt;

  size_t gap = i;
  while (i < message.size() && blank(message[i])) ++i;
  if (i == gap) return std::nullopt;

  constexpr std::string_view kTail = "percent processed";
  if (message.substr(i, kTail.size()) != kTail) return std::nullopt;
  return value;
}

}  // namespace dbsetup
