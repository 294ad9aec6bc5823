// What RESTORE HEADERONLY and RESTORE FILELISTONLY return: the columns of the
// server's version (SQL Server 2000's short lists, today's long ones) filled
// from the backup file.

#include "executor_internal.h"

#include <cstdio>

namespace standin::detail {

namespace {

Column col(const char* name, ColType type, uint16_t len = 0, uint8_t precision = 20) {
  Column c;
  c.name = name;
  c.type = type;
  if (len) c.max_chars = len;
  c.precision = precision;
  return c;
}

Column nv(const char* name, uint16_t len = 128) { return col(name, ColType::NVarChar, len); }
Column lsn(const char* name) { return col(name, ColType::Numeric, 0, 25); }

// The internal database version a server of that version writes.
int64_t database_version(int major, int minor) {
  switch (major) {
    case 8:
      return 539;
    case 9:
      return 611;
    case 10:
      return minor >= 50 ? 661 : 655;
    case 11:
      return 706;
    case 12:
      return 782;
    case 13:
      return 852;
    case 14:
      return 869;
    case 15:
      return 904;
    case 16:
      return 957;
    default:
      return 0;
  }
}

// A stable identifier derived from the database name and a tag.
std::string guid_for(const std::string& name, unsigned tag) {
  uint32_t h = 2166136261u ^ tag;
  for (unsigned char c : name) h = (h ^ c) * 16777619u;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%04X-%012X", h, tag & 0xFFFF, 0x4000 | (h & 0xFFF),
                0x8000 | (h >> 20), h);
  return buf;
}

}  // namespace

ResultSet header_list(const Profile& profile, const Backup& b, const std::string& server) {
  int64_t pages = 0;
  for (const auto& f : b.files) pages += f.pages;
  const int64_t size = (pages + 2) * 8192;  // the files' pages and the backup's own headers
  const Cell null{};
  const std::string lsn_first = "21000000012800001", lsn_last = "21000000014400001";
  ResultSet rs;
  // The columns SQL Server 2000 returns; later versions append theirs.
  rs.columns = {nv("BackupName"),
                nv("BackupDescription", 255),
                col("BackupType", ColType::SmallInt),
                col("ExpirationDate", ColType::DateTime),
                col("Compressed", profile.major >= 10 ? ColType::Bit : ColType::TinyInt),
                col("Position", ColType::SmallInt),
                col("DeviceType", ColType::TinyInt),
                nv("UserName"),
                nv("ServerName"),
                nv("DatabaseName"),
                col("DatabaseVersion", ColType::Int),
                col("DatabaseCreationDate", ColType::DateTime),
                col("BackupSize", ColType::Numeric),
                lsn("FirstLSN"),
                lsn("LastLSN"),
                lsn("CheckpointLSN"),
                lsn("DatabaseBackupLSN"),
                col("BackupStartDate", ColType::DateTime),
                col("BackupFinishDate", ColType::DateTime),
                col("SortOrder", ColType::SmallInt),
                col("CodePage", ColType::SmallInt),
                col("UnicodeLocaleId", ColType::Int),
                col("UnicodeComparisonStyle", ColType::Int),
                col("CompatibilityLevel", ColType::TinyInt),
                col("SoftwareVendorId", ColType::Int),
                col("SoftwareVersionMajor", ColType::Int),
                col("SoftwareVersionMinor", ColType::Int),
                col("SoftwareVersionBuild", ColType::Int),
                nv("MachineName"),
                col("Flags", ColType::Int),
                col("BindingID", ColType::Guid),
                col("RecoveryForkID", ColType::Guid),
                nv("Collation")};
  const int compatibility = b.major <= 8 ? 80 : b.major * 10;
  const bool differential = b.type == 5;
  Row row = {null,
             null,
             int64_t{b.type},
             null,
             int64_t{0},
             int64_t{1},
             int64_t{2},
             std::string("sa"),
             server,
             b.database,
             database_version(b.major, b.minor),
             b.started,
             size,
             lsn_first,
             lsn_last,
             lsn_first,
             int64_t{0},
             b.started,
             b.started,
             int64_t{52},
             int64_t{0},
             int64_t{1033},
             int64_t{196609},
             int64_t{compatibility},
             int64_t{4608},
             int64_t{b.major},
             int64_t{b.minor},
             int64_t{b.build},
             server,
             int64_t{512},
             guid_for(b.database, 1),
             guid_for(b.database, 2),
             std::string("SQL_Latin1_General_CP1_CI_AS")};
  if (profile.major >= 9) {
    const std::vector<Column> later = {col("FamilyGUID", ColType::Guid),
                                       col("HasBulkLoggedData", ColType::Bit),
                                       col("IsSnapshot", ColType::Bit),
                                       col("IsReadOnly", ColType::Bit),
                                       col("IsSingleUser", ColType::Bit),
                                       col("HasBackupChecksums", ColType::Bit),
                                       col("IsDamaged", ColType::Bit),
                                       col("BeginsLogChain", ColType::Bit),
                                       col("HasIncompleteMetaData", ColType::Bit),
                                       col("IsForceOffline", ColType::Bit),
                                       col("IsCopyOnly", ColType::Bit),
                                       col("FirstRecoveryForkID", ColType::Guid),
                                       lsn("ForkPointLSN"),
                                       nv("RecoveryModel", 60),
                                       lsn("DifferentialBaseLSN"),
                                       col("DifferentialBaseGUID", ColType::Guid),
                                       nv("BackupTypeDescription", 60),
                                       col("BackupSetGUID", ColType::Guid),
                                       col("CompressedBackupSize", ColType::BigInt),
                                       col("Containment", ColType::TinyInt),
                                       nv("KeyAlgorithm", 32),
                                       col("EncryptorThumbprint", ColType::VarBinary, 20),
                                       nv("EncryptorType", 32),
                                       col("LastValidRestoreTime", ColType::DateTime),
                                       nv("TimeZone", 32),
                                       nv("CompressionAlgorithm", 32)};
    rs.columns.insert(rs.columns.end(), later.begin(), later.end());
    const Row values = {guid_for(b.database, 3),
                        int64_t{0},
                        int64_t{0},
                        int64_t{0},
                        int64_t{0},
                        int64_t{0},
                        int64_t{0},
                        int64_t{0},
                        int64_t{0},
                        int64_t{0},
                        int64_t{0},
                        guid_for(b.database, 2),
                        null,
                        std::string("FULL"),
                        differential ? Cell{lsn_first} : null,
                        differential ? Cell{guid_for(b.database, 6)} : null,
                        std::string(b.type == 5   ? "Database Differential"
                                    : b.type == 2 ? "Transaction Log"
                                                  : "Database"),
                        guid_for(b.database, 4),
                        size,
                        int64_t{0},
                        null,
                        null,
                        null,
                        null,
                        null,
                        null};
    row.insert(row.end(), values.begin(), values.end());
  }
  rs.rows.push_back(std::move(row));
  return rs;
}

