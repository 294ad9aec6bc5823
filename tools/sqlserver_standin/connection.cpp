#include "connection.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>

namespace standin {

namespace {

std::string now_text() {
  auto now = std::chrono::system_clock::now();
  auto t = std::chrono::system_clock::to_time_t(now);
  auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
  return buf;
}

nlohmann::json outcome_json(const Outcome& o) {
  nlohmann::json j;
  j["ok"] = !o.failed() && !o.cancelled;
  j["errors"] = o.errors();
  j["messages"] = o.infos();
  std::vector<std::string> texts;
  for (const auto& m : o.messages)
    if (m.is_error()) texts.push_back(m.text);
  j["error_texts"] = texts;
  j["rows"] = o.rows;
  if (o.cancelled) j["cancelled"] = true;
  return j;
}

bool read_exact(int fd, uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t r = ::recv(fd, p, n, 0);
    if (r == 0) return false;
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

}  // namespace

// ---- request log ----------------------------------------------------------------------

RequestLog::RequestLog(const std::string& path) {
  if (!path.empty()) fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

RequestLog::~RequestLog() {
  if (fd_ >= 0) ::close(fd_);
}

void RequestLog::write(nlohmann::json entry) {
  if (fd_ < 0) return;
  entry["time"] = now_text();
  std::string line = entry.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  std::lock_guard<std::mutex> lock(mutex_);
  size_t off = 0;
  while (off < line.size()) {
    ssize_t w = ::write(fd_, line.data() + off, line.size() - off);
    if (w <= 0) {
      if (w < 0 && errno == EINTR) continue;
      return;
    }
    off += static_cast<size_t>(w);
  }
}

// ---- the sink that writes tokens to the client -------------------------------------------

class Connection::ResponseSink : public Sink {
 public:
  explicit ResponseSink(Connection& c) : c_(c), w_(c.version_) {}

  void message(const ServerMessage& m) override { w_.message(m, c_.executor_.server_name()); }
  void result_set(const ResultSet& rs) override { w_.result_set(rs); }
  void done(uint8_t token, uint16_t status, uint16_t curcmd, uint64_t count) override {
    w_.done(token, status, curcmd, count);
  }
  void return_status(int32_t value) override { w_.return_status(value); }
  void return_value(uint16_t ordinal, const std::string& name, int32_t value) override {
    w_.return_value(ordinal, name, value);
  }
  void env_change(uint8_t type, const std::string& n, const std::string& o) override {
    w_.env_string(type, n, o);
  }
  void transaction_change(uint8_t type, uint64_t id) override {
    if (c_.version_ < kTds72) return;
    Bytes d(8);
    for (int i = 0; i < 8; ++i) d[i] = static_cast<uint8_t>(id >> (8 * i));
    if (type == kEnvBeginTran)
      w_.env_bytes(type, d, {});
    else
      w_.env_bytes(type, {}, d);
  }
  void flush() override {
    if (cancelled_ || w_.empty()) return;
    c_.send(kTabularResult, w_.take(), false);
  }
  bool wait(std::chrono::milliseconds ms) override {
    if (cancelled_) return false;
    auto until = std::chrono::steady_clock::now() + ms;
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      if (c_.readable(static_cast<int>(std::max<int64_t>(0, left.count())))) {
        Bytes packet;
        if (!c_.read_packet(packet)) {
          cancelled_ = true;
          closed_ = true;
          return false;
        }
        if (c_.assembler_.add_packet(packet.data(), packet.size()) &&
            c_.assembler_.type() == kAttention) {
          c_.assembler_.take();
          cancelled_ = true;
          return false;
        }
        continue;  // anything else is out of turn; ignore it
      }
      if (std::chrono::steady_clock::now() >= until) return true;
    }
  }

  void stall() override {
    for (;;) {
      pollfd p{c_.fd_, POLLIN, 0};
      int r = ::poll(&p, 1, 1000);
      if (r < 0 && errno != EINTR) break;
      if (r <= 0) continue;
      char discard[4096];
      ssize_t n = ::recv(c_.fd_, discard, sizeof discard, 0);
      if (n == 0 || (n < 0 && errno != EINTR)) break;
    }
    cancelled_ = true;
    closed_ = true;
  }

  // Ends the answer: the rest of the tokens with EOM, or the attention's DONE.
  void finish() {
    if (closed_) return;
    if (cancelled_) {
      TokenWriter ack(c_.version_);
      ack.done(kTokDone, kDoneAttn, 0, 0);
      c_.send(kTabularResult, ack.take(), true);
      return;
    }
    c_.send(kTabularResult, w_.take(), true);
  }
  bool cancelled() const { return cancelled_; }
  bool closed() const { return closed_; }

 private:
  Connection& c_;
  TokenWriter w_;
  bool cancelled_ = false;
  bool closed_ = false;
};

// ---- connection ----------------------------------------------------------------------

Connection::Connection(int fd, int id, Executor& executor, RequestLog& log, uint32_t tds_cap)
    : fd_(fd), id_(id), executor_(executor), log_(log), tds_cap_(tds_cap) {}

Connection::~Connection() {
  if (logged_in_) {
    std::lock_guard<std::mutex> lock(executor_.state().mutex);
    executor_.state().close_session(session_.spid);
  }
  ::close(fd_);
}

void Connection::log(nlohmann::json entry) {
  entry["conn"] = id_;
  if (logged_in_) {
    entry["spid"] = session_.spid;
    entry["login"] = session_.login;
  }
  log_.write(std::move(entry));
}

void Connection::set_encryption(ServerEncryption mode, const TlsCredentials* credentials) {
  encryption_ = credentials ? mode : ServerEncryption::NotSupported;
  credentials_ = credentials;
}

bool Connection::read_bytes(uint8_t* p, size_t n) {
  return tls_ ? tls_->read_exact(p, n) : read_exact(fd_, p, n);
}

bool Connection::readable(int ms) {
  if (tls_ && tls_->pending()) return true;
  pollfd p{fd_, POLLIN, 0};
  int r;
  do {
    r = ::poll(&p, 1, ms);
  } while (r < 0 && errno == EINTR);
  return r > 0;
}

bool Connection::read_packet(Bytes& packet) {
  packet.resize(kHeaderSize);
  if (!read_bytes(packet.data(), kHeaderSize)) return false;
  auto h = decode_header(packet.data());
  if (h.length < kHeaderSize) throw ProtocolError("bad packet length");
  packet.resize(h.length);
  if (!read_bytes(packet.data() + kHeaderSize, h.length - kHeaderSize)) return false;
  if (tls_ && !logged_in_) login_encrypted_ = true;
  // With encryption OFF on both sides only the login packet is encrypted.
  if (tls_ && tls_login_only_) tls_.reset();
  return true;
}

bool Connection::read_message(uint8_t& type, Bytes& payload) {
  Bytes packet;
  for (;;) {
    if (!read_packet(packet)) return false;
    if (assembler_.add_packet(packet.data(), packet.size())) {
      type = assembler_.type();
      payload = assembler_.take();
      return true;
    }
  }
}

void Connection::send(uint8_t type, const Bytes& payload, bool eom) {
  Bytes out =
      packetize(type, payload, packet_size_, static_cast<uint16_t>(session_.spid), eom, packet_id_);
  if (tls_) {
    tls_->write_all(out.data(), out.size());
    return;
  }
  size_t off = 0;
  while (off < out.size()) {
    ssize_t w = ::send(fd_, out.data() + off, out.size() - off, MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) throw ProtocolError("client went away");
    off += static_cast<size_t>(w);
  }
}

void Connection::run() {
  log({{"type", "connect"}});
  try {
    for (;;) {
      uint8_t type = 0;
      Bytes payload;
      if (!read_message(type, payload)) break;
      bool go_on = true;
      if (!logged_in_ && executor_.controls().silent_logon) {
        // A server that accepts the connection and then never answers.
        log({{"type", type == kPrelogin ? "prelogin" : "login"}, {"silent", true}});
        continue;
      }
      if (type == kPrelogin && !logged_in_) {
        go_on = handle_prelogin(payload);
      } else if (type == kLogin7 && !logged_in_) {
        go_on = handle_login(payload);
      } else if (logged_in_) {
        go_on = handle_request(type, payload);
      } else {
        log({{"type", "protocol_error"}, {"packet_type", type}});
        go_on = false;
      }
      if (!go_on) break;
    }
  } catch (const std::exception& e) {
    log({{"type", "protocol_error"}, {"error", e.what()}});
  }
  log({{"type", "disconnect"}});
}

bool Connection::handle_prelogin(const Bytes& payload) {
  auto opts = parse_prelogin(payload);
  nlohmann::json entry{{"type", "prelogin"}};
  if (opts.count(kPreEncryption) && !opts[kPreEncryption].empty())
    entry["encryption"] = opts[kPreEncryption][0];
  if (opts.count(kPreVersion) && opts[kPreVersion].size() >= 4) {
    auto& v = opts[kPreVersion];
    entry["client_version"] = std::to_string(v[0]) + "." + std::to_string(v[1]) + "." +
                              std::to_string((v[2] << 8) | v[3]);
  }
  if (opts.count(kPreMars) && !opts[kPreMars].empty()) entry["mars"] = opts[kPreMars][0];
  if (opts.count(kPreInstOpt)) {
    std::string inst(opts[kPreInstOpt].begin(), opts[kPreInstOpt].end());
    inst = inst.c_str();
    entry["instance"] = inst;
  }
  uint8_t client = kEncryptNotSup;  // a client that sends no option cannot encrypt
  if (opts.count(kPreEncryption) && !opts[kPreEncryption].empty()) client = opts[kPreEncryption][0];
  std::optional<uint8_t> answer = encryption_answer(client, encryption_);
  if (!answer) {
    entry["refused"] = "encryption";
    log(entry);
    return false;
  }
  entry["encryption_answer"] = *answer;
  log(entry);
  send(kTabularResult, prelogin_response(opts, *answer), true);
  if (*answer == kEncryptNotSup) return true;
  tls_login_only_ = *answer == kEncryptOff;
  return start_tls();
}

// The TLS handshake, its records inside PRELOGIN packets both ways (FreeTDS
// and SQL Server's clients alike); afterwards the records go bare.
bool Connection::start_tls() {
  auto session = std::make_unique<TlsSession>(*credentials_, fd_);
  auto read = [this](Bytes& payload) {
    Bytes packet;
    if (!read_packet(packet)) return false;
    if (decode_header(packet.data()).type != kPrelogin)
      throw ProtocolError("TLS handshake outside PRELOGIN packets");
    payload.assign(packet.begin() + kHeaderSize, packet.end());
    return true;
  };
  auto write = [this](const Bytes& records) { send(kPrelogin, records, true); };
  session->handshake(read, write);
  log({{"type", "tls"},
       {"protocol", session->protocol()},
       {"cipher", session->cipher()},
       {"login_only", tls_login_only_}});
  tls_ = std::move(session);
  return true;
}

bool Connection::handle_login(const Bytes& payload) {
  Login7 l = parse_login7(payload);
  uint32_t client = l.tds_version;
  version_ = negotiate_version(client, tds_cap_);
  // Tokens before LOGINACK are read in the format of the version the client asked for.
  uint32_t before_ack = negotiate_version(client, kTds74);
  if (l.packet_size >= 512 && l.packet_size <= 32767) packet_size_ = l.packet_size;
  nlohmann::json entry{
      {"type", "login"},
      {"user", l.user},
      {"database", l.database},
      {"app", l.app},
      {"host", l.host},
      {"library", l.library},
      {"language", l.language},
      {"server", l.server},
      {"client_tds_version", tds_version_name(client)},
      {"client_tds_version_raw", client},
      {"tds_version", tds_version_name(version_)},
      {"packet_size", l.packet_size},
      {"option_flags", {l.option_flags1, l.option_flags2, l.type_flags, l.option_flags3}},
      {"feature_ext", l.features},
      {"encrypted", login_encrypted_}};
  LoginOutcome result;
  if (l.option_flags2 & kIntegratedSecurity) {
    if (!windows_logon(l, before_ack, entry, result)) return false;
  } else {
    if (executor_.controls().should_drop_login(l.user)) {
      entry["dropped"] = true;
      log(entry);
      return false;
    }
    result = executor_.login(l.user, l.password, l.database);
  }
  TokenWriter w(before_ack);
  if (!result.ok) {
    for (const auto& m : result.messages) w.message(m, executor_.server_name());
    w.done(kTokDone, kDoneError, 0, 0);
    entry["ok"] = false;
    std::vector<int> errors;
    for (const auto& m : result.messages) errors.push_back(m.number);
    entry["errors"] = errors;
    entry["error_texts"] = {result.messages.back().text};
    log(entry);
    send(kTabularResult, w.take(), true);
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(executor_.state().mutex);
    session_.login = result.login;
    session_.database = result.database;
    session_.spid = executor_.state().open_session(session_.login, session_.database);
  }
  logged_in_ = true;
  w.env_string(kEnvDatabase, result.database, "master");
  w.message(sql_message(5701, 0, 2, "Changed database context to '" + result.database + "'."),
            executor_.server_name());
  if (before_ack >= kTds71) w.env_bytes(kEnvCollation, Bytes(kCollation, kCollation + 5), {});
  w.env_string(kEnvLanguage, "us_english", "");
  w.message(sql_message(5703, 0, 1, "Changed language setting to us_english."),
            executor_.server_name());
  w.set_version(version_);
  w.login_ack(version_, "Microsoft SQL Server",
              executor_.state().settings().profile.loginack_version());
  if (l.has_extension && version_ >= kTds74) {
    w.bytes().push_back(kTokFeatureExtAck);
    w.bytes().push_back(0xFF);
  }
  w.env_string(kEnvPacketSize, std::to_string(packet_size_), std::to_string(packet_size_));
  w.done(kTokDone, kDoneFinal, 0, 0);
  entry["ok"] = true;
  log(entry);
  send(kTabularResult, w.take(), true);
  return true;
}

bool Connection::handle_request(uint8_t type, const Bytes& payload) {
  nlohmann::json entry;
  ResponseSink sink(*this);
  Outcome outcome;
  switch (type) {
    case kSqlBatch: {
      std::string sql = parse_sql_batch(payload, version_);
      entry = {{"type", "batch"}, {"statement", sql}};
      if (executor_.controls().should_drop(sql)) {
        entry["dropped"] = true;
        log(entry);
        return false;
      }
      executor_.batch(session_, sql, sink, outcome);
      break;
    }
    case kRpc: {
      RpcRequest req = parse_rpc(payload, version_);
      std::string stmt = Executor::rpc_statement(req);
      if (iequals(req.proc_name, "sp_execute") && !req.params.empty()) {
        try {
          auto it = session_.prepared.find(
              static_cast<int32_t>(std::stol(req.params[0].value.value_or(""))));
          if (it != session_.prepared.end()) stmt = it->second.first;
        } catch (...) {
        }
      }
      nlohmann::json params = nlohmann::json::array();
      for (const auto& p : req.params) {
        params.push_back({{"name", p.name},
                          {"type", p.type},
                          {"value", p.value ? nlohmann::json(*p.value) : nlohmann::json(nullptr)},
                          {"output", (p.status & 1) != 0}});
      }
      entry = {{"type", "rpc"},          {"proc", req.proc_name},
               {"proc_id", req.proc_id}, {"statement", stmt},
               {"params", params},       {"parameters", Executor::rpc_bound_parameters(req)}};
      if (executor_.controls().should_drop(stmt)) {
        entry["dropped"] = true;
        log(entry);
        return false;
      }
      executor_.rpc(session_, req, sink, outcome);
      break;
    }
    case kAttention: {
      TokenWriter w(version_);
      w.done(kTokDone, kDoneAttn, 0, 0);
      send(kTabularResult, w.take(), true);
      log({{"type", "attention"}});
      return true;
    }
    case kTransactionManager: {
      TransactionRequest t = parse_transaction_request(payload, version_);
      entry = {{"type", "transaction"}, {"request", t.type}};
      if (t.type == 5) {
        if (session_.trancount++ == 0)
          sink.transaction_change(kEnvBeginTran, ++session_.transaction_id);
      } else if (t.type == 7 || t.type == 8) {
        if (session_.trancount == 0) {
          ServerMessage m = sql_message(
              t.type == 7 ? 3902 : 3903, 16, 1,
              t.type == 7
                  ? "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION."
                  : "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.");
          sink.message(m);
          outcome.messages.push_back(m);
        } else {
          session_.trancount = 0;
          sink.transaction_change(t.type == 7 ? kEnvCommitTran : kEnvRollbackTran,
                                  session_.transaction_id);
        }
        if (t.begin_after) {
          session_.trancount = 1;
          sink.transaction_change(kEnvBeginTran, ++session_.transaction_id);
        }
      }
      sink.done(kTokDone, outcome.failed() ? kDoneError : kDoneFinal, 0, 0);
      break;
    }
    default:
      log({{"type", "protocol_error"}, {"packet_type", type}});
      return false;
  }
  // Logged before the answer goes out, so a client that has its answer finds
  // the request in the log.
  if (sink.cancelled()) outcome.cancelled = true;
  entry["outcome"] = outcome_json(outcome);
  log(entry);
  sink.finish();
  return !sink.closed();
}

}  // namespace standin
