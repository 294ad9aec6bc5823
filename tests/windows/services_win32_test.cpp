// The Service Control Manager backend against services this test registers
// (and deletes again) in the system's manager: windows_test_service.exe as
// a server, as an agent that depends on it (SQL Server Agent on SQL Server)
// and as a service whose start hangs. Under Wine they live in the test
// prefix, run by Wine's own services.exe.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/services.h"
#include "win32_test_util.h"

namespace dbsetup {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

const std::string kServer = "MSSQL$DBSETUP测试";
const std::string kAgent = "SQLAgent$DBSETUP测试";
const std::string kHung = "DBSETUP测试挂起";
constexpr milliseconds kBound{10000};

std::string system_text(DWORD code) {
  wchar_t* buffer = nullptr;
  DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text(buffer, n);
  LocalFree(buffer);
  return narrow(text.erase(text.find_last_not_of(L"\r\n ") + 1));
}

class ServicesWin32Test : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    manager_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    if (!manager_) {
      problem_ = "OpenSCManagerW: " + system_text(GetLastError());
      return;
    }
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring program(self, n);
    program = L"\"" + program.substr(0, program.rfind(L'\\') + 1) + L"windows_test_service.exe\"";
    // Leftovers of a run that was cut short go first.
    for (const std::string* name : {&kAgent, &kServer, &kHung}) remove(*name);
    const std::wstring on_server = widen(kServer) + L'\0';  // a list of one, ended by a NUL
    auto create = [](const std::string& name, const std::wstring& command,
                     const wchar_t* dependencies) {
      SC_HANDLE created =
          CreateServiceW(manager_, widen(name).c_str(), widen(name).c_str(), SERVICE_QUERY_STATUS,
                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                         command.c_str(), nullptr, nullptr, dependencies, nullptr, nullptr);
      if (!created && problem_.empty())
        problem_ = "CreateServiceW " + name + ": " + system_text(GetLastError());
      if (created) CloseServiceHandle(created);
    };
    create(kServer, program, nullptr);
    create(kAgent, program, on_server.c_str());
    create(kHung, program + L" --hang", nullptr);
  }

  static void TearDownTestSuite() {
    if (!manager_) return;
    for (const std::string* name : {&kAgent, &kServer, &kHung}) remove(*name);
    CloseServiceHandle(manager_);
    manager_ = nullptr;
  }

  // Stops the service when it runs (waiting at most ten seconds) and
  // deletes it.
  static void remove(const std::string& name) {
    SC_HANDLE service =
        OpenServiceW(manager_, widen(name).c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (!service) return;
    SERVICE_STATUS status{};
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    for (int i = 0; i < 100 && QueryServiceStatus(service, &status); ++i) {
      if (status.dwCurrentState == SERVICE_STOPPED) break;
      Sleep(100);
    }
    DeleteService(service);
    CloseServiceHandle(service);
  }

  void SetUp() override {
    ASSERT_TRUE(problem_.empty()) << problem_;
    services_ = make_system_services();
    ASSERT_NE(services_, nullptr);
  }

  static inline SC_HANDLE manager_ = nullptr;
  static inline std::string problem_;
  std::unique_ptr<Services> services_;
};

// First, so that the two seconds of the hung start pass during the rest.
TEST_F(ServicesWin32Test, AStartWithoutProgressEndsTheWaitAtItsWaitHint) {
  std::string error;
  ASSERT_TRUE(services_->start(kHung, error)) << error;
  EXPECT_FALSE(services_->wait(kHung, ServiceState::Running, kBound));
  // Still pending: the wait gave up on the wait hint (200 ms), not at the
  // bound nor when the service gave up by itself.
  EXPECT_EQ(services_->query(kHung), ServiceState::StartPending);
  std::vector<std::string> dependants;
  // Refused with the system's text: Windows says it cannot accept the
  // control now, Wine's services.exe that the control is invalid for it.
  EXPECT_FALSE(services_->stop(kHung, dependants, error));
  EXPECT_TRUE(error == system_text(ERROR_SERVICE_CANNOT_ACCEPT_CTRL) ||
              error == system_text(ERROR_INVALID_SERVICE_CONTROL))
      << error;
}

TEST_F(ServicesWin32Test, AMissingServiceIsMissingAndNeitherStartsNorStops) {
  for (const std::string name : {"DBSETUP_NO_SUCH_SERVICE", "", "no\\such"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(services_->query(name), ServiceState::Missing);
    std::string error;
    EXPECT_FALSE(services_->start(name, error));
    EXPECT_FALSE(error.empty());
    if (name == "DBSETUP_NO_SUCH_SERVICE") {
      EXPECT_EQ(error, system_text(ERROR_SERVICE_DOES_NOT_EXIST));
    }
    std::vector<std::string> dependants{"stale"};
    error.clear();
    EXPECT_FALSE(services_->stop(name, dependants, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(dependants.empty());
    EXPECT_FALSE(services_->wait(name, ServiceState::Running, kBound));
  }
}

TEST_F(ServicesWin32Test, StopsTheAgentFirstAndListsItForTheRestart) {
  std::string error;
  std::vector<std::string> dependants{"stale"};
  EXPECT_EQ(services_->query(kServer), ServiceState::Stopped);
  EXPECT_TRUE(services_->stop(kServer, dependants, error)) << error;  // stopped already
  EXPECT_TRUE(dependants.empty());
  // Nobody starts it: the wait ends without sitting out its bound.
  const Clock::time_point before = Clock::now();
  EXPECT_FALSE(services_->wait(kServer, ServiceState::Running, kBound));
  EXPECT_LT(Clock::now() - before, kBound / 2);

  ASSERT_TRUE(services_->start(kServer, error)) << error;
  ASSERT_TRUE(services_->wait(kServer, ServiceState::Running, kBound));
  EXPECT_TRUE(services_->start(kServer, error)) << error;  // runs already
  ASSERT_TRUE(services_->start(kAgent, error)) << error;
  ASSERT_TRUE(services_->wait(kAgent, ServiceState::Running, kBound));

  ASSERT_TRUE(services_->stop(kServer, dependants, error)) << error;
  EXPECT_EQ(dependants, std::vector<std::string>{kAgent});
  EXPECT_EQ(services_->query(kAgent), ServiceState::Stopped);  // before the server was asked
  EXPECT_TRUE(services_->wait(kServer, ServiceState::Stopped, kBound));

  // Started again as an install restarts a server: the server, then the
  // dependants in the order listed.
  ASSERT_TRUE(services_->start(kServer, error)) << error;
  EXPECT_TRUE(services_->wait(kServer, ServiceState::Running, kBound));
  for (const std::string& name : dependants) {
    EXPECT_TRUE(services_->start(name, error)) << error;
    EXPECT_TRUE(services_->wait(name, ServiceState::Running, kBound)) << name;
  }
}

}  // namespace
}  // namespace dbsetup
