#pragma once

// The SQL Server Browser: the UDP service on port 1434 that tells clients
// which TCP port a named instance listens on.

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tds.h"

namespace standin {

struct BrowserInstance {
  std::string name;  // "MSSQLSERVER" for the default instance
  int port = 0;
};

// The answer to one request, or nothing when the server stays silent (an
// unknown instance, a request it does not serve, a malformed one).
Bytes browser_answer(const Bytes& request, const std::string& server_name,
                     const std::string& version, const std::vector<BrowserInstance>& instances);

// Answers requests on a UDP address until destroyed.
class Browser {
 public:
  // Throws std::runtime_error when the port cannot be bound.
  Browser(const std::string& address, int port, std::string server_name, std::string version,
          std::vector<BrowserInstance> instances);
  ~Browser();
  Browser(const Browser&) = delete;
  Browser& operator=(const Browser&) = delete;

 private:
  void serve();
  int fd_ = -1;
  std::string server_name_, version_;
  std::vector<BrowserInstance> instances_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace standin
