// The logon exchange: PRELOGIN options and LOGIN7 (parsed for the server,
// built for tests).

#include "tds.h"

namespace standin {

// ---- PRELOGIN ----------------------------------------------------------------------

PreloginOptions parse_prelogin(const Bytes& payload) {
  PreloginOptions opts;
  Reader r(payload);
  for (;;) {
    uint8_t tok = r.u8();
    if (tok == kPreTerminator) break;
    uint16_t off = r.u16be();
    uint16_t len = r.u16be();
    if (static_cast<size_t>(off) + len > payload.size()) throw ProtocolError("bad PRELOGIN option");
    opts[tok] = Bytes(payload.begin() + off, payload.begin() + off + len);
  }
  return opts;
}

Bytes build_prelogin(const PreloginOptions& options) {
  Writer head, body;
  size_t base = options.size() * 5 + 1;
  for (const auto& [tok, value] : options) {
    head.u8(tok);
    head.u16be(static_cast<uint16_t>(base + body.size()));
    head.u16be(static_cast<uint16_t>(value.size()));
    body.bytes(value);
  }
  head.u8(kPreTerminator);
  head.bytes(body.data);
  return head.data;
}

Bytes prelogin_response(const PreloginOptions& request, uint8_t encryption) {
  PreloginOptions out;
  out[kPreVersion] = {15, 0, 0x07, 0xD0, 0, 0};
  out[kPreEncryption] = {encryption};
  out[kPreInstOpt] = {0};
  out[kPreThreadId] = {};
  out[kPreMars] = {0};
  if (request.count(kPreFedAuth)) out[kPreFedAuth] = {0};
  return build_prelogin(out);
}

// The server's side of the ENCRYPTION option. A server that has a
// certificate answers OFF to a client's OFF, and then only the login packet
// travels encrypted; a server that forces encryption answers REQ to it. When
// a client that cannot encrypt meets a forced server, the server closes the
// connection.
std::optional<uint8_t> encryption_answer(uint8_t client, ServerEncryption server) {
  bool client_off = client == kEncryptOff, client_none = client == kEncryptNotSup;
  switch (server) {
    case ServerEncryption::NotSupported:
      return kEncryptNotSup;  // a client that insists closes the connection itself
    case ServerEncryption::Available:
      if (client_none) return kEncryptNotSup;
      return client_off ? kEncryptOff : kEncryptOn;
    case ServerEncryption::Required:
      if (client_none) return std::nullopt;
      return client_off ? kEncryptReq : kEncryptOn;
  }
  return std::nullopt;
}

// ---- LOGIN7 --------------------------------------------------------------------------

std::string decode_password(const uint8_t* p, size_t bytes) {
  Bytes plain(bytes);
  for (size_t i = 0; i < bytes; ++i) {
    uint8_t b = p[i] ^ 0xA5;
    plain[i] = static_cast<uint8_t>((b >> 4) | (b << 4));
  }
  return utf16_to_utf8(utf16_from_le(plain.data(), bytes / 2));
}

Bytes encode_password(const std::string& utf8) {
  Writer w;
  w.ucs2(utf8_to_utf16(utf8));
  for (auto& b : w.data) b = static_cast<uint8_t>(((b >> 4) | (b << 4)) ^ 0xA5);
  return w.data;
}

namespace {
constexpr size_t kLoginFixed = 36;

std::string login_string(const Bytes& payload, size_t at) {
  Reader r(payload);
  r.skip(at);
  uint16_t off = r.u16();
  uint16_t chars = r.u16();
  if (static_cast<size_t>(off) + chars * 2u > payload.size())
    throw ProtocolError("bad LOGIN7 field");
  return utf16_to_utf8(utf16_from_le(payload.data() + off, chars));
}
}  // namespace

Login7 parse_login7(const Bytes& payload) {
  Reader r(payload);
  Login7 l;
  uint32_t length = r.u32();
  if (length > payload.size() || payload.size() < kLoginFixed + 58)
    throw ProtocolError("bad LOGIN7");
  l.tds_version = r.u32();
  l.packet_size = r.u32();
  r.u32();  // client program version
  l.client_pid = r.u32();
  r.u32();  // connection id
  l.option_flags1 = r.u8();
  l.option_flags2 = r.u8();
  l.type_flags = r.u8();
  l.option_flags3 = r.u8();
  l.has_extension = (l.option_flags3 & 0x10) != 0;
  l.host = login_string(payload, kLoginFixed + 0);
  l.user = login_string(payload, kLoginFixed + 4);
  {
    Reader pr(payload);
    pr.skip(kLoginFixed + 8);
    uint16_t off = pr.u16();
    uint16_t chars = pr.u16();
    if (static_cast<size_t>(off) + chars * 2u > payload.size()) throw ProtocolError("bad password");
    l.password = decode_password(payload.data() + off, chars * 2u);
  }
  l.app = login_string(payload, kLoginFixed + 12);
  l.server = login_string(payload, kLoginFixed + 16);
  l.library = login_string(payload, kLoginFixed + 24);
  l.language = login_string(payload, kLoginFixed + 28);
  l.database = login_string(payload, kLoginFixed + 32);
  {
    // ibSSPI and cbSSPI after the client id; a length of 0xFFFF defers to
    // cbSSPILong (TDS 7.2 and later).
    Reader sr(payload);
    sr.skip(kLoginFixed + 42);
    uint16_t off = sr.u16();
    size_t bytes = sr.u16();
    if (bytes == 0xFFFF) {
      Reader lr(payload);
      lr.skip(kLoginFixed + 54);
      bytes = lr.u32();
    }
    if (static_cast<size_t>(off) + bytes > payload.size()) throw ProtocolError("bad SSPI field");
    l.sspi.assign(payload.begin() + off, payload.begin() + off + static_cast<ptrdiff_t>(bytes));
  }
  if (l.has_extension) {
    // The extension field holds the offset of the FeatureExt list.
    Reader er(payload);
    er.skip(kLoginFixed + 20);
    uint16_t off = er.u16();
    if (er.u16() >= 4 && static_cast<size_t>(off) + 4 <= payload.size()) {
      Reader fr(payload);
      fr.skip(off);
      uint32_t at = fr.u32();
      if (at < payload.size()) {
        Reader list(payload);
        list.skip(at);
        while (list.remaining() > 0) {
          uint8_t id = list.u8();
          if (id == 0xFF) break;
          l.features.push_back(id);
          list.skip(list.u32());
        }
      }
    }
  }
  return l;
}

Bytes build_login7(const Login7& login) {
  const std::string* fields[] = {&login.host,    &login.user,     nullptr,
                                 &login.app,     &login.server,   nullptr,
                                 &login.library, &login.language, &login.database};
  Writer fixed, vars;
  size_t var_base = kLoginFixed + 9 * 4 + 6 + 3 * 4 + 4;  // offsets, client id, SSPI..., cbSSPILong
  Writer offsets;
  for (int i = 0; i < 9; ++i) {
    Bytes data;
    size_t chars = 0;
    if (i == 2) {
      data = encode_password(login.password);
      chars = data.size() / 2;
    } else if (fields[i]) {
      Writer w;
      auto u = utf8_to_utf16(*fields[i]);
      w.ucs2(u);
      data = w.data;
      chars = u.size();
    }
    offsets.u16(static_cast<uint16_t>(var_base + vars.size()));
    offsets.u16(static_cast<uint16_t>(chars));
    vars.bytes(data);
  }
  offsets.bytes("\x00\x11\x22\x33\x44\x55", 6);  // client id
  for (int i = 0; i < 3; ++i) {                  // SSPI, attach file, change password
    offsets.u16(static_cast<uint16_t>(var_base + vars.size()));
    offsets.u16(0);
  }
  offsets.u32(0);  // cbSSPILong
  size_t total = var_base + vars.size();
  fixed.u32(static_cast<uint32_t>(total));
  fixed.u32(login.tds_version);
  fixed.u32(login.packet_size);
  fixed.u32(0x07000000);
  fixed.u32(login.client_pid);
  fixed.u32(0);
  fixed.u8(login.option_flags1);
  fixed.u8(login.option_flags2);
  fixed.u8(login.type_flags);
  fixed.u8(login.option_flags3);
  fixed.u32(0);
  fixed.u32(0x0409);
  fixed.bytes(offsets.data);
  fixed.bytes(vars.data);
  return fixed.data;
}

}  // namespace standin
