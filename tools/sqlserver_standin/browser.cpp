#include "browser.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace standin {

namespace {

constexpr uint8_t kClntBcastEx = 0x02;
constexpr uint8_t kClntUcastEx = 0x03;
constexpr uint8_t kClntUcastInst = 0x04;
constexpr uint8_t kSvrResp = 0x05;
// Instance names are at most 32 bytes with their terminating zero.
constexpr size_t kMaxInstanceName = 32;

std::string instance_text(const std::string& server, const std::string& version,
                          const BrowserInstance& i) {
  return "ServerName;" + server + ";InstanceName;" + i.name + ";IsClustered;No;Version;" + version +
         ";tcp;" + std::to_string(i.port) + ";;";
}

bool same_name(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); ++k)
    if (std::tolower(static_cast<unsigned char>(a[k])) !=
        std::tolower(static_cast<unsigned char>(b[k])))
      return false;
  return true;
}

}  // namespace

Bytes browser_answer(const Bytes& request, const std::string& server_name,
                     const std::string& version, const std::vector<BrowserInstance>& instances) {
  if (request.empty()) return {};
  std::string data;
  if (request[0] == kClntBcastEx || request[0] == kClntUcastEx) {
    for (const auto& i : instances) data += instance_text(server_name, version, i);
  } else if (request[0] == kClntUcastInst) {
    // The name ends at its zero byte, or with the datagram.
    std::string name(request.begin() + 1, request.end());
    name = name.c_str();
    if (name.empty() || name.size() >= kMaxInstanceName) return {};
    for (const auto& i : instances)
      if (same_name(i.name, name)) data = instance_text(server_name, version, i);
  }
  if (data.empty() || data.size() > 0xFFFF) return {};
  Writer w;
  w.u8(kSvrResp);
  w.u16(static_cast<uint16_t>(data.size()));
  w.bytes(data.data(), data.size());
  return w.data;
}

Browser::Browser(const std::string& address, int port, std::string server_name, std::string version,
                 std::vector<BrowserInstance> instances)
    : server_name_(std::move(server_name)),
      version_(std::move(version)),
      instances_(std::move(instances)) {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (fd_ < 0 || ::inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1 ||
      ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    std::string why = std::strerror(errno);
    if (fd_ >= 0) ::close(fd_);
    throw std::runtime_error("browser on " + address + ":" + std::to_string(port) + ": " + why);
  }
  thread_ = std::thread([this] { serve(); });
}

Browser::~Browser() {
  stop_ = true;
  thread_.join();
  ::close(fd_);
}

void Browser::serve() {
  while (!stop_) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 200) <= 0) continue;
    uint8_t buf[2048];
    sockaddr_storage from{};
    socklen_t len = sizeof from;
    ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n <= 0) continue;
    Bytes answer = browser_answer(Bytes(buf, buf + n), server_name_, version_, instances_);
    if (!answer.empty())
      ::sendto(fd_, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
  }
}

}  // namespace standin
