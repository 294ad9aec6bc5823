#pragma once

// TLS for TDS 7.x connections (GnuTLS). The handshake travels inside TDS
// PRELOGIN packets; afterwards the TLS records go over the socket bare.

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>

#include "tds.h"

namespace standin {

// The server's credentials: a self-signed certificate and its key, made in
// memory when the server starts, as SQL Server does when no certificate is
// configured.
class TlsCredentials {
 public:
  // Throws std::runtime_error when GnuTLS fails.
  explicit TlsCredentials(const std::string& common_name = "SSL_Self_Signed_Fallback");
  ~TlsCredentials();
  TlsCredentials(const TlsCredentials&) = delete;
  TlsCredentials& operator=(const TlsCredentials&) = delete;
  void* native() const { return cred_; }  // gnutls_certificate_credentials_t

 private:
  void* cred_ = nullptr;
};

// One server-side TLS session over a connected socket.
class TlsSession {
 public:
  // Reads the payload of the next PRELOGIN packet (false at end of stream);
  // writes one PRELOGIN message carrying the given bytes.
  using ReadWrapped = std::function<bool(Bytes&)>;
  using WriteWrapped = std::function<void(const Bytes&)>;

  TlsSession(const TlsCredentials& credentials, int fd);
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  // The handshake, its records wrapped in PRELOGIN packets. Throws
  // ProtocolError when it fails.
  void handshake(const ReadWrapped& read, const WriteWrapped& write);
  // After the handshake: bare records on the socket.
  bool read_exact(uint8_t* p, size_t n);  // false at end of stream
  void write_all(const uint8_t* p, size_t n);
  // Decrypted bytes waiting inside the session (poll() cannot see them).
  bool pending() const;

  std::string protocol() const;  // "TLS1.2"
  std::string cipher() const;    // "ECDHE_RSA_AES_256_GCM_SHA384"

 private:
  struct Wrapped;
  static ssize_t pull(void* self, void* data, size_t n);
  static ssize_t push(void* self, const void* data, size_t n);
  void* session_ = nullptr;
  int fd_;
  Wrapped* wrapped_ = nullptr;  // set during the handshake only
};

}  // namespace standin
