#pragma once

// One client connection: PRELOGIN, LOGIN7, then requests until the client
// leaves. Runs on its own thread.

#include <atomic>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "executor.h"
#include "tds.h"

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
  // Serves the client until it disconnects or is dropped.
  void run();

 private:
  class ResponseSink;
  friend class ResponseSink;

  bool read_packet(Bytes& packet);  // false on end of stream
  bool read_message(uint8_t& type, Bytes& payload);
  void send(uint8_t type, const Bytes& payload, bool eom);
  bool handle_prelogin(const Bytes& payload);
  bool handle_login(const Bytes& payload);
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
};

}  // namespace standin
