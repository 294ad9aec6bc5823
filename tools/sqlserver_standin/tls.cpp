#include "tls.h"

#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <stdexcept>

namespace standin {

namespace {

void check(int rc, const char* what) {
  if (rc < 0) throw std::runtime_error(std::string(what) + ": " + gnutls_strerror(rc));
}

gnutls_session_t as_session(void* p) { return static_cast<gnutls_session_t>(p); }

}  // namespace

// ---- credentials -----------------------------------------------------------------------

TlsCredentials::TlsCredentials(const std::string& common_name) {
  gnutls_x509_privkey_t key = nullptr;
  gnutls_x509_crt_t crt = nullptr;
  gnutls_certificate_credentials_t cred = nullptr;
  try {
    check(gnutls_x509_privkey_init(&key), "key");
    // SQL Server's own fallback certificate carries an RSA key of 2048 bits.
    check(gnutls_x509_privkey_generate(key, GNUTLS_PK_RSA, 2048, 0), "key generation");
    check(gnutls_x509_crt_init(&crt), "certificate");
    check(gnutls_x509_crt_set_version(crt, 3), "certificate version");
    unsigned char serial[8];
    check(gnutls_rnd(GNUTLS_RND_NONCE, serial, sizeof serial), "serial");
    serial[0] &= 0x7F;
    check(gnutls_x509_crt_set_serial(crt, serial, sizeof serial), "serial");
    std::time_t now = std::time(nullptr);
    check(gnutls_x509_crt_set_activation_time(crt, now - 24 * 3600), "activation");
    check(gnutls_x509_crt_set_expiration_time(crt, now + 365L * 24 * 3600), "expiration");
    check(gnutls_x509_crt_set_dn_by_oid(crt, GNUTLS_OID_X520_COMMON_NAME, 0, common_name.data(),
                                        static_cast<unsigned>(common_name.size())),
          "subject");
    check(gnutls_x509_crt_set_issuer_dn_by_oid(crt, GNUTLS_OID_X520_COMMON_NAME, 0,
                                               common_name.data(),
                                               static_cast<unsigned>(common_name.size())),
          "issuer");
    check(gnutls_x509_crt_set_key(crt, key), "certificate key");
    check(gnutls_x509_crt_set_key_usage(crt,
                                        GNUTLS_KEY_DIGITAL_SIGNATURE | GNUTLS_KEY_KEY_ENCIPHERMENT),
          "key usage");
    check(gnutls_x509_crt_set_key_purpose_oid(crt, GNUTLS_KP_TLS_WWW_SERVER, 0), "purpose");
    check(gnutls_x509_crt_sign2(crt, crt, key, GNUTLS_DIG_SHA256, 0), "signing");
    check(gnutls_certificate_allocate_credentials(&cred), "credentials");
    check(gnutls_certificate_set_x509_key(cred, &crt, 1, key), "credentials");
  } catch (...) {
    if (cred) gnutls_certificate_free_credentials(cred);
    if (crt) gnutls_x509_crt_deinit(crt);
    if (key) gnutls_x509_privkey_deinit(key);
    throw;
  }
  // The credentials hold their own copies.
  gnutls_x509_crt_deinit(crt);
  gnutls_x509_privkey_deinit(key);
  cred_ = cred;
}

TlsCredentials::~TlsCredentials() {
  if (cred_)
    gnutls_certificate_free_credentials(static_cast<gnutls_certificate_credentials_t>(cred_));
}

// ---- session ---------------------------------------------------------------------------

// The handshake's transport: records come out of PRELOGIN packets and go
// into them.
struct TlsSession::Wrapped {
  const ReadWrapped* read;
  const WriteWrapped* write;
  Bytes in;
  size_t in_pos = 0;
  Bytes out;
  void flush() {
    if (out.empty()) return;
    (*write)(out);
    out.clear();
  }
};

TlsSession::TlsSession(const TlsCredentials& credentials, int fd) : fd_(fd) {
  gnutls_session_t s = nullptr;
  // No session tickets: a ticket sent after the handshake would reach a
  // client that already reads bare records.
  check(gnutls_init(&s, GNUTLS_SERVER | GNUTLS_NO_TICKETS), "session");
  session_ = s;
  // TDS 7.x negotiates TLS up to 1.2; TLS 1.3 comes with TDS 8.0 only.
  check(gnutls_priority_set_direct(s, "NORMAL:-VERS-ALL:+VERS-TLS1.2", nullptr), "priority");
  check(gnutls_credentials_set(s, GNUTLS_CRD_CERTIFICATE, credentials.native()), "credentials");
  gnutls_transport_set_ptr(s, this);
  gnutls_transport_set_pull_function(
      s, [](gnutls_transport_ptr_t p, void* d, size_t n) { return TlsSession::pull(p, d, n); });
  gnutls_transport_set_push_function(s, [](gnutls_transport_ptr_t p, const void* d, size_t n) {
    return TlsSession::push(p, d, n);
  });
}

TlsSession::~TlsSession() { gnutls_deinit(as_session(session_)); }

ssize_t TlsSession::pull(void* self, void* data, size_t n) {
  auto* t = static_cast<TlsSession*>(self);
  if (Wrapped* w = t->wrapped_) {
    // Whatever the server wrote so far is its whole flight: send it before
    // waiting for the client's answer.
    w->flush();
    while (w->in_pos >= w->in.size()) {
      w->in_pos = 0;
      if (!(*w->read)(w->in)) return 0;
    }
    size_t take = std::min(n, w->in.size() - w->in_pos);
    std::copy_n(w->in.data() + w->in_pos, take, static_cast<uint8_t*>(data));
    w->in_pos += take;
    return static_cast<ssize_t>(take);
  }
  for (;;) {
    ssize_t r = ::recv(t->fd_, data, n, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) gnutls_transport_set_errno(as_session(t->session_), errno);
    return r;
  }
}

ssize_t TlsSession::push(void* self, const void* data, size_t n) {
  auto* t = static_cast<TlsSession*>(self);
  if (Wrapped* w = t->wrapped_) {
    const auto* p = static_cast<const uint8_t*>(data);
    w->out.insert(w->out.end(), p, p + n);
    return static_cast<ssize_t>(n);
  }
  for (;;) {
    ssize_t r = ::send(t->fd_, data, n, MSG_NOSIGNAL);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) gnutls_transport_set_errno(as_session(t->session_), errno);
    return r;
  }
}

