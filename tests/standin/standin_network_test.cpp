// The stand-in's network face: TLS as TDS 7.x negotiates it, and named
// instances found through the SQL Server Browser. (The installer's client
// in both: tests/e2e_install.)

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "browser.h"
#include "support/standin_process.h"
#include "tds.h"

namespace {

using dbsetup::testing::StandinInstances;
using dbsetup::testing::StandinServer;
using ::testing::HasSubstr;
using namespace standin;

// tsql with a FreeTDS configuration of its own: `encryption` is FreeTDS's
// setting (off, request, require).
std::string run_tsql(const StandinServer& srv, const std::string& encryption,
                     const std::string& input) {
  std::string conf = srv.dir() + "/freetds.conf", in = srv.dir() + "/tsql.in",
              out = srv.dir() + "/tsql.out";
  std::ofstream(conf) << "[global]\n\ttds version = 7.4\n\tencryption = " << encryption << "\n";
  std::ofstream(in) << input;
  std::string cmd = "FREETDSCONF=" + conf + " timeout 60 " + std::string(TSQL_EXECUTABLE) +
                    " -H 127.0.0.1 -p " + std::to_string(srv.port()) + " -U sa -P SECRET < " + in +
                    " > " + out + " 2>&1";
  int rc = std::system(cmd.c_str());
  std::stringstream s;
  s << std::ifstream(out).rdbuf();
  return "rc=" + std::to_string(rc) + "\n" + s.str();
}

TEST(StandinEncryption, AnswerFollowsTheClientAndTheServerSetting) {
  constexpr int kClose = -1;
  struct Case {
    uint8_t client;
    ServerEncryption server;
    int answer;
  } cases[] = {
      {kEncryptOff, ServerEncryption::Available, kEncryptOff},  // the login packet only
      {kEncryptOn, ServerEncryption::Available, kEncryptOn},
      {kEncryptReq, ServerEncryption::Available, kEncryptOn},
      {kEncryptNotSup, ServerEncryption::Available, kEncryptNotSup},
      {kEncryptOff, ServerEncryption::Required, kEncryptReq},
      {kEncryptOn, ServerEncryption::Required, kEncryptOn},
      {kEncryptNotSup, ServerEncryption::Required, kClose},
      {kEncryptOff, ServerEncryption::NotSupported, kEncryptNotSup},
      {kEncryptOn, ServerEncryption::NotSupported, kEncryptNotSup},
  };
  for (const auto& c : cases) {
    auto a = encryption_answer(c.client, c.server);
    EXPECT_EQ(a ? int{*a} : kClose, c.answer)
        << "client " << int{c.client} << " server " << static_cast<int>(c.server);
  }
}

// tsql where the settings agree and where they cannot: the server closes on
// a client that offers no TLS, and a client that requires it gives up on a
// server without. (The installer's "request" on each kind of server, and the
// TLS of each session: EndToEnd.FullInstallOnEachServer, tests/e2e_install.)
TEST(StandinEncryption, TsqlLogsOnOnlyWhereTheSettingsAgree) {
  struct Case {
    std::vector<std::string> args;
    std::string client;
    bool logs_on;
  } cases[] = {
      {{"--force-encryption"}, "require", true},
      {{"--force-encryption"}, "off", false},
      {{"--no-encryption"}, "require", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args) + " client " + c.client);
    StandinServer srv(c.args);
    std::string out =
        run_tsql(srv, c.client, "select name from sysdatabases where name = 'master'\ngo\nexit\n");
    auto logons = srv.logons();
    ASSERT_EQ(logons.size(), c.logs_on ? 1u : 0u) << out;
    if (!c.logs_on) continue;
    EXPECT_THAT(out, HasSubstr("(1 row affected)"));
    EXPECT_EQ(logons[0]["encrypted"], true);
  }
}

TEST(StandinBrowser, AnswersAnInstanceQueryAndTheListing) {
  const std::vector<BrowserInstance> two = {{"MSSQLSERVER", 1433}, {"SHOP", 50123}};
  auto text = [&](const Bytes& request) {
    Bytes a = browser_answer(request, "PC1", "15.0.2000.5", two);
    if (a.empty()) return std::string("(silent)");
    EXPECT_EQ(a[0], 0x05);
    EXPECT_EQ(a.size(), 3u + (a[1] | (a[2] << 8)));
    return std::string(a.begin() + 3, a.end());
  };
  const std::string shop =
      "ServerName;PC1;InstanceName;SHOP;IsClustered;No;Version;15.0.2000.5;tcp;50123;;";
  struct Case {
    Bytes request;
    std::string answer;
  } cases[] = {
      {{0x04, 'S', 'H', 'O', 'P', 0}, shop},
      {{0x04, 's', 'h', 'o', 'p'}, shop},  // any letter case, no terminator
      {{0x04, 'N', 'O', 'P', 'E', 0}, "(silent)"},
      {{0x04, 0}, "(silent)"},
      {{0x03},
       "ServerName;PC1;InstanceName;MSSQLSERVER;IsClustered;No;Version;15.0.2000.5;tcp;1433;;" +
           shop},
      {{0x0F, 1}, "(silent)"},  // the dedicated admin connection is not served
      {{}, "(silent)"},
  };
  for (const auto& c : cases) EXPECT_EQ(text(c.request), c.answer);
}

// Sends one datagram to the Browser and returns the answer's text.
std::string ask_browser(const Bytes& request) {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(1434);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  pollfd p{fd, POLLIN, 0};
  char buf[2048];
  ssize_t n = ::poll(&p, 1, 5000) > 0 ? ::recv(fd, buf, sizeof buf, 0) : 0;
  ::close(fd);
  return n > 3 ? std::string(buf + 3, buf + n) : "";
}

TEST(StandinBrowser, ListingCarriesBothInstancesAndTheirPorts) {
  StandinInstances machine("SHOP");
  std::string listing = ask_browser({0x03});
  EXPECT_THAT(listing, HasSubstr("InstanceName;MSSQLSERVER;IsClustered;No;Version;8.00.2039;tcp;" +
                                 std::to_string(machine.default_instance().port()) + ";;"));
  EXPECT_THAT(listing, HasSubstr("InstanceName;SHOP;IsClustered;No;Version;8.00.2039;tcp;" +
                                 std::to_string(machine.named().port()) + ";;"));

  // (Clients finding SHOP by its name through the Browser: tests/e2e_install.)
}

TEST(StandinBrowser, SecondBrowserOnTheMachineIsRefused) {
  StandinInstances machine;
  EXPECT_THROW(StandinServer({"--browser"}), std::runtime_error);
}

}  // namespace
