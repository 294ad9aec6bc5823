// Requests after logon: SQL batches, RPCs with their typed parameters, and
// transaction manager requests.

#include "tds.h"

namespace standin {

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
  // Single-byte text: kept when it is UTF-8, otherwise read as Latin-1.
  if (dbsetup::is_valid_utf8(s)) return s;
  return utf16_to_utf8(std::u16string(b.begin(), b.end()));
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

}  // namespace standin
