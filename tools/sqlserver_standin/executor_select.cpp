// SELECT against the system tables (sysdatabases, syslogins, configurations,
// database files) or without FROM.

#include "executor_internal.h"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace standin::detail {

Table Request::table(const Select& s) {
  Table t;
  auto nv = [](const char* n, uint16_t len = 128) {
    Column c;
    c.name = n;
    c.max_chars = len;
    return c;
  };
  auto iv = [](const char* n, ColType type = ColType::Int) {
    Column c;
    c.name = n;
    c.type = type;
    return c;
  };
  std::lock_guard<std::mutex> lock(st_.mutex);
  const std::string& f = s.from;
  if (f == "sysdatabases" || f == "sys.databases") {
    bool sys = f == "sys.databases";
    t.columns = {nv("name"),
                 iv(sys ? "database_id" : "dbid", sys ? ColType::Int : ColType::SmallInt)};
    if (sys) {
      t.columns.push_back(nv("state_desc", 60));
      t.columns.push_back(nv("owner_name"));
    } else {
      t.columns.push_back(nv("filename", 260));
      t.columns.push_back(iv("status"));
    }
    int64_t id = 1;
    for (const auto& d : st_.databases()) {
      std::map<std::string, Cell> r;
      r["name"] = d.name;
      r[sys ? "database_id" : "dbid"] = id++;
      r["state_desc"] = d.status;
      r["owner_name"] = d.owner;
      r["filename"] = d.files.empty() ? std::string() : d.files.front().physical;
      r["status"] = int64_t{d.status == "ONLINE" ? 0 : 32};
      t.rows.push_back(r);
    }
  } else if (f == "syslogins" || f == "sys.syslogins" || f == "sys.server_principals" ||
             f == "sys.sql_logins") {
    bool compat = f == "syslogins" || f == "sys.syslogins";
    if (compat) {
      t.columns = {nv("name"),          nv("loginname"),   nv("dbname"),   iv("sysadmin"),
                   iv("securityadmin"), iv("serveradmin"), iv("dbcreator")};
    } else {
      t.columns = {nv("name"), nv("type_desc", 60), nv("default_database_name")};
    }
    for (const auto& l : st_.logins()) {
      std::map<std::string, Cell> r;
      r["name"] = l.name;
      r["loginname"] = l.name;
      r["dbname"] = l.default_database;
      r["default_database_name"] = l.default_database;
      r["type_desc"] = std::string("SQL_LOGIN");
      for (const char* role : {"sysadmin", "securityadmin", "serveradmin", "dbcreator"})
        r[role] = int64_t{l.roles.count(role) ? 1 : 0};
      t.rows.push_back(r);
    }
  } else if (f == "sys.configurations" || f == "sysconfigures") {
    t.columns = {nv("name", 35), iv("value", ColType::BigInt), iv("value_in_use", ColType::BigInt),
                 iv("minimum", ColType::BigInt), iv("maximum", ColType::BigInt)};
    for (const auto& o : st_.options())
      t.rows.push_back({{"name", o.name},
                        {"value", o.value},
                        {"value_in_use", o.running},
                        {"minimum", o.minimum},
                        {"maximum", o.maximum}});
  } else if ((f == "sysaltfiles" || f == "sys.sysaltfiles" || f == "sys.master_files") &&
             (f == "sysaltfiles" || st_.settings().profile.major >= 9)) {
    files_table(f == "sys.master_files", t);
  } else {
    throw SqlError({sql_message(208, 16, 1, "Invalid object name '" + s.from_text + "'.")});
  }
  return t;
}

