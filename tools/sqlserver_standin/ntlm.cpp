// NTLM messages ([MS-NLMP] 2.2.1) and the NTLMv2 check ([MS-NLMP] 3.3.2).

#include "ntlm.h"

#include <nettle/hmac.h>
#include <nettle/md4.h>
#include <nettle/memops.h>

#include <cstring>

#include "server_state.h"

namespace standin::ntlm {

namespace {

constexpr char kSignature[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', '\0'};
constexpr uint16_t kAvEol = 0, kAvNbComputerName = 1, kAvNbDomainName = 2;

bool has_signature(const Bytes& m, uint32_t type) {
  if (m.size() < 12 || std::memcmp(m.data(), kSignature, 8) != 0) return false;
  Reader r(m);
  r.skip(8);
  return r.u32() == type;
}

// A field's bytes from its (length, maximum length, offset) triple at `at`;
// nullopt when it reaches outside the message.
std::optional<Bytes> field(const Bytes& m, size_t at) {
  if (at + 8 > m.size()) return std::nullopt;
  Reader r(m);
  r.skip(at);
  uint16_t length = r.u16();
  r.u16();
  uint32_t offset = r.u32();
  if (length == 0) return Bytes{};
  if (offset > m.size() || length > m.size() - offset) return std::nullopt;
  return Bytes(m.begin() + offset, m.begin() + offset + length);
}

std::string text(const Bytes& b, bool unicode) {
  if (unicode) return utf16_to_utf8(utf16_from_le(b.data(), b.size() / 2));
  return std::string(b.begin(), b.end());
}

Bytes utf16le(const std::string& utf8) {
  Writer w;
  w.ucs2(utf8_to_utf16(utf8));
  return w.data;
}

void av_pair(Writer& w, uint16_t id, const Bytes& value) {
  w.u16(id);
  w.u16(static_cast<uint16_t>(value.size()));
  w.bytes(value);
}

Hash hmac_md5(const uint8_t* key, size_t key_size, const Bytes& message) {
  hmac_md5_ctx ctx;
  hmac_md5_set_key(&ctx, key_size, key);
  hmac_md5_update(&ctx, message.size(), message.data());
  Hash out{};
  hmac_md5_digest(&ctx, out.size(), out.data());
  return out;
}

}  // namespace

std::optional<Negotiate> parse_negotiate(const Bytes& message) {
  if (!has_signature(message, 1) || message.size() < 16) return std::nullopt;
  Reader r(message);
  r.skip(12);
  Negotiate n;
  n.flags = r.u32();
  // The domain and workstation fields follow when the message is long enough.
  if (message.size() >= 32) {
    auto domain = field(message, 16), workstation = field(message, 24);
    if (!domain || !workstation) return std::nullopt;
    n.domain = text(*domain, false);
    n.workstation = text(*workstation, false);
  }
  return n;
}

Bytes challenge_message(const Negotiate& client, const Challenge& challenge,
                        const std::string& computer, const WindowsVersion& version) {
  uint32_t flags = kRequestTarget | kNtlm | kTargetTypeServer | kTargetInfo | kVersion;
  flags |= (client.flags & kUnicode) ? kUnicode : kOem;
  flags |= client.flags & (kAlwaysSign | kExtendedSessionSecurity);
  bool unicode = (flags & kUnicode) != 0;
  Bytes target = unicode ? utf16le(computer) : Bytes(computer.begin(), computer.end());
  Writer info;
  av_pair(info, kAvNbDomainName, utf16le(computer));
  av_pair(info, kAvNbComputerName, utf16le(computer));
  av_pair(info, kAvEol, {});

  constexpr uint32_t kPayload = 56;  // the fixed part with the Version field
  Writer w;
  w.bytes(kSignature, sizeof kSignature);
  w.u32(2);
  w.u16(static_cast<uint16_t>(target.size()));
  w.u16(static_cast<uint16_t>(target.size()));
  w.u32(kPayload);
  w.u32(flags);
  w.bytes(challenge.data(), challenge.size());
  w.u64(0);  // Reserved
  w.u16(static_cast<uint16_t>(info.size()));
  w.u16(static_cast<uint16_t>(info.size()));
  w.u32(kPayload + static_cast<uint32_t>(target.size()));
  w.u8(version.major);
  w.u8(version.minor);
  w.u16(version.build);
  w.bytes("\0\0\0", 3);
  w.u8(0x0F);  // NTLMSSP_REVISION_W2K3
  w.bytes(target);
  w.bytes(info.data);
  return w.data;
}

std::optional<Authenticate> parse_authenticate(const Bytes& message) {
  if (!has_signature(message, 3) || message.size() < 64) return std::nullopt;
  Reader r(message);
  r.skip(60);
  Authenticate a;
  a.flags = r.u32();
  auto lm = field(message, 12), nt = field(message, 20), domain = field(message, 28),
       user = field(message, 36), workstation = field(message, 44);
  if (!lm || !nt || !domain || !user || !workstation) return std::nullopt;
  bool unicode = (a.flags & kUnicode) != 0;
  a.lm_response = *lm;
  a.nt_response = *nt;
  a.domain = text(*domain, unicode);
  a.user = text(*user, unicode);
  a.workstation = text(*workstation, unicode);
  return a;
}

Response response_kind(const Authenticate& a) {
  if (a.nt_response.size() > 24) return Response::NtlmV2;
  if (a.nt_response.size() == 24) return Response::NtlmV1;
  if (!a.lm_response.empty() && a.lm_response != Bytes(a.lm_response.size(), 0))
    return Response::LmOnly;
  return Response::Anonymous;
}

const char* response_name(Response r) {
  switch (r) {
    case Response::NtlmV2:
      return "NTLMv2";
    case Response::NtlmV1:
      return "NTLMv1";
    case Response::LmOnly:
      return "LM";
    case Response::Anonymous:
      return "anonymous";
  }
  return "?";
}

Hash ntowfv2(const std::string& password, const std::string& user, const std::string& domain) {
  Bytes secret = utf16le(password);
  md4_ctx md4;
  md4_init(&md4);
  md4_update(&md4, secret.size(), secret.data());
  Hash nt_hash{};
  md4_digest(&md4, nt_hash.size(), nt_hash.data());
  return hmac_md5(nt_hash.data(), nt_hash.size(), utf16le(sql_upper(user) + domain));
}

bool verify_ntlmv2(const Authenticate& a, const Challenge& challenge, const std::string& password) {
  // NTProofStr, then NTLMv2_CLIENT_CHALLENGE: RespType 1, HiRespType 1, six
  // reserved bytes, the time stamp, the client challenge, four reserved bytes
  // and the target information.
  constexpr size_t kProof = 16, kClientHeader = 28;
  const Bytes& nt = a.nt_response;
  if (nt.size() < kProof + kClientHeader || nt[kProof] != 1 || nt[kProof + 1] != 1) return false;
  Hash key = ntowfv2(password, a.user, a.domain);
  Bytes signed_part(challenge.begin(), challenge.end());
  signed_part.insert(signed_part.end(), nt.begin() + kProof, nt.end());
  Hash proof = hmac_md5(key.data(), key.size(), signed_part);
  return memeql_sec(proof.data(), nt.data(), kProof) != 0;
}

}  // namespace standin::ntlm
