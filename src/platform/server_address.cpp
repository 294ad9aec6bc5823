#include "platform/server_address.h"
#include "platform/text_case.h"

#include <algorithm>
#include <vector>

#include "platform/codepage.h"

namespace dbsetup {

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view trim(std::string_view s) {
  const auto first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

bool ascii_digit(char32_t c) { return c >= '0' && c <= '9'; }
bool ascii_letter(char32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool hex_digit(char32_t c) {
  return ascii_digit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Blocks without letters, or whose characters are typed only by mistake in
// a name: Latin-1 punctuation and signs, general punctuation up to the
// miscellaneous symbols and arrows, CJK symbols and punctuation, private use,
// variation selectors, vertical, compatibility and small forms, the byte
// order mark, half- and full-width forms, specials, emoji and tags.
bool letter(char32_t c) {
  if (c < 0x80) return ascii_letter(c);
  struct Range {
    char32_t first, last;
  };
  static constexpr Range kNotLetters[] = {
      {0x80, 0xBF},     {0xD7, 0xD7},       {0xF7, 0xF7},       {0x2000, 0x2BFF},
      {0x3000, 0x303F}, {0xD800, 0xF8FF},   {0xFE00, 0xFE6F},   {0xFEFF, 0xFEFF},
      {0xFF00, 0xFFFF}, {0x1F000, 0x1FAFF}, {0xE0000, 0xE007F},
  };
  return std::none_of(std::begin(kNotLetters), std::end(kNotLetters),
                      [c](const Range& r) { return c >= r.first && c <= r.last; });
}

// The code points of well-formed UTF-8.
std::u32string code_points(std::string_view s) {
  std::u32string out;
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const std::size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    char32_t c = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
    for (std::size_t k = 1; k < n; ++k)
      c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out.push_back(c);
    i += n;
  }
  return out;
}

std::string utf8(const std::u32string& s) {
  std::u16string units;
  for (char32_t c : s) {
    if (c < 0x10000) {
      units.push_back(static_cast<char16_t>(c));
    } else {
      units.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    }
  }
  return utf16_to_utf8(units);
}

std::string quoted(std::string_view s) { return "“" + std::string(s) + "”"; }

std::string port_problem(std::string_view port) {
  const std::string what = "端口" + quoted(port);
  if (port.empty()) return "逗号后的端口为空。";
  if (!std::all_of(port.begin(), port.end(), [](char c) { return ascii_digit(c); }))
    return what + "只能由半角数字 0-9 组成，不能带正负号、空格或其他字符。";
  if (port.size() > 5 || std::stol(std::string(port)) == 0 || std::stol(std::string(port)) > 65535)
    return what + "须在 1 到 65535 之间。";
  if (port.front() == '0') return what + "不能以 0 开头。";
  return {};
}

std::string instance_problem(std::string_view instance) {
  const std::u32string c = code_points(instance);
  const auto allowed = [](char32_t ch) {
    return letter(ch) || ascii_digit(ch) || ch == '$' || ch == '_';
  };
  if (c.empty()) return "反斜杠后的实例名为空。";
  if (c.size() > 16 || !letter(c.front()) || c.back() == '_' ||
      !std::all_of(c.begin(), c.end(), allowed))
    return "实例名" + quoted(instance) +
           "不合 SQL Server 的规则：最多 16 个字符，以字母开头，其后只能是字母、数字、$ 或 _，"
           "且不能以 _ 结尾。";
  return {};
}

std::string ipv6_problem(std::string_view host) {
  const std::u32string c = code_points(host);
  const auto colons = std::count(c.begin(), c.end(), U':');
  const bool chars = std::all_of(
      c.begin(), c.end(), [](char32_t ch) { return hex_digit(ch) || ch == ':' || ch == '.'; });
  const auto gap = host.find("::");
  if (chars && colons >= 2 &&
      (gap == std::string_view::npos || host.find("::", gap + 1) == std::string_view::npos))
    return {};
  return "主机名" + quoted(host) + "含有冒号，却不是 IPv6 地址（连接方式只支持 tcp:）。";
}

bool dotted_number(std::string_view label) {
  return !label.empty() && label.size() <= 3 &&
         std::all_of(label.begin(), label.end(), [](char c) { return ascii_digit(c); }) &&
         (label == "0" || label.front() != '0') && std::stoi(std::string(label)) <= 255;
}

std::string host_problem(std::string_view host) {
  const std::string what = "主机名" + quoted(host);
  if (host.empty()) return "主机名为空。";
  const std::string lower = ascii_lower(host);
  if (lower == "." || lower == "(local)") return {};
  if (host.find(':') != std::string_view::npos) return ipv6_problem(host);

  const std::u32string all = code_points(host);
  if (all.size() > 253) return what + "过长：最多 253 个字符。";
  std::vector<std::u32string> labels(1);
  for (char32_t ch : all) {
    if (ch == '.')
      labels.emplace_back();
    else
      labels.back().push_back(ch);
  }
  for (const std::u32string& label : labels) {
    if (label.empty()) return what + "的点号之间不能为空。";
    if (label.size() > 63) return what + "的点号之间最多 63 个字符。";
    for (char32_t ch : label)
      if (!letter(ch) && !ascii_digit(ch) && ch != '-' && ch != '_')
        return what + "不能含有" + quoted(utf8(std::u32string(1, ch))) +
               "；主机名只能由字母、数字、- 和 _ 组成，以点号分隔。";
    if (label.front() == '-' || label.back() == '-') return what + "的各段不能以 - 开头或结尾。";
  }
  const bool numbers_only = std::all_of(labels.begin(), labels.end(), [](const std::u32string& l) {
    return std::all_of(l.begin(), l.end(), ascii_digit);
  });
  if (labels.size() == 1 && numbers_only) return what + "不能只是一个数字。";
  const bool digits_first = std::all_of(labels.begin(), labels.end(),
                                        [](const std::u32string& l) { return ascii_digit(l[0]); });
  if (labels.size() > 1 && digits_first) {
    bool ipv4 = labels.size() == 4;
    for (std::size_t i = 0; ipv4 && i < 4; ++i) ipv4 = dotted_number(utf8(labels[i]));
    if (!ipv4)
      return what + "不是有效的 IPv4 地址：须是四个 0 到 255 的数，以点号分隔，不带多余的 0。";
  }
  return {};
}

// Reads `address` into `parts`; the reason it is none of the forms, or empty.
std::string read(std::string_view address, ServerAddressParts& parts) {
  if (!is_valid_utf8(address)) return "含有无效的字符编码。";
  std::string_view rest = trim(address);
  if (rest.empty()) return "地址为空。";
  if (rest.size() >= 4) {
    const std::string prefix = ascii_lower(rest.substr(0, 4));
    if (prefix == "tcp:") rest = trim(rest.substr(4));
    if (prefix == "lpc:") {
      rest = trim(rest.substr(4));
      parts.shared_memory = true;
    }
  }
  if (std::count(rest.begin(), rest.end(), ',') > 1) return "只能有一个逗号（逗号后是端口）。";
  std::string_view port;
  const bool has_port = rest.find(',') != std::string_view::npos;
  if (has_port) {
    port = trim(rest.substr(rest.find(',') + 1));
    rest = trim(rest.substr(0, rest.find(',')));
    if (port.find('\\') != std::string_view::npos)
      return "实例名应写在端口之前：主机名\\实例名,端口。";
  }
  if (std::count(rest.begin(), rest.end(), '\\') > 1)
    return "只能有一个反斜杠（反斜杠后是实例名）。";
  std::string_view instance;
  const bool has_instance = rest.find('\\') != std::string_view::npos;
  if (has_instance) {
    instance = trim(rest.substr(rest.find('\\') + 1));
    rest = trim(rest.substr(0, rest.find('\\')));
  }
  std::string problem = host_problem(rest);
  if (problem.empty() && has_instance) problem = instance_problem(instance);
  if (problem.empty() && has_port) problem = port_problem(port);
  if (!problem.empty()) return problem;
  if (parts.shared_memory) {
    const std::string host = ascii_lower(rest);
    if (host != "(local)" && host != "." && host != "localhost")
      return "共享内存（lpc:）只能连接本机：主机名须是 (local)。";
    if (has_port) return "共享内存（lpc:）连接不用端口。";
  }
  const bool shared_memory = parts.shared_memory;
  parts = {std::string(rest), std::string(instance), std::string(port), shared_memory};
  return {};
}

}  // namespace

std::string server_address_problem(std::string_view address) {
  ServerAddressParts parts;
  const std::string problem = read(address, parts);
  if (problem.empty()) return {};
  return "服务器地址" + quoted(address) + "无效：" + problem;
}

std::optional<ServerAddressParts> split_server_address(std::string_view address) {
  ServerAddressParts parts;
  if (!read(address, parts).empty()) return std::nullopt;
  return parts;
}

}  // namespace dbsetup
