#pragma once

// The server's network face beyond its TCP port: TLS, the instance it is and
// the SQL Server Browser it may answer for.

#include <memory>
#include <string>
#include <vector>

#include "browser.h"
#include "tds.h"
#include "tls.h"

namespace standin {

struct NetworkOptions {
  ServerEncryption encryption = ServerEncryption::Available;
  bool encryption_given = false;  // set by a flag rather than the profile
  std::string instance_name;      // empty: the default instance
  bool browser = false;
  std::vector<BrowserInstance> listed;  // more instances the Browser answers for

  // Takes args[i] (and its value) when it is one of these options; throws
  // std::invalid_argument for a bad value.
  bool take(const std::vector<std::string>& args, size_t& i);
};

// What the options need while the server runs.
struct Network {
  std::unique_ptr<TlsCredentials> credentials;  // null without TLS
  std::unique_ptr<Browser> browser;
};
// Makes the certificate and starts the Browser for a server on `port`.
// Throws std::runtime_error when either fails.
Network start_network(const NetworkOptions& options, int port, const std::string& server_name,
                      const std::string& version);

}  // namespace standin
