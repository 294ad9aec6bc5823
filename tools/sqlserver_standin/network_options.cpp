#include "network_options.h"

#include <stdexcept>

namespace standin {

namespace {
// The Browser's fixed port; clients know no other.
constexpr int kBrowserPort = 1434;
}  // namespace

bool NetworkOptions::take(const std::vector<std::string>& args, size_t& i) {
  const std::string& a = args[i];
  auto value = [&]() -> std::string {
    if (i + 1 >= args.size()) throw std::invalid_argument(a + " needs a value");
    return args[++i];
  };
  if (a == "--force-encryption") {
    encryption = ServerEncryption::Required;
    encryption_given = true;
  } else if (a == "--no-encryption") {
    encryption = ServerEncryption::NotSupported;
    encryption_given = true;
  } else if (a == "--instance-name") {
    instance_name = value();
    if (instance_name.empty() || instance_name.size() > 16)
      throw std::invalid_argument("an instance name has 1 to 16 characters");
  } else if (a == "--browser") {
    browser = true;
  } else if (a == "--browser-instance") {
    std::string v = value();
    auto eq = v.find('=');
    if (eq == 0 || eq == std::string::npos) throw std::invalid_argument("NAME=PORT");
    listed.push_back({v.substr(0, eq), std::stoi(v.substr(eq + 1))});
    browser = true;
  } else {
    return false;
  }
  return true;
}

Network start_network(const NetworkOptions& options, int port, const std::string& server_name,
                      const std::string& version) {
  Network n;
  if (options.encryption != ServerEncryption::NotSupported)
    n.credentials = std::make_unique<TlsCredentials>();
  if (options.browser) {
    std::vector<BrowserInstance> all{
        {options.instance_name.empty() ? "MSSQLSERVER" : options.instance_name, port}};
    all.insert(all.end(), options.listed.begin(), options.listed.end());
    n.browser = std::make_unique<Browser>("127.0.0.1", kBrowserPort, server_name, version, all);
  }
  return n;
}

}  // namespace standin
