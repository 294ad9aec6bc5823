#pragma once

// One client connection: PRELOGIN, LOGIN7, then requests until the client
// leaves. Runs on its own thread.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "executor.h"
#include "tds.h"
#include "tls.h"

namespace standin {

// Appends one JSON object a line; safe to use from every connection.
class RequestLog {
 public:
  explicit RequestLog(const std::string& path);
  ~RequestLog();
  void write(nlohmann::json entry);

 private:
  std::mutex mutex_;
  int fd_ = -1;
};

class Connection {
 public:
  Connection(int fd, int id, Executor& executor, RequestLog& log, uint32_t tds_cap);
  ~Connection();
  // What the server offers in PRELOGIN; without credentials it has no TLS.
  void set_encryption(ServerEncryption mode, const TlsCredentials* credentials);
  // Serves the client until it disconnects or is dropped.
  void run();

 private:
  class ResponseSink;
  friend class ResponseSink;

  bool read_packet(Bytes& packet);  // false on end of stream
  bool read_bytes(uint8_t* p, size_t n);
  // Waits up to `ms` for something to read; false on timeout.
  bool readable(int ms);
  bool start_tls();
  bool read_message(uint8_t& type, Bytes& payload);
  void send(uint8_t type, const Bytes& payload, bool eom);
  bool handle_prelogin(const Bytes& payload);
  bool handle_login(const Bytes& payload);
  // connection_windows.cpp: the SSPI exchange of a Windows logon; false when
  // the connection ends (the client left, or a test control drops it).
  bool windows_logon(const Login7& l, uint32_t before_ack, nlohmann::json& entry,
                     LoginOutcome& result);
  bool handle_request(uint8_t type, const Bytes& payload);
  void log(nlohmann::json entry);

  int fd_;
  int id_;
  Executor& executor_;
  RequestLog& log_;
  uint32_t tds_cap_;
  uint32_t version_ = kTds74;
  size_t packet_size_ = 4096;
  uint8_t packet_id_ = 0;
  bool logged_in_ = false;
  Session session_;
  MessageAssembler assembler_;
  ServerEncryption encryption_ = ServerEncryption::NotSupported;
  const TlsCredentials* credentials_ = nullptr;
  std::unique_ptr<TlsSession> tls_;
  bool tls_login_only_ = false;  // TLS ends after the first packet read through it
  bool login_encrypted_ = false;
};

}  // namespace standin
