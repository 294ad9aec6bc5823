#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace dbsetup {

// A service's state as this machine's service manager reports it.
enum class ServiceState {
  Missing,  // no service of that name
  Stopped,
  StartPending,
  StopPending,
  Running,
  Other,    // paused, or pausing or continuing
  Unknown,  // the service manager could not be asked (no right to)
};

// The services of this machine, as an install needs them for a SQL Server
// that runs here ("MSSQLSERVER", "MSSQL$SHOP"). Texts of failures are the
// system's own words.
class Services {
 public:
  virtual ~Services() = default;

  virtual ServiceState query(const std::string& name) = 0;
  // Asks the service to start. True when the request was accepted or the
  // service runs already; otherwise `error` says why.
  virtual bool start(const std::string& name, std::string& error) = 0;
  // Stops every running service that depends on this one (SQL Server Agent
  // depends on SQL Server), then the service itself, and lists the
  // dependants it stopped, in the order they may be started again. True
  // when the service is stopping or stopped; otherwise `error` says why.
  virtual bool stop(const std::string& name, std::vector<std::string>& stopped_dependants,
                    std::string& error) = 0;
  // Waits until the service is in `state`, at most `timeout`; true when it
  // got there.
  virtual bool wait(const std::string& name, ServiceState state,
                    std::chrono::milliseconds timeout) = 0;
};

// This system's service manager; null where the program has none to use
// (it never starts or stops a server there).
std::unique_ptr<Services> make_system_services();

}  // namespace dbsetup
