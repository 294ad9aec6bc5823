// This machine's services through the Service Control Manager.
//
// Least privilege: the manager is opened for connecting only, and each
// service with just the rights of the call at hand (SERVICE_QUERY_STATUS to
// ask, SERVICE_START to start, SERVICE_STOP to stop). A user who is not an
// administrator may usually query SQL Server's service, so `query` answers
// for them; `start` and `stop` then fail at OpenServiceW with the system's
// own "access denied" text, which the caller shows as it is.
//
// Waiting follows the polling loop of Microsoft's samples "Starting a
// Service" and "Stopping a Service": poll about a tenth of the service's
// wait hint, and take a pending state whose checkpoint has not moved for
// longer than the hint as a service that hangs. The caller's timeout bounds
// every wait in any case.
//
// Names are UTF-8 here and UTF-16 for the W functions; service names are
// compared without regard to letter case, as the manager compares them.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/services.h"

namespace dbsetup {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long a dependant may take to stop before its dependency is stopped,
// and a service that is stopping before it is started again (the samples'
// bound).
constexpr milliseconds kSettleBound{30000};

// Owns a handle of the manager or of a service.
class ScHandle {
 public:
  ScHandle() = default;
  explicit ScHandle(SC_HANDLE handle) : handle_(handle) {}
  ScHandle(ScHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  ScHandle& operator=(ScHandle&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  ~ScHandle() {
    if (handle_) CloseServiceHandle(handle_);
  }

  SC_HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  SC_HANDLE handle_ = nullptr;
};

// The system's text for an error code, in the user's language, without its
// line end.
std::string system_text(DWORD code) {
  wchar_t* buffer = nullptr;
  DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = n ? std::wstring(buffer, n) : std::wstring();
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
    text.pop_back();
  if (text.empty()) return "Windows error " + std::to_string(code);
  return narrow(text);
}

// A service opened with `access`, and the manager it came from; `error` is
// set when either could not be opened.
struct Opened {
  ScHandle manager, service;
  DWORD error = ERROR_SUCCESS;
};

Opened open_service(const std::string& name, DWORD access) {
  Opened opened;
  opened.manager = ScHandle(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!opened.manager) {
    opened.error = GetLastError();
    return opened;
  }
  opened.service = ScHandle(OpenServiceW(opened.manager.get(), widen(name).c_str(), access));
  if (!opened.service) opened.error = GetLastError();
  return opened;
}

ServiceState state_of(DWORD current) {
  switch (current) {
    case SERVICE_STOPPED:
      return ServiceState::Stopped;
    case SERVICE_START_PENDING:
      return ServiceState::StartPending;
    case SERVICE_STOP_PENDING:
      return ServiceState::StopPending;
    case SERVICE_RUNNING:
      return ServiceState::Running;
    default:
      return ServiceState::Other;
  }
}

bool status_of(SC_HANDLE service, SERVICE_STATUS_PROCESS& status) {
  DWORD needed = 0;
  return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof status, &needed) != 0;
}

// One look at a service: its state, and for a pending one the checkpoint
// and wait hint it reported last.
struct Probe {
  ServiceState state = ServiceState::Unknown;
  DWORD checkpoint = 0, wait_hint = 0;
};

// The service is opened anew for each look: a handle kept open would keep a
// service that is deleted meanwhile from going away.
Probe probe(const std::string& name) {
  Probe seen;
  Opened opened = open_service(name, SERVICE_QUERY_STATUS);
  if (!opened.service) {
    // A name the manager cannot hold (empty, too long, with a slash) names
    // no service either.
    if (opened.error == ERROR_SERVICE_DOES_NOT_EXIST || opened.error == ERROR_INVALID_NAME)
      seen.state = ServiceState::Missing;
    return seen;
  }
  SERVICE_STATUS_PROCESS status{};
  if (!status_of(opened.service.get(), status)) return seen;
  seen.state = state_of(status.dwCurrentState);
  seen.checkpoint = status.dwCheckPoint;
  seen.wait_hint = status.dwWaitHint;
  return seen;
}

bool is_pending(ServiceState state) {
  return state == ServiceState::StartPending || state == ServiceState::StopPending;
}

// Polls until the service is in `target`, at most `timeout`. It gives up
// early when the service goes away or can no longer be asked, when it is
// stopped while it should be coming up (its start failed), and when a
// pending state makes no progress within its wait hint.
bool wait_for(const std::string& name, ServiceState target, milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  Probe seen = probe(name);
  Probe progress = seen;  // the last pending state and checkpoint that moved
  Clock::time_point progress_at = Clock::now();
  for (;;) {
    if (seen.state == target) return true;
    if (seen.state == ServiceState::Missing || seen.state == ServiceState::Unknown) return false;
    if (target == ServiceState::Running && seen.state == ServiceState::Stopped) return false;

    const Clock::time_point now = Clock::now();
    milliseconds interval{100};
    if (is_pending(seen.state)) {
      if (seen.state != progress.state || seen.checkpoint != progress.checkpoint) {
        progress = seen;
        progress_at = now;
      } else if (now - progress_at > milliseconds(seen.wait_hint ? seen.wait_hint : 1000)) {
        return false;  // no progress within the wait hint: it hangs
      }
      // A tenth of the hint, as the samples poll, but from 50 ms rather than
      // a second: a service that settles quickly is seen at once.
      interval =
          std::clamp(milliseconds(seen.wait_hint / 10), milliseconds(50), milliseconds(10000));
    }
    if (now >= deadline) return false;
    std::this_thread::sleep_for(
        std::min(interval, std::chrono::duration_cast<milliseconds>(deadline - now)));
    seen = probe(name);
  }
}

bool same_service(const std::wstring& a, const wchar_t* b) {
  return CompareStringOrdinal(a.c_str(), -1, b, -1, TRUE) == CSTR_EQUAL;
}

// The running services that depend on `service`, directly or through
// another, in the order they are to be stopped, as EnumDependentServicesW
// lists them.
std::vector<std::wstring> listed_dependants(SC_HANDLE service) {
  std::vector<std::wstring> names;
  std::vector<std::uint64_t> buffer(1);  // aligned for ENUM_SERVICE_STATUSW
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD needed = 0, count = 0;
    auto* entries = reinterpret_cast<ENUM_SERVICE_STATUSW*>(buffer.data());
    if (EnumDependentServicesW(service, SERVICE_ACTIVE, entries,
                               static_cast<DWORD>(buffer.size() * sizeof buffer[0]), &needed,
                               &count)) {
      for (DWORD i = 0; i < count; ++i) names.emplace_back(entries[i].lpServiceName);
      return names;
    }
    if (GetLastError() != ERROR_MORE_DATA || needed == 0) return names;
    buffer.assign(needed / sizeof buffer[0] + 1, 0);
  }
  return names;
}

// The services `service` depends on, from its DependOnService value under
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services, where the manager
// keeps them (groups are in DependOnGroup and play no part here).
std::vector<std::wstring> dependencies_of(const wchar_t* service) {
  std::vector<std::wstring> names;
  const std::wstring key = std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\") + service;
  std::vector<wchar_t> buffer(256);
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    LSTATUS status = RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"DependOnService",
                                  RRF_RT_REG_MULTI_SZ, nullptr, buffer.data(), &size);
    if (status == ERROR_MORE_DATA) {
      buffer.assign(size / sizeof(wchar_t) + 2, L'\0');
      continue;
    }
    if (status != ERROR_SUCCESS) return names;
    buffer.resize(size / sizeof(wchar_t));
    buffer.push_back(L'\0');  // ends the list should the value lack its terminators
    buffer.push_back(L'\0');
    for (const wchar_t* p = buffer.data(); *p; p += wcslen(p) + 1) names.emplace_back(p);
    return names;
  }
  return names;
}