// Every database's files: SQL Server 2000's system table sysaltfiles (its
// names fixed-width, padded with blanks), the compatibility view of later
// versions, or their catalog view sys.master_files.
void Request::files_table(bool catalog, Table& t) {
  const Profile& profile = st_.settings().profile;
  auto col = [](const char* name, ColType type, uint16_t len = 0) {
    Column c;
    c.name = name;
    c.type = type;
    if (len) c.max_chars = len;
    return c;
  };
  const ColType text = profile.major < 9 ? ColType::NChar : ColType::NVarChar;
  auto fixed = [&](const std::string& v, size_t width) {
    if (text != ColType::NChar) return v;
    auto w = utf8_to_utf16(v);
    if (w.size() < width) w.resize(width, u' ');
    return utf16_to_utf8(w);
  };
  if (catalog) {
    t.columns = {col("database_id", ColType::Int),
                 col("file_id", ColType::Int),
                 col("file_guid", ColType::Guid),
                 col("type", ColType::TinyInt),
                 col("type_desc", ColType::NVarChar, 60),
                 col("data_space_id", ColType::Int),
                 col("name", ColType::NVarChar),
                 col("physical_name", ColType::NVarChar, 260),
                 col("state", ColType::TinyInt),
                 col("state_desc", ColType::NVarChar, 60),
                 col("size", ColType::Int),
                 col("max_size", ColType::Int),
                 col("growth", ColType::Int),
                 col("is_media_read_only", ColType::Bit),
                 col("is_read_only", ColType::Bit),
                 col("is_sparse", ColType::Bit),
                 col("is_percent_growth", ColType::Bit)};
  } else {
    t.columns = {col("fileid", ColType::SmallInt), col("groupid", ColType::SmallInt),
                 col("size", ColType::Int),        col("maxsize", ColType::Int),
                 col("growth", ColType::Int),      col("status", ColType::Int),
                 col("perf", ColType::Int),        col("dbid", ColType::SmallInt),
                 col("name", text, 128),           col("filename", text, 260)};
  }
  int64_t dbid = 1;
  for (const auto& d : st_.databases()) {
    int64_t fid = 1;
    for (const auto& file : d.files) {
      const bool log = file.type == 'L';
      const int64_t group = log ? 0 : file.type == 'S' ? 2 : 1;
      const int64_t max_size = log ? (profile.major < 9 ? -1 : 268435456) : -1;
      std::map<std::string, Cell> r;
      if (catalog) {
        const int64_t type = log ? 1 : file.type == 'S' ? 2 : file.type == 'F' ? 4 : 0;
        static const char* type_desc[] = {"ROWS", "LOG", "FILESTREAM", "", "FULLTEXT"};
        const bool restoring = d.status == "RESTORING";
        char guid[40];
        std::snprintf(guid, sizeof guid, "%08X-0000-4000-8000-%012llX", static_cast<unsigned>(dbid),
                      static_cast<unsigned long long>(fid));
        r = {{"database_id", dbid},
             {"file_id", fid},
             {"file_guid", std::string(guid)},
             {"type", type},
             {"type_desc", std::string(type_desc[type])},
             {"data_space_id", group},
             {"name", file.logical},
             {"physical_name", file.physical},
             {"state", int64_t{restoring ? 1 : 0}},
             {"state_desc", std::string(restoring ? "RESTORING" : "ONLINE")},
             {"size", file.type == 'S' ? int64_t{0} : file.pages},
             {"max_size", max_size},
             {"growth", int64_t{10}},
             {"is_media_read_only", int64_t{0}},
             {"is_read_only", int64_t{0}},
             {"is_sparse", int64_t{0}},
             {"is_percent_growth", int64_t{1}}};
      } else {
        // Disk file (0x2), log device (0x40), growth in percent (0x100000).
        r = {{"fileid", fid},
             {"groupid", group},
             {"size", file.pages},
             {"maxsize", max_size},
             {"growth", int64_t{10}},
             {"status", int64_t{0x2 | (log ? 0x40 : 0) | 0x100000}},
             {"perf", int64_t{0}},
             {"dbid", dbid},
             {"name", fixed(file.logical, 128)},
             {"filename", fixed(file.physical, 260)}};
      }
      ++fid;
      t.rows.push_back(r);
    }
    ++dbid;
  }
}

bool Request::is_count(const ExprPtr& e) {
  return e && e->kind == Expr::Function && e->text == "COUNT";
}

Result Request::run(const Select& s, const Params& params) {
  ResultSet rs;
  if (s.from.empty()) {
    Row row;
    for (const auto& item : s.items) {
      if (!item.expr)
        throw SqlError({sql_message(263, 16, 1, "Must specify table to select from.")});
      Cell v = eval(item.expr, params, nullptr);
      Column c;
      c.name = item.alias;
      if (std::holds_alternative<int64_t>(v)) {
        c.type = ColType::Int;
        auto n = std::get<int64_t>(v);
        if (n > INT32_MAX || n < INT32_MIN) c.type = ColType::BigInt;
      } else {
        c.max_chars =
            static_cast<uint16_t>(std::max<size_t>(128, utf8_to_utf16(text_of(v)).size()));
      }
      rs.columns.push_back(c);
      row.push_back(v);
    }
    rs.rows.push_back(row);
  } else {
    if (s_.implicit_transactions && s_.trancount == 0) begin_transaction();
    Table t = table(s);
    std::vector<const std::map<std::string, Cell>*> matching;
    for (const auto& r : t.rows)
      if (!s.where || truthy(eval(s.where, params, &r))) matching.push_back(&r);
    bool aggregate = std::any_of(s.items.begin(), s.items.end(),
                                 [](const SelectItem& i) { return is_count(i.expr); });
    for (const auto& item : s.items) {
      if (!item.expr) {
        for (const auto& c : t.columns) rs.columns.push_back(c);
        continue;
      }
      Column c;
      c.name = item.alias;
      if (is_count(item.expr)) {
        c.type = ColType::Int;
      } else if (item.expr->kind == Expr::Column) {
        bool found = false;
        for (const auto& tc : t.columns) {
          if (iequals(tc.name, item.expr->text)) {
            c = tc;
            found = true;
          }
        }
        if (!found)
          throw SqlError(
              {sql_message(207, 16, 1, "Invalid column name '" + item.expr->text + "'.")});
        if (!item.alias.empty()) c.name = item.alias;
      } else {
        c.max_chars = 4000;
      }
      rs.columns.push_back(c);
    }
    if (aggregate) {
      Row row;
      for (const auto& item : s.items) {
        if (is_count(item.expr))
          row.push_back(static_cast<int64_t>(matching.size()));
        else
          row.push_back(matching.empty() ? Cell{} : eval(item.expr, params, matching.front()));
      }
      rs.rows.push_back(row);
    } else {
      for (const auto* r : matching) {
        Row row;
        for (const auto& item : s.items) {
          if (!item.expr) {
            for (const auto& c : t.columns) row.push_back(r->at(sql_lower(c.name)));
            continue;
          }
          Cell v = eval(item.expr, params, r);
          if (item.expr->kind != Expr::Column && std::holds_alternative<int64_t>(v)) v = text_of(v);
          row.push_back(v);
        }
        rs.rows.push_back(row);
      }
    }
  }
  return select_result(rs);
}

}  // namespace standin::detail