void TlsSession::handshake(const ReadWrapped& read, const WriteWrapped& write) {
  Wrapped w{&read, &write, {}, 0, {}};
  wrapped_ = &w;
  int rc;
  try {
    do {
      rc = gnutls_handshake(as_session(session_));
    } while (rc < 0 && !gnutls_error_is_fatal(rc));
    if (rc == 0) w.flush();  // the server's last flight
  } catch (...) {
    wrapped_ = nullptr;
    throw;
  }
  wrapped_ = nullptr;
  if (rc < 0) throw ProtocolError(std::string("TLS handshake: ") + gnutls_strerror(rc));
}

bool TlsSession::read_exact(uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t r = gnutls_record_recv(as_session(session_), p, n);
    if (r == GNUTLS_E_AGAIN || r == GNUTLS_E_INTERRUPTED) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

void TlsSession::write_all(const uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t r = gnutls_record_send(as_session(session_), p, n);
    if (r == GNUTLS_E_AGAIN || r == GNUTLS_E_INTERRUPTED) continue;
    if (r <= 0) throw ProtocolError("client went away");
    p += r;
    n -= static_cast<size_t>(r);
  }
}

bool TlsSession::pending() const { return gnutls_record_check_pending(as_session(session_)) > 0; }

std::string TlsSession::protocol() const {
  const char* name = gnutls_protocol_get_name(gnutls_protocol_get_version(as_session(session_)));
  return name ? name : "";
}

std::string TlsSession::cipher() const {
  gnutls_session_t s = as_session(session_);
  const char* name =
      gnutls_cipher_suite_get_name(gnutls_kx_get(s), gnutls_cipher_get(s), gnutls_mac_get(s));
  return name ? name : "";
}

}  // namespace standin
