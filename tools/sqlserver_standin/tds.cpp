// TDS basics: UTF-16LE text, the byte reader and writer, packet framing
// and version negotiation.

#include "tds.h"

#include <cstring>

namespace standin {

// ---- text -----------------------------------------------------------------

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

int64_t read_int_le(const Bytes& b) {
  // TDS integers have 1, 2, 4 or 8 bytes; a longer one is a damaged message.
  if (b.size() > 8) throw ProtocolError("integer longer than 8 bytes");
  uint64_t v = 0;
  for (size_t i = 0; i < b.size(); ++i) v |= static_cast<uint64_t>(b[i]) << (8 * i);
  if (!b.empty() && b.size() < 8 && (b.back() & 0x80)) v |= ~0ull << (8 * b.size());
  return static_cast<int64_t>(v);
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

}  // namespace standin