ResultSet file_list(const Profile& profile, const Backup& b) {
  ResultSet rs;
  rs.columns = {
      nv("LogicalName"),   nv("PhysicalName", 260),       col("Type", ColType::Char, 1),
      nv("FileGroupName"), col("Size", ColType::Numeric), col("MaxSize", ColType::Numeric)};
  const bool today = profile.major >= 9;
  if (today) {
    const std::vector<Column> later = {col("FileId", ColType::BigInt),
                                       lsn("CreateLSN"),
                                       lsn("DropLSN"),
                                       col("UniqueId", ColType::Guid),
                                       lsn("ReadOnlyLSN"),
                                       lsn("ReadWriteLSN"),
                                       col("BackupSizeInBytes", ColType::BigInt),
                                       col("SourceBlockSize", ColType::Int),
                                       col("FileGroupId", ColType::Int),
                                       col("LogGroupGUID", ColType::Guid),
                                       lsn("DifferentialBaseLSN"),
                                       col("DifferentialBaseGUID", ColType::Guid),
                                       col("IsReadOnly", ColType::Bit),
                                       col("IsPresent", ColType::Bit),
                                       col("TDEThumbprint", ColType::VarBinary, 32),
                                       nv("SnapshotUrl", 360)};
    rs.columns.insert(rs.columns.end(), later.begin(), later.end());
  }
  int64_t fid = 1;
  for (const auto& f : b.files) {
    // Data files and full-text catalogs in PRIMARY, FILESTREAM in a group of its own.
    const bool log = f.type == 'L', stream = f.type == 'S';
    Row row = {f.logical,
               f.physical,
               std::string(1, f.type),
               log ? Cell{} : Cell{std::string(stream ? "FileStreamGroup" : "PRIMARY")},
               static_cast<int64_t>(f.pages * 8192),
               int64_t{35184372080640}};
    if (today) {
      const Row later = {fid,
                         int64_t{0},
                         Cell{},
                         guid_for(b.database + f.logical, 5),
                         int64_t{0},
                         int64_t{0},
                         static_cast<int64_t>(f.pages * 8192),
                         int64_t{512},
                         int64_t{log      ? 0
                                 : stream ? 2
                                          : 1},
                         Cell{},
                         Cell{},
                         Cell{},
                         int64_t{0},
                         int64_t{1},
                         Cell{},
                         Cell{}};
      row.insert(row.end(), later.begin(), later.end());
    }
    ++fid;
    rs.rows.push_back(std::move(row));
  }
  return rs;
}

}  // namespace standin::detail