// The same list found from the other end: what each active service depends
// on, read with the rights any user has. Wine's service manager (8.0)
// answers EnumDependentServicesW with no services at all, whatever depends
// on the service, and leaves the dependencies out of QueryServiceConfigW,
// though it keeps them in the registry as Windows does; so when the list
// above is empty, this one is asked too.
std::vector<std::wstring> scanned_dependants(const std::wstring& service) {
  std::vector<std::wstring> order;
  ScHandle manager(
      OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE));
  if (!manager) return order;

  std::map<std::wstring, std::vector<std::wstring>> depends_on;  // active service: its dependencies
  std::vector<std::uint64_t> buffer(8192);
  DWORD resume = 0;
  for (int pass = 0; pass < 64; ++pass) {
    DWORD needed = 0, count = 0;
    BOOL done = EnumServicesStatusExW(manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32,
                                      SERVICE_ACTIVE, reinterpret_cast<BYTE*>(buffer.data()),
                                      static_cast<DWORD>(buffer.size() * sizeof buffer[0]), &needed,
                                      &count, &resume, nullptr);
    if (!done && GetLastError() != ERROR_MORE_DATA) break;
    auto* entries = reinterpret_cast<ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
    for (DWORD i = 0; i < count; ++i)
      depends_on[entries[i].lpServiceName] = dependencies_of(entries[i].lpServiceName);
    if (done) break;
    if (count == 0) buffer.assign(needed / sizeof buffer[0] + 1, 0);
  }

  // Depth first from the service: a dependant's own dependants are stopped
  // before it. `seen` also ends a circle of dependencies.
  std::vector<std::wstring> seen{service};
  auto visit = [&](auto&& self, const std::wstring& of) -> void {
    for (const auto& [name, dependencies] : depends_on) {
      bool depends =
          std::any_of(dependencies.begin(), dependencies.end(),
                      [&](const std::wstring& d) { return same_service(d, of.c_str()); });
      bool known = std::any_of(seen.begin(), seen.end(), [&](const std::wstring& s) {
        return same_service(s, name.c_str());
      });
      if (!depends || known) continue;
      seen.push_back(name);
      self(self, name);
      order.push_back(name);
    }
  };
  visit(visit, service);
  return order;
}

