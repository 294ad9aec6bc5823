#include "detect/detect.h"
#include "detect/opening.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/memory_ui.h"
#include "app/settings.h"
#include "app/transaction.h"
#include "support/fake_platform.h"

namespace dbsetup {
namespace {

using testing::FakePlatform;
using Strings = std::vector<std::string>;
using Read = std::pair<std::string, std::string>;

constexpr const char* kSql = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Microsoft SQL Server";
constexpr const char* kDefault = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSSQLSERVER";
constexpr const char* kMss7Setup = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\MSSQLServer\\Setup";
constexpr const char* kMss7Server =
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\MSSQLServer\\MSSQLServer";
constexpr const char* kIni = "D:\\setup\\dbinstall.ini";
const std::string kDefaultSetup = std::string(kDefault) + "\\Setup";
const std::string kDefaultServer = std::string(kDefault) + "\\MSSQLServer";
const std::string kShop = std::string(kSql) + "\\SHOP";

const std::string kNoInstallation =
    "不能获得SQL Server 2000 的安装参数，请检查是否正确的安装了MS SQL Server 2000！";

std::string missing_key(const std::string& key) {
  return "安装配置文件【dbinstall.ini】中缺少有效的【" + key + "】设置，请检查该文件后再次运行！";
}
std::string no_data_path(const std::string& name) {
  return "不能获得SQL Server 2000 实例[" + name +
         "]的数据安装路径，请检查是否正确的安装了SQL Server 2000 实例[" + name + "]！";
}
std::string no_server(const std::string& name) {
  return "不能获得SQL Server 2000 实例[" + name +
         "]的服务器名，请检查是否正确的安装了SQL Server 2000 实例[" + name + "]！";
}

struct Window {
  explicit Window(Platform& platform) : ctx{gs, sqlca, ui, form, platform} {
    gs.gs_appname = "零售安装";
    seen[0] = form.mss2000;
    seen[1] = form.mss7;
    ui.on_event = [this](const MemoryUi::Event& e) {
      if (e.kind == MemoryUi::Event::FormShown) shown_fields();
      if (e.kind != MemoryUi::Event::MessageBox) return;
      EXPECT_EQ(e.control, "零售安装");  // the title
      EXPECT_EQ(e.icon, MsgIcon::Information);
      EXPECT_EQ(e.buttons, MsgButtons::Ok);
      log.push_back("box: " + e.value);
    };
  }
  Settings gs;
  Transaction sqlca;
  MemoryUi ui;
  InstallForm form;
  SetupContext ctx;

  // What the window showed, in order: each field that changed since it last
  // showed the form as "page.field=text", each box (all plain information
  // boxes) as "box: text".
  Strings log;
  PageFields seen[2];

