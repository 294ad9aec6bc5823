#include "install/backup_check.h"

#include <charconv>
#include <vector>

#include "platform/text_case.h"

namespace dbsetup {

namespace {

// SQL Server 2012 restores nothing written before SQL Server 2005.
constexpr SqlVersion kFirstWithoutOldBackups{11, 0};
constexpr SqlVersion kOldestRestorableThere{9, 0};

std::optional<int> number_at(std::string_view& text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data()) return std::nullopt;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()));
  return value;
}

std::string release_name(SqlVersion v) {
  struct Release {
    SqlVersion version;
    const char* name;
  };
  static constexpr Release kReleases[] = {
      {{7, 0}, "7.0"},       {{8, 0}, "2000"},  {{9, 0}, "2005"},  {{10, 0}, "2008"},
      {{10, 50}, "2008 R2"}, {{11, 0}, "2012"}, {{12, 0}, "2014"}, {{13, 0}, "2016"},
      {{14, 0}, "2017"},     {{15, 0}, "2019"}, {{16, 0}, "2022"}, {{17, 0}, "2025"},
  };
  std::string name = "SQL Server";
  for (const Release& r : kReleases)
    if (r.version == v) name += std::string(" ") + r.name;
  return name + "（版本 " + std::to_string(v.major) + "." + std::to_string(v.minor) + "）";
}

// The value of a named column in a row, if the result has that column.
std::optional<std::string> cell(const DbTable& table, const std::vector<std::string>& row,
                                std::string_view column) {
  const int at = table.column(column);
  if (at < 0 || static_cast<std::size_t>(at) >= row.size()) return std::nullopt;
  return row[static_cast<std::size_t>(at)];
}

std::optional<SqlVersion> backup_version(const DbTable& header) {
  const auto& first = header.rows.front();
  const auto major = cell(header, first, "SoftwareVersionMajor");
  const auto minor = cell(header, first, "SoftwareVersionMinor");
  if (!major || !minor) return std::nullopt;
  return parse_sql_version(*major + "." + *minor);
}

}  // namespace

std::optional<SqlVersion> parse_sql_version(std::string_view text) {
  const auto major = number_at(text);
  if (!major || text.empty() || text.front() != '.') return std::nullopt;
  text.remove_prefix(1);
  const auto minor = number_at(text);
  if (!minor) return std::nullopt;
  return SqlVersion{*major, *minor};
}

std::string judge_header(const DbTable& header, std::optional<SqlVersion> server) {
  if (header.rows.empty()) return "备份文件中没有备份集。";
  const auto backup = backup_version(header);
  if (!backup || !server) return {};
  if (*backup > *server)
    return "备份文件由较新的 " + release_name(*backup) + " 创建，本服务器 " +
           release_name(*server) + " 不能还原。";
  if (*server >= kFirstWithoutOldBackups && *backup < kOldestRestorableThere)
    return "备份文件由 " + release_name(*backup) + " 创建，本服务器 " + release_name(*server) +
           " 不能直接还原。请先在 SQL Server 2005 至 2008 R2 上还原该备份并重新备份。";
  return {};
}

BackupVerdict judge_files(const DbTable& files, const std::string* data_name,
                          const std::string* log_name) {
  BackupVerdict verdict;
  std::vector<std::string> names;
  bool have_data = false;
  bool have_log = false;
  for (const auto& row : files.rows) {
    const auto logical = cell(files, row, "LogicalName");
    const auto type = cell(files, row, "Type");
    if (!logical || !type) continue;
    names.push_back(*logical);
    if (*type == "D" && !have_data) {
      verdict.data = *logical;
      have_data = true;
    }
    if (*type == "L" && !have_log) {
      verdict.log = *logical;
      have_log = true;
    }
  }
  if (!have_data || !have_log) {
    verdict.refusal = "备份文件中没有数据文件或日志文件。";
    return verdict;
  }
  for (const std::string* wanted : {data_name, log_name}) {
    if (!wanted) continue;
    bool found = false;
    for (const std::string& name : names) found = found || equal_ignoring_case(name, *wanted);
    if (found) continue;
    std::string list;
    for (const std::string& name : names) list += (list.empty() ? "“" : "、“") + name + "”";
    verdict.refusal = "备份文件中没有逻辑文件“" + *wanted + "”，备份中的逻辑文件为：" + list + "。";
    return verdict;
  }
  return verdict;
}

}  // namespace dbsetup
