#pragma once

// NTLM, the challenge/response logon that a client without Kerberos uses for
// a Windows account (FreeTDS for a login name of the form DOMAIN\user): the
// server's side of its three messages and the check of an NTLMv2 response.
// MD4 and HMAC-MD5 come from nettle.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "tds.h"

namespace standin::ntlm {

// NegotiateFlags bits.
constexpr uint32_t kUnicode = 0x00000001;
constexpr uint32_t kOem = 0x00000002;
constexpr uint32_t kRequestTarget = 0x00000004;
constexpr uint32_t kNtlm = 0x00000200;
constexpr uint32_t kAlwaysSign = 0x00008000;
constexpr uint32_t kTargetTypeServer = 0x00020000;
constexpr uint32_t kExtendedSessionSecurity = 0x00080000;
constexpr uint32_t kTargetInfo = 0x00800000;
constexpr uint32_t kVersion = 0x02000000;

using Challenge = std::array<uint8_t, 8>;
using Hash = std::array<uint8_t, 16>;

// NEGOTIATE_MESSAGE: the client's flags and the names it may supply (OEM text).
struct Negotiate {
  uint32_t flags = 0;
  std::string domain, workstation;
};
std::optional<Negotiate> parse_negotiate(const Bytes& message);

// The Windows version a CHALLENGE_MESSAGE announces.
struct WindowsVersion {
  uint8_t major = 10, minor = 0;
  uint16_t build = 20348;
};

// CHALLENGE_MESSAGE of a stand-alone server named `computer`: its name as the
// target, the target information (NetBIOS domain and computer names, both
// `computer`) that an NTLMv2 response covers, and the server challenge.
Bytes challenge_message(const Negotiate& client, const Challenge& challenge,
                        const std::string& computer, const WindowsVersion& version);

// AUTHENTICATE_MESSAGE: the responses and the names, as UTF-8.
struct Authenticate {
  Bytes lm_response, nt_response;
  std::string domain, user, workstation;
  uint32_t flags = 0;
};
std::optional<Authenticate> parse_authenticate(const Bytes& message);

// What kind of answer the client gave: NTLMv2 (an NT response longer than 24
// bytes), NTLMv1 (24 bytes, NTLM or NTLM2 session response), LM alone, or none.
enum class Response { NtlmV2, NtlmV1, LmOnly, Anonymous };
Response response_kind(const Authenticate& a);
const char* response_name(Response r);

// NTOWFv2(Passwd, User, UserDom) = HMAC-MD5(MD4(UTF-16LE(Passwd)),
// UTF-16LE(Uppercase(User) + UserDom)).
Hash ntowfv2(const std::string& password, const std::string& user, const std::string& domain);
// Whether an NTLMv2 response answers `challenge` with `password`: its first
// 16 bytes (NTProofStr) are HMAC-MD5(NTOWFv2, challenge + the rest), and the
// rest is a well-formed NTLMv2_CLIENT_CHALLENGE.
bool verify_ntlmv2(const Authenticate& a, const Challenge& challenge, const std::string& password);

}  // namespace standin::ntlm
