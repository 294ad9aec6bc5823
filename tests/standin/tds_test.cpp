#include <gtest/gtest.h>

#include "tds.h"

namespace standin {
namespace {

TEST(TdsText, Utf16RoundTripKeepsChineseAndSurrogatePairs) {
  const std::string s = "数据库 zq 😀 é";
  auto w = utf8_to_utf16(s);
  EXPECT_EQ(w.size(), 11u);  // the emoji takes two code units
  EXPECT_EQ(utf16_to_utf8(w), s);
  // A lone surrogate cannot be UTF-8; it becomes U+FFFD.
  EXPECT_EQ(utf16_to_utf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(TdsPackets, LongMessagesSplitAndReassemble) {
  Bytes payload(3000);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7);
  uint8_t id = 0;
  Bytes wire = packetize(kSqlBatch, payload, 512, 51, true, id);
  MessageAssembler a;
  size_t pos = 0, packets = 0;
  bool complete = false;
  while (pos < wire.size()) {
    auto h = decode_header(wire.data() + pos);
    ASSERT_LE(h.length, 512);
    EXPECT_EQ(h.spid, 51);
    EXPECT_EQ(h.packet_id, static_cast<uint8_t>(packets + 1));
    ASSERT_FALSE(complete) << "EOM before the last packet";
    complete = a.add_packet(wire.data() + pos, h.length);
    pos += h.length;
    ++packets;
  }
  EXPECT_TRUE(complete);
  EXPECT_EQ(packets, 6u);  // 3000 bytes in 504-byte pieces
  EXPECT_EQ(a.type(), kSqlBatch);
  EXPECT_EQ(a.take(), payload);

  // Without EOM the message stays open; an attention ends it at once.
  Bytes part = packetize(kSqlBatch, Bytes(10, 1), 512, 0, false, id);
  EXPECT_FALSE(a.add_packet(part.data(), part.size()));
  Bytes attn = packetize(kAttention, {}, 512, 0, true, id);
  EXPECT_TRUE(a.add_packet(attn.data(), attn.size()));
  EXPECT_EQ(a.type(), kAttention);

  // A message the client marks "ignore" is dropped.
  Bytes ignored = packetize(kSqlBatch, Bytes(4, 2), 512, 0, true, id);
  ignored[1] |= kIgnore;
  EXPECT_FALSE(a.add_packet(ignored.data(), ignored.size()));

  Bytes bad = packetize(kSqlBatch, Bytes(4, 2), 512, 0, true, id);
  bad[3] += 1;  // length no longer matches
  EXPECT_THROW(a.add_packet(bad.data(), bad.size()), ProtocolError);
}

TEST(TdsLogin, PasswordObfuscationAndLoginFields) {
  // 'a' is 61 00: nibbles swapped 16 00, then XOR A5: B3 A5.
  EXPECT_EQ(encode_password("a"), (Bytes{0xB3, 0xA5}));
  EXPECT_EQ(decode_password(encode_password("a").data(), 2), "a");

  Login7 l;
  l.tds_version = kTds74;
  l.packet_size = 4096;
  l.user = "zq";
  l.password = "p@ss:密码";
  l.app = "db_setup";
  l.host = "WORKSTATION";
  l.database = "master";
  l.language = "us_english";
  Login7 back = parse_login7(build_login7(l));
  EXPECT_EQ(std::tie(back.tds_version, back.packet_size, back.user, back.password, back.app,
                     back.host, back.language, back.database),
            std::tie(l.tds_version, l.packet_size, l.user, l.password, l.app, l.host, l.language,
                     l.database));

  Bytes truncated = build_login7(l);
  truncated.resize(40);
  EXPECT_THROW(parse_login7(truncated), ProtocolError);
}

TEST(TdsPrelogin, AnswerCarriesTheEncryptionAnswerAndNoMars) {
  PreloginOptions request;
  request[kPreVersion] = {9, 0, 0, 0, 0, 0};
  request[kPreEncryption] = {kEncryptOn};
  request[kPreMars] = {1};
  auto reply =
      parse_prelogin(prelogin_response(parse_prelogin(build_prelogin(request)), kEncryptOn));
  EXPECT_EQ(reply[kPreEncryption], Bytes{kEncryptOn});
  EXPECT_EQ(reply[kPreMars], Bytes{0});
  EXPECT_EQ(reply[kPreVersion].size(), 6u);
}

TEST(TdsVersions, NegotiationCapsAtTheServersVersion) {
  EXPECT_EQ(negotiate_version(kTds74, kTds74), kTds74);
  EXPECT_EQ(negotiate_version(kTds74, kTds71), kTds71);
  EXPECT_EQ(negotiate_version(kTds72, kTds74), kTds72);
  EXPECT_EQ(negotiate_version(0x75000000, kTds74), kTds74);
  EXPECT_THROW(negotiate_version(0x42000000, kTds74), ProtocolError);
}

TEST(TdsLogin, LoginAckCarriesTheVersionAsEachServerGenerationDid) {
  for (uint32_t v : {kTds70, kTds71, kTds74}) {
    TokenWriter w(v);
    w.login_ack(v, "Microsoft SQL Server", 0x0F0007D0);
    Bytes b = w.take();
    // SQL Server 7.0 answered 07 00 00 00; later servers echo LOGIN7's value.
    uint32_t wire = static_cast<uint32_t>(b[4] << 24 | b[5] << 16 | b[6] << 8 | b[7]);
    EXPECT_EQ(wire, v == kTds70 ? 0x07000000u : v);
    auto t = parse_tokens(b, kTds74);
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].tds_version, v);
    EXPECT_EQ(t[0].prog_name, "Microsoft SQL Server");
  }
}

TEST(TdsRequests, BatchAndRpcRoundTripInOldAndNewFormats) {
  for (uint32_t v : {kTds71, kTds74}) {
    EXPECT_EQ(parse_sql_batch(build_sql_batch("Drop DATABASE 数据", v), v), "Drop DATABASE 数据");
    const std::vector<std::pair<std::string, std::optional<std::string>>> params = {
        {"", "SELECT name FROM sysdatabases WHERE LOWER ( name ) = @P1"},
        {"", "@P1 nvarchar(4)"},
        {"@P1", "tavox"},
        {"@P2", std::nullopt},
        {"@P3", std::string(5000, 'x')}};  // longer than 4000 characters: sent as PLP
    RpcRequest r = parse_rpc(build_rpc("", 10, params, v), v);
    EXPECT_EQ(std::pair(r.proc_name, r.proc_id),
              std::pair(std::string("sp_executesql"), uint16_t{10}));
    std::vector<std::pair<std::string, std::optional<std::string>>> back;
    for (const RpcParam& p : r.params) back.emplace_back(p.name, p.value);
    EXPECT_EQ(back, params);
    EXPECT_EQ(r.params.at(2).type, "nvarchar");
  }
  RpcRequest named = parse_rpc(build_rpc("sp_droplogin", 0, {{"@loginame", "zq"}}, kTds74), kTds74);
  EXPECT_EQ(std::pair(named.proc_name, named.proc_id),
            std::pair(std::string("sp_droplogin"), uint16_t{0}));
  EXPECT_THROW(parse_rpc(build_rpc("", 99, {}, kTds74), kTds74), ProtocolError);
}

TEST(TdsTokens, TokenStreamDecodesInBothWidths) {
  for (uint32_t v : {kTds71, kTds74}) {
    TokenWriter w(v);
    ServerMessage m{3701, 1, 11, "Cannot drop the database 'x'.", "", 70000};
    w.message(m, "STANDIN");
    w.message({3211, 1, 10, "10 percent processed.", "", 1}, "STANDIN");
    ResultSet rs;
    rs.columns = {{.name = "LogicalName"},
                  {.name = "Size", .type = ColType::Numeric},
                  {.name = "FileId", .type = ColType::BigInt}};
    rs.rows = {{std::string("tavox_data"), int64_t{35184372080640}, int64_t{1}},
               {Cell{}, Cell{}, int64_t{-2}}};
    w.result_set(rs);
    w.done(kTokDoneInProc, kDoneMore | kDoneCount, 0xC1, 5000000000ull);
    w.return_status(1);
    w.return_value(0, "@handle", 7);
    w.done(kTokDoneProc, kDoneError, 0, 0);

    auto t = parse_tokens(w.take(), v);
    std::vector<uint8_t> tokens;
    for (const auto& token : t) tokens.push_back(token.token);
    ASSERT_EQ(tokens, (std::vector<uint8_t>{kTokError, kTokInfo, kTokColMetadata, kTokRow, kTokRow,
                                            kTokDoneInProc, kTokReturnStatus, kTokReturnValue,
                                            kTokDoneProc}));
    EXPECT_EQ(std::tie(t[0].message.number, t[0].message.cls, t[0].message.text),
              std::tie(m.number, m.cls, m.text));
    // Before TDS 7.2 the line number has 16 bits.
    EXPECT_EQ(t[0].message.line, v >= kTds72 ? 70000 : 70000 & 0xFFFF);
    ASSERT_EQ(t[2].columns.size(), 3u);
    EXPECT_EQ(t[2].columns[1].type, ColType::Numeric);
    EXPECT_EQ((std::vector<Row>{t[3].row, t[4].row}), rs.rows);
    EXPECT_EQ(t[5].done_status, kDoneMore | kDoneCount);
    // The row count has 32 bits before TDS 7.2.
    EXPECT_EQ(t[5].done_count, v >= kTds72 ? 5000000000ull : 5000000000ull & 0xFFFFFFFF);
    EXPECT_EQ(std::tie(t[6].return_status, t[7].param_name, t[7].return_status),
              std::make_tuple(1, std::string("@handle"), 7));
  }
}

// Integers come with 1, 2, 4 or 8 bytes, negative ones sign-extended; more
// bytes than that make a damaged message, in a request's parameter as in a
// result row.
TEST(TdsRequests, IntegersLongerThanEightBytesAreRefused) {
  auto rpc_with_int = [](const Bytes& value) {
    Writer w;
    w.u32(22);  // ALL_HEADERS with the transaction descriptor
    w.u32(18);
    w.u16(2);
    w.u64(0);
    w.u32(1);
    w.u16(0xFFFF);  // sp_executesql by number
    w.u16(10);
    w.u16(0);
    w.b_varchar("@P1");
    w.u8(0);
    w.u8(0x26);  // INTN
    w.u8(8);
    w.u8(static_cast<uint8_t>(value.size()));
    w.bytes(value);
    return w.data;
  };
  EXPECT_EQ(parse_rpc(rpc_with_int({0xFE}), kTds74).params[0].value, "-2");
  EXPECT_EQ(parse_rpc(rpc_with_int({0x2A, 0, 0, 0}), kTds74).params[0].value, "42");
  EXPECT_EQ(parse_rpc(rpc_with_int(Bytes(8, 0xFF)), kTds74).params[0].value, "-1");
  EXPECT_THROW(parse_rpc(rpc_with_int(Bytes(9, 0x01)), kTds74), ProtocolError);
  EXPECT_THROW(parse_rpc(rpc_with_int(Bytes(255, 0x80)), kTds74), ProtocolError);

  TokenWriter w(kTds74);
  w.col_metadata({{.name = "FileId", .type = ColType::Int}});
  Bytes stream = w.take();
  stream.push_back(kTokRow);
  stream.push_back(9);
  stream.insert(stream.end(), 9, 0x01);
  EXPECT_THROW(parse_tokens(stream, kTds74), ProtocolError);
}

}  // namespace
}  // namespace standin
