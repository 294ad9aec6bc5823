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

// The row of the first backup set: Position 1, or the first row when the
// answer has no positions.
const std::vector<std::string>& first_set(const DbTable& header) {
  for (const auto& row : header.rows)
    if (cell(header, row, "Position") == "1") return row;
  return header.rows.front();
}

std::optional<SqlVersion> backup_version(const DbTable& header) {
  const auto& first = first_set(header);
  const auto major = cell(header, first, "SoftwareVersionMajor");
  const auto minor = cell(header, first, "SoftwareVersionMinor");
  if (!major || !minor) return std::nullopt;
  return parse_sql_version(*major + "." + *minor);
}

// RESTORE HEADERONLY's BackupType: 1 is a full database backup.
std::string backup_kind(std::string_view type) {
  struct Kind {
    const char* type;
    const char* name;
  };
  static constexpr Kind kKinds[] = {
      {"2", "事务日志备份"}, {"4", "文件备份"}, {"5", "差异数据库备份"},
      {"6", "差异文件备份"}, {"7", "部分备份"}, {"8", "差异部分备份"},
  };
  for (const Kind& k : kKinds)
    if (type == k.type) return k.name;
  return "类型为 " + std::string(type) + " 的备份";
}

std::uint64_t size_of(const std::optional<std::string>& text) {
  std::uint64_t value = 0;
  if (text) std::from_chars(text->data(), text->data() + text->size(), value);
  return value;
}

// A further file is named after its logical name, which must therefore be
// usable in a file name.
bool fits_a_file_name(std::string_view name) {
  if (name.empty()) return false;
  for (unsigned char c : name)
    if (c < 0x20 ||
        std::string_view("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos)
      return false;
  return true;
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
  const auto type = cell(header, first_set(header), "BackupType");
  if (type && !type->empty() && *type != "1")
    return "备份文件中的第一个备份集是" + backup_kind(*type) +
           "，不是完整数据库备份，不能单独还原成数据库。请使用数据库的完整备份。";
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
                          const std::string* log_name, bool case_sensitive) {
  BackupVerdict verdict;
  std::vector<BackupFile> listed;
  for (const auto& row : files.rows) {
    const auto logical = cell(files, row, "LogicalName");
    const auto type = cell(files, row, "Type");
    if (!logical || !type) continue;
    const char kind = type->size() == 1 ? (*type)[0] : '?';
    if (kind != 'D' && kind != 'L') {
      const char* what = kind == 'F' ? "全文目录" : kind == 'S' ? "FILESTREAM 数据" : "文件";
      verdict.refusal = "备份文件中含有" + std::string(what) + "“" + *logical + "”（类型 " + *type +
                        "），本程序只能还原数据文件和日志文件。";
      return verdict;
    }
    listed.push_back({*logical, kind, size_of(cell(files, row, "Size"))});
  }
  const auto same = [case_sensitive](const std::string& a, const std::string& b) {
    return case_sensitive ? a == b : equal_ignoring_case(a, b);
  };
  // The file each name moves: the named one, or the first of its type.
  const auto find = [&](const std::string* wanted, char type) -> const BackupFile* {
    for (const BackupFile& f : listed)
      if (wanted ? same(f.logical, *wanted) : f.type == type) return &f;
    return nullptr;
  };
  const bool have_data = find(nullptr, 'D') != nullptr;
  const bool have_log = find(nullptr, 'L') != nullptr;
  if (!have_data || !have_log) {
    verdict.refusal = "备份文件中没有数据文件或日志文件。";
    return verdict;
  }
  const BackupFile* data = find(data_name, 'D');
  const BackupFile* log = find(log_name, 'L');
  for (const auto& [wanted, found] : {std::pair{data_name, data}, std::pair{log_name, log}}) {
    if (found) continue;
    std::string list;
    for (const BackupFile& f : listed) list += (list.empty() ? "“" : "、“") + f.logical + "”";
    verdict.refusal = "备份文件中没有逻辑文件“" + *wanted + "”，备份中的逻辑文件为：" + list + "。";
    return verdict;
  }
  verdict.data = data->logical;
  verdict.log = log->logical;
  verdict.data_bytes = data->bytes;
  verdict.log_bytes = log->bytes;
  for (const BackupFile& f : listed) {
    if (&f == data || &f == log) continue;
    if (!fits_a_file_name(f.logical)) {
      verdict.refusal = "备份文件中的逻辑文件名“" + f.logical +
                        "”含有不能用于文件名的字符，本程序不能为它指定还原位置。";
      return verdict;
    }
    verdict.more.push_back(f);
  }
  return verdict;
}

bool collation_is_case_sensitive(std::string_view collation) {
  // Collation names join their options with underscores: _CS_ (case
  // sensitive) or a binary sort (_BIN, _BIN2), which compares code points.
  // (Appended piece by piece: GCC 12 takes "_" + s + "_" for an overlap.)
  std::string name(1, '_');
  name.append(ascii_upper(collation));
  name.push_back('_');
  return name.find("_CS_") != std::string::npos || name.find("_BIN_") != std::string::npos ||
         name.find("_BIN2_") != std::string::npos;
}

}  // namespace dbsetup
