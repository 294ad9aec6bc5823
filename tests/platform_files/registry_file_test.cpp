#include "platform/registry_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "support/temp_files.h"

namespace dbsetup {
namespace {

using testing::hex_bytes;
using testing::reg_multi_sz;
using testing::TempDir;
using testing::utf16le_file;
using Strings = std::vector<std::string>;

constexpr const char* kSqlKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Microsoft SQL Server";
constexpr const char* kSetupKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSSQLSERVER\\Setup";

// Wraps a hex value the way the registry editor does, here after every
// `bytes`th byte: ",\" at the end of a line, two blanks at the start of the next.
std::string wrap_hex(const std::string& line, int bytes = 13) {
  std::string out;
  int commas = 0;
  for (char c : line) {
    out += c;
    if (c == ',' && ++commas % bytes == 0) out += "\\\r\n  ";
  }
  return out;
}

// An export as the registry editor writes it: version 5 (saved as UTF-16 or
// UTF-8), or REGEDIT4 in code page 936, whose hex(7) and hex(2) data are ANSI
// bytes, not UTF-16.
std::string export_text(bool regedit4 = false) {
  std::string ansi;
  for (const char* name : {"MSSQLSERVER", "SHOP", "门店"}) ansi += utf8_to_cp936(name) + '\0';
  return std::string(regedit4 ? "REGEDIT4\r\n\r\n[HKLM"
                              : "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE") +
         "\\SOFTWARE\\Microsoft\\Microsoft SQL Server]\r\n" +
         (regedit4 ? wrap_hex("\"InstalledInstances\"=hex(7):" + hex_bytes(ansi + '\0'), 4)
                   : wrap_hex("\"InstalledInstances\"=" +
                              reg_multi_sz({"MSSQLSERVER", "SHOP", "门店"}))) +
         "\r\n"
         "\r\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSSQLSERVER\\Setup]\r\n"
         "\"SQLDataRoot\"=\"C:\\\\Program Files\\\\Microsoft SQL Server\\\\MSSQL\"\r\n"
         "\"Quoted\"=\"say \\\"hi\\\"\"\r\n"
         "@=\"the default\"\r\n"
         "\"Name\"=\"数据库\"\r\n" +
         (regedit4 ? "\"Expand\"=hex(2):25,53,59,53,25,00\r\n"
                   : "\"Expand\"=hex(2):25,00,53,00,59,00,53,00,25,00,00,00\r\n");
}

// What a read gives: the value, or "<fails>" when it fails (and then the value
// must come back empty, not stale).
std::string str(RegistryFile& reg, const std::string& key, const std::string& name) {
  std::string value = "stale";
  if (reg.get_string(key, name, value)) return value;
  EXPECT_EQ(value, "") << name;
  return "<fails>";
}
Strings multi(RegistryFile& reg, const std::string& key, const std::string& name) {
  Strings list{"stale"};
  if (reg.get_multi_string(key, name, list)) return list;
  EXPECT_TRUE(list.empty()) << name;
  return {"<fails>"};
}

TEST(RegistryFile, ReadsAnExportInEachFormAndEncodingTheEditorWrites) {
  std::string lf;
  for (char c : export_text())
    if (c != '\r') lf += c;
  for (const std::string& bytes : {utf16le_file(export_text()), "\xEF\xBB\xBF" + export_text(), lf,
                                   utf8_to_cp936(export_text(true))}) {
    SCOPED_TRACE(bytes.substr(0, 3));
    RegistryFile reg = RegistryFile::from_bytes(bytes);
    EXPECT_EQ(multi(reg, kSqlKey, "InstalledInstances"), (Strings{"MSSQLSERVER", "SHOP", "门店"}));
    EXPECT_EQ(str(reg, kSetupKey, "SQLDataRoot"), "C:\\Program Files\\Microsoft SQL Server\\MSSQL");
    EXPECT_EQ(str(reg, kSetupKey, "Quoted"), "say \"hi\"");
    EXPECT_EQ(str(reg, kSetupKey, ""), "the default");
    EXPECT_EQ(str(reg, kSetupKey, "Name"), "数据库");
    EXPECT_EQ(str(reg, kSetupKey, "Expand"), "%SYS%");
    // Names in any letter case, and HKLM for the root.
    EXPECT_EQ(
        str(reg, "hkey_local_machine\\software\\microsoft\\mssqlserver\\SETUP", "sqldataroot"),
        "C:\\Program Files\\Microsoft SQL Server\\MSSQL");
    EXPECT_EQ(multi(reg, "HKLM\\Software\\Microsoft\\Microsoft SQL Server\\", "INSTALLEDINSTANCES")
                  .size(),
              3u);
  }
}

TEST(RegistryFile, KindsDuplicatesRemovalsAndMalformedLines) {
  std::string text =
      "Windows Registry Editor Version 5.00\n"
      "\"Orphan\"=\"before any key\"\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\n"
      "\"Number\"=dword:0000002a\n"
      "\"Blob\"=hex:01,02,03\n"
      "\"Expand\"=hex(2):25,00,50,00,25,00,00,00\n"
      "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
      "\"EmptyMulti\"=hex(7):00,00\n"
      "\"Sz\"=\"first\"\n"
      "\"sz\"=\"second\"\n"  // a later line overrides, whatever its case
      "\"Gone\"=\"x\"\n"
      "\"Gone\"=-\n"
      "; a comment that ends in a backslash \\\n"
      "\"AfterComment\"=\"kept\"\n"
      "\"Unterminated=\"x\"\n"
      "\"BadHex\"=hex:zz,01\n"
      "\"BadDword\"=dword:123456789\n"
      "\"Trailing\"=\"x\" junk\n"
      "\"NoEquals\" \"x\"\n"
      "garbage line\n"
      "\"Path\"=\"C:\\\\\"\n"
      "\"Raw\"=\"a\\b\"\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\Sub]\n"
      "\"V\"=\"sub\"\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\Sub\\Deep]\n"
      "\"V\"=\"below sub\"\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tx]\n"
      "\"V\"=\"sibling\"\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\Sub]\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bad\n"
      "\"V\"=\"no key open\"\n"
      "[NOWHERE\\SOFTWARE\\X]\n"
      "\"V\"=\"unknown root\"\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Last]\n"
      "\"Unended\"=hex(7):61,00";
  RegistryFile reg = RegistryFile::from_bytes(text);
  const std::string hklm = "HKEY_LOCAL_MACHINE\\SOFTWARE\\", t = hklm + "T";
  const Strings fails{"<fails>"};
  EXPECT_EQ(str(reg, t, "SZ"), "second");
  EXPECT_EQ(str(reg, t, "Expand"), "%P%");
  EXPECT_EQ(str(reg, t, "AfterComment"), "kept");
  EXPECT_EQ(str(reg, t, "Path"), "C:\\");
  EXPECT_EQ(str(reg, t, "Raw"), "a\\b");
  EXPECT_EQ(multi(reg, t, "Multi"), (Strings{"a", "b"}));
  EXPECT_EQ(multi(reg, t, "EmptyMulti"), Strings{});
  EXPECT_EQ(multi(reg, t, "Sz"), fails);
  // Not a string, removed, malformed, before any key or missing.
  for (const char* name : {"Number", "Blob", "Multi", "Gone", "Unterminated", "Unterminated=",
                           "BadHex", "BadDword", "Trailing", "NoEquals", "Orphan", "Nope"})
    EXPECT_EQ(str(reg, t, name), "<fails>") << name;

  // [-key] removes the key and what lies below, not a sibling with a longer
  // name; a line after a broken [key line belongs to no key; missing or
  // malformed key paths find nothing.
  EXPECT_EQ(str(reg, t + "x", "V"), "sibling");
  for (const std::string& key :
       {t + "\\Sub", t + "\\Sub\\Deep", hklm + "Bad", std::string("NOWHERE\\SOFTWARE\\X"),
        hklm + "Nope", hklm + "\\T", std::string("SOFTWARE\\T")})
    EXPECT_EQ(str(reg, key, "V") + str(reg, key, "Sz"), "<fails><fails>") << key;
  // An unterminated last text at the end of the file still counts.
  EXPECT_EQ(multi(reg, hklm + "Last", "Unended"), Strings{"a"});
  EXPECT_EQ(multi(reg, hklm + "Nope", "Multi"), fails);
}

// Only a regular file of a bounded size is read: a device never ends, and a
// FIFO may never be written to.
TEST(RegistryFile, AnythingButABoundedRegularFileIsUnreadable) {
  TempDir dir;
  const std::string path = dir.write("registry.reg", utf16le_file(export_text()));
  EXPECT_GT(RegistryFile(path).key_count(), 0u);
  EXPECT_EQ(RegistryFile(path, 100).key_count(), 0u);
  const std::string fifo = dir.file("fifo.reg");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& p : {std::string("/dev/zero"), fifo}) {
    SCOPED_TRACE(p);
    auto reading = std::async(std::launch::async, [&p] { return RegistryFile(p).key_count(); });
    if (reading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      ADD_FAILURE() << "still reading";
      const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // lets the FIFO go
      if (writer >= 0) ::close(writer);
    }
    EXPECT_EQ(reading.get(), 0u);
  }
}

}  // namespace
}  // namespace dbsetup
