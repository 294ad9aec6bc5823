// The test controls: statements and logons that fail or drop the connection,
// matched by regular expression, at their first or their n-th match.

#include "executor.h"

#include <regex>
#include <stdexcept>

namespace standin {

Controls::Failure Controls::parse_failure(const std::string& option, uint8_t cls) {
  static const std::regex form(R"(^([\s\S]*?):(\d+):([\s\S]*)$)");
  std::smatch m;
  if (!std::regex_match(option, m, form)) throw std::invalid_argument("expected REGEX:NUMBER:TEXT");
  return Failure{std::regex(m[1].str(), std::regex::ECMAScript | std::regex::icase),
                 sql_message(std::stoi(m[2].str()), cls, 1, m[3].str())};
}

namespace {

// "N:REST" -> N-1 matches to skip, and REST.
std::pair<int, std::string> split_nth(const std::string& option) {
  const size_t colon = option.find(':');
  if (colon == 0 || colon == std::string::npos || option.find_first_not_of("0123456789") != colon)
    throw std::invalid_argument("expected N:...");
  const int n = std::stoi(option.substr(0, colon));
  if (n < 1) throw std::invalid_argument("N counts from 1");
  return {n - 1, option.substr(colon + 1)};
}

}  // namespace

// The plain forms fire at the first match.
void Controls::add_failure(const std::string& option) { add_failure_nth("1:" + option); }

void Controls::add_drop(const std::string& regex) { add_drop_nth("1:" + regex); }

void Controls::add_failure_nth(const std::string& option) {
  auto [skip, rest] = split_nth(option);
  Failure f = parse_failure(rest, 16);
  f.skip = skip;
  std::lock_guard<std::mutex> lock(mutex_);
  failures_.push_back(std::move(f));
}

void Controls::add_drop_nth(const std::string& option) {
  auto [skip, rest] = split_nth(option);
  Drop d{std::regex(rest, std::regex::ECMAScript | std::regex::icase), skip};
  std::lock_guard<std::mutex> lock(mutex_);
  drops_.push_back(std::move(d));
}

void Controls::add_login_failure(const std::string& option) {
  // Logon errors are class 14, as SQL Server's 18456.
  Failure f = parse_failure(option, 14);
  std::lock_guard<std::mutex> lock(mutex_);
  login_failures_.push_back(std::move(f));
}

void Controls::add_login_drop(const std::string& regex) {
  std::lock_guard<std::mutex> lock(mutex_);
  login_drops_.push_back(Drop{std::regex(regex, std::regex::ECMAScript | std::regex::icase)});
}

std::optional<ServerMessage> Controls::take(std::vector<Failure>& list, const std::string& text) {
  for (auto& f : list) {
    if (f.used || !std::regex_search(text, f.pattern)) continue;
    if (f.seen++ < f.skip) continue;
    f.used = true;
    return f.message;
  }
  return std::nullopt;
}

bool Controls::drop(const std::vector<Drop>& list, const std::string& text) {
  bool hit = false;
  for (const auto& d : list)
    if (std::regex_search(text, d.pattern) && d.seen++ >= d.skip) hit = true;
  return hit;
}

std::optional<ServerMessage> Controls::take_failure(const std::string& statement) {
  std::lock_guard<std::mutex> lock(mutex_);
  return take(failures_, statement);
}

bool Controls::should_drop(const std::string& statement) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return drop(drops_, statement);
}

std::optional<ServerMessage> Controls::take_login_failure(const std::string& login) {
  std::lock_guard<std::mutex> lock(mutex_);
  return take(login_failures_, login);
}

bool Controls::should_drop_login(const std::string& login) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return drop(login_drops_, login);
}

}  // namespace standin
