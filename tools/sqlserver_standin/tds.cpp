#include "tds.h"

#include <cstring>

namespace standin {

// ---- text -----------------------------------------------------------------

std::u16string utf8_to_utf16(const std::string& s) {
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    char32_t cp = 0xFFFD;
    size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0) == 0xC0) {
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
    }
    if (len > 1) {
      bool ok = i + len <= s.size();
      char32_t v = c & (0x7F >> len);
      for (size_t k = 1; ok && k < len; ++k) {
        auto cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xC0) != 0x80) ok = false;
        v = (v << 6) | (cc & 0x3F);
      }
      if (ok) {
        cp = v;
      } else {
        // Not UTF-8: take the byte as Latin-1.
        cp = c;
        len = 1;
      }
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string utf16_to_utf8(const std::u16string& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t cp = s[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::u16string utf16_from_le(const uint8_t* p, size_t chars) {
  std::u16string s(chars, u'\0');
  for (size_t i = 0; i < chars; ++i) s[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
  return s;
}

// ---- writer / reader ------------------------------------------------------------

void Writer::u16(uint16_t v) {
  u8(v & 0xFF);
  u8(v >> 8);
}
void Writer::u32(uint32_t v) {
  u16(v & 0xFFFF);
  u16(v >> 16);
}
void Writer::u64(uint64_t v) {
  u32(static_cast<uint32_t>(v));
  u32(static_cast<uint32_t>(v >> 32));
}
void Writer::u16be(uint16_t v) {
  u8(v >> 8);
  u8(v & 0xFF);
}
void Writer::u32be(uint32_t v) {
  u16be(v >> 16);
  u16be(v & 0xFFFF);
}
void Writer::bytes(const void* p, size_t n) {
  auto b = static_cast<const uint8_t*>(p);
  data.insert(data.end(), b, b + n);
}
void Writer::ucs2(const std::u16string& s) {
  for (char16_t c : s) u16(c);
}
void Writer::b_varchar(const std::string& utf8) {
  auto w = utf8_to_utf16(utf8);
  if (w.size() > 255) w.resize(255);
  u8(static_cast<uint8_t>(w.size()));
  ucs2(w);
}
void Writer::us_varchar(const std::string& utf8) {
  auto w = utf8_to_utf16(utf8);
  if (w.size() > 65535) w.resize(65535);
  u16(static_cast<uint16_t>(w.size()));
  ucs2(w);
}
void Writer::patch_u16(size_t at, uint16_t v) {
  data.at(at) = v & 0xFF;
  data.at(at + 1) = v >> 8;
}

void Reader::need(size_t n) const {
  if (n > n_ - pos_) throw ProtocolError("message too short");
}
uint8_t Reader::u8() {
  need(1);
  return p_[pos_++];
}
uint16_t Reader::u16() {
  need(2);
  uint16_t v = p_[pos_] | (p_[pos_ + 1] << 8);
  pos_ += 2;
  return v;
}
uint32_t Reader::u32() {
  uint32_t lo = u16();
  uint32_t hi = u16();
  return lo | (hi << 16);
}
uint64_t Reader::u64() {
  uint64_t lo = u32();
  uint64_t hi = u32();
  return lo | (hi << 32);
}
uint16_t Reader::u16be() {
  need(2);
  uint16_t v = (p_[pos_] << 8) | p_[pos_ + 1];
  pos_ += 2;
  return v;
}
uint32_t Reader::u32be() {
  uint32_t hi = u16be();
  uint32_t lo = u16be();
  return (hi << 16) | lo;
}
Bytes Reader::bytes(size_t n) {
  need(n);
  Bytes b(p_ + pos_, p_ + pos_ + n);
  pos_ += n;
  return b;
}
std::u16string Reader::ucs2(size_t chars) {
  need(chars * 2);
  auto s = utf16_from_le(p_ + pos_, chars);
  pos_ += chars * 2;
  return s;
}
std::string Reader::b_varchar() { return utf16_to_utf8(ucs2(u8())); }
std::string Reader::us_varchar() { return utf16_to_utf8(ucs2(u16())); }
void Reader::skip(size_t n) {
  need(n);
  pos_ += n;
}

// ---- packets ----------------------------------------------------------------------

PacketHeader decode_header(const uint8_t* p) {
  PacketHeader h;
  h.type = p[0];
  h.status = p[1];
  h.length = static_cast<uint16_t>((p[2] << 8) | p[3]);
  h.spid = static_cast<uint16_t>((p[4] << 8) | p[5]);
  h.packet_id = p[6];
  h.window = p[7];
  return h;
}

Bytes packetize(uint8_t type, const Bytes& payload, size_t packet_size, uint16_t spid, bool eom,
                uint8_t& packet_id) {
  if (packet_size < 512) packet_size = 512;
  size_t room = packet_size - kHeaderSize;
  Bytes out;
  size_t pos = 0;
  do {
    size_t n = std::min(room, payload.size() - pos);
    bool last = pos + n == payload.size();
    Writer w;
    w.u8(type);
    w.u8(last && eom ? kEom : 0);
    w.u16be(static_cast<uint16_t>(n + kHeaderSize));
    w.u16be(spid);
    w.u8(++packet_id);
    w.u8(0);
    out.insert(out.end(), w.data.begin(), w.data.end());
    out.insert(out.end(), payload.begin() + pos, payload.begin() + pos + n);
    pos += n;
  } while (pos < payload.size());
  return out;
}

bool MessageAssembler::add_packet(const uint8_t* packet, size_t n) {
  if (n < kHeaderSize) throw ProtocolError("short packet");
  auto h = decode_header(packet);
  if (h.length != n) throw ProtocolError("packet length mismatch");
  if (!started_) {
    type_ = h.type;
    status_ = h.status;
    buffer_.clear();
    started_ = true;
  } else if (h.type != type_ && h.type != kAttention) {
    throw ProtocolError("packet type changed inside a message");
  }
  if (h.type == kAttention) {
    // An attention interrupts whatever was being sent.
    type_ = kAttention;
    buffer_.clear();
    started_ = false;
    return true;
  }
  buffer_.insert(buffer_.end(), packet + kHeaderSize, packet + n);
  if (h.status & kEom) {
    started_ = false;
    if (h.status & kIgnore) {
      buffer_.clear();
      return false;
    }
    return true;
  }
  return false;
}

Bytes MessageAssembler::take() {
  Bytes b;
  b.swap(buffer_);
  return b;
}

// ---- versions ----------------------------------------------------------------------

std::string tds_version_name(uint32_t v) {
  int mm = tds_major_minor(v);
  return std::to_string(mm >> 4) + "." + std::to_string(mm & 0xF);
}

uint32_t negotiate_version(uint32_t client, uint32_t cap) {
  uint32_t v = client;
  if (tds_major_minor(v) < 0x70) throw ProtocolError("TDS version before 7.0");
  if (tds_major_minor(v) > tds_major_minor(cap)) v = cap;
  switch (tds_major_minor(v)) {
    case 0x70:
      return kTds70;
    case 0x71:
      return kTds71;
    case 0x72:
      return kTds72;
    case 0x73:
      return v == 0x730A0003 ? v : kTds73;
    default:
      return kTds74;
  }
}

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

Bytes prelogin_response(const PreloginOptions& request) {
  PreloginOptions out;
  out[kPreVersion] = {15, 0, 0x07, 0xD0, 0, 0};
  out[kPreEncryption] = {kEncryptNotSup};
  out[kPreInstOpt] = {0};
  out[kPreThreadId] = {};
  out[kPreMars] = {0};
  if (request.count(kPreFedAuth)) out[kPreFedAuth] = {0};
  return build_prelogin(out);
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

// ---- requests after logon -------------------------------------------------------------

namespace {
void skip_all_headers(Reader& r, uint32_t version) {
  if (version < kTds72) return;
  uint32_t total = r.u32();
  if (total < 4) throw ProtocolError("bad ALL_HEADERS");
  r.skip(total - 4);
}

void write_all_headers(Writer& w, uint32_t version) {
  if (version < kTds72) return;
  w.u32(22);  // total length
  w.u32(18);  // header length
  w.u16(2);   // transaction descriptor
  w.u64(0);
  w.u32(1);  // outstanding requests
}

std::string bytes_as_text(const Bytes& b) {
  std::string s(b.begin(), b.end());
  // Single-byte text: keep valid UTF-8, otherwise read it as Latin-1.
  auto back = utf16_to_utf8(utf8_to_utf16(s));
  return back;
}

std::string read_plp(Reader& r, bool& is_null) {
  uint64_t total = r.u64();
  is_null = total == ~0ull;
  Bytes data;
  if (is_null) return {};
  for (;;) {
    uint32_t chunk = r.u32();
    if (chunk == 0) break;
    auto b = r.bytes(chunk);
    data.insert(data.end(), b.begin(), b.end());
  }
  return std::string(data.begin(), data.end());
}

int64_t read_int_le(const Bytes& b) {
  // TDS integers have 1, 2, 4 or 8 bytes; a longer one is a damaged message.
  if (b.size() > 8) throw ProtocolError("integer longer than 8 bytes");
  uint64_t v = 0;
  for (size_t i = 0; i < b.size(); ++i) v |= static_cast<uint64_t>(b[i]) << (8 * i);
  if (!b.empty() && b.size() < 8 && (b.back() & 0x80)) v |= ~0ull << (8 * b.size());
  return static_cast<int64_t>(v);
}

std::string hex(const Bytes& b) {
  static const char* d = "0123456789ABCDEF";
  std::string s = "0x";
  for (auto c : b) {
    s.push_back(d[c >> 4]);
    s.push_back(d[c & 15]);
  }
  return s;
}

// Reads TYPE_INFO and the value that follows, as RPC parameters carry them.
std::optional<std::string> read_value(Reader& r, uint32_t version, std::string& type) {
  uint8_t t = r.u8();
  bool collation = version >= kTds71;
  auto fixed = [&](size_t n, const char* name) -> std::optional<std::string> {
    type = name;
    auto b = r.bytes(n);
    return std::to_string(read_int_le(b));
  };
  switch (t) {
    case 0x1F:
      type = "null";
      return std::nullopt;
    case 0x30:
      type = "tinyint";
      return std::to_string(r.u8());
    case 0x32:
      type = "bit";
      return std::to_string(r.u8());
    case 0x34:
      return fixed(2, "smallint");
    case 0x38:
      return fixed(4, "int");
    case 0x7F:
      return fixed(8, "bigint");
    case 0x3A:
    case 0x3B:
    case 0x7A:
      type = "fixed4";
      return hex(r.bytes(4));
    case 0x3C:
    case 0x3D:
    case 0x3E:
      type = "fixed8";
      return hex(r.bytes(8));
    case 0x26:
    case 0x68:
    case 0x6D:
    case 0x6E:
    case 0x6F:
    case 0x24: {
      r.u8();  // max length
      uint8_t len = r.u8();
      if (len == 0) {
        type = t == 0x26 ? "int" : "other";
        return std::nullopt;
      }
      auto b = r.bytes(len);
      if (t == 0x26 || t == 0x68) {
        type = t == 0x26 ? "int" : "bit";
        return std::to_string(read_int_le(b));
      }
      type = "other";
      return hex(b);
    }
    case 0x6A:
    case 0x6C: {
      r.u8();
      r.u8();
      uint8_t scale = r.u8();
      type = "numeric";
      uint8_t len = r.u8();
      if (len == 0) return std::nullopt;
      uint8_t sign = r.u8();
      auto mag = r.bytes(len - 1u);
      // Up to 64 bits is enough here; larger values keep their hex form.
      unsigned __int128 v = 0;
      for (size_t i = mag.size(); i-- > 0;) v = (v << 8) | mag[i];
      std::string digits;
      do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
        v /= 10;
      } while (v);
      while (digits.size() <= scale) digits.insert(digits.begin(), '0');
      if (scale) digits.insert(digits.end() - scale, '.');
      return (sign ? "" : "-") + digits;
    }
    case 0x28: {
      type = "date";
      uint8_t len = r.u8();
      if (!len) return std::nullopt;
      return hex(r.bytes(len));
    }
    case 0x29:
    case 0x2A:
    case 0x2B: {
      r.u8();
      type = "time";
      uint8_t len = r.u8();
      if (!len) return std::nullopt;
      return hex(r.bytes(len));
    }
    case 0xA7:
    case 0xAF:
    case 0xE7:
    case 0xEF:
    case 0xA5:
    case 0xAD: {
      uint16_t maxlen = r.u16();
      bool text = t != 0xA5 && t != 0xAD;
      bool wide = t == 0xE7 || t == 0xEF;
      if (text && collation) r.skip(5);
      type = wide   ? (t == 0xE7 ? "nvarchar" : "nchar")
             : text ? (t == 0xA7 ? "varchar" : "char")
                    : "varbinary";
      std::string raw;
      if (maxlen == 0xFFFF) {
        bool is_null = false;
        raw = read_plp(r, is_null);
        if (is_null) return std::nullopt;
      } else {
        uint16_t len = r.u16();
        if (len == 0xFFFF) return std::nullopt;
        auto b = r.bytes(len);
        raw.assign(b.begin(), b.end());
      }
      if (wide) {
        return utf16_to_utf8(
            utf16_from_le(reinterpret_cast<const uint8_t*>(raw.data()), raw.size() / 2));
      }
      if (text) return bytes_as_text(Bytes(raw.begin(), raw.end()));
      return hex(Bytes(raw.begin(), raw.end()));
    }
    case 0x23:
    case 0x63:
    case 0x22: {
      r.u32();  // max length
      if (t != 0x22 && collation) r.skip(5);
      type = t == 0x63 ? "ntext" : t == 0x23 ? "text" : "image";
      uint32_t len = r.u32();
      if (len == 0xFFFFFFFF) return std::nullopt;
      auto b = r.bytes(len);
      if (t == 0x63) return utf16_to_utf8(utf16_from_le(b.data(), b.size() / 2));
      if (t == 0x23) return bytes_as_text(b);
      return hex(b);
    }
    default:
      throw ProtocolError("unsupported parameter type " + std::to_string(t));
  }
}
}  // namespace

std::string parse_sql_batch(const Bytes& payload, uint32_t version) {
  Reader r(payload);
  skip_all_headers(r, version);
  return utf16_to_utf8(r.ucs2(r.remaining() / 2));
}

Bytes build_sql_batch(const std::string& text, uint32_t version) {
  Writer w;
  write_all_headers(w, version);
  w.ucs2(utf8_to_utf16(text));
  return w.data;
}

static const char* proc_name_for(uint16_t id) {
  switch (id) {
    case 1:
      return "sp_cursor";
    case 2:
      return "sp_cursoropen";
    case 3:
      return "sp_cursorprepare";
    case 4:
      return "sp_cursorexecute";
    case 5:
      return "sp_cursorprepexec";
    case 6:
      return "sp_cursorunprepare";
    case 7:
      return "sp_cursorfetch";
    case 8:
      return "sp_cursoroption";
    case 9:
      return "sp_cursorclose";
    case 10:
      return "sp_executesql";
    case 11:
      return "sp_prepare";
    case 12:
      return "sp_execute";
    case 13:
      return "sp_prepexec";
    case 14:
      return "sp_prepexecrpc";
    case 15:
      return "sp_unprepare";
    default:
      return "";
  }
}

RpcRequest parse_rpc(const Bytes& payload, uint32_t version) {
  Reader r(payload);
  skip_all_headers(r, version);
  RpcRequest req;
  uint16_t len = r.u16();
  if (len == 0xFFFF) {
    req.proc_id = r.u16();
    req.proc_name = proc_name_for(req.proc_id);
    if (req.proc_name.empty()) throw ProtocolError("unknown procedure id");
  } else {
    req.proc_name = utf16_to_utf8(r.ucs2(len));
  }
  req.flags = r.u16();
  while (r.remaining() > 0) {
    uint8_t peek = *r.here();
    if (peek == 0x80 || peek == 0xFF || peek == 0xFE) break;  // next RPC of a batch
    RpcParam p;
    p.name = r.b_varchar();
    p.status = r.u8();
    p.value = read_value(r, version, p.type);
    req.params.push_back(std::move(p));
  }
  return req;
}

Bytes build_rpc(const std::string& proc_name, uint16_t proc_id,
                const std::vector<std::pair<std::string, std::optional<std::string>>>& params,
                uint32_t version) {
  Writer w;
  write_all_headers(w, version);
  if (proc_id) {
    w.u16(0xFFFF);
    w.u16(proc_id);
  } else {
    auto n = utf8_to_utf16(proc_name);
    w.u16(static_cast<uint16_t>(n.size()));
    w.ucs2(n);
  }
  w.u16(0);
  for (const auto& [name, value] : params) {
    w.b_varchar(name);
    w.u8(0);
    w.u8(0xE7);
    Writer v;
    if (value) v.ucs2(utf8_to_utf16(*value));
    bool plp = v.size() > 8000;
    w.u16(plp ? 0xFFFF : 8000);
    if (version >= kTds71) w.bytes(kCollation, 5);
    if (plp) {
      w.u64(v.size());
      w.u32(static_cast<uint32_t>(v.size()));
      w.bytes(v.data);
      w.u32(0);
    } else if (!value) {
      w.u16(0xFFFF);
    } else {
      w.u16(static_cast<uint16_t>(v.size()));
      w.bytes(v.data);
    }
  }
  return w.data;
}

TransactionRequest parse_transaction_request(const Bytes& payload, uint32_t version) {
  Reader r(payload);
  skip_all_headers(r, version);
  TransactionRequest t;
  t.type = r.u16();
  if ((t.type == 7 || t.type == 8) && r.remaining() >= 2) {
    uint8_t name_len = r.u8();
    r.skip(name_len);
    if (r.remaining() >= 1) t.begin_after = (r.u8() & 1) != 0;
  }
  return t;
}

// ---- tokens -----------------------------------------------------------------------------

const uint8_t kCollation[5] = {0x09, 0x04, 0xD0, 0x00, 0x34};

void TokenWriter::env_string(uint8_t type, const std::string& new_value,
                             const std::string& old_value) {
  Writer body;
  body.u8(type);
  body.b_varchar(new_value);
  body.b_varchar(old_value);
  out_.u8(kTokEnvChange);
  out_.u16(static_cast<uint16_t>(body.size()));
  out_.bytes(body.data);
}

void TokenWriter::env_bytes(uint8_t type, const Bytes& new_value, const Bytes& old_value) {
  out_.u8(kTokEnvChange);
  out_.u16(static_cast<uint16_t>(3 + new_value.size() + old_value.size()));
  out_.u8(type);
  out_.u8(static_cast<uint8_t>(new_value.size()));
  out_.bytes(new_value);
  out_.u8(static_cast<uint8_t>(old_value.size()));
  out_.bytes(old_value);
}

void TokenWriter::message(const ServerMessage& m, const std::string& server_name) {
  Writer body;
  body.u32(static_cast<uint32_t>(m.number));
  body.u8(m.state);
  body.u8(m.cls);
  body.us_varchar(m.text);
  body.b_varchar(server_name);
  body.b_varchar(m.proc);
  if (wide())
    body.u32(static_cast<uint32_t>(m.line));
  else
    body.u16(static_cast<uint16_t>(m.line));
  out_.u8(m.is_error() ? kTokError : kTokInfo);
  out_.u16(static_cast<uint16_t>(body.size()));
  out_.bytes(body.data);
}

void TokenWriter::login_ack(uint32_t tds_version, const std::string& prog_name,
                            uint32_t prog_version) {
  Writer body;
  body.u8(1);  // SQL_TSQL
  // SQL Server 7.0 acknowledges with 07 00 00 00, later servers with LOGIN7's value.
  body.u32be(tds_version == kTds70 ? 0x07000000 : tds_version);
  body.b_varchar(prog_name);
  body.u32be(prog_version);
  out_.u8(kTokLoginAck);
  out_.u16(static_cast<uint16_t>(body.size()));
  out_.bytes(body.data);
}

void TokenWriter::done(uint8_t token, uint16_t status, uint16_t curcmd, uint64_t count) {
  out_.u8(token);
  out_.u16(status);
  out_.u16(curcmd);
  if (wide())
    out_.u64(count);
  else
    out_.u32(static_cast<uint32_t>(count));
}

void TokenWriter::return_status(int32_t value) {
  out_.u8(kTokReturnStatus);
  out_.u32(static_cast<uint32_t>(value));
}

void TokenWriter::return_value(uint16_t ordinal, const std::string& name, int32_t value) {
  out_.u8(kTokReturnValue);
  out_.u16(ordinal);
  out_.b_varchar(name);
  out_.u8(0x01);  // output parameter
  if (wide())
    out_.u32(0);
  else
    out_.u16(0);
  out_.u16(0x0001);  // nullable
  out_.u8(0x26);
  out_.u8(4);
  out_.u8(4);
  out_.u32(static_cast<uint32_t>(value));
}

namespace {
uint8_t numeric_bytes(uint8_t precision) {
  if (precision <= 9) return 5;
  if (precision <= 19) return 9;
  if (precision <= 28) return 13;
  return 17;
}
uint8_t int_bytes(ColType t) {
  switch (t) {
    case ColType::SmallInt:
      return 2;
    case ColType::BigInt:
      return 8;
    default:
      return 4;
  }
}
}  // namespace

void TokenWriter::col_metadata(const std::vector<Column>& columns) {
  out_.u8(kTokColMetadata);
  out_.u16(static_cast<uint16_t>(columns.size()));
  for (const auto& c : columns) {
    if (wide())
      out_.u32(0);
    else
      out_.u16(0);
    out_.u16(c.nullable ? 0x0001 : 0x0000);
    switch (c.type) {
      case ColType::NVarChar:
        out_.u8(0xE7);
        out_.u16(static_cast<uint16_t>(c.max_chars * 2));
        if (version_ >= kTds71) out_.bytes(kCollation, 5);
        break;
      case ColType::Int:
      case ColType::BigInt:
      case ColType::SmallInt:
        out_.u8(0x26);
        out_.u8(int_bytes(c.type));
        break;
      case ColType::Numeric:
        out_.u8(0x6C);
        out_.u8(numeric_bytes(c.precision));
        out_.u8(c.precision);
        out_.u8(0);
        break;
    }
    out_.b_varchar(c.name);
  }
}

void TokenWriter::row(const std::vector<Column>& columns, const Row& row) {
  out_.u8(kTokRow);
  for (size_t i = 0; i < columns.size(); ++i) {
    const Column& c = columns[i];
    const Cell& v = i < row.size() ? row[i] : Cell{};
    bool null = std::holds_alternative<std::monostate>(v);
    std::string text;
    int64_t number = 0;
    if (auto s = std::get_if<std::string>(&v)) {
      text = *s;
      if (c.type != ColType::NVarChar) number = std::strtoll(s->c_str(), nullptr, 10);
    } else if (auto n = std::get_if<int64_t>(&v)) {
      number = *n;
      text = std::to_string(*n);
    }
    switch (c.type) {
      case ColType::NVarChar: {
        if (null) {
          out_.u16(0xFFFF);
          break;
        }
        auto w = utf8_to_utf16(text);
        if (w.size() > c.max_chars) w.resize(c.max_chars);
        out_.u16(static_cast<uint16_t>(w.size() * 2));
        out_.ucs2(w);
        break;
      }
      case ColType::Int:
      case ColType::BigInt:
      case ColType::SmallInt: {
        if (null) {
          out_.u8(0);
          break;
        }
        uint8_t n = int_bytes(c.type);
        out_.u8(n);
        for (uint8_t k = 0; k < n; ++k)
          out_.u8(static_cast<uint8_t>(static_cast<uint64_t>(number) >> (8 * k)));
        break;
      }
      case ColType::Numeric: {
        if (null) {
          out_.u8(0);
          break;
        }
        uint8_t n = numeric_bytes(c.precision);
        out_.u8(n);
        out_.u8(number < 0 ? 0 : 1);
        uint64_t mag =
            number < 0 ? 0 - static_cast<uint64_t>(number) : static_cast<uint64_t>(number);
        for (uint8_t k = 0; k + 1 < n; ++k)
          out_.u8(k < 8 ? static_cast<uint8_t>(mag >> (8 * k)) : 0);
        break;
      }
    }
  }
}

void TokenWriter::result_set(const ResultSet& rs) {
  col_metadata(rs.columns);
  for (const auto& r : rs.rows) row(rs.columns, r);
}

Bytes TokenWriter::take() {
  Bytes b;
  b.swap(out_.data);
  return b;
}

// ---- token reader ----------------------------------------------------------------------

std::vector<ParsedToken> parse_tokens(const Bytes& stream, uint32_t version) {
  std::vector<ParsedToken> out;
  std::vector<Column> columns;
  Reader r(stream);
  while (r.remaining() > 0) {
    ParsedToken t;
    t.token = r.u8();
    switch (t.token) {
      case kTokInfo:
      case kTokError: {
        r.u16();
        t.message.number = static_cast<int32_t>(r.u32());
        t.message.state = r.u8();
        t.message.cls = r.u8();
        t.message.text = r.us_varchar();
        r.b_varchar();
        t.message.proc = r.b_varchar();
        t.message.line = version >= kTds72 ? static_cast<int32_t>(r.u32()) : r.u16();
        break;
      }
      case kTokEnvChange: {
        uint16_t len = r.u16();
        size_t end = r.pos() + len;
        t.env_type = r.u8();
        if (t.env_type <= kEnvPacketSize) {
          t.env_new = r.b_varchar();
          t.env_old = r.b_varchar();
        }
        r.skip(end - r.pos());
        break;
      }
      case kTokLoginAck: {
        r.u16();
        r.u8();
        t.tds_version = r.u32be();
        if (t.tds_version == 0x07000000) t.tds_version = kTds70;
        t.prog_name = r.b_varchar();
        r.u32();
        version = t.tds_version;
        break;
      }
      case kTokDone:
      case kTokDoneProc:
      case kTokDoneInProc:
        t.done_status = r.u16();
        t.done_curcmd = r.u16();
        t.done_count = version >= kTds72 ? r.u64() : r.u32();
        break;
      case kTokReturnStatus:
        t.return_status = static_cast<int32_t>(r.u32());
        break;
      case kTokReturnValue: {
        r.u16();
        t.param_name = r.b_varchar();
        r.u8();
        if (version >= kTds72)
          r.u32();
        else
          r.u16();
        r.u16();
        if (r.u8() != 0x26) throw ProtocolError("unexpected return value type");
        r.u8();
        uint8_t len = r.u8();
        t.return_status = static_cast<int32_t>(read_int_le(r.bytes(len)));
        break;
      }
      case kTokColMetadata: {
        uint16_t n = r.u16();
        columns.clear();
        for (uint16_t i = 0; i < n; ++i) {
          Column c;
          if (version >= kTds72)
            r.u32();
          else
            r.u16();
          c.nullable = r.u16() & 1;
          uint8_t type = r.u8();
          if (type == 0xE7) {
            c.type = ColType::NVarChar;
            c.max_chars = r.u16() / 2;
            if (version >= kTds71) r.skip(5);
          } else if (type == 0x26) {
            uint8_t len = r.u8();
            c.type = len == 2 ? ColType::SmallInt : len == 8 ? ColType::BigInt : ColType::Int;
          } else if (type == 0x6C) {
            r.u8();
            c.type = ColType::Numeric;
            c.precision = r.u8();
            r.u8();
          } else {
            throw ProtocolError("unexpected column type");
          }
          c.name = r.b_varchar();
          columns.push_back(c);
        }
        t.columns = columns;
        break;
      }
      case kTokRow: {
        for (const auto& c : columns) {
          if (c.type == ColType::NVarChar) {
            uint16_t len = r.u16();
            if (len == 0xFFFF)
              t.row.emplace_back();
            else
              t.row.emplace_back(utf16_to_utf8(r.ucs2(len / 2)));
          } else {
            uint8_t len = r.u8();
            if (len == 0) {
              t.row.emplace_back();
              continue;
            }
            auto b = r.bytes(len);
            if (c.type == ColType::Numeric) {
              int64_t v =
                  read_int_le(Bytes(b.begin() + 1, b.begin() + std::min<size_t>(9, b.size())));
              if (b.size() > 9 || (b.size() == 9 && (b[8] & 0x80))) {
                uint64_t u = 0;
                for (size_t k = 1; k < 9 && k < b.size(); ++k)
                  u |= static_cast<uint64_t>(b[k]) << (8 * (k - 1));
                v = static_cast<int64_t>(u);
              }
              t.row.emplace_back(b[0] ? v : -v);
            } else {
              t.row.emplace_back(read_int_le(b));
            }
          }
        }
        break;
      }
      default:
        throw ProtocolError("unknown token " + std::to_string(t.token));
    }
    out.push_back(std::move(t));
  }
  return out;
}

}  // namespace standin