// Sends the stop control to one service. True when it is stopping or
// stopped; `was_active` says whether it was still running.
bool send_stop(const std::string& name, bool& was_active, std::string& error) {
  was_active = false;
  Opened opened = open_service(name, SERVICE_STOP | SERVICE_QUERY_STATUS);
  if (!opened.service) {
    error = system_text(opened.error);
    return false;
  }
  SERVICE_STATUS status{};
  if (ControlService(opened.service.get(), SERVICE_CONTROL_STOP, &status)) {
    was_active = true;
    return true;
  }
  DWORD code = GetLastError();
  if (code == ERROR_SERVICE_NOT_ACTIVE) return true;
  // Refused while a stop is already under way: that is what was asked.
  SERVICE_STATUS_PROCESS now{};
  if (code == ERROR_SERVICE_CANNOT_ACCEPT_CTRL && status_of(opened.service.get(), now) &&
      (now.dwCurrentState == SERVICE_STOP_PENDING || now.dwCurrentState == SERVICE_STOPPED)) {
    was_active = now.dwCurrentState == SERVICE_STOP_PENDING;
    return true;
  }
  error = system_text(code);
  return false;
}

class ScmServices final : public Services {
 public:
  ServiceState query(const std::string& name) override { return probe(name).state; }

  bool start(const std::string& name, std::string& error) override {
    Opened opened = open_service(name, SERVICE_START | SERVICE_QUERY_STATUS);
    if (!opened.service) {
      error = system_text(opened.error);
      return false;
    }
    // A service that is still stopping cannot be started yet: wait for it
    // first, as the sample does.
    SERVICE_STATUS_PROCESS status{};
    if (status_of(opened.service.get(), status) && status.dwCurrentState == SERVICE_STOP_PENDING &&
        !wait_for(name, ServiceState::Stopped, kSettleBound)) {
      error = system_text(ERROR_SERVICE_REQUEST_TIMEOUT);
      return false;
    }
    if (StartServiceW(opened.service.get(), 0, nullptr)) return true;
    DWORD code = GetLastError();
    if (code == ERROR_SERVICE_ALREADY_RUNNING && status_of(opened.service.get(), status) &&
        (status.dwCurrentState == SERVICE_RUNNING ||
         status.dwCurrentState == SERVICE_START_PENDING))
      return true;
    error = system_text(code);
    return false;
  }

  bool stop(const std::string& name, std::vector<std::string>& stopped_dependants,
            std::string& error) override {
    stopped_dependants.clear();
    Opened opened =
        open_service(name, SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS);
    if (!opened.service) {
      error = system_text(opened.error);
      return false;
    }
    SERVICE_STATUS_PROCESS status{};
    if (status_of(opened.service.get(), status) &&
        (status.dwCurrentState == SERVICE_STOPPED || status.dwCurrentState == SERVICE_STOP_PENDING))
      return true;

    // The manager refuses to stop a service while a dependant runs
    // (ERROR_DEPENDENT_SERVICES_RUNNING): each one is stopped, and waited
    // for, first.
    std::vector<std::wstring> dependants = listed_dependants(opened.service.get());
    if (dependants.empty()) dependants = scanned_dependants(widen(name));
    std::vector<std::string> stopped;  // in the order they were stopped
    bool failed = false;
    for (const std::wstring& wide : dependants) {
      const std::string dependant = narrow(wide);
      bool was_active = false;
      if (!send_stop(dependant, was_active, error)) {
        failed = true;
        break;
      }
      if (was_active) stopped.push_back(dependant);
      if (!wait_for(dependant, ServiceState::Stopped, kSettleBound)) {
        error = system_text(ERROR_SERVICE_REQUEST_TIMEOUT);
        failed = true;
        break;
      }
    }
    // Listed even after a failure: the caller starts them again.
    stopped_dependants.assign(stopped.rbegin(), stopped.rend());
    if (failed) return false;

    bool was_active = false;
    return send_stop(name, was_active, error);
  }

  bool wait(const std::string& name, ServiceState state, milliseconds timeout) override {
    return wait_for(name, state, timeout);
  }
};

}  // namespace

std::unique_ptr<Services> make_system_services() { return std::make_unique<ScmServices>(); }

}  // namespace dbsetup