  void shown_fields() {
    using enum Field;
    static constexpr Field kOrder[] = {
        default_data_folder, data_folder, backup, database, server, login, password};
    static constexpr const char* kNames[] = {
        "default_data_folder", "data_folder", "backup", "database", "server", "login", "password"};
    for (Page p : {Page::mss7, Page::mss2000})
      for (int i = 0; i < 7; ++i) {
        const Field f = kOrder[i];
        std::string& before = seen[p == Page::mss7][f];
        const std::string& now = form.page(p)[f];
        if (before == now) continue;
        before = now;
        log.push_back(std::string(page_name(p)) + "." + kNames[i] + "=" + now);
      }
  }
  // The names dbinstall.ini gave: database, data file, log file.
  std::string names() const {
    return gs.gs_database_name + "|" + gs.gs_database_data + "|" + gs.gs_database_log;
  }
};

class Detect : public ::testing::Test {
 protected:
  Detect() {
    fake.files.cwd = "D:\\setup";
    fake.files.existing.insert(kIni);
    fake.profile.set(kIni, "database", "databasename", "SHOPDB");
    fake.profile.set(kIni, "database", "dataname", "shop_Data");
    fake.profile.set(kIni, "database", "logname", "shop_Log");
  }
  void install_2000(Strings instances) {
    fake.registry.set_multi(kSql, "InstalledInstances", std::move(instances));
    fake.registry.set_string(kDefaultSetup, "SQLDataRoot", "C:\\MSSQL");
    fake.registry.set_string(kDefaultServer, "DefaultDomain", "SHOPPC");
    fake.registry.set_string(kShop + "\\Setup", "SQLDataRoot", "D:\\MSSQL$SHOP");
    fake.registry.set_string(kShop + "\\MSSQLServer", "DefaultDomain", "SHOPPC");
  }
  // Detection of `code` in a window opened afresh on the machine as it is now.
  std::unique_ptr<Window> check(const char* code, int want, const char* database = "") {
    auto win = std::make_unique<Window>(fake.platform);
    win->gs.gs_database_name = database;
    EXPECT_EQ(wf_check_dbsetup(win->ctx, code), want) << code;
    return win;
  }
  FakePlatform fake;
  Window w{fake.platform};
};

TEST_F(Detect, UnsupportedEditionCodesChangeNothing) {
  for (const char* code : {"ORACLE", "", "mss2005", " mss7"})
    EXPECT_EQ(check(code, -1)->log, Strings{"box: 不支持的数据库!"});
  EXPECT_TRUE(fake.registry.reads.empty());
}

TEST_F(Detect, SqlServer7ReadsItsTwoEntriesAndFillsThePathsInOrder) {
  // No data root at all.
  EXPECT_EQ(check("mss7", -2)->log,
            Strings{"box: 不能获得SQL Server 7.0 的数据安装路径，请检查是否正确的安装了MS SQL "
                    "Server 7.0！"});

  // Data root but no server entry: the paths are already filled.
  fake.registry.set_string(kMss7Setup, "SQLDataRoot", "C:\\MSSQL7");
  EXPECT_EQ(
      check("MsS7", -3)->log,
      (Strings{"mss7.default_data_folder=C:\\MSSQL7\\Data", "mss7.data_folder=C:\\MSSQL7\\Data",
               "box: 不能获得SQL Server 7.0 的服务器名，请检查是否正确的安装了MS SQL Server "
               "7.0！"}));

  fake.registry.set_string(kMss7Server, "DefaultDomain", "SHOPPC");
  fake.registry.reads.clear();
  auto win = check("MSS7", 1, "SHOP7");
  EXPECT_EQ(fake.registry.reads,
            (std::vector<Read>{{kMss7Setup, "SQLDataRoot"}, {kMss7Server, "DefaultDomain"}}));
  EXPECT_EQ(win->log,
            (Strings{"mss7.default_data_folder=C:\\MSSQL7\\Data",
                     "mss7.data_folder=C:\\MSSQL7\\Data", "mss7.backup=D:\\setup\\SHOP7.dat"}));
  // No settings file, no instance list on this branch.
  EXPECT_EQ(win->gs.gs_database_data, "");
  EXPECT_TRUE(win->ui.instances().empty());
}

TEST_F(Detect, SqlServer2000ListsInstancesPicksTheFirstAndReadsTheSettings) {
  install_2000({"MSSQLSERVER", "SHOP"});
  EXPECT_EQ(wf_check_dbsetup(w.ctx, "mss2000"), 1);
  EXPECT_EQ(w.ui.instances(), (Strings{"默认实例", "SHOP"}));
  EXPECT_EQ(w.ui.selected_instance(), 1);
  EXPECT_EQ(w.form.is_mss2000_instance, "默认实例");
  EXPECT_EQ(fake.registry.reads, (std::vector<Read>{{kSql, "InstalledInstances"},
                                                    {kDefaultSetup, "SQLDataRoot"},
                                                    {kDefaultServer, "DefaultDomain"}}));
  EXPECT_EQ(w.names(), "SHOPDB|shop_Data|shop_Log");
  EXPECT_EQ(w.log, (Strings{"mss2000.default_data_folder=C:\\MSSQL\\Data",
                            "mss2000.data_folder=C:\\MSSQL\\Data",
                            "mss2000.backup=D:\\setup\\SHOPDB.dat", "mss2000.database=SHOPDB"}));

  // The default instance's name in any letter case; a named instance alone.
  fake.registry.set_multi(kSql, "InstalledInstances", {"MsSqlServer"});
  EXPECT_EQ(check("MSS2000", 1)->ui.instances(), Strings{"默认实例"});

  fake.registry.set_multi(kSql, "InstalledInstances", {"SHOP"});
  fake.registry.reads.clear();
  auto named = check("mss2000", 1);
  EXPECT_EQ(named->ui.instances(), Strings{"SHOP"});
  EXPECT_EQ(named->form.is_mss2000_instance, "SHOP");
  EXPECT_EQ(named->form.mss2000.data_folder, "D:\\MSSQL$SHOP\\Data");
  EXPECT_EQ(fake.registry.reads, (std::vector<Read>{{kSql, "InstalledInstances"},
                                                    {kShop + "\\Setup", "SQLDataRoot"},
                                                    {kShop + "\\MSSQLServer", "DefaultDomain"}}));
}

TEST_F(Detect, SqlServer2000WithoutInstances) {
  // No value at all, then an empty list: -4 either way, the list stays empty.
  for (bool listed : {false, true}) {
    if (listed) fake.registry.set_multi(kSql, "InstalledInstances", {});
    auto win = check("mss2000", -4);
    EXPECT_EQ(win->log, Strings{"box: " + kNoInstallation});
    EXPECT_TRUE(win->ui.instances().empty());
  }

  // A drop-down that takes no entry.
  struct RefusingUi : MemoryUi {
    void instance_add(const std::string&) override {}
  };
  install_2000({"SHOP"});
  Window refusing(fake.platform);
  RefusingUi ui;
  SetupContext ctx{refusing.gs, refusing.sqlca, ui, refusing.form, fake.platform};
  EXPECT_EQ(wf_check_dbsetup(ctx, "mss2000"), -5);
  ASSERT_EQ(ui.message_boxes().size(), 1u);
  EXPECT_EQ(ui.message_boxes()[0].value,
            "没有检测到SQL Server 2000 的安装实例，请检查是否正确的安装了MS SQL Server 2000！");
  EXPECT_EQ(refusing.form.is_mss2000_instance, "");
}

TEST_F(Detect, MissingSettingsFileComesAfterTheInstanceIsFilledIn) {
  install_2000({"MSSQLSERVER", "SHOP"});
  fake.files.existing.clear();
  EXPECT_EQ(wf_check_dbsetup(w.ctx, "mss2000"), -1);
  EXPECT_EQ(
      w.log,
      (Strings{"mss2000.default_data_folder=C:\\MSSQL\\Data", "mss2000.data_folder=C:\\MSSQL\\Data",
               "box: 缺少文件【dbinstall.ini】，请将该文件与本程序放在同一目录中再次尝试运行！"}));
  EXPECT_EQ(w.ui.instances().size(), 2u);
  EXPECT_EQ(w.gs.gs_database_name, "");
}

TEST_F(Detect, UnusableSettingsKeysAreNamedInOrder) {
  install_2000({"SHOP"});
  struct Case {
    const char* data;  // nullptr: key absent
    const char* log;
    const char* name;
    std::string message;
  };
  const Case cases[] = {
      {"shop_Data", nullptr, "SHOPDB", missing_key("logname")},
      {"shop_Data", "shop_Log", "None", missing_key("databasename")},
      {"", "shop_Log", "SHOPDB", missing_key("dataname")},
      {nullptr, nullptr, "SHOPDB", missing_key("dataname")},  // the first one only
      {"None", "", "", missing_key("databasename")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    fake.profile.files.clear();
    fake.profile.set(kIni, "database", "databasename", c.name);
    if (c.data) fake.profile.set(kIni, "database", "dataname", c.data);
    if (c.log) fake.profile.set(kIni, "database", "logname", c.log);
    auto win = check("mss2000", -1);
    // All three were read before any was judged; the database fields stay.
    EXPECT_EQ(win->names(), std::string(c.name) + "|" + (c.data ? c.data : "None") + "|" +
                                (c.log ? c.log : "None"));
    EXPECT_EQ(win->log, (Strings{"mss2000.default_data_folder=D:\\MSSQL$SHOP\\Data",
                                 "mss2000.data_folder=D:\\MSSQL$SHOP\\Data", "box: " + c.message}));
  }
}

TEST_F(Detect, ADriveRootKeepsItsBackslashAndGetsAnother) {
  install_2000({"SHOP"});
  fake.files.cwd = "C:\\";
  fake.files.existing = {"C:\\\\dbinstall.ini"};
  fake.profile.files.clear();
  fake.profile.set("C:\\\\dbinstall.ini", "database", "databasename", "SHOPDB");
  fake.profile.set("C:\\\\dbinstall.ini", "database", "dataname", "d");
  fake.profile.set("C:\\\\dbinstall.ini", "database", "logname", "l");
  EXPECT_EQ(wf_check_dbsetup(w.ctx, "mss2000"), 1);
  EXPECT_EQ(w.form.mss2000.backup, "C:\\\\SHOPDB.dat");
}

TEST_F(Detect, HandlerReportsBothEntriesAndStillFillsTheDataFields) {
  install_2000({"GHOST", "SHOP"});
  w.form.mss2000.server = "10.0.0.5";
  EXPECT_EQ(wf_check_dbsetup(w.ctx, "mss2000"), 1);  // the handler's messages don't stop it
  // The server entry is still read after the failed data root.
  EXPECT_EQ(fake.registry.reads.back(),
            Read(std::string(kSql) + "\\GHOST\\MSSQLServer", "DefaultDomain"));

  // The operator picks a folder, then another instance: the pick is replaced,
  // the server address and the backup stay.
  w.form.mss2000.data_folder = "E:\\picked";
  w.ui.instance_select(2);
  ddplb_mss2000_instances_selectionchanged(w.ctx, 2);
  EXPECT_EQ(w.form.is_mss2000_instance, "SHOP");
  // The operator's typing shows as the window shows the form next; the
  // picked folder is replaced before it is shown again.
  EXPECT_EQ(w.log,
            (Strings{"box: " + no_data_path("GHOST"), "mss2000.default_data_folder=\\Data",
                     "mss2000.data_folder=\\Data", "mss2000.server=10.0.0.5",
                     "box: " + no_server("GHOST"), "mss2000.backup=D:\\setup\\SHOPDB.dat",
                     "mss2000.database=SHOPDB", "mss2000.default_data_folder=D:\\MSSQL$SHOP\\Data",
                     "mss2000.data_folder=D:\\MSSQL$SHOP\\Data"}));

  // A default instance whose data root is there but not its server entry.
  fake.registry = {};
  fake.registry.set_multi(kSql, "InstalledInstances", {"MSSQLSERVER"});
  fake.registry.set_string(kDefaultSetup, "SQLDataRoot", "C:\\MSSQL");
  EXPECT_EQ(check("mss2000", 1)->log,
            (Strings{"mss2000.default_data_folder=C:\\MSSQL\\Data",
                     "mss2000.data_folder=C:\\MSSQL\\Data", "box: " + no_server("默认实例"),
                     "mss2000.backup=D:\\setup\\SHOPDB.dat", "mss2000.database=SHOPDB"}));
}

TEST_F(Detect, CurrentVersionsAreFoundThroughTheInstanceNameMapping) {
  // SQL Server 2005 and later: nothing under the old keys.
  fake.registry.set_multi(kSql, "InstalledInstances", {"MSSQLSERVER", "SHOP", "HALF"});
  const std::string names = std::string(kSql) + "\\Instance Names\\SQL";
  fake.registry.set_string(names, "MSSQLSERVER", "MSSQL15.MSSQLSERVER");
  fake.registry.set_string(names, "SHOP", "MSSQL16.SHOP");
  fake.registry.set_string(names, "HALF", "MSSQL16.HALF");
  for (const char* id : {"MSSQL15.MSSQLSERVER", "MSSQL16.SHOP", "MSSQL16.HALF"}) {
    std::string base = std::string(kSql) + "\\" + id;
    fake.registry.set_string(base + "\\Setup", "SQLDataRoot", std::string("C:\\") + id);
    if (std::string(id) != "MSSQL16.HALF")
      fake.registry.set_string(base + "\\MSSQLServer\\CurrentVersion", "CurrentVersion",
                               "15.0.2000.5");
  }
  EXPECT_EQ(wf_check_dbsetup(w.ctx, "mss2000"), 1);
  EXPECT_EQ(
      fake.registry.reads,
      (std::vector<Read>{{kSql, "InstalledInstances"},
                         {kDefaultSetup, "SQLDataRoot"},
                         {names, "MSSQLSERVER"},
                         {std::string(kSql) + "\\MSSQL15.MSSQLSERVER\\Setup", "SQLDataRoot"},
                         {std::string(kSql) + "\\MSSQL15.MSSQLSERVER\\MSSQLServer\\CurrentVersion",
                          "CurrentVersion"}}));

  w.ui.instance_select(2);
  ddplb_mss2000_instances_selectionchanged(w.ctx, 2);

  // Mapped, with a data root, but without its server entry.
  w.ui.instance_select(3);
  ddplb_mss2000_instances_selectionchanged(w.ctx, 3);
  EXPECT_EQ(w.log,
            (Strings{"mss2000.default_data_folder=C:\\MSSQL15.MSSQLSERVER\\Data",
                     "mss2000.data_folder=C:\\MSSQL15.MSSQLSERVER\\Data",
                     "mss2000.backup=D:\\setup\\SHOPDB.dat", "mss2000.database=SHOPDB",
                     "mss2000.default_data_folder=C:\\MSSQL16.SHOP\\Data",
                     "mss2000.data_folder=C:\\MSSQL16.SHOP\\Data",
                     "mss2000.default_data_folder=C:\\MSSQL16.HALF\\Data",
                     "mss2000.data_folder=C:\\MSSQL16.HALF\\Data", "box: " + no_server("HALF")}));
}

// The instance chosen, at opening or later, is the one the install reaches,
// as long as the address names this machine; one typed for another stays.
TEST_F(Detect, TheChosenInstanceIsWhereTheInstallGoes) {
  install_2000({"SHOP", "MSSQLSERVER"});
  ASSERT_TRUE(w_createdb_open(w.ctx, "mss2000"));
  const auto address = [&] { return w.form.mss2000.server; };
  EXPECT_EQ(address(), "127.0.0.1\\SHOP");
  const auto choose = [&](int entry) {
    w.ui.instance_select(entry);
    ddplb_mss2000_instances_selectionchanged(w.ctx, entry);
  };
  choose(2);
  EXPECT_EQ(address(), "127.0.0.1");
  choose(1);
  EXPECT_EQ(address(), "127.0.0.1\\SHOP");
  for (const char* typed : {"dbhost", "dbhost\\SHOP", "127.0.0.1,1500", "127.0.0.2"}) {
    w.form.mss2000.server = typed;
    choose(2);
    EXPECT_EQ(address(), typed);
  }
}

}  // namespace
}  // namespace dbsetup
