// Decoding the server's token stream, the client's side (tests, fuzzing).

#include "tds.h"

namespace standin {

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
          if (type == 0xE7 || type == 0xEF) {
            c.type = type == 0xE7 ? ColType::NVarChar : ColType::NChar;
            c.max_chars = r.u16() / 2;
            if (version >= kTds71) r.skip(5);
          } else if (type == 0xAF || type == 0xA5) {
            c.type = type == 0xAF ? ColType::Char : ColType::VarBinary;
            c.max_chars = r.u16();
            if (type == 0xAF && version >= kTds71) r.skip(5);
          } else if (type == 0x68 || type == 0x6F || type == 0x24) {
            r.u8();
            c.type = type == 0x68 ? ColType::Bit : type == 0x6F ? ColType::DateTime : ColType::Guid;
          } else if (type == 0x26) {
            uint8_t len = r.u8();
            c.type = len == 1   ? ColType::TinyInt
                     : len == 2 ? ColType::SmallInt
                     : len == 8 ? ColType::BigInt
                                : ColType::Int;
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
          if (c.type == ColType::NVarChar || c.type == ColType::NChar) {
            uint16_t len = r.u16();
            if (len == 0xFFFF)
              t.row.emplace_back();
            else
              t.row.emplace_back(utf16_to_utf8(r.ucs2(len / 2)));
          } else if (c.type == ColType::Char || c.type == ColType::VarBinary) {
            uint16_t len = r.u16();
            if (len == 0xFFFF) {
              t.row.emplace_back();
            } else {
              auto b = r.bytes(len);
              t.row.emplace_back(std::string(b.begin(), b.end()));
            }
          } else if (c.type == ColType::Guid) {
            uint8_t len = r.u8();
            if (len == 0) {
              t.row.emplace_back();
            } else {
              auto b = r.bytes(len);
              t.row.emplace_back(std::string(b.begin(), b.end()));
            }
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
