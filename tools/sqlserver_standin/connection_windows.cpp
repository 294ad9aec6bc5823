// A Windows logon on the wire: LOGIN7 carries the client's NTLM NEGOTIATE in
// its SSPI field (fIntSecurity set), the server answers with an SSPI token
// holding its CHALLENGE, the client sends its AUTHENTICATE in an SSPI message
// (packet type 0x11), and the logon ends as any other: LOGINACK or errors.

#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>

#include "connection.h"

namespace standin {

bool Connection::windows_logon(const Login7& l, uint32_t before_ack, nlohmann::json& entry,
                               LoginOutcome& result) {
  entry["integrated"] = true;
  ntlm::Challenge challenge{};
  if (gnutls_rnd(GNUTLS_RND_NONCE, challenge.data(), challenge.size()) != 0)
    throw ProtocolError("no random server challenge");
  // A first message that is no NTLM NEGOTIATE gets no challenge; the logon
  // then fails as one Windows could not verify.
  ntlm::Authenticate answer;
  if (auto negotiate = ntlm::parse_negotiate(l.sspi)) {
    // The Windows the server runs on, as its @@VERSION names it.
    ntlm::WindowsVersion os;
    if (executor_.state().settings().profile.major < 9) os = {5, 2, 3790};
    TokenWriter w(before_ack);
    w.sspi(ntlm::challenge_message(*negotiate, challenge, executor_.server_name(), os));
    send(kTabularResult, w.take(), true);
    uint8_t type = 0;
    Bytes payload;
    if (!read_message(type, payload)) {
      entry["ok"] = false;
      entry["left"] = "sspi";
      log(entry);
      return false;
    }
    if (type != kSspi) throw ProtocolError("no SSPI message after the challenge");
    if (auto parsed = ntlm::parse_authenticate(payload)) answer = *parsed;
  }
  std::string user = answer.user.empty() ? "" : answer.domain + "\\" + answer.user;
  entry["user"] = user;
  entry["ntlm"] = ntlm::response_name(ntlm::response_kind(answer));
  if (executor_.controls().should_drop_login(user)) {
    entry["dropped"] = true;
    log(entry);
    return false;
  }
  result = executor_.windows_login(answer, challenge, l.database);
  return true;
}

}  // namespace standin
