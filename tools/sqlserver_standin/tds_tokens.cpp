// The server's token stream: ENVCHANGE, INFO/ERROR, LOGINACK, DONE, return
// values, column metadata and rows.

#include "tds.h"

#include <cctype>
#include <cstdio>

namespace standin {

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

void TokenWriter::sspi(const Bytes& buffer) {
  out_.u8(kTokSspi);
  out_.u16(static_cast<uint16_t>(buffer.size()));
  out_.bytes(buffer);
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
    case ColType::TinyInt:
    case ColType::Bit:
      return 1;
    case ColType::SmallInt:
      return 2;
    case ColType::BigInt:
      return 8;
    default:
      return 4;
  }
}
// Days since 1900-01-01 and three-hundredths of a second since midnight.
std::pair<int32_t, uint32_t> datetime_parts(const std::string& text) {
  int y = 1900, mo = 1, d = 1, h = 0, mi = 0, sec = 0;
  std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &sec);
  // Days from the civil date (proleptic Gregorian), counted from 1900-01-01.
  auto days_from_civil = [](int yy, int mm, int dd) {
    yy -= mm <= 2;
    const int era = (yy >= 0 ? yy : yy - 399) / 400;
    const int yoe = yy - era * 400;
    const int doy = (153 * (mm + (mm > 2 ? -3 : 9)) + 2) / 5 + dd - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe;
  };
  int32_t days = days_from_civil(y, mo, d) - days_from_civil(1900, 1, 1);
  uint32_t ticks = static_cast<uint32_t>((h * 3600 + mi * 60 + sec) * 300);
  return {days, ticks};
}

Bytes guid_bytes(const std::string& text) {
  std::string hex;
  for (char c : text)
    if (std::isxdigit(static_cast<unsigned char>(c))) hex.push_back(c);
  hex.resize(32, '0');
  Bytes b(16);
  for (size_t k = 0; k < 16; ++k)
    b[k] = static_cast<uint8_t>(std::stoi(hex.substr(2 * k, 2), nullptr, 16));
  // The first three groups go little-endian.
  std::swap(b[0], b[3]);
  std::swap(b[1], b[2]);
  std::swap(b[4], b[5]);
  std::swap(b[6], b[7]);
  return b;
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
      case ColType::NChar:
        out_.u8(c.type == ColType::NChar ? 0xEF : 0xE7);
        out_.u16(static_cast<uint16_t>(c.max_chars * 2));
        if (version_ >= kTds71) out_.bytes(kCollation, 5);
        break;
      case ColType::Int:
      case ColType::BigInt:
      case ColType::SmallInt:
      case ColType::TinyInt:
        out_.u8(0x26);
        out_.u8(int_bytes(c.type));
        break;
      case ColType::Bit:
        out_.u8(0x68);
        out_.u8(1);
        break;
      case ColType::DateTime:
        out_.u8(0x6F);
        out_.u8(8);
        break;
      case ColType::Guid:
        out_.u8(0x24);
        out_.u8(16);
        break;
      case ColType::Char:
        out_.u8(0xAF);
        out_.u16(c.max_chars);
        if (version_ >= kTds71) out_.bytes(kCollation, 5);
        break;
      case ColType::VarBinary:
        out_.u8(0xA5);
        out_.u16(c.max_chars);
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
      if (c.type != ColType::NVarChar && c.type != ColType::NChar && c.type != ColType::Char &&
          c.type != ColType::VarBinary && c.type != ColType::DateTime && c.type != ColType::Guid)
        number = std::strtoll(s->c_str(), nullptr, 10);
    } else if (auto n = std::get_if<int64_t>(&v)) {
      number = *n;
      text = std::to_string(*n);
    }
    switch (c.type) {
      case ColType::NVarChar:
      case ColType::NChar: {
        if (null) {
          out_.u16(0xFFFF);
          break;
        }
        auto w = utf8_to_utf16(text);
        if (w.size() > c.max_chars || c.type == ColType::NChar) w.resize(c.max_chars, u' ');
        out_.u16(static_cast<uint16_t>(w.size() * 2));
        out_.ucs2(w);
        break;
      }
      case ColType::Char:
      case ColType::VarBinary: {
        if (null) {
          out_.u16(0xFFFF);
          break;
        }
        if (text.size() > c.max_chars) text.resize(c.max_chars);
        if (c.type == ColType::Char) text.resize(c.max_chars, ' ');
        out_.u16(static_cast<uint16_t>(text.size()));
        out_.bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
        break;
      }
      case ColType::DateTime: {
        if (null) {
          out_.u8(0);
          break;
        }
        auto [days, ticks] = datetime_parts(text);
        out_.u8(8);
        out_.u32(static_cast<uint32_t>(days));
        out_.u32(ticks);
        break;
      }
      case ColType::Guid: {
        if (null) {
          out_.u8(0);
          break;
        }
        out_.u8(16);
        out_.bytes(guid_bytes(text));
        break;
      }
      case ColType::Int:
      case ColType::BigInt:
      case ColType::SmallInt:
      case ColType::TinyInt:
      case ColType::Bit: {
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

}  // namespace standin
